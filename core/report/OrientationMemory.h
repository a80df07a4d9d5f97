#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

struct ReportHeader;

// One remembered orientation: a report title (Windows-1250 bytes) and its orientation code
// (0 by width, 1 portrait, 2 landscape; anything else is unusable).
struct Orientation
{
    QByteArray title;
    quint8 orientation = 0;
    bool operator==(const Orientation&) const = default;
};

// "výchozí", "na výšku", "na šířku", or "??" for any other code.
QString orientationName(int code);

// The orientations remembered per report title, sorted by title. Titles compare with the user's
// locale, ignoring letter case, so two titles that differ only in case share one entry.
// Kept in the registry section "Settings\LstList": one text value per title, the code in
// decimal.
class OrientationMemory
{
public:
    OrientationMemory() = default;

    // Replaces the entries by those of the registry; a failure keeps what was read so far.
    void load();
    // Replaces the registry section by the entries in one save; a failure changes nothing and is
    // not reported.
    void save() const;

    // The remembered code for the report's title. An unknown title is added with code 0 and the
    // answer is 255, so that the caller asks the user and then calls Store.
    quint8 lookup(const ReportHeader& header);
    // Sets the code of the report's title, when the title is in the list.
    void store(const ReportHeader& header, quint8 code);
    // Takes the report's title out of the list again: a question that got no answer (the job was
    // stopped meanwhile) is asked again next time.
    void forget(const ReportHeader& header);

    const QList<Orientation>& entries() const { return m_entries; }
    qsizetype count() const { return m_entries.size(); }
    // Changes or removes one entry (the orientation editor).
    void setOrientation(qsizetype index, quint8 code);
    void remove(qsizetype index);

    // Compares two titles as the list does: <0, 0 or >0.
    static int compareTitles(const QByteArray& a, const QByteArray& b);

private:
    void sort();
    qsizetype indexOf(const QByteArray& title) const;

    QList<Orientation> m_entries;
};

// The application's one orientation memory, created on first use.
OrientationMemory& orientationMemory();
