#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A publisher for tests of the update: an OpenPGP key of its own made with gpg, its public
// keyring as the package installs the real one, and detached signatures made with it.
class TestSigner
{
public:
    TestSigner();
    ~TestSigner(); // stops the gpg agent of its home
    TestSigner(const TestSigner&) = delete;
    TestSigner& operator=(const TestSigner&) = delete;

    bool isValid() const { return m_valid; }
    QString keyring() const { return m_home.filePath(QStringLiteral("keyring.gpg")); }
    // Makes this keyring the one the program checks against (TARNYX_UPDATE_KEYRING).
    void trust() const;
    // A detached signature of `data`, binary or ASCII-armoured.
    QByteArray sign(const QByteArray& data, bool armour = false) const;

private:
    QTemporaryDir m_home;
    bool m_valid = false;
};

// A Debian package with the control fields Package `name` and Version `version` and nothing to
// install; empty when dpkg-deb failed.
QByteArray makeTestPackage(const QString& name, const QString& version);
