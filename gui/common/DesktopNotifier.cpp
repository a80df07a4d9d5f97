#include "gui/common/DesktopNotifier.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>

namespace {

// How long a notification stays (the service may keep it longer in its history).
constexpr int kShowMs = 15000;
// The key of the one action a notification may offer.
const QString kActionKey = QStringLiteral("tarnyx-action");

} // namespace

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent)
{}

void DesktopNotifier::notify(const QString& title, const QString& text, const QString& actionText,
                             std::function<void()> action)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showBalloon(title, text);
        return;
    }
    if (!m_listening) {
        // The service's signals carry no sender filter of their own: every notification of the
        // session is announced, and only this program's ids are acted on. Qt's D-Bus signals
        // connect by name only.
        bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                    QString::fromLatin1(kService), QStringLiteral("ActionInvoked"), this,
                    SLOT(onActionInvoked(uint, QString)));
        bus.connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                    QString::fromLatin1(kService), QStringLiteral("NotificationClosed"), this,
                    SLOT(onClosed(uint, uint)));
        m_listening = true;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kService), QStringLiteral("Notify"));
    QStringList actions;
    if (!actionText.isEmpty() && action)
        actions << QStringLiteral("default") << QString() << kActionKey << actionText;
    call << QApplication::applicationName() << uint(0) << QStringLiteral("printer-error") << title
         << text << actions << QVariantMap() << kShowMs;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, title, text, action = std::move(action)] {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError()) {
                    // No service (or one that failed): the tray says it instead.
                    showBalloon(title, text);
                    return;
                }
                m_actions.insert(
                    reply.value(), action ? action : [] {});
            });
}

void DesktopNotifier::onActionInvoked(uint id, const QString& key)
{
    if (!m_actions.contains(id))
        return; // another program's
    const std::function<void()> action = m_actions.take(id);
    // A click on the notification itself only brings up the main window.
    if (key == kActionKey)
        action();
    else if (m_balloonClicked)
        m_balloonClicked();
}

void DesktopNotifier::onClosed(uint id, uint /*reason*/)
{
    m_actions.remove(id);
}

void DesktopNotifier::showBalloon(const QString& title, const QString& text)
{
    // The icon's own flag stays set when the desktop's tray goes away: the tray is asked too.
    if (!m_tray || !m_tray->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable())
        return; // the main window shows it
    m_tray->showMessage(title, text, QSystemTrayIcon::Warning, kShowMs);
}

void DesktopNotifier::setTrayIcon(QSystemTrayIcon* icon)
{
    m_tray = icon;
    connect(icon, &QSystemTrayIcon::messageClicked, this, [this] {
        if (m_balloonClicked)
            m_balloonClicked();
    });
}
