#include "gui/update/NewVersionDialog.h"

#include "core/config/AppSettings.h"
#include "core/config/RegistryIni.h"
#include "support/TestHive.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextLayout>
#include <QTimer>

using namespace Qt::StringLiterals;

// Receives the addresses the dialog hands to the desktop.
class UrlReceiver : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.append(url); }
};

class TestNewVersionDialog : public QObject
{
    Q_OBJECT
    QTemporaryDir m_home;
    AppSettings m_settings;

private slots:
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path()));
        productKeys().productKey = u"Tarnyx"_s;
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    }
    void init() { writeSettingsHive(RegistryIni::hivePath(), {}); }

    void sizeText()
    {
        NewVersionDialog dialog(m_settings);
        const QList<std::pair<qint64, QString>> rows{
            {1572864, u"1,50"_s}, {0, u"0,00"_s}, {qint64(1500) * 1048576, u"1500,00"_s}};
        for (const auto& [bytes, shown] : rows) {
            dialog.setSize(bytes);
            QCOMPARE(dialog.ui().sizeLabel->text(),
                     u"Velikost instalačního souboru: "_s + shown + u" MB"_s);
        }
    }

    void detailsShown()
    {
        NewVersionDialog dialog(m_settings);
        QTextBrowser* pane = dialog.ui().details;
        dialog.setInfo("{\\rtf1\\ansi\\ansicpg1250 Opraveno: {\\b tu\\'e8n\\'e9} p\\'edsmo}");
        QCOMPARE(pane->toPlainText(), u"Opraveno: tučné písmo"_s);
        QVERIFY(pane->document()->find(u"tučné"_s).charFormat().font().bold());

        // Plain text in the ANSI code page, not in the grey of the note shown before, its long line
        // scrolling rather than wrapping.
        const QByteArray longLine(400, 'x');
        dialog.setInfo("Zm\354ny \232ek\r\n" + longLine);
        QCOMPARE(pane->toPlainText(), u"Změny šek\n"_s + QString::fromLatin1(longLine));
        const QColor grey = pane->palette().color(QPalette::Disabled, QPalette::Text);
        QVERIFY(pane->document()->find(u"Změny"_s).charFormat().foreground().color() != grey);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(pane->document()->lastBlock().layout()->lineCount(), 1);
        QVERIFY(pane->horizontalScrollBar()->maximum() > 0);

        for (const QByteArray& none :
             {QByteArray(), QByteArray("\r\n \r\n"), QByteArray("{\\rtf1}")}) {
            dialog.setInfo(none);
            QCOMPARE(pane->toPlainText(), u"Podrobné informace nejsou dostupné."_s);
            QCOMPARE(pane->document()->find(u"Podrobné"_s).charFormat().foreground().color(), grey);
        }
    }

    void linkOpensAndDialogStays()
    {
        UrlReceiver receiver;
        QDesktopServices::setUrlHandler(u"http"_s, &receiver, "open");
        NewVersionDialog dialog(m_settings);
        QTextBrowser* pane = dialog.ui().details;
        dialog.setInfo("Novinky (viz www.example.cz/novinky).\nPodpora: mailto:podpora@example.cz");
        const QTextCursor link = pane->document()->find(u"www"_s);
        QCOMPARE(link.charFormat().anchorHref(), u"http://www.example.cz/novinky"_s);
        // The bracket and the full stop after the address are not part of the link.
        QVERIFY(!pane->document()->find(u")."_s).charFormat().isAnchor());
        QCOMPARE(pane->document()->find(u"podpora@"_s).charFormat().anchorHref(),
                 u"mailto:podpora@example.cz"_s);

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        const QPoint onLink = pane->cursorRect(link).center() - QPoint(8, 0);
        QTest::mouseClick(pane->viewport(), Qt::LeftButton, {}, onLink);
        QDesktopServices::unsetUrlHandler(u"http"_s);
        QCOMPARE(receiver.urls, QList<QUrl>{QUrl(u"http://www.example.cz/novinky"_s)});
        QVERIFY(dialog.isVisible());
        QVERIFY(pane->toPlainText().startsWith(u"Novinky"_s));
    }

    void escRefusesEnterAccepts()
    {
        NewVersionDialog dialog(m_settings);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(QApplication::focusWidget(), dialog.ui().downloadButton);
        QTest::keyClick(dialog.ui().downloadButton, Qt::Key_Return);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        // The modal offer, refused by Esc in the details pane.
        bool closedByEsc = false;
        QTimer::singleShot(0, [&] {
            auto* shown = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QTest::keyClick(shown->findChild<QTextBrowser*>(), Qt::Key_Escape);
            closedByEsc = !shown->isVisible();
            if (!closedByEsc)
                shown->done(QDialog::Accepted); // rather than hanging
        });
        QVERIFY(!runNewVersionDialog(m_settings, 1, u"2.1"_s, "text", nullptr));
        QVERIFY(closedByEsc);
    }

    void sizeRemembered()
    {
        {
            NewVersionDialog dialog(m_settings);
            dialog.show();
            dialog.resize(620, 450);
            dialog.close();
        }
        QCOMPARE(NewVersionDialog(m_settings).size(), QSize(620, 450));

        const auto ini = openSettings();
        QVERIFY(ini->writeInteger(u"LastUsed"_s, u"FormNewVer.Width"_s, 100));
        QVERIFY(ini->writeInteger(u"LastUsed"_s, u"FormNewVer.Height"_s, 50));
        QCOMPARE(NewVersionDialog(m_settings).size(), QSize(404, 310));
    }

    void copyTakesEverything()
    {
        NewVersionDialog dialog(m_settings);
        QTextBrowser* pane = dialog.ui().details;
        dialog.setInfo("{\\rtf1\\ansicpg1250 Prvn\\'ed {\\b druh\\'fd}\\par t\\'f8et\\'ed}");
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        // A selection in the pane does not limit what is copied.
        pane->setFocus();
        QTextCursor part(pane->document());
        part.movePosition(QTextCursor::NextWord, QTextCursor::KeepAnchor);
        pane->setTextCursor(part);
        QTest::keyClick(pane, Qt::Key_C, Qt::ControlModifier);
        const QMimeData* copied = QApplication::clipboard()->mimeData();
        QCOMPARE(copied->text(), u"První druhý\ntřetí"_s);
        QVERIFY(copied->html().contains(u"font-weight"_s));
        QVERIFY(!pane->textCursor().hasSelection());
    }
};

QTEST_MAIN(TestNewVersionDialog)
#include "tst_newversiondialog.moc"
