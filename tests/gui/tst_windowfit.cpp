// Every window at a large font: as on an X desktop whose font is set to 144 dpi, where text grows
// by half and nothing else is scaled. A button, label, tab or column header narrower than its
// text, or a widget that sticks out of its window, is a fault the clerk sees. The orientation
// question, the archive browser, the viewer and the print preview run the same checks in their
// own tests at this font too (their "_largefont" runs).
#include "WindowChecks.h"
#include "support/NoPrinters.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "core/jobs/JobController.h"
#include "core/report/OrientationMemory.h"
#include "core/report/ReportHeader.h"
#include "gui/about/AboutBox.h"
#include "gui/config/OrientationEditor.h"
#include "gui/config/SettingsDialog.h"
#include "gui/config/SpoolDirsDialog.h"
#include "gui/main/MainWindow.h"
#include "gui/print/PrintErrorDialog.h"
#include "gui/update/DownloadWindow.h"
#include "gui/update/NewVersionDialog.h"

#include <QApplication>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Shows the window, lets it settle, and lists what does not fit and which access keys clash.
QStringList shownClipped(QWidget& window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {QStringLiteral("%1 was never shown").arg(window.objectName())};
    QApplication::processEvents();
    return windowchecks::cutOrOutside(&window) + windowchecks::duplicateAccessKeys(&window);
}

} // namespace

class TestWindowFit : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyWindowFitsItsText();

private:
    QTemporaryDir m_home;
    NoPrinters m_printers;
};

void TestWindowFit::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
    qputenv("HOME", QFile::encodeName(m_home.path()));
    productKeys().productKey = QStringLiteral("Tarnyx");
    QVERIFY(QFontInfo(QApplication::font()).pixelSize() >= 16);
}

void TestWindowFit::everyWindowFitsItsText()
{
    QStringList faults;
    AppSettings settings;
    {
        JobController controller({}, m_printers);
        MainWindow window(controller, {});
        faults << shownClipped(window)
               << windowchecks::duplicateMenuKeys(window.objectName(), window.ui().trayMenu);
    }
    {
        SettingsDialog dialog(settings, m_printers);
        for (int i = 0; i < dialog.ui().tabs->count(); ++i) {
            dialog.ui().tabs->setCurrentIndex(i);
            faults << shownClipped(dialog);
        }
    }
    {
        SpoolDirsDialog dialog(settings);
        faults << shownClipped(dialog);
    }
    {
        OrientationMemory list;
        ReportHeader report;
        report.title = "Vyplatni listina";
        list.lookup(report);
        list.store(report, 2);
        OrientationEditor editor(list, settings);
        faults << shownClipped(editor);
    }
    {
        PrintErrorDialog dialog(settings);
        dialog.setMessage(QStringLiteral("Sestavu LST00001.PRN nelze vytisknout."));
        faults << shownClipped(dialog);
    }
    {
        AboutBox box(programAboutTexts());
        faults << shownClipped(box);
    }
    {
        NewVersionDialog dialog(settings);
        faults << shownClipped(dialog);
    }
    {
        DownloadWindow window(QStringLiteral("2.0"), QStringLiteral("http://127.0.0.1:9/x"), 1000,
                              nullptr);
        faults << shownClipped(window);
    }
    faults.removeDuplicates();
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

int main(int argc, char** argv)
{
    // An X desktop with a large font: fonts at 144 dpi, everything else at one pixel a pixel.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_FONT_DPI", "144");
    QApplication app(argc, argv);
    TestWindowFit test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowfit.moc"
