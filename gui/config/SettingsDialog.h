#pragma once

#include <QAbstractSpinBox>
#include <QDialog>
#include <QList>

#include <functional>
#include <utility>

class PrinterCatalog;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPrinter;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QToolButton;
struct AppSettings;

// What the settings dialog opens or asks outside itself. Members left empty get the program's
// own: the desktop's page setup dialog, the fonts of printerFontNames, the orientation editor on
// the program's orientation memory, and the running program's path; without help functions F1
// does nothing.
struct SetupServices
{
    // The report faces the current printer offers.
    std::function<QStringList()> fontNames;
    // The printer's own setup on `printer`; true when the user accepted it.
    std::function<bool(QPrinter& printer, QWidget* parent)> printerSetup;
    // True while a print job has a document open.
    std::function<bool()> documentInProgress;
    // Opens the orientation editor modally.
    std::function<void(QWidget* parent)> orientationEditor;
    std::function<void(QWidget* parent, const QString& topic)> showHelp;
    std::function<void()> closeHelp;
    // Asks for the spool directories as a list; returns false when the user cancels.
    std::function<bool(QWidget* parent, QString& directories)> directoriesDialog;
    // The program the autostart entry starts.
    QString programPath;
};

// The topic that the settings dialog's help command opens for the tab with that number (1 Tisk
// ... 5 Internet): "setup.htm#" followed by the tab's anchor, none for tab 1 or an unknown number.
QString setupHelpTopic(int tabNumber);

// A centred number field with spin buttons where the user may type freely; the owner corrects the
// text when the field is left. The arrows step within the range.
class WidthEdit : public QAbstractSpinBox
{
    Q_OBJECT
public:
    explicit WidthEdit(QWidget* parent = nullptr);
    void setRange(int minimum, int maximum);
    void setMaxLength(int length);
    // The number in the field, kept within the range; the minimum when the field holds none.
    int value() const;
    void setValue(int value);
    void setText(const QString& text);
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;

private:
    int m_minimum = 0;
    int m_maximum = 99;
};

// The settings dialog: the spool directories, the printer and its font, the orientation rule,
// page margins and placement, start-up behaviour, hints, priority, the version check and the
// proxy. Settings change only when it closes with OK; the current printer follows the printer
// list at once and goes back on cancel.
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    SettingsDialog(AppSettings& settings, PrinterCatalog& printers, SetupServices services = {},
                   QWidget* parent = nullptr);

    // The directory field's text cleaned up: entries trimmed, double quotes removed, each with a
    // trailing "/" and followed by ";", empty entries and the last ";" dropped.
    static QString normaliseDirectories(const QString& text);
    // The width field's and the port field's corrections when they are left.
    static QString correctWidth(const QString& text);
    static QString correctPort(const QString& text);

    // The widgets, as the window lays them out.
    struct Widgets
    {
        QTabWidget* tabs;
        // Tab "Tisk"
        QLineEdit* dirEdit;
        QToolButton* dirButton;
        QComboBox* printerCombo;
        QToolButton* printerButton;
        QComboBox* fontCombo;
        QCheckBox* byOneCheck;
        QCheckBox* eraseCheck;
        // Tab "Orientace"
        QRadioButton* byWidthRadio;
        WidthEdit* portraitEdit;
        QRadioButton* perTitleRadio;
        QPushButton* orientButton;
        QRadioButton* portraitRadio;
        QRadioButton* landscapeRadio;
        // Tab "Stránka"
        QGroupBox* indentGroup;
        QGroupBox* borderGroup;
        QSpinBox* topSpin;
        QSpinBox* leftSpin;
        QSpinBox* rightSpin;
        QSpinBox* bottomSpin;
        // Tab "Obecné"
        QCheckBox* autorunCheck;
        QCheckBox* pauseCheck;
        QCheckBox* iconizeCheck;
        QCheckBox* hintsCheck;
        QCheckBox* priorityCheck;
        QCheckBox* taskbarCheck;
        QCheckBox* updateCheck;
        // Tab "Internet"
        QCheckBox* proxyCheck;
        QLineEdit* proxyAddrEdit;
        QLineEdit* proxyPortEdit;

        QPushButton* helpButton;
        QPushButton* okButton;
        QPushButton* cancelButton;
        QAction* dirAction;
        QAction* printerAction;
        QAction* orientAction;
        QAction* helpAction;
    };
    const Widgets& ui() const { return m_ui; }

public slots:
    void accept() override;
    void reject() override;

private:
    Widgets m_ui{};
    QWidget* createPrintTab();
    QWidget* createOrientationTab();
    QWidget* createPageTab();
    QWidget* createGeneralTab();
    QWidget* createInternetTab();
    void createWidgets();
    // Every check box with the setting it shows and stores.
    QList<std::pair<QCheckBox*, bool AppSettings::*>> checkBoxSettings() const;
    void fillPrinterList();
    void fillFontList();
    void printerChanged(int index);
    void updateOrientButtons();
    void updateProxyFields();
    void dirEditFinished();
    void proxyPortEditFinished();
    void editDirectories();
    void setUpPrinter();
    void showHelp();
    void updateAutorun() const;

    AppSettings& m_settings;
    PrinterCatalog& m_printers;
    SetupServices m_services;
    QButtonGroup* m_orientation;
    QButtonGroup* m_indent;
    QString m_savedPrinter; // the current printer when the dialog opened
};
