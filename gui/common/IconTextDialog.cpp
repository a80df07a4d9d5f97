#include "gui/common/IconTextDialog.h"

#include "gui/common/FormLook.h"

#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

constexpr int kTextTop = 8;

// The width a button's caption needs: its text, the menu arrow and the style's margins, without
// the least width that some styles give every push button, so that the frame's 75 pixels stay
// where the caption fits them.
int captionWidth(const QPushButton* button)
{
    const QStyle* style = button->style();
    int width = button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width();
    if (!button->icon().isNull())
        width += button->iconSize().width() + 4;
    if (button->menu())
        width += style->pixelMetric(QStyle::PM_MenuButtonIndicator, nullptr, button);
    if (button->autoDefault())
        width += 2 * style->pixelMetric(QStyle::PM_ButtonDefaultIndicator, nullptr, button);
    return width + style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
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
    // characters without a blank, and the reader needs the reason after it.
    QString shown = text;
    shown.replace(u'/', QStringLiteral("/\u200B"));
    shown.replace(u'\\', QStringLiteral("\\\u200B"));
    m_textLabel->setText(shown);
    relayout();
}

QPushButton* IconTextDialog::addButton(const QString& name, int left, const QString& caption,
                                       const QString& hint)
{
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setToolTip(hint);
    // The row is kept from left to right.
    const auto after = std::find_if(m_row.begin(), m_row.end(),
                                    [left](const RowButton& other) { return other.left > left; });
    m_row.insert(after, {button, left});
    relayout();
    return button;
}

bool IconTextDialog::event(QEvent* event)
{
    const bool handled = QDialog::event(event);
    // A caption, font or style that changed after the buttons were made (an action bound to a
    // button, the form's look applied, a menu given to a button as the dialog shows) asks for a
    // new layout.
    switch (event->type()) {
    case QEvent::LayoutRequest:
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::Show:
        relayout();
        break;
    default:
        break;
    }
    return handled;
}

void IconTextDialog::relayout()
{
    constexpr int kButtonWidth = 75;
    constexpr int kButtonHeight = 25;
    // The row: each button at least as large as its caption needs, the gaps between buttons and
    // the margins at both ends as in the frame.
    int width = m_frameSize.width();
    int rowHeight = kButtonHeight;
    int x = 0;
    QList<int> lefts;
    for (qsizetype i = 0; i < m_row.size(); ++i) {
        QPushButton* button = m_row[i].button;
        x = i == 0 ? m_row[i].left
                   : x + m_row[i - 1].button->width() + m_row[i].left - m_row[i - 1].left -
                         kButtonWidth;
        lefts.append(x);
        button->resize(std::max(kButtonWidth, captionWidth(button)),
                       std::max(kButtonHeight, button->sizeHint().height()));
        rowHeight = std::max(rowHeight, button->height());
        if (i == m_row.size() - 1)
            width = std::max(width, x + button->width() + m_frameSize.width() - m_row[i].left -
                                        kButtonWidth);
    }

    // The whole text is shown: the dialog grows below the text when it needs more lines (up to
    // half the screen; beyond that the text is cut, never the buttons).
    const int left = iconSize() + 16;
    const int textWidth = width - left - 8;
    const int limit = screen() ? screen()->availableGeometry().height() / 2 : 600;
    const int needed = std::min(m_textLabel->heightForWidth(textWidth), limit);
    const int grow = std::max(0, needed - m_textHeight);
    m_textLabel->setGeometry(left, kTextTop, textWidth, m_textHeight + grow);
    m_separator->setGeometry(8, m_bevelTop + grow, width - 19, 2);
    for (qsizetype i = 0; i < m_row.size(); ++i)
        m_row[i].button->move(lefts[i], m_bevelTop + 16 + grow);
    setFixedSize(width, m_frameSize.height() + grow + rowHeight - kButtonHeight);
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
