#pragma once

#include "core/report/ReportHeader.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

// Finding text in every archived report of a set of archive directories, without any window.
//
// A report is matched as it prints: converted from its code page to Windows-1250, its style
// sequences ("^" and the two characters after it) left out, each line apart (a hit never spans
// two lines), a line cut at the length printing cuts it. Letter case is ignored and, on request,
// diacritics too; both by folding every Windows-1250 byte through one 256-entry table, so that
// matching stays byte for byte. Files are read in chunks, so a report of any size takes the same
// memory.

// Where a text was found in one report.
struct ArchiveSearchHit
{
    ReportHeader report; // the header as the archive browser reads it
    // The first hit: its page as printing breaks pages (a line starting with "^PG", or a page
    // full after the header's lines per page) and its line on that page, both from 1.
    qint64 page = 0;
    qint64 line = 0;
    // The same hit as the report viewer shows it: its row (from 0, the viewer's separator rows
    // before page breaks counted) and the byte column in the row's text without style sequences.
    qint64 viewerRow = 0;
    qint64 column = 0;
    qint64 hits = 0; // how many times the text occurs, hits not overlapping
};

// The text to look for, folded as report text is folded.
class SearchPattern
{
public:
    // An empty text, or one with a line break or a character no report can hold (with
    // diacritics ignored, its base letter counts), matches nothing: valid() is false.
    SearchPattern(const QString& text, bool ignoreDiacritics);

    bool valid() const { return !m_needle.isEmpty(); }
    bool ignoresDiacritics() const { return m_ignoreDiacritics; }
    const QByteArray& needle() const { return m_needle; }
    // Every Windows-1250 byte as it is compared: lower case, and without diacritics on request;
    // box-drawing bytes become NUL, which no needle holds.
    const std::array<char, 256>& fold() const { return m_fold; }

private:
    bool m_ignoreDiacritics;
    std::array<char, 256> m_fold{};
    QByteArray m_needle;
};

// Searches one report file. nullopt when the text is not in it, when the file is no valid
// report (as the archive browser reads it) or when `cancel` became true meanwhile; `cancel` is
// looked at between chunks.
std::optional<ArchiveSearchHit> searchReport(const QString& path, const SearchPattern& pattern,
                                             const std::atomic<bool>* cancel = nullptr);

// The archived reports of the directories, as the archive browser finds them: each directory's
// files with archived report names, sorted by name; directories that do not exist give none.
QStringList listArchivedReports(const QStringList& archiveDirectories);

// One search over archive directories on worker threads. Hits arrive in batches while the search
// runs, on the thread the object lives in; progress counts the report files. Starting anew or
// cancelling stops the running search: from then on nothing more of it is delivered.
class ArchiveSearch : public QObject
{
    Q_OBJECT
public:
    explicit ArchiveSearch(QObject* parent = nullptr);
    ~ArchiveSearch() override;

    // How many threads search the files (default: the cores, at most four).
    void setThreadCount(int threads);

    // Starts a search for `text` in the archived reports of `archiveDirectories`. An empty text
    // or one that matches nothing finishes at once with no hits.
    void start(const QStringList& archiveDirectories, const QString& text, bool ignoreDiacritics);
    // Stops the running search; returns when its threads have stopped. finished(true) follows.
    void cancel();
    bool running() const { return m_job != nullptr; }

signals:
    void hitsFound(const QList<ArchiveSearchHit>& hits);
    void progress(qint64 filesDone, qint64 filesTotal);
    // Once for every search started; `cancelled` when it was stopped before its end.
    void finished(bool cancelled);

private:
    struct Job;
    void deliver(const std::shared_ptr<Job>& job);
    void stopJob(bool emitFinished);

    int m_threads;
    std::shared_ptr<Job> m_job;
    std::thread m_runner;
};
