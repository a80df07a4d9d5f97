#include "print/CupsPrinterCatalog.h"

#include "print/CupsClient.h"

// Asked of the scheduler itself, with a time limit: a scheduler that hangs must not freeze the
// program's start or its settings dialog.
bool CupsPrinterCatalog::available() const
{
    QStringList names;
    return cupsclient::queueNames(names) != cupsclient::Answer::NoAnswer;
}

QStringList CupsPrinterCatalog::printerNames() const
{
    QStringList names;
    cupsclient::queueNames(names);
    return names;
}

QString CupsPrinterCatalog::defaultPrinterName() const
{
    QString name;
    cupsclient::defaultQueue(name);
    return name;
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
