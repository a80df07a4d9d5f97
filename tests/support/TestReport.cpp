#include "support/TestReport.h"

#include "core/report/ReportHeader.h"

#include <QList>

QByteArray reportHeaderLine(std::initializer_list<ReportHeaderField> fields)
{
    QList<QByteArray> texts;
    for (const ReportHeaderField& field : fields)
        texts << field.text;
    if (texts.size() > 3)
        texts[3] = '"' + texts[3] + '"';
    return reportHeaderLine(texts.join(';'));
}

QByteArray reportHeaderLine(QByteArrayView fields)
{
    return QByteArray(ReportHeader::kHeaderMark) + ';' + fields.toByteArray() + "\r\n";
}

QByteArray reportText(std::initializer_list<ReportHeaderField> fields, const QByteArray& body)
{
    return reportHeaderLine(fields) + body;
}
