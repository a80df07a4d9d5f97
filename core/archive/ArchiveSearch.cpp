#include "core/archive/ArchiveSearch.h"

#include "core/archive/ArchiveScan.h"
#include "core/platform/SharedRead.h"
#include "core/report/CodePages.h"
#include "core/report/ReportFile.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <system_error>
#include <vector>

namespace {

// Report text is read this much at a time.
constexpr qsizetype kChunkBytes = 1024 * 1024;
// Printing keeps this much of a line and skips the rest; so does the search.
constexpr qsizetype kMaxLineBytes = ReportFile::kMaxLineLength;
// What the scan table gives for a byte that needs a closer look (a line end or a caret). Upper
// case letters never come out of folding, so this one stands out from all folded text.
constexpr char kSpecial = 'A';

// A text's letters without their diacritics: č is c, Ř is R. Letters whose stroke is no
// separate mark (ł, đ) lose it too.
QString baseLetters(const QString& text)
{
    QString out;
    const QString decomposed = text.normalized(QString::NormalizationForm_D);
    out.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.isMark())
            continue;
        switch (c.unicode()) {
        case u'ł':
            out += u'l';
            break;
        case u'Ł':
            out += u'L';
            break;
        case u'đ':
            out += u'd';
            break;
        case u'Đ':
            out += u'D';
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The Windows-1250 byte of a one-character text; nullopt when it has none.
std::optional<char> singleByte(const QString& text)
{
    if (text.size() != 1)
        return std::nullopt;
    const QByteArray bytes = unicodeToCp1250(text);
    if (bytes.size() != 1 || cp1250ToUnicode(bytes[0]) != text.front())
        return std::nullopt;
    return bytes[0];
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// A page and the line on it, from 1, of the body line `line` (from 0), as printing breaks pages:
// before every line that starts with "^PG", and after `linesPerPage` lines of a page.
// `breaks` are the "^PG" lines, ascending; only those up to `line` count.
void pageOfLine(qint64 line, const std::vector<qint64>& breaks, qint64 linesPerPage, qint64& page,
                qint64& lineOnPage)
{
    const qint64 perPage = linesPerPage > 0 ? linesPerPage : std::numeric_limits<qint64>::max();
    qint64 start = 0; // the first line of the current run of pages
    page = 1;         // the page that line `start` is on
    for (const qint64 b : breaks) {
        if (b > line)
            break;
        const qint64 before = b - start;
        page += (before > 0 ? (before - 1) / perPage : 0) + 1;
        start = b;
    }
    const qint64 n = line - start;
    page += n / perPage;
    lineOnPage = n % perPage + 1;
}

// Searches one report; its buffers are kept for the next report the same thread searches.
class ReportScanner
{
public:
    std::optional<ArchiveSearchHit> search(const QString& path, const SearchPattern& pattern,
                                           const std::atomic<bool>* cancel);

private:
    bool readHeader(platform::SharedReadFile& file, ReportHeader& header, qsizetype have,
                    bool atEnd);
    void prepareTable(const SearchPattern& pattern, int codePage);
    // Folds the whole lines in [from, to) into m_out and looks for the text there.
    void scanLines(const char* from, const char* to);
    // The same for the first kMaxLineBytes of a line longer than that; the rest is skipped.
    void scanCutLine(const char* from);
    char* foldLine(const char* from, const char* to, char* out) const;
    void findHits(const char* outEnd);

    QByteArray m_buffer;
    QByteArray m_out;
    const SearchPattern* m_pattern = nullptr;
    int m_tableCodePage = -1;
    bool m_tableIgnoresDiacritics = false;
    std::array<char, 256> m_scan{};    // each raw byte converted and folded, or kSpecial
    std::array<char, 256> m_literal{}; // each raw byte converted and folded

    // The state of the report being searched.
    qint64 m_line = 0; // the body line being read, from 0
    bool m_pendingCr = false;
    bool m_recordBreaks = true;
    std::vector<qint64> m_breaks;
    qint64 m_hits = 0;
    qint64 m_firstLine = -1;
    qint64 m_firstColumn = 0;
};

void ReportScanner::prepareTable(const SearchPattern& pattern, int codePage)
{
    m_pattern = &pattern;
    // The tables hang on the code page and on the folding alone.
    if (m_tableCodePage == codePage && m_tableIgnoresDiacritics == pattern.ignoresDiacritics())
        return;
    m_tableCodePage = codePage;
    m_tableIgnoresDiacritics = pattern.ignoresDiacritics();
    char all[256];
    for (int b = 0; b < 256; ++b)
        all[b] = char(b);
    const QByteArray converted = convertReportText(QByteArrayView(all, 256), codePage);
    for (int b = 0; b < 256; ++b) {
        const char c = converted[b];
        m_literal[size_t(b)] = pattern.fold()[uchar(c)];
        // Lines end at the raw bytes, as printing splits them before converting; the caret of a
        // style sequence is looked for in the converted text.
        const bool special = isLineEnd(char(b)) || c == '^';
        m_scan[size_t(b)] = special ? kSpecial : m_literal[size_t(b)];
    }
}

char* ReportScanner::foldLine(const char* from, const char* to, char* out) const
{
    for (const char* s = from; s < to;) {
        if (m_scan[uchar(*s)] == kSpecial && !isLineEnd(*s) && to - s >= 3) {
            s += 3;
            continue;
        }
        *out++ = m_literal[uchar(*s++)];
    }
    return out;
}

void ReportScanner::scanLines(const char* from, const char* to)
{
    char* const outStart = m_out.data();
    char* o = outStart;
    const char* s = from;
    if (m_pendingCr && s < to && *s == '\n')
        ++s;
    m_pendingCr = false;
    const qint64 firstLine = m_line;
    const char* lineStart = s;
    char* lineOut = o;
    const char* const scan = m_scan.data();
    while (s < to) {
        const char c = scan[uchar(*s)];
        if (c != kSpecial) {
            *o++ = c;
            ++s;
            continue;
        }
        if (!isLineEnd(*s)) {
            // A style sequence when two more characters of the line follow; else a plain caret.
            if (to - s >= 3 && !isLineEnd(s[1]) && !isLineEnd(s[2])) {
                if (s == lineStart && s[1] == 'P' && s[2] == 'G' && m_recordBreaks)
                    m_breaks.push_back(m_line);
                s += 3;
            } else {
                *o++ = m_literal[uchar(*s++)];
            }
            continue;
        }
        if (s - lineStart > kMaxLineBytes)
            o = foldLine(lineStart, lineStart + kMaxLineBytes, lineOut);
        *o++ = '\n';
        ++m_line;
        if (*s == '\r') {
            if (s + 1 < to && s[1] == '\n')
                ++s;
            else if (s + 1 == to)
                m_pendingCr = true;
        }
        lineStart = ++s;
        lineOut = o;
    }
    // The last line of the report, without a line end.
    if (to - lineStart > kMaxLineBytes)
        o = foldLine(lineStart, lineStart + kMaxLineBytes, lineOut);

    const qint64 lineAfter = m_line;
    m_line = firstLine;
    findHits(o);
    m_line = lineAfter;
}

void ReportScanner::scanCutLine(const char* from)
{
    if (m_recordBreaks && std::memcmp(from, "^PG", 3) == 0)
        m_breaks.push_back(m_line);
    char* o = foldLine(from, from + kMaxLineBytes, m_out.data());
    findHits(o);
    ++m_line;
}

// Counts the hits in the folded lines m_out .. outEnd, whose first line is m_line, and notes
// where the report's first hit is.
void ReportScanner::findHits(const char* outEnd)
{
    const QByteArray& needle = m_pattern->needle();
    const char* const start = m_out.constData();
    const char* s = start;
    while (outEnd - s >= needle.size()) {
        const void* found =
            ::memmem(s, size_t(outEnd - s), needle.constData(), size_t(needle.size()));
        if (!found)
            break;
        const char* hit = static_cast<const char*>(found);
        if (m_firstLine < 0) {
            m_firstLine = m_line + std::count(start, hit, '\n');
            const void* lineEnd = ::memrchr(start, '\n', size_t(hit - start));
            const char* lineStart = lineEnd ? static_cast<const char*>(lineEnd) + 1 : start;
            m_firstColumn = hit - lineStart;
            m_recordBreaks = false;
        }
        ++m_hits;
        s = hit + needle.size();
    }
}

std::optional<ArchiveSearchHit> ReportScanner::search(const QString& path,
                                                      const SearchPattern& pattern,
                                                      const std::atomic<bool>* cancel)
{
    if (!pattern.valid())
        return std::nullopt;
    platform::SharedReadFile file;
    if (file.open(path) != platform::SharedReadFile::Result::Opened)
        return std::nullopt;
    const qint64 size = file.status().st_size;
    const qsizetype capacity = kChunkBytes + kMaxLineBytes;
    if (m_buffer.size() < capacity) {
        m_buffer.resize(capacity);
        // Every raw byte gives at most one folded byte.
        m_out.resize(capacity + 1);
    }
    char* const buffer = m_buffer.data();
    m_line = 0;
    m_pendingCr = false;
    m_recordBreaks = true;
    m_breaks.clear();
    m_hits = 0;
    m_firstLine = -1;
    m_firstColumn = 0;

    ArchiveSearchHit result{ReportHeader(path), 0, 0, 0, 0, 0};
    bool headerRead = false;
    bool skipping = true; // the header line is no text of the report
    qsizetype have = 0;   // bytes in the buffer not yet scanned, from the start of a line
    qint64 total = 0;
    bool atEnd = false;
    while (!atEnd) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return std::nullopt;
        qint64 n = file.read(buffer + have, capacity - have);
        if (n < 0)
            return std::nullopt;
        total += n;
        atEnd = n == 0 || total >= size;
        // A NUL byte ends the report, as it does for printing.
        if (const void* nul = std::memchr(buffer + have, 0, size_t(n))) {
            n = static_cast<const char*>(nul) - (buffer + have);
            atEnd = true;
        }
        have += n;
        if (!headerRead) {
            if (!readHeader(file, result.report, have, atEnd))
                return std::nullopt;
            headerRead = true;
            prepareTable(pattern, result.report.codePage);
            // A large report holds nobody up who wants to write it while it is searched.
            if (!atEnd)
                file.releaseLease();
        }

        const char* p = buffer;
        const char* const end = buffer + have;
        if (skipping) {
            // The rest of the header line, or of a body line longer than printing keeps.
            const char* stop = p;
            while (stop < end && !isLineEnd(*stop))
                ++stop;
            if (stop == end) {
                have = 0;
                continue;
            }
            skipping = false;
            m_pendingCr = *stop == '\r';
            p = stop + 1;
        }
        // Whole lines now; the start of a line that goes on waits for the next chunk.
        const char* cut = end;
        if (!atEnd) {
            cut = p;
            for (const char* q = end; q > p; --q) {
                if (isLineEnd(q[-1])) {
                    cut = q;
                    break;
                }
            }
        }
        if (cut > p)
            scanLines(p, cut);
        const qsizetype rest = end - cut;
        if (!atEnd && rest > kMaxLineBytes) {
            scanCutLine(cut);
            skipping = true;
            have = 0;
            continue;
        }
        std::memmove(buffer, cut, size_t(rest));
        have = rest;
    }
    if (m_hits == 0)
        return std::nullopt;
    result.hits = m_hits;
    pageOfLine(m_firstLine, m_breaks, result.report.linesPerPage, result.page, result.line);
    const auto breaksBefore = std::upper_bound(m_breaks.begin(), m_breaks.end(), m_firstLine);
    result.viewerRow = m_firstLine + (breaksBefore - m_breaks.begin());
    result.column = m_firstColumn;
    return result;
}

// Parses the header from the first `have` bytes of the report; a header that does not fit into
// them is read as the archive browser reads it.
bool ReportScanner::readHeader(platform::SharedReadFile& file, ReportHeader& header, qsizetype have,
                               bool atEnd)
{
    ReportLineSplitter lines(ReportFile::kHeadLines, ReportHeader::kMaxHeaderLineLength);
    lines.feed(QByteArrayView(m_buffer.constData(), have));
    if (!lines.full() && !atEnd)
        return header.loadHeader();
    lines.finish();
    QString message;
    if (!header.parseHeader(lines.lines(), message))
        return false;
    // The open file is the one searched.
    const struct stat& st = file.status();
    header.fileSize = qint32(std::min<qint64>(st.st_size, std::numeric_limits<qint32>::max()));
    return true;
}

} // namespace

SearchPattern::SearchPattern(const QString& text, bool ignoreDiacritics)
    : m_ignoreDiacritics(ignoreDiacritics)
{
    for (int b = 0; b < 256; ++b) {
        m_fold[size_t(b)] = char(b);
        // A box-drawing byte is a line on paper, never the letter Windows-1250 has there: it
        // folds to NUL, which no text looked for holds.
        if (isFrameByte(uchar(b))) {
            m_fold[size_t(b)] = '\0';
            continue;
        }
        QString folded = QString(cp1250ToUnicode(char(b))).toLower();
        if (ignoreDiacritics)
            folded = baseLetters(folded);
        if (const std::optional<char> byte = singleByte(folded))
            m_fold[size_t(b)] = *byte;
    }
    QString wanted = text.toLower();
    if (ignoreDiacritics)
        wanted = baseLetters(wanted);
    const QByteArray bytes = unicodeToCp1250(wanted);
    if (wanted.isEmpty() || cp1250ToUnicode(bytes) != wanted)
        return;
    for (const char c : bytes) {
        if (c == '\0' || isLineEnd(c))
            return;
    }
    m_needle.resize(bytes.size());
    std::transform(bytes.begin(), bytes.end(), m_needle.begin(),
                   [this](char c) { return m_fold[uchar(c)]; });
    // A letter whose byte reports use for frames ("ą", "Ę", ...) is in no report.
    if (m_needle.contains('\0'))
        m_needle.clear();
}

std::optional<ArchiveSearchHit> searchReport(const QString& path, const SearchPattern& pattern,
                                             const std::atomic<bool>* cancel)
{
    thread_local ReportScanner scanner;
    return scanner.search(path, pattern, cancel);
}

QStringList listArchivedReports(const QStringList& archiveDirectories)
{
    QStringList all;
    for (const QString& directory : archiveDirectories)
        all += archivedReportPaths(directory);
    return all;
}

// What the threads of one search share with the object that started it.
struct ArchiveSearch::Job
{
    Job(const QString& text, bool ignoreDiacritics) : pattern(text, ignoreDiacritics) {}

    const SearchPattern pattern;
    QStringList directories;
    std::atomic<bool> cancel{false};
    std::atomic<qint64> total{0};
    std::atomic<qint64> next{0};
    std::atomic<qint64> done{0};
    std::atomic<bool> ended{false};
    // Set while a delivery is on its way to the object's thread, so that at most one is.
    std::atomic<bool> posted{false};
    std::mutex mutex;
    QList<ArchiveSearchHit> pending;
};

ArchiveSearch::ArchiveSearch(QObject* parent)
    : QObject(parent), m_threads(std::clamp(int(std::thread::hardware_concurrency()), 1, 4))
{}

ArchiveSearch::~ArchiveSearch()
{
    stopJob(false);
}

void ArchiveSearch::setThreadCount(int threads)
{
    m_threads = std::max(1, threads);
}

void ArchiveSearch::start(const QStringList& archiveDirectories, const QString& text,
                          bool ignoreDiacritics)
{
    stopJob(true);
    auto job = std::make_shared<Job>(text, ignoreDiacritics);
    job->directories = archiveDirectories;
    m_job = job;

    // Asks the object's thread to take what has been found; at most one request is under way.
    const auto requestDelivery = [this, job] {
        if (!job->posted.exchange(true))
            QMetaObject::invokeMethod(
                this, [this, job] { deliver(job); }, Qt::QueuedConnection);
    };
    const int threads = m_threads;
    auto run = [job, threads, requestDelivery] {
        QStringList files;
        if (job->pattern.valid())
            files = listArchivedReports(job->directories);
        job->total = files.size();
        const qint64 step = std::max<qint64>(1, files.size() / 100);
        auto work = [&job, &files, &requestDelivery, step] {
            for (;;) {
                const qint64 i = job->next.fetch_add(1);
                if (i >= files.size() || job->cancel.load())
                    return;
                std::optional<ArchiveSearchHit> hit =
                    searchReport(files.at(i), job->pattern, &job->cancel);
                const qint64 done = job->done.fetch_add(1) + 1;
                if (hit) {
                    {
                        const std::lock_guard<std::mutex> lock(job->mutex);
                        job->pending.append(std::move(*hit));
                    }
                    requestDelivery();
                } else if (done % step == 0) {
                    requestDelivery();
                }
            }
        };
        std::vector<std::thread> helpers;
        for (int t = 1; t < threads && t < files.size(); ++t) {
            try {
                helpers.emplace_back(work);
            } catch (const std::system_error&) {
                break; // no more threads: the others search the rest
            }
        }
        work();
        for (std::thread& helper : helpers)
            helper.join();
        job->ended = true;
        requestDelivery();
    };
    try {
        m_runner = std::thread(run);
    } catch (const std::system_error&) {
        run(); // no thread to be had: search here, and deliver as usual
    }
}

void ArchiveSearch::deliver(const std::shared_ptr<Job>& job)
{
    if (job != m_job)
        return; // a search stopped meanwhile
    // Cleared before looking, so that whatever comes later asks again.
    job->posted = false;
    const bool ended = job->ended;
    QList<ArchiveSearchHit> hits;
    {
        const std::lock_guard<std::mutex> lock(job->mutex);
        hits.swap(job->pending);
    }
    if (!hits.isEmpty()) {
        emit hitsFound(hits);
        if (job != m_job)
            return; // stopped or started anew by whoever took the hits
    }
    emit progress(job->done, job->total);
    if (job != m_job || !ended)
        return;
    if (m_runner.joinable())
        m_runner.join();
    m_job.reset();
    emit finished(false);
}

void ArchiveSearch::cancel()
{
    stopJob(true);
}

void ArchiveSearch::stopJob(bool emitFinished)
{
    if (m_job)
        m_job->cancel = true;
    if (m_runner.joinable())
        m_runner.join();
    if (!m_job)
        return;
    m_job.reset();
    if (emitFinished)
        emit finished(true);
}
