// Every window at a large font: as on an X desktop whose font is set to 144 dpi, where text grows
// by half and nothing else is scaled. A button, label, tab or column header narrower than its
// text, or a widget that sticks out of its window, is a fault the clerk sees.
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
#include "gui/print/OrientationQuestion.h"
#include "gui/print/PrintErrorDialog.h"
#include "gui/update/DownloadWindow.h"
#include "gui/update/NewVersionDialog.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

namespace {

QString nameOf(const QWidget* w)
{
    const QString name = w->objectName().isEmpty()
                             ? QString::fromLatin1(w->metaObject()->className())
                             : w->objectName();
    return QStringLiteral("%1 in %2").arg(name, w->window()->objectName());
}

// True when the widget is scrolled inside a scroll area, where lying outside is expected.
bool isScrolled(const QWidget* w, const QWidget* window)
{
    for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
        if (auto* area = qobject_cast<const QAbstractScrollArea*>(p->parentWidget());
            area && area->viewport() == p)
            return true;
    return false;
}

// What of the window's visible texts does not fit, one line each.
QStringList clippedTexts(QWidget* window)
{
    QStringList faults;
    const QList<QAbstractButton*> buttons = window->findChildren<QAbstractButton*>();
    for (qsizetype i = 0; i < buttons.size(); ++i)
        for (qsizetype j = i + 1; j < buttons.size(); ++j)
            if (buttons[i]->parentWidget() == buttons[j]->parentWidget() &&
                buttons[i]->isVisibleTo(window) && buttons[j]->isVisibleTo(window) &&
                buttons[i]->geometry().intersects(buttons[j]->geometry()))
                faults
                    << QStringLiteral("%1 overlaps %2").arg(nameOf(buttons[i]), nameOf(buttons[j]));
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->window() != window || isScrolled(w, window))
            continue;
        const QRect inWindow(w->mapTo(window, QPoint(0, 0)), w->size());
        if (!window->rect().contains(inWindow))
            faults << QStringLiteral("%1 lies outside its window").arg(nameOf(w));
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            // A push button's text with the style's margins; other buttons (check boxes, tool
            // buttons) as their size hint has them, the box or arrow included.
            const int needed =
                qobject_cast<QPushButton*>(w)
                    ? button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width() +
                          button->style()->pixelMetric(QStyle::PM_ButtonMargin)
                    : button->sizeHint().width();
            if (!button->text().isEmpty() && button->width() < needed)
                faults << QStringLiteral("%1 \"%2\": %3 < %4")
                              .arg(nameOf(w), button->text())
                              .arg(button->width())
                              .arg(needed);
        } else if (auto* label = qobject_cast<QLabel*>(w)) {
            if (label->text().isEmpty() || label->pixmap().cacheKey() != 0)
                continue;
            const bool fits = label->wordWrap()
                                  ? label->height() >= label->heightForWidth(label->width())
                                  : label->width() >= label->sizeHint().width() &&
                                        label->height() >= label->sizeHint().height();
            if (!fits)
                faults << QStringLiteral("%1 \"%2\" is cut").arg(nameOf(w), label->text());
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            if (tabs->width() < tabs->sizeHint().width())
                faults << QStringLiteral("%1: the tabs need %2, have %3")
                              .arg(nameOf(w))
                              .arg(tabs->sizeHint().width())
                              .arg(tabs->width());
        } else if (auto* header = qobject_cast<QHeaderView*>(w)) {
            for (int i = 0; i < header->count(); ++i)
                if (!header->isSectionHidden(i) &&
                    header->sectionSize(i) < header->sectionSizeHint(i))
                    faults << QStringLiteral("%1 column %2: %3 < %4")
                                  .arg(nameOf(w))
                                  .arg(i)
                                  .arg(header->sectionSize(i))
                                  .arg(header->sectionSizeHint(i));
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            if (group->width() < group->minimumSizeHint().width())
                faults << QStringLiteral("%1 \"%2\" is cut").arg(nameOf(w), group->title());
        }
    }
    return faults;
}

// Access keys that two texts share where Alt with the letter, or the letter in an open menu,
// reaches only one of them.
QStringList sharedKeys(const QString& where, const QStringList& texts)
{
    QMultiMap<QKeySequence, QString> owners;
    for (const QString& text : texts)
        if (const QKeySequence key = QKeySequence::mnemonic(text); !key.isEmpty())
            owners.insert(key, text);
    QStringList faults;
    for (const QKeySequence& key : owners.uniqueKeys())
        if (owners.count(key) > 1)
            faults << QStringLiteral("%1 shares %2: %3")
                          .arg(where, key.toString(),
                               QStringList(owners.values(key)).join(QStringLiteral(", ")));
    return faults;
}

QStringList sharedMenuKeys(const QString& window, const QMenu* menu)
{
    QStringList items;
    for (const QAction* action : menu->actions())
        if (action->isVisible())
            items << action->text();
    return sharedKeys(QStringLiteral("%1, menu %2").arg(window, menu->title()), items);
}

QStringList sharedAccessKeys(QWidget* window)
{
    QStringList texts;
    QList<const QMenu*> menus;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->window() != window)
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            texts << button->text();
            if (auto* push = qobject_cast<QPushButton*>(w); push && push->menu())
                menus << push->menu();
        } else if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy()) {
            texts << label->text();
        } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
            texts << group->title();
        } else if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        } else if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            for (const QAction* action : bar->actions()) {
                texts << action->text();
                if (action->menu())
                    menus << action->menu();
            }
        }
    }
    QStringList faults = sharedKeys(window->objectName(), texts);
    for (const QMenu* menu : menus)
        faults << sharedMenuKeys(window->objectName(), menu);
    return faults;
}

// Shows the window, lets it settle, and lists what does not fit and which access keys clash.
QStringList shownClipped(QWidget& window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return {QStringLiteral("%1 was never shown").arg(window.objectName())};
    QApplication::processEvents();
    return clippedTexts(&window) + sharedAccessKeys(&window);
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
        faults << shownClipped(window) << sharedMenuKeys(window.objectName(), window.ui().trayMenu);
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
        OrientationQuestion question(settings);
        const OrientPreviewOpener open = [](const ReportHeader&, QWidget*) {
        };
        question.setPreviewOpener(open);
        question.setPrintPreviewOpener(open);
        ReportHeader report;
        report.title = "Vyplatni listina";
        question.setReport(report);
        faults << shownClipped(question);
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
