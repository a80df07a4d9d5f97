#pragma once

// The privileged step of an update, run as root by the helper program that pkexec starts: the
// files the user's copy of the program downloaded are copied to a folder only root can write and
// checked there, and only that copy goes to the package manager. The user's files may be changed
// by any process of the user at any time, so nothing is taken from them after the copy.

#include <QString>

struct UpdateInstallPlan
{
    QString keyring;          // the publisher's keyring
    QString workRoot;         // a folder only this user may write; made when missing
    QString aptGet;           // the package manager
    QString installedVersion; // of the installed package; empty when none is installed
    QString section;          // the descriptor's section of this program
};

// The plan of the real helper: the installed keyring (another one only when the step was not
// started through pkexec, which clears the environment anyway), /var/cache/tarnyx, apt-get and the
// version dpkg knows as installed.
UpdateInstallPlan updateInstallPlan();

// Copies `descriptor`, its detached `signature` and `package` (never through a link) into a new
// folder below the plan's work root, checks there that the signature is good, that the version
// offered is newer than the installed one and that the package is the one the descriptor names
// (digest, name, version), then installs that copy with apt-get and removes the folder. Returns
// apt-get's exit status, or 1 with `message` saying (in Czech) what failed before it ran.
int installUpdate(const UpdateInstallPlan& plan, const QString& descriptor,
                  const QString& signature, const QString& package, QString& message);
