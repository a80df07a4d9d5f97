#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

// A report file loaded for reading on screen. The file is read once, up to its first NUL byte,
// and converted from the report's code page to Windows-1250 as printing does; the rows are its
// lines without the header line, each page break preceded by a separator row "^PG". The bytes stay
// as they are in the file: nothing per row is kept but where it lies, and a row's text is made only
// when it is asked for, so a report of hundreds of megabytes opens at once and takes little more
// memory than its size.
class ReportText
{
public:
    // The longest part of a row that is shown or saved.
    static constexpr qsizetype kMaxRowBytes = 2047;

    // Reads the file written in `codePage` (the header's); false with a message when it cannot
    // be read.
    bool load(const QString& path, int codePage, QString& error);

    qsizetype rowCount() const { return qsizetype(m_rows.size()); }
    // The row as stored: the line's bytes in Windows-1250, or "^PG" for a separator row.
    QByteArrayView rowBytes(qsizetype row) const;
    // A separator row, or a page break line with nothing after its mark: shown as a grey bar.
    bool isGreyRow(qsizetype row) const { return rowBytes(row) == "^PG"; }
    // The most bytes any row has (at most kMaxRowBytes): how wide the text can get.
    qsizetype widestRow() const { return m_widest; }

    // The row as shown: its first kMaxRowBytes bytes without control sequences ("^" and the two
    // characters after it), box-drawing bytes as lines when `frames` is on and as "|", "-" and
    // "+" otherwise.
    QString rowText(qsizetype row, bool frames) const;
    // The bytes of a row as a line of a text file: as rowText with frames off, in the report's
    // own bytes.
    static QByteArray plainBytes(QByteArrayView row);

    // The first row from `from` on in direction `step` (+1 down, -1 up) whose text as shown
    // (style sequences left out, frames never letters) holds `text`, letter case ignored; -1 when
    // there is none or `text` is empty.
    qsizetype find(const QString& text, qsizetype from, int step) const;

    // Writes the report as a text file: every row but the grey ones as plainBytes and CR LF. The
    // file is replaced only once it is whole. False with a message on failure.
    bool saveAsText(const QString& path, QString& error) const;

private:
    QByteArray m_data;
    // Where each row starts in m_data, or 0xFFFFFFFF for a separator row. A row runs to the next
    // line end.
    std::vector<quint32> m_rows;
    qsizetype m_widest = 0;
};
