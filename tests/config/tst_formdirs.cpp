#include "config/AppSettings.h"
#include "config/UnitDirs.h"

#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QUrl>

namespace {

QStringList entries(const TFormDirs& form)
{
    QStringList list;
    for (int i = 0; i < form.ListDir->count(); ++i)
        list << form.ListDir->item(i)->text();
    return list;
}

void typeInto(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// Drops `urls` on `target` the way the window system delivers a drag from the file manager.
bool drop(QWidget* target, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropEvent(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropEvent);
    return dropEvent.isAccepted();
}

} // namespace

class TestFormDirs : public QObject
{
    Q_OBJECT
private slots:
    void listTextRoundTrip();
    void addingFollowsTheExactText();
    void replacingAndRemoving();
    void droppedFolders();
    void folderBrowser();

private:
    TAppSettings m_settings;
};

void TestFormDirs::listTextRoundTrip()
{
    TFormDirs form(m_settings);
    form.SetList(QStringLiteral("/a/;;  /b/  ;"));
    QCOMPARE(entries(form), (QStringList{QStringLiteral("/a/"), QStringLiteral("/b/")}));
    QCOMPARE(form.GetList(), QStringLiteral("/a/;/b/;"));

    // A quoted entry may hold ";" and a doubled quote; duplicates stay.
    TFormDirs quoted(m_settings);
    quoted.SetList(QStringLiteral("\"/x;y/\";\"/q\"\"uote/\"; /a/;/a/;\"unclosed;still"));
    QCOMPARE(entries(quoted), (QStringList{QStringLiteral("/x;y/"), QStringLiteral("/q\"uote/"),
                                           QStringLiteral("/a/"), QStringLiteral("/a/"),
                                           QStringLiteral("unclosed;still")}));

    TFormDirs empty(m_settings);
    empty.SetList(QStringLiteral(" ; ;"));
    QCOMPARE(empty.GetList(), QString());
}

void TestFormDirs::addingFollowsTheExactText()
{
    TFormDirs form(m_settings);
    form.SetList(QStringLiteral("/srv/lst/"));
    form.show();
    // The first showing selects the first entry and shows it in the field.
    QCOMPARE(form.CurrentIndex(), 0);
    QCOMPARE(form.EditDir->text(), QStringLiteral("/srv/lst/"));
    QVERIFY(!form.BtnAdd->isEnabled());
    QVERIFY(!form.BtnReplace->isEnabled());

    // The text as typed differs, so Add is offered, but the normalised text is already there.
    typeInto(form.EditDir, QStringLiteral("  /srv/lst "));
    QVERIFY(form.BtnAdd->isEnabled());
    QTest::mouseClick(form.BtnAdd, Qt::LeftButton);
    QCOMPARE(entries(form), QStringList{QStringLiteral("/srv/lst/")});
    QCOMPARE(form.EditDir->text(), QStringLiteral("/srv/lst/"));

    // Letter case counts.
    typeInto(form.EditDir, QStringLiteral("/SRV/LST"));
    QTest::mouseClick(form.BtnAdd, Qt::LeftButton);
    QCOMPARE(entries(form),
             (QStringList{QStringLiteral("/srv/lst/"), QStringLiteral("/SRV/LST/")}));
    QCOMPARE(form.CurrentIndex(), 1);
    QCOMPARE(form.EditDir->text(), QStringLiteral("/SRV/LST/"));

    // Blanks alone become the root directory, as any typed entry gets its trailing "/".
    form.ListDir->clearSelection();
    QCOMPARE(form.CurrentIndex(), -1);
    QCOMPARE(form.EditDir->text(), QString());
    QVERIFY(!form.BtnAdd->isEnabled());
    QTest::keyClicks(form.EditDir, QStringLiteral("   "));
    QTest::mouseClick(form.BtnAdd, Qt::LeftButton);
    QCOMPARE(entries(form).last(), QStringLiteral("/"));
}

void TestFormDirs::replacingAndRemoving()
{
    TFormDirs form(m_settings);
    form.SetList(QStringLiteral("/a/;/b/;/c/"));
    form.show();

    form.ListDir->setCurrentRow(1);
    QCOMPARE(form.EditDir->text(), QStringLiteral("/b/"));
    typeInto(form.EditDir, QStringLiteral("/bb"));
    QVERIFY(form.BtnReplace->isEnabled());
    QTest::mouseClick(form.BtnReplace, Qt::LeftButton);
    QCOMPARE(entries(form),
             (QStringList{QStringLiteral("/a/"), QStringLiteral("/bb/"), QStringLiteral("/c/")}));
    QCOMPARE(form.CurrentIndex(), 1);
    // Replacing by a text that is already an entry does nothing.
    typeInto(form.EditDir, QStringLiteral("/a/"));
    QTest::mouseClick(form.BtnReplace, Qt::LeftButton);
    QCOMPARE(form.ListDir->item(1)->text(), QStringLiteral("/bb/"));

    // Removing the last entry selects the new last one.
    form.ListDir->setCurrentRow(2);
    QTest::mouseClick(form.BtnDel, Qt::LeftButton);
    QCOMPARE(entries(form), (QStringList{QStringLiteral("/a/"), QStringLiteral("/bb/")}));
    QCOMPARE(form.CurrentIndex(), 1);
    QCOMPARE(form.EditDir->text(), QStringLiteral("/bb/"));
    // Removing from the front keeps the index, now on the next entry.
    form.ListDir->setCurrentRow(0);
    QTest::mouseClick(form.BtnDel, Qt::LeftButton);
    QCOMPARE(form.CurrentIndex(), 0);
    QCOMPARE(form.EditDir->text(), QStringLiteral("/bb/"));
    // Removing the only entry empties the field and leaves nothing to replace or remove.
    QTest::mouseClick(form.BtnDel, Qt::LeftButton);
    QCOMPARE(form.ListDir->count(), 0);
    QCOMPARE(form.CurrentIndex(), -1);
    QCOMPARE(form.EditDir->text(), QString());
    QVERIFY(!form.BtnDel->isEnabled());
    QVERIFY(!form.BtnReplace->isEnabled());
    QCOMPARE(form.GetList(), QString());
}

void TestFormDirs::droppedFolders()
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("Spool"));
    QVERIFY(QDir().mkdir(folder));
    const QString file = tmp.filePath(QStringLiteral("LST00001.PRN"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();

    TFormDirs form(m_settings);
    form.show();
    QVERIFY(drop(form.GroupDir, {QUrl::fromLocalFile(folder), QUrl::fromLocalFile(file)}));
    QCOMPARE(form.EditDir->text(), folder + u'/');
    QCOMPARE(form.ListDir->count(), 0); // the user still presses Add

    form.EditDir->clear();
    drop(form.GroupDir, {QUrl::fromLocalFile(file), QUrl::fromLocalFile(folder)});
    QCOMPARE(form.EditDir->text(), QString());
    drop(form.GroupDir, {QUrl(QStringLiteral("sftp://host/srv/lst"))});
    QCOMPARE(form.EditDir->text(), QString());
    drop(form.GroupDir, {QUrl::fromLocalFile(tmp.filePath(QStringLiteral("gone")))});
    QCOMPARE(form.EditDir->text(), QString());

    // Text dragged without file names is not taken.
    QMimeData text;
    text.setText(folder);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.GroupDir, &enter);
    QVERIFY(!enter.isAccepted());
    // The edit field leaves drops to its group.
    QVERIFY(!form.EditDir->acceptDrops());
}

void TestFormDirs::folderBrowser()
{
    QTemporaryDir tmp;
    TFormDirs form(m_settings);
    QString offered = QStringLiteral("unset");
    QString answer;
    form.browseFolder = [&](QWidget*, const QString& start) {
        offered = start;
        return answer;
    };
    form.show();

    typeInto(form.EditDir, QStringLiteral(" ") + tmp.path() + QStringLiteral(" "));
    answer = tmp.path() + QStringLiteral("/picked");
    QTest::mouseClick(form.btnDir, Qt::LeftButton);
    QCOMPARE(offered, tmp.path()); // an existing folder is preselected
    QCOMPARE(form.EditDir->text(), answer);

    // A folder that does not exist is not offered; cancelling changes nothing.
    answer.clear();
    QTest::mouseClick(form.btnDir, Qt::LeftButton);
    QCOMPARE(offered, QString());
    QCOMPARE(form.EditDir->text(), tmp.path() + QStringLiteral("/picked"));
}

QTEST_MAIN(TestFormDirs)
#include "tst_formdirs.moc"
