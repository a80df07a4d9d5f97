#pragma once

// The bytes of an HTTP/1.0 exchange, without any socket: the request the update sends and a parser
// of the answer fed as it arrives. Both are pure so that they can be tested and fuzzed alone.

#include <QByteArray>
#include <QByteArrayView>
#include <QUrl>

// Why a retrieval did not succeed.
enum class HttpFailure
{
    None,
    InvalidUrl, // not an absolute http URL with a host
    Connect,    // no connection to the server or the proxy
    Timeout,    // one wait for the server took longer than the timeout
    Aborted,    // the caller aborted the transfer
    Closed,     // the connection ended before the whole answer
    Protocol,   // the answer is not HTTP that can be read
    TooLarge,   // the body is larger than the caller allows
};

// The GET request for `url`: the request line (the absolute form when it goes to a proxy), Host,
// User-Agent, Content-Length 0 and, when the URL carries a user name or password, Basic
// credentials. Nothing else: no Connection, no Accept, no cookies.
QByteArray formatHttpRequest(const QUrl& url, bool throughProxy);

// Reads an answer as its bytes arrive. The status code is 500 until a status line has been read,
// and 0 for an answer that does not begin with "HTTP/" (all of which is then the body). The body
// ends after Content-Length bytes, at the last chunk of a chunked body, or when the connection
// ends. A body larger than `maxBody` fails with TooLarge, and the status line and headers may take
// at most kMaxHeaderBytes, so no answer can take more memory than the caller allows.
class HttpResponseParser
{
public:
    static constexpr qsizetype kMaxHeaderBytes = 64 * 1024;

    explicit HttpResponseParser(qint64 maxBody);

    // Takes the next bytes of the answer. Bytes after a complete answer are ignored.
    void feed(QByteArrayView data);
    // The connection has ended: completes a body that runs until the close, fails any other.
    void finish();

    bool isDone() const { return m_state == State::Done; }
    bool hasFailed() const { return m_state == State::Failed; }
    HttpFailure failure() const { return m_failure; }
    int statusCode() const { return m_status; }
    const QByteArray& body() const { return m_body; }

private:
    enum class State
    {
        Prefix,     // not yet known whether the answer begins with "HTTP/"
        StatusLine, // the rest of the status line
        Headers,
        LengthBody,
        ChunkSize,
        ChunkData,
        ChunkDataEnd, // the line end after a chunk's data
        Trailers,
        UntilClose,
        Done,
        Failed,
    };

    void fail(HttpFailure failure);
    // Appends to the line being read up to its LF; returns the bytes used, and sets `complete`
    // when the line is whole (it is then in m_line without its CR LF).
    qsizetype takeLine(QByteArrayView data, bool& complete);
    void takeBody(QByteArrayView data);
    void onLine();
    void onStatusLine();
    void onHeaderLine();
    void onHeadersEnd();
    void onChunkSizeLine();

    qint64 m_maxBody;
    State m_state = State::Prefix;
    HttpFailure m_failure = HttpFailure::None;
    int m_status = 500;
    QByteArray m_line;
    qsizetype m_headerBytes = 0; // status line and headers, or the trailers, read so far
    qint64 m_contentLength = -1;
    bool m_chunked = false;
    qint64 m_remaining = 0; // of the Content-Length body or of the current chunk
    QByteArray m_body;
};
