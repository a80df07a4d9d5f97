// tarnyx-cli: the program's logic for users and scripts, without windows.
#include "app/CliCommands.h"
#include "core/config/SettingsConstants.h"
#include "core/platform/CommandLine.h"
#include "print/CupsPrinterCatalog.h"

#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

namespace {

QtMessageHandler g_qtMessages = nullptr;

// Without XDG_RUNTIME_DIR (cron, su) Qt notes on stderr that it makes a runtime folder of its
// own. Nothing here uses that folder, and the note would come before the one line that a
// script reads of a failure, so it is left out; every other message goes on as before.
void messageWithoutRuntimeNote(QtMsgType type, const QMessageLogContext& context,
                               const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(u"QStandardPaths: XDG_RUNTIME_DIR not set"))
        return;
    if (g_qtMessages)
        g_qtMessages(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

int main(int argc, char* argv[])
{
    g_qtMessages = qInstallMessageHandler(messageWithoutRuntimeNote);
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
