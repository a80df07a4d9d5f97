#pragma once

#include "core/platform/PrinterCatalog.h"

// A machine without printers.
class NoPrinters : public PrinterCatalog
{
public:
    QStringList printerNames() const override { return {}; }
    QString defaultPrinterName() const override { return {}; }
    QString currentPrinter() const override { return {}; }
    void setCurrentPrinter(const QString&) override {}
};
