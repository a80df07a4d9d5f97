#pragma once

#include <QEvent>

// The application's own messages, posted to every top-level window.
namespace events {

// The run state asked for by the print worker: run (true) or pause (false). The main window acts
// on it.
constexpr QEvent::Type PrintState = QEvent::Type(QEvent::User + 198);
// A report was moved to the trash.
constexpr QEvent::Type LstDeleted = QEvent::Type(QEvent::User + 197);

class PrintStateEvent : public QEvent
{
public:
    explicit PrintStateEvent(bool run) : QEvent(PrintState), Run(run) {}
    const bool Run;
};

// Origins of a deletion.
enum DeleteOrigin
{
    FromArchiveTree = 0,
    FromViewer = 1,
    FromErrorDialog = 2
};

class LstDeletedEvent : public QEvent
{
public:
    LstDeletedEvent(const void* report, int origin)
        : QEvent(LstDeleted), Report(report), Origin(origin)
    {}
    const void* const Report; // identity only, never dereferenced
    const int Origin;
};

} // namespace events
