#pragma once

// The program's own waits (the tick, the start's delay, the wait for a scheduler that restarts)
// in ms. Tests that would otherwise wait real seconds for them set TARNYX_TEST_TIME_PERCENT
// (1 to 100) in the environment to shorten every one of them alike; unset, or any other value,
// leaves them as they are. Read at each call, so a test may change it between cases.
int scaledWaitMs(int ms);
