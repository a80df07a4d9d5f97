#pragma once

#include "core/platform/FileInfo.h"
#include "core/platform/SharedRead.h"

#include <QByteArray>
#include <QList>
#include <QString>

// A report file read for printing. Opening refuses a file that another process still has open
// for writing, reads the first lines (the header and what the period needs) and counts all
// lines; the body is then streamed line by line, so printing takes the same memory for a report
// of one page and of ten thousand. A NUL byte ends the report. A line longer than
// kMaxLineLength bytes is cut there.
//
// The file stays open during the job; should another program change it meanwhile, reading
// fails instead of printing a mixture of two reports.
class ReportFile
{
public:
    static constexpr qsizetype kMaxLineLength = 64 * 1024;
    static constexpr int kHeadLines = 5;

    // False with a message in the user's language when the file cannot be opened or read.
    bool open(const QString& path, QString& error);

    // The first lines of the file (at most kHeadLines), line 0 being the header.
    const QList<QByteArray>& headLines() const { return m_head; }
    // All lines of the file, the header included.
    qsizetype lineCount() const { return m_lineCount; }
    // Which file was opened (valid after a successful open).
    platform::FileIdentity identity() const { return platform::identityOf(m_file.status()); }

    // The next body line (line 1, 2, ...); false at the end or, with `error` set, on a failure.
    bool nextBodyLine(QByteArray& line, QString& error);

private:
    bool fill(QString& error);

    platform::SharedReadFile m_file;
    QList<QByteArray> m_head;
    qsizetype m_lineCount = 0;
    qsizetype m_linesRead = 0; // lines handed out by nextBodyLine, the header included
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    bool m_eof = false;
};

// The reason a file operation failed, as the user reads it.
QString fileErrorText(int error);
QString fileInUseText();
