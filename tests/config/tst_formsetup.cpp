#include "config/AppSettings.h"
#include "config/MvRegIni.h"
#include "config/UnitSetup.h"
#include "core/MessageDlg.h"
#include "platform/Autostart.h"
#include "print/CupsFixture.h"
#include "print/CupsPrinterCatalog.h"
#include "print/PdfDevice.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPageSize>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

const QString kFirst = QStringLiteral("mzdy");
const QString kSecond = QStringLiteral("kancelar");
const QString kProgram = QStringLiteral("/opt/tarnyx/bin/tarnyx");

// Types `text` into a field that has the focus and then leaves it for `next`.
void typeAndLeave(QWidget* field, const QString& text, QWidget* next)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
    next->setFocus();
}

// Clicks a check box or radio button on its indicator (a wide button does not take clicks on
// the empty space right of its text).
void clickBox(QAbstractButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

} // namespace

class TestFormSetup : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void fieldsAreCorrectedWhenLeft();
    void noPrinterKeepsTheFont();
    void printerChoiceAndFonts();
    void cancelRestoresThePrinter();
    void printerSetupChoosesThePaper();
    void orientationChoice();
    void okStoresEverySetting();
    void autostartEntry();
    void helpFollowsTheTab();

private:
    // A dialog on the private queues; fonts come from `fonts` per current printer.
    std::unique_ptr<TFormSetup> open(SetupServices services = {});

    QTemporaryDir m_home;
    CupsFixture m_cups;
    CupsPrinterCatalog m_printers;
    TAppSettings m_settings;
    QStringList m_topics;
};

void TestFormSetup::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    Morvane().ProductKey = QStringLiteral("Tarnyx");
    QVERIFY2(m_cups.start({kFirst, kSecond}, kFirst), qPrintable(m_cups.reason()));
    m_cups.exportToEnvironment();
    QCOMPARE(m_printers.printerNames().size(), 2);
}

void TestFormSetup::init()
{
    MessageDlgTestHook::clear();
    QFile::remove(TMvRegIni::hivePath());
    m_settings = TAppSettings();
    m_settings.LoadSettings(m_printers);
    m_settings.Printer = kFirst;
    m_settings.Font = QStringLiteral("Courier New");
    m_printers.setCurrentPrinter(kFirst);
    m_topics.clear();
}

std::unique_ptr<TFormSetup> TestFormSetup::open(SetupServices services)
{
    services.programPath = kProgram;
    if (!services.showHelp)
        services.showHelp = [this](QWidget*, const QString& topic) {
            m_topics << topic;
        };
    if (!services.closeHelp)
        services.closeHelp = [] {
        };
    auto form = std::make_unique<TFormSetup>(m_settings, m_printers, std::move(services));
    form->show();
    QApplication::setActiveWindow(form.get());
    return form;
}

void TestFormSetup::fieldsAreCorrectedWhenLeft()
{
    m_settings.ProxyServer = false;
    auto form = open();
    QWidget* away = form->CheckOne;
    typeAndLeave(form->EditDir, QStringLiteral("  /srv/lst  ;\"/mnt/spool/\";;"), away);
    QCOMPARE(form->EditDir->text(), QStringLiteral("/srv/lst/;/mnt/spool/"));

    form->PageControl1->setCurrentIndex(1);
    away = form->RadioOrDefault;
    const QList<std::pair<QString, QString>> widths = {
        {QStringLiteral("300"), QStringLiteral("233")},
        {QStringLiteral("abc"), QStringLiteral("96")},
        {QStringLiteral("50"), QStringLiteral("80")},
        {QStringLiteral("120"), QStringLiteral("120")}};
    for (const auto& [typed, shown] : widths) {
        typeAndLeave(form->EditPortrait, typed, away);
        QCOMPARE(form->EditPortrait->text(), shown);
    }
    // The arrows step within the range.
    form->EditPortrait->setFocus();
    QTest::keyClick(form->EditPortrait, Qt::Key_Up);
    QCOMPARE(form->EditPortrait->text(), QStringLiteral("121"));

    form->PageControl1->setCurrentIndex(4);
    clickBox(form->CheckBoxProxy);
    QVERIFY(form->EditProxyPort->isEnabled());
    away = form->EditProxyAddr;
    const QList<std::pair<QString, QString>> ports = {
        {QStringLiteral("0"), QStringLiteral("8080")},
        {QStringLiteral("65536"), QStringLiteral("8080")},
        {QStringLiteral("proxy"), QStringLiteral("8080")},
        {QStringLiteral("3128"), QStringLiteral("3128")}};
    for (const auto& [typed, shown] : ports) {
        typeAndLeave(form->EditProxyPort, typed, away);
        QCOMPARE(form->EditProxyPort->text(), shown);
    }

    // A field still being typed in when OK is pressed is corrected all the same.
    form->PageControl1->setCurrentIndex(1);
    form->EditPortrait->setFocus();
    QTest::keyClick(form->EditPortrait, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(form->EditPortrait, QStringLiteral("9"));
    QTest::keyClick(form->EditPortrait, Qt::Key_Return);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QCOMPARE(m_settings.MaxPortrait, 80);
    QCOMPARE(m_settings.Directories, QStringLiteral("/srv/lst/;/mnt/spool/"));
    QCOMPARE(m_settings.ProxyPort, QStringLiteral("3128"));
}

void TestFormSetup::noPrinterKeepsTheFont()
{
    m_settings.Printer.clear();
    m_settings.Font = QStringLiteral("Lucida Console");
    auto form = open();
    QCOMPARE(form->ComboPrn->currentIndex(), 0);
    QCOMPARE(form->ComboPrn->currentText(), QStringLiteral("[žádná]"));
    QCOMPARE(form->ComboFont->count(), 0);

    // No printer setup for no printer, only the warning that nothing comes out.
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QTest::mouseClick(form->ButtonPrn, Qt::LeftButton);
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().caption, QStringLiteral("[žádná]"));
    QVERIFY(messages.first().text.startsWith(
        QStringLiteral("Tiskárna [žádná] neprovádí žádný textový výstup")));

    QTest::mouseClick(form->ButtonOK, Qt::LeftButton);
    QCOMPARE(m_settings.Printer, QString());
    QCOMPARE(m_settings.Font, QStringLiteral("Lucida Console"));
    const TMvRegIni ini(Morvane().RegistryRoot());
    QCOMPARE(ini.ReadString(QStringLiteral("Settings"), QStringLiteral("Printer"), kFirst),
             QString());
    QCOMPARE(m_printers.currentPrinter(), kFirst); // picking no printer changes nothing
}

void TestFormSetup::printerChoiceAndFonts()
{
    SetupServices services;
    // The second queue offers neither report face.
    services.fontNames = [this] {
        return m_printers.currentPrinter() == kSecond
                   ? QStringList()
                   : QStringList{QStringLiteral("Courier New"), QStringLiteral("Lucida Console")};
    };
    m_settings.Font = QStringLiteral("lucida console");
    auto form = open(services);
    QCOMPARE(form->ComboPrn->count(), 3);
    QCOMPARE(form->ComboPrn->currentText(), kFirst);
    QCOMPARE(form->ComboFont->currentText(), QStringLiteral("Lucida Console"));

    form->ComboPrn->setFocus();
    while (form->ComboPrn->currentText() != kSecond) {
        const int before = form->ComboPrn->currentIndex();
        QTest::keyClick(form->ComboPrn,
                        before < form->ComboPrn->findText(kSecond) ? Qt::Key_Down : Qt::Key_Up);
        QVERIFY(form->ComboPrn->currentIndex() != before);
    }
    QCOMPARE(m_printers.currentPrinter(), kSecond);
    QCOMPARE(form->ComboFont->count(), 0);
    QTest::mouseClick(form->ButtonOK, Qt::LeftButton);
    QCOMPARE(m_settings.Printer, kSecond);
    QCOMPARE(m_settings.Font, QString());

    // A stored printer that is gone leaves the list without a choice, and OK stores none.
    m_settings.Printer = QStringLiteral("gone");
    auto again = open(services);
    QCOMPARE(again->ComboPrn->currentIndex(), -1);
    QCOMPARE(again->ComboFont->count(), 0);
    QTest::mouseClick(again->ButtonOK, Qt::LeftButton);
    QCOMPARE(m_settings.Printer, QString());
}

void TestFormSetup::cancelRestoresThePrinter()
{
    const TAppSettings before = m_settings;
    auto form = open();
    form->ComboPrn->setCurrentIndex(form->ComboPrn->findText(kSecond));
    QCOMPARE(m_printers.currentPrinter(), kSecond);
    form->EditDir->setText(QStringLiteral("/elsewhere"));
    QTest::mouseClick(form->ButtonCancel, Qt::LeftButton);
    QCOMPARE(m_printers.currentPrinter(), kFirst);
    QVERIFY(m_settings == before);

    // Esc cancels too; while a document is open the printer is left alone.
    SetupServices busy;
    busy.documentInProgress = [] {
        return true;
    };
    auto printing = open(busy);
    printing->ComboPrn->setCurrentIndex(printing->ComboPrn->findText(kSecond));
    QTest::keyClick(printing.get(), Qt::Key_Escape);
    QCOMPARE(printing->result(), int(QDialog::Rejected));
    QCOMPARE(m_printers.currentPrinter(), kSecond);
}

void TestFormSetup::printerSetupChoosesThePaper()
{
    SetupServices services;
    QString setUp;
    services.printerSetup = [&setUp](QPrinter& printer, QWidget*) {
        setUp = printer.printerName();
        printer.setPageSize(QPageSize(QPageSize::A5));
        return true;
    };
    auto form = open(services);
    form->ComboPrn->setCurrentIndex(form->ComboPrn->findText(kSecond));
    QTest::mouseClick(form->ButtonPrn, Qt::LeftButton);
    QCOMPARE(setUp, kSecond);
    QCOMPARE(m_printers.paperFor(kSecond).id(), QPageSize::A5);
    QVERIFY(!m_printers.paperFor(kFirst).isValid());

    // Print jobs on that queue lay their pages out on the chosen paper.
    CupsQueueDevice device(&m_printers);
    QVERIFY(device.selectPrinter(kSecond));
    QCOMPARE(device.pageLayout().pageSize().id(), QPageSize::A5);
    CupsQueueDevice other(&m_printers);
    QVERIFY(other.selectPrinter(kFirst));
    QVERIFY(other.pageLayout().pageSize().id() != QPageSize::A5);

    // Cancelling the dialog keeps the paper chosen.
    QTest::mouseClick(form->ButtonCancel, Qt::LeftButton);
    QCOMPARE(m_printers.paperFor(kSecond).id(), QPageSize::A5);
    m_printers.setPaperFor(kSecond, QPageSize());
}

void TestFormSetup::orientationChoice()
{
    int editorOpened = 0;
    SetupServices services;
    services.orientationEditor = [&editorOpened](QWidget*) {
        ++editorOpened;
    };
    m_settings.Orientation = 7;
    auto form = open(services);
    form->PageControl1->setCurrentIndex(1);
    QVERIFY(form->RadioOrDefault->isChecked());
    QVERIFY(form->EditPortrait->isEnabled());
    QVERIFY(!form->ButtonOrient->isEnabled());

    clickBox(form->RadioOrUnknown);
    QVERIFY(form->ButtonOrient->isEnabled());
    QVERIFY(form->EditPortrait->isEnabled());
    QTest::mouseClick(form->ButtonOrient, Qt::LeftButton);
    QCOMPARE(editorOpened, 1);

    clickBox(form->RadioOrLandscape);
    QVERIFY(!form->ButtonOrient->isEnabled());
    QVERIFY(!form->EditPortrait->isEnabled());
    clickBox(form->RadioOrDefault);
    QTest::mouseClick(form->ButtonOK, Qt::LeftButton);
    QCOMPARE(m_settings.Orientation, quint8(OrientByWidth));
}

void TestFormSetup::okStoresEverySetting()
{
    m_settings.ProxyAddr = QStringLiteral("old.proxy");
    m_settings.ProxyPort = QStringLiteral("3128");
    m_settings.PrintByOne = false;
    m_settings.Erase = false;
    m_settings.RunPaused = false;
    m_settings.ShowHints = false;
    m_settings.HighPriority = false;
    m_settings.VerCheck = false;
    m_settings.ProxyServer = false;
    auto form = open();
    clickBox(form->CheckOne);
    clickBox(form->CheckErase);
    form->PageControl1->setCurrentIndex(1);
    clickBox(form->RadioOrUnknown);
    form->PageControl1->setCurrentIndex(2);
    const auto indentItems = form->RadioIndent->findChildren<QRadioButton*>();
    QCOMPARE(indentItems.size(), 4);
    clickBox(indentItems.at(3));
    form->SpinTop->setValue(150); // beyond the maximum
    form->SpinLeft->setValue(12);
    form->SpinRight->setValue(7);
    form->SpinBottom->setValue(30);
    QCOMPARE(form->SpinTop->text(), QStringLiteral("100 mm"));
    QCOMPARE(form->SpinRight->maximum(), 50);
    form->PageControl1->setCurrentIndex(3);
    QVERIFY(!form->CheckTaskbar->isEnabled());
    for (QCheckBox* box :
         {form->CheckPause, form->CheckHints, form->CheckPriority, form->CheckUpdate})
        clickBox(box);
    // The proxy stays off: its fields are not taken.
    form->PageControl1->setCurrentIndex(4);
    QVERIFY(!form->EditProxyAddr->isEnabled());
    form->EditProxyAddr->setText(QStringLiteral("new.proxy"));
    QTest::mouseClick(form->ButtonOK, Qt::LeftButton);

    TAppSettings expected = m_settings;
    QCOMPARE(m_settings.PrintByOne, true);
    QCOMPARE(m_settings.Erase, true);
    QCOMPARE(m_settings.Orientation, quint8(OrientPerTitle));
    QCOMPARE(m_settings.Indent, quint8(3));
    QCOMPARE(m_settings.Borders, QMargins(12, 100, 7, 30));
    QCOMPARE(m_settings.ProxyServer, false);
    QCOMPARE(m_settings.ProxyAddr, QStringLiteral("old.proxy"));

    // Everything reached the registry.
    TAppSettings loaded;
    QVERIFY(loaded.LoadSettings(m_printers));
    expected.HintHidePause = loaded.HintHidePause; // never written
    QCOMPARE(loaded.RunPaused, true);
    QCOMPARE(loaded.HighPriority, true);
    QVERIFY(loaded == expected);
}

void TestFormSetup::autostartEntry()
{
    const QString entry = platform::autostart::userEntryPath(QStringLiteral("Tarnyx"));
    m_settings.Autorun = false;
    m_settings.Iconize = false;
    auto form = open();
    form->PageControl1->setCurrentIndex(3);
    clickBox(form->CheckAutorun);
    QTest::mouseClick(form->ButtonOK, Qt::LeftButton);
    QCOMPARE(platform::autostart::readCommand(entry), QStringLiteral("\"%1\" ").arg(kProgram));

    auto hidden = open();
    hidden->CheckIconize->setChecked(true);
    QTest::mouseClick(hidden->ButtonOK, Qt::LeftButton);
    QCOMPARE(platform::autostart::readCommand(entry), QStringLiteral("\"%1\" /min").arg(kProgram));

    auto off = open();
    off->CheckAutorun->setChecked(false);
    QTest::mouseClick(off->ButtonOK, Qt::LeftButton);
    QVERIFY(!QFile::exists(entry));
}

void TestFormSetup::helpFollowsTheTab()
{
    auto form = open();
    QTest::keyClick(form.get(), Qt::Key_F1);
    form->PageControl1->setCurrentIndex(2);
    QTest::mouseClick(form->ButtonHelp, Qt::LeftButton);
    form->PageControl1->setCurrentIndex(4);
    QTest::keyClick(form.get(), Qt::Key_F1);
    QCOMPARE(m_topics,
             (QStringList{QStringLiteral("setup.htm#"), QStringLiteral("setup.htm#SetupStranka"),
                          QStringLiteral("setup.htm#SetupInternet")}));
}

QTEST_MAIN(TestFormSetup)
#include "tst_formsetup.moc"
