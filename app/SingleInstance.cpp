#include "app/SingleInstance.h"

#include "core/platform/NamedMutex.h"

#include <QCryptographicHash>
#include <QLocalSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray kActivate = QByteArrayLiteral("activate\n");

// Whether the process at the other end of `socket` runs as this user: only such a copy may be
// asked to show itself, or ask this one.
bool peerIsThisUser(const QLocalSocket& socket)
{
    struct ucred peer = {};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) ==
               0 &&
           peer.uid == ::geteuid();
}

} // namespace

QString SingleInstance::serverName(const QString& programPath)
{
    const QByteArray hash =
        QCryptographicHash::hash(programPath.toUpper().toUtf8(), QCryptographicHash::Sha256);
    // A full path in the user's own runtime directory: other users cannot reach it, and a test
    // with a runtime directory of its own has a program of its own.
    const QString dir = platform::runtimeDirectory();
    if (dir.isEmpty())
        return {};
    return dir + QStringLiteral("/tarnyx-") + QString::fromLatin1(hash.toHex().left(24)) +
           QStringLiteral(".socket");
}

bool SingleInstance::activateRunningCopy(const QString& programPath, std::function<void()> activate)
{
    const QString name = serverName(programPath);
    if (name.isEmpty())
        return false; // nowhere only this user can reach: the program runs without activation
    // Two copies started at the same moment must not both decide to be the first.
    platform::FileLockGuard guard(name + QStringLiteral(".lock"));
    if (!guard.locked())
        return false;
    {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(1000) && peerIsThisUser(socket)) {
            socket.write(kActivate);
            socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return true;
        }
    }
    // Nobody answers: a socket file left by a copy that crashed is in the way.
    QLocalServer::removeServer(name);
    m_server = std::make_unique<QLocalServer>();
    if (!m_server->listen(name))
        return false; // the program runs all the same, only without activation
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(),
                     [server = m_server.get(), activate] {
                         while (QLocalSocket* s = server->nextPendingConnection()) {
                             if (!peerIsThisUser(*s)) {
                                 s->abort();
                                 s->deleteLater();
                                 continue;
                             }
                             auto answer = [s, activate] {
                                 if (s->canReadLine() && s->readLine() == kActivate && activate)
                                     activate();
                             };
                             QObject::connect(s, &QLocalSocket::readyRead, s, answer);
                             QObject::connect(s, &QLocalSocket::disconnected, s,
                                              &QObject::deleteLater);
                             answer();
                         }
                     });
    return false;
}
