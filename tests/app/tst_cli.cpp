#include <QTest>

class Tst : public QObject
{
    Q_OBJECT
private slots:
    void placeholder() {}
};

QTEST_GUILESS_MAIN(Tst)
#include "tst_cli.moc"
