// tarnyx-install-update: installs a downloaded update as root. The program starts it through
// pkexec, whose own polkit action asks for the administrator's consent, with the version
// descriptor, its signature and the package it downloaded; see UpdateInstall.h.
#include "core/update/UpdateInstall.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "použití: tarnyx-install-update POPIS PODPIS BALÍČEK\n");
        return 2;
    }
    if (::geteuid() != 0) {
        std::fprintf(stderr, "tarnyx-install-update: instalace vyžaduje práva správce\n");
        return 1;
    }
    QString message;
    const int status = installUpdate(updateInstallPlan(), args[1], args[2], args[3], message);
    if (!message.isEmpty())
        std::fprintf(stderr, "tarnyx-install-update: %s\n", qPrintable(message));
    return status;
}
