#pragma once

#include "core/platform/PrinterCatalog.h"

#include <QHash>
#include <QMutex>

// The CUPS queues, asked of the scheduler through libcups with a time limit. The paper chosen per
// queue is read by print jobs on the worker thread, hence the lock.
class CupsPrinterCatalog : public PrinterCatalog
{
public:
    bool available() const override;
    QStringList printerNames() const override;
    QString defaultPrinterName() const override;
    QString currentPrinter() const override { return m_current; }
    void setCurrentPrinter(const QString& name) override { m_current = name; }
    QPageSize paperFor(const QString& printer) const override;
    void setPaperFor(const QString& printer, const QPageSize& paper) override;

private:
    QString m_current;
    mutable QMutex m_lock;
    QHash<QString, QPageSize> m_paper;
};
