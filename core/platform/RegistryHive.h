#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace platform {

// The kind of a registry value. Text and integer values are the ones the program reads and
// writes; every other kind (binary, multi-string, expandable text, ...) is carried through
// unchanged so that a hive imported from another installation loses nothing.
enum class RegKind
{
    Sz,
    Dword,
    ExpandSz, // expandable text: read as text, written back as it was
    Other
};

struct RegValue
{
    QString name; // "" is the key's default value, written as @
    RegKind kind = RegKind::Sz;
    QString text;      // RegKind::Sz and ExpandSz
    quint32 dword = 0; // RegKind::Dword
    QString raw; // RegKind::ExpandSz and Other: the data as written after "=", e.g. hex(2):41,00
    bool isText() const { return kind == RegKind::Sz || kind == RegKind::ExpandSz; }
};

struct RegKey
{
    QString path; // full path with its root, e.g. HKEY_CURRENT_USER\Software\Morvane
    QList<RegValue> values;
};

// A registry tree in memory, read from and written to the text form of regedit exports.
// Key paths and value names compare without regard to letter case, as in the registry;
// the spelling of the first write is kept.
class RegistryHive
{
public:
    struct ParseResult;

    // Reads regedit's export format: the "Windows Registry Editor Version 5.00" or "REGEDIT4"
    // header, CRLF or LF, UTF-8 with or without BOM, UTF-16LE with BOM (and, for REGEDIT4
    // files that are not UTF-8, the Central European ANSI code page).
    static ParseResult parse(const QByteArray& data);
    // UTF-8 with CRLF line ends, as regedit 5 writes them; keys in the order they were created.
    QByteArray serialize() const;

    bool hasKey(const QString& path) const;
    // Creates the key (and its parents, as regedit does) when missing.
    RegKey& key(const QString& path);
    const RegKey* findKey(const QString& path) const;
    const RegValue* findValue(const QString& path, const QString& name) const;
    void setValue(const QString& path, const RegValue& value);
    bool deleteValue(const QString& path, const QString& name);
    // Removes the key with all its subkeys; false when there was none.
    bool deleteKey(const QString& path);
    QStringList valueNames(const QString& path) const;

    const QList<RegKey>& keys() const { return m_keys; }

private:
    qsizetype indexOfKey(const QString& path) const;
    static QString valueKey(const QString& path, const QString& name);
    void reindex();
    QList<RegKey> m_keys;
    QHash<QString, qsizetype> m_index;      // case-folded path -> position in m_keys
    QHash<QString, qsizetype> m_valueIndex; // case-folded path "\n" name -> position in values
};

struct RegistryHive::ParseResult
{
    std::optional<RegistryHive> hive;
    QString error; // set when hive is empty: what is wrong and on which line
};

// True when two registry paths or names denote the same item.
bool sameRegName(const QString& a, const QString& b);

} // namespace platform
