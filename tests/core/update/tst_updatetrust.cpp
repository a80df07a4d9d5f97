#include "core/update/UpdateInstall.h"
#include "core/update/UpdateTrust.h"

#include "support/TestUpdate.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray descriptorFor(const QByteArray& version, const QString& digest)
{
    return "[Tarnyx]\r\nVersion=" + version + "\r\nURL=http://x/tarnyx_" + version +
           "_all.deb\r\nSHA256=" + digest.toLatin1() + "\r\n";
}

} // namespace

class TestUpdateTrust : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void onlyThePublishersSignatureCounts();
    void packageMustBeTheOneOffered();
    void installStepChecksItsOwnCopy();

private:
    TestSigner m_publisher;
    TestSigner m_stranger;
    QTemporaryDir m_dir;
    QByteArray m_package;
};

void TestUpdateTrust::initTestCase()
{
    QVERIFY(m_publisher.isValid());
    QVERIFY(m_stranger.isValid());
    QVERIFY(m_dir.isValid());
    m_package = makeTestPackage(QStringLiteral("tarnyx"), QStringLiteral("2.0.0.1"));
    QVERIFY(!m_package.isEmpty());
}

void TestUpdateTrust::onlyThePublishersSignatureCounts()
{
    const QByteArray text = descriptorFor("99.0.0.0", sha256("evil"));
    const QString keys = m_publisher.keyring();
    QCOMPARE(verifySignature(text, m_publisher.sign(text), keys), SignatureVerdict::Good);
    QCOMPARE(verifySignature(text, m_publisher.sign(text, true), keys), SignatureVerdict::Good);
    // Whoever answers in the publisher's place can change the text or sign it with a key of
    // their own, but not make the publisher's signature fit.
    QByteArray changed = text;
    changed.replace("99.0.0.0", "99.0.0.1");
    QCOMPARE(verifySignature(changed, m_publisher.sign(text), keys), SignatureVerdict::Bad);
    QCOMPARE(verifySignature(text, m_stranger.sign(text), keys), SignatureVerdict::Bad);
    QCOMPARE(verifySignature(text, "not a signature", keys), SignatureVerdict::Bad);
    QCOMPARE(verifySignature(text, {}, keys), SignatureVerdict::Missing);
    QCOMPARE(verifySignature(text, m_publisher.sign(text), m_dir.filePath(QStringLiteral("none"))),
             SignatureVerdict::NoKeyring);
}

void TestUpdateTrust::packageMustBeTheOneOffered()
{
    const QString path = m_dir.filePath(QStringLiteral("tarnyx_2.0.0.1_all.deb"));
    QVERIFY(writeFile(path, m_package));
    const QString digest = sha256(m_package);
    QCOMPARE(checkPackage(path, digest.toUpper(), QStringLiteral("2.0.0.1")), QString());
    QVERIFY(
        checkPackage(path, sha256("other"), QStringLiteral("2.0.0.1")).startsWith(u"kontrolní"));
    QVERIFY(checkPackage(path, {}, QStringLiteral("2.0.0.1")).startsWith(u"kontrolní"));
    QCOMPARE(checkPackage(path, digest, QStringLiteral("3.0")),
             QStringLiteral("balíček verze 2.0.0.1 místo 3.0"));
    // The publisher's digest of a package of another name, or of a file that is no package.
    const QByteArray other =
        makeTestPackage(QStringLiteral("coreutils"), QStringLiteral("2.0.0.1"));
    QVERIFY(writeFile(path, other));
    QCOMPARE(checkPackage(path, sha256(other), QStringLiteral("2.0.0.1")),
             QStringLiteral("balíček coreutils místo tarnyx"));
    QVERIFY(writeFile(path, "#!/bin/sh\n"));
    QCOMPARE(checkPackage(path, sha256("#!/bin/sh\n"), QStringLiteral("2.0.0.1")),
             QStringLiteral("soubor není instalační balíček"));
    // Never read through a link.
    const QString link = m_dir.filePath(QStringLiteral("link.deb"));
    QVERIFY(writeFile(path, m_package));
    QVERIFY(QFile::link(path, link));
    QCOMPARE(checkPackage(link, digest, QStringLiteral("2.0.0.1")),
             QStringLiteral("soubor nelze přečíst"));
}

void TestUpdateTrust::installStepChecksItsOwnCopy()
{
    // The clerk's folder, the step's work root, and apt-get's stand-in, which records the path
    // it was given and the digest of that file at the time it ran.
    const QString clerk = m_dir.filePath(QStringLiteral("clerk"));
    const QString record = m_dir.filePath(QStringLiteral("apt.txt"));
    QVERIFY(QDir().mkpath(clerk));
    const QString apt = m_dir.filePath(QStringLiteral("apt-get"));
    QVERIFY(writeFile(
        apt, "#!/bin/sh\nfor a; do last=$a; done\n{ sha256sum \"$last\"; stat -c %a \"${last%/*}\" "
             "\"${last%/*/*}\"; } > '" +
                 QFile::encodeName(record) + "'\n"));
    QVERIFY(QFile::setPermissions(apt, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    UpdateInstallPlan plan{m_publisher.keyring(), m_dir.filePath(QStringLiteral("root-only")), apt,
                           QStringLiteral("1.0.0.1"), QStringLiteral("Tarnyx")};
    const QString descriptor = clerk + QStringLiteral("/tarnyx.inf");
    const QString signature = descriptor + QStringLiteral(".sig");
    const QString package = clerk + QStringLiteral("/tarnyx_2.0.0.1_all.deb");
    const auto offer = [&](const QByteArray& text, const QByteArray& sig, const QByteArray& deb) {
        QFile::remove(record);
        QFile::remove(package);
        QVERIFY(writeFile(descriptor, text) && writeFile(signature, sig) &&
                writeFile(package, deb));
    };
    const QByteArray good = descriptorFor("2.0.0.1", sha256(m_package));
    QString message;

    offer(good, m_publisher.sign(good), m_package);
    QCOMPARE(installUpdate(plan, descriptor, signature, package, message), 0);
    const QByteArray ran = readFile(record);
    const QByteArray expected =
        sha256(m_package).toLatin1() + "  " + QFile::encodeName(plan.workRoot) + "/update-";
    QVERIFY2(ran.startsWith(expected), ran.constData());
    QVERIFY2(ran.endsWith("\n700\n700\n"), ran.constData()); // nobody else may enter
    QVERIFY(!QFileInfo::exists(plan.workRoot));

    struct Refused
    {
        const char* what;
        QByteArray text;
        QByteArray sig;
        QByteArray deb;
    };
    const QByteArray older = descriptorFor("1.0.0.1", sha256(m_package));
    for (const Refused& r :
         {Refused{"a stranger's signature", good, m_stranger.sign(good), m_package},
          Refused{"a signed older version", older, m_publisher.sign(older), m_package},
          Refused{"another package under the signed name", good, m_publisher.sign(good),
                  m_package + "x"}}) {
        offer(r.text, r.sig, r.deb);
        message.clear();
        QVERIFY2(installUpdate(plan, descriptor, signature, package, message) == 1, r.what);
        QVERIFY2(!message.isEmpty() && !QFile::exists(record), r.what);
    }
    // A link under the package's name is not followed, even to the right package.
    offer(good, m_publisher.sign(good), {});
    const QString elsewhere = m_dir.filePath(QStringLiteral("elsewhere.deb"));
    QVERIFY(writeFile(elsewhere, m_package));
    QFile::remove(package);
    QVERIFY(QFile::link(elsewhere, package));
    QCOMPARE(installUpdate(plan, descriptor, signature, package, message), 1);
    QVERIFY(!QFile::exists(record));
}

QTEST_GUILESS_MAIN(TestUpdateTrust)
#include "tst_updatetrust.moc"
