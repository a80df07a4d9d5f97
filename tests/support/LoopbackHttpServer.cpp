#include "LoopbackHttpServer.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <zlib.h>

LoopbackHttpServer::LoopbackHttpServer()
    : LoopbackHttpServer(Answer{{Piece{answerBytes("not here", 404)}}})
{}

LoopbackHttpServer::LoopbackHttpServer(Answer otherPaths) : m_otherPaths(std::move(otherPaths))
{
    start();
    m_ready.acquire();
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    m_stop = true;
    wait();
}

QString LoopbackHttpServer::url(const QString& path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void LoopbackHttpServer::setAnswer(const QString& path, Answer answer)
{
    const QMutexLocker lock(&m_mutex);
    m_answers.insert(path, std::move(answer));
}

void LoopbackHttpServer::setBody(const QString& path, const QByteArray& body, int status)
{
    setAnswer(path, Answer{{Piece{answerBytes(body, status)}}});
}

QByteArray LoopbackHttpServer::answerBytes(const QByteArray& body, int status)
{
    return "HTTP/1.0 " + QByteArray::number(status) +
           " X\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray LoopbackHttpServer::zlibCompressed(const QByteArray& text)
{
    uLongf size = compressBound(uLong(text.size()));
    QByteArray out(qsizetype(size), '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(text.constData()), uLong(text.size()));
    out.truncate(qsizetype(size));
    return out;
}

QList<QByteArray> LoopbackHttpServer::requests() const
{
    const QMutexLocker lock(&m_mutex);
    return m_requests;
}

QStringList LoopbackHttpServer::requestedPaths() const
{
    QStringList paths;
    for (const QByteArray& request : requests())
        paths << pathOf(request);
    return paths;
}

QString LoopbackHttpServer::pathOf(const QByteArray& request)
{
    // The request line's target is a path, or a whole URL when the request came through a proxy.
    const QList<QByteArray> words = request.left(request.indexOf('\r')).split(' ');
    return words.size() > 1 ? QUrl(QString::fromLatin1(words.at(1))).path() : QString();
}

void LoopbackHttpServer::run()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    m_port = server.serverPort();
    m_ready.release();
    while (!m_stop) {
        if (!server.waitForNewConnection(50))
            continue;
        QTcpSocket* socket = server.nextPendingConnection();
        serve(socket);
        delete socket;
    }
}

void LoopbackHttpServer::serve(QTcpSocket* socket)
{
    QByteArray request;
    while (!request.contains("\r\n\r\n") && socket->waitForReadyRead(5000))
        request += socket->readAll();
    request.truncate(request.indexOf("\r\n\r\n") + 4);
    Answer answer;
    {
        const QMutexLocker lock(&m_mutex);
        m_requests << request;
        answer = m_answers.value(pathOf(request), m_otherPaths);
    }
    for (const Piece& piece : std::as_const(answer.pieces)) {
        QThread::msleep(piece.pauseMs);
        socket->write(piece.bytes);
        socket->waitForBytesWritten(5000);
        if (socket->state() != QAbstractSocket::ConnectedState)
            return;
    }
    if (answer.hang) {
        while (!m_stop && socket->state() == QAbstractSocket::ConnectedState)
            socket->waitForDisconnected(50);
    }
    socket->disconnectFromHost();
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->waitForDisconnected(5000);
}
