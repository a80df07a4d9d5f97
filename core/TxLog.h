#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>

struct TJvLogRecord
{
    QString Time;
    QString Title;
    QString Description;
    bool operator==(const TJvLogRecord&) const = default;
};

using TJvLogRecordList = QList<TJvLogRecord>;

// The event log: timed records kept in a small text file, one record a line:
// "[" time "]" title-with-">"-doubled ">" description CR LF.
//
// A log file that cannot be read or written never stops the program: the first such problem is
// written once to stderr and the log goes on in memory.
class TJvLogFile
{
public:
    TJvLogFile() = default;
    ~TJvLogFile(); // saves once more when AutoSave is on
    TJvLogFile(const TJvLogFile&) = delete;
    TJvLogFile& operator=(const TJvLogFile&) = delete;

    const QString& FileName() const { return m_fileName; }
    // Stores the name; when that file exists, loads it.
    void SetFileName(const QString& name);
    bool Active() const { return m_active; }
    void SetActive(bool active) { m_active = active; }
    bool AutoSave() const { return m_autoSave; }
    // Only takes effect while fileName is not empty.
    void SetAutoSave(bool autoSave);
    int SizeLimit() const { return m_sizeLimit; }
    void SetSizeLimit(int bytes) { m_sizeLimit = bytes; }

    const TJvLogRecordList& Records() const { return m_records; }

    void AddEntry(const QString& title, const QString& description);
    void AddTimedEntry(const QString& time, const QString& title, const QString& description);
    void ClearEntries();
    void DeleteEntry(qsizetype index);
    // Drops the oldest records so that the newest ones just reach SizeLimit bytes.
    void TrimToLimit();

    bool LoadLog(const QString& fileName);
    bool SaveLog(const QString& fileName);

    // One record as a line of the file, CR LF included.
    static QByteArray FormatLine(const TJvLogRecord& record);
    // The records of a log file's content; lines that do not parse are dropped.
    static TJvLogRecordList ParseLog(const QByteArray& content);
    // The local date and time in the locale's short date and long time format, the time without
    // a time zone.
    static QString FormatTime(const QDateTime& when, const QLocale& locale = QLocale::system());

private:
    void autoSave();
    void reportFailure(const QString& message);

    QString m_fileName;
    bool m_active = false;
    bool m_autoSave = false;
    int m_sizeLimit = 0;
    bool m_failureReported = false;
    TJvLogRecordList m_records;
};

// The process-wide event log, created on first use.
TJvLogFile& AppLog();
// Frees the event log (saving it when AutoSave is on); the next AppLog() creates a fresh one.
void FreeAppLog();

// Sets the log up as the program does at start: size limit 20480, the file named after the
// program in the working directory (loaded when it exists), automatic saving, recording only
// with the switch "log"; then records the start.
void SetUpAppLog(const QString& programFileName, bool logSwitch);
