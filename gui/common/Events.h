#pragma once

#include <QEvent>
#include <QString>

// The application's own messages, posted to every top-level window.
namespace events {

// The run state asked for by the print worker: run (true) or pause (false). The main window acts
// on it.
constexpr QEvent::Type kPrintState = QEvent::Type(QEvent::User + 198);
// A report was moved to the trash.
constexpr QEvent::Type kReportDeleted = QEvent::Type(QEvent::User + 197);

class PrintStateEvent : public QEvent
{
public:
    explicit PrintStateEvent(bool run) : QEvent(kPrintState), run(run) {}
    const bool run;
};

// Origins of a deletion.
enum DeleteOrigin
{
    FromArchiveTree = 0,
    FromViewer = 1,
    FromErrorDialog = 2
};

class ReportDeletedEvent : public QEvent
{
public:
    ReportDeletedEvent(const void* report, int origin, const QString& fileName = {})
        : QEvent(kReportDeleted), report(report), origin(origin), fileName(fileName)
    {}
    const void* const report; // identity only, never dereferenced
    const int origin;
    const QString fileName; // the file that went to the trash
};

} // namespace events
