#include "core/platform/RegistryHive.h"

#include <QStringDecoder>
#include <QStringList>

namespace platform {

namespace {

const QString kHeader5 = QStringLiteral("Windows Registry Editor Version 5.00");
const QString kHeader4 = QStringLiteral("REGEDIT4");

// Regedit's files are UTF-16LE with a BOM when exported by version 5, ANSI when exported by
// REGEDIT4; people also hand-edit them into UTF-8. Returns nullopt for bytes that are none of
// these.
std::optional<QString> decodeHive(const QByteArray& data)
{
    if (data.startsWith("\xFF\xFE")) {
        QStringDecoder dec(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        QString text = dec(QByteArrayView(data).sliced(2));
        if (dec.hasError())
            return std::nullopt;
        return text;
    }
    QByteArrayView body(data);
    if (body.startsWith("\xEF\xBB\xBF"))
        body = body.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(body);
    if (!utf8.hasError())
        return text;
    // Not UTF-8: the Central European ANSI code page, whatever the header says (Notepad on a
    // Czech Windows saves a "Version 5.00" file that way).
    QStringDecoder ansi("windows-1250");
    if (ansi.isValid()) {
        text = ansi(body);
        if (!ansi.hasError())
            return text;
    }
    return std::nullopt;
}

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Reads a quoted registry string starting at text[pos] == '"'; \\ and \" are escapes.
// On success pos is just past the closing quote.
std::optional<QString> readQuoted(const QString& text, qsizetype& pos)
{
    QString out;
    for (qsizetype i = pos + 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'"') {
            pos = i + 1;
            return out;
        }
        if (c == u'\\' && i + 1 < text.size()) {
            out.append(text.at(++i));
            continue;
        }
        out.append(c);
    }
    return std::nullopt;
}

QString quoted(const QString& s)
{
    QString out;
    out.reserve(s.size() + 2);
    out.append(u'"');
    for (const QChar c : s) {
        if (c == u'\\' || c == u'"')
            out.append(u'\\');
        out.append(c);
    }
    out.append(u'"');
    return out;
}

// Parses "hex:..", "hex(N):.." into the bytes and the kind number (3 for plain hex).
std::optional<std::pair<int, QByteArray>> parseHex(const QString& raw)
{
    qsizetype colon = raw.indexOf(u':');
    if (colon < 0)
        return std::nullopt;
    const QString kindText = raw.left(colon);
    int kind = 3;
    if (kindText.compare(u"hex", Qt::CaseInsensitive) != 0) {
        if (!kindText.startsWith(u"hex(", Qt::CaseInsensitive) || !kindText.endsWith(u')'))
            return std::nullopt;
        bool ok = false;
        kind = kindText.mid(4, kindText.size() - 5).toInt(&ok, 16);
        if (!ok || kind < 0)
            return std::nullopt;
    }
    QByteArray bytes;
    const QString list = raw.mid(colon + 1);
    if (list.trimmed().isEmpty())
        return std::pair{kind, bytes};
    for (const QString& item : list.split(u',')) {
        const QString b = item.trimmed();
        if (b.isEmpty() || b.size() > 2 || !isHexDigit(b.at(0)) ||
            (b.size() == 2 && !isHexDigit(b.at(1))))
            return std::nullopt;
        bytes.append(char(b.toUInt(nullptr, 16)));
    }
    return std::pair{kind, bytes};
}

// Text with line breaks or other control characters cannot stand in a quoted string of the
// regedit form; such values are written as REG_SZ in hex(1) form (UTF-16LE with its NUL).
bool needsHexForm(const QString& s)
{
    for (const QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    return false;
}

QString hexOfText(const QString& s)
{
    QStringList bytes;
    auto add = [&bytes](char16_t u) {
        bytes << QStringLiteral("%1").arg(u & 0xFF, 2, 16, QLatin1Char('0'))
              << QStringLiteral("%1").arg(u >> 8, 2, 16, QLatin1Char('0'));
    };
    for (const QChar c : s)
        add(c.unicode());
    add(0);
    return QStringLiteral("hex(1):") + bytes.join(u',');
}

} // namespace

bool sameRegName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

RegistryHive::ParseResult RegistryHive::parse(const QByteArray& data)
{
    ParseResult result;
    const std::optional<QString> text = decodeHive(data);
    if (!text) {
        result.error = QStringLiteral("the file is neither UTF-8, UTF-16LE with BOM nor ANSI");
        return result;
    }
    // An editor's end-of-file mark (Ctrl-Z) or padding NULs at the end are no content.
    QStringView content(*text);
    while (!content.isEmpty() && (content.back() == QChar(0x1A) || content.back() == QChar(0)))
        content.chop(1);
    QStringList lines = content.toString().split(u'\n');
    for (QString& line : lines)
        if (line.endsWith(u'\r'))
            line.chop(1);

    RegistryHive hive;
    bool headerSeen = false;
    QString currentKey;
    bool inDeletedKey = false;
    bool haveKey = false;
    auto fail = [&result](qsizetype lineNo, const QString& what) {
        result.error = QStringLiteral("line %1: %2").arg(lineNo + 1).arg(what);
        return result;
    };

    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines.at(n).trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (!headerSeen) {
            if (line != kHeader5 && line != kHeader4)
                return fail(n, QStringLiteral("missing the regedit header"));
            headerSeen = true;
            continue;
        }
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']') || line.size() < 3)
                return fail(n, QStringLiteral("unterminated key name"));
            QString path = line.mid(1, line.size() - 2);
            inDeletedKey = path.startsWith(u'-');
            if (inDeletedKey) {
                hive.deleteKey(path.mid(1));
            } else {
                hive.key(path);
                currentKey = path;
            }
            haveKey = true;
            continue;
        }
        if (!line.startsWith(u'"') && !line.startsWith(u'@'))
            return fail(n, QStringLiteral("neither a key nor a value"));
        if (!haveKey)
            return fail(n, QStringLiteral("value outside of a key"));

        RegValue value;
        qsizetype pos = 0;
        if (line.startsWith(u'@')) {
            pos = 1;
        } else {
            std::optional<QString> name = readQuoted(line, pos);
            if (!name)
                return fail(n, QStringLiteral("unterminated value name"));
            value.name = *name;
        }
        while (pos < line.size() && line.at(pos).isSpace())
            ++pos;
        if (pos >= line.size() || line.at(pos) != u'=')
            return fail(n, QStringLiteral("missing \"=\" after the value name"));
        ++pos;
        while (pos < line.size() && line.at(pos).isSpace())
            ++pos;
        QString data = line.mid(pos);

        if (data.startsWith(u'"')) {
            qsizetype p = 0;
            std::optional<QString> s = readQuoted(data, p);
            if (!s || !data.mid(p).trimmed().isEmpty())
                return fail(n, QStringLiteral("malformed text value"));
            value.kind = RegKind::Sz;
            value.text = *s;
            // A registry text ends at its first NUL, whichever way it was written.
            if (const qsizetype nul = value.text.indexOf(QChar(0)); nul >= 0)
                value.text.truncate(nul);
        } else if (data == u"-") {
            if (!inDeletedKey)
                hive.deleteValue(currentKey, value.name);
            continue;
        } else if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
            const QString digits = data.mid(6).trimmed();
            bool ok = digits.size() >= 1 && digits.size() <= 8;
            for (const QChar c : digits)
                ok = ok && isHexDigit(c);
            if (!ok)
                return fail(n, QStringLiteral("malformed dword value"));
            value.kind = RegKind::Dword;
            value.dword = digits.toUInt(nullptr, 16);
        } else if (data.startsWith(u"hex", Qt::CaseInsensitive)) {
            // Long binary data continues on the following lines after a trailing backslash.
            while (data.endsWith(u'\\')) {
                data.chop(1);
                if (++n >= lines.size())
                    return fail(n - 1, QStringLiteral("binary value continues past the end"));
                data += lines.at(n).trimmed();
            }
            const auto hex = parseHex(data);
            if (!hex)
                return fail(n, QStringLiteral("malformed binary value"));
            const auto& [kind, bytes] = *hex;
            if (kind == 4 && bytes.size() == 4) {
                value.kind = RegKind::Dword;
                value.dword = quint32(quint8(bytes[0])) | quint32(quint8(bytes[1])) << 8 |
                              quint32(quint8(bytes[2])) << 16 | quint32(quint8(bytes[3])) << 24;
            } else if ((kind == 1 || kind == 2) && bytes.size() % 2 == 0) {
                // Plain and expandable text alike are text to the program (regedit writes many
                // paths as expandable); an expandable one is written back as it was.
                value.kind = kind == 2 ? RegKind::ExpandSz : RegKind::Sz;
                if (kind == 2)
                    value.raw = data;
                value.text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.data()),
                                                bytes.size() / 2);
                const qsizetype nul = value.text.indexOf(QChar(0));
                if (nul >= 0)
                    value.text.truncate(nul);
            } else {
                value.kind = RegKind::Other;
                value.raw = data;
            }
        } else {
            return fail(n, QStringLiteral("unknown value kind"));
        }
        if (!inDeletedKey)
            hive.setValue(currentKey, value);
    }
    if (!headerSeen && !text->trimmed().isEmpty())
        return fail(0, QStringLiteral("missing the regedit header"));
    result.hive = std::move(hive);
    return result;
}

QByteArray RegistryHive::serialize() const
{
    QString out = kHeader5 + QStringLiteral("\r\n\r\n");
    for (const RegKey& k : m_keys) {
        out += u'[' + k.path + QStringLiteral("]\r\n");
        for (const RegValue& v : k.values) {
            out += v.name.isEmpty() ? QStringLiteral("@") : quoted(v.name);
            out += u'=';
            switch (v.kind) {
            case RegKind::Sz:
                out += needsHexForm(v.text) ? hexOfText(v.text) : quoted(v.text);
                break;
            case RegKind::Dword:
                out += QStringLiteral("dword:%1").arg(v.dword, 8, 16, QLatin1Char('0'));
                break;
            case RegKind::ExpandSz:
            case RegKind::Other:
                out += v.raw;
                break;
            }
            out += QStringLiteral("\r\n");
        }
        out += QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

qsizetype RegistryHive::indexOfKey(const QString& path) const
{
    return m_index.value(path.toCaseFolded(), -1);
}

QString RegistryHive::valueKey(const QString& path, const QString& name)
{
    return path.toCaseFolded() + u'\n' + name.toCaseFolded();
}

void RegistryHive::reindex()
{
    m_index.clear();
    m_valueIndex.clear();
    for (qsizetype i = 0; i < m_keys.size(); ++i) {
        const RegKey& k = m_keys.at(i);
        m_index.insert(k.path.toCaseFolded(), i);
        for (qsizetype j = 0; j < k.values.size(); ++j)
            m_valueIndex.insert(valueKey(k.path, k.values.at(j).name), j);
    }
}

bool RegistryHive::hasKey(const QString& path) const
{
    return indexOfKey(path) >= 0;
}

RegKey& RegistryHive::key(const QString& path)
{
    const qsizetype i = indexOfKey(path);
    if (i >= 0)
        return m_keys[i];
    m_index.insert(path.toCaseFolded(), m_keys.size());
    m_keys.append(RegKey{path, {}});
    return m_keys.last();
}

const RegKey* RegistryHive::findKey(const QString& path) const
{
    const qsizetype i = indexOfKey(path);
    return i >= 0 ? &m_keys.at(i) : nullptr;
}

const RegValue* RegistryHive::findValue(const QString& path, const QString& name) const
{
    // Looked up, not searched: a key may hold thousands of values (remembered report titles).
    const RegKey* k = findKey(path);
    if (!k)
        return nullptr;
    const qsizetype j = m_valueIndex.value(valueKey(path, name), -1);
    return j >= 0 ? &k->values.at(j) : nullptr;
}

void RegistryHive::setValue(const QString& path, const RegValue& value)
{
    RegKey& k = key(path);
    const QString index = valueKey(path, value.name);
    if (const qsizetype j = m_valueIndex.value(index, -1); j >= 0) {
        RegValue& v = k.values[j];
        const QString keepName = v.name;
        v = value;
        v.name = keepName;
        return;
    }
    m_valueIndex.insert(index, k.values.size());
    k.values.append(value);
}

bool RegistryHive::deleteValue(const QString& path, const QString& name)
{
    const qsizetype i = indexOfKey(path);
    if (i < 0)
        return false;
    const bool removed = m_keys[i].values.removeIf(
                             [&name](const RegValue& v) { return sameRegName(v.name, name); }) > 0;
    if (removed)
        reindex();
    return removed;
}

bool RegistryHive::deleteKey(const QString& path)
{
    const QString prefix = path + u'\\';
    const bool removed = m_keys.removeIf([&](const RegKey& k) {
        return sameRegName(k.path, path) || k.path.startsWith(prefix, Qt::CaseInsensitive);
    }) > 0;
    if (removed)
        reindex();
    return removed;
}

QStringList RegistryHive::valueNames(const QString& path) const
{
    QStringList names;
    if (const RegKey* k = findKey(path))
        for (const RegValue& v : k->values)
            names << v.name;
    return names;
}

} // namespace platform
