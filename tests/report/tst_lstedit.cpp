#include "report/UnitLstEdit.h"

#include <QTest>

class TestLstEdit : public QObject
{
    Q_OBJECT
};

QTEST_MAIN(TestLstEdit)
#include "tst_lstedit.moc"
