#include "core/config/FontText.h"

#include "core/config/RegistryIni.h"

#include <QStringList>

#include <climits>
#include <optional>

namespace {

// Character sets are single bytes; anything else in a stored text is not a character set.
constexpr int kMaxCharset = 255;

bool isBlankOrControl(QChar c)
{
    return c.unicode() <= u' ';
}

// An item is quoted when reading it back unquoted would split or change it. An empty item is
// quoted too, so that it is not lost between two commas or at the end of the text.
bool needsQuotes(const QString& item)
{
    if (item.isEmpty())
        return true;
    for (const QChar c : item) {
        if (isBlankOrControl(c) || c == u',' || c == u'"')
            return true;
    }
    return false;
}

QString quoted(const QString& item)
{
    QString text = item;
    text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

// The value of the first item "name=value" whose name matches `name` in any letter case; items
// without "=" have no name. nullopt when there is no such item.
std::optional<QString> valueOf(const QStringList& items, QStringView name)
{
    for (const QString& item : items) {
        const qsizetype eq = item.indexOf(u'=');
        if (eq < 0)
            continue;
        if (QStringView(item).left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return item.mid(eq + 1);
    }
    return std::nullopt;
}

// The decimal number in `value`, or `fallback` when the item is missing, is not a number or lies
// outside min..max.
int numberOr(const std::optional<QString>& value, int fallback, int min = INT_MIN,
             int max = INT_MAX)
{
    if (!value)
        return fallback;
    const std::optional<int> n = parseDecimal(*value);
    return n && *n >= min && *n <= max ? *n : fallback;
}

} // namespace

QFont FontDesc::toQFont() const
{
    QFont font;
    font.setFamily(name);
    if (size > 0)
        font.setPointSize(size);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(strikeOut);
    return font;
}

FontDesc FontDesc::fromQFont(const QFont& font, int charset, int color)
{
    FontDesc desc;
    desc.name = font.family();
    desc.charset = charset;
    desc.color = color;
    if (font.pointSize() > 0)
        desc.size = font.pointSize();
    else if (font.pixelSize() > 0)
        desc.size = qRound(font.pixelSize() * 72.0 / 96.0); // at the usual 96 pixels per inch
    desc.bold = font.bold();
    desc.italic = font.italic();
    desc.underline = font.underline();
    desc.strikeOut = font.strikeOut();
    return desc;
}

QString fontToText(const FontDesc& font)
{
    // Five places, one per style; the last is always blank.
    QString style(5, u' ');
    if (font.bold)
        style[0] = u'B';
    if (font.italic)
        style[1] = u'I';
    if (font.underline)
        style[2] = u'U';
    if (font.strikeOut)
        style[3] = u'S';

    return joinCommaText({
        QStringLiteral("name=") + font.name,
        QStringLiteral("charset=") + QString::number(font.charset),
        QStringLiteral("color=") + QString::number(font.color),
        QStringLiteral("size=") + QString::number(font.size),
        QStringLiteral("style=") + style,
    });
}

void textToFont(const QString& text, FontDesc& font)
{
    const QStringList items = splitCommaText(text);
    const std::optional<QString> name = valueOf(items, u"name");
    if (!name || name->isEmpty())
        return;

    // Built aside and assigned at the end, so that the target changes completely or not at all.
    // Style is not inherited: a text without style letters means a plain font.
    FontDesc fresh;
    fresh.name = *name;
    fresh.charset = numberOr(valueOf(items, u"charset"), font.charset, 0, kMaxCharset);
    fresh.color = numberOr(valueOf(items, u"color"), font.color);
    fresh.size = numberOr(valueOf(items, u"size"), font.size);

    const QString style = valueOf(items, u"style").value_or(QString());
    fresh.bold = style.contains(u'B');
    fresh.italic = style.contains(u'I');
    fresh.underline = style.contains(u'U');
    fresh.strikeOut = style.contains(u'S');

    font = fresh;
}

QString joinCommaText(const QStringList& items)
{
    QString text;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += u',';
        text += needsQuotes(items[i]) ? quoted(items[i]) : items[i];
    }
    return text;
}

QStringList splitCommaText(const QString& text)
{
    QStringList items;
    const qsizetype n = text.size();
    qsizetype i = 0;
    // Everything up to the blank, including NUL and the other control characters, separates
    // items. Skipping all of them also guarantees that each round of the loop moves on.
    const auto skipBlanks = [&] {
        while (i < n && isBlankOrControl(text[i]))
            ++i;
    };

    skipBlanks();
    while (i < n) {
        QString item;
        if (text[i] == u'"') {
            // Quoted: a doubled quote stands for one; a missing closing quote ends the item at
            // the end of the text.
            ++i;
            while (i < n) {
                if (text[i] == u'"') {
                    if (i + 1 < n && text[i + 1] == u'"') {
                        item += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i];
                ++i;
            }
        } else {
            const qsizetype start = i;
            while (i < n && !isBlankOrControl(text[i]) && text[i] != u',')
                ++i;
            item = text.mid(start, i - start);
        }
        items.append(item);

        skipBlanks();
        if (i < n && text[i] == u',') {
            ++i;
            skipBlanks();
        }
    }
    return items;
}
