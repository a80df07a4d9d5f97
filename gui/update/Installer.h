#pragma once

// The downloaded package of a new version: where it is stored and its installation.

#include <QString>

class QWidget;

// The file name of an installer URL: the text after its last "/" (the whole text when there is
// none), a query included, unchanged.
QString urlFileName(const QString& url);

// Whether the offered file is something the program can install: a Debian package, a name ending
// in ".deb". Nothing else that an update server names is ever started.
bool isInstallablePackage(const QString& fileName);

// The names, in the package's folder, of the signed version descriptor and its signature that
// went with the package; the installation checks them again.
QString descriptorBeside(const QString& packagePath);
QString signatureBeside(const QString& packagePath);

// The privileged helper that installs a package; tests point it at a stand-in.
QString updateHelperPath();
void setUpdateHelperPath(const QString& path);

// Hands the downloaded package, with its descriptor and signature, to the privileged helper
// through pkexec, which asks for the administrator's consent; the helper copies all three to a
// place only root can write, checks them there and installs the copy with apt-get. True when that
// was started. A file that is not a package is never started: the user is told so, as when pkexec
// is missing or cannot start; false.
bool runInstaller(const QString& packagePath, QWidget* parent);
