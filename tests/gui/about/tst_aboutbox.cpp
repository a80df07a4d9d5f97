#include "core/config/RegistryIni.h"
#include "core/config/SettingsConstants.h"
#include "gui/about/AboutBox.h"
#include "gui/common/MessageDlg.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class TestAboutBox : public QObject
{
    Q_OBJECT
public slots:
    void openedUrl(const QUrl& url) { m_opened << url; }

private slots:
    void initTestCase()
    {
        productKeys().productKey = u"Tarnyx"_s;
        settingsConstants().urlTarnyx = u"http://www.morvane.example/qel/tarnyx.htm"_s;
    }

    void cleanupTestCase()
    {
        for (const QString& scheme : {u"http"_s, u"mailto"_s})
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void init()
    {
        MessageDlgTestHook::clear();
        m_opened.clear();
        handleUrls("openedUrl");
    }

    void versionLine()
    {
        QCOMPARE(aboutVersionLine(u"1.5.0.12"_s, QDate(2008, 3, 5)), u"Verze 1.05.12 z 5.3.2008"_s);
        // A program without a version still shows its release day.
        QCOMPARE(aboutVersionLine({}, QDate(2008, 12, 10)), u"Verze  z 10.12.2008"_s);
        QCOMPARE(releaseDate(), QDate(2026, 12, 9));
    }

    void memoryText()
    {
        const QLocale czech(QLocale::Czech), english(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(physicalMemoryText(quint64(2) << 30, czech), u"2\u00A0097\u00A0152 KB"_s);
        QCOMPARE(physicalMemoryText(1000 * 1024, english), u"1,000 KB"_s);
        QCOMPARE(physicalMemoryText(1023, czech), u"0 KB"_s);
    }

    void osLine()
    {
        using F = OsFamily;
        QCOMPARE(::osLine({u"Linux"_s, {}, 2, 6, 1234, u"SP"_s, F::Other}), u"Linux 2.6"_s);
        QCOMPARE(
            ::osLine({u"Windows XP"_s, u"Professional"_s, 5, 1, 2600, u"SP 2"_s, F::WindowsNt}),
            u"Windows XP Professional 5.1  (Build 2600: SP 2)"_s);
        // The 9x family's build is the low 16 bits of the number.
        QCOMPARE(::osLine({u"Windows 98"_s, {}, 4, 10, 0x040A08AE, {}, F::Windows9x}),
                 u"Windows 98 4.10(Build 2222)"_s);
    }

    void showsEveryText()
    {
        const QStringList texts{u"Firma"_s,    u"Produkt"_s,      u"Verze 1"_s,
                                u"(c) 2026"_s, u"http://a/<b>"_s, u"e@a"_s};
        AboutBox box(
            {u"O aplikaci X"_s, texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], {}});
        box.show();
        const AboutBox::Widgets& ui = box.ui();
        QCOMPARE(box.windowTitle(), u"O aplikaci X"_s);
        const QStringList shown{ui.company->text(),   ui.productShadow->text(), ui.version->text(),
                                ui.copyright->text(), ui.www->text(),           ui.email->text()};
        QCOMPARE(shown, texts);
        QCOMPARE(ui.productName->text(), texts[1]);
        QCOMPARE(ui.www->textFormat(), Qt::PlainText); // an address is never taken for markup
        QCOMPARE(ui.memoryCaption->text(), u"Fyzická paměť systému:"_s);
        QVERIFY(ui.memory->text().endsWith(u" KB"_s) && !ui.os->text().isEmpty());
        QVERIFY(ui.memory->geometry().left() > ui.memoryCaption->geometry().right());
        QVERIFY(box.rect().contains(ui.memory->geometry()) &&
                box.rect().contains(ui.ok->geometry()));
    }

    void closes()
    {
        // OK, Enter, Esc.
        for (const int key : {0, int(Qt::Key_Return), int(Qt::Key_Escape)}) {
            bool closed = false;
            QTimer::singleShot(0, this, [&] {
                auto* box = qobject_cast<AboutBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                if (key)
                    QTest::keyClick(box, Qt::Key(key));
                else
                    QTest::mouseClick(box->ui().ok, Qt::LeftButton);
                closed = !box->isVisible();
                box->done(QDialog::Rejected); // never leaves the test waiting
            });
            showAboutBox(nullptr);
            QVERIFY2(closed, qPrintable(QString::number(key)));
        }
    }

    void links()
    {
        AboutBox box(programAboutTexts());
        box.show();
        QTest::mouseClick(box.ui().www, Qt::LeftButton);
        QTest::mouseClick(box.ui().email, Qt::LeftButton);
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(u"http://www.morvane.example/qel/tarnyx.htm"_s),
                                        QUrl(u"mailto:podpora@morvane.example?subject=Tarnyx"_s)}));
        QVERIFY(MessageDlgTestHook::lastMessages().isEmpty());

        // A handler without that slot fails to open, as a browser that cannot start does; a mail
        // program that cannot start is not reported.
        handleUrls("noSuchSlot");
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"noSuchSlot"_s));
        MessageDlgTestHook::setNextAnswers({MsgButton::Ok});
        QTest::mouseClick(box.ui().www, Qt::LeftButton);
        QTest::mouseClick(box.ui().email, Qt::LeftButton);
        const QList<MessageDlgTestHook::Message> shown = MessageDlgTestHook::lastMessages();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].text == u"Nelze spustit www prohlížeč"_s &&
                shown[0].kind == MsgKind::Error);
    }

private:
    void handleUrls(const char* slot)
    {
        // Nothing outside the test is ever started.
        for (const QString& scheme : {u"http"_s, u"mailto"_s})
            QDesktopServices::setUrlHandler(scheme, this, slot);
    }
    QList<QUrl> m_opened;
};

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
