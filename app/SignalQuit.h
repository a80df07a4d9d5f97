#pragma once

// Ends the application's event loop cleanly on SIGTERM, SIGINT and SIGHUP (a session logging out,
// a service manager stopping the program, Ctrl+C in a terminal), so that shutdown runs in order.
void QuitOnTerminationSignals();
