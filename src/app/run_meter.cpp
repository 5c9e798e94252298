#include "app/run_meter.h"

#include <algorithm>
#include <cmath>

#include "engine/display_texts.h"

void RunMeter::Start(uint64_t nowMs) {
  *this = RunMeter();
  lastMs_ = nowMs;
}

void RunMeter::Update(uint64_t nowMs, const std::vector<PartBytes>& parts) {
  int64_t completed = 0, total = 0;
  bool known = !parts.empty(), whole = !parts.empty();
  for (const PartBytes& part : parts) {
    completed += part.whole && part.total >= 0 ? part.total : std::max<int64_t>(part.completed, 0);
    if (part.total < 0) known = false;
    total += std::max<int64_t>(part.total, 0);
    whole = whole && part.whole;
  }
  // The first look only takes the bytes already there (parts continued from an earlier run);
  // a part that starts again from its first byte must not take the speed below zero.
  const double seconds = static_cast<double>(nowMs - lastMs_) / 1000.0;
  if (looked_ && seconds > 0) {
    const double rate = static_cast<double>(std::max<int64_t>(completed - lastCompleted_, 0)) / seconds;
    const double weight = 1.0 - std::exp(-seconds / kSmoothingSeconds);
    speed_ += (rate - speed_) * weight;
  }
  looked_ = true;
  lastMs_ = nowMs;
  lastCompleted_ = completed;
  completed_ = completed;
  total_ = total;
  totalKnown_ = known;
  int position = position_;
  if (whole) {
    position = 100;
  } else if (known && total > 0) {
    // 99 at most: a full bar promises a whole download.
    const int exact = static_cast<int>(std::min<int64_t>(completed * 100 / total, 99));
    position = std::max(position, exact);
  }
  position_ = position;
}

CWString RunMeter::Text() const {
  const CWString speed = FormatSize(speed_) + L"/S";
  CWString text;
  if (!totalKnown_) {
    text.Format(L"%s  %s", FormatSize(static_cast<double>(completed_)).GetText(), speed.GetText());
    return text;
  }
  // Below half a byte per second nothing is moving: no estimate at all.
  const int64_t left =
      speed_ >= 0.5 ? static_cast<int64_t>(static_cast<double>(std::max<int64_t>(total_ - completed_, 0)) / speed_)
                    : -1;
  text.Format(L"%d%%  %s / %s  %s  剩余 %s", position_, FormatSize(static_cast<double>(completed_)).GetText(),
              FormatSize(static_cast<double>(total_)).GetText(), speed.GetText(), FormatTimeLeft(left).GetText());
  return text;
}

CWString FormatTimeLeft(int64_t seconds) {
  if (seconds < 0) return CWString(L"--");
  CWString text;
  if (seconds >= 100 * 3600) return CWString(L">99小时");
  if (seconds >= 3600) {
    text.Format(L"%d小时%02d分", static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60));
  } else {
    text.Format(L"%d分%02d秒", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
  }
  return text;
}
