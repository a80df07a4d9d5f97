#pragma once

#include "config/AppSettings.h"

#include <QObject>
#include <QStringList>

class PrinterCatalog;

// The application-wide controller: created before any window and destroyed after the last one.
// It owns the settings record and sets up the event log.
class TDataModule1 : public QObject
{
    Q_OBJECT
public:
    // `args` are the program's arguments (without the program itself).
    TDataModule1(const QStringList& args, PrinterCatalog& printers, QObject* parent = nullptr);
    ~TDataModule1() override;

    TAppSettings Settings;
    PrinterCatalog& Printers;

private:
    void DataModuleCreate();
    void DataModuleDestroy();

    QStringList m_args;
};
