// The privileged step of an update: copy, check, install.
#include "core/update/UpdateInstall.h"

#include "core/platform/FileName.h"
#include "core/platform/WholeFile.h"
#include "core/update/UpdateTrust.h"
#include "core/update/VersionInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Larger than any package of the program will be; a bound on what root copies.
constexpr off_t kMaxCopy = off_t(1024) * 1024 * 1024;

// Copies the regular file `source` (not a link, not a device or pipe, at most kMaxCopy bytes)
// to the new file `target`, mode 0600.
bool copyPlainFile(const QString& source, const QString& target)
{
    const int in = ::open(platform::encodeFileName(source).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
    if (in < 0)
        return false;
    struct stat st
    {};
    const int out = ::fstat(in, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxCopy
                        ? ::open(platform::encodeFileName(target).constData(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600)
                        : -1;
    const bool ok = out >= 0 && platform::copyAll(in, out) && ::fsync(out) == 0;
    ::close(in);
    if (out >= 0)
        ::close(out);
    return ok;
}

// The work root exists as a folder of this user that nobody else may write, not through a link.
bool makePrivateRoot(const QString& path)
{
    const QByteArray native = platform::encodeFileName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st
    {};
    return ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int checkAndInstall(const UpdateInstallPlan& plan, const QString& work, const QString& descriptor,
                    const QString& signature, const QString& package, QString& message)
{
    const QString ownDescriptor = work + u"/tarnyx.inf";
    const QString ownSignature = ownDescriptor + u".sig";
    const QString ownPackage = work + u'/' + QFileInfo(package).fileName();
    if (!ownPackage.endsWith(u".deb") || !copyPlainFile(descriptor, ownDescriptor) ||
        !copyPlainFile(signature, ownSignature) || !copyPlainFile(package, ownPackage)) {
        message = QStringLiteral("Soubory aktualizace nelze převzít.");
        return 1;
    }
    QFile source(ownDescriptor);
    QFile sig(ownSignature);
    if (!source.open(QIODevice::ReadOnly) || !sig.open(QIODevice::ReadOnly)) {
        message = QStringLiteral("Soubory aktualizace nelze převzít.");
        return 1;
    }
    const QByteArray text = source.readAll();
    const SignatureVerdict verdict = verifySignature(text, sig.readAll(), plan.keyring);
    if (verdict != SignatureVerdict::Good) {
        message = signatureProblemText(verdict, plan.keyring);
        return 1;
    }
    const VersionDescriptor offer = parseVersionDescriptor(text, plan.section);
    // A signed descriptor of an older version, sent again, must not take the program back.
    if (offer.version.isEmpty() || (!plan.installedVersion.isEmpty() &&
                                    compareVersions(plan.installedVersion, offer.version) != 1)) {
        message = QStringLiteral("Nabízená verze %1 není novější než nainstalovaná verze %2.")
                      .arg(offer.version, plan.installedVersion);
        return 1;
    }
    const QString fault = checkPackage(ownPackage, offer.sha256, offer.version);
    if (!fault.isEmpty()) {
        message = QStringLiteral("Stažený soubor je poškozen: %1.").arg(fault);
        return 1;
    }
    // dpkg keeps changed configuration files without asking, since no terminal is there to
    // answer; the path is absolute, so apt-get takes it for a file, never a package name.
    QProcess apt;
    apt.setProcessChannelMode(QProcess::ForwardedChannels);
    apt.start(plan.aptGet,
              {QStringLiteral("install"), QStringLiteral("--yes"), QStringLiteral("-o"),
               QStringLiteral("Dpkg::Options::=--force-confdef"), QStringLiteral("-o"),
               QStringLiteral("Dpkg::Options::=--force-confold"), ownPackage});
    if (!apt.waitForStarted() || !apt.waitForFinished(-1) ||
        apt.exitStatus() != QProcess::NormalExit) {
        message = QStringLiteral("Správce balíčků %1 nelze spustit.").arg(plan.aptGet);
        return 1;
    }
    return apt.exitCode();
}

} // namespace

UpdateInstallPlan updateInstallPlan()
{
    UpdateInstallPlan plan;
    plan.keyring = qEnvironmentVariableIsSet("PKEXEC_UID")
                       ? QString::fromLatin1(kInstalledUpdateKeyring)
                       : updateKeyring();
    plan.workRoot = QStringLiteral("/var/cache/tarnyx");
    plan.aptGet = QStringLiteral("/usr/bin/apt-get");
    QProcess query;
    query.start(QStringLiteral("dpkg-query"), {QStringLiteral("--showformat=${Version}"),
                                               QStringLiteral("--show"), QStringLiteral("tarnyx")});
    if (query.waitForFinished(30000) && query.exitStatus() == QProcess::NormalExit &&
        query.exitCode() == 0)
        plan.installedVersion = QString::fromLatin1(query.readAllStandardOutput()).trimmed();
    // The program's name, as its own copies read the descriptor; root reads no user settings.
    plan.section = QStringLiteral("Tarnyx");
    return plan;
}

int installUpdate(const UpdateInstallPlan& plan, const QString& descriptor,
                  const QString& signature, const QString& package, QString& message)
{
    QByteArray work = platform::encodeFileName(plan.workRoot + u"/update-XXXXXX");
    if (!makePrivateRoot(plan.workRoot) || !::mkdtemp(work.data())) {
        message = QStringLiteral("Pracovní složku %1 nelze vytvořit.").arg(plan.workRoot);
        return 1;
    }
    const QString workDir = platform::decodeFileName(work);
    const int status = checkAndInstall(plan, workDir, descriptor, signature, package, message);
    QDir(workDir).removeRecursively();
    // Nothing is left behind once no installation is running.
    ::rmdir(platform::encodeFileName(plan.workRoot).constData());
    return status;
}
