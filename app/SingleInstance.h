#pragma once

#include <QLocalServer>
#include <QString>

#include <functional>
#include <memory>

// At most one copy of the program runs per program file. The first copy listens on a local
// socket named after its (upper-cased) path; a second copy connects, asks the first to show
// itself and ends.
class SingleInstance
{
public:
    // The socket name for a program file.
    static QString serverName(const QString& programPath);

    // True when another copy answered and was asked to show itself: this copy should end.
    // Otherwise this copy now answers later ones by calling `activate`.
    bool activateRunningCopy(const QString& programPath, std::function<void()> activate);

private:
    std::unique_ptr<QLocalServer> m_server;
};
