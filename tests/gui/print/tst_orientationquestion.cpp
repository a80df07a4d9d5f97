#include "WindowChecks.h"
#include "gui/print/OrientationQuestion.h"

#include "core/config/AppSettings.h"
#include "core/report/ReportHeader.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

class TestOrientationQuestion : public QObject
{
    Q_OBJECT
private slots:
    void dialog();
    void askOrientation_data();
    void askOrientation();
    void captionsWholeKeysOnce();
};

void TestOrientationQuestion::dialog()
{
    AppSettings settings;
    ReportHeader report;
    // "Mzdové listy ščřě <b>" in Windows-1250.
    report.title = QByteArray("Mzdov\xE9 listy \x9A\xE8\xF8\xEC <b>");
    OrientationQuestion dialog(settings);
    dialog.setReport(report);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    QCOMPARE(dialog.windowTitle(), QStringLiteral("Orientace sestavy"));
    QCOMPARE(dialog.size(), QSize(388, 126));
    QCOMPARE(dialog.textLabel()->text(), QStringLiteral("Mzdové listy ščřě <b>"));
    QCOMPARE(dialog.textLabel()->textFormat(), Qt::PlainText);
    const int left = dialog.iconSize() + 16;
    QCOMPARE(dialog.textLabel()->geometry(), QRect(left, 8, 388 - left - 8, 49));
    QCOMPARE(dialog.focusWidget(), dialog.ui().portraitButton);
    // No preview yet without a viewer to open.
    QVERIFY(!dialog.ui().viewButton->isVisible());

    // The question icon is painted left of the title.
    const QImage image = dialog.grab().toImage();
    const QRgb background = image.pixel(2, 2);
    int drawn = 0;
    for (int y = 8; y < 8 + dialog.iconSize(); ++y)
        for (int x = 8; x < 8 + dialog.iconSize(); ++x)
            drawn += image.pixel(x, y) != background;
    QVERIFY2(drawn > dialog.iconSize() * 4, qPrintable(QString::number(drawn)));
}

void TestOrientationQuestion::askOrientation_data()
{
    QTest::addColumn<QString>("action"); // a button to click, "Esc" or "close"
    QTest::addColumn<bool>("preview");   // a preview opener is given
    QTest::addColumn<bool>("ownerShown");
    QTest::addColumn<int>("answer");
    QTest::newRow("portrait") << "portraitButton" << false << true << 1;
    QTest::newRow("landscape") << "landscapeButton" << false << true << 2;
    QTest::newRow("default") << "defaultButton" << false << true << 0;
    QTest::newRow("Esc") << "Esc" << false << true << 0;
    QTest::newRow("window closed") << "close" << false << true << 0;
    QTest::newRow("preview, then portrait") << "viewButton" << true << true << 1;
    // The main window sits in the tray: the question stands alone in the middle of the screen.
    QTest::newRow("owner hidden") << "landscapeButton" << false << false << 2;
}

void TestOrientationQuestion::askOrientation()
{
    QFETCH(QString, action);
    QFETCH(bool, preview);
    QFETCH(bool, ownerShown);
    QFETCH(int, answer);

    AppSettings settings;
    ReportHeader report(QStringLiteral("/srv/Lst/LST00001.PRN"));
    report.title = QByteArray("V\xDDPLATN\xCD P\xC1SKA");
    QWidget owner;
    owner.setGeometry(100, 50, 600, 400);
    if (ownerShown) {
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
    }

    QStringList previewed;
    OrientPreviewOpener opener;
    if (preview) {
        opener = [&](const ReportHeader& shown, QWidget* previewOwner) {
            previewed << shown.fileName;
            QCOMPARE(previewOwner, QApplication::activeModalWidget());
        };
    }

    QString title;
    QPoint centre;
    bool viewVisible = true;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<OrientationQuestion*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        title = dialog->textLabel()->text();
        centre = dialog->geometry().center();
        viewVisible = dialog->ui().viewButton->isVisible();
        if (action == QLatin1String("Esc")) {
            QTest::keyClick(dialog, Qt::Key_Escape);
        } else if (action == QLatin1String("close")) {
            dialog->close();
        } else {
            QTest::mouseClick(dialog->findChild<QPushButton*>(action), Qt::LeftButton);
            // The preview leaves the question open.
            if (dialog->isVisible())
                QTest::mouseClick(dialog->ui().portraitButton, Qt::LeftButton);
        }
    });
    QCOMPARE(runOrientationQuestion(report, settings, &owner, opener), answer);

    QCOMPARE(title, QStringLiteral("VÝPLATNÍ PÁSKA"));
    const QPoint expected = ownerShown
                                ? owner.geometry().center()
                                : QApplication::primaryScreen()->availableGeometry().center();
    QVERIFY2((centre - expected).manhattanLength() <= 2,
             qPrintable(QStringLiteral("%1,%2").arg(centre.x()).arg(centre.y())));
    QCOMPARE(viewVisible, preview);
    QCOMPARE(previewed, preview ? QStringList{report.fileName} : QStringList{});
    // Released afterwards.
    const QWidgetList widgets = QApplication::allWidgets();
    for (const QWidget* widget : widgets)
        QVERIFY(!qobject_cast<const OrientationQuestion*>(widget));
}

// With both previews on offer, every caption is whole and inside the dialog, the buttons stand
// apart, and no access key is used twice, whatever the font's size (this test runs with large
// fonts too).
void TestOrientationQuestion::captionsWholeKeysOnce()
{
    AppSettings settings;
    ReportHeader report;
    report.title = QByteArray("Mzdov\xE9 listy");
    OrientationQuestion dialog(settings);
    dialog.setPreviewOpener([](const ReportHeader&, QWidget*) {});
    dialog.setPrintPreviewOpener([](const ReportHeader&, QWidget*) {});
    dialog.setReport(report);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.ui().viewButton->isVisible() && dialog.ui().viewButton->menu());

    const QStringList faults =
        windowchecks::cutOrOutside(&dialog) + windowchecks::duplicateAccessKeys(&dialog);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

QTEST_MAIN(TestOrientationQuestion)
#include "tst_orientationquestion.moc"
