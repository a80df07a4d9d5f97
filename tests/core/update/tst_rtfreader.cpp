#include "core/update/RtfReader.h"

#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace {

QString readText(const QByteArray& rtf)
{
    QTextDocument document;
    if (!readRtf(rtf, document))
        return u"<not rtf>"_s;
    return document.toPlainText();
}

// The format of the last character of the first occurrence of `text`.
QTextCharFormat formatOf(const QTextDocument& document, const QString& text)
{
    const QTextCursor found = document.find(text);
    if (found.isNull())
        return QTextCharFormat();
    return found.charFormat();
}

} // namespace

// The reader runs without an application object, as the update check may.
class TestRtfReader : public QObject
{
    Q_OBJECT

private slots:
    void plainTextIsNotRtf();
    void czechText_data();
    void czechText();
    void formatting();
    void paragraphs();
    void skippedDestinationsDoNotLeak();
    void brokenInput_data();
    void brokenInput();
    void nestingAndLengthLimits();
};

void TestRtfReader::plainTextIsNotRtf()
{
    QVERIFY(looksLikeRtf("{\\rtf1\\ansi text}"));
    QVERIFY(!looksLikeRtf("Nová verze opravuje tisk.\n{\\rtf1}"));
    QVERIFY(!looksLikeRtf(""));

    QTextDocument document;
    document.setPlainText(u"kept"_s);
    QVERIFY(!readRtf("Nová verze opravuje tisk.", document));
    QCOMPARE(document.toPlainText(), u"kept"_s);
}

void TestRtfReader::czechText_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");

    const QString czech = u"Příliš žluťoučký kůň"_s;
    QTest::newRow("\\'hh in code page 1250")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1250 P\\'f8\\'edli\\'9a \\'9elu\\'9dou\\'e8k\\'fd "
                      "k\\'f9\\'f2}")
        << czech;
    QTest::newRow("font character sets over code page 1252")
        << QByteArray("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset238 Arial CE;}"
                      "{\\f1\\fcharset0 Arial;}}P\\'f8\\'edli\\'9a \\'9elu\\'9dou\\'e8k\\'fd "
                      "k\\'f9\\'f2{\\f1  \\'e8}}")
        << czech + u" è"_s;
    QTest::newRow("\\u with fallbacks")
        << QByteArray("{\\rtf1\\ansi\\ansicpg1250\\uc1 P\\u345?\\u237?li\\u353? "
                      "{\\uc2 \\u382\\'9e\\'9elu}\\u357 ?ou\\u269\\'e8k}")
        << u"Příliš žluťoučk"_s;
    QTest::newRow("\\u negative, \\uc0")
        << QByteArray("{\\rtf1\\uc0 \\u-1279 x\\u-32768 }") << u"\uFB01x\u8000"_s;
}

void TestRtfReader::czechText()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QCOMPARE(readText(rtf), text);
}

void TestRtfReader::formatting()
{
    QTextDocument document;
    QVERIFY(readRtf("{\\rtf1{\\colortbl;\\red200\\green0\\blue0;}\\b bold\\b0  {\\i italic} after "
                    "\\ul under\\ulnone  \\cf1 red\\cf0  auto \\b\\i\\cf1 all\\plain  plain}",
                    document));
    QCOMPARE(document.toPlainText(), u"bold italic after under red auto all plain"_s);

    QCOMPARE(formatOf(document, u"bold"_s).fontWeight(), int(QFont::Bold));
    QVERIFY(!formatOf(document, u"bold"_s).fontItalic());
    QVERIFY(formatOf(document, u"italic"_s).fontItalic());
    QCOMPARE(formatOf(document, u"italic"_s).fontWeight(), int(QFont::Normal));
    QVERIFY(!formatOf(document, u"after"_s).fontItalic()); // the group's end ends the italics
    QVERIFY(formatOf(document, u"under"_s).fontUnderline());
    QVERIFY(!formatOf(document, u"red"_s).fontUnderline());
    QCOMPARE(formatOf(document, u"red"_s).foreground().color(), QColor(200, 0, 0));
    QVERIFY(!formatOf(document, u"auto"_s).hasProperty(QTextFormat::ForegroundBrush));

    const QTextCharFormat all = formatOf(document, u"all"_s);
    QVERIFY(all.fontWeight() == QFont::Bold && all.fontItalic());
    QCOMPARE(all.foreground().color(), QColor(200, 0, 0));
    const QTextCharFormat plain = formatOf(document, u"plain"_s);
    QVERIFY(plain.fontWeight() != QFont::Bold && !plain.fontItalic());
    QVERIFY(!plain.hasProperty(QTextFormat::ForegroundBrush));
}

void TestRtfReader::paragraphs()
{
    QTextDocument document;
    QVERIFY(readRtf("{\\rtf1\\pard\\qc Verze 2.0\\par\r\n\\pard Opravy:\\line tisk\\tab PDF\\par\n"
                    "Konec\\\n}",
                    document));
    QCOMPARE(document.blockCount(), 4);
    const QTextBlock title = document.firstBlock();
    QCOMPARE(title.text(), u"Verze 2.0"_s);
    QCOMPARE(title.blockFormat().alignment(), Qt::Alignment(Qt::AlignHCenter));
    QCOMPARE(title.next().text(), u"Opravy:\u2028tisk\tPDF"_s);
    QCOMPARE(title.next().blockFormat().alignment(), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(title.next().next().text(), u"Konec"_s);
    QCOMPARE(document.lastBlock().text(), QString());
}

void TestRtfReader::skippedDestinationsDoNotLeak()
{
    const QByteArray rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0\\fnil\\fcharset238{\\*\\panose 00}Arial;}}"
                           "{\\stylesheet{\\s0 Normal;}}{\\info{\\title Secret}{\\author Someone}}"
                           "{\\*\\generator Writer 1.0;}{\\*\\unknown hidden {\\nested more}}"
                           "{\\pict\\wmetafile8 0102{\\bin2 }}}}{\\header head}"
                           "{\\field{\\*\\fldinst HYPERLINK \"http://x\"}{\\fldrslt link}} Body"
                           "\\bin3 {}x \\{\\}\\\\}";
    QCOMPARE(readText(rtf), u"link Body {}\\"_s);
}

void TestRtfReader::brokenInput_data()
{
    QTest::addColumn<QByteArray>("rtf");
    QTest::addColumn<QString>("text");

    QTest::newRow("missing closing braces") << QByteArray("{\\rtf1 abc{\\b def") << u"abcdef"_s;
    QTest::newRow("text after the end") << QByteArray("{\\rtf1 abc}}tail{x}") << u"abc"_s;
    QTest::newRow("cut after a backslash") << QByteArray("{\\rtf1 abc\\") << u"abc"_s;
    QTest::newRow("cut \\'h") << QByteArray("{\\rtf1 abc\\'e") << u"abce"_s;
    QTest::newRow("bad hex digits") << QByteArray("{\\rtf1 a\\'zz}") << u"azz"_s;
    QTest::newRow("\\bin longer than the rest") << QByteArray("{\\rtf1 a\\bin99999 b}") << u"a"_s;
    QTest::newRow("\\bin negative") << QByteArray("{\\rtf1 a\\bin-5 b}") << u"ab"_s;
    QTest::newRow("huge parameters")
        << QByteArray("{\\rtf1\\uc99999999999 \\u99999999999 x}y\\cf99999999999 z") << u"\uFFFD"_s;
    QTest::newRow("colour outside the table")
        << QByteArray("{\\rtf1{\\colortbl;}\\cf5 a\\cf-3 b}") << u"ab"_s;
    QTest::newRow("document's structure characters")
        << QByteArray("{\\rtf1\\uc0 a\\u65532 \\u-560 \\u0 \\u13 b}") << u"ab"_s;
    QTest::newRow("multi-byte code page read as 1252")
        << QByteArray("{\\rtf1\\ansicpg932 \\'e8}") << u"è"_s;
}

void TestRtfReader::brokenInput()
{
    QFETCH(QByteArray, rtf);
    QFETCH(QString, text);
    QCOMPARE(readText(rtf), text);
}

void TestRtfReader::nestingAndLengthLimits()
{
    const QByteArray deepest = "{\\rtf1" + QByteArray(kMaxRtfGroupDepth - 1, '{') + "deep";
    QCOMPARE(readText(deepest), u"deep"_s);

    QTextDocument document;
    document.setPlainText(u"old"_s);
    const QByteArray tooDeep = "{\\rtf1" + QByteArray(kMaxRtfGroupDepth, '{') + "deep";
    QVERIFY(!readRtf(tooDeep, document));
    QVERIFY(document.isEmpty());

    // Groups that end do not count towards the depth.
    QCOMPARE(readText("{\\rtf1" + QByteArray("{{}}").repeated(100000) + "x}"), u"x"_s);

    // Many runs of another format in one paragraph all arrive.
    const QByteArray manyRuns = "{\\rtf1 " + QByteArray("a\\b b\\b0 ").repeated(40000) + "}";
    QVERIFY(readRtf(manyRuns, document));
    QCOMPARE(document.characterCount(), 80001);

    QByteArray longText = "{\\rtf1 ";
    for (int i = 0; i < kMaxRtfTextLength / 2; ++i)
        longText += "ab\\par ";
    QVERIFY(readRtf(longText, document));
    QCOMPARE(document.characterCount(), kMaxRtfTextLength + 1);
}

QTEST_GUILESS_MAIN(TestRtfReader)
#include "tst_rtfreader.moc"
