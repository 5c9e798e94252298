// What the window says about a whole run: the bar's position and its text of percent, bytes,
// speed and time left, from looks at the parts' bytes. The bar never moves back within a run
// and reads 100 only when every part is whole; the speed is smoothed over a few seconds so
// neither it nor the time left jumps with every poll. Pure: the caller gives the clock.
// Belongs to the user-interface thread.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/text.h"

// One part's bytes at a look: from the engine once it reported the part, else the size the
// listing gave (completed 0); total -1 where neither knows it.
struct PartBytes {
  int64_t completed = 0;
  int64_t total = -1;
  bool whole = false;  // completed here or earlier
};

class RunMeter {
 public:
  // The speed's time constant: an average over about this long.
  static constexpr double kSmoothingSeconds = 3.0;

  // A new run starting at nowMs (a millisecond clock).
  void Start(uint64_t nowMs);
  // One look at the run's parts.
  void Update(uint64_t nowMs, const std::vector<PartBytes>& parts);

  // 0 ... 100.
  int Position() const { return position_; }
  // Bytes per second, smoothed; 0 before two looks.
  double Speed() const { return speed_; }
  // Every part's size was known at the latest look.
  bool TotalKnown() const { return totalKnown_; }
  // "37%  1.2GB / 3.41GB  12.5MB/S  剩余 3分05秒"; while a part's size is unknown, the bytes
  // done alone and no percent or time left.
  CWString Text() const;

 private:
  int position_ = 0;
  int64_t completed_ = 0;
  int64_t total_ = 0;
  bool totalKnown_ = false;
  double speed_ = 0;
  bool looked_ = false;
  uint64_t lastMs_ = 0;
  int64_t lastCompleted_ = 0;
};

// Seconds as the time left reads: "3分05秒", "1小时02分", "--" for a negative count, ">99小时"
// beyond 99 hours 59 minutes.
CWString FormatTimeLeft(int64_t seconds);
