#pragma once

#include "core/IconTextDialog.h"
#include "print/UnitPrn.h"

#include <QDialog>

class QAction;
class QFrame;
class QLabel;
class QPushButton;
class TDataModule1;
class ReportHeader;
struct AppSettings;

// The print error dialog: shows why a report failed and lets the user delete it (to the trash),
// skip it until the next start, or print it again. Esc and closing the window answer Cancel.
class TFormErrMsg : public IconTextDialog
{
    Q_OBJECT
public:
    explicit TFormErrMsg(const AppSettings& settings, QWidget* parent = nullptr);

    // The error text (a CR is a line break); also places TextLabel beside the icon.
    void SetMessage(const QString& text);
    // The failed report, not owned; the actions are enabled exactly while there is one.
    void SetReport(const ReportHeader* report);
    const ReportHeader* Report() const { return m_report; }

    // The user's answer so far: Cancel until an action ends the dialog.
    ErrorChoice Choice() const { return m_choice; }
    // Shows the dialog modally and returns the user's answer.
    ErrorChoice Execute();

    QPushButton* btnDelete = nullptr;
    QPushButton* btnSkip = nullptr;
    QPushButton* btnRetry = nullptr;
    QAction* actDelete = nullptr;
    QAction* actSkip = nullptr;
    QAction* actRetry = nullptr;

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate(const AppSettings& settings);
    void actUpdate();
    void actDeleteExecute();
    void actSkipExecute();
    void actRetryExecute();
    void finish(ErrorChoice choice);

    const ReportHeader* m_report = nullptr;
    ErrorChoice m_choice = ErrorChoice::Cancel;
};

// Posts the run state asked for to every top-level window (the main window acts on it). A request
// to run is not posted while printByOne is set: printing then stays paused after every report.
void BroadcastRunState(bool run, const TDataModule1& controller);

// Shows the controller's WorkerError for a failed report and carries out the user's choice, which
// it also stores in `choice`. Runs on the user-interface thread while the print worker waits.
// No new job starts while the dialog is open; afterwards WorkerError is empty and Timer1 runs.
void ShowPrintError(const ReportHeader& report, ErrorChoice& choice, TDataModule1& controller);
// The same for a print job: its report and its Choice.
void ShowPrintError(TPrnObj& job, TDataModule1& controller);
