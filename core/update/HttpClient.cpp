// The HTTP/1.0 client of the online update.
#include "core/update/HttpClient.h"

#include "core/config/AppSettings.h"
#include "core/config/SettingsConstants.h"
#include "core/config/SystemProxy.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QThread>

#include <zlib.h>

#include <algorithm>

namespace {

// Waits for the server are cut into slices this long, so that an abort from another thread ends a
// transfer promptly even while the server is silent.
constexpr int kWaitSliceMs = 100;
// A desktop proxy named without a port is taken to listen on the http port.
constexpr int kProxyDefaultPort = 80;

// A port from its decimal text; 0 when it is not one.
quint16 portOf(const QString& text)
{
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : 0;
}

} // namespace

HttpProxy proxyForRetrieval(const AppSettings& settings, const SystemProxy* system)
{
    if (settings.proxyServer) {
        if (settings.proxyAddr.isEmpty())
            return {};
        return {settings.proxyAddr, settings.proxyPort};
    }
    if (system && !system->http.host.isEmpty()) {
        const int port = system->http.port > 0 ? system->http.port : kProxyDefaultPort;
        return {system->http.host, QString::number(port)};
    }
    return {};
}

HttpProxy proxyForRetrieval(const AppSettings& settings)
{
    if (settings.proxyServer)
        return proxyForRetrieval(settings, nullptr);
    SystemProxy system;
    return proxyForRetrieval(settings, readSystemProxy(system) ? &system : nullptr);
}

HttpClient::HttpClient() : m_timeoutMs(settingsConstants().socketTimeout)
{
    if (m_timeoutMs <= 0)
        m_timeoutMs = kDefaultTimeoutMs;
}

HttpResult HttpClient::get(const QUrl& url)
{
    HttpResult result;
    const auto failWith = [&result](HttpFailure failure) {
        result.success = false;
        result.failure = failure;
        return result;
    };
    if (!url.isValid() || url.scheme().compare(u"http", Qt::CaseInsensitive) != 0 ||
        url.host().isEmpty())
        return failWith(HttpFailure::InvalidUrl);
    if (m_aborted)
        return failWith(HttpFailure::Aborted);
    const QDeadlineTimer deadline =
        m_deadlineMs > 0 ? QDeadlineTimer(m_deadlineMs) : QDeadlineTimer(QDeadlineTimer::Forever);
    // The wait for the server: the timeout, or less when the deadline comes first.
    const auto wait = [&deadline](qint64 timeout) {
        const qint64 left = deadline.isForever() ? timeout : deadline.remainingTime();
        return int(std::max<qint64>(0, std::min(timeout, left)));
    };

    const bool throughProxy = !m_proxy.host.isEmpty();
    const QString host = throughProxy ? m_proxy.host : url.host();
    const quint16 port = throughProxy ? portOf(m_proxy.port) : quint16(url.port(80));
    if (port == 0)
        return failWith(HttpFailure::Connect);

    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy); // the proxy, if any, is spoken to directly
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(wait(m_timeoutMs)))
        return failWith(deadline.hasExpired() ? HttpFailure::Timeout : HttpFailure::Connect);

    const QByteArray request = formatHttpRequest(url, throughProxy);
    socket.write(request);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(wait(m_timeoutMs)))
            return failWith(socket.error() == QAbstractSocket::SocketTimeoutError ||
                                    deadline.hasExpired()
                                ? HttpFailure::Timeout
                                : HttpFailure::Closed);
    }

    HttpResponseParser parser(m_maxBody);
    const auto finishWith = [&](HttpFailure failure) {
        result.status = parser.statusCode();
        result.body = parser.body();
        result.failure = failure;
        result.success = failure == HttpFailure::None;
        return result;
    };
    QElapsedTimer silence;
    silence.start();
    while (!parser.isDone() && !parser.hasFailed()) {
        if (m_aborted)
            return finishWith(HttpFailure::Aborted);
        if (socket.bytesAvailable() > 0) {
            const QByteArray data = socket.readAll();
            parser.feed(data);
            if (m_progress)
                m_progress(data.size());
            silence.restart();
            continue;
        }
        if (socket.state() != QAbstractSocket::ConnectedState) {
            parser.finish();
            break;
        }
        const int left = wait(m_timeoutMs - silence.elapsed());
        if (left <= 0)
            return finishWith(HttpFailure::Timeout);
        // Returns on data, on the end of the connection (seen above next time round) or after
        // the slice.
        socket.waitForReadyRead(std::min(left, kWaitSliceMs));
    }
    return finishWith(parser.failure());
}

void runOffThread(const std::function<void()>& work)
{
    QEventLoop loop;
    QThread* thread = QThread::create(work);
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    thread->start();
    if (!thread->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    delete thread;
}

QByteArray inflateZlibStream(QByteArrayView data, qint64 maxSize)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return {};
    QByteArray out;
    char buffer[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    // zlib counts in 32 bits; a longer input is handed over in pieces.
    qsizetype left = data.size();
    int rc = Z_OK;
    while (rc == Z_OK) {
        if (stream.avail_in == 0) {
            const uInt piece = uInt(std::min<qsizetype>(left, 1 << 30));
            stream.avail_in = piece;
            left -= piece;
        }
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        rc = inflate(&stream, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof buffer - stream.avail_out);
        if (out.size() + produced > maxSize) {
            rc = Z_BUF_ERROR;
            break;
        }
        out.append(buffer, produced);
        // No progress with no input left: the stream is cut short.
        if (rc == Z_BUF_ERROR || (rc == Z_OK && stream.avail_in == 0 && left == 0 && produced == 0))
            break;
    }
    inflateEnd(&stream);
    return rc == Z_STREAM_END ? out : QByteArray();
}

QByteArray fetchDetailsText(const QString& url, const AppSettings& settings)
{
    if (url.isEmpty())
        return {};
    HttpClient client;
    client.setProxy(proxyForRetrieval(settings));
    const HttpResult result = client.get(QUrl(url));
    if (!result.isGood())
        return {};
    if (url.endsWith(u".bzip", Qt::CaseInsensitive))
        return inflateZlibStream(result.body, HttpClient::kDefaultMaxBody);
    return result.body;
}
