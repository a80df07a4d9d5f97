#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// File names as the file system holds them are bytes; the program handles them as text. Names
// are UTF-8 on this system, but not every name is valid UTF-8: Wine under a non-UTF-8 locale and
// copies from old archives write names in a legacy code page. Qt's own conversion turns such bytes
// into U+FFFD, after which the name no longer opens the file. These two functions are an exact
// round trip instead: every byte that is not part of a valid UTF-8 sequence becomes the lone
// surrogate U+DC00 + byte (as Python's "surrogateescape" does), and back. Valid UTF-8 reads as it
// always did. Every path that goes to or comes from the file system passes through them.
QByteArray encodeFileName(const QString& name);
QString decodeFileName(QByteArrayView bytes);
inline QString decodeFileName(const char* bytes)
{
    return decodeFileName(QByteArrayView(bytes));
}

// True when `name` holds bytes that are not valid UTF-8 (escaped by decodeFileName).
bool hasUndecodableBytes(QStringView name);

// A name as it is shown or logged: every undecodable byte as U+FFFD.
QString displayFileName(const QString& name);

} // namespace platform
