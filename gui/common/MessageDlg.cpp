#include "gui/common/MessageDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace {

// The newest messages kept for tests; a long-running program must not collect them all.
constexpr qsizetype kKeptMessages = 64;

struct HookState
{
    QList<MsgButton> answers;
    QList<MessageDlgTestHook::Message> messages;
};

HookState& hook()
{
    static HookState state;
    return state;
}

void keep(const MessageDlgTestHook::Message& message)
{
    QList<MessageDlgTestHook::Message>& messages = hook().messages;
    messages.append(message);
    if (messages.size() > kKeptMessages)
        messages.remove(0, messages.size() - kKeptMessages);
}

// A message box that places itself in the middle of the screen rather than over its parent.
class CenteredMessageBox : public QMessageBox
{
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override
    {
        QMessageBox::showEvent(event);
        centerOnScreen(this);
    }
};

QMessageBox::Icon iconOf(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Warning:
        return QMessageBox::Warning;
    case MsgKind::Error:
        return QMessageBox::Critical;
    case MsgKind::Information:
        return QMessageBox::Information;
    case MsgKind::Confirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QString buttonText(MsgButton button)
{
    switch (button) {
    case MsgButton::Ok:
        return QStringLiteral("OK");
    case MsgButton::Yes:
        return QStringLiteral("&Ano");
    case MsgButton::No:
        return QStringLiteral("&Ne");
    case MsgButton::Cancel:
        return QStringLiteral("Storno");
    }
    return {};
}

QMessageBox::ButtonRole roleOf(MsgButton button)
{
    switch (button) {
    case MsgButton::Ok:
        return QMessageBox::AcceptRole;
    case MsgButton::Yes:
        return QMessageBox::YesRole;
    case MsgButton::No:
        return QMessageBox::NoRole;
    case MsgButton::Cancel:
        return QMessageBox::RejectRole;
    }
    return QMessageBox::InvalidRole;
}

MsgButton defaultOf(const QList<MsgButton>& buttons)
{
    if (buttons.contains(MsgButton::Yes))
        return MsgButton::Yes;
    if (buttons.contains(MsgButton::Ok))
        return MsgButton::Ok;
    return buttons.first();
}

MsgButton escapeOf(const QList<MsgButton>& buttons)
{
    for (MsgButton b : {MsgButton::Cancel, MsgButton::No, MsgButton::Ok})
        if (buttons.contains(b))
            return b;
    return buttons.last();
}

} // namespace

QString msgKindCaption(MsgKind kind)
{
    switch (kind) {
    case MsgKind::Warning:
        return QStringLiteral("Varování");
    case MsgKind::Error:
        return QStringLiteral("Chyba");
    case MsgKind::Information:
        return QStringLiteral("Informace");
    case MsgKind::Confirmation:
        return QStringLiteral("Potvrzení");
    }
    return {};
}

QString msgDisplayText(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    return shown;
}

void centerOnScreen(QWidget* window)
{
    if (!window)
        return;
    QScreen* screen = window->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize size = window->frameGeometry().size().expandedTo(window->size());
    window->move(available.center() - QPoint(size.width() / 2, size.height() / 2));
}

MsgButton messageDlg(const QString& text, MsgKind kind, QList<MsgButton> buttons,
                     const QString& caption, QWidget* parent)
{
    if (buttons.isEmpty())
        buttons = {MsgButton::Ok};
    MessageDlgTestHook::Message record;
    record.caption = caption.isEmpty() ? msgKindCaption(kind) : caption;
    record.text = text;
    record.kind = kind;
    record.buttons = buttons;

    HookState& h = hook();
    if (!h.answers.isEmpty()) {
        record.answer = h.answers.takeFirst();
        keep(record);
        return record.answer;
    }

    CenteredMessageBox box(parent);
    box.setWindowTitle(record.caption);
    box.setIcon(iconOf(kind));
    box.setTextFormat(Qt::PlainText);
    box.setText(msgDisplayText(text));
    QList<QAbstractButton*> widgets;
    for (MsgButton b : buttons) {
        QPushButton* w = box.addButton(buttonText(b), roleOf(b));
        widgets.append(w);
        if (b == defaultOf(buttons))
            box.setDefaultButton(w);
        if (b == escapeOf(buttons))
            box.setEscapeButton(w);
    }
    box.exec();
    const qsizetype index = widgets.indexOf(box.clickedButton());
    record.answer = index >= 0 ? buttons.at(index) : escapeOf(buttons);
    keep(record);
    return record.answer;
}

namespace MessageDlgTestHook {

void setNextAnswers(QList<MsgButton> answers)
{
    hook().answers = std::move(answers);
}

QList<MsgButton> pendingAnswers()
{
    return hook().answers;
}

QList<Message> lastMessages()
{
    return hook().messages;
}

void clear()
{
    hook().answers.clear();
    hook().messages.clear();
}

} // namespace MessageDlgTestHook

HourglassCursor::HourglassCursor()
{
    if (qGuiApp) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_pushed = true;
    }
}

HourglassCursor::~HourglassCursor()
{
    if (m_pushed && qGuiApp)
        QGuiApplication::restoreOverrideCursor();
}
