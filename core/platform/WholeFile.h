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

// The whole content of a file; nullopt with errno set when it cannot be read.
std::optional<QByteArray> readWholeFile(const QString& path);

// Replaces the file's content in one step: a temporary file beside it is written, synced and
// renamed over it, and the rename made durable, so that a crash or a kill leaves either the old
// or the new content, never a part. A symbolic link at `path` stays: the file it points to is
// replaced. A FIFO or a character device is written in place instead; anything else (a
// directory, a socket) is refused. False with errno set (the old content kept) when it cannot be
// done. Writers of one file must hold a lock of their own around this: they share the temporary
// file beside it, its name + ".tmp".
bool replaceWholeFile(const QString& path, const QByteArray& data);

} // namespace platform
