#include "gui/update/VersionCheck.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "core/log/EventLog.h"
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

SignedDescriptor retrieveDescriptor(HttpClient& client)
{
    return retrieveSignedDescriptor(client, settingsConstants().urlFileInf,
                                    productKeys().productKey, updateKeyring());
}

// A descriptor that came but whose signature is not good, in the event log; its text.
QString logUnsignedDescriptor(const SignedDescriptor& found)
{
    const QString problem = signatureProblemText(found.signature, updateKeyring());
    appLog().addEntry(QStringLiteral("Aktualizace"),
                      QStringLiteral("%1 Nová verze nebyla nabídnuta (%2).")
                          .arg(problem, settingsConstants().urlFileInf));
    return problem;
}

} // namespace

UpdateServices updateServices(const AppSettings& settings, QWidget* parent)
{
    UpdateServices services;
    services.ownVersion = programVersion();
    services.details = [settings](const QString& url) {
        QByteArray text;
        runOffThread([&] { text = fetchDetailsText(url, settings); });
        return text;
    };
    services.askToInstall = [settings, parent](const VersionDescriptor& offer,
                                               const QByteArray& details) {
        return runNewVersionDialog(settings, offer.size, offer.version, details, parent);
    };
    services.download = [settings, parent](const VersionDescriptor& offer) {
        return downloadInstaller(offer, settings, parent);
    };
    services.runInstaller = [parent](const QString& package) {
        return runInstaller(package, parent);
    };
    return services;
}

SignedDescriptor retrieveVersionDescriptor(const AppSettings& settings)
{
    HttpClient client;
    client.setProxy(proxyForRetrieval(settings));
    return retrieveDescriptor(client);
}

SignedDescriptor fetchVersionDescriptor(const AppSettings& settings, bool silent)
{
    SignedDescriptor found;
    {
        const HourglassCursor hourglass;
        runOffThread([&] { found = retrieveVersionDescriptor(settings); });
    }
    const HttpResult& result = found.http;
    // An answer broken off after a good status line failed as much as no answer at all.
    if (!result.isGood()) {
        if (!silent)
            messageDlg(result.status == 404
                           ? QStringLiteral("Informace o verzi se nepodařilo nalézt.")
                           : QStringLiteral("Informace o verzi nebylo možné zjistit.\rZkontrolujte "
                                            "připojení k Internetu a nastavení proxy."),
                       MsgKind::Error, {MsgButton::Ok});
    } else if (found.signature != SignatureVerdict::Good) {
        const QString problem = logUnsignedDescriptor(found);
        if (!silent)
            messageDlg(problem + QStringLiteral("\rNovější verzi proto nelze nabídnout."),
                       MsgKind::Error, {MsgButton::Ok});
    }
    return found;
}

QString offerNewVersion(bool silent, const VersionDescriptor& offer, const UpdateServices& services)
{
    // The digest binds the package to the signed descriptor: without it nothing is offered.
    if (offer.version.isEmpty() || offer.url.isEmpty() || !isSha256Text(offer.sha256)) {
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
    // Only a package goes to the package manager; any other file a server names is never started.
    if (!isInstallablePackage(urlFileName(offer.url))) {
        const QString text =
            QStringLiteral("Verzi %1 nelze nainstalovat: soubor %2 není instalační balíček.")
                .arg(offer.version, offer.url);
        appLog().addEntry(QStringLiteral("Aktualizace"), text);
        if (!silent)
            messageDlg(text, MsgKind::Error, {MsgButton::Ok});
        return {};
    }
    const QByteArray details = services.details(offer.info);
    if (!services.askToInstall(offer, details))
        return {};
    return services.download(offer);
}

bool runManualVersionCheck(AppSettings& settings, const UpdateServices& services)
{
    const SignedDescriptor found = fetchVersionDescriptor(settings, false);
    if (found.http.isGood() && found.signature != SignatureVerdict::Good)
        return false; // said already
    const VersionDescriptor& offer = found.descriptor;
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
        SignedDescriptor found;
        // Nothing of a failed retrieval is shown or kept: the next start simply tries again.
        try {
            found = retrieveDescriptor(*client);
            if (!found.http.isGood())
                return;
        } catch (...) {
            return;
        }
        // Queued to this object: dropped when the check is gone before it arrives.
        QMetaObject::invokeMethod(
            this, [this, found] { arrived(found); }, Qt::QueuedConnection);
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

void AutomaticVersionCheck::arrived(const SignedDescriptor& found)
{
    if (found.signature != SignatureVerdict::Good) {
        logUnsignedDescriptor(found);
        return;
    }
    m_descriptor = found.descriptor;
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
