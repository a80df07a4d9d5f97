#pragma once

#include <functional>

// Ends the program in order on SIGTERM, SIGINT and SIGHUP (a session logging out, a service
// manager stopping the program, Ctrl+C in a terminal): `onSignal` runs on the user-interface
// thread; without one, the event loop simply ends.
void quitOnTerminationSignals(std::function<void()> onSignal = {});
