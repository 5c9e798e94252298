// The runtime's list of releasable entries (cached objects the runtime may give back while
// the program is idle). Entries are swept on idle: idle ones not used for a while go, and at
// most a few idle ones are kept. Releasing always happens outside the list's lock.
// Entries may be added and change state on any thread; sweeps run on the user-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "concurrency/ref_ptr.h"
#include "runtime/object.h"

// One entry: a reference-counted object with a state and the tick of its last use, both read
// and written under the entry's own lock. The list holds one reference.
class CKelIdleEntry : public CKelRefCounted {
 public:
  enum State : int32_t { kStateUnused = 0, kStateBusy = 1, kStateIdle = 2 };

  CKelIdleEntry() = default;

  void SetState(int32_t state, DWORD lastUseTick);
  int32_t GetState() const;
  DWORD LastUseTick() const;
  // Both under one lock.
  void ReadState(int32_t& state, DWORD& lastUseTick) const;

 private:
  mutable std::mutex lock_;
  int32_t state_ = kStateUnused;
  DWORD lastUseTick_ = 0;
};

class CKelIdleReleaseList {
 public:
  static constexpr DWORD kSweepIntervalMs = 1000;
  static constexpr DWORD kMaxIdleAgeMs = 16000;

  // Keeps at most 2 * processors + 2 idle entries.
  CKelIdleReleaseList();
  explicit CKelIdleReleaseList(int32_t idleLimit) : idleLimit_(idleLimit) {}
  CKelIdleReleaseList(const CKelIdleReleaseList&) = delete;
  CKelIdleReleaseList& operator=(const CKelIdleReleaseList&) = delete;
  ~CKelIdleReleaseList();

  // Takes over the caller's reference.
  void Add(CKelIdleEntry* entry);
  size_t Count() const;
  int32_t IdleLimit() const { return idleLimit_; }

  // At most once per kSweepIntervalMs (a tick count that went backwards also allows one):
  // takes out unused entries and idle ones older than kMaxIdleAgeMs, then idle ones from the
  // end while more than the limit are left, and releases them. The number released.
  int32_t Sweep(DWORD now);
  // Takes out and releases every entry; the number released.
  int32_t ReleaseAll();

 private:
  using EntryRef = CKelRefPtr<CKelIdleEntry>;

  mutable std::mutex lock_;
  std::vector<EntryRef> entries_;
  int32_t idleLimit_;
  bool swept_ = false;
  DWORD lastSweep_ = 0;
};
