#include "core/jobs/JobState.h"
#include "core/report/ReportHeader.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/ReportActions.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using Hook = MessageDlgTestHook::Message;

namespace {

// A top-level window that records the deletions announced to it.
class Recorder : public QWidget
{
public:
    QList<int> origins;

protected:
    bool event(QEvent* e) override
    {
        if (e->type() != events::kReportDeleted)
            return QWidget::event(e);
        origins << static_cast<events::ReportDeletedEvent*>(e)->origin;
        return true;
    }
};

} // namespace

class TestReportActions : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { MessageDlgTestHook::clear(); }
    void messageBoxAndHourglass();
    void deletingReports_data();
    void deletingReports();
    void requeue_data();
    void requeue();

private:
    QTemporaryDir m_root;
};

void TestReportActions::initTestCase()
{
    const QDir root(m_root.path());
    QVERIFY(root.mkpath(QStringLiteral("home")) && root.mkpath(QStringLiteral("cwd")));
    qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
    // Missing on purpose: the trash must be made without spilling into the working directory.
    qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath(QStringLiteral("data"))));
    QVERIFY(QDir::setCurrent(root.filePath(QStringLiteral("cwd"))));
}

void TestReportActions::messageBoxAndHourglass()
{
    QString seen;
    QTimer::singleShot(50, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        seen = box->windowTitle() + u'|' + box->text() + u'|' + box->defaultButton()->text();
        QTest::keyClick(box, Qt::Key_Escape);
    });
    QCOMPARE(
        messageDlg(QStringLiteral("a\rb"), MsgKind::Confirmation, {MsgButton::Yes, MsgButton::No}),
        MsgButton::No);
    QCOMPARE(seen, QStringLiteral("Potvrzení|a\nb|&Ano"));

    HourglassCursor outer;
    QGuiApplication::setOverrideCursor(Qt::IBeamCursor);
    {
        HourglassCursor inner;
        QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::IBeamCursor);
    QGuiApplication::restoreOverrideCursor();
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

void TestReportActions::deletingReports_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("make"); // "file", "dir" or nothing
    QTest::addColumn<MsgButton>("answer");
    QTest::addColumn<DeleteResult>("result");
    QTest::newRow("declined") << "LST00001.PRN"
                              << "file" << MsgButton::No << DeleteResult::Declined;
    QTest::newRow("deleted") << "LST00002.PRN"
                             << "file" << MsgButton::Yes << DeleteResult::Deleted;
    QTest::newRow("file gone") << "LST00003.PRN"
                               << "" << MsgButton::Yes << DeleteResult::Failed;
    QTest::newRow("a directory") << "LST00004.PRN"
                                 << "dir" << MsgButton::Yes << DeleteResult::Failed;
}

void TestReportActions::deletingReports()
{
    QFETCH(QString, name);
    QFETCH(QString, make);
    QFETCH(MsgButton, answer);
    QFETCH(DeleteResult, result);
    const QDir root(m_root.path());
    ReportHeader report(root.filePath(name));
    if (make == u"dir")
        QVERIFY(root.mkpath(name));
    else if (make == u"file")
        QVERIFY(QFile(report.fileName).open(QIODevice::WriteOnly));
    Recorder first, second;
    second.show();

    MessageDlgTestHook::setNextAnswers({answer});
    QCOMPARE(deleteReport(&report, events::FromViewer), result);
    const QList<Hook> shown = MessageDlgTestHook::lastMessages();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.at(0).caption, QStringLiteral("Odstranění sestavy"));
    QCOMPARE(shown.at(0).text, QStringLiteral("Opravdu odstranit sestavu ?\r(Soubor na disku "
                                              "bude přesunut do koše.)"));
    QCOMPARE(shown.at(0).kind, MsgKind::Confirmation);

    const bool deleted = result == DeleteResult::Deleted;
    QCOMPARE(QFileInfo::exists(report.fileName), !make.isEmpty() && !deleted);
    QCOMPARE(QFileInfo::exists(root.filePath(QStringLiteral("data/Trash/files/")) + name), deleted);
    QVERIFY(QDir::current().isEmpty());
    QVERIFY(first.origins.isEmpty()); // posted, not sent
    QCoreApplication::sendPostedEvents();
    const QList<int> heard = deleted ? QList<int>{events::FromViewer} : QList<int>{};
    QCOMPARE(first.origins, heard);
    QCOMPARE(second.origins, heard);
    QCOMPARE(deleteReport(nullptr, events::FromViewer), DeleteResult::Failed);
    QCOMPARE(MessageDlgTestHook::lastMessages().size(), 1);
}

void TestReportActions::requeue_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("queued");
    QTest::newRow("archive") << "/srv/Lst/BAKPRN/20240131-120000-LST00001.PRN" << true;
    QTest::newRow("archive, lower case") << "/srv/Lst/bakprn/LST00001.PRN" << true;
    QTest::newRow("spool directory") << "/srv/Lst/LST00001.PRN" << false;
    QTest::newRow("archive further up") << "/srv/BAKPRN/Lst/LST00001.PRN" << false;
    QTest::newRow("no directory") << "LST00001.PRN" << false;
}

void TestReportActions::requeue()
{
    QFETCH(QString, path);
    QFETCH(bool, queued);
    JobState state;
    ReportHeader report(path);
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok, MsgButton::Ok});
    requeueReport(&report, state);
    requeueReport(&report, state); // twice is twice
    requeueReport(nullptr, state);

    const QList<Hook> shown = MessageDlgTestHook::lastMessages();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown.at(1).caption, QStringLiteral("Tisk"));
    QCOMPARE(shown.at(1).kind, queued ? MsgKind::Information : MsgKind::Error);
    QCOMPARE(shown.at(1).text, queued ? QStringLiteral("Sestava byla zařazena do tiskové fronty.")
                                      : QStringLiteral("Nelze určit adresář."));
    QCOMPARE(state.reprintQueue().size(), queued ? 2 : 0);
    for (const ReprintEntry& e : std::as_const(state.reprintQueue()))
        QVERIFY(e.path == path && !e.taken);
    QVERIFY(state.queueLock().tryLock()); // left unlocked
    state.queueLock().unlock();
}

QTEST_MAIN(TestReportActions)
#include "tst_reportactions.moc"
