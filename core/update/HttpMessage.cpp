#include "core/update/HttpMessage.h"

#include "core/update/HexDigit.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int kDefaultPort = 80;
constexpr QByteArrayView kHttpPrefix = "HTTP/";
constexpr QByteArrayView kUserAgent = "Mozilla/4.0 (compatible; Synapse)";

// The host as written in a request: an IPv6 address in brackets.
QByteArray requestHost(const QUrl& url)
{
    const QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (!host.contains(':'))
        return host;
    return QByteArray('[' + host + ']');
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

bool equalsIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A decimal number of at most 18 digits, so that it fits in 64 bits; -1 otherwise.
qint64 decimalOf(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18)
        return -1;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

QByteArray formatHttpRequest(const QUrl& url, bool throughProxy)
{
    const int port = url.port(kDefaultPort);
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    if (throughProxy)
        target = "http://" + requestHost(url) + ':' + QByteArray::number(port) + target;

    QByteArray request = "GET " + target + " HTTP/1.0\r\n";
    request += "Host: " + requestHost(url);
    if (port != kDefaultPort)
        request += ':' + QByteArray::number(port);
    request += "\r\n";
    request += "User-Agent: " + kUserAgent.toByteArray() + "\r\n";
    request += "Content-Length: 0\r\n";
    const QString user = url.userName(QUrl::FullyDecoded);
    const QString password = url.password(QUrl::FullyDecoded);
    if (!user.isEmpty() || !password.isEmpty()) {
        const QByteArray credentials = (user + QLatin1Char(':') + password).toUtf8();
        request += "Authorization: Basic " + credentials.toBase64() + "\r\n";
    }
    request += "\r\n";
    return request;
}

HttpResponseParser::HttpResponseParser(qint64 maxBody) : m_maxBody(std::max<qint64>(maxBody, 0))
{}

void HttpResponseParser::fail(HttpFailure failure)
{
    m_state = State::Failed;
    m_failure = failure;
    m_line.clear();
}

void HttpResponseParser::feed(QByteArrayView data)
{
    while (!data.isEmpty()) {
        switch (m_state) {
        case State::Done:
        case State::Failed:
            return;
        case State::Prefix: {
            // Take bytes while they still match "HTTP/"; the first that does not makes the whole
            // answer the body.
            while (!data.isEmpty() && m_line.size() < kHttpPrefix.size() &&
                   data.front() == kHttpPrefix[m_line.size()]) {
                m_line += data.front();
                data = data.sliced(1);
            }
            if (m_line.size() == kHttpPrefix.size()) {
                m_headerBytes = m_line.size();
                m_state = State::StatusLine;
            } else if (!data.isEmpty()) {
                m_status = 0;
                m_state = State::UntilClose;
                const QByteArray taken = std::exchange(m_line, {});
                takeBody(taken);
            }
            break;
        }
        case State::LengthBody:
        case State::ChunkData: {
            const qsizetype n = qsizetype(std::min<qint64>(m_remaining, data.size()));
            takeBody(data.first(n));
            data = data.sliced(n);
            m_remaining -= n;
            if (m_state == State::LengthBody && m_remaining == 0)
                m_state = State::Done;
            else if (m_state == State::ChunkData && m_remaining == 0)
                m_state = State::ChunkDataEnd;
            break;
        }
        case State::UntilClose:
            takeBody(data);
            data = {};
            break;
        default: {
            bool complete = false;
            data = data.sliced(takeLine(data, complete));
            if (complete) {
                onLine();
                m_line.clear();
            }
            break;
        }
        }
    }
}

qsizetype HttpResponseParser::takeLine(QByteArrayView data, bool& complete)
{
    const qsizetype lf = data.indexOf('\n');
    complete = lf >= 0;
    const qsizetype used = complete ? lf + 1 : data.size();
    const bool inHeaders =
        m_state == State::StatusLine || m_state == State::Headers || m_state == State::Trailers;
    if (inHeaders)
        m_headerBytes += used;
    if (m_line.size() + used > kMaxHeaderBytes || m_headerBytes > kMaxHeaderBytes) {
        fail(HttpFailure::Protocol);
        return data.size();
    }
    m_line += data.first(complete ? lf : used);
    if (complete && m_line.endsWith('\r'))
        m_line.chop(1);
    return used;
}

void HttpResponseParser::takeBody(QByteArrayView data)
{
    if (m_body.size() + data.size() > m_maxBody) {
        fail(HttpFailure::TooLarge);
        return;
    }
    m_body += data;
}

void HttpResponseParser::onLine()
{
    switch (m_state) {
    case State::StatusLine:
        onStatusLine();
        break;
    case State::Headers:
        onHeaderLine();
        break;
    case State::ChunkSize:
        onChunkSizeLine();
        break;
    case State::ChunkDataEnd:
        if (m_line.isEmpty())
            m_state = State::ChunkSize;
        else
            fail(HttpFailure::Protocol);
        break;
    case State::Trailers:
        if (m_line.isEmpty())
            m_state = State::Done;
        break;
    default:
        break;
    }
}

// "HTTP/" has been read; the rest is the version, a blank, three digits and the reason phrase.
void HttpResponseParser::onStatusLine()
{
    const QByteArrayView line(m_line);
    const qsizetype blank = line.indexOf(' ');
    if (blank < 0) {
        fail(HttpFailure::Protocol);
        return;
    }
    QByteArrayView code = line.sliced(blank);
    while (!code.isEmpty() && code.front() == ' ')
        code = code.sliced(1);
    const qsizetype end = code.indexOf(' ');
    if (end >= 0)
        code = code.first(end);
    const qint64 value = code.size() == 3 ? decimalOf(code) : -1;
    if (value < 0) {
        fail(HttpFailure::Protocol);
        return;
    }
    m_status = int(value);
    m_state = State::Headers;
}

void HttpResponseParser::onHeaderLine()
{
    if (m_line.isEmpty()) {
        onHeadersEnd();
        return;
    }
    const QByteArrayView line(m_line);
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || isBlank(line.front()))
        return; // not a header, or a folded continuation: neither matters here
    const QByteArrayView name = line.first(colon);
    const QByteArrayView value = trimmed(line.sliced(colon + 1));
    if (equalsIgnoringCase(name, "Content-Length")) {
        const qint64 length = decimalOf(value);
        // Two different lengths leave the body's end unknown.
        if (length < 0 || (m_contentLength >= 0 && m_contentLength != length)) {
            fail(HttpFailure::Protocol);
            return;
        }
        m_contentLength = length;
    } else if (equalsIgnoringCase(name, "Transfer-Encoding")) {
        // Chunked only when it is the last coding applied.
        const qsizetype comma = value.lastIndexOf(',');
        const QByteArrayView last = trimmed(comma < 0 ? value : value.sliced(comma + 1));
        m_chunked = equalsIgnoringCase(last, "chunked");
    }
}

void HttpResponseParser::onHeadersEnd()
{
    m_headerBytes = 0;
    if (m_chunked) {
        m_state = State::ChunkSize;
    } else if (m_contentLength >= 0) {
        if (m_contentLength > m_maxBody) {
            fail(HttpFailure::TooLarge);
            return;
        }
        m_remaining = m_contentLength;
        m_state = m_remaining == 0 ? State::Done : State::LengthBody;
    } else {
        m_state = State::UntilClose;
    }
}

// The size in hexadecimal, then optional extensions after ";".
void HttpResponseParser::onChunkSizeLine()
{
    const QByteArrayView line = trimmed(m_line);
    qsizetype digits = 0;
    qint64 size = 0;
    while (digits < line.size() && hexDigitValue(line[digits]) >= 0) {
        if (digits == 15) { // more than 60 bits: no body of that size is accepted anyway
            fail(HttpFailure::TooLarge);
            return;
        }
        size = size * 16 + hexDigitValue(line[digits]);
        ++digits;
    }
    const QByteArrayView rest = trimmed(line.sliced(digits));
    if (digits == 0 || (!rest.isEmpty() && rest.front() != ';')) {
        fail(HttpFailure::Protocol);
        return;
    }
    if (size > m_maxBody - m_body.size()) {
        fail(HttpFailure::TooLarge);
        return;
    }
    m_remaining = size;
    m_state = size == 0 ? State::Trailers : State::ChunkData;
}

void HttpResponseParser::finish()
{
    switch (m_state) {
    case State::Prefix:
        // Nothing at all is no answer; a few bytes that began like "HTTP/" are the whole body.
        if (m_line.isEmpty()) {
            fail(HttpFailure::Closed);
        } else {
            m_status = 0;
            m_state = State::UntilClose;
            const QByteArray taken = std::exchange(m_line, {});
            takeBody(taken);
            if (m_state == State::UntilClose)
                m_state = State::Done;
        }
        break;
    case State::UntilClose:
        m_state = State::Done;
        break;
    case State::Done:
    case State::Failed:
        break;
    default:
        fail(HttpFailure::Closed);
        break;
    }
}
