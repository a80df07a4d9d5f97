#include "core/log/EventLog.h"

#include "core/platform/FileName.h"
#include "core/platform/OutputFile.h"
#include "core/platform/WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringView>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A record as one line of the file can hold it: a line break inside a field would split the
// record into lines that no longer parse; a "]" inside the time would end the time early and shift
// the rest into the title; and a description starting with ">" would pair with the separator, so
// that reading merges it into the title. Such fields only come from callers, never from the clock
// or from a loaded file.
EventLogRecord storable(EventLogRecord record)
{
    for (QString* field : {&record.time, &record.title, &record.description}) {
        field->replace(u'\r', u' ');
        field->replace(u'\n', u' ');
        // A file name's bytes that are no text are shown as such, never written half-encoded.
        *field = platform::displayFileName(*field);
    }
    record.time.replace(u']', u')');
    if (record.description.startsWith(u'>'))
        record.description.prepend(u' ');
    return record;
}

// A time format without its time-zone token "t" (and the comma, blank or brackets that go with
// it), so that the logged time reads like a plain local time. Quoted literal text is kept.
QString withoutTimeZone(const QString& format)
{
    static const QRegularExpression zone(QStringLiteral(R"([\s,]*[(\[]?t+[)\]]?)"));
    QString result;
    bool quoted = false;
    qsizetype pos = 0;
    while (pos <= format.size()) {
        qsizetype quote = format.indexOf(u'\'', pos);
        if (quote < 0)
            quote = format.size();
        QString segment = format.mid(pos, quote - pos);
        if (!quoted)
            segment.remove(zone);
        result += segment;
        if (quote < format.size())
            result += u'\'';
        quoted = !quoted;
        pos = quote + 1;
    }
    return result.trimmed();
}

// One line of the file, without its line break, appended to records when it parses.
void parseLine(QStringView line, EventLogRecordList& records)
{
    const qsizetype open = line.indexOf(u'[');
    if (open < 0)
        return;
    const QStringView afterOpen = line.sliced(open + 1);
    const qsizetype close = afterOpen.indexOf(u']');
    if (close < 0)
        return;
    const QStringView titlePart = afterOpen.sliced(close + 1);

    // The separator is the first ">" that is not one half of an escaped ">>".
    qsizetype separator = -1;
    for (qsizetype i = 0; i < titlePart.size(); ++i) {
        if (titlePart[i] != u'>')
            continue;
        if (i + 1 < titlePart.size() && titlePart[i + 1] == u'>') {
            ++i;
            continue;
        }
        separator = i;
        break;
    }

    EventLogRecord record;
    record.time = afterOpen.first(close).toString();
    if (separator < 0) {
        record.title = titlePart.toString();
    } else {
        record.title = titlePart.first(separator).toString();
        record.description = titlePart.sliced(separator + 1).toString();
    }
    record.title.replace(QStringLiteral(">>"), QStringLiteral(">"));
    records.append(std::move(record));
}

std::unique_ptr<EventLog>& appLogInstance()
{
    static std::unique_ptr<EventLog> log;
    return log;
}

// "tarnyx" gives "tarnyx.log", "Tarnyx.exe" gives "Tarnyx.log".
QString logFileNameFor(const QString& programFileName)
{
    QString name = QFileInfo(programFileName).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot > 0)
        name.truncate(dot);
    if (name.isEmpty())
        name = QStringLiteral("tarnyx");
    return name + QStringLiteral(".log");
}

} // namespace

EventLog::~EventLog()
{
    saveIfAutomatic();
}

void EventLog::setFileName(const QString& name)
{
    m_fileName = name;
    if (m_fileName.isEmpty()) {
        m_autoSave = false;
        return;
    }
    if (QFileInfo::exists(m_fileName))
        loadLog(m_fileName);
}

void EventLog::setAutoSave(bool autoSave)
{
    m_autoSave = autoSave && !m_fileName.isEmpty();
}

void EventLog::addEntry(const QString& title, const QString& description)
{
    addTimedEntry(formatTime(QDateTime::currentDateTime()), title, description);
}

void EventLog::addTimedEntry(const QString& time, const QString& title, const QString& description)
{
    if (!m_active)
        return;
    m_records.append(storable({time, title, description}));
    // Trimming saves on its own; without a limit save here.
    if (m_sizeLimit > 0)
        trimToLimit();
    else
        saveIfAutomatic();
}

void EventLog::clearEntries()
{
    m_records.clear();
    saveIfAutomatic();
}

void EventLog::deleteEntry(qsizetype index)
{
    if (index < 0 || index >= m_records.size())
        return;
    m_records.removeAt(index);
    saveIfAutomatic();
}

void EventLog::trimToLimit()
{
    if (m_sizeLimit <= 0)
        return;
    // Walk from the newest record back until the lines walked over reach the limit; the record
    // the walk stopped at is the oldest one kept.
    qint64 total = 0;
    qsizetype oldestKept = m_records.size();
    while (oldestKept > 0 && total < m_sizeLimit) {
        --oldestKept;
        total += formatLine(m_records.at(oldestKept)).size();
    }
    if (oldestKept > 0)
        m_records.remove(0, oldestKept);
    saveIfAutomatic();
}

bool EventLog::loadLog(const QString& fileName)
{
    // The log is a file of the program's own: read through no link of another user's, which
    // could lead to a file of this user's that the next save would then copy into the log.
    const platform::OutputTarget target = platform::resolveOutputTarget(fileName, true);
    // Not blocking on a pipe someone put in its place, and reading only a plain file.
    int fd = target.kind == platform::OutputTarget::Kind::Refused
                 ? (errno = target.error, -1)
                 : ::open(platform::encodeFileName(target.path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st
    {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        ::close(fd);
        fd = -1;
        errno = EINVAL;
    }
    const std::optional<QByteArray> content = fd < 0 ? std::nullopt : platform::readAll(fd);
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    if (fd >= 0)
        ::close(fd);
    if (!content) {
        reportFailure(QStringLiteral("tarnyx: the event log %1 cannot be read: %2")
                          .arg(QFileInfo(fileName).absoluteFilePath(), why));
        return false;
    }
    m_records = parseLog(*content);
    return true;
}

bool EventLog::saveLog(const QString& fileName)
{
    QByteArray content;
    for (const EventLogRecord& record : std::as_const(m_records))
        content += formatLine(record);

    // Written beside the old file and renamed over it, so a failing write (a full disk) leaves
    // the previous log in place instead of a cut-off one. Where the directory cannot take the
    // temporary file, the file itself is rewritten. A log linked to a device or a FIFO goes into
    // it. The working folder may be shared: a link or a stream there of another user's is
    // replaced, never written through, and the log is readable by this user alone.
    const platform::SaveResult saved = platform::replaceOwnFile(fileName, content, true);
    if (!saved.saved) {
        reportFailure(QStringLiteral("tarnyx: the event log %1 cannot be written: %2")
                          .arg(QFileInfo(fileName).absoluteFilePath(), saved.error));
        return false;
    }
    return true;
}

QByteArray EventLog::formatLine(const EventLogRecord& record)
{
    const EventLogRecord line = storable(record);
    QString title = line.title;
    title.replace(QStringLiteral(">"), QStringLiteral(">>"));
    return (u'[' + line.time + u']' + title + u'>' + line.description + QStringLiteral("\r\n"))
        .toUtf8();
}

EventLogRecordList EventLog::parseLog(const QByteArray& content)
{
    // Invalid UTF-8 becomes replacement characters; it never hides a line break, since those are
    // single bytes that no multi-byte sequence contains.
    const QString text = QString::fromUtf8(content);
    const QStringView view(text);
    EventLogRecordList records;
    qsizetype pos = 0;
    while (pos < view.size()) {
        qsizetype end = pos;
        while (end < view.size() && view[end] != u'\r' && view[end] != u'\n')
            ++end;
        parseLine(view.sliced(pos, end - pos), records);
        // CR LF, LF and a lone CR each end a line.
        if (end + 1 < view.size() && view[end] == u'\r' && view[end + 1] == u'\n')
            pos = end + 2;
        else
            pos = end + 1;
    }
    return records;
}

QString EventLog::formatTime(const QDateTime& when, const QLocale& locale)
{
    const QDateTime local = when.toLocalTime();
    return locale.toString(local.date(), locale.dateFormat(QLocale::ShortFormat)) + u' ' +
           locale.toString(local.time(), withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

void EventLog::saveIfAutomatic()
{
    if (m_autoSave && !m_fileName.isEmpty())
        saveLog(m_fileName);
}

void EventLog::reportFailure(const QString& message)
{
    // The log is a diagnostic aid: a problem with its file must not stop the program, and one
    // note is enough, since every later record would hit the same problem.
    if (m_failureReported)
        return;
    m_failureReported = true;
    qWarning("%s", qUtf8Printable(message));
}

EventLog& appLog()
{
    std::unique_ptr<EventLog>& log = appLogInstance();
    if (!log)
        log = std::make_unique<EventLog>();
    return *log;
}

void freeAppLog()
{
    appLogInstance().reset();
}

void setUpAppLog(const QString& programFileName, bool logSwitch)
{
    EventLog& log = appLog();
    log.setSizeLimit(20480);
    log.setFileName(logFileNameFor(programFileName));
    log.setAutoSave(true);
    log.setActive(logSwitch);
    log.addEntry(QStringLiteral("---------- Start ---------"), QString());
}
