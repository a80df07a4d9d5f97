#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class TLstObj;

// One remembered orientation: a report title (Windows-1250 bytes) and its orientation code
// (0 by width, 1 portrait, 2 landscape; anything else is unusable).
struct TOrient
{
    QByteArray Title;
    quint8 Orientation = 0;
    bool operator==(const TOrient&) const = default;
};

// "výchozí", "na výšku", "na šířku", or "??" for any other code.
QString TOrientName(int code);

// The orientations remembered per report title, sorted by title. Titles compare with the user's
// locale, ignoring letter case, so two titles that differ only in case share one entry.
// Kept in the registry section "Settings\LstList": one text value per title, the code in decimal.
class TLstList
{
public:
    TLstList() = default;

    // Replaces the entries by those of the registry; a failure keeps what was read so far.
    void Load();
    // Replaces the registry section by the entries in one save; a failure changes nothing and is
    // not reported.
    void Save() const;

    // The remembered code for the report's title. An unknown title is added with code 0 and the
    // answer is 255, so that the caller asks the user and then calls Store.
    quint8 Lookup(const TLstObj& header);
    // Sets the code of the report's title, when the title is in the list.
    void Store(const TLstObj& header, quint8 code);
    // Takes the report's title out of the list again: a question that got no answer (the job was
    // stopped meanwhile) is asked again next time.
    void Forget(const TLstObj& header);

    const QList<TOrient>& Entries() const { return m_entries; }
    qsizetype Count() const { return m_entries.size(); }
    // Changes or removes one entry (the orientation editor).
    void SetOrientation(qsizetype index, quint8 code);
    void Remove(qsizetype index);

    // Compares two titles as the list does: <0, 0 or >0.
    static int CompareTitles(const QByteArray& a, const QByteArray& b);

private:
    void sort();
    qsizetype indexOf(const QByteArray& title) const;

    QList<TOrient> m_entries;
};

// The application's one orientation memory, created on first use.
TLstList& LstList();
