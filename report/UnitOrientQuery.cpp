#include "report/UnitOrientQuery.h"

#include "config/AppSettings.h"
#include "config/FormLook.h"
#include "core/MessageDlg.h"
#include "report/CodePages.h"
#include "report/UnitLstObj.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStyle>

namespace {

constexpr int kClientWidth = 388;
constexpr int kClientHeight = 126;
constexpr int kTextTop = 8;
constexpr int kTextHeight = 49;

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, int left,
                        const QString& hint = {})
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(left, 88, 75, 25);
    button->setToolTip(hint);
    return button;
}

} // namespace

TFormOrientQuery::TFormOrientQuery(const TAppSettings& settings, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormOrientQuery"));
    setWindowTitle(QStringLiteral("Orientace sestavy"));
    setFixedSize(kClientWidth, kClientHeight);

    TextLabel = new QLabel(this);
    TextLabel->setObjectName(QStringLiteral("TextLabel"));
    // A title is shown as it is, even when it looks like markup.
    TextLabel->setTextFormat(Qt::PlainText);
    TextLabel->setWordWrap(true);
    TextLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, 72, 369, 2);

    // Created in tab order.
    btnPortrait = makeButton(this, "btnPortrait", QStringLiteral("Na &výšku"), 128,
                             QStringLiteral("Sestava bude vytištěna na výšku."));
    btnLandscape = makeButton(this, "btnLandscape", QStringLiteral("Na &šířku"), 216,
                              QStringLiteral("Sestava bude vytištěna na šířku."));
    btnDefault = makeButton(
        this, "btnDefault", QStringLiteral("&Výchozí"), 304,
        QStringLiteral("Orientace sestavy bude určena podle její šířky podle nastavení."));
    btnView = makeButton(this, "btnView", QStringLiteral("&Náhled"), 8);
    btnView->hide();

    connect(btnPortrait, &QPushButton::clicked, this, [this] { done(ResultPortrait); });
    connect(btnLandscape, &QPushButton::clicked, this, [this] { done(ResultLandscape); });
    connect(btnDefault, &QPushButton::clicked, this, [this] { done(ResultDefault); });
    connect(btnView, &QPushButton::clicked, this, &TFormOrientQuery::btnViewClick);

    FormCreate(settings);
    btnPortrait->setFocus();
}

void TFormOrientQuery::FormCreate(const TAppSettings& settings)
{
    ApplyFormLook(this, settings);
}

int TFormOrientQuery::IconSize() const
{
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    return size > 0 ? size : 32;
}

void TFormOrientQuery::SetReport(const TLstObj& report)
{
    m_report = &report;
    TextLabel->setText(Cp1250ToUnicode(report.Title));
    const int left = IconSize() + 16;
    TextLabel->setGeometry(left, kTextTop, width() - left - 8, kTextHeight);
}

void TFormOrientQuery::reject()
{
    // Esc and closing the window answer as the default button does.
    btnDefault->click();
}

void TFormOrientQuery::btnViewClick()
{
    if (openPreview && m_report)
        openPreview(*m_report, this);
}

void TFormOrientQuery::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    const int size = IconSize();
    style()
        ->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, this)
        .paint(&painter, QRect(8, TextLabel->y(), size, size));
}

void TFormOrientQuery::showEvent(QShowEvent* event)
{
    btnView->setVisible(static_cast<bool>(openPreview));
    QDialog::showEvent(event);
    // Over its owner, Qt has placed the dialog already (kept on the screen).
    if (!parentWidget())
        CenterOnScreen(this);
}

int AskOrientation(const TLstObj& header, const TAppSettings& settings, QWidget* owner,
                   const OrientPreviewOpener& openPreview)
{
    // A hidden or minimised owner would hide the question with it (the main window usually sits
    // in the tray while reports print): the question then stands on its own.
    QWidget* parent = owner && owner->isVisible() && !owner->isMinimized() ? owner : nullptr;
    // On the heap: should the owner go while the question is open, it takes the dialog along.
    QPointer<TFormOrientQuery> dialog = new TFormOrientQuery(settings, parent);
    dialog->openPreview = openPreview;
    dialog->SetReport(header);
    const int result = dialog->exec();
    delete dialog.data();
    switch (result) {
    case TFormOrientQuery::ResultPortrait:
        return OrientPortrait;
    case TFormOrientQuery::ResultLandscape:
        return OrientLandscape;
    default:
        return OrientByWidth;
    }
}
