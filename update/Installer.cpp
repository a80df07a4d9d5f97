// The installer of a new version: its file name, the probe of the program's directory and its
// start.
#include "update/Installer.h"

#include "config/RegistryIni.h"
#include "core/MessageDlg.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

const QString kProbeName = QStringLiteral("$dummy$.~~~");

} // namespace

QString urlFileName(const QString& url)
{
    return url.mid(url.lastIndexOf(u'/') + 1);
}

bool canWriteAppDir(const QString& dir)
{
    const QString name = QDir(dir).filePath(kProbeName);
    QDir root;
    // A probe that was interrupted may have left its directory or its file behind; either would
    // make every later probe fail.
    root.rmdir(name);
    QFile::remove(name);
    if (!root.mkdir(name))
        return false;
    root.rmdir(name);
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray content = name.toLatin1();
    const bool written = file.write(content) == content.size() && file.flush();
    file.close();
    file.remove();
    return written;
}

bool runInstaller(const QString& installerPath, const QString& appDir, QWidget* parent)
{
    if (canWriteAppDir(appDir)) {
        QString target = appDir;
        while (target.size() > 1 && target.endsWith(u'/'))
            target.chop(1);
        // An argument list, never a shell: the directory is one argument whatever it contains.
        return QProcess::startDetached(installerPath,
                                       {QStringLiteral("/SP-"), QStringLiteral("/silent"),
                                        QStringLiteral("/noicons"), u"/dir=" + target});
    }
    messageDlg(QStringLiteral("Zápis do složky s aplikací byl odepřen.\r\rPro instalaci nové verze "
                              "je nezbytné zápis umožnit např. nastavením práv zápisu  \rdo složky "
                              "%1 \rnebo přihlášením uživatele s příslušnými právy. \rPo provedení "
                              "nápravy proveďte instalaci ručně spuštěním instalačního \rsouboru "
                              "%2. ")
                   .arg(appDir, installerPath),
               MsgKind::Error, {MsgButton::Ok}, productKeys().productKey + u" - Aktualizace",
               parent);
    return false;
}
