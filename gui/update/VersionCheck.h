#pragma once

// Finding out whether a newer version of the program is published, offering it and handing it to
// the download and the installer: once a day in the background at start, and on the user's
// command "Kontrola aktualizace".

#include "core/update/HttpClient.h"
#include "core/update/UpdateTrust.h"
#include "core/update/VersionInfo.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

struct AppSettings;
class QWidget;

// What the check needs from the rest of the program: the windows of an offer and the steps after
// it. updateServices() gives the real ones; tests put in their own.
struct UpdateServices
{
    QString ownVersion;
    // The details text of an offer (its "Info" address): rich or plain text, or empty.
    std::function<QByteArray(const QString& url)> details;
    // The new-version dialog: true when the user chose to download and install.
    std::function<bool(const VersionDescriptor& offer, const QByteArray& details)> askToInstall;
    // Downloads and checks the package with its progress window: its path, or empty after a
    // failure.
    std::function<QString(const VersionDescriptor& offer)> download;
    // Starts the installation of the downloaded package: true when it runs.
    std::function<bool(const QString& package)> runInstaller;
};

// The program's own version and windows, owned by `parent` (nullptr: centred on the screen).
UpdateServices updateServices(const AppSettings& settings, QWidget* parent);

// Retrieves the version descriptor from the settings constants' address with its signature, on
// the calling thread. Its descriptor is section "Tarnyx" of a good answer with a good signature.
SignedDescriptor retrieveVersionDescriptor(const AppSettings& settings);

// The same on a thread of its own, with the hourglass shown. A good answer without a good
// signature is recorded in the event log; unless `silent`, it is reported, as is a retrieval
// that fails.
SignedDescriptor fetchVersionDescriptor(const AppSettings& settings, bool silent);

// Offers the version of `offer` when it is newer than the own one: the new-version dialog with the
// details, then the download. Returns the package's path, or empty when nothing was offered,
// accepted or downloaded. Unless `silent`, a descriptor without a version, address or digest, a
// version that is not newer and a file that is not a package are reported.
QString offerNewVersion(bool silent, const VersionDescriptor& offer,
                        const UpdateServices& services);

// The user's command: retrieves the descriptor (the windows taking no input meanwhile, printing
// going on), reports every outcome and offers a newer version. True when the installation was
// started, and the program should end so that it can replace the program's files.
bool runManualVersionCheck(AppSettings& settings, const UpdateServices& services);

// The check at start: retrieves the descriptor on a thread of its own without a word, and when
// that succeeds with a good signature offers it, once, as soon as `mainWindow` is the active
// window, so that a program sitting in the tray does not pop up a dialog on its own. A
// descriptor without a good signature is only recorded in the event log.
class AutomaticVersionCheck : public QObject
{
    Q_OBJECT
public:
    AutomaticVersionCheck(AppSettings& settings, QWidget* mainWindow,
                          std::function<UpdateServices()> services);
    // Ends a retrieval still running at once (the program is ending).
    ~AutomaticVersionCheck() override;

    // Starts the retrieval; at most once per object.
    void start();
    // Starts it when the daily check is due `today`; true when it was started.
    bool startIfDue(const QDate& today);
    bool isRunning() const { return m_thread != nullptr; }
    // A descriptor has arrived and waits for the main window.
    bool isPending() const { return m_pending; }

signals:
    // The offer was accepted and its installer started: the program should end now.
    void installerStarted();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void arrived(const SignedDescriptor& found);
    void offerWhenActive();

    AppSettings& m_settings;
    QPointer<QWidget> m_mainWindow;
    std::function<UpdateServices()> m_services;
    std::shared_ptr<HttpClient> m_client;
    QThread* m_thread = nullptr;
    bool m_started = false;
    bool m_pending = false;
    VersionDescriptor m_descriptor;
};
