#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>

// The process-wide holder of the product key, which names the registry root, the autostart value
// and the product wherever the program names itself.
namespace platform {
class RegistryHive;
}

struct ProductKeys
{
    QString productKey;
    // Software\Morvane\<productKey>
    QString registryRoot() const;
};

// Created on first use, lives until the program ends.
ProductKeys& productKeys();

enum class RegRoot
{
    CurrentUser,
    LocalMachine
};

// An ini-file-like view of one registry key: sections are subkeys (a section may itself hold a
// backslash), identifiers are value names. Texts are trimmed on writing and on reading, booleans
// are the integers 1 and 0.
//
// Reads return the default for a missing key or value, and nullopt when the value cannot be read
// as asked (a text stored with a numeric kind, a number stored with a binary kind). Writes return
// false when the change could not be stored.
//
// The values of the Run key (Software\Microsoft\Windows\CurrentVersion\Run) are the desktop's
// autostart entries; everything else lives in the registry hive file.
class RegistryIni
{
public:
    explicit RegistryIni(QString keyPath, RegRoot root = RegRoot::CurrentUser);

    std::optional<QString> readString(const QString& section, const QString& ident,
                                      const QString& def) const;
    std::optional<int> readInteger(const QString& section, const QString& ident, int def) const;
    std::optional<bool> readBool(const QString& section, const QString& ident, bool def) const;
    bool writeString(const QString& section, const QString& ident, const QString& value) const;
    bool writeInteger(const QString& section, const QString& ident, int value) const;
    bool writeBool(const QString& section, const QString& ident, bool value) const;

    bool valueExists(const QString& section, const QString& ident) const;
    // The value names of a section; empty when the section is missing.
    QStringList readSection(const QString& section) const;
    // Removes the section with its subkeys and values.
    bool eraseSection(const QString& section) const;
    // Removes one value; true also when it did not exist.
    bool deleteKey(const QString& section, const QString& ident) const;

    // Runs `writes` so that the changes it makes through this object reach the registry file in
    // one save: all of them, or none when `writes` returns false or the save fails. The file stays
    // locked meanwhile, so `writes` must not change the registry through another object.
    bool batch(const std::function<bool()>& writes) const;

    // Where the registry hive is kept: $XDG_CONFIG_HOME/Morvane/registry.reg.
    static QString hivePath();

private:
    QString sectionPath(const QString& section) const;
    bool isRunKey(const QString& section) const;
    // The registry as this object sees it: the hive of a running batch, else the file.
    platform::RegistryHive current() const;
    // Applies a change to the hive of a running batch, or saves it to the file at once.
    bool change(const std::function<bool(platform::RegistryHive&)>& fn) const;

    QString m_keyPath;
    RegRoot m_root;
    mutable platform::RegistryHive* m_batch = nullptr;
};

// A new access object on Software\Morvane\<productKey> of the current user.
std::unique_ptr<RegistryIni> openSettings();

// Blanks and control characters removed at both ends.
QString trimText(const QString& s);

// Decimal text as Delphi-style programs read it: optional sign, digits, nothing else.
std::optional<int> parseDecimal(QStringView text);
