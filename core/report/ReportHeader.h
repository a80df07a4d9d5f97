#pragma once

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QTime>

// When a report was created, as its header says. The date part may be missing (a header with an
// impossible date) while the time part is kept; a report without a date sorts before every report
// with one.
struct ReportDateTime
{
    QDate date; // null when the header's date is not a calendar date
    QTime time = QTime(0, 0);

    bool hasDate() const { return date.isValid(); }
    // "yyyy-MM-ddTHH:mm:ss.zzz"; empty without a date part.
    QString toIsoString() const;
    std::strong_ordering operator<=>(const ReportDateTime& other) const;
    bool operator==(const ReportDateTime& other) const = default;
};

// The parsed header of one report file (its first line, and the fourth line for the payroll
// period). Texts are Windows-1250 bytes, as everything in a report.
struct ReportHeader
{
    // The mark every report header starts with.
    static constexpr char kHeaderMark[] = "{9A936A9B-A688-4E5B-9238-07D5AC9DCD82}";
    // The newest file format this program reads.
    static constexpr int kMaxVersion = 1;

    explicit ReportHeader(QString fileName = {});

    QString fileName;
    qint32 fileSize = 0;  // -1 when the file was not found while parsing
    quint32 fileTime = 0; // last write, DOS date-time in local time; 0 until found
    qint32 version = 0;
    QByteArray dateText;
    QByteArray timeText;
    ReportDateTime created;
    quint16 year = 0;
    quint16 month = 0;
    QByteArray title; // converted to Windows-1250, blanks stripped
    qint32 width = 0;
    qint32 pages = 0;
    qint32 linesPerPage = 0;
    qint32 codePage = 0;
    qint32 scale = 0;
    bool frames = false;
    QByteArray period; // "MM/YYYY" or empty

    // Fills the fields from the lines of the report file (at least the first; the fourth for the
    // period) and checks them. fileSize and fileTime come from the file itself when it exists.
    // On failure `message` holds the reason as it is shown to the user.
    bool parseHeader(const QList<QByteArray>& lines, QString& message);
    // Reads the first five lines of fileName itself, refusing a file that another process still
    // has open for writing, and parses them. A file that cannot be opened or read gives the
    // general format message.
    bool loadHeader(QString& message);
    bool loadHeader()
    {
        QString ignored;
        return loadHeader(ignored);
    }
    // The range checks, in a fixed order; the first that fails sets `message`.
    bool validate(QString& message) const;

    // How many bytes of one line loadHeader keeps; the rest of a longer line is skipped.
    static constexpr qsizetype kMaxHeaderLineLength = 64 * 1024;

private:
    bool parseFields(qsizetype lineCount, QByteArrayView first, QByteArrayView fourth,
                     QString& message);
};

// Cuts report text into lines ended by CR LF, LF or CR, up to a number of lines, keeping at most
// maxLength bytes of each line (the rest of a longer line is skipped), so that any input takes
// bounded memory. Feed the text in pieces of any size, then call finish().
class ReportLineSplitter
{
public:
    ReportLineSplitter(int maxLines, qsizetype maxLength);
    void feed(QByteArrayView data);
    void finish();
    bool full() const { return m_lines.size() >= m_maxLines; }
    const QList<QByteArray>& lines() const { return m_lines; }

private:
    int m_maxLines;
    qsizetype m_maxLength;
    QList<QByteArray> m_lines;
    QByteArray m_line;
    bool m_inLine = false;  // something of the current line has been read
    bool m_afterCr = false; // the last line ended with CR: a following LF belongs to it
};

// The fields of a header line, split by ";" and by unquoted blanks.
QList<QByteArray> splitHeaderFields(QByteArrayView line);

// A 32-bit decimal number as report headers hold it: leading spaces and a sign, then digits; the
// value of the digits read before the first character that does not fit, 0 when there are none.
qint32 readHeaderInteger(QByteArrayView field);
