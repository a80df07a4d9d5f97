// The tray program: puts the controller, the main window and the print worker together and runs
// until the user (or the session) ends it.
#include "app/CrashReport.h"
#include "app/CrashReportDialog.h"
#include "app/GuardedApplication.h"
#include "app/SignalQuit.h"
#include "app/SingleInstance.h"
#include "core/config/SettingsConstants.h"
#include "core/jobs/JobController.h"
#include "core/log/EventLog.h"
#include "core/platform/CommandLine.h"
#include "core/platform/NamedMutex.h"
#include "core/platform/RegistryFile.h"
#include "core/platform/TempFolder.h"
#include "core/update/VersionInfo.h"
#include "gui/about/AboutBox.h"
#include "gui/about/HelpViewer.h"
#include "gui/browser/ArchiveTree.h"
#include "gui/browser/PrintPreview.h"
#include "gui/browser/ReportViewer.h"
#include "gui/common/FormLook.h"
#include "gui/common/MessageDlg.h"
#include "gui/common/Pictures.h"
#include "gui/common/Translations.h"
#include "gui/config/SettingsDialog.h"
#include "gui/main/MainWindow.h"
#include "gui/print/OrientationQuestion.h"
#include "gui/print/UiJobHost.h"
#include "gui/update/VersionCheck.h"
#include "print/CupsPrinterCatalog.h"
#include "print/JobFollower.h"
#include "print/PrintWorker.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const char* const kUsage =
    "usage: tarnyx [/min] [/log] [/RegSaveSettings] [/srcexe FILE]\n"
    "       tarnyx --help | --version\n"
    "The print manager in the notification area: prints each report that appears in the spool\n"
    "directories of its settings. Switches (with \"/\" or \"-\", any letter case):\n"
    "  min              start hidden in the tray (when the settings keep it in the tray)\n"
    "  log              record the start and the shutdown in tarnyx.log in the working directory\n"
    "  RegSaveSettings  write the update constants back to the settings\n"
    "  /srcexe FILE     delete FILE when the program ends\n";

// "--help" and "--version" answer on stdout and end the program before anything starts: no
// display, no lock, no running copy is needed for them. -1 when neither is given.
int answerInformationSwitch(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/srcexe") == 0) { // its path is a file name, whatever it says
            ++i;
            continue;
        }
        const bool help = std::strcmp(argv[i], "--help") == 0;
        if (!help && std::strcmp(argv[i], "--version") != 0)
            continue;
        if (help)
            std::fputs(kUsage, stdout);
        else
            std::printf("tarnyx %s\n", qPrintable(programVersion()));
        return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const int rc = answerInformationSwitch(argc, argv); rc >= 0)
        return rc;
    // First of all: from here on a fatal error leaves a report that the next start offers.
    installCrashHandlers(CrashReportPaths::defaults());
    GuardedApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarnyx"));
    // No display name: the desktop would append it to every caption ("Chyba — Tarnyx"), and the
    // captions are the program's own; the application's name stands in for it where asked.
    QApplication::setApplicationVersion(QStringLiteral(TARNYX_VERSION_STRING));
    QApplication::setWindowIcon(pictures::applicationIcon()); // every window's title bar
    QApplication::setQuitOnLastWindowClosed(false);
    // The program speaks Czech, so the desktop's standard dialogs (folders, page setup) do too.
    installCzechTranslations();
    const QStringList args = platform::programArguments(argc, argv);
    loadSettingsConstants(args);
    const platform::NamedMutex mutex(QStringLiteral("mutex_morvane_tarnyx"));

    // A second copy of the same program file shows the first one and ends.
    MainWindow* window = nullptr;
    SingleInstance instance;
    if (instance.activateRunningCopy(platform::programFilePath(), [&window] {
            if (window)
                window->restoreFromTray();
        }))
        return 0;

    // A signal ends the program the way "Konec" does, so that shutdown runs in order. One that
    // comes before the main window exists (during the first-run greeting) ends the dialog, and
    // the program then ends instead of starting.
    bool endRequested = false;
    quitOnTerminationSignals([&window, &endRequested] {
        endRequested = true;
        if (!window) {
            // Before the main event loop runs, quit() would do nothing: every running loop
            // (the greeting's) is left instead.
            QCoreApplication::exit(0);
            return;
        }
        window->setExitRequested(true);
        window->close();
    });

    // Print folders of copies that were killed would otherwise stay for good.
    platform::TempFolder::removeLeftovers(QDir::tempPath());

    int rc = 0;
    {
        CupsPrinterCatalog printers;
        // The printer named in the settings is checked on a thread of its own: a scheduler that
        // hangs holds neither the main window nor the start of printing.
        auto controller =
            std::make_unique<JobController>(args, printers, std::make_unique<CupsPrinterCatalog>());
        setShowHints(controller->settings().showHints);
        setHintHidePause(controller->settings().hintHidePause);
        UiJobHost host(*controller);
        controller->setWorkerFactory([&controller, &printers, &host](const QString& path) {
            return std::make_unique<PrintWorker>(path, controller->settings(), printers,
                                                 *controller, host);
        });
        // A settings file that cannot be read: the user learns it once, and why nothing is saved.
        if (const QString notice = platform::RegistryFile::takeNotice(); !notice.isEmpty())
            messageDlg(notice, MsgKind::Warning, {MsgButton::Ok});
        // The last run ended with a fatal error: its report is offered once.
        if (const QString crash = takePendingCrashReport(CrashReportPaths::defaults());
            !crash.isEmpty())
            showCrashReport(CrashReportDialog::Occasion::LastRun, crash);
        const QString greeting = controller->checkFirstRun();
        if (!greeting.isEmpty())
            messageDlg(greeting, MsgKind::Information, {MsgButton::Ok},
                       QStringLiteral("Nová verze"));
        // An error in an event handler before the main loop runs ends the program here.
        if (endRequested || app.failed()) {
            controller.reset();
            freeAppLog();
            return app.failed() ? GuardedApplication::kFailureExitCode : 0;
        }
        controller->startupTimer().start();
        MainWindow::Dialogs dialogs;
        const auto showHelp = [](QWidget* parent, const QString& topic) {
            showHelpTopic(parent, defaultHelpFile(), topic);
        };
        dialogs.help = [showHelp](const QString& topic) {
            showHelp(nullptr, topic);
        };
        dialogs.closeHelp = [] {
            closeAllHelp();
        };
        dialogs.settings = [&](QWidget* owner) {
            SetupServices services;
            services.documentInProgress = [&controller] {
                return controller->isPrinting();
            };
            services.showHelp = showHelp;
            services.closeHelp = dialogs.closeHelp;
            // Over a hidden main window (the program sits in the tray) the dialog stands alone.
            if (owner && !owner->isVisible())
                owner = nullptr;
            SettingsDialog dialog(controller->settings(), printers, std::move(services), owner);
            if (!owner) {
                dialog.adjustSize();
                centerOnScreen(&dialog);
            }
            dialog.exec();
        };
        dialogs.browser = [&controller](QWidget* owner) {
            ArchiveTree::showArchiveTree(controller->settings(), *controller, owner);
        };
        dialogs.about = [](QWidget* owner) {
            showAboutBox(owner);
        };
        dialogs.updateCheck = [&controller](QWidget* owner) {
            return runManualVersionCheck(controller->settings(),
                                         updateServices(controller->settings(), owner));
        };
        auto form = std::make_unique<MainWindow>(*controller, args, dialogs);
        window = form.get();
        // The daily check at start offers a new version once the main window is in front; an
        // installer that was started ends the program at once, so that it can replace it.
        AutomaticVersionCheck versionCheck(
            controller->settings(), form.get(),
            [&controller, &form] { return updateServices(controller->settings(), form.get()); });
        QObject::connect(&versionCheck, &AutomaticVersionCheck::installerStarted,
                         [] { QCoreApplication::exit(0); });
        controller->setStartupHook(
            [&versionCheck] { versionCheck.startIfDue(QDate::currentDate()); });
        host.setStatusView([&form] { form->refreshStatus(); });
        // Every report the print server took is followed to the paper, and the printer reports
        // go to is watched, on a thread of their own.
        JobFollower follower;
        host.setJobFollower([&follower](const SubmittedJob& job) { follower.follow(job); });
        QObject::connect(form.get(), &MainWindow::printerShown, &follower,
                         &JobFollower::setPrinter);
        QObject::connect(&follower, &JobFollower::printerChanged, form.get(),
                         &MainWindow::showPrinterStatus);
        QObject::connect(&follower, &JobFollower::waitingChanged, form.get(),
                         &MainWindow::showWaitingReports);
        QObject::connect(&follower, &JobFollower::jobEnded, form.get(), &MainWindow::showJobEnded);
        follower.setPrinter(controller->settings().printer);
        // "Náhled" in the question shows the report in a viewer that closes with the question.
        const OrientPreviewOpener preview = [&controller](const ReportHeader& report,
                                                          QWidget* question) {
            ReportViewer::showReport(question, report, true, nullptr, &controller->settings());
        };
        // "Náhled tisku" shows the pages as the printer will get them; from the question it offers
        // no "Tisk", since the report is being printed already.
        const OrientPreviewOpener printPreview = [&controller,
                                                  &printers](const ReportHeader& report,
                                                             QWidget* question) {
            showPrintPreview(report.fileName, controller->settings(), printers, nullptr, question);
        };
        host.setOrientationDialog([&](const ReportHeader& h) {
            return runOrientationQuestion(h, controller->settings(), window, preview, printPreview);
        });
        ReportViewer::setPrintPreviewOpener(
            [&controller, &printers](const QString& path, JobState* queue, QWidget* viewer) {
                showPrintPreview(path, controller->settings(), printers, queue, viewer);
            });
        form->showInitially();

        rc = QApplication::exec();
        // Every way out of the event loop ends here: the running job is abandoned, and its calls
        // to this thread are answered until it has ended, before anything it uses is freed.
        controller->beginShutdown();
        const bool workerEnded = controller->waitForWorker(2500);
        window = nullptr;
        host.setStatusView(nullptr);
        host.setJobFollower(nullptr);
        host.setOrientationDialog(nullptr);
        ReportViewer::setPrintPreviewOpener(nullptr);
        form.reset();
        if (!workerEnded) {
            // Stuck in a call to the print server: what it uses is never freed, the report stays
            // in its spool directory (the journal knows whether the server got it), and the
            // program ends at once, its settings and log saved.
            appLog().addEntry(QStringLiteral("PrnThread"), QStringLiteral("abandoned"));
            controller->forgetWorker();
            controller->shutdown();
            std::fflush(nullptr);
            ::_exit(0);
        }
        controller.reset();
    }
    freeAppLog();
    return rc;
}
