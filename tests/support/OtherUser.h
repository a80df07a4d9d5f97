#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

// Another local user on the same machine ("nobody"), for tests of what a second user who shares
// a folder with the clerk can do. Running as that user needs root and setpriv; a test skips
// where either is missing (OTHER_USER_OR_SKIP).
namespace OtherUser {

constexpr uid_t kUid = 65534;
constexpr gid_t kGid = 65534;

// Empty when commands can run as the other user, otherwise why not.
QString unavailableReason();

// The command line that runs `command` as the other user, without supplementary groups.
QStringList command(const QStringList& command);

// Runs a shell script as the other user and returns its exit status (-1 when it could not run
// or took longer than 30 s); its standard output goes to `output` when given.
int shell(const QString& script, QByteArray* output = nullptr);

// Makes `path` and each folder above it up to / passable for the other user (adds o+x), so
// that a test's private temporary folder can hold a folder the two users share.
void letThrough(const QString& path);

} // namespace OtherUser

#define OTHER_USER_OR_SKIP()                                                                       \
    do {                                                                                           \
        const QString otherUserWhy = OtherUser::unavailableReason();                               \
        if (!otherUserWhy.isEmpty())                                                               \
            QSKIP(qPrintable(otherUserWhy));                                                       \
    } while (false)
