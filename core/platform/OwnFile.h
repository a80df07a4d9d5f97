#pragma once

#include <QString>

#include <sys/types.h>

namespace platform {

// The program's own files (event log, settings, journal, locks, sockets) may lie in folders that
// other local users can write too: a shared working folder, the temporary directory. Without the
// kernel's protections for such folders, a link or a file that another user planted under the
// expected name could make the program write into a file of this user's, hand its data to the
// other user, or wait on a lock the other user holds. What is here never lets that happen.

// Whether a file or a link that `owner` owns may be used or followed: it is this user's or
// root's, who could do anything anyway.
bool trustedOwner(uid_t owner);

// Opens the lock file `path` for reading and writing, creating it with mode 0600: never through
// a symbolic link, only a regular file of this user's (or root's). -1 with errno set: ELOOP for a
// link, EPERM for a file of another user, which stays as it is.
int openLockFile(const QString& path);

// Takes the lock `operation` (flock: LOCK_SH or LOCK_EX, waiting) on the lock file `path`; the
// open file that holds it, or -1 with errno set. The lock counts only on the file that the name
// holds when it is taken: one deleted meanwhile is opened anew.
int lockOwnFile(const QString& path, int operation);

// A folder of this user's own for sockets and locks that only this user can reach:
// $XDG_RUNTIME_DIR where it is a folder of this user's (under su or cron it may be another
// user's, or unset); otherwise "tarnyx-UID" in the temporary directory, or the first free
// "tarnyx-UID.N" where another user took that name first. A folder of this user's with a wider
// mode is narrowed to 0700. Empty when none can be had.
QString privateRuntimeDirectory();

} // namespace platform
