#include "common/TestHive.h"
#include "config/MvRegIni.h"
#include "report/CodePages.h"
#include "report/UnitLstObj.h"
#include "report/UnitOrient.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

// Replaces the hive by one whose orientation list holds `values` (regedit lines).
void writeLstList(const QByteArray& values)
{
    writeSettingsHive(TMvRegIni::hivePath(),
                      "\r\n[HKEY_CURRENT_USER\\Software\\Morvane\\Tarnyx\\Settings\\LstList]\r\n" +
                          values);
}

TLstObj header(const QString& title)
{
    TLstObj h;
    h.Title = UnicodeToCp1250(title);
    return h;
}

QStringList titles(const TLstList& list)
{
    QStringList out;
    for (const TOrient& e : list.Entries())
        out << Cp1250ToUnicode(e.Title);
    return out;
}

} // namespace

class TestOrient : public QObject
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

void TestOrient::initTestCase()
{
    QLocale::setDefault(QLocale(QLocale::Czech));
    Morvane().ProductKey = QStringLiteral("Tarnyx");
}

void TestOrient::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home->path()));
}

void TestOrient::lookupAndStore()
{
    writeLstList("\"Výplatní listina\"=\"1\"\r\n");
    TLstList list;
    list.Load();
    // Titles that differ only in letter case are one report; accents are not letter case.
    QCOMPARE(list.Lookup(header(QStringLiteral("VÝPLATNÍ LISTINA"))), quint8(1));
    list.Store(header(QStringLiteral("výplatní LISTINA")), 2);
    QCOMPARE(list.Entries(), (QList<TOrient>{{UnicodeToCp1250(u"Výplatní listina"), 2}}));

    list.Store(header(QStringLiteral("Vyplatni listina")), 1); // unknown: nothing to set
    QCOMPARE(list.Count(), 1);
    // A new title is added with the default before the user is asked; kept at the default, it
    // is not asked about again.
    QCOMPARE(list.Lookup(header(QStringLiteral("Vyplatni listina"))), quint8(255));
    QCOMPARE(list.Lookup(header(QStringLiteral("VYPLATNI LISTINA"))), quint8(0));
    QCOMPARE(list.Count(), 2);
}

void TestOrient::loadReadsEveryValue()
{
    // A value that is not a text (a DWORD, binary data) must not end loading: the titles after
    // it would be missing from the list and so from the registry after the next save.
    writeLstList("\"Daň\"=\"2\"\r\n\"Hlášení\"=dword:00000001\r\n\"Cena\"=\"x\"\r\n"
                 "\"Chyby\"=\"-1\"\r\n\"Inventura\"=hex:01\r\n");
    TLstList list;
    list.Load();
    QCOMPARE(list.Entries(), (QList<TOrient>{
                                 {UnicodeToCp1250(u"Cena"), 255},
                                 {UnicodeToCp1250(u"Daň"), 2},
                                 {UnicodeToCp1250(u"Hlášení"), 1},
                                 {UnicodeToCp1250(u"Chyby"), 255},
                                 {UnicodeToCp1250(u"Inventura"), 255},
                             }));
    QCOMPARE(TOrientName(list.Entries().at(0).Orientation), QStringLiteral("??"));
    // A title that loaded as unusable is asked about again.
    QCOMPARE(list.Lookup(header(QStringLiteral("cena"))), quint8(255));
}

void TestOrient::sortsByUserLocale()
{
    writeLstList("\"Chyby\"=\"1\"\r\n\"Daň\"=\"1\"\r\n\"Hlášení\"=\"1\"\r\n"
                 "\"Čtvrtletní\"=\"1\"\r\n\"Cena\"=\"1\"\r\n");
    TLstList list;
    list.Load();
    list.Lookup(header(QStringLiteral("cestovné")));
    // Czech order: Č after C, CH after H.
    QCOMPARE(titles(list), (QStringList{QStringLiteral("Cena"), QStringLiteral("cestovné"),
                                        QStringLiteral("Čtvrtletní"), QStringLiteral("Daň"),
                                        QStringLiteral("Hlášení"), QStringLiteral("Chyby")}));
}

void TestOrient::saveStoresExactlyTheList()
{
    writeLstList("\"Daň\"=\"2\"\r\n\"Cena\"=\"1\"\r\n\"výplatní listina\"=\"1\"\r\n"
                 "\"Hlášení\"=\"0\"\r\n");
    TLstList list;
    list.Load();
    // The editor's changes; indexes outside the list are ignored.
    list.Remove(titles(list).indexOf(QStringLiteral("Daň")));
    list.SetOrientation(titles(list).indexOf(QStringLiteral("Cena")), 2);
    list.Remove(list.Count());
    list.SetOrientation(-1, 1);
    // A removed title comes back with the spelling of the next report that has it.
    list.Remove(titles(list).indexOf(QStringLiteral("výplatní listina")));
    list.Lookup(header(QStringLiteral("VÝPLATNÍ LISTINA")));
    list.Store(header(QStringLiteral("VÝPLATNÍ LISTINA")), 1);
    list.Lookup(header(QStringLiteral("Chyby")));
    list.Save();

    const auto ini = OpenSettings();
    QStringList names = ini->ReadSection(QStringLiteral("Settings\\LstList"));
    std::sort(names.begin(), names.end());
    QCOMPARE(names, (QStringList{QStringLiteral("Cena"), QStringLiteral("Chyby"),
                                 QStringLiteral("Hlášení"), QStringLiteral("VÝPLATNÍ LISTINA")}));
    TLstList reloaded;
    reloaded.Load();
    QCOMPARE(reloaded.Entries(), list.Entries());
    QCOMPARE(reloaded.Entries().at(0).Orientation, quint8(2)); // Cena, changed in the editor

    TLstList().Save();
    QVERIFY(ini->ReadSection(QStringLiteral("Settings\\LstList")).isEmpty());
}

void TestOrient::titleWithUndefinedBytesComesBack()
{
    // Bytes that Windows-1250 leaves undefined still belong to the title: the answer is found
    // again after a restart instead of being asked at every start.
    writeLstList("");
    TLstObj h;
    h.Title = QByteArray("Mzdy \x81\x83\x88\x90\x98 2024");
    TLstList list;
    QCOMPARE(list.Lookup(h), quint8(255));
    list.Store(h, 2);
    list.Save();
    TLstList reloaded;
    reloaded.Load();
    QCOMPARE(reloaded.Count(), 1);
    QCOMPARE(reloaded.Entries().first().Title, h.Title);
    QCOMPARE(reloaded.Lookup(h), quint8(2));
}

QTEST_GUILESS_MAIN(TestOrient)
#include "tst_orient.moc"
