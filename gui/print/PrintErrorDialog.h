#pragma once

#include "gui/common/IconTextDialog.h"
#include "print/PrintJob.h"

#include <QDialog>

class QAction;
class QFrame;
class QLabel;
class QPushButton;
class JobController;
struct ReportHeader;
struct AppSettings;

// The print error dialog: shows why a report failed and lets the user delete it (to the trash),
// skip it until the next start, or print it again. Esc and closing the window answer Cancel.
class PrintErrorDialog : public IconTextDialog
{
    Q_OBJECT
public:
    explicit PrintErrorDialog(const AppSettings& settings, QWidget* parent = nullptr);

    // The error text (a CR is a line break); also places textLabel beside the icon.
    void setMessage(const QString& text);
    // The failed report, not owned; the actions are enabled exactly while there is one.
    void setReport(const ReportHeader* report);
    const ReportHeader* report() const { return m_report; }

    // The user's answer so far: Cancel until an action ends the dialog.
    ErrorChoice choice() const { return m_choice; }
    // Shows the dialog modally and returns the user's answer.
    ErrorChoice choose();

    // The widgets, as the window lays them out.
    struct Widgets
    {
        QPushButton* deleteButton = nullptr;
        QPushButton* skipButton = nullptr;
        QPushButton* retryButton = nullptr;
        QAction* deleteAction = nullptr;
        QAction* skipAction = nullptr;
        QAction* retryAction = nullptr;
    };
    const Widgets& ui() const { return m_ui; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    Widgets m_ui{};
    void createWidgets(const AppSettings& settings);
    void updateActions();
    void onDelete();
    void onSkip();
    void onRetry();
    void finish(ErrorChoice choice);

    const ReportHeader* m_report = nullptr;
    ErrorChoice m_choice = ErrorChoice::Cancel;
};

// Posts the run state asked for to every top-level window (the main window acts on it). A request
// to run is not posted while printByOne is set: printing then stays paused after every report.
void broadcastRunState(bool run, const JobController& controller);

// Shows the controller's workerError for a failed report and carries out the user's choice, which
// it also stores in `choice`. Runs on the user-interface thread while the print worker waits.
// No new job starts while the dialog is open; afterwards workerError is empty and tickTimer runs.
void runPrintErrorDialog(const ReportHeader& report, ErrorChoice& choice,
                         JobController& controller);
// The same for a print job: its report and its choice.
void runPrintErrorDialog(PrintJob& job, JobController& controller);
