#include "gui/config/OrientationEditor.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/report/OrientationMemory.h"
#include "gui/common/MessageDlg.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <memory>

class TestOrientationEditor : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void rowsShown();
    void editChangesOnlyByAChoice();
    void doubleClickEditsOnlyTheOrientation();
    void deleteAsksFirst();
    void escClosesAndLayoutIsRemembered();

private:
    void open();
    // Presses F2; the editor once its list has dropped down, else null.
    QComboBox* startEdit();
    QTreeView* tree() const { return m_form->ui().tree; }
    QModelIndex index(int row, int column) const { return tree()->model()->index(row, column); }
    QString cell(int row, int column) const { return index(row, column).data().toString(); }
    quint8 code(int row) const { return m_list.entries().at(row).orientation; }

    QTemporaryDir m_home;
    AppSettings m_settings;
    OrientationMemory m_list;
    std::unique_ptr<QWidget> m_owner;
    std::unique_ptr<OrientationEditor> m_form;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void TestOrientationEditor::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
}

void TestOrientationEditor::init()
{
    QFile::remove(RegistryIni::hivePath());
    const auto ini = openSettings();
    const QString section = QStringLiteral("Settings\\LstList");
    // Sorted by title when loaded.
    QVERIFY(ini->writeString(section, QStringLiteral("Zápočtový list"), QStringLiteral("2")));
    QVERIFY(ini->writeString(section, QStringLiteral("Mzdové listy"), QStringLiteral("1")));
    QVERIFY(ini->writeString(section, QStringLiteral("Výplatní páska"), QStringLiteral("255")));
    QVERIFY(ini->writeString(section, QStringLiteral("Daně"), QStringLiteral("0")));
    m_list.load();
    MessageDlgTestHook::clear();
}

void TestOrientationEditor::cleanup()
{
    m_tester.reset();
    m_form.reset();
    m_owner.reset();
    QVERIFY(MessageDlgTestHook::pendingAnswers().isEmpty());
}

void TestOrientationEditor::open()
{
    m_owner = std::make_unique<QWidget>();
    m_owner->setGeometry(60, 40, 640, 480);
    m_owner->show();
    m_form = std::make_unique<OrientationEditor>(m_list, m_settings, m_owner.get());
    m_tester = std::make_unique<QAbstractItemModelTester>(
        tree()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_form->show();
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
}

QComboBox* TestOrientationEditor::startEdit()
{
    QTest::keyClick(tree(), Qt::Key_F2);
    auto* combo =
        qobject_cast<QComboBox*>(tree()->indexWidget(tree()->currentIndex().siblingAtColumn(1)));
    const bool dropped = combo && QTest::qWaitFor([combo] { return combo->view()->isVisible(); });
    return dropped ? combo : nullptr;
}

void TestOrientationEditor::rowsShown()
{
    open();
    QVERIFY((m_form->geometry().center() - m_owner->geometry().center()).manhattanLength() <= 2);
    const QList<QStringList> rows{{QStringLiteral("Daně"), QStringLiteral("výchozí")},
                                  {QStringLiteral("Mzdové listy"), QStringLiteral("na výšku")},
                                  {QStringLiteral("Výplatní páska"), QStringLiteral("??")},
                                  {QStringLiteral("Zápočtový list"), QStringLiteral("na šířku")}};
    QCOMPARE(tree()->model()->rowCount(), rows.size());
    for (int row = 0; row < rows.size(); ++row)
        QCOMPARE((QStringList{cell(row, 0), cell(row, 1)}), rows.at(row));

    QCOMPARE(tree()->currentIndex().row(), 0);
    QVERIFY(tree()->selectionModel()->isRowSelected(0, {}));
    QTRY_COMPARE(QApplication::focusWidget(), tree());
    // Typing finds a title even while the orientation cell is current.
    tree()->setCurrentIndex(index(0, 1));
    QTest::keyClicks(tree(), QStringLiteral("v"));
    QCOMPARE(tree()->currentIndex().row(), 2);
}

void TestOrientationEditor::editChangesOnlyByAChoice()
{
    open();
    // F2 edits the row's orientation though its title cell is current.
    tree()->setCurrentIndex(index(1, 0));
    QComboBox* combo = startEdit();
    QVERIFY(combo);
    QCOMPARE(combo->currentIndex(), 1);
    QCOMPARE(combo->geometry().left(), tree()->visualRect(index(1, 1)).left());
    QTest::keyClick(combo->view(), Qt::Key_Down);
    QTest::keyClick(combo->view(), Qt::Key_Return);
    QTRY_VERIFY(!tree()->indexWidget(index(1, 1)));
    QCOMPARE(code(1), quint8(2));
    QCOMPARE(cell(1, 1), QStringLiteral("na šířku"));

    // An unusable code: nothing chosen, and leaving without a choice keeps it.
    tree()->setCurrentIndex(index(2, 1));
    combo = startEdit();
    QVERIFY(combo);
    QCOMPARE(combo->currentIndex(), -1);
    QTest::keyClick(combo->view(), Qt::Key_Escape);
    QTRY_VERIFY(!combo->view()->isVisible());
    tree()->setFocus();
    QTRY_VERIFY(!tree()->indexWidget(index(2, 1)));
    QCOMPARE(code(2), quint8(255));
    QCOMPARE(cell(2, 1), QStringLiteral("??"));

    // A narrow column at the right edge: the editor keeps its least width inside the viewport;
    // the first Esc closes its list, the second cancels the edit, not the window.
    tree()->setColumnWidth(0, tree()->viewport()->width() - 6);
    tree()->setColumnWidth(1, 12);
    combo = startEdit();
    QVERIFY(combo);
    QCOMPARE(combo->width(), OrientationDelegate::kMinEditorWidth);
    QVERIFY(combo->geometry().right() <= tree()->viewport()->rect().right());
    QTest::keyClick(combo->view(), Qt::Key_Escape);
    QTRY_VERIFY(!combo->view()->isVisible());
    // Del belongs to the editor while it is open: no entry is offered for removal.
    MessageDlgTestHook::setNextAnswers({MsgButton::No});
    QTest::keyClick(combo, Qt::Key_Delete);
    QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());
    MessageDlgTestHook::clear();
    QTest::keyClick(combo, Qt::Key_Escape);
    QTRY_VERIFY(!tree()->indexWidget(index(2, 1)));
    QVERIFY(m_form->isVisible());
    QCOMPARE(code(2), quint8(255));
}

void TestOrientationEditor::doubleClickEditsOnlyTheOrientation()
{
    open();
    // A widget's double click as the window system delivers it: a click, then the second press.
    const auto doubleClick = [this](int column) {
        const QPoint at = tree()->visualRect(index(3, column)).center();
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree()->viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(0);
    QCOMPARE(tree()->currentIndex(), index(3, 0));
    QTest::qWait(50);
    QVERIFY(!tree()->viewport()->findChild<QComboBox*>());

    doubleClick(1);
    auto* combo = qobject_cast<QComboBox*>(tree()->indexWidget(index(3, 1)));
    QVERIFY(combo);
    QCOMPARE(combo->currentIndex(), 2);
}

void TestOrientationEditor::deleteAsksFirst()
{
    open();
    tree()->setCurrentIndex(index(1, 0));
    QTest::keyClick(tree(), Qt::Key_Delete, Qt::ShiftModifier);
    QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());

    MessageDlgTestHook::setNextAnswers({MsgButton::No});
    QTest::keyClick(tree(), Qt::Key_Delete);
    QCOMPARE(MessageDlgTestHook::lastMessages().size(), 1);
    const MessageDlgTestHook::Message asked = MessageDlgTestHook::lastMessages().constFirst();
    QCOMPARE(asked.caption, QStringLiteral("Orientace sestav"));
    QCOMPARE(asked.text, QStringLiteral("Smazat nastavení orientace sestavy \"Mzdové listy\"? "));
    QCOMPARE(asked.kind, MsgKind::Confirmation);
    QCOMPARE(asked.buttons, (QList<MsgButton>{MsgButton::Yes, MsgButton::No}));
    QCOMPARE(m_list.count(), 4);

    // Yes removes the entry and its row; the next row takes its place.
    MessageDlgTestHook::setNextAnswers({MsgButton::Yes});
    QTest::keyClick(tree(), Qt::Key_Delete);
    QCOMPARE(m_list.count(), 3);
    QCOMPARE(cell(1, 0), QStringLiteral("Výplatní páska"));
    QCOMPARE(tree()->currentIndex().row(), 1);
    QVERIFY(tree()->selectionModel()->isRowSelected(1, {}));

    // Removing the last row leaves the new last one current.
    tree()->setCurrentIndex(index(2, 1));
    MessageDlgTestHook::setNextAnswers({MsgButton::Yes});
    QTest::keyClick(tree(), Qt::Key_Delete);
    QCOMPARE(tree()->model()->rowCount(), 2);
    QCOMPARE(cell(1, 0), QStringLiteral("Výplatní páska"));
    QCOMPARE(tree()->currentIndex().row(), 1);
}

void TestOrientationEditor::escClosesAndLayoutIsRemembered()
{
    const auto ini = openSettings();
    const QString lastUsed = QStringLiteral("LastUsed");
    const QString width0 = QStringLiteral("FormLstEdit.Columns.0.Width");
    // A width no header could have given is not restored.
    QVERIFY(ini->writeInteger(lastUsed, QStringLiteral("FormLstEdit.Columns.1.Width"), 0));
    open();
    QCOMPARE(tree()->columnWidth(1), 80);
    tree()->header()->resizeSection(0, 210);
    tree()->header()->resizeSection(1, 120);
    m_form->resize(500, 300);
    QTest::keyClick(tree(), Qt::Key_Escape);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(ini->readInteger(lastUsed, width0, 0), 210);

    // Opened modally as the settings dialog does: the widths and the size come back.
    OrientationEditor again(m_list, m_settings, m_owner.get());
    QCOMPARE(again.size(), QSize(500, 300));
    QList<int> widths;
    QTimer::singleShot(0, &again, [&] {
        widths = {again.ui().tree->columnWidth(0), again.ui().tree->columnWidth(1)};
        again.close();
    });
    QCOMPARE(again.exec(), int(QDialog::Rejected));
    QCOMPARE(widths, (QList<int>{210, 120}));

    // A window closed before it was ever shown leaves the remembered widths alone.
    OrientationEditor unseen(m_list, m_settings, m_owner.get());
    unseen.reject();
    QCOMPARE(ini->readInteger(lastUsed, width0, 0), 210);
}

QTEST_MAIN(TestOrientationEditor)
#include "tst_orientationeditor.moc"
