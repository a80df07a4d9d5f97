#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// Writes all `size` bytes, going on after interruptions; false on an error.
bool writeAll(int fd, const char* data, qint64 size);
// Copies what is left to read of `in` into `out`, going on after interruptions; false with errno
// set on an error.
bool copyAll(int in, int out);

// What is left to read of `fd`, going on after interruptions; nullopt with errno set on an error.
std::optional<QByteArray> readAll(int fd);
// The whole content of a regular file; nullopt with errno set when it cannot be read or is no
// regular file (a pipe there is not waited on).
std::optional<QByteArray> readWholeFile(const QString& path);

} // namespace platform
