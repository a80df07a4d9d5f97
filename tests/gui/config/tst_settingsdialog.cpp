#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/platform/Autostart.h"
#include "gui/common/MessageDlg.h"
#include "gui/config/SettingsDialog.h"
#include "print/CupsPrinterCatalog.h"
#include "print/PdfDevice.h"
#include "support/CupsFixture.h"

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
#include <QScopeGuard>
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

class TestSettingsDialog : public QObject
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
    void printerSetupWithAHungScheduler();
    void orientationChoice();
    void okStoresEverySetting();
    void autostartEntry();
    void helpFollowsTheTab();

private:
    // A dialog on the private queues; fonts come from `fonts` per current printer.
    std::unique_ptr<SettingsDialog> open(SetupServices services = {});

    QTemporaryDir m_home;
    CupsFixture m_cups;
    CupsPrinterCatalog m_printers;
    AppSettings m_settings;
    QStringList m_topics;
};

void TestSettingsDialog::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
    QVERIFY2(m_cups.start({kFirst, kSecond}, kFirst), qPrintable(m_cups.reason()));
    m_cups.exportToEnvironment();
    QCOMPARE(m_printers.printerNames().size(), 2);
}

void TestSettingsDialog::init()
{
    MessageDlgTestHook::clear();
    QFile::remove(RegistryIni::hivePath());
    m_settings = AppSettings();
    m_settings.load(m_printers);
    m_settings.printer = kFirst;
    m_settings.font = QStringLiteral("Courier New");
    m_printers.setCurrentPrinter(kFirst);
    m_topics.clear();
}

std::unique_ptr<SettingsDialog> TestSettingsDialog::open(SetupServices services)
{
    services.programPath = kProgram;
    if (!services.showHelp)
        services.showHelp = [this](QWidget*, const QString& topic) {
            m_topics << topic;
        };
    if (!services.closeHelp)
        services.closeHelp = [] {
        };
    auto form = std::make_unique<SettingsDialog>(m_settings, m_printers, std::move(services));
    form->show();
    QApplication::setActiveWindow(form.get());
    return form;
}

void TestSettingsDialog::fieldsAreCorrectedWhenLeft()
{
    m_settings.proxyServer = false;
    auto form = open();
    QWidget* away = form->ui().byOneCheck;
    typeAndLeave(form->ui().dirEdit, QStringLiteral("  /srv/lst  ;\"/mnt/spool/\";;"), away);
    QCOMPARE(form->ui().dirEdit->text(), QStringLiteral("/srv/lst/;/mnt/spool/"));

    form->ui().tabs->setCurrentIndex(1);
    away = form->ui().byWidthRadio;
    const QList<std::pair<QString, QString>> widths = {
        {QStringLiteral("300"), QStringLiteral("233")},
        {QStringLiteral("abc"), QStringLiteral("96")},
        {QStringLiteral("50"), QStringLiteral("80")},
        {QStringLiteral("120"), QStringLiteral("120")}};
    for (const auto& [typed, shown] : widths) {
        typeAndLeave(form->ui().portraitEdit, typed, away);
        QCOMPARE(form->ui().portraitEdit->text(), shown);
    }
    // The arrows step within the range.
    form->ui().portraitEdit->setFocus();
    QTest::keyClick(form->ui().portraitEdit, Qt::Key_Up);
    QCOMPARE(form->ui().portraitEdit->text(), QStringLiteral("121"));

    form->ui().tabs->setCurrentIndex(4);
    clickBox(form->ui().proxyCheck);
    QVERIFY(form->ui().proxyPortEdit->isEnabled());
    away = form->ui().proxyAddrEdit;
    const QList<std::pair<QString, QString>> ports = {
        {QStringLiteral("0"), QStringLiteral("8080")},
        {QStringLiteral("65536"), QStringLiteral("8080")},
        {QStringLiteral("proxy"), QStringLiteral("8080")},
        {QStringLiteral("3128"), QStringLiteral("3128")}};
    for (const auto& [typed, shown] : ports) {
        typeAndLeave(form->ui().proxyPortEdit, typed, away);
        QCOMPARE(form->ui().proxyPortEdit->text(), shown);
    }

    // A field still being typed in when OK is pressed is corrected all the same.
    form->ui().tabs->setCurrentIndex(1);
    form->ui().portraitEdit->setFocus();
    QTest::keyClick(form->ui().portraitEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(form->ui().portraitEdit, QStringLiteral("9"));
    // The spool directories are not there: said once, naming both, and taken all the same.
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QTest::keyClick(form->ui().portraitEdit, Qt::Key_Return);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0].text.contains(u"/srv/lst/") && messages[0].text.contains(u"/mnt/spool/"));
    QCOMPARE(m_settings.maxPortrait, 80);
    QCOMPARE(m_settings.directories, QStringLiteral("/srv/lst/;/mnt/spool/"));
    QCOMPARE(m_settings.proxyPort, QStringLiteral("3128"));
}

void TestSettingsDialog::noPrinterKeepsTheFont()
{
    m_settings.printer.clear();
    m_settings.font = QStringLiteral("Lucida Console");
    auto form = open();
    QCOMPARE(form->ui().printerCombo->currentIndex(), 0);
    QCOMPARE(form->ui().printerCombo->currentText(), QStringLiteral("[žádná]"));
    QCOMPARE(form->ui().fontCombo->count(), 0);

    // No printer setup for no printer, only the warning that nothing comes out.
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QTest::mouseClick(form->ui().printerButton, Qt::LeftButton);
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().caption, QStringLiteral("[žádná]"));
    QVERIFY(messages.first().text.startsWith(
        QStringLiteral("Tiskárna [žádná] neprovádí žádný textový výstup")));

    QTest::mouseClick(form->ui().okButton, Qt::LeftButton);
    QCOMPARE(m_settings.printer, QString());
    QCOMPARE(m_settings.font, QStringLiteral("Lucida Console"));
    const RegistryIni ini(productKeys().registryRoot());
    QCOMPARE(ini.readString(QStringLiteral("Settings"), QStringLiteral("Printer"), kFirst),
             QString());
    QCOMPARE(m_printers.currentPrinter(), kFirst); // picking no printer changes nothing
}

void TestSettingsDialog::printerChoiceAndFonts()
{
    SetupServices services;
    // The second queue offers neither report face.
    services.fontNames = [this] {
        return m_printers.currentPrinter() == kSecond
                   ? QStringList()
                   : QStringList{QStringLiteral("Courier New"), QStringLiteral("Lucida Console")};
    };
    m_settings.font = QStringLiteral("lucida console");
    auto form = open(services);
    QCOMPARE(form->ui().printerCombo->count(), 3);
    QCOMPARE(form->ui().printerCombo->currentText(), kFirst);
    QCOMPARE(form->ui().fontCombo->currentText(), QStringLiteral("Lucida Console"));

    form->ui().printerCombo->setFocus();
    while (form->ui().printerCombo->currentText() != kSecond) {
        const int before = form->ui().printerCombo->currentIndex();
        QTest::keyClick(form->ui().printerCombo, before < form->ui().printerCombo->findText(kSecond)
                                                     ? Qt::Key_Down
                                                     : Qt::Key_Up);
        QVERIFY(form->ui().printerCombo->currentIndex() != before);
    }
    QCOMPARE(m_printers.currentPrinter(), kSecond);
    QCOMPARE(form->ui().fontCombo->count(), 0);
    QTest::mouseClick(form->ui().okButton, Qt::LeftButton);
    QCOMPARE(m_settings.printer, kSecond);
    QCOMPARE(m_settings.font, QString());

    // A stored printer that is gone leaves the list without a choice, and OK stores none.
    m_settings.printer = QStringLiteral("gone");
    auto again = open(services);
    QCOMPARE(again->ui().printerCombo->currentIndex(), -1);
    QCOMPARE(again->ui().fontCombo->count(), 0);
    QTest::mouseClick(again->ui().okButton, Qt::LeftButton);
    QCOMPARE(m_settings.printer, QString());
}

void TestSettingsDialog::cancelRestoresThePrinter()
{
    const AppSettings before = m_settings;
    auto form = open();
    form->ui().printerCombo->setCurrentIndex(form->ui().printerCombo->findText(kSecond));
    QCOMPARE(m_printers.currentPrinter(), kSecond);
    form->ui().dirEdit->setText(QStringLiteral("/elsewhere"));
    QTest::mouseClick(form->ui().cancelButton, Qt::LeftButton);
    QCOMPARE(m_printers.currentPrinter(), kFirst);
    QVERIFY(m_settings == before);

    // Esc cancels too; while a document is open the printer is left alone.
    SetupServices busy;
    busy.documentInProgress = [] {
        return true;
    };
    auto printing = open(busy);
    printing->ui().printerCombo->setCurrentIndex(printing->ui().printerCombo->findText(kSecond));
    QTest::keyClick(printing.get(), Qt::Key_Escape);
    QCOMPARE(printing->result(), int(QDialog::Rejected));
    QCOMPARE(m_printers.currentPrinter(), kSecond);
}

void TestSettingsDialog::printerSetupChoosesThePaper()
{
    SetupServices services;
    QString setUp;
    services.printerSetup = [&setUp](QPrinter& printer, QWidget*) {
        setUp = printer.printerName();
        printer.setPageSize(QPageSize(QPageSize::A5));
        return true;
    };
    auto form = open(services);
    form->ui().printerCombo->setCurrentIndex(form->ui().printerCombo->findText(kSecond));
    QTest::mouseClick(form->ui().printerButton, Qt::LeftButton);
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
    QTest::mouseClick(form->ui().cancelButton, Qt::LeftButton);
    QCOMPARE(m_printers.paperFor(kSecond).id(), QPageSize::A5);
    m_printers.setPaperFor(kSecond, QPageSize());

    // Before any choice the setup starts from the queue's own paper, not from A4: confirming it
    // keeps the paper the printer holds.
    const QString ppd = QStringLiteral("/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd");
    if (!QFile::exists(ppd))
        QSKIP("cups-filters' PDF printer driver is not installed");
    const QString letter = QStringLiteral("letter");
    QVERIFY2(m_cups.addDriverQueue(letter, ppd), qPrintable(m_cups.reason()));
    QPageSize offered;
    services.printerSetup = [&offered](QPrinter& printer, QWidget*) {
        offered = printer.pageLayout().pageSize();
        return true;
    };
    auto confirmed = open(services);
    confirmed->ui().printerCombo->setCurrentIndex(confirmed->ui().printerCombo->findText(letter));
    QTest::mouseClick(confirmed->ui().printerButton, Qt::LeftButton);
    QCOMPARE(offered.id(), QPageSize::Letter);
    QCOMPARE(m_printers.paperFor(letter).id(), QPageSize::Letter);
    m_printers.setPaperFor(letter, QPageSize());
}

void TestSettingsDialog::printerSetupWithAHungScheduler()
{
    // Qt would wait for the printer's details for ever; the dialog says the server does not
    // answer instead, within the catalog's time limit.
    SetupServices services;
    bool opened = false;
    services.printerSetup = [&opened](QPrinter&, QWidget*) {
        opened = true;
        return false;
    };
    auto form = open(services);
    form->ui().printerCombo->setCurrentIndex(form->ui().printerCombo->findText(kSecond));
    QVERIFY(m_cups.hang());
    auto resume = qScopeGuard([this] { m_cups.resume(); });
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QTest::mouseClick(form->ui().printerButton, Qt::LeftButton);
    QVERIFY(!opened);
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].text, QStringLiteral("Tiskový server neodpovídá."));
}

void TestSettingsDialog::orientationChoice()
{
    int editorOpened = 0;
    SetupServices services;
    services.orientationEditor = [&editorOpened](QWidget*) {
        ++editorOpened;
    };
    m_settings.orientation = 7;
    auto form = open(services);
    form->ui().tabs->setCurrentIndex(1);
    QVERIFY(form->ui().byWidthRadio->isChecked());
    QVERIFY(form->ui().portraitEdit->isEnabled());
    QVERIFY(!form->ui().orientButton->isEnabled());

    clickBox(form->ui().perTitleRadio);
    QVERIFY(form->ui().orientButton->isEnabled());
    QVERIFY(form->ui().portraitEdit->isEnabled());
    QTest::mouseClick(form->ui().orientButton, Qt::LeftButton);
    QCOMPARE(editorOpened, 1);

    clickBox(form->ui().landscapeRadio);
    QVERIFY(!form->ui().orientButton->isEnabled());
    QVERIFY(!form->ui().portraitEdit->isEnabled());
    clickBox(form->ui().byWidthRadio);
    QTest::mouseClick(form->ui().okButton, Qt::LeftButton);
    QCOMPARE(m_settings.orientation, quint8(OrientByWidth));
}

void TestSettingsDialog::okStoresEverySetting()
{
    m_settings.proxyAddr = QStringLiteral("old.proxy");
    m_settings.proxyPort = QStringLiteral("3128");
    m_settings.printByOne = false;
    m_settings.erase = false;
    m_settings.runPaused = false;
    m_settings.showHints = false;
    m_settings.highPriority = false;
    m_settings.verCheck = false;
    m_settings.proxyServer = false;
    auto form = open();
    clickBox(form->ui().byOneCheck);
    clickBox(form->ui().eraseCheck);
    form->ui().tabs->setCurrentIndex(1);
    clickBox(form->ui().perTitleRadio);
    form->ui().tabs->setCurrentIndex(2);
    const auto indentItems = form->ui().indentGroup->findChildren<QRadioButton*>();
    QCOMPARE(indentItems.size(), 4);
    clickBox(indentItems.at(3));
    form->ui().topSpin->setValue(150); // beyond the maximum
    form->ui().leftSpin->setValue(12);
    form->ui().rightSpin->setValue(7);
    form->ui().bottomSpin->setValue(30);
    QCOMPARE(form->ui().topSpin->text(), QStringLiteral("100 mm"));
    QCOMPARE(form->ui().rightSpin->maximum(), 50);
    form->ui().tabs->setCurrentIndex(3);
    QVERIFY(!form->ui().taskbarCheck->isEnabled());
    for (QCheckBox* box : {form->ui().pauseCheck, form->ui().hintsCheck, form->ui().priorityCheck,
                           form->ui().updateCheck})
        clickBox(box);
    // The proxy stays off: its fields are not taken.
    form->ui().tabs->setCurrentIndex(4);
    QVERIFY(!form->ui().proxyAddrEdit->isEnabled());
    form->ui().proxyAddrEdit->setText(QStringLiteral("new.proxy"));
    QTest::mouseClick(form->ui().okButton, Qt::LeftButton);

    AppSettings expected = m_settings;
    QCOMPARE(m_settings.printByOne, true);
    QCOMPARE(m_settings.erase, true);
    QCOMPARE(m_settings.orientation, quint8(OrientPerTitle));
    QCOMPARE(m_settings.indent, quint8(3));
    QCOMPARE(m_settings.borders, QMargins(12, 100, 7, 30));
    QCOMPARE(m_settings.proxyServer, false);
    QCOMPARE(m_settings.proxyAddr, QStringLiteral("old.proxy"));

    // Everything reached the registry.
    AppSettings loaded;
    QVERIFY(loaded.load(m_printers));
    expected.hintHidePause = loaded.hintHidePause; // never written
    QCOMPARE(loaded.runPaused, true);
    QCOMPARE(loaded.highPriority, true);
    QVERIFY(loaded == expected);
}

void TestSettingsDialog::autostartEntry()
{
    const QString entry = platform::autostart::userEntryPath(QStringLiteral("Tarnyx"));
    m_settings.autorun = false;
    m_settings.iconize = false;
    auto form = open();
    form->ui().tabs->setCurrentIndex(3);
    clickBox(form->ui().autorunCheck);
    QTest::mouseClick(form->ui().okButton, Qt::LeftButton);
    QCOMPARE(platform::autostart::readCommand(entry), QStringLiteral("\"%1\" ").arg(kProgram));

    auto hidden = open();
    hidden->ui().iconizeCheck->setChecked(true);
    QTest::mouseClick(hidden->ui().okButton, Qt::LeftButton);
    QCOMPARE(platform::autostart::readCommand(entry), QStringLiteral("\"%1\" /min").arg(kProgram));

    auto off = open();
    off->ui().autorunCheck->setChecked(false);
    QTest::mouseClick(off->ui().okButton, Qt::LeftButton);
    QVERIFY(!QFile::exists(entry));
}

void TestSettingsDialog::helpFollowsTheTab()
{
    auto form = open();
    QTest::keyClick(form.get(), Qt::Key_F1);
    form->ui().tabs->setCurrentIndex(2);
    QTest::mouseClick(form->ui().helpButton, Qt::LeftButton);
    form->ui().tabs->setCurrentIndex(4);
    QTest::keyClick(form.get(), Qt::Key_F1);
    QCOMPARE(m_topics,
             (QStringList{QStringLiteral("setup.htm#"), QStringLiteral("setup.htm#SetupStranka"),
                          QStringLiteral("setup.htm#SetupInternet")}));
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
