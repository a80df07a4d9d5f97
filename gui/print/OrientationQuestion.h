#pragma once

#include "gui/common/IconTextDialog.h"

#include <QDialog>
#include <QDialogButtonBox>

#include <functional>

class QFrame;
class QLabel;
class QPushButton;
struct ReportHeader;
struct AppSettings;

// Opens a preview of a report that cannot print or delete it, owned by `owner` (the question),
// not modal.
using OrientPreviewOpener = std::function<void(const ReportHeader& report, QWidget* owner)>;

// Asks how a report whose title has no remembered orientation is to be printed: portrait,
// landscape, or by its width as the settings say. The dialog ends with QDialogButtonBox::Yes for
// portrait, No for landscape and Cancel for the default (Esc and closing the window too).
class OrientationQuestion : public IconTextDialog
{
    Q_OBJECT
public:
    static constexpr int kResultPortrait = QDialogButtonBox::Yes;
    static constexpr int kResultLandscape = QDialogButtonBox::No;
    static constexpr int kResultDefault = QDialogButtonBox::Cancel;

    explicit OrientationQuestion(const AppSettings& settings, QWidget* parent = nullptr);

    // Keeps the report (not owned), shows its title and places textLabel beside the icon.
    void setReport(const ReportHeader& report);
    const ReportHeader* report() const { return m_report; }

    // Opens the preview for viewButton, which is shown only while one is set.
    void setPreviewOpener(OrientPreviewOpener open) { m_openPreview = std::move(open); }
    // Opens the print preview of the report. While one is set, viewButton offers a menu: the
    // report's text (the preview opener) and "Náhled tisku".
    void setPrintPreviewOpener(OrientPreviewOpener open) { m_openPrintPreview = std::move(open); }

    // The widgets, as the window lays them out.
    struct Widgets
    {
        QPushButton* viewButton = nullptr;
        QPushButton* portraitButton = nullptr;
        QPushButton* landscapeButton = nullptr;
        QPushButton* defaultButton = nullptr;
    };
    const Widgets& ui() const { return m_ui; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    OrientPreviewOpener m_openPreview;
    OrientPreviewOpener m_openPrintPreview;
    void setUpViewButton();
    Widgets m_ui{};
    void createWidgets(const AppSettings& settings);
    void openPreview();

    const ReportHeader* m_report = nullptr;
};

// Shows the question for the report on the user-interface thread and answers 1 (portrait),
// 2 (landscape) or 0 (by width: the default button, Esc, or the window closed). The dialog is
// centred on `owner` while that is visible, otherwise on the screen, and released afterwards.
// `openPrintPreview`, when given, opens the print preview (see setPrintPreviewOpener).
int runOrientationQuestion(const ReportHeader& header, const AppSettings& settings,
                           QWidget* owner = nullptr, const OrientPreviewOpener& openPreview = {},
                           const OrientPreviewOpener& openPrintPreview = {});
