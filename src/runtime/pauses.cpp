#include "runtime/pauses.h"

#include <windows.h>

#include <random>

uint64_t AwakeMilliseconds() {
  // Interrupt time counts in units of 100 ns; the unbiased one stops while the system sleeps.
  ULONGLONG awake = 0;
  QueryUnbiasedInterruptTime(&awake);
  return static_cast<uint64_t>(awake / 10000);
}

uint32_t JitteredPauseMs(uint32_t stepMs, uint32_t draw) {
  const uint32_t half = stepMs - stepMs / 2;
  const uint64_t span = static_cast<uint64_t>(stepMs - half) + 1;
  return half + static_cast<uint32_t>(draw % span);
}

uint32_t DrawJitter() {
  thread_local std::mt19937 generator{std::random_device{}()};
  return static_cast<uint32_t>(generator());
}
