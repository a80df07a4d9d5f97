#pragma once

#include <QString>

// Reports of errors that nothing else handles. A report says which program and version failed,
// on which system, what happened and on which thread; it carries the program's settings (the
// product's keys of the registry hive) and an identifier of the machine that cannot be traced
// back to the machine's own id. Nothing is sent anywhere: the user may save a report to a file.
//
// Errors that end the process at once (a fatal signal, an exception that escapes a thread) leave
// a report file in the report directory; the next start finds it and offers it to the user.

// Where the reporter reads and writes.
struct CrashReportPaths
{
    QString reportDir;     // reports left by fatal errors
    QString machineIdPath; // the machine's id, hashed before it goes into a report
    QString hivePath;      // the registry hive whose product keys a report carries

    // $XDG_STATE_HOME/Morvane/Tarnyx/crash ($HOME/.local/state when unset), /etc/machine-id and
    // the registry hive file.
    static CrashReportPaths defaults();
};

// SHA-256 (hex) of a program-specific salt followed by the machine's id; "neznámý" when the id
// cannot be read.
QString machineIdentifier(const QString& machineIdPath);

// The product's keys of the hive, in the regedit text form, under a heading.
QString settingsDump(const QString& hivePath);

// A whole report on an error that happened now: `what` happened on the thread `thread`.
QString composeCrashReport(const QString& what, const QString& thread,
                           const CrashReportPaths& paths);

// From now on, a fatal signal (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) or std::terminate
// writes a report file into paths.reportDir (created here) before the process dies. The process
// still dies by the signal (std::terminate by SIGABRT), so core dumps and the exit status stay as
// they were. Call it first thing in main, on the thread that will show the windows.
void installCrashHandlers(const CrashReportPaths& paths);

// The reports fatal errors left in paths.reportDir, oldest first, followed by the settings as
// they are now; empty when there are none. The report files are removed, so each is offered once.
QString takePendingCrashReport(const CrashReportPaths& paths);
