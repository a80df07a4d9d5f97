#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The window that shows a report on an error nobody handled: what happened, the report itself
// (read-only), and buttons to save the report to a file or copy it. It needs nothing of the
// program's state, so it works whatever state the error left behind.
class CrashReportDialog : public QDialog
{
    Q_OBJECT
public:
    enum class Occasion
    {
        ErrorNow, // an error happened just now; the program ends after the window
        LastRun   // the previous run ended with a fatal error
    };

    CrashReportDialog(Occasion occasion, const QString& report, QWidget* parent = nullptr);

    // Asks where to save; returns the chosen path, or empty when the user cancelled. The default
    // is the desktop's save dialog.
    using SaveFileChooser = std::function<QString(QWidget* parent, const QString& proposed)>;
    void setSaveFileChooser(SaveFileChooser chooser) { m_chooseSaveFile = std::move(chooser); }

    // Asks for a file and writes the report into it, saying whether that worked; false when
    // nothing was saved.
    bool saveReport();
    void copyReport();

    const QString& report() const { return m_report; }

    struct Widgets
    {
        QLabel* message = nullptr;
        QPlainTextEdit* reportText = nullptr;
        QPushButton* saveButton = nullptr;
        QPushButton* copyButton = nullptr;
        QPushButton* closeButton = nullptr;
    };
    const Widgets& ui() const { return m_ui; }

private:
    QString chooseFile(const QString& proposed);

    Widgets m_ui{};
    QString m_report;
    SaveFileChooser m_chooseSaveFile;
};

// Shows the window modally until the user closes it.
void showCrashReport(CrashReportDialog::Occasion occasion, const QString& report);
