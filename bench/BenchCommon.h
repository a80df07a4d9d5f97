#pragma once

// What the benchmarks share: the floor of reading the start of many files, timing and medians.
#include <QByteArray>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

namespace bench {

// Opens each file, reads its first 4 KiB and closes it: the least any header reader must do.
// Returns how many files gave bytes.
inline int floorPass(const std::vector<QByteArray>& paths)
{
    char buffer[4096];
    int read = 0;
    for (const QByteArray& p : paths) {
        const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (::read(fd, buffer, sizeof buffer) > 0)
            ++read;
        ::close(fd);
    }
    return read;
}

// Seconds `f` takes.
template <typename F> double seconds(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The body of a typical payroll report of two pages after its header line.
inline QByteArray sampleReportBody()
{
    QByteArray text;
    text += "Firma s.r.o.                                  Strana 1\r\n";
    text += "\r\n";
    text += "Obdob\xED: 01/2024    Str\xE1nka 1\r\n";
    for (int line = 0; line < 110; ++line)
        text += QByteArray(100, char('A' + line % 26)).append("\r\n");
    return text;
}

// Writes `count` archived reports into `archive`, the i-th named fileName(i) with the bytes
// text(i), unless it holds that many files already. Their times lie an hour back, so that no
// reader takes them for reports still being written.
template <typename Name, typename Text>
bool makeArchive(const QString& archive, int count, Name fileName, Text text)
{
    QDir().mkpath(archive);
    if (int(QDir(archive).entryList(QDir::Files).size()) == count)
        return true;
    const time_t past = ::time(nullptr) - 3600;
    const utimbuf times{past, past};
    for (int i = 0; i < count; ++i) {
        const QString name = archive + u'/' + fileName(i);
        QFile f(name);
        if (!f.open(QIODevice::WriteOnly) || f.write(text(i)) < 0)
            return false;
        f.close();
        ::utime(QFile::encodeName(name).constData(), &times);
    }
    return true;
}

// The process's peak resident memory so far, in kilobytes.
inline long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace bench
