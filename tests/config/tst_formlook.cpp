#include "config/AppSettings.h"
#include "config/FormLook.h"
#include "config/MvRegIni.h"
#include "config/PrinterFonts.h"
#include "print/PrinterCatalog.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QHelpEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

namespace {

class OnePrinter : public PrinterCatalog
{
public:
    QString current;
    QStringList printerNames() const override { return {current}; }
    QString defaultPrinterName() const override { return current; }
    QString currentPrinter() const override { return current; }
    void setCurrentPrinter(const QString& name) override { current = name; }
};

} // namespace

class TestFormLook : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void windowSizeIsRemembered();
    void systemFontFollowsTheSetting();
    void hintsCanBeSwitchedOff();
    void printerFontNames();

private:
    QTemporaryDir m_home;
};

void TestFormLook::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    Morvane().ProductKey = QStringLiteral("Tarnyx");
}

void TestFormLook::windowSizeIsRemembered()
{
    QWidget form;
    form.setObjectName(QStringLiteral("FormLstEdit"));
    form.resize(321, 234);
    RestoreWindowSize(&form); // nothing stored yet: the size stays
    QCOMPARE(form.size(), QSize(321, 234));
    SaveWindowSize(&form);

    const TMvRegIni ini(Morvane().RegistryRoot());
    QCOMPARE(ini.ReadInteger(QStringLiteral("LastUsed"), QStringLiteral("FormLstEdit.Width"), 0),
             321);
    QVERIFY(
        ini.WriteInteger(QStringLiteral("LastUsed"), QStringLiteral("FormLstEdit.Height"), 456));
    QWidget again;
    again.setObjectName(QStringLiteral("FormLstEdit"));
    RestoreWindowSize(&again);
    QCOMPARE(again.size(), QSize(321, 456));
}

void TestFormLook::systemFontFollowsTheSetting()
{
    TAppSettings settings;
    QWidget form;
    QFont odd(QStringLiteral("DejaVu Serif"), 31);
    form.setFont(odd);
    ApplyFormLook(&form, settings); // SystemFont off: untouched
    QCOMPARE(form.font(), odd);
    settings.SystemFont = true;
    ApplyFormLook(&form, settings);
    QCOMPARE(form.font().family(), QApplication::font("QMessageBox").family());
    QCOMPARE(form.font().pointSizeF(), QApplication::font("QMessageBox").pointSizeF());
}

void TestFormLook::hintsCanBeSwitchedOff()
{
    QWidget w;
    w.setToolTip(QStringLiteral("Nápověda"));
    w.show();
    QHelpEvent help(QEvent::ToolTip, QPoint(1, 1), w.mapToGlobal(QPoint(1, 1)));
    SetShowHints(false);
    QVERIFY(!ShowHints());
    // The application's filter takes the event before the widget sees it.
    QVERIFY(QApplication::sendEvent(&w, &help));
    SetShowHints(true);
    SetHintHidePause(1234);
    QVERIFY(ShowHints());
}

void TestFormLook::printerFontNames()
{
    OnePrinter printers;
    QCOMPARE(PrinterFontNames(printers), QStringList{QStringLiteral("Courier New")});
    printers.current = QStringLiteral("Mzdy");
    // Liberation Mono (installed by the set-up) stands in for Courier New; nothing fixed-pitch
    // stands in for Lucida Console.
    const QStringList names = PrinterFontNames(printers);
    QVERIFY2(names.contains(QStringLiteral("Courier New")), qPrintable(names.join(u',')));
    if (!QFontDatabase::families().contains(QStringLiteral("Lucida Console")))
        QVERIFY(!names.contains(QStringLiteral("Lucida Console")));
    QVERIFY(!IsFixedPitchFaceOffered(QStringLiteral("No Such Proportional Face")));
}

QTEST_MAIN(TestFormLook)
#include "tst_formlook.moc"
