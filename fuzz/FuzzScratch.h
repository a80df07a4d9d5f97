#pragma once

// A scratch file for fuzz targets that read a file by its path: in a directory of the target's
// own under /tmp, made once per process and removed when it ends (a crashing run leaves it
// behind, with the crashing input in it).
#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace fuzz {

// Writes `size` bytes of `data` to `fileName` in the scratch directory "/tmp/<target>.XXXXXX" and
// returns its path.
inline QString writeScratchFile(const char* target, const char* fileName, const uint8_t* data,
                                size_t size)
{
    static QByteArray dir;
    static QByteArray path;
    if (path.isEmpty()) {
        dir = QByteArray("/tmp/") + target + ".XXXXXX";
        if (!::mkdtemp(dir.data()))
            std::abort();
        path = dir + '/' + fileName;
        std::atexit([] {
            ::unlink(path.constData());
            ::rmdir(dir.constData());
        });
    }
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    return file.fileName();
}

} // namespace fuzz
