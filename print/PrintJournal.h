#pragma once

#include "core/platform/FileInfo.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>

#include <optional>

// A report on its way to a CUPS queue, as the print journal keeps it.
struct JournalEntry
{
    QString path;                  // the report file in its spool directory
    platform::FileIdentity report; // the file that was printed from that path
    QString queue;
    QString title;        // the job's name
    qint64 submitted = 0; // when it was handed over, seconds since the epoch
    int jobId = 0;        // the scheduler's job, once it has accepted the document

    bool operator==(const JournalEntry&) const = default;
};

// A small file beside the settings that survives a crash or a kill of the program: before a
// report's document goes to CUPS the report is entered, with the job id once CUPS has accepted
// it, and the entry is removed once the report has been archived or deleted. A later start that
// finds the report of an entry still in its spool directory asks CUPS about the job instead of
// printing the report a second time.
//
// Every change is a read-modify-write under a lock, saved in one step, so copies of the program
// that serve other spool directories share the file safely. A line that cannot be read is
// dropped; a journal that cannot be written only costs that protection.
class PrintJournal
{
public:
    explicit PrintJournal(QString path);
    // Beside the settings: $XDG_CONFIG_HOME/Morvane/print-journal.
    static QString defaultPath();

    const QString& path() const { return m_path; }

    // Enters (or replaces) the entry of entry.path.
    bool record(const JournalEntry& entry) const;
    // The job id CUPS gave the report at `path`.
    bool setJobId(const QString& path, int jobId) const;
    bool remove(const QString& path) const;
    std::optional<JournalEntry> find(const QString& path) const;
    QList<JournalEntry> entries() const;

    // The file's text form: one entry a line, fields separated by tabs, texts percent-encoded.
    static QByteArray format(const QList<JournalEntry>& entries);
    static QList<JournalEntry> parse(const QByteArray& text);

private:
    bool modify(const std::function<void(QList<JournalEntry>&)>& change) const;

    QString m_path;
};

// What the journal says about a report about to be printed.
enum class PriorPrint
{
    None,    // no document of this report reached CUPS: print it
    Printed, // CUPS holds (or has printed) a document of this very file: do not print it again
    Unknown  // the scheduler cannot be asked now
};

// Looks the report up in the journal and, when it was handed to CUPS before, asks CUPS what
// became of that job (by its id, or by its name and time when the program ended before it
// learned the id). An entry of another file at the same path, or of a job CUPS cancelled or no
// longer knows, is removed. `stop`, when given, is the asking job's: see cupsclient.
PriorPrint checkPriorPrint(const PrintJournal& journal, const QString& path,
                           const platform::FileIdentity& report,
                           const std::atomic<bool>* stop = nullptr);
