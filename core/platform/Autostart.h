#pragma once

#include <QString>

#include <optional>

namespace platform {

// The autostart values of the Run keys, kept as XDG autostart entries: one desktop file per
// value, named after the value in lower case. The user's entries live in
// $XDG_CONFIG_HOME/autostart, the machine's in the first of $XDG_CONFIG_DIRS (/etc/xdg).
// The Windows-style command line is turned into a proper Exec line and also kept verbatim, so
// reading the value back gives exactly what was written.
namespace autostart {

QString userEntryPath(const QString& valueName);
QString machineEntryPath(const QString& valueName);

// The command line of the entry; nullopt when there is no entry.
std::optional<QString> readCommand(const QString& entryPath);
bool writeCommand(const QString& entryPath, const QString& valueName, const QString& commandLine);
// True when the entry is gone afterwards (also when there was none).
bool remove(const QString& entryPath);

// The Exec value (before desktop-file string escaping) that runs `commandLine`.
QString execLine(const QString& commandLine);

} // namespace autostart
} // namespace platform
