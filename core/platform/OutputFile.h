#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QTemporaryFile;

namespace platform {

// What a name that is to be written stands for, and so how it can be written without damage.
// A name chosen from outside (on the command line, a settings file that is a link) may be a
// device, a FIFO or a link: renaming a new file over it would replace the device or the link.
struct OutputTarget
{
    enum class Kind
    {
        File,    // a regular file or a free name: a whole new file is renamed over it
        Stream,  // a FIFO or a character device (or standard output): written in place
        Refused, // anything else: a directory, a socket, a block device, a link loop
    };
    Kind kind = Kind::Refused;
    // The name written: a symbolic link is followed to the name it points to (to the end of a
    // chain of links), so that the link stays as it is; "-" for standard output.
    QString path;
    int error = 0;  // why it is refused, as errno
    QString reason; // the same as text
};

// What `path` stands for (symbolic links followed). A free name whose folder does not exist is
// refused. For a file of the program's own (`ownFile`) only this user's (or root's) links and
// streams count: another user's link is not followed and, like another user's FIFO or device, is
// replaced as a file would be.
OutputTarget resolveOutputTarget(const QString& path, bool ownFile = false);

// The lock file of a file of the program's own that `path` names: beside the file that is written
// (at the end of this user's links), so that all names of one file share one lock.
QString ownFileLockPath(const QString& path);

// Writes `data` into a Stream target; false with errno set when it cannot be opened or written
// (a full device included).
bool writeToStream(const OutputTarget& target, const QByteArray& data);

// Every writer below replaces a File target in one step: the new content is made in a work file
// of its own beside the target, synced, renamed over it, and the rename made durable, so that a
// crash, a kill or a full disk leaves either the old or the new content, never a part. The work
// file is always created anew, so a link or a file planted under its name is never written
// through. A link at the target stays: the file it points to is replaced (for a file of the
// program's own, only where the link is this user's).

// Replaces a file of the program's own (settings, journal) with `data`; it ends with mode 0600.
// Links and streams count only where they are this user's (resolveOutputTarget with `ownFile`):
// a FIFO or a character device is written in place, anything else is refused. False with errno
// set (the old content kept) when it cannot be done. Writers of one file must hold a lock of
// their own around this: they share the work file beside it, its name + ".tmp", and one left by
// a writer that was killed is removed by the next.
bool replaceWholeFile(const QString& path, const QByteArray& data);

// Writes `data` to a name chosen from outside (a file the user picked, a file in the working
// directory): a regular file or a free name is replaced (the old file's permissions kept), a FIFO
// or a character device is written into, anything else is refused, as is a file the user may
// not write. With `directWriteFallback`, a file whose folder cannot take the work file is
// rewritten in place instead (its old content kept when the disk is full).
struct SaveResult
{
    bool saved = false;
    bool opened = false; // false: the name could not be written at all
    QString error;       // why not, as text
};
SaveResult saveOutputFile(const QString& path, const QByteArray& data,
                          bool directWriteFallback = false);

// Replaces a file of the program's own that several writers may replace at once without a lock
// (the event log) as saveOutputFile does, but as replaceWholeFile treats links and streams; it
// ends with mode 0600. With `directWriteFallback`, a file of this user's (or root's) in a folder
// that cannot take the work file is rewritten in place.
SaveResult replaceOwnFile(const QString& path, const QByteArray& data, bool directWriteFallback);

// A document that a writer makes under a file name of its own and that is put in place only when
// whole, at a name chosen from outside: a regular file or a free name gets it by a rename, a FIFO,
// a character device or "-" (standard output) as a stream; nothing else is touched.
class OutputFile
{
public:
    explicit OutputFile(const QString& target);
    ~OutputFile(); // removes the work file unless it was put in place
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const OutputTarget& target() const { return m_target; }
    // Where the document is to be made: a new hidden file beside the target (so the rename stays
    // on one file system), or a temporary file for a stream. Empty when the target is refused or
    // the work file cannot be made; workError() then says why. The file beside the target is
    // named by its open file (/proc/self/fd/N): in a folder that others may write, its own name
    // may meanwhile have been given to a link or another file, which the document must not go
    // into.
    const QString& workPath() const { return m_writePath; }
    const QString& workError() const { return m_error; }
    // Puts the work file in place and removes it; false with errno set when that fails (the
    // target then keeps what it had, as far as a stream allows).
    bool commit();

private:
    OutputTarget m_target;
    QString m_work;
    QString m_writePath;
    QString m_error;
    int m_fd = -1; // the work file beside the target, kept open to be synced
    std::unique_ptr<QTemporaryFile> m_temp;
};

} // namespace platform
