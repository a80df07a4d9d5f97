// tarnyx-cli: the program's logic for users and scripts, without windows.
#include "app/CliCommands.h"
#include "config/SettingsConstants.h"
#include "platform/CommandLine.h"
#include "print/CupsPrinterCatalog.h"

#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Fonts and printers need a GUI application, but never a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = platform::programArguments(argc, argv);
    loadSettingsConstants(args);

    QTextStream out(stdout);
    QTextStream err(stderr);
    CupsPrinterCatalog printers;
    cli::Context ctx{printers, out, err};
    return cli::run(ctx, args);
}
