#include "core/UnitDM1.h"

#include "core/TxLog.h"
#include "platform/CommandLine.h"

TDataModule1::TDataModule1(const QStringList& args, PrinterCatalog& printers, QObject* parent)
    : QObject(parent), Printers(printers), m_args(args)
{
    DataModuleCreate();
}

TDataModule1::~TDataModule1()
{
    DataModuleDestroy();
}

void TDataModule1::DataModuleCreate()
{
    SetUpAppLog(platform::programFilePath(),
                platform::FindCmdLineSwitch(m_args, QStringLiteral("log")));
    Settings.LoadSettings(Printers);
}

void TDataModule1::DataModuleDestroy()
{
    AppLog().AddEntry(QStringLiteral("DataModuleDestroy"), QStringLiteral("begin"));
    AppLog().AddEntry(QStringLiteral("DataModuleDestroy"), QStringLiteral("end"));
}
