#include "report/UnitOrient.h"

#include "config/MvRegIni.h"
#include "report/CodePages.h"
#include "report/UnitLstObj.h"

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
    const std::optional<int> value = ParseDecimal(text);
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

QString TOrientName(int code)
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

int TLstList::CompareTitles(const QByteArray& a, const QByteArray& b)
{
    const int r = titleCollator().compare(Cp1250ToUnicode(a), Cp1250ToUnicode(b));
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void TLstList::sort()
{
    std::stable_sort(m_entries.begin(), m_entries.end(), [](const TOrient& a, const TOrient& b) {
        return CompareTitles(a.Title, b.Title) < 0;
    });
}

qsizetype TLstList::indexOf(const QByteArray& title) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i)
        if (CompareTitles(m_entries.at(i).Title, title) == 0)
            return i;
    return -1;
}

void TLstList::Load()
{
    m_entries.clear();
    const auto ini = OpenSettings();
    const QStringList names = ini->ReadSection(kSection);
    for (const QString& name : names) {
        TOrient entry;
        entry.Title = StoredTextToCp1250(name);
        if (const std::optional<QString> text = ini->ReadString(kSection, name, QString())) {
            entry.Orientation = codeFromText(*text);
        } else {
            // Not a text value (say, imported as a DWORD). Stopping here would drop every later
            // title from the registry at the next save, so take the number when there is one and
            // treat anything else as unusable.
            const std::optional<int> number = ini->ReadInteger(kSection, name, -1);
            entry.Orientation = number ? quint8(*number & 0xFF) : quint8(255);
        }
        m_entries.append(entry);
    }
    sort();
}

// The section is updated in place rather than erased and rewritten, so that a write that fails
// half-way leaves every title with either its old or its new value instead of losing the rest.
// Value names are matched without regard to letter case, as the settings store matches them.
void TLstList::Save() const
{
    const auto ini = OpenSettings();
    // One save of the registry file for the whole list.
    ini->Batch([&] {
        // Looked up by their case-folded names: the list may hold thousands of titles.
        QHash<QString, QString> stored; // folded -> spelling in the registry
        for (const QString& name : ini->ReadSection(kSection))
            stored.insert(name.toCaseFolded(), name);
        QSet<QString> written;
        for (const TOrient& entry : m_entries) {
            const QString name = Cp1250ToStoredText(entry.Title);
            const QString folded = name.toCaseFolded();
            // Writing over a value keeps the name's old spelling; drop it first so that the title
            // is stored as it is spelled now.
            const auto old = stored.constFind(folded);
            const bool respelled = old != stored.constEnd() && *old != name;
            if (respelled && !ini->DeleteKey(kSection, name))
                return false;
            if (!ini->WriteString(kSection, name, QString::number(entry.Orientation)))
                return false;
            written.insert(folded);
        }
        for (auto it = stored.constBegin(); it != stored.constEnd(); ++it)
            if (!written.contains(it.key()) && !ini->DeleteKey(kSection, it.value()))
                return false;
        return true;
    });
}

quint8 TLstList::Lookup(const TLstObj& header)
{
    const qsizetype i = indexOf(header.Title);
    if (i >= 0)
        return m_entries.at(i).Orientation;
    m_entries.append(TOrient{header.Title, 0});
    sort();
    return 255;
}

void TLstList::Store(const TLstObj& header, quint8 code)
{
    const qsizetype i = indexOf(header.Title);
    if (i >= 0)
        m_entries[i].Orientation = code;
}

void TLstList::Forget(const TLstObj& header)
{
    Remove(indexOf(header.Title));
}

void TLstList::SetOrientation(qsizetype index, quint8 code)
{
    if (index >= 0 && index < m_entries.size())
        m_entries[index].Orientation = code;
}

void TLstList::Remove(qsizetype index)
{
    if (index >= 0 && index < m_entries.size())
        m_entries.removeAt(index);
}

TLstList& LstList()
{
    static TLstList instance;
    return instance;
}
