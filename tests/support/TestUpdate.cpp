#include "TestUpdate.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

bool runGpg(const QString& home, const QStringList& args, QByteArray* output = nullptr)
{
    QProcess gpg;
    gpg.start(QStringLiteral("gpg"),
              QStringList{QStringLiteral("--batch"), QStringLiteral("--quiet"),
                          QStringLiteral("--homedir"), home} +
                  args);
    if (!gpg.waitForFinished(60000) || gpg.exitStatus() != QProcess::NormalExit ||
        gpg.exitCode() != 0)
        return false;
    if (output)
        *output = gpg.readAllStandardOutput();
    return true;
}

} // namespace

TestSigner::TestSigner()
{
    QByteArray exported;
    m_valid =
        m_home.isValid() &&
        runGpg(m_home.path(),
               {QStringLiteral("--passphrase"), QString(), QStringLiteral("--quick-gen-key"),
                QStringLiteral("Test publisher <test@morvane.example>"), QStringLiteral("ed25519"),
                QStringLiteral("sign"), QStringLiteral("never")}) &&
        runGpg(m_home.path(), {QStringLiteral("--export")}, &exported);
    QFile keys(keyring());
    m_valid = m_valid && !exported.isEmpty() && keys.open(QIODevice::WriteOnly) &&
              keys.write(exported) == exported.size();
}

TestSigner::~TestSigner()
{
    QProcess::execute(QStringLiteral("gpgconf"),
                      {QStringLiteral("--homedir"), m_home.path(), QStringLiteral("--kill"),
                       QStringLiteral("gpg-agent")});
}

void TestSigner::trust() const
{
    qputenv("TARNYX_UPDATE_KEYRING", QFile::encodeName(keyring()));
}

QByteArray TestSigner::sign(const QByteArray& data, bool armour) const
{
    const QString in = m_home.filePath(QStringLiteral("data"));
    const QString out = in + QStringLiteral(".sig");
    QFile::remove(out);
    QFile file(in);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return {};
    file.close();
    QStringList args{QStringLiteral("--detach-sign"), QStringLiteral("--output"), out};
    if (armour)
        args << QStringLiteral("--armor");
    if (!runGpg(m_home.path(), args << in))
        return {};
    QFile sig(out);
    return sig.open(QIODevice::ReadOnly) ? sig.readAll() : QByteArray();
}

QByteArray makeTestPackage(const QString& name, const QString& version)
{
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("root"));
    if (!QDir().mkpath(root + QStringLiteral("/DEBIAN")))
        return {};
    QFile control(root + QStringLiteral("/DEBIAN/control"));
    if (!control.open(QIODevice::WriteOnly))
        return {};
    control.write(QStringLiteral("Package: %1\nVersion: %2\nArchitecture: all\n"
                                 "Maintainer: Test <test@morvane.example>\n"
                                 "Description: test package\n")
                      .arg(name, version)
                      .toUtf8());
    control.close();
    const QString deb = dir.filePath(QStringLiteral("test.deb"));
    QProcess build;
    build.start(QStringLiteral("dpkg-deb"),
                {QStringLiteral("--root-owner-group"), QStringLiteral("--build"), root, deb});
    if (!build.waitForFinished(60000) || build.exitCode() != 0)
        return {};
    QFile file(deb);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
