// The installation of a downloaded package.
#include "gui/update/Installer.h"

#include "core/config/RegistryIni.h"
#include "core/platform/CommandLine.h"
#include "gui/common/MessageDlg.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

QString g_helperPath; // empty: the installed one

QString updateCaption()
{
    return productKeys().productKey + u" - Aktualizace";
}

} // namespace

QString urlFileName(const QString& url)
{
    return url.mid(url.lastIndexOf(u'/') + 1);
}

bool isInstallablePackage(const QString& fileName)
{
    return fileName.size() > 4 && fileName.endsWith(QStringLiteral(".deb"), Qt::CaseInsensitive);
}

QString descriptorBeside(const QString& packagePath)
{
    return QFileInfo(packagePath).absolutePath() + QStringLiteral("/tarnyx.inf");
}

QString signatureBeside(const QString& packagePath)
{
    return descriptorBeside(packagePath) + QStringLiteral(".sig");
}

QString updateHelperPath()
{
    if (!g_helperPath.isEmpty())
        return g_helperPath;
    return QDir::cleanPath(platform::programDirectory() + u'/' +
                           QStringLiteral(TARNYX_UPDATE_HELPER_FROM_PROGRAM));
}

void setUpdateHelperPath(const QString& path)
{
    g_helperPath = path;
}

bool runInstaller(const QString& packagePath, QWidget* parent)
{
    const QString path = QFileInfo(packagePath).absoluteFilePath();
    if (!isInstallablePackage(QFileInfo(path).fileName())) {
        messageDlg(
            QStringLiteral("Soubor %1 není instalační balíček, a proto nebude spuštěn.").arg(path),
            MsgKind::Error, {MsgButton::Ok}, updateCaption(), parent);
        return false;
    }
    // pkexec asks through the desktop's polkit agent and gives the helper a clean environment.
    // The helper outlives the program, which ends once it has started, as it would for any
    // installer.
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    if (!pkexec.isEmpty() &&
        QProcess::startDetached(
            pkexec, {updateHelperPath(), descriptorBeside(path), signatureBeside(path), path}))
        return true;
    messageDlg(QStringLiteral("Instalaci nové verze nelze spustit.\r\rNovou verzi nainstalujte "
                              "ručně s právy správce ze souboru \r%1. ")
                   .arg(path),
               MsgKind::Error, {MsgButton::Ok}, updateCaption(), parent);
    return false;
}
