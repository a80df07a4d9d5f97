// The tray program: loads its settings constants, creates the controller and runs until it is
// told to end.
#include "app/SignalQuit.h"
#include "config/FormLook.h"
#include "config/TxConsts.h"
#include "core/TxLog.h"
#include "core/UnitDM1.h"
#include "platform/CommandLine.h"
#include "print/CupsPrinterCatalog.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnyx"));
    QApplication::setApplicationVersion(QStringLiteral(TARNYX_VERSION_STRING));
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList args = platform::programArguments();
    LoadSettingsConstants(args);

    // Installed before anything is set up, so that a signal always takes the orderly way out.
    QuitOnTerminationSignals();
    int rc = 0;
    {
        CupsPrinterCatalog printers;
        TDataModule1 controller(args, printers);
        SetShowHints(controller.Settings.ShowHints);
        SetHintHidePause(controller.Settings.HintHidePause);
        rc = QApplication::exec();
    }
    FreeAppLog();
    return rc;
}
