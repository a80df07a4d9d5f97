// The RTF reader of the online update.
#include "core/update/RtfReader.h"

#include "core/update/HexDigit.h"

#include "core/report/CodePages.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <climits>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The code page of a document that names none, and of one that names a code page we cannot read.
constexpr int kDefaultCodePage = 1252;

using ByteTable = std::array<char16_t, 256>;

// The single-byte code pages a document or a font may name, by the decoder's name for them.
// Multi-byte code pages are not read: their text is taken in the default code page.
const char* codePageName(int codePage)
{
    switch (codePage) {
    case 437:
        return "IBM437";
    case 850:
        return "IBM850";
    case 852:
        return "IBM852";
    case 866:
        return "IBM866";
    case 874:
        return "windows-874";
    case 1251:
        return "windows-1251";
    case 1252:
        return "windows-1252";
    case 1253:
        return "windows-1253";
    case 1254:
        return "windows-1254";
    case 1255:
        return "windows-1255";
    case 1256:
        return "windows-1256";
    case 1257:
        return "windows-1257";
    case 1258:
        return "windows-1258";
    case 10000:
        return "macintosh";
    default:
        return nullptr;
    }
}

ByteTable makeTable(int codePage)
{
    ByteTable table{};
    if (codePage == 1250) {
        for (int b = 0; b < 256; ++b)
            table[b] = cp1250ToUnicode(char(b)).unicode();
        return table;
    }
    const char* name = codePageName(codePage);
    for (int b = 0; b < 256; ++b) {
        table[b] = char16_t(b); // Latin-1, should the decoder be missing
        if (!name)
            continue;
        QStringDecoder decoder(name, QStringDecoder::Flag::Stateless);
        if (!decoder.isValid())
            continue;
        const char byte = char(b);
        const QString text = decoder.decode(QByteArrayView(&byte, 1));
        table[b] = text.size() == 1 ? text.front().unicode() : char16_t(0xFFFD);
    }
    return table;
}

// The code page of a font's character set (\fcharset); 0 for "the document's code page".
int charsetCodePage(int charset)
{
    switch (charset) {
    case 0:
        return 1252;
    case 77:
        return 10000;
    case 161:
        return 1253;
    case 162:
        return 1254;
    case 163:
        return 1258;
    case 177:
        return 1255;
    case 178:
        return 1256;
    case 186:
        return 1257;
    case 204:
        return 1251;
    case 222:
        return 874;
    case 238:
        return 1250;
    case 255:
        return 437;
    default:
        return 0;
    }
}

enum class Destination
{
    Text,
    FontTable,
    ColourTable,
    Skipped,
};

enum class Word
{
    Paragraph,
    Character, // the table's character
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    Colour,
    Plain,
    ParagraphDefaults,
    Align, // the table's alignment
    Font,
    DefaultFont,
    FontCharset,
    FontCodePage,
    CodePage, // the table's code page
    AnsiCodePage,
    UnicodeSkip,
    Unicode,
    Red,
    Green,
    Blue,
    FontTable,
    ColourTable,
    SkippedDestination,
};

struct WordInfo
{
    std::string_view name;
    Word word;
    int value = 0; // a character, an alignment or a code page
};

// Control words not listed here are ignored; \bin is handled before the look-up.
constexpr WordInfo kWords[] = {
    {"par", Word::Paragraph},
    {"sect", Word::Paragraph},
    {"page", Word::Paragraph},
    {"row", Word::Paragraph},
    {"line", Word::Character, 0x2028},
    {"tab", Word::Character, '\t'},
    {"cell", Word::Character, '\t'},
    {"emdash", Word::Character, 0x2014},
    {"endash", Word::Character, 0x2013},
    {"bullet", Word::Character, 0x2022},
    {"lquote", Word::Character, 0x2018},
    {"rquote", Word::Character, 0x2019},
    {"ldblquote", Word::Character, 0x201C},
    {"rdblquote", Word::Character, 0x201D},
    {"enspace", Word::Character, 0x2002},
    {"emspace", Word::Character, 0x2003},
    {"qmspace", Word::Character, 0x2005},
    {"b", Word::Bold},
    {"i", Word::Italic},
    {"ul", Word::Underline},
    {"uld", Word::Underline},
    {"uldash", Word::Underline},
    {"uldashd", Word::Underline},
    {"uldashdd", Word::Underline},
    {"uldb", Word::Underline},
    {"ulth", Word::Underline},
    {"ulw", Word::Underline},
    {"ulwave", Word::Underline},
    {"ulnone", Word::UnderlineNone},
    {"cf", Word::Colour},
    {"plain", Word::Plain},
    {"pard", Word::ParagraphDefaults},
    {"ql", Word::Align, int(Qt::AlignLeft)},
    {"qc", Word::Align, int(Qt::AlignHCenter)},
    {"qr", Word::Align, int(Qt::AlignRight)},
    {"qj", Word::Align, int(Qt::AlignJustify)},
    {"f", Word::Font},
    {"deff", Word::DefaultFont},
    {"fcharset", Word::FontCharset},
    {"cpg", Word::FontCodePage},
    {"ansi", Word::CodePage, 1252},
    {"mac", Word::CodePage, 10000},
    {"pc", Word::CodePage, 437},
    {"pca", Word::CodePage, 850},
    {"ansicpg", Word::AnsiCodePage},
    {"uc", Word::UnicodeSkip},
    {"u", Word::Unicode},
    {"red", Word::Red},
    {"green", Word::Green},
    {"blue", Word::Blue},
    {"fonttbl", Word::FontTable},
    {"colortbl", Word::ColourTable},
    // Destinations whose text is not part of the description.
    {"annotation", Word::SkippedDestination},
    {"atnauthor", Word::SkippedDestination},
    {"atnid", Word::SkippedDestination},
    {"author", Word::SkippedDestination},
    {"bkmkend", Word::SkippedDestination},
    {"bkmkstart", Word::SkippedDestination},
    {"buptim", Word::SkippedDestination},
    {"comment", Word::SkippedDestination},
    {"creatim", Word::SkippedDestination},
    {"doccomm", Word::SkippedDestination},
    {"fldinst", Word::SkippedDestination},
    {"footer", Word::SkippedDestination},
    {"footerf", Word::SkippedDestination},
    {"footerl", Word::SkippedDestination},
    {"footerr", Word::SkippedDestination},
    {"footnote", Word::SkippedDestination},
    {"ftncn", Word::SkippedDestination},
    {"ftnsep", Word::SkippedDestination},
    {"ftnsepc", Word::SkippedDestination},
    {"header", Word::SkippedDestination},
    {"headerf", Word::SkippedDestination},
    {"headerl", Word::SkippedDestination},
    {"headerr", Word::SkippedDestination},
    {"info", Word::SkippedDestination},
    {"keywords", Word::SkippedDestination},
    {"listoverridetable", Word::SkippedDestination},
    {"listtable", Word::SkippedDestination},
    {"nonshppict", Word::SkippedDestination},
    {"object", Word::SkippedDestination},
    {"operator", Word::SkippedDestination},
    {"pict", Word::SkippedDestination},
    {"printim", Word::SkippedDestination},
    {"private", Word::SkippedDestination},
    {"revtbl", Word::SkippedDestination},
    {"revtim", Word::SkippedDestination},
    {"rsidtbl", Word::SkippedDestination},
    {"rxe", Word::SkippedDestination},
    {"stylesheet", Word::SkippedDestination},
    {"subject", Word::SkippedDestination},
    {"tc", Word::SkippedDestination},
    {"title", Word::SkippedDestination},
    {"txe", Word::SkippedDestination},
    {"xe", Word::SkippedDestination},
};

const WordInfo* findWord(QByteArrayView name)
{
    const std::string_view key(name.data(), size_t(name.size()));
    const auto it = std::find_if(std::begin(kWords), std::end(kWords),
                                 [key](const WordInfo& info) { return info.name == key; });
    return it == std::end(kWords) ? nullptr : it;
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

struct CharStyle
{
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int colour = -1; // an index into the colour table; -1 for the default colour

    bool operator==(const CharStyle&) const = default;
};

// What a group starts with and gives back when it ends.
struct GroupState
{
    Destination destination = Destination::Text;
    CharStyle style;
    int font = -1; // -1: the default font
    int unicodeSkip = 1;
    Qt::Alignment alignment = Qt::AlignLeft;
};

class Reader
{
public:
    Reader(QByteArrayView rtf, QTextDocument& document) : m_in(rtf), m_cursor(&document) {}

    // False when the groups nest too deep.
    bool read();

private:
    void readControl();
    void controlSymbol(char symbol);
    void controlWord(QByteArrayView name, bool hasParameter, int parameter);
    void textByte(uchar byte);
    void appendByte(uchar byte);
    void appendChar(char32_t character);
    void paragraph();
    void flushRun();
    void finish();
    // Whether the next character, control word or symbol is the fallback of a \u character.
    bool consumeFallback();
    int currentCodePage() const;
    const ByteTable& table(int codePage);
    QTextCharFormat charFormat(const CharStyle& style) const;

    QByteArrayView m_in;
    qsizetype m_pos = 0;
    QTextCursor m_cursor;

    GroupState m_state;
    std::vector<GroupState> m_stack;
    bool m_starred = false; // \* seen: an unknown destination follows
    int m_fallback = 0;     // characters still to drop after a \u character

    int m_codePage = kDefaultCodePage;
    int m_defaultFont = -1;
    int m_fontBeingDefined = -1;
    QHash<int, int> m_fontCodePages;
    std::vector<std::pair<int, ByteTable>> m_tables;

    QList<QColor> m_colours;
    int m_red = 0;
    int m_green = 0;
    int m_blue = 0;
    bool m_colourGiven = false;

    QString m_run; // text in m_runStyle not yet in the document
    CharStyle m_runStyle;
    qsizetype m_length = 0;
    bool m_full = false;
};

bool Reader::read()
{
    while (m_pos < m_in.size() && !m_full) {
        const char c = m_in[m_pos++];
        switch (c) {
        case '{':
            if (qsizetype(m_stack.size()) >= kMaxRtfGroupDepth)
                return false;
            m_stack.push_back(m_state);
            m_starred = false;
            m_fallback = 0;
            break;
        case '}':
            m_starred = false;
            m_fallback = 0;
            if (m_stack.size() <= 1) { // the end of the document
                finish();
                return true;
            }
            m_state = m_stack.back();
            m_stack.pop_back();
            break;
        case '\\':
            readControl();
            break;
        case '\r':
        case '\n':
            break;
        default:
            m_starred = false;
            textByte(uchar(c));
        }
    }
    finish();
    return true;
}

void Reader::readControl()
{
    if (m_pos >= m_in.size())
        return;
    if (!isLetter(m_in[m_pos])) {
        controlSymbol(m_in[m_pos++]);
        return;
    }
    const qsizetype start = m_pos;
    while (m_pos < m_in.size() && isLetter(m_in[m_pos]))
        ++m_pos;
    const QByteArrayView name = m_in.sliced(start, m_pos - start);

    bool negative = false;
    if (m_pos + 1 < m_in.size() && m_in[m_pos] == '-' && isDigit(m_in[m_pos + 1])) {
        negative = true;
        ++m_pos;
    }
    bool hasParameter = false;
    qint64 value = 0;
    while (m_pos < m_in.size() && isDigit(m_in[m_pos])) {
        hasParameter = true;
        value = std::min<qint64>(value * 10 + (m_in[m_pos] - '0'), qint64(INT_MAX) + 1);
        ++m_pos;
    }
    if (negative)
        value = -value;
    if (m_pos < m_in.size() && m_in[m_pos] == ' ')
        ++m_pos; // the delimiter belongs to the control word
    controlWord(name, hasParameter, int(std::clamp<qint64>(value, INT_MIN, INT_MAX)));
}

void Reader::controlSymbol(char symbol)
{
    if (symbol == '*') {
        m_starred = true;
        return;
    }
    m_starred = false;
    if (symbol == '\'') {
        if (m_pos + 1 < m_in.size()) {
            const int high = hexDigitValue(m_in[m_pos]);
            const int low = hexDigitValue(m_in[m_pos + 1]);
            if (high >= 0 && low >= 0) {
                m_pos += 2;
                if (!consumeFallback() && m_state.destination == Destination::Text)
                    appendByte(uchar(high * 16 + low));
            }
        }
        return;
    }
    if (consumeFallback() || m_state.destination != Destination::Text)
        return;
    switch (symbol) {
    case '\\':
    case '{':
    case '}':
        appendChar(char32_t(symbol));
        break;
    case '~':
        appendChar(0x00A0); // no-break space
        break;
    case '-':
        appendChar(0x00AD); // soft hyphen
        break;
    case '_':
        appendChar(0x2011); // non-breaking hyphen
        break;
    case '\r':
    case '\n':
        paragraph();
        break;
    default:
        break;
    }
}

void Reader::controlWord(QByteArrayView name, bool hasParameter, int parameter)
{
    const bool starred = std::exchange(m_starred, false);
    if (name == "bin") {
        // Binary data is skipped by its length, so that its bytes are never read as braces.
        const qsizetype length = hasParameter ? std::max(parameter, 0) : 0;
        m_pos += std::min(length, m_in.size() - m_pos);
        return;
    }
    if (consumeFallback() || m_state.destination == Destination::Skipped)
        return;
    const WordInfo* info = findWord(name);
    if (starred || (info && info->word == Word::SkippedDestination)) {
        flushRun();
        m_state.destination = Destination::Skipped;
        return;
    }
    if (!info)
        return;
    const bool on = !hasParameter || parameter != 0;

    switch (m_state.destination) {
    case Destination::FontTable:
        if (info->word == Word::Font)
            m_fontBeingDefined = parameter;
        else if (info->word == Word::FontCharset && m_fontBeingDefined >= 0)
            m_fontCodePages.insert(m_fontBeingDefined, charsetCodePage(parameter));
        else if (info->word == Word::FontCodePage && m_fontBeingDefined >= 0)
            m_fontCodePages.insert(m_fontBeingDefined, parameter);
        return;
    case Destination::ColourTable:
        if (info->word == Word::Red)
            m_red = std::clamp(parameter, 0, 255);
        else if (info->word == Word::Green)
            m_green = std::clamp(parameter, 0, 255);
        else if (info->word == Word::Blue)
            m_blue = std::clamp(parameter, 0, 255);
        else
            return;
        m_colourGiven = true;
        return;
    case Destination::Skipped:
    case Destination::Text:
        break;
    }

    switch (info->word) {
    case Word::Paragraph:
        paragraph();
        break;
    case Word::Character:
        appendChar(char32_t(info->value));
        break;
    case Word::Bold:
        m_state.style.bold = on;
        break;
    case Word::Italic:
        m_state.style.italic = on;
        break;
    case Word::Underline:
        m_state.style.underline = on;
        break;
    case Word::UnderlineNone:
        m_state.style.underline = false;
        break;
    case Word::Colour:
        m_state.style.colour = parameter;
        break;
    case Word::Plain:
        m_state.style = CharStyle();
        m_state.font = -1;
        break;
    case Word::ParagraphDefaults:
        m_state.alignment = Qt::AlignLeft;
        break;
    case Word::Align:
        m_state.alignment = Qt::Alignment::fromInt(info->value);
        break;
    case Word::Font:
        m_state.font = parameter;
        break;
    case Word::DefaultFont:
        m_defaultFont = parameter;
        break;
    case Word::CodePage:
        m_codePage = info->value;
        break;
    case Word::AnsiCodePage:
        m_codePage = parameter;
        break;
    case Word::UnicodeSkip:
        m_state.unicodeSkip = std::max(parameter, 0);
        break;
    case Word::Unicode: {
        // A signed 16-bit number; larger ones are taken as code points.
        const qint64 code = parameter < 0 ? qint64(parameter) + 65536 : parameter;
        appendChar(code >= 0 && code <= 0x10FFFF ? char32_t(code) : char32_t(0xFFFD));
        m_fallback = m_state.unicodeSkip;
        break;
    }
    case Word::FontTable:
        flushRun();
        m_state.destination = Destination::FontTable;
        break;
    case Word::ColourTable:
        flushRun();
        m_state.destination = Destination::ColourTable;
        m_colours.clear();
        m_colourGiven = false;
        m_red = m_green = m_blue = 0;
        break;
    case Word::FontCharset:
    case Word::FontCodePage:
    case Word::Red:
    case Word::Green:
    case Word::Blue:
    case Word::SkippedDestination:
        break;
    }
}

void Reader::textByte(uchar byte)
{
    if (consumeFallback())
        return;
    if (m_state.destination == Destination::Text) {
        appendByte(byte);
    } else if (m_state.destination == Destination::ColourTable && byte == ';') {
        // An entry without components stands for the default colour.
        m_colours.append(m_colourGiven ? QColor(m_red, m_green, m_blue) : QColor());
        m_colourGiven = false;
        m_red = m_green = m_blue = 0;
    }
}

void Reader::appendByte(uchar byte)
{
    appendChar(table(currentCodePage())[byte]);
}

void Reader::appendChar(char32_t character)
{
    if (m_state.destination != Destination::Text)
        return;
    // Control characters and the characters QTextDocument uses for its own structure are dropped.
    if ((character < 0x20 && character != '\t') || character == 0x7F || character == 0xFFFC ||
        character == 0xFDD0 || character == 0xFDD1)
        return;
    if (character == 0x2029) {
        paragraph();
        return;
    }
    if (m_run.isEmpty())
        m_runStyle = m_state.style;
    else if (!(m_runStyle == m_state.style)) {
        flushRun();
        m_runStyle = m_state.style;
    }
    if (character > 0xFFFF) {
        m_run.append(QChar::highSurrogate(character));
        m_run.append(QChar::lowSurrogate(character));
    } else {
        m_run.append(QChar(char16_t(character)));
    }
    if (++m_length >= kMaxRtfTextLength)
        m_full = true;
}

void Reader::paragraph()
{
    if (m_state.destination != Destination::Text)
        return;
    flushRun();
    QTextBlockFormat format;
    format.setAlignment(m_state.alignment);
    m_cursor.setBlockFormat(format);
    m_cursor.insertBlock(format, QTextCharFormat());
    if (++m_length >= kMaxRtfTextLength)
        m_full = true;
}

void Reader::flushRun()
{
    if (m_run.isEmpty())
        return;
    m_cursor.insertText(m_run, charFormat(m_runStyle));
    m_run.clear();
}

void Reader::finish()
{
    flushRun();
    QTextBlockFormat format;
    format.setAlignment(m_state.alignment);
    m_cursor.setBlockFormat(format);
}

bool Reader::consumeFallback()
{
    if (m_fallback <= 0)
        return false;
    --m_fallback;
    return true;
}

int Reader::currentCodePage() const
{
    const int font = m_state.font >= 0 ? m_state.font : m_defaultFont;
    const int fontCodePage = m_fontCodePages.value(font, 0);
    return fontCodePage != 0 ? fontCodePage : m_codePage;
}

const ByteTable& Reader::table(int codePage)
{
    if (codePage != 1250 && !codePageName(codePage))
        codePage = kDefaultCodePage;
    for (const auto& [page, table] : m_tables) {
        if (page == codePage)
            return table;
    }
    m_tables.emplace_back(codePage, makeTable(codePage));
    return m_tables.back().second;
}

QTextCharFormat Reader::charFormat(const CharStyle& style) const
{
    QTextCharFormat format;
    if (style.bold)
        format.setFontWeight(QFont::Bold);
    if (style.italic)
        format.setFontItalic(true);
    if (style.underline)
        format.setFontUnderline(true);
    if (style.colour >= 0 && style.colour < m_colours.size() &&
        m_colours.at(style.colour).isValid())
        format.setForeground(m_colours.at(style.colour));
    return format;
}

} // namespace

bool looksLikeRtf(QByteArrayView text)
{
    return text.startsWith("{\\rtf");
}

bool readRtf(QByteArrayView rtf, QTextDocument& document)
{
    if (!looksLikeRtf(rtf))
        return false;
    // No undo history: it would keep a second copy of everything read.
    const bool undo = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    document.clear();
    // One edit block: the document lays itself out once, not after every run of text, which
    // would take time in the square of the runs a paragraph has.
    QTextCursor(&document).beginEditBlock();
    const bool ok = Reader(rtf, document).read();
    QTextCursor(&document).endEditBlock();
    if (!ok)
        document.clear();
    document.setUndoRedoEnabled(undo);
    return ok;
}
