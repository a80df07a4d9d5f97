#include "core/config/AppSettings.h"
#include "gui/common/MessageDlg.h"
#include "gui/config/SpoolDirsDialog.h"

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

QStringList entries(const SpoolDirsDialog& form)
{
    QStringList list;
    for (int i = 0; i < form.ui().dirList->count(); ++i)
        list << form.ui().dirList->item(i)->text();
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

class TestSpoolDirsDialog : public QObject
{
    Q_OBJECT
private slots:
    void listTextRoundTrip();
    void addingFollowsTheExactText();
    void replacingAndRemoving();
    void droppedFolders();
    void folderBrowser();
    void unavailableDirectoriesAreKeptAndMarked();

private:
    AppSettings m_settings;
};

void TestSpoolDirsDialog::listTextRoundTrip()
{
    SpoolDirsDialog form(m_settings);
    form.setList(QStringLiteral("/a/;;  /b/  ;"));
    QCOMPARE(entries(form), (QStringList{QStringLiteral("/a/"), QStringLiteral("/b/")}));
    QCOMPARE(form.list(), QStringLiteral("/a/;/b/;"));

    // A quoted entry may hold ";" and a doubled quote; duplicates stay.
    SpoolDirsDialog quoted(m_settings);
    quoted.setList(QStringLiteral("\"/x;y/\";\"/q\"\"uote/\"; /a/;/a/;\"unclosed;still"));
    QCOMPARE(entries(quoted), (QStringList{QStringLiteral("/x;y/"), QStringLiteral("/q\"uote/"),
                                           QStringLiteral("/a/"), QStringLiteral("/a/"),
                                           QStringLiteral("unclosed;still")}));

    SpoolDirsDialog empty(m_settings);
    empty.setList(QStringLiteral(" ; ;"));
    QCOMPARE(empty.list(), QString());
}

void TestSpoolDirsDialog::addingFollowsTheExactText()
{
    SpoolDirsDialog form(m_settings);
    form.setList(QStringLiteral("/srv/lst/"));
    form.show();
    // The first showing selects the first entry and shows it in the field.
    QCOMPARE(form.currentIndex(), 0);
    QCOMPARE(form.ui().dirEdit->text(), QStringLiteral("/srv/lst/"));
    QVERIFY(!form.ui().addButton->isEnabled());
    QVERIFY(!form.ui().replaceButton->isEnabled());

    // The text as typed differs, so Add is offered, but the normalised text is already there.
    typeInto(form.ui().dirEdit, QStringLiteral("  /srv/lst "));
    QVERIFY(form.ui().addButton->isEnabled());
    QTest::mouseClick(form.ui().addButton, Qt::LeftButton);
    QCOMPARE(entries(form), QStringList{QStringLiteral("/srv/lst/")});
    QCOMPARE(form.ui().dirEdit->text(), QStringLiteral("/srv/lst/"));

    // Letter case counts.
    typeInto(form.ui().dirEdit, QStringLiteral("/SRV/LST"));
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok}); // it does not exist
    QTest::mouseClick(form.ui().addButton, Qt::LeftButton);
    QCOMPARE(entries(form),
             (QStringList{QStringLiteral("/srv/lst/"), QStringLiteral("/SRV/LST/")}));
    QCOMPARE(form.currentIndex(), 1);
    QCOMPARE(form.ui().dirEdit->text(), QStringLiteral("/SRV/LST/"));

    // Blanks alone become the root directory, as any typed entry gets its trailing "/".
    form.ui().dirList->clearSelection();
    QCOMPARE(form.currentIndex(), -1);
    QCOMPARE(form.ui().dirEdit->text(), QString());
    QVERIFY(!form.ui().addButton->isEnabled());
    QTest::keyClicks(form.ui().dirEdit, QStringLiteral("   "));
    QTest::mouseClick(form.ui().addButton, Qt::LeftButton);
    QCOMPARE(entries(form).last(), QStringLiteral("/"));
}

void TestSpoolDirsDialog::replacingAndRemoving()
{
    SpoolDirsDialog form(m_settings);
    form.setList(QStringLiteral("/a/;/b/;/c/"));
    form.show();

    form.ui().dirList->setCurrentRow(1);
    QCOMPARE(form.ui().dirEdit->text(), QStringLiteral("/b/"));
    typeInto(form.ui().dirEdit, QStringLiteral("/bb"));
    QVERIFY(form.ui().replaceButton->isEnabled());
    MessageDlgTestHook::setNextAnswers({MsgButton::Ok}); // it does not exist
    QTest::mouseClick(form.ui().replaceButton, Qt::LeftButton);
    QCOMPARE(entries(form),
             (QStringList{QStringLiteral("/a/"), QStringLiteral("/bb/"), QStringLiteral("/c/")}));
    QCOMPARE(form.currentIndex(), 1);
    // Replacing by a text that is already an entry does nothing.
    typeInto(form.ui().dirEdit, QStringLiteral("/a/"));
    QTest::mouseClick(form.ui().replaceButton, Qt::LeftButton);
    QCOMPARE(form.ui().dirList->item(1)->text(), QStringLiteral("/bb/"));

    // Removing the last entry selects the new last one.
    form.ui().dirList->setCurrentRow(2);
    QTest::mouseClick(form.ui().deleteButton, Qt::LeftButton);
    QCOMPARE(entries(form), (QStringList{QStringLiteral("/a/"), QStringLiteral("/bb/")}));
    QCOMPARE(form.currentIndex(), 1);
    QCOMPARE(form.ui().dirEdit->text(), QStringLiteral("/bb/"));
    // Removing from the front keeps the index, now on the next entry.
    form.ui().dirList->setCurrentRow(0);
    QTest::mouseClick(form.ui().deleteButton, Qt::LeftButton);
    QCOMPARE(form.currentIndex(), 0);
    QCOMPARE(form.ui().dirEdit->text(), QStringLiteral("/bb/"));
    // Removing the only entry empties the field and leaves nothing to replace or remove.
    QTest::mouseClick(form.ui().deleteButton, Qt::LeftButton);
    QCOMPARE(form.ui().dirList->count(), 0);
    QCOMPARE(form.currentIndex(), -1);
    QCOMPARE(form.ui().dirEdit->text(), QString());
    QVERIFY(!form.ui().deleteButton->isEnabled());
    QVERIFY(!form.ui().replaceButton->isEnabled());
    QCOMPARE(form.list(), QString());
}

void TestSpoolDirsDialog::droppedFolders()
{
    QTemporaryDir tmp;
    const QString folder = tmp.filePath(QStringLiteral("Spool"));
    QVERIFY(QDir().mkdir(folder));
    const QString file = tmp.filePath(QStringLiteral("LST00001.PRN"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();

    SpoolDirsDialog form(m_settings);
    form.show();
    QVERIFY(drop(form.ui().dirGroup, {QUrl::fromLocalFile(folder), QUrl::fromLocalFile(file)}));
    QCOMPARE(form.ui().dirEdit->text(), folder + u'/');
    QCOMPARE(form.ui().dirList->count(), 0); // the user still presses Add

    form.ui().dirEdit->clear();
    drop(form.ui().dirGroup, {QUrl::fromLocalFile(file), QUrl::fromLocalFile(folder)});
    QCOMPARE(form.ui().dirEdit->text(), QString());
    drop(form.ui().dirGroup, {QUrl(QStringLiteral("sftp://host/srv/lst"))});
    QCOMPARE(form.ui().dirEdit->text(), QString());
    drop(form.ui().dirGroup, {QUrl::fromLocalFile(tmp.filePath(QStringLiteral("gone")))});
    QCOMPARE(form.ui().dirEdit->text(), QString());

    // Text dragged without file names is not taken.
    QMimeData text;
    text.setText(folder);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form.ui().dirGroup, &enter);
    QVERIFY(!enter.isAccepted());
    // The edit field leaves drops to its group.
    QVERIFY(!form.ui().dirEdit->acceptDrops());
}

void TestSpoolDirsDialog::folderBrowser()
{
    QTemporaryDir tmp;
    SpoolDirsDialog form(m_settings);
    QString offered = QStringLiteral("unset");
    QString answer;
    form.setFolderChooser([&](QWidget*, const QString& start) {
        offered = start;
        return answer;
    });
    form.show();

    typeInto(form.ui().dirEdit, QStringLiteral(" ") + tmp.path() + QStringLiteral(" "));
    answer = tmp.path() + QStringLiteral("/picked");
    QTest::mouseClick(form.ui().browseButton, Qt::LeftButton);
    QCOMPARE(offered, tmp.path()); // an existing folder is preselected
    QCOMPARE(form.ui().dirEdit->text(), answer);

    // A folder that does not exist is not offered; cancelling changes nothing.
    answer.clear();
    QTest::mouseClick(form.ui().browseButton, Qt::LeftButton);
    QCOMPARE(offered, QString());
    QCOMPARE(form.ui().dirEdit->text(), tmp.path() + QStringLiteral("/picked"));
}

void TestSpoolDirsDialog::unavailableDirectoriesAreKeptAndMarked()
{
    // A share that is away is kept, marked in the list and named once when it comes in.
    QTemporaryDir tmp;
    const QString there = tmp.path() + u'/';
    const QString away = tmp.filePath(QStringLiteral("away")) + u'/';
    const QString gone = tmp.filePath(QStringLiteral("gone")) + u'/';
    MessageDlgTestHook::clear();
    SpoolDirsDialog form(m_settings);
    form.setList(there + u';' + away);
    form.show();
    QCOMPARE(MessageDlgTestHook::lastMessages().size(), 0);
    // An entry's hint and whether it shows an icon.
    const auto mark = [&form](int row) {
        const QListWidgetItem* item = form.ui().dirList->item(row);
        return std::pair(item->toolTip(), !item->icon().isNull());
    };
    const std::pair warned(QStringLiteral("Adresář neexistuje nebo není dostupný."), true);
    const std::pair plain(QString(), false);
    QCOMPARE(mark(0), plain);
    QCOMPARE(mark(1), warned);

    MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
    typeInto(form.ui().dirEdit, gone);
    QTest::mouseClick(form.ui().addButton, Qt::LeftButton);
    QCOMPARE(form.list(), there + u';' + away + u';' + gone + u';');
    QCOMPARE(mark(2), warned);
    // An entry replaced by a directory that is there loses its mark; nothing is said.
    const QString sub = tmp.filePath(QStringLiteral("sub"));
    QVERIFY(QDir().mkdir(sub));
    form.ui().dirList->setCurrentRow(1);
    typeInto(form.ui().dirEdit, sub);
    QTest::mouseClick(form.ui().replaceButton, Qt::LeftButton);
    QCOMPARE(form.ui().dirList->item(1)->text(), sub + u'/');
    QCOMPARE(mark(1), plain);
    QCOMPARE(MessageDlgTestHook::pendingAnswers().size(), 0);
    const auto messages = MessageDlgTestHook::lastMessages();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0].kind, MsgKind::Warning);
    QVERIFY(messages[0].text.contains(gone));
}

QTEST_MAIN(TestSpoolDirsDialog)
#include "tst_spooldirsdialog.moc"
