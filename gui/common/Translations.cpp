#include "gui/common/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// The kinds of files the file dialogs list ("Folder", "%1 File", …) come from the file icon
// provider, whose texts Qt's Czech catalogue does not have; the file dialog's own copies of the
// same texts are translated.
class FileKindTranslator : public QTranslator
{
public:
    using QTranslator::QTranslator;

    bool isEmpty() const override { return false; }

    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0 &&
            qstrcmp(context, "QFileSystemModel") != 0)
            return {};
        const QString text =
            QCoreApplication::translate("QFileDialog", sourceText, disambiguation, n);
        return text == QLatin1StringView(sourceText) ? QString() : text;
    }
};

} // namespace

bool installCzechTranslations()
{
    // Owned by the application: they are needed for as long as it runs.
    auto* qtTexts = new QTranslator(QCoreApplication::instance());
    if (!qtTexts->load(QLocale(QLocale::Czech), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qtTexts;
        return false;
    }
    QCoreApplication::installTranslator(qtTexts);
    QCoreApplication::installTranslator(new FileKindTranslator(QCoreApplication::instance()));
    return true;
}
