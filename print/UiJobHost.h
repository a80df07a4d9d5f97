#pragma once

#include "print/JobHost.h"

#include <QObject>

#include <functional>

class TDataModule1;

// The tray program's side of a print job: work for the windows runs on the user-interface thread
// while the print worker waits, errors go to the print error dialog, and the orientation of a
// report with a new title is asked of the user.
class UiJobHost : public QObject, public JobHost
{
public:
    explicit UiJobHost(TDataModule1& controller, QObject* parent = nullptr);

    std::function<int(const TLstObj&)> askOrientationDialog; // 0 by width when not set
    std::function<void()> refreshStatusView;

    void runOnUiThread(const std::function<void()>& work) override;
    int askOrientation(const TLstObj& header) override;
    void showPrintError(TPrnObj& job) override;
    void refreshStatus() override;
    void logEvent(const QString& title, const QString& description) override;

private:
    TDataModule1& m_controller;
};
