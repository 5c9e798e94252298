// The spin lock of event bindings: a 64-bit word that is 1 when free. Held only for a few
// instructions (reading or changing a binding), never across a call. Any thread may use it;
// it is not re-entrant.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

class CKelSpinLock {
 public:
  CKelSpinLock() = default;
  CKelSpinLock(const CKelSpinLock&) = delete;
  CKelSpinLock& operator=(const CKelSpinLock&) = delete;

  void Lock() noexcept {
    // Taken when the decrement brings the word from 1 to 0.
    while (word_.fetch_sub(1, std::memory_order_acquire) != 1) {
      unsigned spins = 0;
      while (word_.load(std::memory_order_relaxed) <= 0) {
        YieldProcessor();
        // On a busy machine the holder may have lost its processor: let it run.
        if (++spins % 64 == 0) SwitchToThread();
      }
    }
  }

  void Unlock() noexcept { word_.store(1, std::memory_order_release); }

 private:
  std::atomic<int64_t> word_{1};
};

// Holds a spin lock for one scope.
class CKelSpinLockGuard {
 public:
  explicit CKelSpinLockGuard(CKelSpinLock& lock) noexcept : lock_(lock) { lock_.Lock(); }
  CKelSpinLockGuard(const CKelSpinLockGuard&) = delete;
  CKelSpinLockGuard& operator=(const CKelSpinLockGuard&) = delete;
  ~CKelSpinLockGuard() { lock_.Unlock(); }

 private:
  CKelSpinLock& lock_;
};
