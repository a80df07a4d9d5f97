// No report is lost or printed twice: the tray program's pieces (controller, main window, print
// worker, error dialog) printing onto a private cupsd, in the ways a report used to leave its
// spool directory unprinted or come back again and again.
#include "core/config/RegistryIni.h"
#include "core/jobs/JobController.h"
#include "core/log/EventLog.h"
#include "core/platform/DirectoryLock.h"
#include "core/platform/FileInfo.h"
#include "gui/main/MainWindow.h"
#include "gui/print/PrintErrorDialog.h"
#include "gui/print/UiJobHost.h"
#include "print/CupsClient.h"
#include "print/CupsPrinterCatalog.h"
#include "print/PrintJournal.h"
#include "print/PrintWorker.h"
#include "support/CupsFixture.h"
#include "support/OtherUser.h"
#include "support/TestHive.h"
#include "support/TestReport.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray report(int number, int lines = 3)
{
    QByteArray text =
        reportHeaderLine({1, "20240131", "0815" + QByteArray::number(10 + number) + "00",
                          "Sestava " + QByteArray::number(number), 60, 1, 60, 0, 1250, 100, 0});
    for (int i = 0; i < lines; ++i)
        text += "Mzdy " + QByteArray::number(number) + "\r\n";
    return text;
}

void write(const QString& path, const QByteArray& content)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

// Answers the print error dialog whenever it is open, and remembers what it said.
class DialogAnswerer : public QObject
{
public:
    enum Answer
    {
        Escape,
        Skip,
        Retry
    };
    Answer answer = Escape;
    QStringList texts;

    DialogAnswerer()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* dialog = qobject_cast<PrintErrorDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            texts << dialog->textLabel()->text().remove(QChar(0x200B));
            if (answer == Skip)
                dialog->ui().skipAction->trigger();
            else if (answer == Retry)
                dialog->ui().retryAction->trigger();
            else
                dialog->reject();
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
};

} // namespace

class TestNoLoss : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void failedJobStaysWhateverTheAnswer();
    void disposalFailureIsShownOnceAndNotReprinted_data();
    void disposalFailureIsShownOnceAndNotReprinted();
    void journalKeepsAKilledCopysJobFromPrintingTwice();
    void oddEntriesHoldNothingBack();
    void namesInALegacyCodePagePrint_data();
    void namesInALegacyCodePagePrint();
    void lockedDirectoryIsLeftToItsOwner();
    void lockTakenAgainInADirectoryMadeAgain();
    void otherUsersLockFileIsNotTrusted();
    void schedulerBackSoonIsWaitedFor();
    void schedulerRestartedMidBatch();
    void removedQueueWithoutDefaultPrintsNowhere(); // removes the queue
    void schedulerGivesWayToStop_data();
    void schedulerGivesWayToStop();
    void schedulerDownAtStart(); // stops the scheduler: last

private:
    // One tick of the controller; waits for the job it started, if any, to end. True when a job
    // ran.
    bool tick();
    int jobs() const { return m_cups.capturedJobs(QStringLiteral("mzdy")).size(); }
    // The ids of the captured jobs by title.
    QMap<QString, QSet<QString>> jobIdsByTitle() const;
    QString spoolFile(const QString& name) const { return m_spool + u'/' + name; }

    CupsFixture m_cups;
    QTemporaryDir m_dir;
    QString m_spool;
    std::unique_ptr<CupsPrinterCatalog> m_printers;
    std::unique_ptr<JobController> m_controller;
    std::unique_ptr<UiJobHost> m_host;
    std::unique_ptr<MainWindow> m_form;
    int m_run = 0;
};

void TestNoLoss::initTestCase()
{
    QVERIFY2(m_cups.start({QStringLiteral("mzdy")}, QStringLiteral("mzdy")),
             qPrintable(m_cups.reason()));
    m_cups.exportToEnvironment();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("config"))));
    productKeys().productKey = QStringLiteral("Tarnyx");
}

void TestNoLoss::init()
{
    m_spool = m_dir.filePath(QStringLiteral("Lst%1").arg(++m_run));
    QVERIFY(QDir().mkpath(m_spool));
    m_printers = std::make_unique<CupsPrinterCatalog>();
    m_controller = std::make_unique<JobController>(QStringList{}, *m_printers);
    m_controller->settings().directories = m_spool;
    m_controller->settings().printer = QStringLiteral("mzdy");
    m_controller->settings().erase = false;
    // The test drives every tick itself.
    m_controller->setWakeOnReports(false);
    m_host = std::make_unique<UiJobHost>(*m_controller);
    m_controller->setWorkerFactory([this](const QString& path) {
        return std::make_unique<PrintWorker>(
            path, m_controller->settings(), m_controller->printerCatalog(), *m_controller, *m_host);
    });
    m_form = std::make_unique<MainWindow>(*m_controller, QStringList{});
    m_form->play();
}

void TestNoLoss::cleanup()
{
    m_form.reset();
    m_controller.reset();
    m_host.reset();
    QFile::remove(PrintJournal::defaultPath());
}

bool TestNoLoss::tick()
{
    // The ticks are the test's: the timer that the error dialog starts again stays off.
    m_controller->tickTimer().stop();
    m_controller->onTick();
    m_controller->tickTimer().stop();
    if (!m_controller->worker())
        return false;
    QDeadlineTimer deadline(30000);
    while (m_controller->worker() && !deadline.hasExpired())
        QTest::qWait(10);
    m_controller->tickTimer().stop();
    // Run requests of the error dialog are posted events.
    QCoreApplication::processEvents();
    return !m_controller->worker();
}

QMap<QString, QSet<QString>> TestNoLoss::jobIdsByTitle() const
{
    QMap<QString, QSet<QString>> ids;
    for (const QString& job : m_cups.capturedJobs(QStringLiteral("mzdy"))) {
        const QHash<QString, QString> a = CupsFixture::jobAttributes(job);
        ids[a.value(QStringLiteral("title"))].insert(a.value(QStringLiteral("job-id")));
    }
    return ids;
}

void TestNoLoss::failedJobStaysWhateverTheAnswer()
{
    QProcess reject;
    reject.setProcessEnvironment(m_cups.environment());
    reject.start(QStringLiteral("/usr/sbin/cupsreject"), {QStringLiteral("mzdy")});
    QVERIFY(reject.waitForFinished() && reject.exitCode() == 0);
    const QString path = spoolFile(QStringLiteral("LST00001.PRN"));
    write(path, report(1));
    DialogAnswerer dialog;
    QVERIFY(tick());
    QCOMPARE(dialog.texts.size(), 1);
    QVERIFY2(dialog.texts.first().contains(QStringLiteral("Tiskárna mzdy nepřijímá úlohy.")),
             qPrintable(dialog.texts.first()));
    QVERIFY(m_controller->isPaused()); // Esc leaves printing paused
    QVERIFY(QFile::exists(path));

    dialog.answer = DialogAnswerer::Skip;
    m_form->play();
    QVERIFY(tick());
    QCOMPARE(dialog.texts.size(), 2);
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFileInfo::exists(m_spool + QStringLiteral("/BAKPRN")));
    QVERIFY(!tick()); // skipped until it changes

    QProcess accept;
    accept.setProcessEnvironment(m_cups.environment());
    accept.start(QStringLiteral("/usr/sbin/cupsaccept"), {QStringLiteral("mzdy")});
    QVERIFY(accept.waitForFinished() && accept.exitCode() == 0);
}

void TestNoLoss::disposalFailureIsShownOnceAndNotReprinted_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("archive folder is a file") << "file";
    QTest::newRow("archived name taken by a folder") << "folder";
    QTest::newRow("spool folder cannot be changed, Erase on") << "immutable";
}

void TestNoLoss::disposalFailureIsShownOnceAndNotReprinted()
{
    QFETCH(QString, how);
    const QString path = spoolFile(QStringLiteral("LST00001.PRN"));
    write(path, report(1));
    const QString archive = m_spool + QStringLiteral("/BAKPRN");
    int dirFd = -1;
    if (how == u"file") {
        write(archive, "not a folder");
    } else if (how == u"folder") {
        QVERIFY(QDir().mkpath(archive + QStringLiteral("/20240131-081511-LST00001.PRN/x")));
    } else {
        m_controller->settings().erase = true;
        dirFd = ::open(QFile::encodeName(m_spool).constData(), O_RDONLY | O_DIRECTORY);
        int flags = 0;
        if (getuid() != 0)
            QVERIFY(QFile::setPermissions(m_spool, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        else if (::ioctl(dirFd, FS_IOC_GETFLAGS, &flags) != 0 ||
                 (flags |= FS_IMMUTABLE_FL, ::ioctl(dirFd, FS_IOC_SETFLAGS, &flags) != 0)) {
            ::close(dirFd);
            QSKIP(
                "as root, only an immutable folder refuses a deletion; this file system has none");
        }
    }
    auto restore = qScopeGuard([&] {
        if (dirFd < 0)
            return;
        int flags = 0;
        if (::ioctl(dirFd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
            flags &= ~FS_IMMUTABLE_FL;
            ::ioctl(dirFd, FS_IOC_SETFLAGS, &flags);
        }
        ::close(dirFd);
        QFile::setPermissions(m_spool, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner);
    });

    DialogAnswerer dialog;
    const int before = jobs();
    QVERIFY(tick());
    QTRY_COMPARE(jobs(), before + 1); // the queue stores the job a moment after accepting it
    QCOMPARE(dialog.texts.size(), 1);
    QVERIFY2(dialog.texts.first().startsWith(
                 (how == u"immutable" ? QStringLiteral("Sestavu %1 se nepodařilo odstranit: ")
                                      : QStringLiteral("Sestavu %1 se nepodařilo archivovat: "))
                     .arg(path)),
             qPrintable(dialog.texts.first()));
    QVERIFY(QFile::exists(path));
    // Printing goes on, and the report is neither printed again nor asked about again.
    m_form->play();
    for (int i = 0; i < 5; ++i)
        QVERIFY(!tick());
    QCOMPARE(jobs(), before + 1);
    QCOMPARE(dialog.texts.size(), 1);
    QVERIFY(QFile::exists(path));
}

void TestNoLoss::journalKeepsAKilledCopysJobFromPrintingTwice()
{
    const PrintJournal journal(PrintJournal::defaultPath());
    const qint64 submitted = QDateTime::currentSecsSinceEpoch();
    auto enter = [&](const QString& path, int number, int jobId) {
        write(path, report(number));
        JournalEntry e;
        e.path = path;
        e.report = *platform::identityOf(path);
        e.queue = QStringLiteral("mzdy");
        e.title = QStringLiteral("Sestava %1").arg(number);
        e.submitted = submitted;
        e.jobId = jobId;
        QVERIFY(journal.record(e));
    };
    // A document that reached the scheduler, as a killed copy left it.
    const QString document = m_dir.filePath(QStringLiteral("document.pdf"));
    write(document, "%PDF-1.4\n");
    QString error;
    const int accepted = cupsclient::printFile(QStringLiteral("mzdy"), document,
                                               QStringLiteral("Sestava 1"), {}, error);
    QVERIFY2(accepted > 0, qPrintable(error));
    const int before = jobs() + 1;
    QTRY_COMPARE(jobs(), before);

    // Killed after the scheduler took the job (with or without its id noted): not printed
    // again, archived now.
    for (int jobId : {accepted, 0}) {
        const QString path = spoolFile(QStringLiteral("LST00001.PRN"));
        enter(path, 1, jobId);
        QVERIFY(tick());
        QCOMPARE(jobs(), before);
        QVERIFY(!QFile::exists(path));
        QVERIFY(!journal.find(path));
        QDir(m_spool + QStringLiteral("/BAKPRN")).removeRecursively();
    }
    // A job the scheduler does not know, or an entry of an older report at the same path: printed.
    enter(spoolFile(QStringLiteral("LST00002.PRN")), 2, 999999);
    enter(spoolFile(QStringLiteral("LST00003.PRN")), 3, accepted);
    write(spoolFile(QStringLiteral("LST00003.PRN")), report(3, 4));
    QVERIFY(tick());
    QVERIFY(tick());
    QTRY_COMPARE(jobs(), before + 2);
    QVERIFY(journal.entries().isEmpty());
}

void TestNoLoss::oddEntriesHoldNothingBack()
{
    QVERIFY(QDir().mkpath(spoolFile(QStringLiteral("LST00001.PRN"))));
    QVERIFY(::mkfifo(QFile::encodeName(spoolFile(QStringLiteral("LST00002.PRN"))).constData(),
                     0600) == 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), spoolFile(QStringLiteral("LST00003.PRN"))));
    const QString target = m_dir.filePath(QStringLiteral("elsewhere.PRN"));
    write(target, report(9));
    QVERIFY(QFile::link(target, spoolFile(QStringLiteral("LST00004.PRN"))));
    write(spoolFile(QStringLiteral("LST00005.PRN")), report(5));
    const int before = jobs();
    QVERIFY(tick());
    QVERIFY(!tick());
    QTRY_COMPARE(jobs(), before + 1);
    QVERIFY(!QFileInfo::exists(spoolFile(QStringLiteral("LST00005.PRN"))));
    for (const char* name : {"LST00001.PRN", "LST00002.PRN", "LST00003.PRN", "LST00004.PRN"})
        QVERIFY(QFileInfo(spoolFile(QString::fromLatin1(name))).isSymLink() ||
                QFileInfo::exists(spoolFile(QString::fromLatin1(name))));
    QVERIFY(QFile::exists(target)); // what a link points to is never taken
}

void TestNoLoss::namesInALegacyCodePagePrint_data()
{
    QTest::addColumn<bool>("erase");
    QTest::newRow("archived") << false;
    QTest::newRow("deleted") << true;
}

// Wine under a non-UTF-8 locale names files in a legacy code page: such a report prints once and
// leaves the spool directory like any other.
void TestNoLoss::namesInALegacyCodePagePrint()
{
    QFETCH(bool, erase);
    m_controller->settings().erase = erase;
    const QByteArray spool = QFile::encodeName(m_spool);
    const QByteArray name = "LST0\xff\xe8"
                            "01.PRN";
    const QByteArray path = spool + '/' + name;
    const QByteArray archived = spool + "/BAKPRN/20240131-081517-" + name;
    {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        const QByteArray text = report(7);
        QCOMPARE(::write(fd, text.constData(), size_t(text.size())), text.size());
        ::close(fd);
    }
    const int before = jobs();
    QVERIFY(tick());
    QCOMPARE(m_controller->workerError(), QString());
    QTRY_COMPARE(jobs(), before + 1);
    QVERIFY(!tick()); // printed once
    struct stat st;
    QCOMPARE(::lstat(path.constData(), &st), -1);
    QCOMPARE(::lstat(archived.constData(), &st) == 0, !erase);
    QVERIFY(PrintJournal(PrintJournal::defaultPath()).entries().isEmpty());
}

void TestNoLoss::lockedDirectoryIsLeftToItsOwner()
{
    write(spoolFile(QStringLiteral("LST00001.PRN")), report(1));
    auto other = std::make_unique<platform::DirectoryLock>(m_spool);
    QCOMPARE(other->tryLock(), platform::DirectoryLock::State::Held);
    QVERIFY(!tick());
    QVERIFY(m_form->ui().statusText->text().contains(m_spool));
    other.reset();
    QVERIFY(tick());
    QVERIFY(m_form->ui().statusText->text().isEmpty());
}

// The folder removed and made again while the program runs: its reports are still served by one
// copy only, whichever takes the new folder's lock first.
void TestNoLoss::lockTakenAgainInADirectoryMadeAgain()
{
    write(spoolFile(QStringLiteral("LST00001.PRN")), report(1));
    QVERIFY(tick());
    const auto remake = [this] {
        QVERIFY(QDir(m_spool).removeRecursively());
        QVERIFY(QDir().mkpath(m_spool));
    };
    remake();
    write(spoolFile(QStringLiteral("LST00002.PRN")), report(2));
    QVERIFY(tick());
    QVERIFY(!QFile::exists(spoolFile(QStringLiteral("LST00002.PRN"))));
    platform::DirectoryLock other(m_spool);
    QCOMPARE(other.tryLock(), platform::DirectoryLock::State::HeldByOther);

    // This time the other copy is first: the program leaves the new folder to it.
    remake();
    platform::DirectoryLock first(m_spool);
    QCOMPARE(first.tryLock(), platform::DirectoryLock::State::Held);
    write(spoolFile(QStringLiteral("LST00003.PRN")), report(3));
    QVERIFY(!tick());
    QVERIFY(QFile::exists(spoolFile(QStringLiteral("LST00003.PRN"))));
}

// Only those who serve the folder (its owner, and its group where the group may write it) can open
// its lock file. One that another user put in its place is not trusted: the program removes it
// and says so in the event log, prints nothing from the folder that turn, and takes a lock file of
// its own on the next.
void TestNoLoss::otherUsersLockFileIsNotTrusted()
{
    OTHER_USER_OR_SKIP();
    appLog().setActive(true);
    const auto quiet = qScopeGuard([] {
        appLog().setActive(false);
        appLog().clearEntries();
    });
    OtherUser::letThrough(m_spool);
    const QString lock = platform::DirectoryLock::lockFilePath(m_spool);
    QVERIFY(!tick()); // makes the lock file
    QVERIFY(OtherUser::shell(QStringLiteral("{ echo x >> '%1'; } 2>/dev/null").arg(lock)) != 0);

    QCOMPARE(::chmod(QFile::encodeName(m_spool).constData(), 0777), 0);
    QCOMPARE(OtherUser::shell(QStringLiteral("rm -f '%1' && : > '%1' && chmod 666 '%1'").arg(lock)),
             0);
    // A title of its own: jobs of earlier tests may still be arriving at the queue.
    write(spoolFile(QStringLiteral("LST00001.PRN")), report(41));
    QVERIFY(!tick());
    QVERIFY(appLog().records().constLast().description.contains(QStringLiteral("cizí zámek")));
    QVERIFY(tick());
    QTRY_COMPARE(jobIdsByTitle().value(QStringLiteral("Sestava 41")).size(), 1);
    QVERIFY(!tick());
    QCOMPARE(QFileInfo(lock).ownerId(), ::geteuid());

    // A folder of a group: its members can open the lock file, so their copies exclude this one.
    QCOMPARE(::chown(QFile::encodeName(m_spool).constData(), 0, OtherUser::kGid), 0);
    QCOMPARE(::chmod(QFile::encodeName(m_spool).constData(), 02770), 0);
    QVERIFY(QFile::remove(lock));
    QVERIFY(!tick());
    QCOMPARE(QFileInfo(lock).groupId(), OtherUser::kGid);
    QCOMPARE(OtherUser::shell(QStringLiteral(": >> '%1'").arg(lock)), 0);
}

void TestNoLoss::removedQueueWithoutDefaultPrintsNowhere()
{
    auto admin = [this](const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(m_cups.environment());
        p.start(QStringLiteral("/usr/sbin/lpadmin"), args);
        return p.waitForFinished() && p.exitCode() == 0;
    };
    // Another queue remains; the configured one, the default, is gone.
    QVERIFY(admin({QStringLiteral("-p"), QStringLiteral("kancelar"), QStringLiteral("-E"),
                   QStringLiteral("-v"), QStringLiteral("capture:/nonexistent")}));
    QVERIFY(admin({QStringLiteral("-x"), QStringLiteral("mzdy")}));
    write(spoolFile(QStringLiteral("LST00001.PRN")), report(1));
    DialogAnswerer dialog;
    QVERIFY(tick());
    QCOMPARE(dialog.texts.size(), 1);
    QVERIFY2(dialog.texts.first().contains(QStringLiteral(
                 "Tiskárna mzdy není nainstalována a žádná tiskárna není nastavena jako výchozí.")),
             qPrintable(dialog.texts.first()));
    QVERIFY(QFile::exists(spoolFile(QStringLiteral("LST00001.PRN"))));
}

void TestNoLoss::schedulerGivesWayToStop_data()
{
    QTest::addColumn<bool>("away");
    QTest::newRow("hung") << false;
    QTest::newRow("away, waited for") << true;
}

void TestNoLoss::schedulerGivesWayToStop()
{
    QFETCH(bool, away);
    write(spoolFile(QStringLiteral("LST00001.PRN")), report(1));
    if (away)
        m_cups.stop();
    else
        QVERIFY(m_cups.hang());
    auto resume = qScopeGuard([this, away] {
        if (away)
            QVERIFY2(m_cups.restart(), qPrintable(m_cups.reason()));
        else
            m_cups.resume();
    });
    DialogAnswerer dialog;
    m_controller->onTick();
    QVERIFY(m_controller->worker());
    QTest::qWait(500); // the job now waits for the scheduler
    m_form->ui().stopAction->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->worker(), 10000);
    QVERIFY(dialog.texts.isEmpty()); // stopped, not failed
    QVERIFY(QFile::exists(spoolFile(QStringLiteral("LST00001.PRN"))));
}

// A scheduler that is away for a moment as a job starts (it restarts) is waited for: the report
// prints without an error for the user to answer.
void TestNoLoss::schedulerBackSoonIsWaitedFor()
{
    m_cups.stop();
    write(spoolFile(QStringLiteral("LST00001.PRN")), report(21));
    DialogAnswerer dialog;
    m_controller->onTick();
    QVERIFY(m_controller->worker());
    QTest::qWait(1500);
    QVERIFY2(m_cups.restart(), qPrintable(m_cups.reason()));
    QTRY_VERIFY_WITH_TIMEOUT(!m_controller->worker(), 30000);
    QVERIFY2(dialog.texts.isEmpty(), qPrintable(dialog.texts.join(u'\n')));
    QTRY_COMPARE(jobIdsByTitle().value(QStringLiteral("Sestava 21")).size(), 1);
    QVERIFY(!QFile::exists(spoolFile(QStringLiteral("LST00001.PRN"))));
}

// The scheduler restarted (an upgrade, an administrator) while a batch of reports prints: the
// jobs wait for it, and one it broke off anyway fails with the text for a server that does not
// answer, noted in the event log, and is printed once when retried; no report is printed twice
// or left behind.
void TestNoLoss::schedulerRestartedMidBatch()
{
    QStringList titles;
    for (int i = 1; i <= 6; ++i) {
        write(spoolFile(QStringLiteral("LST0000%1.PRN").arg(i)), report(30 + i));
        titles << QStringLiteral("Sestava %1").arg(30 + i);
    }
    appLog().clearEntries();
    appLog().setActive(true);
    auto quiet = qScopeGuard([] { appLog().setActive(false); });
    DialogAnswerer dialog;
    dialog.answer = DialogAnswerer::Retry;
    m_controller->tickTimer().setInterval(100);
    m_controller->tickTimer().start();

    QTRY_VERIFY_WITH_TIMEOUT(jobIdsByTitle().contains(titles.first()), 30000);
    QVERIFY2(m_cups.restart(2000), qPrintable(m_cups.reason()));
    const auto spoolEmpty = [this] {
        return QDir(m_spool).entryList({QStringLiteral("LST*.PRN")}, QDir::Files).isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(spoolEmpty(), 90000);
    m_controller->tickTimer().stop();
    QTRY_VERIFY(!m_controller->worker());

    // Each report went to the scheduler once: one job per title (the scheduler itself may run a
    // job again that the restart broke off).
    const auto printed = [&] {
        const QMap<QString, QSet<QString>> jobs = jobIdsByTitle();
        return std::count_if(titles.cbegin(), titles.cend(),
                             [&](const QString& title) { return jobs.contains(title); });
    };
    QTRY_COMPARE_WITH_TIMEOUT(printed(), titles.size(), 20000);
    const QMap<QString, QSet<QString>> jobs = jobIdsByTitle();
    for (const QString& title : std::as_const(titles))
        QVERIFY2(jobs.value(title).size() == 1, qPrintable(title));
    for (const QString& text : std::as_const(dialog.texts)) {
        QVERIFY2(text.contains(QStringLiteral("Tiskový server neodpovídá.")), qPrintable(text));
        QVERIFY2(std::any_of(appLog().records().cbegin(), appLog().records().cend(),
                             [&](const EventLogRecord& r) {
                                 return !r.description.isEmpty() && text.contains(r.description);
                             }),
                 qPrintable(text));
    }
}

void TestNoLoss::schedulerDownAtStart()
{
    // The job waits for the scheduler to come back before it gives up: a tenth of that here.
    qputenv("TARNYX_TEST_TIME_PERCENT", "10");
    auto fullWaits = qScopeGuard([] { qunsetenv("TARNYX_TEST_TIME_PERCENT"); });
    write(spoolFile(QStringLiteral("LST00001.PRN")), report(1));
    m_cups.stop();
    // The printer named in the settings keeps its name while nobody can check it.
    writeSettingsHive(m_dir.filePath(QStringLiteral("config/Morvane/registry.reg")),
                      "\"Printer\"=\"mzdy\"\r\n\"Erase\"=dword:00000001\r\n");
    QVERIFY(m_controller->settings().load(*m_printers));
    QCOMPARE(m_controller->settings().printer, QStringLiteral("mzdy"));
    QCOMPARE(m_printers->currentPrinter(), QStringLiteral("mzdy"));
    m_controller->settings().directories = m_spool;
    appLog().clearEntries();
    appLog().setActive(true);
    auto quiet = qScopeGuard([] { appLog().setActive(false); });
    DialogAnswerer dialog;
    QVERIFY(tick());
    QCOMPARE(dialog.texts.size(), 1);
    QVERIFY2(dialog.texts.first().contains(QStringLiteral("Tiskový server neodpovídá.")),
             qPrintable(dialog.texts.first()));
    QVERIFY(QFile::exists(spoolFile(QStringLiteral("LST00001.PRN"))));
    // An unattended program's log tells why the report waits.
    QCOMPARE(appLog().records().size(), 1);
    QVERIFY(dialog.texts.first().contains(appLog().records().first().description));
}

QTEST_MAIN(TestNoLoss)
#include "tst_noloss.moc"
