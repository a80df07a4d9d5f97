// The installer download and its progress window.
#include "gui/update/DownloadWindow.h"

#include "core/config/RegistryIni.h"
#include "core/log/EventLog.h"
#include "core/platform/FileName.h"
#include "core/update/UpdateTrust.h"
#include "core/update/VersionInfo.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/update/Installer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr qint64 kMiB = 1024 * 1024;
// A server may send more than it announced, but not without bound: the body is held in memory.
constexpr qint64 kCapWithoutSize = 512 * kMiB;
constexpr qint64 kCapWithSize = 1024 * kMiB;
constexpr int kDownloadDeadlineMs = 30 * 60 * 1000;

// The largest installer body accepted for an announced size.
qint64 installerCap(qint32 size)
{
    if (size <= 0)
        return kCapWithoutSize;
    return std::min(4 * qint64(size) + kMiB, kCapWithSize);
}

// Writes `bytes` to the new file `path` of a private folder, readable by its owner only.
bool writeNewFile(const QString& path, const QByteArray& bytes, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        error = file.errorString();
        return false;
    }
    return true;
}

// A new folder of this user's alone in the temporary directory, for one download.
QString makeDownloadFolder()
{
    QByteArray name = platform::encodeFileName(QDir::tempPath() + u"/tarnyx-update-XXXXXX");
    return ::mkdtemp(name.data()) ? platform::decodeFileName(name) : QString();
}

// The hex SHA-256 digest of `body`.
QString sha256Of(const QByteArray& body)
{
    return QString::fromLatin1(QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex());
}

} // namespace

DownloadWindow::DownloadWindow(const QString& version, const QString& url, qint32 size,
                               QWidget* parent)
    : QDialog(parent, kFixedDialogFlags), m_url(url), m_size(size),
      m_client(std::make_unique<HttpClient>())
{
    setObjectName(QStringLiteral("FormWeb"));
    setWindowTitle(productKeys().productKey + u" - Aktualizace");
    // A package takes minutes on a slow line; a server that keeps it dripping for longer is cut
    // off, as the user may do at any time with "Přerušit".
    m_client->setDeadline(kDownloadDeadlineMs);

    m_ui.label = new QLabel(QStringLiteral("Průběh stahování verze %1").arg(version), this);
    m_ui.progress = new QProgressBar(this);
    m_ui.progress->setTextVisible(false);
    // Without an announced size the bar stays empty.
    m_ui.progress->setRange(0, size > 0 ? size : 1);
    m_ui.progress->setValue(0);
    m_ui.breakButton = new QPushButton(QStringLiteral("Přerušit"), this);
    m_ui.breakButton->setEnabled(false);
    m_ui.breakButton->setAutoDefault(false);
    connect(m_ui.breakButton, &QPushButton::clicked, this, &DownloadWindow::requestBreak);

    auto* column = new QVBoxLayout(this);
    column->addWidget(m_ui.label);
    column->addWidget(m_ui.progress);
    column->addWidget(m_ui.breakButton, 0, Qt::AlignHCenter);
    setFixedSize(sizeHint().expandedTo(QSize(316, 107)));
}

DownloadWindow::~DownloadWindow()
{
    if (!m_thread)
        return;
    if (!m_ended)
        m_client->abort();
    waitForResult();
}

void DownloadWindow::setProxy(const HttpProxy& proxy)
{
    m_client->setProxy(proxy);
}

void DownloadWindow::setMaxBody(qint64 bytes)
{
    m_client->setMaxBody(bytes);
}

void DownloadWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_thread)
        startTransfer();
}

void DownloadWindow::keyPressEvent(QKeyEvent* event)
{
    // The window has no cancel button: Esc neither closes it nor interrupts the transfer.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void DownloadWindow::startTransfer()
{
    m_client->setProgressHook([this](qint64 bytes) { bytesArrived(bytes); });
    m_thread.reset(QThread::create([this] { m_result = m_client->get(QUrl(m_url)); }));
    m_thread->setObjectName(QStringLiteral("DownloadThread"));
    connect(m_thread.get(), &QThread::finished, this, &DownloadWindow::transferEnded);
    m_hourglass = std::make_unique<HourglassCursor>();
    m_thread->start();
}

void DownloadWindow::bytesArrived(qint64 bytes)
{
    m_bytesReceived += bytes;
    // The user-interface thread shows the count while this thread waits, so it reads a count
    // that does not change under it.
    QMetaObject::invokeMethod(this, &DownloadWindow::showProgress, Qt::BlockingQueuedConnection);
    if (m_breakRequested && !m_abortedByThread) {
        m_abortedByThread = true;
        m_client->abort();
    }
}

void DownloadWindow::showProgress()
{
    if (m_size > 0)
        m_ui.progress->setValue(int(std::min<qint64>(m_bytesReceived, m_size)));
    if (!m_breakRequested && !m_ui.breakButton->isEnabled()) {
        m_ui.breakButton->setEnabled(true);
        m_ui.breakButton->setFocus();
    }
}

void DownloadWindow::requestBreak()
{
    m_breakRequested = true;
    // At once, not only when more data arrives: a server that has gone silent would otherwise
    // hold the transfer until the timeout.
    m_client->abort();
}

void DownloadWindow::transferEnded()
{
    m_ended = true;
    m_hourglass.reset();
    if (m_waitLoop)
        m_waitLoop->quit();
    done(QDialog::Accepted);
}

HttpResult DownloadWindow::waitForResult()
{
    if (!m_thread)
        return {};
    if (!m_ended) {
        // The transfer's thread waits for its progress to be shown, so keep serving it.
        QEventLoop loop;
        m_waitLoop = &loop;
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        m_waitLoop = nullptr;
    }
    m_thread->wait();
    return m_result;
}

QString downloadInstaller(const VersionDescriptor& offer, const AppSettings& settings,
                          QWidget* parent)
{
    HttpResult result;
    bool interrupted = false;
    {
        DownloadWindow window(offer.version, offer.url, offer.size, parent);
        applyFormLook(&window, settings);
        window.setProxy(proxyForRetrieval(settings));
        window.setMaxBody(installerCap(offer.size));
        window.exec();
        result = window.waitForResult();
        interrupted = window.breakRequested();
    }
    if (interrupted || !result.isGood()) {
        // The server's answer was no good; a transfer the user broke off is told with the code
        // received so far. A body larger than the offer announced is no server error: that
        // file is damaged, as below.
        if (interrupted || result.failure != HttpFailure::TooLarge) {
            messageDlg(QStringLiteral("Chyba %1 při stahování souboru %2.")
                           .arg(QString::number(result.status), offer.url),
                       MsgKind::Error, {MsgButton::Ok}, {}, parent);
            return {};
        }
    }
    // The package is stored with the signed descriptor in a folder of its own, so that nobody
    // else can place or swap anything under its names, and is then checked as the installation
    // will check it again: digest, package name and version.
    const QString folder = result.isGood() ? makeDownloadFolder() : QString();
    const QString path = folder + u'/' + urlFileName(offer.url);
    QString why;
    if (!result.isGood())
        why = offer.size > 0
                  ? QStringLiteral("soubor je větší, než server ohlásil (%1 bajtů)").arg(offer.size)
                  : QStringLiteral("soubor je příliš velký");
    else if (const QString digest = sha256Of(result.body);
             !isSha256Text(offer.sha256) || digest.compare(offer.sha256, Qt::CaseInsensitive) != 0)
        why = QStringLiteral("kontrolní součet SHA-256 %1 místo %2")
                  .arg(digest, offer.sha256.trimmed().toLower());
    if (why.isEmpty()) {
        QString error;
        if (folder.isEmpty() || urlFileName(offer.url).isEmpty() ||
            !writeNewFile(path, result.body, error) ||
            !writeNewFile(descriptorBeside(path), offer.source, error) ||
            !writeNewFile(signatureBeside(path), offer.signature, error)) {
            if (folder.isEmpty())
                error = qt_error_string(errno);
            else if (error.isEmpty())
                error = QStringLiteral("název souboru chybí");
            QDir(folder).removeRecursively();
            messageDlg(QStringLiteral("Soubor %1 nelze uložit: %2").arg(path, error),
                       MsgKind::Error, {MsgButton::Ok}, {}, parent);
            return {};
        }
        why = checkPackage(path, offer.sha256, offer.version);
    }
    if (!why.isEmpty()) {
        // Nothing of it is kept or installed; the clerk learns that the file, not the
        // connection, was at fault, and the event log keeps what was expected.
        if (!folder.isEmpty())
            QDir(folder).removeRecursively();
        appLog().addEntry(QStringLiteral("Aktualizace"),
                          QStringLiteral("Stažený soubor %1 je poškozen: %2").arg(offer.url, why));
        messageDlg(QStringLiteral("Stažený soubor %1 je poškozen, aktualizaci nelze provést.")
                       .arg(offer.url),
                   MsgKind::Error, {MsgButton::Ok}, {}, parent);
        return {};
    }
    return path;
}
