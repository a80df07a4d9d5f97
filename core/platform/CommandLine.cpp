#include "core/platform/CommandLine.h"

#include "core/platform/FileName.h"

#include <QCoreApplication>

#include <algorithm>

namespace platform {

QStringList programArguments(int argc, const char* const* argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << decodeFileName(argv[i]);
    return args;
}

bool isCmdLineSwitch(const QString& arg, const QString& name)
{
    return arg.size() == name.size() + 1 && (arg.front() == u'/' || arg.front() == u'-') &&
           QStringView(arg).mid(1).compare(name, Qt::CaseInsensitive) == 0;
}

bool findCmdLineSwitch(const QStringList& args, const QString& name)
{
    return std::any_of(args.cbegin(), args.cend(),
                       [&name](const QString& arg) { return isCmdLineSwitch(arg, name); });
}

QString programFilePath()
{
    return QCoreApplication::applicationFilePath();
}

QString programDirectory()
{
    return QCoreApplication::applicationDirPath();
}

QStringList splitWindowsCommandLine(const QString& commandLine)
{
    QStringList args;
    QString current;
    bool inQuotes = false;
    bool hasArg = false;
    for (const QChar c : commandLine) {
        if (c == u'"') {
            inQuotes = !inQuotes;
            hasArg = true;
        } else if (!inQuotes && (c == u' ' || c == u'\t')) {
            if (hasArg)
                args << current;
            current.clear();
            hasArg = false;
        } else {
            current.append(c);
            hasArg = true;
        }
    }
    if (hasArg)
        args << current;
    return args;
}

} // namespace platform
