#include "app/idle_release_list.h"

#include <algorithm>

void CKelIdleEntry::SetState(int32_t state, DWORD lastUseTick) {
  std::lock_guard<std::mutex> guard(lock_);
  state_ = state;
  lastUseTick_ = lastUseTick;
}

int32_t CKelIdleEntry::GetState() const {
  std::lock_guard<std::mutex> guard(lock_);
  return state_;
}

DWORD CKelIdleEntry::LastUseTick() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lastUseTick_;
}

void CKelIdleEntry::ReadState(int32_t& state, DWORD& lastUseTick) const {
  std::lock_guard<std::mutex> guard(lock_);
  state = state_;
  lastUseTick = lastUseTick_;
}

namespace {

int32_t ProcessorCount() {
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  return static_cast<int32_t>(std::max<DWORD>(info.dwNumberOfProcessors, 1));
}

}  // namespace

CKelIdleReleaseList::CKelIdleReleaseList() : idleLimit_(2 * ProcessorCount() + 2) {}

CKelIdleReleaseList::~CKelIdleReleaseList() { ReleaseAll(); }

void CKelIdleReleaseList::Add(CKelIdleEntry* entry) {
  if (!entry) return;
  std::lock_guard<std::mutex> guard(lock_);
  entries_.push_back(EntryRef::Adopt(entry));
}

size_t CKelIdleReleaseList::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return entries_.size();
}

int32_t CKelIdleReleaseList::Sweep(DWORD now) {
  std::vector<EntryRef> takenOut;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (swept_ && now >= lastSweep_ && now - lastSweep_ < kSweepIntervalMs) return 0;
    swept_ = true;
    lastSweep_ = now;

    std::vector<bool> keptIdle(entries_.size(), false);
    int32_t idleKept = 0;
    std::vector<bool> remove(entries_.size(), false);
    for (size_t i = entries_.size(); i-- > 0;) {
      int32_t state;
      DWORD lastUse;
      entries_[i]->ReadState(state, lastUse);
      if (state == CKelIdleEntry::kStateIdle && now - lastUse < kMaxIdleAgeMs) {
        keptIdle[i] = true;
        ++idleKept;
      } else if (state == CKelIdleEntry::kStateIdle || state == CKelIdleEntry::kStateUnused) {
        remove[i] = true;
      }
    }
    for (size_t i = entries_.size(); i-- > 0 && idleKept > idleLimit_;) {
      if (keptIdle[i]) {
        remove[i] = true;
        --idleKept;
      }
    }
    std::vector<EntryRef> kept;
    for (size_t i = 0; i < entries_.size(); ++i) (remove[i] ? takenOut : kept).push_back(std::move(entries_[i]));
    entries_.swap(kept);
  }
  return static_cast<int32_t>(takenOut.size());  // released as takenOut goes, outside the lock
}

int32_t CKelIdleReleaseList::ReleaseAll() {
  std::vector<EntryRef> takenOut;
  {
    std::lock_guard<std::mutex> guard(lock_);
    takenOut.swap(entries_);
  }
  return static_cast<int32_t>(takenOut.size());  // released as takenOut goes, outside the lock
}
