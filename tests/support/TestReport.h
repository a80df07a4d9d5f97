#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringBuilder>

#include <initializer_list>

// One field of a report header line: a number, or text as it stands.
struct ReportHeaderField
{
    ReportHeaderField(int number) : text(QByteArray::number(number)) {}
    ReportHeaderField(const char* text) : text(text) {}
    ReportHeaderField(const QByteArray& text) : text(text) {}
    template <typename A, typename B>
    ReportHeaderField(const QStringBuilder<A, B>& text) : text(text)
    {}
    QByteArray text;
};

// The header line of a report: the mark, then the fields after it (version, date, time, title,
// width, pages, lines per page, an unused field, code page, scale, frames and, optionally, the
// period), separated by ";" and ended by CR LF. The title is written in quotes.
QByteArray reportHeaderLine(std::initializer_list<ReportHeaderField> fields);
// The same from the fields after the mark written out as they stand, e.g.
// "1;20240131;0815;T;60;1;121;0;852;100".
QByteArray reportHeaderLine(QByteArrayView fields);
// A whole report: the header line, then `body` with its own line ends.
QByteArray reportText(std::initializer_list<ReportHeaderField> fields, const QByteArray& body);
