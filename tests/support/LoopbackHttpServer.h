#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QThread>
#include <QUrl>

#include <atomic>

// A web server on the loopback interface for tests of the update code. It runs on a thread of
// its own, because the HTTP client blocks the thread it runs on, and answers any number of
// connections one after the other until it is destroyed. Each answer is a list of pieces sent
// with a pause before each, so tests can stall, trickle or break off an answer. Requests are
// recorded up to their empty line, in the order they came.
class LoopbackHttpServer : public QThread
{
public:
    struct Piece
    {
        QByteArray bytes;
        int pauseMs = 0;
    };
    struct Answer
    {
        QList<Piece> pieces;
        bool hang = false; // keep the connection open after the last piece until the client leaves
    };

    // A path without an answer of its own gets a 404, or `otherPaths`.
    LoopbackHttpServer();
    explicit LoopbackHttpServer(Answer otherPaths);
    ~LoopbackHttpServer() override;

    quint16 port() const { return m_port; }
    // http://127.0.0.1:PORT + path
    QString url(const QString& path) const;

    // The answer for requests of `path` (the path of the request line, without the query).
    void setAnswer(const QString& path, Answer answer);
    // A complete "HTTP/1.0 200 OK" answer with a Content-Length.
    void setBody(const QString& path, const QByteArray& body, int status = 200);

    QList<QByteArray> requests() const;
    // The paths asked for, in order.
    QStringList requestedPaths() const;

    // A complete answer: status line, Content-Length, body.
    static QByteArray answerBytes(const QByteArray& body, int status = 200);
    // `text` as a zlib stream, the form of compressed (".bzip") details.
    static QByteArray zlibCompressed(const QByteArray& text);

protected:
    void run() override;

private:
    void serve(class QTcpSocket* socket);
    static QString pathOf(const QByteArray& request);

    mutable QMutex m_mutex;
    QHash<QString, Answer> m_answers;
    const Answer m_otherPaths;
    QList<QByteArray> m_requests;
    QSemaphore m_ready;
    quint16 m_port = 0;
    std::atomic<bool> m_stop = false;
};
