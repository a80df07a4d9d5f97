#include "gui/print/PrintErrorDialog.h"
#include "support/NoPrinters.h"

#include "core/config/RegistryIni.h"
#include "core/jobs/JobController.h"
#include "core/platform/FileInfo.h"
#include "core/platform/PrinterCatalog.h"
#include "gui/common/Events.h"
#include "gui/common/MessageDlg.h"
#include "gui/config/SettingsDialog.h"
#include "gui/config/SpoolDirsDialog.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// A top-level window that records the application's messages: "pause", "run", "deleted N".
class Recorder : public QWidget
{
public:
    QStringList heard;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() == events::kPrintState)
            heard << (static_cast<events::PrintStateEvent*>(e)->run ? QStringLiteral("run")
                                                                    : QStringLiteral("pause"));
        else if (e->type() == events::kReportDeleted)
            heard << QStringLiteral("deleted %1")
                         .arg(static_cast<events::ReportDeletedEvent*>(e)->origin);
        else
            return QWidget::event(e);
        return true;
    }
};

} // namespace

class TestPrintErrorDialog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void dialog();
    void showPrintError_data();
    void showPrintError();
    void longPathsLeaveTheReasonReadable();
    void fixedDialogsShowOnlyTheirCaptionAndClose();

private:
    QTemporaryDir m_root;
    NoPrinters m_printers;
};

void TestPrintErrorDialog::initTestCase()
{
    const QDir root(m_root.path());
    QVERIFY(root.mkpath(QStringLiteral("config")) && root.mkpath(QStringLiteral("home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));
    qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath(QStringLiteral("data"))));
    productKeys().productKey = QStringLiteral("Tarnyx");
}

void TestPrintErrorDialog::dialog()
{
    AppSettings settings;
    PrintErrorDialog dialog(settings);
    dialog.setMessage(QStringLiteral("Chyba \"x\"\r<b>soubor</b>"));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.size(), QSize(388, 175));
    // Shown as it is, a path only made breakable after its separators.
    QCOMPARE(dialog.textLabel()->text().remove(QChar(0x200B)),
             QStringLiteral("Chyba \"x\"\n<b>soubor</b>"));
    QCOMPARE(dialog.textLabel()->textFormat(), Qt::PlainText);
    const int left = dialog.iconSize() + 16;
    QCOMPARE(dialog.textLabel()->geometry(), QRect(left, 8, 388 - left - 8, 97));

    // Without a report nothing can be chosen but Esc.
    for (QAction* a : {dialog.ui().deleteAction, dialog.ui().skipAction, dialog.ui().retryAction})
        QVERIFY(!a->isEnabled());
    QTest::mouseClick(dialog.ui().skipButton, Qt::LeftButton);
    QVERIFY(dialog.isVisible());
    ReportHeader report(QStringLiteral("/srv/Lst/LST00001.PRN"));
    dialog.setReport(&report);
    QVERIFY(dialog.ui().deleteButton->isEnabled() && dialog.ui().skipButton->isEnabled());
    QCOMPARE(dialog.focusWidget(), dialog.ui().deleteButton);
    dialog.setReport(nullptr);
    QVERIFY(!dialog.ui().retryButton->isEnabled());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.choice(), ErrorChoice::Cancel);
}

void TestPrintErrorDialog::longPathsLeaveTheReasonReadable()
{
    // A Wine spool path of 250 characters, then the reason the clerk needs.
    QString path = QStringLiteral("/home/novakova/.wine/drive_c");
    while (path.size() < 238)
        path += QStringLiteral("/Mzdy_a_personalistika");
    path = path.left(238) + QStringLiteral("/LST00001.PRN");
    AppSettings settings;
    PrintErrorDialog dialog(settings);
    dialog.setMessage(QStringLiteral("Chybný formát souboru %1\r(Počet řádků na stránku sestavy je "
                                     "mimo povolený rozsah)")
                          .arg(path));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QLabel* text = dialog.textLabel();
    // No unbreakable run wider than the text area, and every line within its height.
    QVERIFY2(text->minimumSizeHint().width() <= text->width(),
             qPrintable(QString::number(text->minimumSizeHint().width())));
    QVERIFY(text->heightForWidth(text->width()) <= text->height());
    QVERIFY(dialog.separator()->y() >= text->geometry().bottom());
    QVERIFY(dialog.ui().deleteButton->geometry().bottom() < dialog.height());
    QCOMPARE(dialog.width(), 388);
}

void TestPrintErrorDialog::fixedDialogsShowOnlyTheirCaptionAndClose()
{
    // The dialogs with a fixed border: their own caption, no minimise or maximise box.
    AppSettings settings;
    PrintErrorDialog error(settings);
    SpoolDirsDialog dirs(settings);
    SettingsDialog setup(settings, m_printers);
    const std::pair<QDialog*, QString> dialogs[] = {{&error, QStringLiteral("Chyba")},
                                                    {&dirs, QStringLiteral("Adresáře")},
                                                    {&setup, QStringLiteral("Nastavení")}};
    for (const auto& [dialog, caption] : dialogs) {
        QCOMPARE(dialog->windowTitle(), caption);
        const Qt::WindowFlags flags = dialog->windowFlags();
        QVERIFY(flags & Qt::CustomizeWindowHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                           Qt::WindowContextHelpButtonHint)));
        QVERIFY(flags & Qt::WindowCloseButtonHint);
    }
}

void TestPrintErrorDialog::showPrintError_data()
{
    const QStringList paused{QStringLiteral("pause")};
    const QStringList resumed{QStringLiteral("pause"), QStringLiteral("run")};
    QTest::addColumn<QString>("control"); // button to click; empty for Esc
    QTest::addColumn<bool>("printByOne");
    QTest::addColumn<quint32>("fileTime"); // the header's; 0 when it was never read
    QTest::addColumn<QList<MsgButton>>("answers");
    QTest::addColumn<ErrorChoice>("choice");
    QTest::addColumn<QStringList>("heard");
    QTest::addColumn<QString>("message"); // the last message box
    const QList<MsgButton> none;
    QTest::newRow("retry") << "retryButton" << false << 0u << none << ErrorChoice::Retry << resumed
                           << "";
    QTest::newRow("retry, one by one")
        << "retryButton" << true << 0u << none << ErrorChoice::Retry << paused << "";
    QTest::newRow("skip") << "skipButton" << false << 0x58A16C21u << none << ErrorChoice::Skip
                          << resumed << "";
    QTest::newRow("skip, header never read")
        << "skipButton" << false << 0u << none << ErrorChoice::Skip << resumed << "";
    QTest::newRow("escape") << "" << false << 0u << none << ErrorChoice::Cancel << paused << "";
    QTest::newRow("deleted") << "deleteButton" << false << 0u << QList<MsgButton>{MsgButton::Yes}
                             << ErrorChoice::Deleted
                             << QStringList{QStringLiteral("pause"), QStringLiteral("deleted 2"),
                                            QStringLiteral("run")}
                             << "Opravdu odstranit sestavu ?\r(Soubor na disku bude přesunut do "
                                "koše.)";
    QTest::newRow("declined: no failure message")
        << "deleteButton" << false << 0u << QList<MsgButton>{MsgButton::No} << ErrorChoice::Cancel
        << paused << "Opravdu odstranit sestavu ?\r(Soubor na disku bude přesunut do koše.)";
    QTest::newRow("file gone: failure message")
        << "deleteButton" << false << 0u << QList<MsgButton>{MsgButton::Yes, MsgButton::Ok}
        << ErrorChoice::Cancel << paused << "Soubor se nepodařilo odstranit.";
}

void TestPrintErrorDialog::showPrintError()
{
    QFETCH(QString, control);
    QFETCH(bool, printByOne);
    QFETCH(quint32, fileTime);
    QFETCH(QList<MsgButton>, answers);
    QFETCH(ErrorChoice, choice);
    QFETCH(QStringList, heard);
    QFETCH(QString, message);

    JobController dm(QStringList{}, m_printers);
    dm.settings().printByOne = printByOne;
    dm.setWorkerError(QStringLiteral("Chybný formát\r(hlavička)"));
    ReportHeader report(QDir(m_root.path()).filePath(QStringLiteral("LST00002.PRN")));
    report.fileTime = fileTime;
    const bool fileGone = QTest::currentDataTag() == QLatin1String("file gone: failure message");
    if (fileGone)
        QFile::remove(report.fileName);
    else
        QVERIFY(QFile(report.fileName).open(QIODevice::WriteOnly));
    const std::optional<platform::FoundFile> found = platform::findFile(report.fileName);
    dm.reprintQueue() = {{QStringLiteral("/srv/other.PRN"), true},
                         {report.fileName.toUpper(), true},
                         {report.fileName, true}};
    MessageDlgTestHook::clear();
    // A spare answer: a message box too many takes it instead of waiting for a user.
    MessageDlgTestHook::setNextAnswers(answers + QList<MsgButton>{MsgButton::Ok});
    Recorder window;

    QString shown;
    bool timerStopped = false;
    QTimer::singleShot(50, this, [&] {
        auto* dialog = qobject_cast<PrintErrorDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        shown = dialog->textLabel()->text().remove(QChar(0x200B));
        timerStopped = !dm.tickTimer().isActive();
        if (control.isEmpty())
            QTest::keyClick(dialog, Qt::Key_Escape);
        else
            QTest::mouseClick(dialog->findChild<QPushButton*>(control), Qt::LeftButton);
    });
    ErrorChoice result = ErrorChoice::None;
    runPrintErrorDialog(report, result, dm);

    QCOMPARE(result, choice);
    QCOMPARE(shown, QStringLiteral("Chybný formát\n(hlavička)"));
    QVERIFY(timerStopped);
    QVERIFY(dm.tickTimer().isActive());
    QVERIFY(dm.workerError().isEmpty());
    QCoreApplication::sendPostedEvents();
    QCOMPARE(window.heard, heard);
    QCOMPARE(MessageDlgTestHook::pendingAnswers(), QList<MsgButton>{MsgButton::Ok});
    if (!message.isEmpty())
        QCOMPARE(MessageDlgTestHook::lastMessages().constLast().text, message);
    QCOMPARE(QFile::exists(report.fileName), !fileGone && choice != ErrorChoice::Deleted);

    // Retry frees the first queue entry of the path, whatever its letter case.
    const bool retried = choice == ErrorChoice::Retry;
    QVERIFY(dm.reprintQueue().at(0).taken && dm.reprintQueue().at(2).taken);
    QCOMPARE(dm.reprintQueue().at(1).taken, !retried);
    // Skip holds while the file is unchanged, also when the header was never read.
    if (choice == ErrorChoice::Skip) {
        QCOMPARE(dm.skipList().size(), 1);
        QCOMPARE(dm.skipList().at(0).stamp, fileTime ? fileTime : found->dosTime);
        QCOMPARE(dm.isSkipped(report.fileName), fileTime == 0);
    } else {
        QVERIFY(dm.skipList().isEmpty());
    }
}

QTEST_MAIN(TestPrintErrorDialog)
#include "tst_printerrordialog.moc"
