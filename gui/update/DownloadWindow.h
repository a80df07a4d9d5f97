#pragma once

// Downloading the package of a new version, with a modal progress window that lets the user
// interrupt the transfer.

#include "core/update/HttpClient.h"

#include <QDialog>

#include <atomic>
#include <memory>

class HourglassCursor;
class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
struct AppSettings;
struct VersionDescriptor;

// The progress of one installer transfer. The transfer starts when the window is first shown and
// runs on a thread of its own; when it ends, the window closes. Closing the window does not
// interrupt it: only "Přerušit" does, which can be pressed once data has begun to arrive.
class DownloadWindow : public QDialog
{
    Q_OBJECT
public:
    // `size` is the installer's announced size in bytes; 0 shows no progress.
    DownloadWindow(const QString& version, const QString& url, qint32 size, QWidget* parent);
    // Waits for a running transfer to end, interrupting it.
    ~DownloadWindow() override;

    // Before the window is shown.
    void setProxy(const HttpProxy& proxy);
    void setMaxBody(qint64 bytes);

    // Waits until the transfer has ended, applying its progress meanwhile but taking no input,
    // and gives its outcome. Not a success when the window was never shown.
    HttpResult waitForResult();
    bool breakRequested() const { return m_breakRequested; }

    struct Widgets
    {
        QLabel* label = nullptr;
        QProgressBar* progress = nullptr;
        QPushButton* breakButton = nullptr;
    };
    const Widgets& ui() const { return m_ui; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void startTransfer();
    // Runs on the transfer's thread whenever bytes have arrived.
    void bytesArrived(qint64 bytes);
    void showProgress();
    void requestBreak();
    void transferEnded();

    Widgets m_ui;
    QString m_url;
    qint32 m_size;
    std::unique_ptr<HttpClient> m_client;
    std::unique_ptr<QThread> m_thread;
    std::unique_ptr<HourglassCursor> m_hourglass;
    QEventLoop* m_waitLoop = nullptr;
    bool m_ended = false; // the end of the thread has been seen on the user-interface thread
    std::atomic<bool> m_breakRequested = false;
    bool m_abortedByThread = false; // touched by the transfer's thread only
    qint64 m_bytesReceived = 0;     // written by the transfer's thread while the UI waits
    HttpResult m_result;            // written by the transfer's thread, read once it ended
};

// The download step of accepting a new version: fetches the package of `offer`, showing the
// progress window over `parent`, checks it against the signed offer (digest, package name and
// version) and stores it under the URL's file name, with the descriptor and its signature, in a
// new private folder of the temporary directory. The package's path; empty after any failure or
// an interruption, each of which has been reported to the user.
QString downloadInstaller(const VersionDescriptor& offer, const AppSettings& settings,
                          QWidget* parent);
