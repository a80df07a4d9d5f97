#include "core/config/AppSettings.h"
#include "core/config/PrinterFonts.h"
#include "core/config/RegistryIni.h"
#include "core/platform/PrinterCatalog.h"
#include "gui/common/FormLook.h"

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
    void printerFontList();

private:
    QTemporaryDir m_home;
};

void TestFormLook::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
}

void TestFormLook::windowSizeIsRemembered()
{
    QWidget form;
    form.setObjectName(QStringLiteral("FormLstEdit"));
    form.resize(321, 234);
    restoreWindowSize(&form); // nothing stored yet: the size stays
    QCOMPARE(form.size(), QSize(321, 234));
    saveWindowSize(&form);

    const RegistryIni ini(productKeys().registryRoot());
    QCOMPARE(ini.readInteger(QStringLiteral("LastUsed"), QStringLiteral("FormLstEdit.Width"), 0),
             321);
    QVERIFY(
        ini.writeInteger(QStringLiteral("LastUsed"), QStringLiteral("FormLstEdit.Height"), 456));
    QWidget again;
    again.setObjectName(QStringLiteral("FormLstEdit"));
    restoreWindowSize(&again);
    QCOMPARE(again.size(), QSize(321, 456));
}

void TestFormLook::systemFontFollowsTheSetting()
{
    AppSettings settings;
    QWidget form;
    QFont odd(QStringLiteral("DejaVu Serif"), 31);
    form.setFont(odd);
    applyFormLook(&form, settings); // systemFont off: untouched
    QCOMPARE(form.font(), odd);
    settings.systemFont = true;
    applyFormLook(&form, settings);
    QCOMPARE(form.font().family(), QApplication::font("QMessageBox").family());
    QCOMPARE(form.font().pointSizeF(), QApplication::font("QMessageBox").pointSizeF());
}

void TestFormLook::hintsCanBeSwitchedOff()
{
    QWidget w;
    w.setToolTip(QStringLiteral("Nápověda"));
    w.show();
    QHelpEvent help(QEvent::ToolTip, QPoint(1, 1), w.mapToGlobal(QPoint(1, 1)));
    setShowHints(false);
    QVERIFY(!showHints());
    // The application's filter takes the event before the widget sees it.
    QVERIFY(QApplication::sendEvent(&w, &help));
    setShowHints(true);
    setHintHidePause(1234);
    QVERIFY(showHints());
}

void TestFormLook::printerFontList()
{
    OnePrinter printers;
    QCOMPARE(printerFontNames(printers), QStringList{QStringLiteral("Courier New")});
    printers.current = QStringLiteral("Mzdy");
    // Liberation Mono (installed by the set-up) stands in for Courier New; nothing fixed-pitch
    // stands in for Lucida Console.
    const QStringList names = printerFontNames(printers);
    QVERIFY2(names.contains(QStringLiteral("Courier New")), qPrintable(names.join(u',')));
    if (!QFontDatabase::families().contains(QStringLiteral("Lucida Console")))
        QVERIFY(!names.contains(QStringLiteral("Lucida Console")));
    QVERIFY(!isFixedPitchFaceOffered(QStringLiteral("No Such Proportional Face")));
}

QTEST_MAIN(TestFormLook)
#include "tst_formlook.moc"
