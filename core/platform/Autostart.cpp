#include "core/platform/Autostart.h"

#include "core/platform/CommandLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace platform::autostart {

namespace {

QString configHome()
{
    const QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!base.isEmpty() && QDir::isAbsolutePath(base))
        return base;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString fileNameFor(const QString& valueName)
{
    QString name = valueName.toLower();
    name.replace(u'/', u'_');
    return name + QStringLiteral(".desktop");
}

// String values of desktop files escape backslash and line breaks.
QString escapeValue(const QString& s)
{
    QString out;
    for (const QChar c : s) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        default:
            out += c;
        }
    }
    if (out.startsWith(u' '))
        out.replace(0, 1, QStringLiteral("\\s"));
    return out;
}

QString unescapeValue(const QString& s)
{
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c != u'\\' || i + 1 == s.size()) {
            out += c;
            continue;
        }
        switch (s.at(++i).unicode()) {
        case u's':
            out += u' ';
            break;
        case u'n':
            out += u'\n';
            break;
        case u'r':
            out += u'\r';
            break;
        case u't':
            out += u'\t';
            break;
        default:
            out += s.at(i);
        }
    }
    return out;
}

QString quoteExecArg(const QString& arg)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString out;
    bool needsQuotes = arg.isEmpty();
    for (const QChar c : arg) {
        if (reserved.contains(c))
            needsQuotes = true;
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out += u'\\';
        out += c;
    }
    out.replace(u'%', QStringLiteral("%%"));
    return needsQuotes ? u'"' + out + u'"' : out;
}

} // namespace

QString userEntryPath(const QString& valueName)
{
    return configHome() + QStringLiteral("/autostart/") + fileNameFor(valueName);
}

QString machineEntryPath(const QString& valueName)
{
    QString dir = qEnvironmentVariable("XDG_CONFIG_DIRS").section(u':', 0, 0);
    if (dir.isEmpty())
        dir = QStringLiteral("/etc/xdg");
    return dir + QStringLiteral("/autostart/") + fileNameFor(valueName);
}

QString execLine(const QString& commandLine)
{
    QStringList quotedArgs;
    for (const QString& arg : splitWindowsCommandLine(commandLine))
        quotedArgs << quoteExecArg(arg);
    return quotedArgs.join(u' ');
}

std::optional<QString> readCommand(const QString& entryPath)
{
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::optional<QString> exec;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.startsWith(QStringLiteral("X-Tarnyx-CommandLine=")))
            return unescapeValue(line.section(u'=', 1));
        if (line.startsWith(QStringLiteral("Exec=")))
            exec = unescapeValue(line.section(u'=', 1));
    }
    return exec ? exec : QString();
}

bool writeCommand(const QString& entryPath, const QString& valueName, const QString& commandLine)
{
    if (!QDir().mkpath(QFileInfo(entryPath).absolutePath()))
        return false;
    QSaveFile file(entryPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=%1\n"
                                        "Exec=%2\n"
                                        "X-Tarnyx-CommandLine=%3\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(escapeValue(valueName), escapeValue(execLine(commandLine)),
                                  escapeValue(commandLine));
    file.write(text.toUtf8());
    return file.commit();
}

bool remove(const QString& entryPath)
{
    return !QFileInfo::exists(entryPath) || QFile::remove(entryPath);
}

} // namespace platform::autostart
