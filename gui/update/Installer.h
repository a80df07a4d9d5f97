#pragma once

// The installer of a new version once it has been downloaded: where it is stored, whether the
// program's directory can take the new files, and starting it.

#include <QString>

class QWidget;

// The file name of an installer URL: the text after its last "/" (the whole text when there is
// none), a query included, unchanged.
QString urlFileName(const QString& url);

// Whether files can be made in `dir`: creates and removes a directory, then a file, both named
// "$dummy$.~~~". A leftover of an earlier probe is removed first.
bool canWriteAppDir(const QString& dir);

// Starts the installer silently, aimed at `appDir`, when that directory can be written; true when
// it was started (a failure to start is not reported). Otherwise tells the user that writing to
// the directory was refused and where the installer lies for a manual installation; false.
//
// A Debian package (a name ending in ".deb") goes to the system's package manager instead:
// `pkexec apt-get install` asks for the administrator's consent and installs it with its
// dependencies, whoever owns the program's directory. True when that was started; when pkexec
// is missing or cannot start, the user learns where the package lies; false.
bool runInstaller(const QString& installerPath, const QString& appDir, QWidget* parent);
