#pragma once

#include "print/PrinterCatalog.h"

// The CUPS queues as Qt's print support lists them.
class CupsPrinterCatalog : public PrinterCatalog
{
public:
    QStringList printerNames() const override;
    QString defaultPrinterName() const override;
    QString currentPrinter() const override { return m_current; }
    void setCurrentPrinter(const QString& name) override { m_current = name; }

private:
    QString m_current;
};
