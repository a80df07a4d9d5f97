#pragma once

#include <QList>
#include <QString>

class QWidget;

// The kind of a message box: its icon and the caption it gets when it has none of its own.
enum class MsgKind
{
    Warning,
    Error,
    Information,
    Confirmation
};

enum class MsgButton
{
    Ok,
    Yes,
    No,
    Cancel
};

// Shows a modal message box centred on the screen and returns the button the user chose. Every
// message box of the program goes through here.
//
// The buttons read "&Ano", "&Ne", "OK" and "Storno"; an empty caption becomes the kind's own
// ("Varování", "Chyba", "Informace", "Potvrzení"). "&Ano" is the default when offered, otherwise
// "OK", otherwise the first button. Esc (or closing the window) answers "Storno", else "&Ne", else
// "OK". A CR in the text is a line break. The text is shown as plain text.
MsgButton messageDlg(const QString& text, MsgKind kind, QList<MsgButton> buttons,
                     const QString& caption = {}, QWidget* parent = nullptr);

// The caption a message box of that kind gets when it has none of its own.
QString msgKindCaption(MsgKind kind);

// Text for display: CR LF and lone CR become LF.
QString msgDisplayText(const QString& text);

// Moves a window so that it is centred on its screen (or the primary screen).
void centerOnScreen(QWidget* window);

// Lets tests answer message boxes in advance. While answers are queued, messageDlg shows nothing
// and returns the next one. Every message box, answered in advance or not, is recorded.
namespace MessageDlgTestHook {

struct Message
{
    QString caption; // as shown (the kind's caption when none was given)
    QString text;    // as given
    MsgKind kind = MsgKind::Information;
    QList<MsgButton> buttons;
    MsgButton answer = MsgButton::Ok;
};

void setNextAnswers(QList<MsgButton> answers);
// Answers still queued.
QList<MsgButton> pendingAnswers();
// The newest message boxes (up to 64), oldest first.
QList<Message> lastMessages();
// Forgets the recorded messages and the queued answers.
void clear();

} // namespace MessageDlgTestHook

// The hourglass while a long operation runs: pushes the wait cursor on the application's cursor
// stack and pops it when it goes out of scope, so such operations nest.
class HourglassCursor
{
public:
    HourglassCursor();
    ~HourglassCursor();
    HourglassCursor(const HourglassCursor&) = delete;
    HourglassCursor& operator=(const HourglassCursor&) = delete;

private:
    bool m_pushed = false;
};
