// Qt's own dialogs speak Czech, as the program does: the file dialogs' kinds of files too, which
// Qt's Czech catalogue lacks where the file list takes them from.
#include "gui/common/Translations.h"

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

class TestTranslations : public QObject
{
    Q_OBJECT
private slots:
    void qtDialogsSpeakCzech();
};

void TestTranslations::qtDialogsSpeakCzech()
{
    if (!installCzechTranslations())
        QSKIP("Qt's Czech catalogue is not installed (package qt6-translations-l10n)");
    QCOMPARE(QCoreApplication::translate("QFileDialog", "New Folder"),
             QStringLiteral("Nová složka"));
    QTemporaryDir dir;
    QAbstractFileIconProvider icons;
    // The type column of the file dialogs.
    QCOMPARE(icons.type(QFileInfo(dir.path())), QStringLiteral("Složka"));
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
