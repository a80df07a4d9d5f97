#include "core/platform/ThreadPriority.h"

#include <QTest>
#include <QThread>

#include <memory>

class TestThreadPriority : public QObject
{
    Q_OBJECT
private slots:
    // A worker yields to the main thread by a real niceness, and only it: the main thread keeps
    // its own.
    void workerYieldsToTheMainThread()
    {
        const int main = platform::threadNiceness();
        int worker = -100;
        bool set = false;
        std::unique_ptr<QThread> t(QThread::create([&] {
            set = platform::setThreadNiceness(5);
            worker = platform::threadNiceness();
        }));
        t->start();
        QVERIFY(t->wait(10000));
        QVERIFY(set);
        QCOMPARE(worker, std::min(19, main + 5));
        QCOMPARE(platform::threadNiceness(), main);
    }
};

QTEST_GUILESS_MAIN(TestThreadPriority)
#include "tst_threadpriority.moc"
