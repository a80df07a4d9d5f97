#include "app/SingleInstance.h"

#include "core/platform/NamedMutex.h"

#include <QCryptographicHash>
#include <QLocalSocket>

namespace {
const QByteArray kActivate = QByteArrayLiteral("activate\n");
}

QString SingleInstance::serverName(const QString& programPath)
{
    const QByteArray hash =
        QCryptographicHash::hash(programPath.toUpper().toUtf8(), QCryptographicHash::Sha256);
    // A full path in the user's own runtime directory: other users cannot reach it, and a test
    // with a runtime directory of its own has a program of its own.
    return platform::runtimeDirectory() + QStringLiteral("/tarnyx-") +
           QString::fromLatin1(hash.toHex().left(24)) + QStringLiteral(".socket");
}

bool SingleInstance::activateRunningCopy(const QString& programPath, std::function<void()> activate)
{
    const QString name = serverName(programPath);
    // Two copies started at the same moment must not both decide to be the first.
    platform::FileLockGuard guard(name + QStringLiteral(".lock"));
    {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(1000)) {
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
