// Bounded waits for the test programs: every wait ends after its limit and tells whether its
// condition came true, so a regression fails with a message instead of hanging until ctest's
// timeout. Any thread may wait; kDispatchMessages dispatches the calling thread's messages
// between the polls (for a thread whose windows must keep answering).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "runtime/utils.h"

enum class PollMode { kSleep, kDispatchMessages };

// Polls done() every stepMs until it holds or limitMs passed; false when it never held.
inline bool PollUntil(const std::function<bool()>& done, uint32_t limitMs, PollMode mode = PollMode::kSleep,
                      uint32_t stepMs = 1) {
  const ULONGLONG began = GetTickCount64();
  while (!done()) {
    if (GetTickCount64() - began >= limitMs) return done();
    if (mode == PollMode::kDispatchMessages) {
      WaitWithMessages(stepMs);
    } else {
      Sleep(stepMs);
    }
  }
  return true;
}
