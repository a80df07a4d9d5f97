#pragma once

#include <QStringList>

namespace platform {

// The program's arguments without the program itself: argv as the application object left it
// (without the options Qt took for itself), each decoded as a file name, so that a path that is
// not valid UTF-8 still names its file.
QStringList programArguments(int argc, const char* const* argv);

// True when `arg` is the switch `name` introduced by "/" or "-", compared without regard to case;
// findCmdLineSwitch: when one of `args` is.
bool isCmdLineSwitch(const QString& arg, const QString& name);
bool findCmdLineSwitch(const QStringList& args, const QString& name);

// The program file's full path and its directory.
QString programFilePath();
QString programDirectory();

// Splits a command line the way Windows programs do: blanks separate arguments, double quotes
// group blanks into one argument and are removed.
QStringList splitWindowsCommandLine(const QString& commandLine);

} // namespace platform
