#include "core/platform/RegistryHive.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTest>

using platform::RegistryHive;
using platform::RegKind;
using platform::RegValue;

namespace {

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings");

RegistryHive parsed(const QByteArray& data)
{
    RegistryHive::ParseResult r = RegistryHive::parse(data);
    if (!r.hive)
        qWarning() << "parse error:" << r.error;
    return r.hive.value_or(RegistryHive{});
}

QByteArray sample(const char* eol)
{
    QByteArray text = "Windows Registry Editor Version 5.00\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings]\n"
                      "\"Directories\"=\"C:\\\\Lst;D:\\\\Mzdy \\\"2024\\\"\"\n"
                      "\"MaxPortrait\"=dword:00000060\n"
                      "@=\"default\"\n"
                      "\"Path\"=hex(2):25,00,41,00,\\\n"
                      "  25,00,00,00\n"
                      "\"Blob\"=hex:01,02,ff\n"
                      "\n"
                      "[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings\\LstList]\n"
                      "\"Výplatní listina\"=\"2\"\n";
    text.replace("\n", eol);
    return text;
}

} // namespace

class TestRegistryHive : public QObject
{
    Q_OBJECT
private slots:
    void readsRegeditExports_data();
    void readsRegeditExports();
    void keepsOtherKindsAndRoundTrips();
    void textThatCannotBeQuotedSurvives();
    void binaryFormsOfTextAndDword();
    void namesCompareWithoutCase();
    void deletionsInImportFiles();
    void deleteKeyTakesSubkeys();
    void rejectsDamagedFiles_data();
    void rejectsDamagedFiles();
};

void TestRegistryHive::readsRegeditExports_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("UTF-8, CRLF") << sample("\r\n");
    QTest::newRow("UTF-8, LF") << sample("\n");
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF") + sample("\r\n");
    QStringDecoder utf8(QStringDecoder::Utf8);
    QStringEncoder utf16(QStringEncoder::Utf16LE);
    const QString text = utf8(sample("\r\n"));
    QTest::newRow("UTF-16LE with BOM") << QByteArray("\xFF\xFE") + QByteArray(utf16(text));
    QStringEncoder ansi("windows-1250");
    QByteArray regedit4 = ansi(text);
    regedit4.replace("Windows Registry Editor Version 5.00", "REGEDIT4");
    QTest::newRow("REGEDIT4 in the ANSI code page") << regedit4;
}

void TestRegistryHive::readsRegeditExports()
{
    QFETCH(QByteArray, data);
    RegistryHive::ParseResult r = RegistryHive::parse(data);
    QVERIFY2(r.hive, qPrintable(r.error));
    const RegistryHive& hive = *r.hive;
    const RegValue* dirs = hive.findValue(kKey, QStringLiteral("Directories"));
    QVERIFY(dirs);
    QCOMPARE(dirs->kind, RegKind::Sz);
    QCOMPARE(dirs->text, QStringLiteral("C:\\Lst;D:\\Mzdy \"2024\""));
    const RegValue* width = hive.findValue(kKey, QStringLiteral("MaxPortrait"));
    QVERIFY(width);
    QCOMPARE(width->kind, RegKind::Dword);
    QCOMPARE(width->dword, 96u);
    QCOMPARE(hive.findValue(kKey, QString())->text, QStringLiteral("default"));
    QCOMPARE(hive.valueNames(kKey + QStringLiteral("\\LstList")),
             QStringList{QStringLiteral("Výplatní listina")});
}

void TestRegistryHive::keepsOtherKindsAndRoundTrips()
{
    const RegistryHive hive = parsed(sample("\r\n"));
    const RegValue* path = hive.findValue(kKey, QStringLiteral("Path"));
    QVERIFY(path);
    // Expandable text (regedit writes paths so) reads as text and is written back as it was.
    QCOMPARE(path->kind, RegKind::ExpandSz);
    QCOMPARE(path->text, QStringLiteral("%A%"));
    QCOMPARE(path->raw, QStringLiteral("hex(2):25,00,41,00,25,00,00,00"));
    QCOMPARE(hive.findValue(kKey, QStringLiteral("Blob"))->raw, QStringLiteral("hex:01,02,ff"));

    const QByteArray written = hive.serialize();
    QVERIFY(written.startsWith("Windows Registry Editor Version 5.00\r\n"));
    const RegistryHive again = parsed(written);
    QCOMPARE(again.serialize(), written);
    QCOMPARE(again.keys().size(), 2);
    QCOMPARE(again.findValue(kKey, QStringLiteral("Path"))->raw, path->raw);
}

void TestRegistryHive::textThatCannotBeQuotedSurvives()
{
    RegistryHive hive;
    RegValue v;
    v.name = QStringLiteral("Multi\"line");
    v.text = QStringLiteral("first\r\nsecond\t\\end\\");
    hive.setValue(kKey, v);
    const RegistryHive again = parsed(hive.serialize());
    const RegValue* back = again.findValue(kKey, v.name);
    QVERIFY(back);
    QCOMPARE(back->kind, RegKind::Sz);
    QCOMPARE(back->text, v.text);
}

void TestRegistryHive::binaryFormsOfTextAndDword()
{
    // regedit writes a REG_DWORD of unusual length, or text with line breaks, in hex form.
    const RegistryHive hive = parsed("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n"
                                     "\"D\"=hex(4):2c,01,00,00\n"
                                     "\"S\"=hex(1):41,00,42,00,00,00\n"
                                     "\"Odd\"=hex(1):41,00,42\n");
    const QString key = QStringLiteral("HKEY_CURRENT_USER\\X");
    QCOMPARE(hive.findValue(key, QStringLiteral("D"))->kind, RegKind::Dword);
    QCOMPARE(hive.findValue(key, QStringLiteral("D"))->dword, 300u);
    QCOMPARE(hive.findValue(key, QStringLiteral("S"))->text, QStringLiteral("AB"));
    QCOMPARE(hive.findValue(key, QStringLiteral("Odd"))->kind, RegKind::Other);
}

void TestRegistryHive::namesCompareWithoutCase()
{
    RegistryHive hive = parsed(sample("\n"));
    QVERIFY(hive.findValue(kKey.toLower(), QStringLiteral("maxportrait")));
    RegValue v;
    v.name = QStringLiteral("MAXPORTRAIT");
    v.kind = RegKind::Dword;
    v.dword = 120;
    hive.setValue(kKey.toUpper(), v);
    QCOMPARE(hive.keys().size(), 2);
    const RegValue* back = hive.findValue(kKey, QStringLiteral("MaxPortrait"));
    QCOMPARE(back->name, QStringLiteral("MaxPortrait")); // the first spelling stays
    QCOMPARE(back->dword, 120u);
}

void TestRegistryHive::deletionsInImportFiles()
{
    QByteArray data = sample("\n");
    data += "\n[-HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings\\LstList]\n"
            "[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings]\n"
            "\"Blob\"=-\n";
    const RegistryHive hive = parsed(data);
    QVERIFY(!hive.hasKey(kKey + QStringLiteral("\\LstList")));
    QVERIFY(!hive.findValue(kKey, QStringLiteral("Blob")));
    QVERIFY(hive.findValue(kKey, QStringLiteral("Path")));
}

void TestRegistryHive::deleteKeyTakesSubkeys()
{
    RegistryHive hive = parsed(sample("\n"));
    hive.key(QStringLiteral("HKEY_CURRENT_USER\\Software\\Morvane\\TarnyxOther"));
    QVERIFY(hive.deleteKey(QStringLiteral("HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx")));
    QCOMPARE(hive.keys().size(), 1); // a sibling whose name only starts alike stays
    QVERIFY(!hive.deleteKey(kKey));
}

void TestRegistryHive::rejectsDamagedFiles_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("no header") << QByteArray("[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\"\n");
    QTest::newRow("other header") << QByteArray("Windows Registry Editor Version 9\n");
    QTest::newRow("value before any key")
        << QByteArray("REGEDIT4\n\"a\"=\"b\"\n[HKEY_CURRENT_USER\\X]\n");
    QTest::newRow("unterminated key") << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\X\n");
    QTest::newRow("unterminated text")
        << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\n");
    QTest::newRow("text followed by junk")
        << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=\"b\" x\n");
    QTest::newRow("dword too long")
        << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=dword:123456789\n");
    QTest::newRow("dword not hex")
        << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=dword:0000zz00\n");
    QTest::newRow("bad hex byte") << QByteArray(
        "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=hex:01,2g\n");
    QTest::newRow("continuation past the end")
        << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=hex:01,\\\n");
    QTest::newRow("unknown kind") << QByteArray(
        "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n\"a\"=qword:1\n");
    QTest::newRow("stray line") << QByteArray("REGEDIT4\n[HKEY_CURRENT_USER\\X]\nhello\n");
    QTest::newRow("not text") << QByteArray("REGEDIT5\xff\xfe\x80\x81\n");
}

void TestRegistryHive::rejectsDamagedFiles()
{
    QFETCH(QByteArray, data);
    const RegistryHive::ParseResult r = RegistryHive::parse(data);
    QVERIFY(!r.hive);
    QVERIFY(!r.error.isEmpty());
}

QTEST_GUILESS_MAIN(TestRegistryHive)
#include "tst_registryhive.moc"
