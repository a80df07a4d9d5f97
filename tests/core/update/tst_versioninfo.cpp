#include "core/update/VersionInfo.h"

#include <QTest>

class TestVersionInfo : public QObject
{
    Q_OBJECT
private slots:
    void descriptorReading();
    void sizeForms_data();
    void sizeForms();
    void comparison_data();
    void comparison();
    void shortForms();
};

void TestVersionInfo::descriptorReading()
{
    // Letter case and blanks around "=" do not matter; the first of two entries counts; other
    // sections, comments and lines without "=" are passed over.
    const VersionDescriptor d = parseVersionDescriptor(
        "; published versions\r\n[Other]\r\nVersion=9.9\r\n[ tarnyx ]\n  vErSiOn =  1.6.0.3 \r"
        "version=7.0\nURL=http://host/dir/setup.exe\nSize=$1000\nnonsense\nInfo=http://host/n."
        "bzip\r\nsha256 = ABcd01\r\n[Tarnyx]\r\nVersion=8.0\r\n",
        QStringLiteral("Tarnyx"));
    QCOMPARE(d.version, QStringLiteral("1.6.0.3"));
    QCOMPARE(d.url, QStringLiteral("http://host/dir/setup.exe"));
    QCOMPARE(d.size, 4096);
    QCOMPARE(d.info, QStringLiteral("http://host/n.bzip"));
    QCOMPARE(d.sha256, QStringLiteral("abcd01"));

    // Nothing before the first section, and a byte order mark keeps the section from being seen.
    QVERIFY(parseVersionDescriptor("Version=1.0\r\n", QStringLiteral("Tarnyx")).version.isEmpty());
    QVERIFY(
        parseVersionDescriptor("\xEF\xBB\xBF[Tarnyx]\r\nVersion=1.0\r\n", QStringLiteral("Tarnyx"))
            .version.isEmpty());
}

void TestVersionInfo::sizeForms_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::newRow("decimal") << "2500000" << 2500000;
    QTest::newRow("0x") << "0x1F" << 31;
    QTest::newRow("dollar") << "$ff" << 255;
    QTest::newRow("not a number") << "12 MB" << 0;
    QTest::newRow("too large") << "99999999999" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestVersionInfo::sizeForms()
{
    QFETCH(QString, text);
    QFETCH(int, size);
    QCOMPARE(parseDescriptorInteger(text), size);
}

void TestVersionInfo::comparison_data()
{
    QTest::addColumn<QString>("own");
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("result");
    QTest::newRow("same") << "1.5.0.12"
                          << "1.5.0.12" << 0;
    QTest::newRow("missing items are 0") << "1.5.0.0"
                                         << "1.5" << 0;
    QTest::newRow("newer minor") << "1.5.9.9"
                                 << "1.6" << 1;
    QTest::newRow("empty items skipped") << "1.5.0.0"
                                         << "1..6" << 1;
    QTest::newRow("not a number is 0") << "2.0.0.0"
                                       << "2.x.0.0" << 0;
    QTest::newRow("older") << "1.5.0.12"
                           << "1.4.99" << -1;
    QTest::newRow("no own version") << ""
                                    << "9.9" << 0;
}

void TestVersionInfo::comparison()
{
    QFETCH(QString, own);
    QFETCH(QString, offered);
    QFETCH(int, result);
    QCOMPARE(compareVersions(own, offered), result);
}

void TestVersionInfo::shortForms()
{
    QCOMPARE(majorMinor(QStringLiteral("1.5.0.12")), QStringLiteral("1.5"));
    QCOMPARE(majorMinor(QStringLiteral("?.?.?.?")), QStringLiteral("?.?"));
    QCOMPARE(majorMinor(QString()), QStringLiteral("?.?"));
    QCOMPARE(displayVersion(QStringLiteral("1.5.0.12")), QStringLiteral("1.05.12"));
    QCOMPARE(displayVersion(QStringLiteral("2.10.3.7")), QStringLiteral("2.10.7"));
    QVERIFY(displayVersion(QStringLiteral("1.5")).isEmpty());
    QCOMPARE(dayNumber(QDate(1899, 12, 31)), 1);
    QCOMPARE(dayNumber(QDate(2026, 12, 9)), 46365);
}

QTEST_APPLESS_MAIN(TestVersionInfo)
#include "tst_versioninfo.moc"
