#include "core/config/FontText.h"

#include <QTest>

Q_DECLARE_METATYPE(FontDesc)

using namespace Qt::StringLiterals;

namespace {

FontDesc makeFont(const QString& name, int charset, int color, int size, bool b = false,
                  bool i = false, bool u = false, bool s = false)
{
    FontDesc f;
    f.name = name;
    f.charset = charset;
    f.color = color;
    f.size = size;
    f.bold = b;
    f.italic = i;
    f.underline = u;
    f.strikeOut = s;
    return f;
}

// A target that differs from the defaults in every attribute, so that a kept or replaced value
// is visible.
FontDesc otherFont()
{
    return makeFont(QStringLiteral("Other"), 77, 4242, 33, true, true, true, true);
}

} // namespace

class TestFontText : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void knownText_data();
    void knownText();
    void readText_data();
    void readText();
    void textWithoutNameLeavesFont_data();
    void textWithoutNameLeavesFont();
    void commaTextSplitting_data();
    void commaTextSplitting();
    void joinThenSplitKeepsItems_data();
    void joinThenSplitKeepsItems();
    void qfontConversion();
};

void TestFontText::roundTrip_data()
{
    QTest::addColumn<FontDesc>("font");
    QTest::newRow("defaults") << FontDesc();
    QTest::newRow("negative system colour") << makeFont(QStringLiteral("Arial"), 0, -16777201, 9);
    QTest::newRow("quote, comma and equals in the face")
        << makeFont(QStringLiteral("My \"odd\", face=x"), 238, 255, 11);
    for (int style = 0; style < 16; ++style) {
        const QByteArray tag = "style bits " + QByteArray::number(style);
        QTest::newRow(tag.constData()) << makeFont(QStringLiteral("Courier New"), 238, -16777208,
                                                   10, style & 1, style & 2, style & 4, style & 8);
    }
}

void TestFontText::roundTrip()
{
    QFETCH(FontDesc, font);
    FontDesc read = otherFont();
    textToFont(fontToText(font), read);
    QCOMPARE(read, font);
}

void TestFontText::knownText_data()
{
    QTest::addColumn<FontDesc>("font");
    QTest::addColumn<QString>("text");
    QTest::newRow("defaults") << FontDesc()
                              << QStringLiteral("\"name=Courier New\",charset=1,color=-16777208,"
                                                "size=10,\"style=     \"");
    QTest::newRow("bold and underlined, one-word face")
        << makeFont(QStringLiteral("Arial"), 238, 0, 12, true, false, true)
        << QStringLiteral("name=Arial,charset=238,color=0,size=12,\"style=B U  \"");
}

void TestFontText::knownText()
{
    QFETCH(FontDesc, font);
    QFETCH(QString, text);
    QCOMPARE(fontToText(font), text);
}

void TestFontText::readText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<FontDesc>("expected");
    // otherFont() is the target: Charset 77, Color 4242, Size 33.
    QTest::newRow("capitals B and U")
        << QStringLiteral("name=X,size=9,\"style=B U  \"")
        << makeFont(QStringLiteral("X"), 77, 4242, 9, true, false, true);
    QTest::newRow("lower-case letters are no style")
        << QStringLiteral("name=X,\"style=biu s\"") << makeFont(QStringLiteral("X"), 77, 4242, 33);
    QTest::newRow("letters anywhere")
        << QStringLiteral("name=X,style=xxSxxI")
        << makeFont(QStringLiteral("X"), 77, 4242, 33, false, true, false, true);
    QTest::newRow("no style item clears the target's style")
        << QStringLiteral("name=X") << makeFont(QStringLiteral("X"), 77, 4242, 33);
    QTest::newRow("non-numeric numbers keep the target's")
        << QStringLiteral("name=X,charset=abc,color=12x,size=")
        << makeFont(QStringLiteral("X"), 77, 4242, 33);
    QTest::newRow("charset outside a byte keeps the target's")
        << QStringLiteral("name=X,charset=300,color=-5,size=14")
        << makeFont(QStringLiteral("X"), 77, -5, 14);
    QTest::newRow("names in any case, any order")
        << QStringLiteral("SIZE=14,Style=I,NAME=Y,Charset=2")
        << makeFont(QStringLiteral("Y"), 2, 4242, 14, false, true);
    QTest::newRow("blank outside quotes splits the face")
        << QStringLiteral("name=Courier New,size=8")
        << makeFont(QStringLiteral("Courier"), 77, 4242, 8);
}

void TestFontText::readText()
{
    QFETCH(QString, text);
    QFETCH(FontDesc, expected);
    FontDesc font = otherFont();
    textToFont(text, font);
    QCOMPARE(font, expected);
}

void TestFontText::textWithoutNameLeavesFont_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty text") << QString();
    QTest::newRow("no name item") << QStringLiteral("charset=0,color=1,size=12,style=B");
    QTest::newRow("empty name") << QStringLiteral("name=,size=12,style=B");
    QTest::newRow("unterminated quote") << QStringLiteral("\"size=12,style=B");
}

void TestFontText::textWithoutNameLeavesFont()
{
    QFETCH(QString, text);
    FontDesc font = otherFont();
    textToFont(text, font);
    QCOMPARE(font, otherFont());
}

void TestFontText::commaTextSplitting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("items");
    const QString nul(1, QChar(0));
    QTest::newRow("blanks separate")
        << QStringLiteral("a b,c") << QStringList{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("quoted blank") << QStringLiteral("\"a b\",c") << QStringList{u"a b"_s, u"c"_s};
    QTest::newRow("doubled quotes")
        << QStringLiteral("\"say \"\"hi\"\"\",x") << QStringList{u"say \"hi\""_s, u"x"_s};
    QTest::newRow("empty between commas")
        << QStringLiteral("a,,b") << QStringList{u"a"_s, QString(), u"b"_s};
    QTest::newRow("blanks around items and commas")
        << QStringLiteral("  a  ,  b  ") << QStringList{u"a"_s, u"b"_s};
    QTest::newRow("text right after a closing quote")
        << QStringLiteral("\"a\"b,c") << QStringList{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("unterminated quote")
        << QStringLiteral("x,\"open, to the end") << QStringList{u"x"_s, u"open, to the end"_s};
    QTest::newRow("only blanks") << QStringLiteral(" \t ") << QStringList();
    QTest::newRow("NUL and tab separate")
        << (u"a"_s + nul + u"b\tc"_s) << QStringList{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("quoted NUL is kept")
        << (u"\"a"_s + nul + u"b\""_s) << QStringList{u"a"_s + nul + u"b"_s};
}

void TestFontText::commaTextSplitting()
{
    QFETCH(QString, text);
    QFETCH(QStringList, items);
    QCOMPARE(splitCommaText(text), items);
}

void TestFontText::joinThenSplitKeepsItems_data()
{
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QStringList{u"a=1"_s, u"b"_s} << QStringLiteral("a=1,b");
    QTest::newRow("quote, comma, blank, control")
        << QStringList{u"x\"y"_s, u"p,q"_s, u" s "_s, u"t\nu"_s}
        << QStringLiteral("\"x\"\"y\",\"p,q\",\" s \",\"t\nu\"");
    QTest::newRow("empty items survive")
        << QStringList{u"a"_s, QString(), QString()} << QStringLiteral("a,\"\",\"\"");
}

void TestFontText::joinThenSplitKeepsItems()
{
    QFETCH(QStringList, items);
    QFETCH(QString, text);
    QCOMPARE(joinCommaText(items), text);
    QCOMPARE(splitCommaText(text), items);
}

void TestFontText::qfontConversion()
{
    const FontDesc desc =
        makeFont(QStringLiteral("DejaVu Sans Mono"), 238, -5, 13, true, false, true, false);
    const QFont font = desc.toQFont();
    QCOMPARE(font.family(), desc.name);
    QCOMPARE(font.pointSize(), 13);
    QVERIFY(font.bold() && !font.italic() && font.underline() && !font.strikeOut());
    // Character set and colour are not part of a QFont; the caller hands them back.
    QCOMPARE(FontDesc::fromQFont(font, 238, -5), desc);

    QFont pixels(QStringLiteral("Serif"));
    pixels.setPixelSize(16);
    pixels.setItalic(true);
    const FontDesc fromPixels = FontDesc::fromQFont(pixels);
    QCOMPARE(fromPixels.size, 12);
    QVERIFY(fromPixels.italic && !fromPixels.bold);
    QCOMPARE(fromPixels.charset, FontDesc::kDefaultCharset);
    QCOMPARE(fromPixels.color, FontDesc::kWindowTextColor);
}

QTEST_GUILESS_MAIN(TestFontText)
#include "tst_fonttext.moc"
