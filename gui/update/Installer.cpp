// The installer of a new version: its file name, the probe of the program's directory and its
// start.
#include "gui/update/Installer.h"

#include "core/config/RegistryIni.h"
#include "gui/common/MessageDlg.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

const QString kProbeName = QStringLiteral("$dummy$.~~~");

QString updateCaption()
{
    return productKeys().productKey + u" - Aktualizace";
}

// Hands a downloaded package to apt-get as root. pkexec asks through the desktop's polkit agent
// and gives apt-get a clean environment; the package's path is absolute, so apt-get takes it for
// a file, never for a package name or an option. dpkg keeps changed configuration files without
// asking, since no terminal is there to answer. The process outlives the program, which ends
// once it has started, as it does for any installer.
bool installPackage(const QString& packagePath, QWidget* parent)
{
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    const QString path = QFileInfo(packagePath).absoluteFilePath();
    if (!pkexec.isEmpty() &&
        QProcess::startDetached(
            pkexec,
            {QStringLiteral("/usr/bin/apt-get"), QStringLiteral("install"), QStringLiteral("--yes"),
             QStringLiteral("-o"), QStringLiteral("Dpkg::Options::=--force-confdef"),
             QStringLiteral("-o"), QStringLiteral("Dpkg::Options::=--force-confold"), path}))
        return true;
    messageDlg(QStringLiteral("Instalaci nové verze nelze spustit.\r\rNovou verzi nainstalujte "
                              "ručně s právy správce ze souboru \r%1. ")
                   .arg(path),
               MsgKind::Error, {MsgButton::Ok}, updateCaption(), parent);
    return false;
}

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
    if (installerPath.endsWith(QStringLiteral(".deb"), Qt::CaseInsensitive))
        return installPackage(installerPath, parent);
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
               MsgKind::Error, {MsgButton::Ok}, updateCaption(), parent);
    return false;
}
