#pragma once

// What the benchmarks share: the floor of reading the start of many files, timing and medians.
#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>
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

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace bench
