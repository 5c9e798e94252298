// The Linux system clock as Windows programs under Wine read it: microseconds since 1970, the
// clock the benchmark scripts and the drive emulator note their times on. Any thread.
#pragma once

#include <windows.h>

inline ULONGLONG UnixMicroseconds() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  ULARGE_INTEGER ticks{};
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  constexpr ULONGLONG kEpoch = 116444736000000000ULL;  // 1970-01-01 in 100 ns steps since 1601
  return (ticks.QuadPart - kEpoch) / 10;
}
