#include "core/config/RegistryIni.h"

#include "core/platform/Autostart.h"
#include "core/platform/RegistryFile.h"

#include <QScopeGuard>

using platform::RegistryFile;
using platform::RegistryHive;
using platform::RegKind;
using platform::RegValue;

namespace {

const QString kRunKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");

// Joins registry path pieces with single backslashes, ignoring empty pieces.
QString joinPath(const QStringList& parts)
{
    QStringList clean;
    for (const QString& p : parts) {
        QString s = p;
        while (s.startsWith(u'\\'))
            s.remove(0, 1);
        while (s.endsWith(u'\\'))
            s.chop(1);
        if (!s.isEmpty())
            clean << s;
    }
    return clean.join(u'\\');
}

} // namespace

QString ProductKeys::registryRoot() const
{
    return QStringLiteral("Software\\Morvane\\") + productKey;
}

ProductKeys& productKeys()
{
    static ProductKeys instance;
    return instance;
}

QString trimText(const QString& s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && s.at(end - 1).unicode() <= 0x20)
        --end;
    return s.mid(begin, end - begin);
}

RegistryIni::RegistryIni(QString keyPath, RegRoot root)
    : m_keyPath(std::move(keyPath)), m_root(root)
{}

QString RegistryIni::hivePath()
{
    return RegistryFile::defaultPath();
}

QString RegistryIni::sectionPath(const QString& section) const
{
    const QString rootName = m_root == RegRoot::CurrentUser ? QStringLiteral("HKEY_CURRENT_USER")
                                                            : QStringLiteral("HKEY_LOCAL_MACHINE");
    return joinPath({rootName, m_keyPath, section});
}

bool RegistryIni::isRunKey(const QString& section) const
{
    return joinPath({m_keyPath, section}).compare(kRunKey, Qt::CaseInsensitive) == 0;
}

namespace {

QString runEntryPath(RegRoot root, const QString& ident)
{
    return root == RegRoot::CurrentUser ? platform::autostart::userEntryPath(ident)
                                        : platform::autostart::machineEntryPath(ident);
}

} // namespace

std::optional<QString> RegistryIni::readString(const QString& section, const QString& ident,
                                               const QString& def) const
{
    if (isRunKey(section)) {
        const auto cmd = platform::autostart::readCommand(runEntryPath(m_root, ident));
        return trimText(cmd.value_or(def));
    }
    const RegistryHive hive = current();
    const RegValue* v = hive.findValue(sectionPath(section), ident);
    if (!v)
        return trimText(def);
    if (!v->isText())
        return std::nullopt;
    return trimText(v->text);
}

std::optional<int> RegistryIni::readInteger(const QString& section, const QString& ident,
                                            int def) const
{
    if (isRunKey(section))
        return def;
    const RegistryHive hive = current();
    const RegValue* v = hive.findValue(sectionPath(section), ident);
    if (!v)
        return def;
    switch (v->kind) {
    case RegKind::Dword:
        return int(v->dword);
    case RegKind::Sz:
    case RegKind::ExpandSz:
        return parseDecimal(trimText(v->text)).value_or(def);
    case RegKind::Other:
        break;
    }
    return std::nullopt;
}

std::optional<bool> RegistryIni::readBool(const QString& section, const QString& ident,
                                          bool def) const
{
    const std::optional<int> v = readInteger(section, ident, def ? 1 : 0);
    if (!v)
        return std::nullopt;
    return *v != 0;
}

bool RegistryIni::writeString(const QString& section, const QString& ident,
                              const QString& value) const
{
    if (isRunKey(section))
        return platform::autostart::writeCommand(runEntryPath(m_root, ident), ident,
                                                 trimText(value));
    const QString path = sectionPath(section);
    return change([&](RegistryHive& hive) {
        RegValue v;
        v.name = ident;
        v.kind = RegKind::Sz;
        v.text = trimText(value);
        hive.setValue(path, v);
        return true;
    });
}

bool RegistryIni::writeInteger(const QString& section, const QString& ident, int value) const
{
    if (isRunKey(section))
        return writeString(section, ident, QString::number(value));
    const QString path = sectionPath(section);
    return change([&](RegistryHive& hive) {
        RegValue v;
        v.name = ident;
        // An integer written over a text value keeps the text kind.
        const RegValue* old = hive.findValue(path, ident);
        if (old && old->isText()) {
            v.kind = RegKind::Sz;
            v.text = QString::number(value);
        } else {
            v.kind = RegKind::Dword;
            v.dword = quint32(value);
        }
        hive.setValue(path, v);
        return true;
    });
}

bool RegistryIni::writeBool(const QString& section, const QString& ident, bool value) const
{
    return writeInteger(section, ident, value ? 1 : 0);
}

bool RegistryIni::valueExists(const QString& section, const QString& ident) const
{
    if (isRunKey(section))
        return platform::autostart::readCommand(runEntryPath(m_root, ident)).has_value();
    return current().findValue(sectionPath(section), ident) != nullptr;
}

QStringList RegistryIni::readSection(const QString& section) const
{
    return current().valueNames(sectionPath(section));
}

bool RegistryIni::eraseSection(const QString& section) const
{
    const QString path = sectionPath(section);
    return change([&](RegistryHive& hive) {
        hive.deleteKey(path);
        return true;
    });
}

bool RegistryIni::deleteKey(const QString& section, const QString& ident) const
{
    if (isRunKey(section))
        return platform::autostart::remove(runEntryPath(m_root, ident));
    const QString path = sectionPath(section);
    if (!current().findValue(path, ident))
        return true;
    return change([&](RegistryHive& hive) {
        hive.deleteValue(path, ident);
        return true;
    });
}

RegistryHive RegistryIni::current() const
{
    return m_batch ? *m_batch : RegistryFile(hivePath()).read();
}

bool RegistryIni::change(const std::function<bool(RegistryHive&)>& fn) const
{
    return m_batch ? fn(*m_batch) : RegistryFile(hivePath()).modify(fn);
}

bool RegistryIni::batch(const std::function<bool()>& writes) const
{
    if (m_batch)
        return writes();
    return RegistryFile(hivePath()).modify([&](RegistryHive& hive) {
        m_batch = &hive;
        const auto done = qScopeGuard([this] { m_batch = nullptr; });
        return writes();
    });
}

std::unique_ptr<RegistryIni> openSettings()
{
    return std::make_unique<RegistryIni>(productKeys().registryRoot());
}

std::optional<int> parseDecimal(QStringView text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return v;
}
