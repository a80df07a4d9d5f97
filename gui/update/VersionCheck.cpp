#include "gui/update/VersionCheck.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "core/platform/CommandLine.h"
#include "gui/common/MessageDlg.h"
#include "gui/update/DownloadWindow.h"
#include "gui/update/Installer.h"
#include "gui/update/NewVersionDialog.h"

#include <QApplication>
#include <QThread>

namespace {

void updateInformation(const QString& text)
{
    messageDlg(text, MsgKind::Information, {MsgButton::Ok}, QStringLiteral("Aktualizace"));
}

HttpResult retrieveDescriptor(HttpClient& client, VersionDescriptor& descriptor)
{
    const HttpResult result = client.get(QUrl(settingsConstants().urlFileInf));
    descriptor = result.isGood() ? parseVersionDescriptor(result.body, productKeys().productKey)
                                 : VersionDescriptor{};
    return result;
}

} // namespace

UpdateServices updateServices(const AppSettings& settings, QWidget* parent)
{
    UpdateServices services;
    services.ownVersion = programVersion();
    services.details = [settings](const QString& url) {
        return fetchDetailsText(url, settings);
    };
    services.askToInstall = [settings, parent](const VersionDescriptor& offer,
                                               const QByteArray& details) {
        return runNewVersionDialog(settings, offer.size, offer.version, details, parent);
    };
    services.download = [settings, parent](const VersionDescriptor& offer) {
        return downloadInstaller(offer, settings, parent);
    };
    services.runInstaller = [parent](const QString& installer) {
        return runInstaller(installer, platform::programDirectory(), parent);
    };
    return services;
}

HttpResult retrieveVersionDescriptor(const AppSettings& settings, VersionDescriptor& descriptor)
{
    HttpClient client;
    client.setProxy(proxyForRetrieval(settings));
    return retrieveDescriptor(client, descriptor);
}

VersionDescriptor fetchVersionDescriptor(const AppSettings& settings, bool silent)
{
    VersionDescriptor descriptor;
    HttpResult result;
    {
        const HourglassCursor hourglass;
        result = retrieveVersionDescriptor(settings, descriptor);
    }
    // An answer broken off after a good status line failed as much as no answer at all.
    if (!result.isGood() && !silent)
        messageDlg(result.status == 404
                       ? QStringLiteral("Informace o verzi se nepodařilo nalézt.")
                       : QStringLiteral("Informace o verzi nebylo možné zjistit.\rZkontrolujte "
                                        "připojení k Internetu a nastavení proxy."),
                   MsgKind::Error, {MsgButton::Ok});
    return descriptor;
}

QString offerNewVersion(bool silent, const VersionDescriptor& offer, const UpdateServices& services)
{
    if (offer.version.isEmpty() || offer.url.isEmpty()) {
        if (!silent)
            messageDlg(QStringLiteral("Chyba popisu verze."), MsgKind::Error, {MsgButton::Ok});
        return {};
    }
    if (compareVersions(services.ownVersion, offer.version) != 1) {
        if (!silent)
            updateInformation(
                QStringLiteral("Máte aktuální verzi programu %1.").arg(services.ownVersion));
        return {};
    }
    const QByteArray details = services.details(offer.info);
    if (!services.askToInstall(offer, details))
        return {};
    return services.download(offer);
}

bool runManualVersionCheck(AppSettings& settings, const UpdateServices& services)
{
    const VersionDescriptor offer = fetchVersionDescriptor(settings, false);
    if (offer.version.isEmpty()) {
        updateInformation(QStringLiteral("Informace o novější verzi nejsou k dispozici."));
        return false;
    }
    settings.storeLastVerCheck(dayNumber(QDate::currentDate()));
    const QString installer = offerNewVersion(false, offer, services);
    return !installer.isEmpty() && services.runInstaller(installer);
}

AutomaticVersionCheck::AutomaticVersionCheck(AppSettings& settings, QWidget* mainWindow,
                                             std::function<UpdateServices()> services)
    : m_settings(settings), m_mainWindow(mainWindow), m_services(std::move(services))
{}

AutomaticVersionCheck::~AutomaticVersionCheck()
{
    if (m_thread) {
        m_client->abort();
        m_thread->wait();
        delete m_thread;
    }
}

void AutomaticVersionCheck::start()
{
    if (m_started)
        return;
    m_started = true;
    m_client = std::make_shared<HttpClient>();
    m_client->setProxy(proxyForRetrieval(m_settings));
    m_thread = QThread::create([this, client = m_client] {
        VersionDescriptor descriptor;
        // Nothing of a failure is shown or kept: the next start simply tries again.
        try {
            if (!retrieveDescriptor(*client, descriptor).isGood())
                return;
        } catch (...) {
            return;
        }
        // Queued to this object: dropped when the check is gone before it arrives.
        QMetaObject::invokeMethod(
            this, [this, descriptor] { arrived(descriptor); }, Qt::QueuedConnection);
    });
    m_thread->setObjectName(QStringLiteral("WebVerThread"));
    connect(m_thread, &QThread::finished, this, [this] {
        m_thread->wait(); // finished comes just before the thread has really ended
        delete m_thread;
        m_thread = nullptr;
    });
    m_thread->start(QThread::LowPriority);
}

bool AutomaticVersionCheck::startIfDue(const QDate& today)
{
    if (m_started || !automaticCheckDue(m_settings, today))
        return false;
    start();
    return true;
}

void AutomaticVersionCheck::arrived(const VersionDescriptor& descriptor)
{
    m_descriptor = descriptor;
    m_pending = true;
    if (m_mainWindow)
        m_mainWindow->installEventFilter(this);
    offerWhenActive();
}

bool AutomaticVersionCheck::eventFilter(QObject* watched, QEvent* event)
{
    // The offer's dialog is not opened from inside the activation itself.
    if (watched == m_mainWindow && event->type() == QEvent::WindowActivate)
        QMetaObject::invokeMethod(this, &AutomaticVersionCheck::offerWhenActive,
                                  Qt::QueuedConnection);
    return false;
}

void AutomaticVersionCheck::offerWhenActive()
{
    // Only over the main window: not while the program sits in the tray, and not in the middle of
    // another dialog.
    if (!m_pending || !m_mainWindow || QApplication::activeWindow() != m_mainWindow)
        return;
    m_pending = false;
    m_mainWindow->removeEventFilter(this);
    m_settings.storeLastVerCheck(dayNumber(QDate::currentDate()));
    const UpdateServices services = m_services();
    const QString installer = offerNewVersion(true, m_descriptor, services);
    if (!installer.isEmpty() && services.runInstaller(installer))
        emit installerStarted();
}
