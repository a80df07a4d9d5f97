#include "config/AppSettings.h"
#include "config/RegistryIni.h"
#include "config/SettingsDialog.h"
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
    m_settings.loadSettings(m_printers);
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
    QWidget* away = form->byOneCheck;
    typeAndLeave(form->dirEdit, QStringLiteral("  /srv/lst  ;\"/mnt/spool/\";;"), away);
    QCOMPARE(form->dirEdit->text(), QStringLiteral("/srv/lst/;/mnt/spool/"));

    form->tabs->setCurrentIndex(1);
    away = form->byWidthRadio;
    const QList<std::pair<QString, QString>> widths = {
        {QStringLiteral("300"), QStringLiteral("233")},
        {QStringLiteral("abc"), QStringLiteral("96")},
        {QStringLiteral("50"), QStringLiteral("80")},
        {QStringLiteral("120"), QStringLiteral("120")}};
    for (const auto& [typed, shown] : widths) {
        typeAndLeave(form->portraitEdit, typed, away);
        QCOMPARE(form->portraitEdit->text(), shown);
    }
    // The arrows step within the range.
    form->portraitEdit->setFocus();
    QTest::keyClick(form->portraitEdit, Qt::Key_Up);
    QCOMPARE(form->portraitEdit->text(), QStringLiteral("121"));

    form->tabs->setCurrentIndex(4);
    clickBox(form->proxyCheck);
    QVERIFY(form->proxyPortEdit->isEnabled());
    away = form->proxyAddrEdit;
    const QList<std::pair<QString, QString>> ports = {
        {QStringLiteral("0"), QStringLiteral("8080")},
        {QStringLiteral("65536"), QStringLiteral("8080")},
        {QStringLiteral("proxy"), QStringLiteral("8080")},
        {QStringLiteral("3128"), QStringLiteral("3128")}};
    for (const auto& [typed, shown] : ports) {
        typeAndLeave(form->proxyPortEdit, typed, away);
        QCOMPARE(form->proxyPortEdit->text(), shown);
    }

    // A field still being typed in when OK is pressed is corrected all the same.
    form->tabs->setCurrentIndex(1);
    form->portraitEdit->setFocus();
    QTest::keyClick(form->portraitEdit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(form->portraitEdit, QStringLiteral("9"));
    QTest::keyClick(form->portraitEdit, Qt::Key_Return);
    QCOMPARE(form->result(), int(QDialog::Accepted));
    QCOMPARE(m_settings.maxPortrait, 80);
    QCOMPARE(m_settings.directories, QStringLiteral("/srv/lst/;/mnt/spool/"));
    QCOMPARE(m_settings.proxyPort, QStringLiteral("3128"));
}

void TestSettingsDialog::noPrinterKeepsTheFont()
{
    m_settings.printer.clear();
    m_settings.font = QStringLiteral("Lucida Console");
    auto form = open();
    QCOMPARE(form->printerCombo->currentIndex(), 0);
    QCOMPARE(form->printerCombo->currentText(), QStringLiteral("[žádná]"));
    QCOMPARE(form->fontCombo->count(), 0);

    // No printer setup for no printer, only the warning that nothing comes out.
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    QTest::mouseClick(form->printerButton, Qt::LeftButton);
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().caption, QStringLiteral("[žádná]"));
    QVERIFY(messages.first().text.startsWith(
        QStringLiteral("Tiskárna [žádná] neprovádí žádný textový výstup")));

    QTest::mouseClick(form->okButton, Qt::LeftButton);
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
    QCOMPARE(form->printerCombo->count(), 3);
    QCOMPARE(form->printerCombo->currentText(), kFirst);
    QCOMPARE(form->fontCombo->currentText(), QStringLiteral("Lucida Console"));

    form->printerCombo->setFocus();
    while (form->printerCombo->currentText() != kSecond) {
        const int before = form->printerCombo->currentIndex();
        QTest::keyClick(form->printerCombo,
                        before < form->printerCombo->findText(kSecond) ? Qt::Key_Down : Qt::Key_Up);
        QVERIFY(form->printerCombo->currentIndex() != before);
    }
    QCOMPARE(m_printers.currentPrinter(), kSecond);
    QCOMPARE(form->fontCombo->count(), 0);
    QTest::mouseClick(form->okButton, Qt::LeftButton);
    QCOMPARE(m_settings.printer, kSecond);
    QCOMPARE(m_settings.font, QString());

    // A stored printer that is gone leaves the list without a choice, and OK stores none.
    m_settings.printer = QStringLiteral("gone");
    auto again = open(services);
    QCOMPARE(again->printerCombo->currentIndex(), -1);
    QCOMPARE(again->fontCombo->count(), 0);
    QTest::mouseClick(again->okButton, Qt::LeftButton);
    QCOMPARE(m_settings.printer, QString());
}

void TestSettingsDialog::cancelRestoresThePrinter()
{
    const AppSettings before = m_settings;
    auto form = open();
    form->printerCombo->setCurrentIndex(form->printerCombo->findText(kSecond));
    QCOMPARE(m_printers.currentPrinter(), kSecond);
    form->dirEdit->setText(QStringLiteral("/elsewhere"));
    QTest::mouseClick(form->cancelButton, Qt::LeftButton);
    QCOMPARE(m_printers.currentPrinter(), kFirst);
    QVERIFY(m_settings == before);

    // Esc cancels too; while a document is open the printer is left alone.
    SetupServices busy;
    busy.documentInProgress = [] {
        return true;
    };
    auto printing = open(busy);
    printing->printerCombo->setCurrentIndex(printing->printerCombo->findText(kSecond));
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
    form->printerCombo->setCurrentIndex(form->printerCombo->findText(kSecond));
    QTest::mouseClick(form->printerButton, Qt::LeftButton);
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
    QTest::mouseClick(form->cancelButton, Qt::LeftButton);
    QCOMPARE(m_printers.paperFor(kSecond).id(), QPageSize::A5);
    m_printers.setPaperFor(kSecond, QPageSize());
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
    form->tabs->setCurrentIndex(1);
    QVERIFY(form->byWidthRadio->isChecked());
    QVERIFY(form->portraitEdit->isEnabled());
    QVERIFY(!form->orientButton->isEnabled());

    clickBox(form->perTitleRadio);
    QVERIFY(form->orientButton->isEnabled());
    QVERIFY(form->portraitEdit->isEnabled());
    QTest::mouseClick(form->orientButton, Qt::LeftButton);
    QCOMPARE(editorOpened, 1);

    clickBox(form->landscapeRadio);
    QVERIFY(!form->orientButton->isEnabled());
    QVERIFY(!form->portraitEdit->isEnabled());
    clickBox(form->byWidthRadio);
    QTest::mouseClick(form->okButton, Qt::LeftButton);
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
    clickBox(form->byOneCheck);
    clickBox(form->eraseCheck);
    form->tabs->setCurrentIndex(1);
    clickBox(form->perTitleRadio);
    form->tabs->setCurrentIndex(2);
    const auto indentItems = form->indentGroup->findChildren<QRadioButton*>();
    QCOMPARE(indentItems.size(), 4);
    clickBox(indentItems.at(3));
    form->topSpin->setValue(150); // beyond the maximum
    form->leftSpin->setValue(12);
    form->rightSpin->setValue(7);
    form->bottomSpin->setValue(30);
    QCOMPARE(form->topSpin->text(), QStringLiteral("100 mm"));
    QCOMPARE(form->rightSpin->maximum(), 50);
    form->tabs->setCurrentIndex(3);
    QVERIFY(!form->taskbarCheck->isEnabled());
    for (QCheckBox* box :
         {form->pauseCheck, form->hintsCheck, form->priorityCheck, form->updateCheck})
        clickBox(box);
    // The proxy stays off: its fields are not taken.
    form->tabs->setCurrentIndex(4);
    QVERIFY(!form->proxyAddrEdit->isEnabled());
    form->proxyAddrEdit->setText(QStringLiteral("new.proxy"));
    QTest::mouseClick(form->okButton, Qt::LeftButton);

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
    QVERIFY(loaded.loadSettings(m_printers));
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
    form->tabs->setCurrentIndex(3);
    clickBox(form->autorunCheck);
    QTest::mouseClick(form->okButton, Qt::LeftButton);
    QCOMPARE(platform::autostart::readCommand(entry), QStringLiteral("\"%1\" ").arg(kProgram));

    auto hidden = open();
    hidden->iconizeCheck->setChecked(true);
    QTest::mouseClick(hidden->okButton, Qt::LeftButton);
    QCOMPARE(platform::autostart::readCommand(entry), QStringLiteral("\"%1\" /min").arg(kProgram));

    auto off = open();
    off->autorunCheck->setChecked(false);
    QTest::mouseClick(off->okButton, Qt::LeftButton);
    QVERIFY(!QFile::exists(entry));
}

void TestSettingsDialog::helpFollowsTheTab()
{
    auto form = open();
    QTest::keyClick(form.get(), Qt::Key_F1);
    form->tabs->setCurrentIndex(2);
    QTest::mouseClick(form->helpButton, Qt::LeftButton);
    form->tabs->setCurrentIndex(4);
    QTest::keyClick(form.get(), Qt::Key_F1);
    QCOMPARE(m_topics,
             (QStringList{QStringLiteral("setup.htm#"), QStringLiteral("setup.htm#SetupStranka"),
                          QStringLiteral("setup.htm#SetupInternet")}));
}

QTEST_MAIN(TestSettingsDialog)
#include "tst_settingsdialog.moc"
