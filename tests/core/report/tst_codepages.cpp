#include "core/report/CodePages.h"

#include <QTest>

#include <cstdint>
#include <iconv.h>
#include <iterator>
#include <optional>

using namespace Qt::StringLiterals;

// The tables are checked against glibc's converters, an implementation independent of ours, so
// that a mistyped table entry shows up as a difference.
namespace {

std::optional<QByteArray> viaIconv(const char* to, const char* from, QByteArray input)
{
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)))
        return std::nullopt;
    char output[16];
    char* in = input.data();
    size_t inLeft = size_t(input.size());
    char* out = output;
    size_t outLeft = sizeof output;
    const bool ok = iconv(cd, &in, &inLeft, &out, &outLeft) != size_t(-1) && inLeft == 0;
    iconv_close(cd);
    if (!ok)
        return std::nullopt;
    return QByteArray(output, out - output);
}

std::optional<char32_t> decodeByte(const char* charset, int byte)
{
    const auto utf32 = viaIconv("UTF-32LE", charset, QByteArray(1, char(byte)));
    if (!utf32 || utf32->size() != 4)
        return std::nullopt;
    char32_t c = 0;
    for (int i = 3; i >= 0; --i)
        c = (c << 8) | static_cast<unsigned char>(utf32->at(i));
    return c;
}

std::optional<char> encodeCp1250(char32_t c)
{
    QByteArray utf32;
    for (int i = 0; i < 4; ++i)
        utf32.append(char((c >> (8 * i)) & 0xFF));
    const auto bytes = viaIconv("CP1250", "UTF-32LE", utf32);
    if (!bytes || bytes->size() != 1)
        return std::nullopt;
    return bytes->at(0);
}

QByteArray allBytes()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(char(b));
    return bytes;
}

// "B3: 2D, expected A6" for every byte that differs; empty when the whole table matches.
QString differences(const QByteArray& actual, const QByteArray& expected)
{
    if (actual.size() != expected.size())
        return u"length %1, expected %2"_s.arg(actual.size()).arg(expected.size());
    QStringList lines;
    for (int b = 0; b < actual.size(); ++b) {
        if (actual.at(b) != expected.at(b))
            lines << u"%1: %2, expected %3"_s.arg(b, 2, 16, QLatin1Char('0'))
                         .arg(uchar(actual.at(b)), 2, 16, QLatin1Char('0'))
                         .arg(uchar(expected.at(b)), 2, 16, QLatin1Char('0'));
    }
    return lines.join(u"; ");
}

// The look-alikes that stand in for CP852 box-drawing and block characters.
std::optional<char> cp852LookAlike(int byte)
{
    const std::pair<char, const char*> lookAlikes[] = {
        {'-', "B0 B1 B2 B3 BC C9 D9 DA DB DC DF"},
        {'+', "B4 C1 C3 C5 CE"},
        {'\xA6', "B9 BA C4 CA CC FE"},
        {'\xAC', "BB BF"},
        {'L', "C0 C8"},
        {'T', "C2 CB"},
        {'=', "CD"},
    };
    for (const auto& [result, bytes] : lookAlikes) {
        for (const QByteArray& hex : QByteArray(bytes).split(' ')) {
            if (hex.toInt(nullptr, 16) == byte)
                return result;
        }
    }
    return std::nullopt;
}

} // namespace

class TestCodePages : public QObject
{
    Q_OBJECT
private slots:
    void cp852Table();
    void kamenickyTable();
    void iso88592Table();
    void cp1250ToUnicodeTable();
    void unicodeToCp1250MissingCharacters();
    void convert_data();
    void convert();
};

void TestCodePages::cp852Table()
{
    QByteArray expected;
    for (int b = 0; b < 256; ++b) {
        const auto c = decodeByte("CP852", b);
        QVERIFY(c);
        std::optional<char> e = encodeCp1250(*c);
        if (b == 0x0F)
            e = '\xA4';
        else if (b == 0x14)
            e = '\xB6';
        else if (b == 0x15)
            e = '\xA7';
        else if (!e)
            e = cp852LookAlike(b);
        QVERIFY2(e, qPrintable(u"no Windows-1250 byte for CP852 %1"_s.arg(b, 0, 16)));
        expected.append(*e);
    }
    const QString diff = differences(convertReportText(allBytes(), CodePage852), expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestCodePages::kamenickyTable()
{
    static constexpr char16_t letters[] = u"ČüéďäĎŤčěĚĹÍľĺÄÁÉžŽôöÓůÚýÖÜŠĽÝŘťáíóúňŇŮÔšřŕŔ¼§«»";
    static_assert(std::size(letters) == 0x30 + 1);
    QByteArray expected;
    for (int b = 0; b < 256; ++b) {
        std::optional<char32_t> c;
        if (b < 0x80)
            c = char32_t(b);
        else if (b < 0xB0)
            c = letters[b - 0x80];
        else
            c = decodeByte("CP437", b);
        QVERIFY(c);
        expected.append(encodeCp1250(*c).value_or('#'));
    }
    const QString diff = differences(convertReportText(allBytes(), CodePageKamenicky), expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestCodePages::iso88592Table()
{
    QByteArray expected;
    for (int b = 0; b < 256; ++b) {
        if (b >= 0x7F && b < 0xA0) {
            expected.append('#');
            continue;
        }
        const auto c = decodeByte("ISO-8859-2", b);
        QVERIFY(c);
        const auto e = encodeCp1250(*c);
        QVERIFY2(e, qPrintable(u"no Windows-1250 byte for ISO 8859-2 %1"_s.arg(b, 0, 16)));
        expected.append(*e);
    }
    const QString diff = differences(convertReportText(allBytes(), CodePageIso88592), expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

// Every defined byte gives glibc's character and comes back unchanged from unicodeToCp1250; the
// five undefined ones give U+FFFD, which comes back as "?".
void TestCodePages::cp1250ToUnicodeTable()
{
    const QByteArray bytes = allBytes();
    const QString text = cp1250ToUnicode(bytes);
    QCOMPARE(text.size(), 256);
    QByteArray undefined;
    QByteArray expectedBack;
    QStringList wrong;
    for (int b = 0; b < 256; ++b) {
        const auto c = decodeByte("CP1250", b);
        if (!c)
            undefined.append(char(b));
        expectedBack.append(c ? char(b) : '?');
        const char16_t expected = c ? char16_t(*c) : u'\uFFFD';
        if (text.at(b).unicode() != expected || cp1250ToUnicode(char(b)) != QChar(expected))
            wrong << u"%1 -> U+%2"_s.arg(b, 2, 16, QLatin1Char('0'))
                         .arg(text.at(b).unicode(), 4, 16, QLatin1Char('0'));
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"; ")));
    QCOMPARE(undefined, QByteArray("\x81\x83\x88\x90\x98"));
    const QString diff = differences(unicodeToCp1250(text), expectedBack);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
}

void TestCodePages::unicodeToCp1250MissingCharacters()
{
    // ñ is Latin-1 0xF1, where Windows-1250 has ń; a C1 control must not land on an undefined byte.
    QCOMPARE(unicodeToCp1250(u"ñ ń"), QByteArray("? \xF1"));
    QCOMPARE(unicodeToCp1250(u"\u0081\u00A0"), QByteArray("?\xA0"));
    QCOMPARE(unicodeToCp1250(u"αΩ─\uFFFD"), QByteArray("????"));
    // One "?" per character, also outside the Basic Multilingual Plane and for a lone surrogate.
    QCOMPARE(unicodeToCp1250(u"a😀b"), QByteArray("a?b"));
    QCOMPARE(unicodeToCp1250(QString(QChar(0xD800))), QByteArray("?"));
    QCOMPARE(unicodeToCp1250(QString()), QByteArray());
}

void TestCodePages::convert_data()
{
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("852 title") << 852 << QByteArray("V\xECplatn\xA1 p\xA0ska \xAC\xFD")
                               << QByteArray("V\xFDplatn\xED p\xE1ska \xC8\xF8");
    QTest::newRow("852 single lines") << 852 << QByteArray("\xC4\xB3") << QByteArray("\xA6-");
    QTest::newRow("852 control codes as symbols")
        << 852 << QByteArray("a\x0F\x14\x15\x0Cz") << QByteArray("a\xA4\xB6\xA7\x0Cz");
    QTest::newRow("862 letters and a box")
        << 862 << QByteArray("\x80\xA8\xAD\xC4") << QByteArray("\xC8\x9A\xA7#");
    QTest::newRow("859 letter, control, DEL")
        << 859 << QByteArray("\xA9\x85\x7F~") << QByteArray("\x8A##~");
    for (const int cp : {852, 862, 859, 1250})
        QTest::addRow("%d empty", cp) << cp << QByteArray() << QByteArray();
    for (const int cp : {1250, 437, 0, -1})
        QTest::addRow("%d unchanged", cp) << cp << allBytes() << allBytes();
}

void TestCodePages::convert()
{
    QFETCH(int, codePage);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    QCOMPARE(convertReportText(input, codePage), expected);
}

QTEST_GUILESS_MAIN(TestCodePages)
#include "tst_codepages.moc"
