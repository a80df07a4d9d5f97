#pragma once

#include <QByteArrayView>
#include <QDate>
#include <QString>

struct AppSettings;

// What the publisher's version descriptor says of the program: the version published, the
// installer's address and size, and the address of a description of what is new.
struct VersionDescriptor
{
    qint32 size = 0; // bytes of the installer; 0 when missing or not a number
    QString version;
    QString url;
    QString info;
    // Hex SHA-256 digest of the installer; empty when the descriptor names none. A signed offer
    // without one is not offered, and an installer whose digest differs is never installed.
    QString sha256;
    // The descriptor as the server sent it and its detached signature, when it was retrieved with
    // one; they go with the package to the installation, which checks them again.
    QByteArray source;
    QByteArray signature;
};

// Reads a descriptor in the INI form (Windows-1250 text): the entries "Version", "URL", "Size"
// "Info" and "SHA256" of `section`. Section and entry names ignore letter case, the first of
// several counts, lines starting with ";" are comments, and whatever cannot be read stays empty.
VersionDescriptor parseVersionDescriptor(QByteArrayView body, const QString& section);

// A whole number as descriptors write it: decimal, or hexadecimal after "0x" or "$"; 0 when it
// is not one that fits 32 bits.
qint32 parseDescriptorInteger(QStringView text);

// The program's own version, four numbers "major.minor.release.build".
QString programVersion();

// 1 when `offered` is newer than `own`, -1 when older, 0 when equal or when `own` is empty.
// Up to four numbers separated by "." are compared; empty items are skipped, and a missing item
// or one that is not a number counts as 0.
int compareVersions(const QString& own, const QString& offered);

// "major.minor" of a version text, "?.?" when it has fewer than two items.
QString majorMinor(const QString& version);

// The form the about box shows: major, minor with at least two digits, build ("1.05.12" for
// 1.5.0.12); empty for a text of fewer than four items.
QString displayVersion(const QString& version);

// Days since 30 December 1899, the form the day of the last check is stored in.
int dayNumber(const QDate& date);

// True when the automatic version check is due at a start today: it is switched on and the last
// successful check was on another day (also a later one, after the clock was set back).
bool automaticCheckDue(const AppSettings& settings, const QDate& today);
