#pragma once

#include <QString>

#include <functional>

struct ReportHeader;
struct SubmittedJob;
class PrintJob;

// What a print job asks of the program around it. The tray program runs these on its
// user-interface thread and shows its dialogs; the command line answers them itself.
class JobHost
{
public:
    virtual ~JobHost() = default;

    // Runs `work` on the user-interface thread and waits for it: the dialogs a job shows go
    // through here. Everything else a job does (layout, drawing, ending the document) runs on
    // the job's own thread.
    virtual void runOnUiThread(const std::function<void()>& work) { work(); }
    // The orientation for a report whose title has none remembered yet: 0 by width, 1 portrait,
    // 2 landscape.
    virtual int askOrientation(const ReportHeader& header) = 0;
    // Shows the job's error text and records the user's choice in the job's ErrorChoice.
    virtual void showPrintError(PrintJob& job) = 0;
    // The main window is to show the job fields anew; returns at once, without waiting for it.
    virtual void refreshStatus() {}
    // The print server took the whole document of a report as this job; it is followed to the
    // paper from here.
    virtual void jobSubmitted(const SubmittedJob& /*job*/) {}
    // Records what happened to a report in the event log.
    virtual void logEvent(const QString& title, const QString& description);
};
