#include "platform/CommandLine.h"

#include "platform/FileName.h"

#include <QCoreApplication>

namespace platform {

QStringList programArguments(int argc, const char* const* argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << decodeFileName(argv[i]);
    return args;
}

bool findCmdLineSwitch(const QStringList& args, const QString& name)
{
    for (const QString& arg : args) {
        if (arg.size() == name.size() + 1 && (arg.front() == u'/' || arg.front() == u'-') &&
            QStringView(arg).mid(1).compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
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
