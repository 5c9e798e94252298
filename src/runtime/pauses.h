// The clock and the pauses of retries and time bounds: milliseconds the machine was awake
// (time asleep or hibernated never counts, so a laptop closed in the middle of a run wakes to
// the bounds and pauses where it left them) and the random spread of a pause.
//
// Any thread may call them.
#pragma once

#include <cstdint>

// Milliseconds since the system started, without the time it slept.
uint64_t AwakeMilliseconds();
// A pause of stepMs with its jitter: draw (a uniform 32-bit random value) picks it between
// half of the step and the whole step, so that the many clients an outage stopped together
// do not all come back in the same second.
uint32_t JitteredPauseMs(uint32_t stepMs, uint32_t draw);
// A uniform 32-bit random value for JitteredPauseMs, from a generator of the calling thread
// seeded by the system.
uint32_t DrawJitter();
