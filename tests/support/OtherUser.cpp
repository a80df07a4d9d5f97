#include "OtherUser.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace OtherUser {

QString unavailableReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("running as another user needs root");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("running as another user needs setpriv (util-linux)");
    return {};
}

QStringList command(const QStringList& command)
{
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=%1").arg(kUid),
                       QStringLiteral("--regid=%1").arg(kGid), QStringLiteral("--clear-groups"),
                       QStringLiteral("--")} +
           command;
}

int shell(const QString& script, QByteArray* output)
{
    QProcess process;
    const QStringList line = command({QStringLiteral("/bin/sh"), QStringLiteral("-c"), script});
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(line.first(), line.mid(1));
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void letThrough(const QString& path)
{
    QString dir = QFileInfo(path).absoluteFilePath();
    while (!dir.isEmpty() && dir != QLatin1String("/")) {
        struct stat st
        {};
        const QByteArray native = QFile::encodeName(dir);
        if (::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            ::chmod(native.constData(), (st.st_mode & 07777) | S_IXOTH);
        dir = QFileInfo(dir).absolutePath();
    }
}

} // namespace OtherUser
