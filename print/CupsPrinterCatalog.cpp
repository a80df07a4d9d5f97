#include "print/CupsPrinterCatalog.h"

#include "print/CupsClient.h"

#include <QPrinterInfo>

bool CupsPrinterCatalog::available() const
{
    return cupsclient::schedulerAnswers();
}

QStringList CupsPrinterCatalog::printerNames() const
{
    return QPrinterInfo::availablePrinterNames();
}

QString CupsPrinterCatalog::defaultPrinterName() const
{
    return QPrinterInfo::defaultPrinterName();
}

QPageSize CupsPrinterCatalog::paperFor(const QString& printer) const
{
    const QMutexLocker lock(&m_lock);
    return m_paper.value(printer);
}

void CupsPrinterCatalog::setPaperFor(const QString& printer, const QPageSize& paper)
{
    const QMutexLocker lock(&m_lock);
    m_paper.insert(printer, paper);
}
