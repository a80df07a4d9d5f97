#include "core/report/ReportText.h"

#include "core/platform/FileName.h"
#include "core/platform/OutputFile.h"
#include "core/report/CodePages.h"
#include "core/report/ReportFile.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kSeparator[] = "^PG";
// From this size on a report is read and split on two threads.
constexpr qsizetype kParallelBytes = 8 * 1024 * 1024;
// The start of a separator row, which has no bytes of its own in the file.
constexpr quint32 kSeparatorRow = 0xFFFFFFFF;

// Box-drawing bytes of report text: the line drawn on screen and the character that stands in
// for it in plain text (0xAD is the soft hyphen of Windows-1250).
struct FramePiece
{
    unsigned char byte;
    char16_t line;
    char plain;
};
constexpr FramePiece kFramePieces[] = {
    {0xFE, u'│', '|'},    {0xB9, u'┤', '|'},    {0xC3, u'├', '|'},    {0x81, u'║', '|'},
    {0x83, u'╣', '|'},    {0xA5, u'╠', '|'},    {0xCA, u'─', '\xAD'}, {0xC7, u'┬', '\xAD'},
    {0xE3, u'┴', '\xAD'}, {0xAA, u'═', '\xAD'}, {0xA2, u'╦', '\xAD'}, {0x98, u'╩', '\xAD'},
    {0xBF, u'┐', '+'},    {0xBA, u'└', '+'},    {0xD0, u'┼', '+'},    {0xD1, u'┘', '+'},
    {0xDE, u'┌', '+'},    {0x88, u'╗', '+'},    {0x90, u'╚', '+'},    {0xAF, u'╬', '+'},
    {0xB2, u'╝', '+'},    {0xEA, u'╔', '+'},
};

struct FrameTables
{
    std::array<char16_t, 256> line{};
    std::array<char, 256> plain{};
    FrameTables()
    {
        for (int b = 0; b < 256; ++b)
            plain[size_t(b)] = char(b);
        for (const FramePiece& p : kFramePieces) {
            line[p.byte] = p.line;
            plain[p.byte] = p.plain;
        }
    }
};
const FrameTables& frameTables()
{
    static const FrameTables tables;
    return tables;
}

// Upper case of every Windows-1250 byte by the locale's rules, where it is a byte again.
const std::array<char, 256>& upperBytes()
{
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int b = 0; b < 256; ++b) {
            t[size_t(b)] = char(b);
            const QString upper = QString(cp1250ToUnicode(char(b))).toUpper();
            const QByteArray back = unicodeToCp1250(upper);
            if (back.size() == 1 && cp1250ToUnicode(back[0]) == upper.front())
                t[size_t(b)] = back[0];
        }
        return t;
    }();
    return table;
}

// The row's first bytes without control sequences; a caret among the last two bytes goes with
// whatever follows it.
QByteArray withoutControls(QByteArrayView row)
{
    row = row.first(std::min(row.size(), ReportText::kMaxRowBytes));
    QByteArray out;
    out.reserve(row.size());
    for (qsizetype i = 0; i < row.size(); ++i) {
        if (row[i] == '^') {
            i += 2;
            continue;
        }
        out += row[i];
    }
    return out;
}

// The end of the line that starts at `p`: the next CR or LF, or `end`.
const char* lineEnd(const char* p, const char* end)
{
    const auto* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    const char* stop = lf ? lf : end;
    const auto* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(stop - p)));
    return cr ? cr : stop;
}

} // namespace

namespace {

// Reads the whole file; on a machine with more than one core the two halves of a large file are
// read at once, as most of the time goes into the fresh memory the text comes to occupy. A file
// that shrinks meanwhile gives what it still had.
bool readWhole(int fd, qint64 size, QByteArray& data)
{
    if (size < 0 || size > std::numeric_limits<qsizetype>::max() / 2) {
        errno = EFBIG;
        return false;
    }
    data = QByteArray(qsizetype(size), Qt::Uninitialized);
    char* buffer = data.data();
    const auto readRange = [fd, buffer](qint64 from, qint64 to) {
        qint64 at = from;
        while (at < to) {
            const ssize_t n = ::pread(fd, buffer + at, size_t(to - at), at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return qint64(-1);
            if (n == 0)
                break;
            at += n;
        }
        return at;
    };
    const qint64 mid =
        size >= kParallelBytes && std::thread::hardware_concurrency() > 1 ? size / 2 : size;
    qint64 secondEnd = size;
    std::thread second;
    if (mid < size)
        second = std::thread([&] { secondEnd = readRange(mid, size); });
    const qint64 firstEnd = readRange(0, mid);
    if (second.joinable())
        second.join();
    if (firstEnd < 0 || secondEnd < 0)
        return false;
    data.truncate(qsizetype(firstEnd < mid ? firstEnd : secondEnd));
    return true;
}

// The lines that start in [from, to) of the text: where each starts, a separator row before
// every page break, the widest; the first line of the text (the header) apart.
struct Lines
{
    std::vector<quint32> rows;
    qsizetype widest = 0;
    qint64 header = -1;
};
Lines splitLines(const char* base, const char* end, const char* from, const char* to,
                 qsizetype expectedBytes)
{
    Lines lines;
    // Room for the rows of typical report lines, so that growing seldom copies.
    lines.rows.reserve(size_t(expectedBytes / 128 + 16));
    for (const char* p = from; p < to;) {
        const char* eol = lineEnd(p, end);
        if (p == base) {
            lines.header = 0;
        } else {
            if (eol - p >= 3 && std::memcmp(p, kSeparator, 3) == 0)
                lines.rows.push_back(kSeparatorRow);
            lines.rows.push_back(quint32(p - base));
            lines.widest = std::max<qsizetype>(lines.widest, eol - p);
        }
        p = eol;
        if (p < end)
            p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
    }
    return lines;
}

} // namespace

bool ReportText::load(const QString& path, int codePage, QString& error)
{
    const QString shown = platform::displayFileName(path);
    // Never waits on a pipe of that name; only a plain file is a report.
    const int fd = ::open(platform::encodeFileName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st = {};
    int openError = fd < 0 ? errno : 0;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        openError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
    }
    if (openError != 0) {
        error = QStringLiteral("Sestavu %1 nelze otevřít: %2").arg(shown, fileErrorText(openError));
        return false;
    }
    QByteArray data;
    const bool read = readWhole(fd, qint64(st.st_size), data);
    const int readError = errno;
    ::close(fd);
    if (!read) {
        error = QStringLiteral("Sestavu %1 nelze přečíst: %2").arg(shown, fileErrorText(readError));
        return false;
    }
    if (const void* nul = std::memchr(data.constData(), 0, size_t(data.size())))
        data.truncate(static_cast<const char*>(nul) - data.constData());
    // Rows keep where they start in 32 bits, which covers any report a screen can show.
    if (data.size() >= qsizetype(kSeparatorRow)) {
        error = QStringLiteral("Sestava %1 je pro prohlížeč příliš velká.").arg(shown);
        return false;
    }

    const bool parallel = data.size() >= kParallelBytes && std::thread::hardware_concurrency() > 1;
    if (codePage != CodePage1250) {
        char* text = data.data();
        char* middle = text + (parallel ? data.size() / 2 : data.size());
        std::thread worker;
        if (parallel)
            worker = std::thread(
                [&] { convertReportTextInPlace(middle, text + data.size(), codePage); });
        convertReportTextInPlace(text, middle, codePage);
        if (worker.joinable())
            worker.join();
    }

    // The text is split in two at a line start and both parts at once, when it is large.
    const char* base = data.constData();
    const char* end = base + data.size();
    const char* cut = end;
    if (parallel) {
        if (const auto* lf = static_cast<const char*>(
                std::memchr(base + data.size() / 2, '\n', size_t(end - (base + data.size() / 2)))))
            cut = lf + 1;
    }
    Lines second;
    std::thread worker;
    if (cut < end)
        worker = std::thread([&] { second = splitLines(base, end, cut, end, end - cut); });
    // The first part makes room for the second, which joins it afterwards.
    Lines lines = splitLines(base, end, base, cut, end - base);
    if (worker.joinable())
        worker.join();
    lines.rows.insert(lines.rows.end(), second.rows.begin(), second.rows.end());
    lines.widest = std::max(lines.widest, second.widest);
    // The header line is shown only when it is the only line.
    if (lines.rows.empty() && lines.header >= 0) {
        lines.rows.push_back(quint32(lines.header));
        lines.widest = lineEnd(base, end) - base;
    }
    m_data = std::move(data);
    m_rows = std::move(lines.rows);
    if (m_rows.capacity() > m_rows.size() + m_rows.size() / 8)
        m_rows.shrink_to_fit();
    m_widest = std::min(lines.widest, kMaxRowBytes);
    return true;
}

QByteArrayView ReportText::rowBytes(qsizetype row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    const quint32 start = m_rows[size_t(row)];
    if (start == kSeparatorRow)
        return QByteArrayView(kSeparator, 3);
    const char* p = m_data.constData() + start;
    return QByteArrayView(p, lineEnd(p, m_data.constData() + m_data.size()));
}

QString ReportText::rowText(qsizetype row, bool frames) const
{
    const QByteArray bytes = withoutControls(rowBytes(row));
    const FrameTables& t = frameTables();
    if (!frames) {
        QByteArray plain(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i)
            plain[i] = t.plain[uchar(bytes[i])];
        return cp1250ToUnicode(plain);
    }
    QString text = cp1250ToUnicode(bytes);
    for (qsizetype i = 0; i < bytes.size() && i < text.size(); ++i) {
        if (const char16_t line = t.line[uchar(bytes[i])])
            text[i] = QChar(line);
    }
    return text;
}

QByteArray ReportText::plainBytes(QByteArrayView row)
{
    QByteArray bytes = withoutControls(row);
    const FrameTables& t = frameTables();
    for (char& c : bytes)
        c = t.plain[uchar(c)];
    return bytes;
}

qsizetype ReportText::find(const QString& text, qsizetype from, int step) const
{
    if (text.isEmpty() || step == 0)
        return -1;
    // Text that Windows-1250 cannot hold is in no report.
    QByteArray needle = unicodeToCp1250(text);
    if (cp1250ToUnicode(needle) != text)
        return -1;
    const std::array<char, 256>& upper = upperBytes();
    for (char& c : needle)
        c = upper[uchar(c)];
    // Rows are compared as they are shown: without style sequences, and with frames as the
    // characters that stand in for them, so that a frame never matches a letter.
    std::array<char, 256> rowFold;
    const FrameTables& t = frameTables();
    for (int b = 0; b < 256; ++b)
        rowFold[size_t(b)] = upper[uchar(t.plain[size_t(b)])];
    QByteArray folded;
    for (qsizetype row = from; row >= 0 && row < rowCount(); row += step) {
        QByteArrayView bytes = rowBytes(row);
        bytes = bytes.first(std::min(bytes.size(), kMaxRowBytes));
        if (bytes.size() < needle.size())
            continue;
        // One pass, as withoutControls and plainBytes would do it, without a copy of the row.
        folded.resize(bytes.size());
        char* out = folded.data();
        qsizetype n = 0;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '^') {
                i += 2;
                continue;
            }
            out[n++] = rowFold[uchar(bytes[i])];
        }
        if (QByteArrayView(out, n).contains(needle))
            return row;
    }
    return -1;
}

bool ReportText::saveAsText(const QString& path, QString& error) const
{
    QByteArray text;
    for (qsizetype row = 0; row < rowCount(); ++row) {
        if (isGreyRow(row))
            continue;
        text += plainBytes(rowBytes(row));
        text += "\r\n";
    }
    const platform::SaveResult saved = platform::saveOutputFile(path, text);
    if (!saved.saved) {
        error = (saved.opened ? QStringLiteral("Do souboru %1 nelze zapsat: %2")
                              : QStringLiteral("Soubor %1 nelze vytvořit: %2"))
                    .arg(path, saved.error);
        return false;
    }
    return true;
}
