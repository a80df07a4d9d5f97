#include "RecordingPrinter.h"

#include "core/jobs/JobState.h"
#include "core/report/CodePages.h"

bool RecordingPrinter::selectPrinter(const QString& name)
{
    if (names.isEmpty())
        return false;
    m_name = names.first();
    for (const QString& n : names)
        if (n.compare(name, Qt::CaseInsensitive) == 0)
            m_name = n;
    log << QStringLiteral("select ") + m_name;
    return true;
}

bool RecordingPrinter::beginDoc(QString&)
{
    m_printing = true;
    m_aborted = false;
    m_page = 1;
    log << QStringLiteral("begin");
    return true;
}

bool RecordingPrinter::newPage(QString&)
{
    ++m_page;
    log << QStringLiteral("page");
    return true;
}

bool RecordingPrinter::endDoc(QString&)
{
    m_printing = false;
    log << QStringLiteral("end");
    if (onEnd)
        onEnd();
    return true;
}

void RecordingPrinter::abortDoc()
{
    m_printing = false;
    m_aborted = true;
    log << QStringLiteral("abort");
    if (onAbort)
        onAbort();
}

void RecordingPrinter::setFont(const QString&, int sizePoints, bool, bool, bool)
{
    m_size = sizePoints;
    m_style.clear();
}

void RecordingPrinter::setFontStyle(bool bold, bool italic, bool underline)
{
    const QString style = bold        ? QStringLiteral("B")
                          : italic    ? QStringLiteral("I")
                          : underline ? QStringLiteral("U")
                                      : QString();
    if (style != m_style)
        log << QStringLiteral("style ") + (style.isEmpty() ? QStringLiteral("-") : style);
    m_style = style;
}

QSize RecordingPrinter::textExtent(QByteArrayView text)
{
    return QSize(int(text.size()) * m_size * 5, m_size * 10);
}

void RecordingPrinter::textOut(int x, int y, QByteArrayView text)
{
    log << QStringLiteral("text %1 %2 '%3'").arg(x).arg(y).arg(cp1250ToUnicode(text));
    if (onText)
        onText();
}

void RecordingPrinter::setPenWidth(int width)
{
    log << QStringLiteral("pen %1").arg(width);
}

void RecordingPrinter::polyline(std::initializer_list<QPoint> points)
{
    QStringList xy;
    for (const QPoint& p : points)
        xy << QStringLiteral("%1,%2").arg(p.x()).arg(p.y());
    log << QStringLiteral("line ") + xy.join(u' ');
}

QStringList RecordingPrinter::entries(const QString& prefix) const
{
    QStringList out;
    for (const QString& e : log)
        if (e.startsWith(prefix))
            out << e;
    return out;
}

int RecordingHost::askOrientation(const ReportHeader&)
{
    ++orientationQuestions;
    return orientationAnswer;
}

void RecordingHost::showPrintError(PrintJob& job)
{
    if (state)
        errors << state->takeWorkerError();
    job.setChoice(errorAnswer);
}

void RecordingHost::refreshStatus()
{
    if (onRefresh)
        onRefresh();
}
