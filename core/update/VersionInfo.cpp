#include "core/update/VersionInfo.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/report/CodePages.h"

#include <QStringList>

#include <limits>

namespace {

// The items of a version text between "." separators, empty ones left out.
QList<QStringView> versionItems(QStringView version)
{
    QList<QStringView> items;
    for (QStringView item : version.split(u'.')) {
        if (!item.isEmpty())
            items << item;
    }
    return items;
}

} // namespace

VersionDescriptor parseVersionDescriptor(QByteArrayView body, const QString& section)
{
    const QString text = cp1250ToUnicode(body);
    VersionDescriptor result;
    bool inSection = false;
    bool sectionSeen = false;
    bool haveVersion = false, haveUrl = false, haveSize = false, haveInfo = false, haveSha = false;
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = at;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        const QString line = trimText(text.mid(at, end - at));
        at = end;
        if (at < text.size())
            at += (text[at] == u'\r' && at + 1 < text.size() && text[at + 1] == u'\n') ? 2 : 1;
        if (line.isEmpty() || line.front() == u';')
            continue;
        if (line.front() == u'[' && line.back() == u']') {
            const bool match =
                trimText(line.mid(1, line.size() - 2)).compare(section, Qt::CaseInsensitive) == 0;
            // The first section of that name counts; a later one of the same name is ignored.
            inSection = match && !sectionSeen;
            sectionSeen = sectionSeen || match;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inSection || eq < 0)
            continue;
        const QString name = trimText(line.first(eq));
        const QString value = trimText(line.sliced(eq + 1));
        const auto take = [&](QLatin1StringView key, bool& have) {
            if (have || name.compare(key, Qt::CaseInsensitive) != 0)
                return false;
            have = true;
            return true;
        };
        if (take(QLatin1StringView("Version"), haveVersion))
            result.version = value;
        else if (take(QLatin1StringView("URL"), haveUrl))
            result.url = value;
        else if (take(QLatin1StringView("Size"), haveSize))
            result.size = parseDescriptorInteger(value);
        else if (take(QLatin1StringView("Info"), haveInfo))
            result.info = value;
        else if (take(QLatin1StringView("SHA256"), haveSha))
            result.sha256 = value.toLower();
    }
    return result;
}

qint32 parseDescriptorInteger(QStringView input)
{
    const QString trimmedText = trimText(input.toString());
    QStringView text = trimmedText;
    bool negative = false;
    if (text.startsWith(u'-') || text.startsWith(u'+')) {
        negative = text.front() == u'-';
        text = text.sliced(1);
    }
    int base = 10;
    if (text.startsWith(u'$')) {
        base = 16;
        text = text.sliced(1);
    } else if (text.startsWith(QLatin1StringView("0x"), Qt::CaseInsensitive)) {
        base = 16;
        text = text.sliced(2);
    }
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, base);
    if (!ok || text.isEmpty())
        return 0;
    const qlonglong signedValue = negative ? -value : value;
    // Hexadecimal may spell the 32 bits of a negative number, as a 32-bit reader takes them.
    if (base == 16 && !negative && value <= 0xFFFFFFFFLL)
        return qint32(quint32(value));
    if (signedValue < std::numeric_limits<qint32>::min() ||
        signedValue > std::numeric_limits<qint32>::max())
        return 0;
    return qint32(signedValue);
}

QString programVersion()
{
    return QStringLiteral(TARNYX_VERSION_STRING);
}

int compareVersions(const QString& own, const QString& offered)
{
    if (own.isEmpty())
        return 0;
    const QList<QStringView> mine = versionItems(own);
    const QList<QStringView> theirs = versionItems(offered);
    const auto number = [](const QList<QStringView>& items, int i) {
        bool ok = false;
        const int value = i < items.size() ? items[i].toInt(&ok) : 0;
        return ok ? value : 0;
    };
    for (int i = 0; i < 4; ++i) {
        const int a = number(mine, i);
        const int b = number(theirs, i);
        if (a != b)
            return a > b ? -1 : 1;
    }
    return 0;
}

QString majorMinor(const QString& version)
{
    const QStringList items = version.split(u'.');
    if (version.isEmpty() || items.size() < 2)
        return QStringLiteral("?.?");
    return items[0] + u'.' + items[1];
}

QString displayVersion(const QString& version)
{
    const QStringList items = version.split(u'.');
    if (version.isEmpty() || items.size() < 4)
        return {};
    return items[0] + u'.' + items[1].rightJustified(2, u'0') + u'.' + items[3];
}

int dayNumber(const QDate& date)
{
    return int(QDate(1899, 12, 30).daysTo(date));
}

bool automaticCheckDue(const AppSettings& settings, const QDate& today)
{
    return settings.verCheck && dayNumber(today) != settings.lastVerCheck;
}
