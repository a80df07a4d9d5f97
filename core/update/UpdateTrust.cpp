// The publisher's signature and the package check of the online update.
#include "core/update/UpdateTrust.h"

#include "core/platform/FileName.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kToolTimeoutMs = 30000;
// A detached signature is a few hundred bytes, armoured or not.
constexpr qint64 kMaxSignatureSize = 64 * 1024;
const QString kPackageName = QStringLiteral("tarnyx");

// Runs a verification tool to its end within the time limit; false when it could not start or
// had to be stopped.
bool runTool(QProcess& process, const QString& program, const QStringList& arguments)
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForStarted())
        return false;
    process.closeWriteChannel();
    if (!process.waitForFinished(kToolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    return process.exitStatus() == QProcess::NormalExit;
}

bool writeScratch(const QString& path, QByteArrayView bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(bytes.data(), bytes.size()) == bytes.size();
}

} // namespace

QString updateKeyring()
{
    const QString own = qEnvironmentVariable("TARNYX_UPDATE_KEYRING");
    return own.isEmpty() ? QString::fromLatin1(kInstalledUpdateKeyring) : own;
}

SignatureVerdict verifySignature(QByteArrayView data, QByteArrayView signature,
                                 const QString& keyring)
{
    if (signature.trimmed().isEmpty())
        return SignatureVerdict::Missing;
    const QFileInfo keys(keyring);
    if (!keys.isFile() || !keys.isReadable())
        return SignatureVerdict::NoKeyring;
    const QString gpgv = QStandardPaths::findExecutable(QStringLiteral("gpgv"));
    if (gpgv.isEmpty())
        return SignatureVerdict::NoVerifier;
    // gpgv gets a home of its own, so that no keyring of the user's counts, and the data and
    // signature as files of this process's private folder.
    QTemporaryDir scratch;
    const QString dataFile = scratch.filePath(QStringLiteral("data"));
    const QString sigFile = scratch.filePath(QStringLiteral("data.sig"));
    if (!scratch.isValid() || !writeScratch(dataFile, data) || !writeScratch(sigFile, signature))
        return SignatureVerdict::NoVerifier;
    QProcess process;
    if (!runTool(process, gpgv,
                 {QStringLiteral("--homedir"), scratch.path(), QStringLiteral("--status-fd"),
                  QStringLiteral("1"), QStringLiteral("--keyring"), keys.absoluteFilePath(),
                  QStringLiteral("--"), sigFile, dataFile}))
        return SignatureVerdict::NoVerifier;
    // A good exit alone could come from a signature without any of our keys behind it on some
    // versions; a VALIDSIG line says the key was in the keyring and the signature checks out.
    const QByteArray status = process.readAllStandardOutput();
    const bool valid =
        status.startsWith("[GNUPG:] VALIDSIG ") || status.contains("\n[GNUPG:] VALIDSIG ");
    return process.exitCode() == 0 && valid ? SignatureVerdict::Good : SignatureVerdict::Bad;
}

QString signatureProblemText(SignatureVerdict verdict, const QString& keyring)
{
    switch (verdict) {
    case SignatureVerdict::Good:
        return {};
    case SignatureVerdict::Missing:
        return QStringLiteral("Informace o verzi nejsou podepsány vydavatelem programu.");
    case SignatureVerdict::Bad:
        return QStringLiteral("Podpis informací o verzi není platný.");
    case SignatureVerdict::NoKeyring:
        return QStringLiteral("Podpis informací o verzi nelze ověřit, chybí klíč vydavatele %1.")
            .arg(keyring);
    case SignatureVerdict::NoVerifier:
        return QStringLiteral("Podpis informací o verzi nelze ověřit, program gpgv chybí nebo "
                              "selhal.");
    }
    return {};
}

SignedDescriptor retrieveSignedDescriptor(HttpClient& client, const QString& url,
                                          const QString& section, const QString& keyring)
{
    SignedDescriptor found;
    found.http = client.get(QUrl(url));
    if (!found.http.isGood())
        return found;
    client.setMaxBody(kMaxSignatureSize);
    const HttpResult signature = client.get(QUrl(url + u".sig"));
    if (!signature.isGood() && !(signature.success && signature.status == 404)) {
        found.http = signature;
        return found;
    }
    found.signature = verifySignature(found.http.body,
                                      signature.isGood() ? signature.body : QByteArray(), keyring);
    if (found.signature != SignatureVerdict::Good)
        return found;
    found.descriptor = parseVersionDescriptor(found.http.body, section);
    found.descriptor.source = found.http.body;
    found.descriptor.signature = signature.body;
    return found;
}

bool isSha256Text(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text)
        if (!(c.isDigit() || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    return true;
}

QString sha256OfFile(int fd)
{
    QFile file;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (::lseek(fd, 0, SEEK_SET) != 0 || !file.open(fd, QIODevice::ReadOnly) ||
        !hash.addData(&file))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

QString checkPackage(const QString& path, const QString& sha256, const QString& version)
{
    const int fd = ::open(platform::encodeFileName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
    struct stat st
    {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        return QStringLiteral("soubor nelze přečíst");
    }
    const QString digest = sha256OfFile(fd);
    ::close(fd);
    if (!isSha256Text(sha256) || digest.compare(sha256, Qt::CaseInsensitive) != 0)
        return QStringLiteral("kontrolní součet SHA-256 %1 místo %2")
            .arg(digest, sha256.trimmed().toLower());
    const QString dpkgDeb = QStandardPaths::findExecutable(QStringLiteral("dpkg-deb"));
    QProcess process;
    if (dpkgDeb.isEmpty() ||
        !runTool(process, dpkgDeb,
                 {QStringLiteral("--field"), QStringLiteral("--"), path, QStringLiteral("Package"),
                  QStringLiteral("Version")}) ||
        process.exitCode() != 0)
        return QStringLiteral("soubor není instalační balíček");
    QString package;
    QString packageVersion;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        if (line.startsWith("Package:"))
            package = QString::fromUtf8(line.mid(8)).trimmed();
        else if (line.startsWith("Version:"))
            packageVersion = QString::fromUtf8(line.mid(8)).trimmed();
    }
    if (package != kPackageName)
        return QStringLiteral("balíček %1 místo %2").arg(package, kPackageName);
    if (packageVersion != version)
        return QStringLiteral("balíček verze %1 místo %2").arg(packageVersion, version);
    return {};
}
