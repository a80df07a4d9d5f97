#include "core/IconTextDialog.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace {
constexpr int kTextTop = 8;
}

IconTextDialog::IconTextDialog(const Frame& frame, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_icon(frame.icon), m_textHeight(frame.textHeight), m_buttonTop(frame.bevelTop + 16)
{
    setObjectName(frame.name);
    setWindowTitle(frame.title);
    setFixedSize(frame.clientSize);

    TextLabel = new QLabel(this);
    TextLabel->setObjectName(QStringLiteral("TextLabel"));
    TextLabel->setTextFormat(Qt::PlainText);
    TextLabel->setWordWrap(true);
    TextLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, frame.bevelTop, 369, 2);
    setText(QString());
}

int IconTextDialog::IconSize() const
{
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    return size > 0 ? size : 32;
}

void IconTextDialog::setText(const QString& text)
{
    TextLabel->setText(text);
    const int left = IconSize() + 16;
    TextLabel->setGeometry(left, kTextTop, width() - left - 8, m_textHeight);
}

QPushButton* IconTextDialog::addButton(const QString& name, int left, const QString& caption,
                                       const QString& hint)
{
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setGeometry(left, m_buttonTop, 75, 25);
    button->setToolTip(hint);
    return button;
}

void IconTextDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    const int size = IconSize();
    style()
        ->standardIcon(m_icon, nullptr, this)
        .paint(&painter, QRect(8, TextLabel->y(), size, size));
}
