#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>

struct EventLogRecord
{
    QString time;
    QString title;
    QString description;
    bool operator==(const EventLogRecord&) const = default;
};

using EventLogRecordList = QList<EventLogRecord>;

// The event log: timed records kept in a small text file, one record a line:
// "[" time "]" title-with-">"-doubled ">" description CR LF.
//
// A log file that cannot be read or written never stops the program: the first such problem is
// written once to stderr and the log goes on in memory.
class EventLog
{
public:
    EventLog() = default;
    ~EventLog(); // saves once more when autoSave is on
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    const QString& fileName() const { return m_fileName; }
    // Stores the name; when that file exists, loads it.
    void setFileName(const QString& name);
    bool isActive() const { return m_active; }
    void setActive(bool active) { m_active = active; }
    bool autoSave() const { return m_autoSave; }
    // Only takes effect while fileName is not empty.
    void setAutoSave(bool autoSave);
    void setSizeLimit(int bytes) { m_sizeLimit = bytes; }

    const EventLogRecordList& records() const { return m_records; }

    void addEntry(const QString& title, const QString& description);
    void addTimedEntry(const QString& time, const QString& title, const QString& description);
    void clearEntries();
    void deleteEntry(qsizetype index);
    // Drops the oldest records so that the newest ones just reach sizeLimit bytes.
    void trimToLimit();

    bool loadLog(const QString& fileName);
    bool saveLog(const QString& fileName);

    // One record as a line of the file, CR LF included.
    static QByteArray formatLine(const EventLogRecord& record);
    // The records of a log file's content; lines that do not parse are dropped.
    static EventLogRecordList parseLog(const QByteArray& content);
    // The local date and time in the locale's short date and long time format, the time without
    // a time zone.
    static QString formatTime(const QDateTime& when, const QLocale& locale = QLocale::system());

private:
    void saveIfAutomatic();
    void reportFailure(const QString& message);

    QString m_fileName;
    bool m_active = false;
    bool m_autoSave = false;
    int m_sizeLimit = 0;
    bool m_failureReported = false;
    EventLogRecordList m_records;
};

// The process-wide event log, created on first use.
EventLog& appLog();
// Frees the event log (saving it when autoSave is on); the next appLog() creates a fresh one.
void freeAppLog();

// Sets the log up as the program does at start: size limit 20480, the file named after the
// program in the working directory (loaded when it exists), automatic saving, recording only
// with the switch "log"; then records the start.
void setUpAppLog(const QString& programFileName, bool logSwitch);
