#pragma once

#include "print/JobHost.h"

#include <QObject>
#include <QTimer>

#include <atomic>

#include <functional>

class JobController;

// The tray program's side of a print job: the dialogs run on the user-interface thread while the
// print worker waits (errors go to the print error dialog, the orientation of a report with a new
// title is asked of the user); the status of the main window follows the job without holding it
// up, at most about ten times a second.
class UiJobHost : public QObject, public JobHost
{
public:
    explicit UiJobHost(JobController& controller, QObject* parent = nullptr);

    // Asks the user for the orientation of a report with a new title; by width while not set.
    void setOrientationDialog(std::function<int(const ReportHeader&)> ask)
    {
        m_askOrientationDialog = std::move(ask);
    }
    // Shows the job's state in the main window.
    void setStatusView(std::function<void()> refresh) { m_refreshStatusView = std::move(refresh); }
    // Follows a document the print server took (called on the job's thread).
    void setJobFollower(std::function<void(const SubmittedJob&)> follow)
    {
        m_follow = std::move(follow);
    }

    void runOnUiThread(const std::function<void()>& work) override;
    int askOrientation(const ReportHeader& header) override;
    void showPrintError(PrintJob& job) override;
    void refreshStatus() override;
    void logEvent(const QString& title, const QString& description) override;
    void jobSubmitted(const SubmittedJob& job) override;

    // The least time between two refreshes of the main window's status.
    static constexpr int kRefreshIntervalMs = 100;

private:
    std::function<int(const ReportHeader&)> m_askOrientationDialog;
    std::function<void()> m_refreshStatusView;
    std::function<void(const SubmittedJob&)> m_follow;
    // On the user-interface thread: shows the job fields now, or once the interval is over.
    void showStatus();

    JobController& m_controller;
    std::atomic<bool> m_refreshPosted{false};
    QTimer m_refreshPause;
    bool m_refreshDue = false;
};
