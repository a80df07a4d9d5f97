#pragma once

// The HTTP/1.0 client of the online update: the version descriptor, the details text of a new
// version and the installer are fetched through it, synchronously on the calling thread.

#include "core/update/HttpMessage.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>

struct AppSettings;
struct SystemProxy;

// Where a retrieval connects: directly when the host is empty.
struct HttpProxy
{
    QString host;
    QString port; // decimal text, as the settings store it
    bool operator==(const HttpProxy&) const = default;
};

// The proxy of one retrieval: the configured proxy when the settings ask for one (an empty address
// then means a direct connection), else the desktop's http proxy from `system` when it names one
// (nullptr: none), else none.
HttpProxy proxyForRetrieval(const AppSettings& settings, const SystemProxy* system);
// The same with the desktop's proxy read from the environment.
HttpProxy proxyForRetrieval(const AppSettings& settings);

// The outcome of one GET. Good only when the whole answer arrived and its status is 200.
struct HttpResult
{
    bool success = false;
    int status = 500; // 500 without a status line, 0 for an answer that is not HTTP
    QByteArray body;
    HttpFailure failure = HttpFailure::None;

    bool isGood() const { return success && status == 200; }
};

// One retrieval at a time, used by one thread (abort may come from any). Each wait for the server
// (connecting, sending, every piece of the answer) is bounded by the timeout, and the whole
// retrieval by the deadline, so that a server that sends a byte now and then cannot hold it for
// ever.
class HttpClient
{
public:
    static constexpr qint64 kDefaultMaxBody = 4 * 1024 * 1024;
    static constexpr int kDefaultTimeoutMs = 30000;
    // Enough for a descriptor, its signature or a description on a slow line.
    static constexpr int kDefaultDeadlineMs = 60000;

    // The timeout is the program's socket timeout.
    HttpClient();

    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }
    int timeout() const { return m_timeoutMs; }
    // The longest a whole retrieval may take, from the start of get(); 0 for no limit.
    void setDeadline(int milliseconds) { m_deadlineMs = milliseconds; }
    void setProxy(const HttpProxy& proxy) { m_proxy = proxy; }
    const HttpProxy& proxy() const { return m_proxy; }
    // The largest body accepted; a larger one fails the retrieval with TooLarge.
    void setMaxBody(qint64 bytes) { m_maxBody = bytes; }
    // Called on the retrieving thread whenever bytes have arrived, with their number.
    void setProgressHook(std::function<void(qint64 bytes)> hook) { m_progress = std::move(hook); }

    // Ends the running transfer at its next network operation with success false. Safe from any
    // thread, and from within the progress hook.
    void abort() { m_aborted = true; }

    HttpResult get(const QUrl& url);

private:
    int m_timeoutMs;
    int m_deadlineMs = kDefaultDeadlineMs;
    HttpProxy m_proxy;
    qint64 m_maxBody = kDefaultMaxBody;
    std::function<void(qint64)> m_progress;
    std::atomic<bool> m_aborted = false;
};

// Runs `work` on a thread of its own and, until it has ended, goes on serving this thread's events
// except the user's input, so that printing, timers and repaints go on while the network is slow.
void runOffThread(const std::function<void()>& work);

// Inflates a zlib stream from the start of `data` to its end; bytes after it are ignored. Empty on
// any error, and when the inflated text would exceed `maxSize`.
QByteArray inflateZlibStream(QByteArrayView data, qint64 maxSize);

// The details text of an offered version: the body of a good retrieval of `url`, inflated when the
// URL ends with ".bzip". Empty when the URL is empty or anything fails; nothing is reported.
QByteArray fetchDetailsText(const QString& url, const AppSettings& settings);
