#pragma once

#include <QFont>

class QAbstractButton;
class QAction;
class QKeyEvent;
class QKeySequence;
class QMenu;
class QPoint;
class QToolBar;
class QString;

class QWidget;
struct AppSettings;

// The common look of every window at creation: the desktop's message font when systemFont is on.
// Tooltips follow the application's switch (setShowHints) in every window.
void applyFormLook(QWidget* form, const AppSettings& settings);

// The title bar of a dialog with a fixed border: its caption, the system menu and the close box,
// never minimise, maximise or context help, whatever the window manager would add.
constexpr Qt::WindowFlags kFixedDialogFlags = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                              Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                              Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// Kinds of desktop fonts: message, menu, small caption, status bar.
enum class SystemFontKind
{
    Message = 0,
    Menu = 1,
    SmallCaption = 2,
    Status = 3
};
// Replaces `font` by the desktop's font of that kind; nothing when systemFont is off.
void applySystemFont(QFont& font, SystemFontKind kind, const AppSettings& settings);

// Tooltips of the whole application on or off, and how long one stays visible. Installs one
// event filter on the application the first time.
void setShowHints(bool show);
void setHintHidePause(int milliseconds);
bool showHints();

// A command of a window: an action with its object name, caption, tooltip and shortcut (none when
// empty), added to `window` so that the shortcut works wherever the window has the focus.
QAction* addWindowAction(QWidget* window, const QString& name, const QString& caption,
                         const QString& hint, const QKeySequence& key);

// The keyboard's ways to a window's menu of commands: Shift+F10 and the Menu key.
bool isContextMenuKey(const QKeyEvent* key);
// Opens `menu` at `globalPos` unless it is open already: one key press may come both as a key
// and as the platform's context menu request.
void popUpOnce(QMenu* menu, const QPoint& globalPos);
// Tab reaches the buttons of `bar` too, not only the window's fields.
void letTabReachToolBar(QToolBar* bar);

// A button that stands for an action: its caption, hint and enabled state follow the action, and
// a click triggers it.
void bindButton(QAbstractButton* button, QAction* action);

// Width and height of a window under "LastUsed", named after the window's object name.
void restoreWindowSize(QWidget* form);
void saveWindowSize(const QWidget* form);
