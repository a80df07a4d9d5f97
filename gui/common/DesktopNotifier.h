#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QSystemTrayIcon;

// Tells the user something while the program sits in the background: through the desktop's
// notification service (with a button for the action offered, where there is one), or, where
// the desktop has none, as a balloon of the tray icon, whose click brings up the main window.
// Nothing here waits for the service: a desktop that does not answer costs only the message.
class DesktopNotifier : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject* parent = nullptr);

    // The icon whose balloon stands in for the service; while it is hidden there is none.
    void setTrayIcon(QSystemTrayIcon* icon);
    // Called when a balloon or a notification itself is clicked (the main window shows itself).
    void setBalloonClicked(std::function<void()> clicked) { m_balloonClicked = std::move(clicked); }

    // `actionText` (empty: none) is offered as a button; `action` runs when the user takes it.
    void notify(const QString& title, const QString& text, const QString& actionText = {},
                std::function<void()> action = {});

    // The desktop's notification service: its well-known bus name and object path.
    static constexpr char kService[] = "org.freedesktop.Notifications";
    static constexpr char kPath[] = "/org/freedesktop/Notifications";

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

private:
    void showBalloon(const QString& title, const QString& text);

    QPointer<QSystemTrayIcon> m_tray;
    std::function<void()> m_balloonClicked;
    QHash<uint, std::function<void()>> m_actions; // by notification id
    bool m_listening = false;
};
