#include "core/report/OrientationMemory.h"

#include "core/config/RegistryIni.h"
#include "core/report/CodePages.h"
#include "core/report/ReportHeader.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <QSet>

#include <algorithm>

namespace {

const QString kSection = QStringLiteral("Settings\\LstList");

// The code stored for a value: its decimal number cut to 8 bits (so -1 is 255), or 255 when the
// text is not a number.
quint8 codeFromText(const QString& text)
{
    const std::optional<int> value = parseDecimal(text);
    return value ? quint8(*value & 0xFF) : quint8(255);
}

// The collator for titles: the user's locale, letter case ignored. Building one is costly, so it
// is kept and only rebuilt when the default locale changes. QCollator is not thread-safe; titles
// are compared only on the user-interface thread.
QCollator& titleCollator()
{
    static QCollator collator = [] {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    if (collator.locale() != QLocale())
        collator.setLocale(QLocale());
    return collator;
}

} // namespace

QString orientationName(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("výchozí");
    case 1:
        return QStringLiteral("na výšku");
    case 2:
        return QStringLiteral("na šířku");
    default:
        return QStringLiteral("??");
    }
}

int OrientationMemory::compareTitles(const QByteArray& a, const QByteArray& b)
{
    const int r = titleCollator().compare(cp1250ToUnicode(a), cp1250ToUnicode(b));
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void OrientationMemory::sort()
{
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const Orientation& a, const Orientation& b) {
                         return compareTitles(a.title, b.title) < 0;
                     });
}

qsizetype OrientationMemory::indexOf(const QByteArray& title) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        if (compareTitles(m_entries.at(i).title, title) == 0)
            return i;
    return -1;
}

void OrientationMemory::load()
{
    m_entries.clear();
    const auto ini = openSettings();
    const QStringList names = ini->readSection(kSection);
    for (const QString& name : names) {
        Orientation entry;
        entry.title = storedTextToCp1250(name);
        if (const std::optional<QString> text = ini->readString(kSection, name, QString())) {
            entry.orientation = codeFromText(*text);
        } else {
            // Not a text value (say, imported as a DWORD). Stopping here would drop every later
            // title from the registry at the next save, so take the number when there is one and
            // treat anything else as unusable.
            const std::optional<int> number = ini->readInteger(kSection, name, -1);
            entry.orientation = number ? quint8(*number & 0xFF) : quint8(255);
        }
        m_entries.append(entry);
    }
    sort();
}

// The section is updated in place rather than erased and rewritten, so that a write that fails
// half-way leaves every title with either its old or its new value instead of losing the rest.
// Value names are matched without regard to letter case, as the settings store matches them.
void OrientationMemory::save() const
{
    const auto ini = openSettings();
    // One save of the registry file for the whole list.
    ini->batch([&] {
        // Looked up by their case-folded names: the list may hold thousands of titles.
        QHash<QString, QString> stored; // folded -> spelling in the registry
        for (const QString& name : ini->readSection(kSection))
            stored.insert(name.toCaseFolded(), name);
        QSet<QString> written;
        for (const Orientation& entry : m_entries) {
            const QString name = cp1250ToStoredText(entry.title);
            const QString folded = name.toCaseFolded();
            // Writing over a value keeps the name's old spelling; drop it first so that the title
            // is stored as it is spelled now.
            const auto old = stored.constFind(folded);
            const bool respelled = old != stored.constEnd() && *old != name;
            if (respelled && !ini->deleteKey(kSection, name))
                return false;
            if (!ini->writeString(kSection, name, QString::number(entry.orientation)))
                return false;
            written.insert(folded);
        }
        for (auto it = stored.constBegin(); it != stored.constEnd(); ++it)
            if (!written.contains(it.key()) && !ini->deleteKey(kSection, it.value()))
                return false;
        return true;
    });
}

quint8 OrientationMemory::lookup(const ReportHeader& header)
{
    const qsizetype i = indexOf(header.title);
    if (i >= 0)
        return m_entries.at(i).orientation;
    m_entries.append(Orientation{header.title, 0});
    sort();
    return 255;
}

void OrientationMemory::store(const ReportHeader& header, quint8 code)
{
    const qsizetype i = indexOf(header.title);
    if (i >= 0)
        m_entries[i].orientation = code;
}

void OrientationMemory::forget(const ReportHeader& header)
{
    remove(indexOf(header.title));
}

void OrientationMemory::setOrientation(qsizetype index, quint8 code)
{
    if (index >= 0 && index < m_entries.size())
        m_entries[index].orientation = code;
}

void OrientationMemory::remove(qsizetype index)
{
    if (index >= 0 && index < m_entries.size())
        m_entries.removeAt(index);
}

OrientationMemory& orientationMemory()
{
    static OrientationMemory instance;
    return instance;
}
