#include "print/CupsPrinterCatalog.h"

#include <QPrinterInfo>

QStringList CupsPrinterCatalog::printerNames() const
{
    return QPrinterInfo::availablePrinterNames();
}

QString CupsPrinterCatalog::defaultPrinterName() const
{
    return QPrinterInfo::defaultPrinterName();
}
