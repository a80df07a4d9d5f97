#pragma once

namespace platform {

// Gives the calling thread a niceness `steps` above the process's own (that of its main thread,
// which runs the windows): 0 runs as urgently as the windows, more yields to them. Under the
// normal Linux scheduler this is what decides how a thread competes for the processor; thread
// priorities as toolkits set them do nothing there. False when the system refuses.
bool setThreadNiceness(int steps);
// The calling thread's niceness.
int threadNiceness();

} // namespace platform
