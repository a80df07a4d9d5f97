#include "core/TxLog.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringView>

#include <memory>

namespace {

// A record as one line of the file can hold it: a line break inside a field would split the
// record into lines that no longer parse; a "]" inside the time would end the time early and shift
// the rest into the title; and a description starting with ">" would pair with the separator, so
// that reading merges it into the title. Such fields only come from callers, never from the clock
// or from a loaded file.
TJvLogRecord storable(TJvLogRecord record)
{
    for (QString* field : {&record.Time, &record.Title, &record.Description}) {
        field->replace(u'\r', u' ');
        field->replace(u'\n', u' ');
    }
    record.Time.replace(u']', u')');
    if (record.Description.startsWith(u'>'))
        record.Description.prepend(u' ');
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
void parseLine(QStringView line, TJvLogRecordList& records)
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

    TJvLogRecord record;
    record.Time = afterOpen.first(close).toString();
    if (separator < 0) {
        record.Title = titlePart.toString();
    } else {
        record.Title = titlePart.first(separator).toString();
        record.Description = titlePart.sliced(separator + 1).toString();
    }
    record.Title.replace(QStringLiteral(">>"), QStringLiteral(">"));
    records.append(std::move(record));
}

std::unique_ptr<TJvLogFile>& appLogInstance()
{
    static std::unique_ptr<TJvLogFile> log;
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

TJvLogFile::~TJvLogFile()
{
    autoSave();
}

void TJvLogFile::SetFileName(const QString& name)
{
    m_fileName = name;
    if (m_fileName.isEmpty()) {
        m_autoSave = false;
        return;
    }
    if (QFileInfo::exists(m_fileName))
        LoadLog(m_fileName);
}

void TJvLogFile::SetAutoSave(bool autoSave)
{
    m_autoSave = autoSave && !m_fileName.isEmpty();
}

void TJvLogFile::AddEntry(const QString& title, const QString& description)
{
    AddTimedEntry(FormatTime(QDateTime::currentDateTime()), title, description);
}

void TJvLogFile::AddTimedEntry(const QString& time, const QString& title,
                               const QString& description)
{
    if (!m_active)
        return;
    m_records.append(storable({time, title, description}));
    // Trimming saves on its own; without a limit save here.
    if (m_sizeLimit > 0)
        TrimToLimit();
    else
        autoSave();
}

void TJvLogFile::ClearEntries()
{
    m_records.clear();
    autoSave();
}

void TJvLogFile::DeleteEntry(qsizetype index)
{
    if (index < 0 || index >= m_records.size())
        return;
    m_records.removeAt(index);
    autoSave();
}

void TJvLogFile::TrimToLimit()
{
    if (m_sizeLimit <= 0)
        return;
    // Walk from the newest record back until the lines walked over reach the limit; the record
    // the walk stopped at is the oldest one kept.
    qint64 total = 0;
    qsizetype oldestKept = m_records.size();
    while (oldestKept > 0 && total < m_sizeLimit) {
        --oldestKept;
        total += FormatLine(m_records.at(oldestKept)).size();
    }
    if (oldestKept > 0)
        m_records.remove(0, oldestKept);
    autoSave();
}

bool TJvLogFile::LoadLog(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        reportFailure(QStringLiteral("tarnyx: the event log %1 cannot be read: %2")
                          .arg(QFileInfo(fileName).absoluteFilePath(), file.errorString()));
        return false;
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        reportFailure(QStringLiteral("tarnyx: the event log %1 cannot be read: %2")
                          .arg(QFileInfo(fileName).absoluteFilePath(), file.errorString()));
        return false;
    }
    m_records = ParseLog(content);
    return true;
}

bool TJvLogFile::SaveLog(const QString& fileName)
{
    QByteArray content;
    for (const TJvLogRecord& record : std::as_const(m_records))
        content += FormatLine(record);

    // Written beside the old file and renamed over it, so a failing write (a full disk) leaves
    // the previous log in place instead of a cut-off one. Where the directory cannot take the
    // temporary file, the file itself is rewritten.
    QSaveFile file(fileName);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        reportFailure(QStringLiteral("tarnyx: the event log %1 cannot be written: %2")
                          .arg(QFileInfo(fileName).absoluteFilePath(), file.errorString()));
        return false;
    }
    return true;
}

QByteArray TJvLogFile::FormatLine(const TJvLogRecord& record)
{
    const TJvLogRecord line = storable(record);
    QString title = line.Title;
    title.replace(QStringLiteral(">"), QStringLiteral(">>"));
    return (u'[' + line.Time + u']' + title + u'>' + line.Description + QStringLiteral("\r\n"))
        .toUtf8();
}

TJvLogRecordList TJvLogFile::ParseLog(const QByteArray& content)
{
    // Invalid UTF-8 becomes replacement characters; it never hides a line break, since those are
    // single bytes that no multi-byte sequence contains.
    const QString text = QString::fromUtf8(content);
    const QStringView view(text);
    TJvLogRecordList records;
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

QString TJvLogFile::FormatTime(const QDateTime& when, const QLocale& locale)
{
    const QDateTime local = when.toLocalTime();
    return locale.toString(local.date(), locale.dateFormat(QLocale::ShortFormat)) + u' ' +
           locale.toString(local.time(), withoutTimeZone(locale.timeFormat(QLocale::LongFormat)));
}

void TJvLogFile::autoSave()
{
    if (m_autoSave && !m_fileName.isEmpty())
        SaveLog(m_fileName);
}

void TJvLogFile::reportFailure(const QString& message)
{
    // The log is a diagnostic aid: a problem with its file must not stop the program, and one
    // note is enough, since every later record would hit the same problem.
    if (m_failureReported)
        return;
    m_failureReported = true;
    qWarning("%s", qUtf8Printable(message));
}

TJvLogFile& AppLog()
{
    std::unique_ptr<TJvLogFile>& log = appLogInstance();
    if (!log)
        log = std::make_unique<TJvLogFile>();
    return *log;
}

void FreeAppLog()
{
    appLogInstance().reset();
}

void SetUpAppLog(const QString& programFileName, bool logSwitch)
{
    TJvLogFile& log = AppLog();
    log.SetSizeLimit(20480);
    log.SetFileName(logFileNameFor(programFileName));
    log.SetAutoSave(true);
    log.SetActive(logSwitch);
    log.AddEntry(QStringLiteral("---------- Start ---------"), QString());
}
