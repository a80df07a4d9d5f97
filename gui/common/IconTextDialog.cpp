#include "gui/common/IconTextDialog.h"

#include "gui/common/FormLook.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {
constexpr int kTextTop = 8;
}

IconTextDialog::IconTextDialog(const Frame& frame, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), m_icon(frame.icon), m_textHeight(frame.textHeight),
      m_buttonTop(frame.bevelTop + 16)
{
    setObjectName(frame.name);
    setWindowTitle(frame.title);
    setFixedSize(frame.clientSize);

    m_textLabel = new QLabel(this);
    m_textLabel->setObjectName(QStringLiteral("textLabel"));
    m_textLabel->setTextFormat(Qt::PlainText);
    m_textLabel->setWordWrap(true);
    m_textLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_separator = new QFrame(this);
    m_separator->setObjectName(QStringLiteral("separator"));
    m_separator->setFrameShape(QFrame::HLine);
    m_separator->setFrameShadow(QFrame::Sunken);
    m_separator->setGeometry(8, frame.bevelTop, 369, 2);
    setText(QString());
}

int IconTextDialog::iconSize() const
{
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    return size > 0 ? size : 32;
}

void IconTextDialog::setText(const QString& text)
{
    // A path may break after any of its separators: a Wine spool path runs to hundreds of
    // characters without a blank, and the reason after it is what the reader needs.
    QString shown = text;
    shown.replace(u'/', QStringLiteral("/\u200B"));
    shown.replace(u'\\', QStringLiteral("\\\u200B"));
    m_textLabel->setText(shown);
    const int left = iconSize() + 16;
    const int textWidth = width() - left - 8;
    // The whole text is shown: the dialog grows below the text when it needs more lines (up to
    // half the screen; beyond that the text is cut, never the buttons).
    const int limit = screen() ? screen()->availableGeometry().height() / 2 : 600;
    const int needed = std::min(m_textLabel->heightForWidth(textWidth), limit);
    const int grow = std::max(0, needed - m_textHeight);
    m_textLabel->setGeometry(left, kTextTop, textWidth, m_textHeight + grow);
    const int shift = grow - m_grown;
    if (shift == 0)
        return;
    m_grown = grow;
    for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (w != m_textLabel && w->y() > kTextTop)
            w->move(w->x(), w->y() + shift);
    m_buttonTop += shift;
    setFixedSize(width(), height() + shift);
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
    const int size = iconSize();
    style()
        ->standardIcon(m_icon, nullptr, this)
        .paint(&painter, QRect(8, m_textLabel->y(), size, size));
}
