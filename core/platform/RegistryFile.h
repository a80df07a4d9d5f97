#pragma once

#include "core/platform/RegistryHive.h"

#include <functional>

namespace platform {

// The registry hive file that stands in for the registry of the current user.
//
// Reading never fails for the caller: a missing file is an empty registry; a file that cannot
// be parsed is renamed aside with a time stamp (and the problem written to stderr) so that the
// defaults apply and the damaged content is still there for an administrator; a file that cannot
// be read is reported on stderr and read as empty.
//
// Every change is a read-modify-write under an exclusive lock on a companion lock file, saved
// through a temporary file, fsync and rename, so a crash or a second process writing at the same
// time never leaves a half-written or mixed file behind.
class RegistryFile
{
public:
    explicit RegistryFile(QString path);

    // $XDG_CONFIG_HOME/Morvane/registry.reg ($HOME/.config when XDG_CONFIG_HOME is unset).
    static QString defaultPath();
    // A problem with a settings file that the user should be told about (a file that exists but
    // cannot be read); empty when there is none or it was taken already. Each is given once.
    static QString takeNotice();

    const QString& path() const { return m_path; }

    RegistryHive read() const;
    // Runs fn on the current content; when it returns true, saves the result. False when fn
    // declined or the change could not be saved (the file then keeps its previous content).
    bool modify(const std::function<bool(RegistryHive&)>& fn) const;

private:
    QString m_path;
};

} // namespace platform
