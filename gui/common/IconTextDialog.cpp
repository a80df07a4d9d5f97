#include "gui/common/IconTextDialog.h"

#include "gui/common/FormLook.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionButton>

#include <algorithm>

namespace {

constexpr int kTextTop = 8;
constexpr int kMargin = 8;
constexpr int kSeparatorWidth = 369;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonsBelowSeparator = 16;

// The room a button's caption (and its menu's arrow) takes with the style's margins: at least the
// frame's 75 × 25. The style's own least width for a captioned button is left out, so that the
// frame's buttons keep their size wherever their captions fit in it.
QSize captionSize(const QPushButton* button)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.features = QStyleOptionButton::None;
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
    if (button->menu()) {
        option.features |= QStyleOptionButton::HasMenu;
        text.rwidth() +=
            button->style()->pixelMetric(QStyle::PM_MenuButtonIndicator, &option, button);
    }
    const QSize size =
        button->style()->sizeFromContents(QStyle::CT_PushButton, &option, text, button);
    return {std::max(kButtonWidth, size.width()), std::max(kButtonHeight, size.height())};
}

} // namespace

IconTextDialog::IconTextDialog(const Frame& frame, QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), m_icon(frame.icon), m_frameSize(frame.clientSize),
      m_textHeight(frame.textHeight), m_bevelTop(frame.bevelTop)
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
    layOut();
}

QPushButton* IconTextDialog::addButton(const QString& name, int left, const QString& caption,
                                       const QString& hint)
{
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setToolTip(hint);
    const auto place = std::find_if(m_buttons.begin(), m_buttons.end(),
                                    [left](const PlacedButton& b) { return b.left > left; });
    m_buttons.insert(place, {button, left});
    layOut();
    return button;
}

void IconTextDialog::layOut()
{
    // The row of buttons: each where the frame puts it, or after the one before it when that one
    // has grown; the row's right margin stays the frame's. Hidden buttons keep their room, so
    // the row does not shift when one is shown.
    std::vector<QRect> places;
    int rowRight = 0;
    int frameRowRight = 0;
    int rowHeight = kButtonHeight;
    for (const PlacedButton& placed : m_buttons) {
        const QSize size = captionSize(placed.button);
        const int left = places.empty() ? placed.left : std::max(placed.left, rowRight + kMargin);
        places.emplace_back(QPoint(left, 0), size);
        rowRight = left + size.width();
        frameRowRight = std::max(frameRowRight, placed.left + kButtonWidth);
        rowHeight = std::max(rowHeight, size.height());
    }
    const int width = std::max(m_frameSize.width(), rowRight + m_frameSize.width() - frameRowRight);
    const int wider = width - m_frameSize.width();

    // The whole text is shown: the dialog grows below the text when it needs more lines (up to
    // half the screen; beyond that the text is cut, never the buttons).
    const int textLeft = iconSize() + 16;
    const int textWidth = width - textLeft - kMargin;
    const int limit = screen() ? screen()->availableGeometry().height() / 2 : 600;
    const int needed = std::min(m_textLabel->heightForWidth(textWidth), limit);
    const int grow = std::max(0, needed - m_textHeight);
    m_textLabel->setGeometry(textLeft, kTextTop, textWidth, m_textHeight + grow);
    m_separator->setGeometry(kMargin, m_bevelTop + grow, kSeparatorWidth + wider, 2);

    const int buttonTop = m_bevelTop + grow + kButtonsBelowSeparator;
    for (std::size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i].button->setGeometry(places[i].left(), buttonTop, places[i].width(), rowHeight);
    setFixedSize(width, m_frameSize.height() + grow + rowHeight - kButtonHeight);
}

void IconTextDialog::showEvent(QShowEvent* event)
{
    // Before the dialog is placed over its owner, which takes its size.
    layOut();
    QDialog::showEvent(event);
}

void IconTextDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        layOut();
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
