#include "gui/about/HelpViewer.h"
#include "gui/common/MessageDlg.h"
#include "gui/config/SettingsDialog.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHelpContentWidget>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

namespace {

QString helpFile()
{
    return QStringLiteral(TARNYX_QCH);
}

QList<HelpWindow*> helpWindows()
{
    QList<HelpWindow*> found;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows)
        if (auto* help = qobject_cast<HelpWindow*>(w))
            found << help;
    return found;
}

HelpWindow* onlyWindow()
{
    const QList<HelpWindow*> windows = helpWindows();
    return windows.size() == 1 ? windows.first() : nullptr;
}

QStringList anchorNames(const QTextDocument& document)
{
    QStringList names;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            names << it.fragment().charFormat().anchorNames();
    return names;
}

int scrollPosition(const HelpWindow& window)
{
    return window.browser()->verticalScrollBar()->value();
}

} // namespace

class TestHelpViewer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { MessageDlgTestHook::clear(); }
    void cleanup();
    void helpFileName_data();
    void helpFileName();
    void helpFileOfThisProgram();
    void installedHelpFile_data();
    void installedHelpFile();
    void setupTopic_data();
    void setupTopic();
    void showsTopicWithContents();
    void setupAnchorsScroll();
    void linksInsideHelp();
    void reusesOneWindow();
    void closingAllHelp();
    void usableBesideModalDialog();
    void missingHelpFile();
    void damagedHelpFile();
};

void TestHelpViewer::initTestCase()
{
    QVERIFY2(QFileInfo(helpFile()).isFile(), qPrintable(helpFile()));
}

void TestHelpViewer::cleanup()
{
    closeAllHelp();
    QTRY_VERIFY(helpWindows().isEmpty());
}

void TestHelpViewer::helpFileName_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("help");
    QTest::newRow("no extension") << "/opt/tarnyx/tarnyx"
                                  << "/opt/tarnyx/tarnyx.qch";
    QTest::newRow("extension replaced") << "/opt/tarnyx/tarnyx.bin"
                                        << "/opt/tarnyx/tarnyx.qch";
    QTest::newRow("only the last extension") << "/opt/a.b.exe"
                                             << "/opt/a.b.qch";
    QTest::newRow("dot in a directory") << "/opt/tarnyx-1.0/tarnyx"
                                        << "/opt/tarnyx-1.0/tarnyx.qch";
    QTest::newRow("hidden file") << "/opt/.tarnyx"
                                 << "/opt/.tarnyx.qch";
}

void TestHelpViewer::helpFileName()
{
    QFETCH(QString, program);
    QFETCH(QString, help);
    QCOMPARE(helpFileNameFor(program), help);
}

void TestHelpViewer::helpFileOfThisProgram()
{
    QCOMPARE(defaultHelpFile(), QDir(QCoreApplication::applicationDirPath())
                                    .filePath(QStringLiteral("tst_helpviewer.qch")));
}

// A packaged program lies in bin/ and its help file in share/tarnyx/; one beside the program
// (the build tree) comes first.
void TestHelpViewer::installedHelpFile_data()
{
    QTest::addColumn<bool>("beside");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QString>("found");
    QTest::newRow("installed only") << false << true << "share/tarnyx/tarnyx.qch";
    QTest::newRow("beside the program first") << true << true << "bin/tarnyx.qch";
    QTest::newRow("none: the one beside") << false << false << "bin/tarnyx.qch";
}

void TestHelpViewer::installedHelpFile()
{
    QFETCH(bool, beside);
    QFETCH(bool, installed);
    QFETCH(QString, found);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QDir dir(root.path());
    QVERIFY(dir.mkpath(QStringLiteral("bin")) && dir.mkpath(QStringLiteral("share/tarnyx")));
    for (const auto& [wanted, name] :
         {std::pair{beside, "bin/tarnyx.qch"}, std::pair{installed, "share/tarnyx/tarnyx.qch"}}) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(!wanted || file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(findHelpFileFor(dir.filePath(QStringLiteral("bin/tarnyx"))), dir.filePath(found));
}

void TestHelpViewer::setupTopic_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("topic");
    QTest::newRow("Tisk") << 1 << "setup.htm#";
    QTest::newRow("Orientace") << 2 << "setup.htm#SetupOrient";
    QTest::newRow("Stránka") << 3 << "setup.htm#SetupStranka";
    QTest::newRow("Obecné") << 4 << "setup.htm#SetupObecne";
    QTest::newRow("Internet") << 5 << "setup.htm#SetupInternet";
    QTest::newRow("zero") << 0 << "setup.htm#";
    QTest::newRow("six") << 6 << "setup.htm#";
    QTest::newRow("negative") << -1 << "setup.htm#";
}

void TestHelpViewer::setupTopic()
{
    QFETCH(int, tab);
    QFETCH(QString, topic);
    QCOMPARE(setupHelpTopic(tab), topic);
}

void TestHelpViewer::showsTopicWithContents()
{
    showHelpTopic(nullptr, helpFile(), QStringLiteral("charakter.htm"));
    HelpWindow* window = onlyWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Nápověda - Tarnyx"));
    QCOMPARE(window->browser()->source().fileName(), QStringLiteral("charakter.htm"));
    QVERIFY(window->browser()->toPlainText().contains(
        QStringLiteral("Tarnyx tiskne sestavy mzdového programu automaticky.")));
    QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());

    // The contents arrive in the background; then the open page is the selected entry.
    QTRY_VERIFY(window->contents()->currentIndex().isValid());
    QCOMPARE(window->contents()->currentIndex().data().toString(),
             QStringLiteral("Charakteristika programu"));
}

void TestHelpViewer::setupAnchorsScroll()
{
    showHelpTopic(nullptr, helpFile(), setupHelpTopic(5));
    HelpWindow* window = onlyWindow();
    QVERIFY(window);
    QCOMPARE(window->browser()->source().fileName(), QStringLiteral("setup.htm"));
    QCOMPARE(window->browser()->source().fragment(), QStringLiteral("SetupInternet"));
    QTRY_VERIFY(scrollPosition(*window) > 0);
    QTRY_COMPARE(window->contents()->currentIndex().data().toString(),
                 QStringLiteral("Karta Internet"));

    // Every tab the settings dialog can ask for has its place in the page.
    const QStringList anchors = anchorNames(*window->browser()->document());
    for (int tab = 2; tab <= 5; ++tab) {
        const QString anchor = setupHelpTopic(tab).section(u'#', 1);
        QVERIFY2(anchors.contains(anchor), qPrintable(anchor));
    }

    // The first tab has no anchor: the page opens at its top.
    showHelpTopic(nullptr, helpFile(), setupHelpTopic(1));
    QCOMPARE(onlyWindow(), window);
    QTRY_COMPARE(scrollPosition(*window), 0);
}

void TestHelpViewer::linksInsideHelp()
{
    showHelpTopic(nullptr, helpFile(), QStringLiteral("charakter.htm"));
    HelpWindow* window = onlyWindow();
    QVERIFY(window);
    // What a click on a link in the page hands over: the link as written in the page.
    emit window->browser()->anchorClicked(QUrl(QStringLiteral("setup.htm#SetupOrient")));
    QCOMPARE(window->browser()->source().fileName(), QStringLiteral("setup.htm"));
    QCOMPARE(window->browser()->source().fragment(), QStringLiteral("SetupOrient"));
    QVERIFY(window->browser()->toPlainText().contains(QStringLiteral("Vždy na šířku")));

    // A topic the help file lacks shows the start page rather than an empty one.
    showHelpTopic(nullptr, helpFile(), QStringLiteral("chybi.htm"));
    QCOMPARE(window->browser()->source().fileName(), QStringLiteral("index.htm"));
    QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());
}

void TestHelpViewer::reusesOneWindow()
{
    showHelpTopic(nullptr, helpFile(), QStringLiteral("charakter.htm"));
    HelpWindow* first = onlyWindow();
    QVERIFY(first);
    showHelpTopic(nullptr, helpFile(), QStringLiteral("setup.htm#SetupObecne"));
    QTest::qWait(1);
    QCOMPARE(helpWindows().size(), 1);
    QCOMPARE(onlyWindow(), first);
    QCOMPARE(first->browser()->source().fragment(), QStringLiteral("SetupObecne"));
}

void TestHelpViewer::closingAllHelp()
{
    showHelpTopic(nullptr, helpFile(), QStringLiteral("charakter.htm"));
    QVERIFY(onlyWindow());
    closeAllHelp();
    QTRY_VERIFY(helpWindows().isEmpty());
    closeAllHelp(); // nothing left to close

    // A help command closes the open window and at once opens the topic: the closing window must
    // not take the new topic with it.
    showHelpTopic(nullptr, helpFile(), QStringLiteral("charakter.htm"));
    closeAllHelp();
    showHelpTopic(nullptr, helpFile(), QStringLiteral("setup.htm#SetupStranka"));
    QTest::qWait(1);
    HelpWindow* window = onlyWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->browser()->source().fragment(), QStringLiteral("SetupStranka"));

    // Closed by the user: the next command opens a new window.
    window->close();
    showHelpTopic(nullptr, helpFile(), QStringLiteral("charakter.htm"));
    QTest::qWait(1);
    QVERIFY(onlyWindow());
    QVERIFY(onlyWindow()->isVisible());
}

void TestHelpViewer::usableBesideModalDialog()
{
    QDialog dialog;
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    QCOMPARE(QApplication::activeModalWidget(), &dialog);

    showHelpTopic(&dialog, helpFile(), setupHelpTopic(2));
    HelpWindow* window = onlyWindow();
    QVERIFY(window);
    // Belonging to the modal dialog is what keeps it reachable while the dialog is open.
    QCOMPARE(window->parentWidget(), &dialog);
    QVERIFY(window->isVisible());

    dialog.hide();
    QCOMPARE(window->parentWidget(), nullptr);
    QVERIFY(window->isVisible());
}

void TestHelpViewer::missingHelpFile()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("tarnyx.qch"));
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    showHelpTopic(nullptr, missing, QStringLiteral("charakter.htm"));

    const QList<MessageDlgTestHook::Message> messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().caption, QStringLiteral("Nápověda"));
    QCOMPARE(messages.first().kind, MsgKind::Error);
    QCOMPARE(messages.first().text,
             QStringLiteral("Soubor nápovědy %1 nebyl nalezen.").arg(missing));
    QVERIFY(MessageDlgTestHook::pendingAnswers().isEmpty());
    QVERIFY(helpWindows().isEmpty());
}

void TestHelpViewer::damagedHelpFile()
{
    QTemporaryDir dir;
    const QString damaged = dir.filePath(QStringLiteral("tarnyx.qch"));
    QFile file(damaged);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is no help file\n");
    file.close();

    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    showHelpTopic(nullptr, damaged, QStringLiteral("charakter.htm"));
    const QList<MessageDlgTestHook::Message> messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.first().text,
             QStringLiteral("Soubor nápovědy %1 se nepodařilo otevřít.").arg(damaged));
    QVERIFY(helpWindows().isEmpty());
}

QTEST_MAIN(TestHelpViewer)
#include "tst_helpviewer.moc"
