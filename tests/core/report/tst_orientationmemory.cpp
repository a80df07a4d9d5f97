#include "core/config/RegistryIni.h"
#include "core/report/CodePages.h"
#include "core/report/OrientationMemory.h"
#include "core/report/ReportHeader.h"
#include "support/TestHive.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

// Replaces the hive by one whose orientation list holds `values` (regedit lines).
void writeLstList(const QByteArray& values)
{
    writeSettingsHive(RegistryIni::hivePath(),
                      "\r\n[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings\\LstList]\r\n" +
                          values);
}

ReportHeader header(const QString& title)
{
    ReportHeader h;
    h.title = unicodeToCp1250(title);
    return h;
}

QStringList titles(const OrientationMemory& list)
{
    QStringList out;
    for (const Orientation& e : list.entries())
        out << cp1250ToUnicode(e.title);
    return out;
}

} // namespace

class TestOrientationMemory : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void lookupAndStore();
    void loadReadsEveryValue();
    void sortsByUserLocale();
    void saveStoresExactlyTheList();
    void titleWithUndefinedBytesComesBack();

private:
    std::unique_ptr<QTemporaryDir> m_home;
};

void TestOrientationMemory::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Czech));
    productKeys().productKey = QStringLiteral("Tarnyx");
}

void TestOrientationMemory::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home->path()));
}

void TestOrientationMemory::lookupAndStore()
{
    writeLstList("\"Výplatní listina\"=\"1\"\r\n");
    OrientationMemory list;
    list.load();
    // Titles that differ only in letter case are one report; accents are not letter case.
    QCOMPARE(list.lookup(header(QStringLiteral("VÝPLATNÍ LISTINA"))), quint8(1));
    list.store(header(QStringLiteral("výplatní LISTINA")), 2);
    QCOMPARE(list.entries(), (QList<Orientation>{{unicodeToCp1250(u"Výplatní listina"), 2}}));

    list.store(header(QStringLiteral("Vyplatni listina")), 1); // unknown: nothing to set
    QCOMPARE(list.count(), 1);
    // A new title is added with the default before the user is asked; kept at the default, it
    // is not asked about again.
    QCOMPARE(list.lookup(header(QStringLiteral("Vyplatni listina"))), quint8(255));
    QCOMPARE(list.lookup(header(QStringLiteral("VYPLATNI LISTINA"))), quint8(0));
    QCOMPARE(list.count(), 2);
}

void TestOrientationMemory::loadReadsEveryValue()
{
    // A value that is not a text (a DWORD, binary data) must not end loading: the titles after
    // it would be missing from the list and so from the registry after the next save.
    writeLstList("\"Daň\"=\"2\"\r\n\"Hlášení\"=dword:00000001\r\n\"Cena\"=\"x\"\r\n"
                 "\"Chyby\"=\"-1\"\r\n\"Inventura\"=hex:01\r\n");
    OrientationMemory list;
    list.load();
    QCOMPARE(list.entries(), (QList<Orientation>{
                                 {unicodeToCp1250(u"Cena"), 255},
                                 {unicodeToCp1250(u"Daň"), 2},
                                 {unicodeToCp1250(u"Hlášení"), 1},
                                 {unicodeToCp1250(u"Chyby"), 255},
                                 {unicodeToCp1250(u"Inventura"), 255},
                             }));
    QCOMPARE(orientationName(list.entries().at(0).orientation), QStringLiteral("??"));
    // A title that loaded as unusable is asked about again.
    QCOMPARE(list.lookup(header(QStringLiteral("cena"))), quint8(255));
}

void TestOrientationMemory::sortsByUserLocale()
{
    writeLstList("\"Chyby\"=\"1\"\r\n\"Daň\"=\"1\"\r\n\"Hlášení\"=\"1\"\r\n"
                 "\"Čtvrtletní\"=\"1\"\r\n\"Cena\"=\"1\"\r\n");
    OrientationMemory list;
    list.load();
    list.lookup(header(QStringLiteral("cestovné")));
    // Czech order: Č after C, CH after H.
    QCOMPARE(titles(list), (QStringList{QStringLiteral("Cena"), QStringLiteral("cestovné"),
                                        QStringLiteral("Čtvrtletní"), QStringLiteral("Daň"),
                                        QStringLiteral("Hlášení"), QStringLiteral("Chyby")}));
}

void TestOrientationMemory::saveStoresExactlyTheList()
{
    writeLstList("\"Daň\"=\"2\"\r\n\"Cena\"=\"1\"\r\n\"výplatní listina\"=\"1\"\r\n"
                 "\"Hlášení\"=\"0\"\r\n");
    OrientationMemory list;
    list.load();
    // The editor's changes; indexes outside the list are ignored.
    list.remove(titles(list).indexOf(QStringLiteral("Daň")));
    list.setOrientation(titles(list).indexOf(QStringLiteral("Cena")), 2);
    list.remove(list.count());
    list.setOrientation(-1, 1);
    // A removed title comes back with the spelling of the next report that has it.
    list.remove(titles(list).indexOf(QStringLiteral("výplatní listina")));
    list.lookup(header(QStringLiteral("VÝPLATNÍ LISTINA")));
    list.store(header(QStringLiteral("VÝPLATNÍ LISTINA")), 1);
    list.lookup(header(QStringLiteral("Chyby")));
    list.save();

    const auto ini = openSettings();
    QStringList names = ini->readSection(QStringLiteral("Settings\\LstList"));
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (QStringList{QStringLiteral("Cena"), QStringLiteral("Chyby"),
                                 QStringLiteral("Hlášení"), QStringLiteral("VÝPLATNÍ LISTINA")}));
    OrientationMemory reloaded;
    reloaded.load();
    QCOMPARE(reloaded.entries(), list.entries());
    QCOMPARE(reloaded.entries().at(0).orientation, quint8(2)); // Cena, changed in the editor

    OrientationMemory().save();
    QVERIFY(ini->readSection(QStringLiteral("Settings\\LstList")).isEmpty());
}

void TestOrientationMemory::titleWithUndefinedBytesComesBack()
{
    // Bytes that Windows-1250 leaves undefined still belong to the title: the answer is found
    // again after a restart instead of being asked at every start.
    writeLstList("");
    ReportHeader h;
    h.title = QByteArray("Mzdy \x81\x83\x88\x90\x98 2024");
    OrientationMemory list;
    QCOMPARE(list.lookup(h), quint8(255));
    list.store(h, 2);
    list.save();
    OrientationMemory reloaded;
    reloaded.load();
    QCOMPARE(reloaded.count(), 1);
    QCOMPARE(reloaded.entries().first().title, h.title);
    QCOMPARE(reloaded.lookup(h), quint8(2));
}

QTEST_GUILESS_MAIN(TestOrientationMemory)
#include "tst_orientationmemory.moc"
