#pragma once

#include <QStringList>

namespace platform {

// The program's arguments without the program itself.
QStringList programArguments();

// True when `args` holds `name` introduced by "/" or "-", compared without regard to case.
bool findCmdLineSwitch(const QStringList& args, const QString& name);

// The program file's full path and its directory.
QString programFilePath();
QString programDirectory();

// Splits a command line the way Windows programs do: blanks separate arguments, double quotes
// group blanks into one argument and are removed.
QStringList splitWindowsCommandLine(const QString& commandLine);

} // namespace platform
