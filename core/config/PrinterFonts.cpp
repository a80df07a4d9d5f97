#include "core/config/PrinterFonts.h"

#include "core/platform/PrinterCatalog.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>

bool isFixedPitchFaceOffered(const QString& family)
{
    if (QFontDatabase::families().contains(family, Qt::CaseInsensitive))
        return true;
    QFont font(family);
    return QFontInfo(font).fixedPitch();
}

QStringList printerFontNames(const PrinterCatalog& printers)
{
    QStringList names;
    if (printers.currentPrinter().isEmpty()) {
        names << QStringLiteral("Courier New");
        return names;
    }
    for (const QString& face : {QStringLiteral("Courier New"), QStringLiteral("Lucida Console")})
        if (isFixedPitchFaceOffered(face))
            names << face;
    return names;
}
