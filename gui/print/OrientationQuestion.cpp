#include "gui/print/OrientationQuestion.h"

#include "core/config/AppSettings.h"
#include "core/report/CodePages.h"
#include "core/report/ReportHeader.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyle>

namespace {

constexpr int kClientWidth = 388;
constexpr int kClientHeight = 126;
constexpr int kTextHeight = 49;

} // namespace

OrientationQuestion::OrientationQuestion(const AppSettings& settings, QWidget* parent)
    : IconTextDialog({QStringLiteral("FormOrientQuery"), QStringLiteral("Orientace sestavy"),
                      QSize(kClientWidth, kClientHeight), kTextHeight, 72,
                      QStyle::SP_MessageBoxQuestion},
                     parent)
{
    // Created in tab order.
    m_ui.portraitButton =
        addButton(QStringLiteral("portraitButton"), 128, QStringLiteral("Na &výšku"),
                  QStringLiteral("Sestava bude vytištěna na výšku."));
    m_ui.landscapeButton =
        addButton(QStringLiteral("landscapeButton"), 216, QStringLiteral("Na &šířku"),
                  QStringLiteral("Sestava bude vytištěna na šířku."));
    // Alt+V is the portrait button's: the default takes Alt+C.
    m_ui.defaultButton = addButton(
        QStringLiteral("defaultButton"), 304, QStringLiteral("Vý&chozí"),
        QStringLiteral("Orientace sestavy bude určena podle její šířky podle nastavení."));
    m_ui.viewButton = addButton(QStringLiteral("viewButton"), 8, QStringLiteral("&Náhled"));
    m_ui.viewButton->hide();

    connect(m_ui.portraitButton, &QPushButton::clicked, this, [this] { done(kResultPortrait); });
    connect(m_ui.landscapeButton, &QPushButton::clicked, this, [this] { done(kResultLandscape); });
    connect(m_ui.defaultButton, &QPushButton::clicked, this, [this] { done(kResultDefault); });
    connect(m_ui.viewButton, &QPushButton::clicked, this, &OrientationQuestion::openPreview);

    createWidgets(settings);
    m_ui.portraitButton->setFocus();
}

void OrientationQuestion::createWidgets(const AppSettings& settings)
{
    applyFormLook(this, settings);
}

void OrientationQuestion::setReport(const ReportHeader& report)
{
    m_report = &report;
    setText(cp1250ToUnicode(report.title));
}

void OrientationQuestion::reject()
{
    // Esc and closing the window answer as the default button does.
    m_ui.defaultButton->click();
}

void OrientationQuestion::openPreview()
{
    if (m_openPreview && m_report)
        m_openPreview(*m_report, this);
}

void OrientationQuestion::setUpViewButton()
{
    delete m_ui.viewButton->menu();
    m_ui.viewButton->setMenu(nullptr);
    if (!m_openPrintPreview)
        return;
    // Both previews share the one button: its place in the dialog is fixed. Neither entry's
    // access key is one of the buttons'.
    auto* menu = new QMenu(m_ui.viewButton);
    menu->setObjectName(QStringLiteral("viewMenu"));
    if (m_openPreview)
        menu->addAction(QStringLiteral("&Text sestavy"), this, &OrientationQuestion::openPreview);
    menu->addAction(QStringLiteral("Ná&hled tisku"), this, [this] {
        if (m_openPrintPreview && m_report)
            m_openPrintPreview(*m_report, this);
    });
    m_ui.viewButton->setMenu(menu);
}

void OrientationQuestion::showEvent(QShowEvent* event)
{
    setUpViewButton();
    m_ui.viewButton->setVisible(m_openPreview || m_openPrintPreview);
    IconTextDialog::showEvent(event);
    // Over its owner, Qt has placed the dialog already (kept on the screen).
    if (!parentWidget())
        centerOnScreen(this);
}

int runOrientationQuestion(const ReportHeader& header, const AppSettings& settings, QWidget* owner,
                           const OrientPreviewOpener& openPreview,
                           const OrientPreviewOpener& openPrintPreview)
{
    // A hidden or minimised owner would hide the question with it (the main window usually sits
    // in the tray while reports print): the question then stands on its own.
    QWidget* parent = owner && owner->isVisible() && !owner->isMinimized() ? owner : nullptr;
    // On the heap: should the owner go while the question is open, it takes the dialog along.
    QPointer<OrientationQuestion> dialog = new OrientationQuestion(settings, parent);
    dialog->setPreviewOpener(openPreview);
    dialog->setPrintPreviewOpener(openPrintPreview);
    dialog->setReport(header);
    const int result = dialog->exec();
    delete dialog.data();
    switch (result) {
    case OrientationQuestion::kResultPortrait:
        return OrientPortrait;
    case OrientationQuestion::kResultLandscape:
        return OrientLandscape;
    default:
        return OrientByWidth;
    }
}
