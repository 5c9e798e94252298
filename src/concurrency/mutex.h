// The mutex class: a value that refers to a shared, re-entrant lock. Copies (copy
// construction, clone, assignment) lock the same lock; a freshly constructed or reset object
// has a lock of its own. Any thread may lock; the thread that locked must unlock, once per
// Lock. The shared lock goes when its last referrer does, on whichever thread that is.
#pragma once

#include <windows.h>

#include "concurrency/ref_ptr.h"
#include "runtime/object.h"

// The shared lock: one critical section behind a reference count.
class CMMutex final : public CKelRefCounted {
 public:
  CMMutex() { InitializeCriticalSection(&section); }

  void Lock() { EnterCriticalSection(&section); }
  void Unlock() { LeaveCriticalSection(&section); }

 private:
  ~CMMutex() override { DeleteCriticalSection(&section); }

  CRITICAL_SECTION section;
};

class rg_HuChiSuoLei : public CKelRefObject {
  KEL_DECLARE_CLASS(rg_HuChiSuoLei, CKelRefObject)

  rg_HuChiSuoLei();
  // Share the lock (declared so that a moved-from object still has one).
  rg_HuChiSuoLei(const rg_HuChiSuoLei& other) = default;
  rg_HuChiSuoLei& operator=(const rg_HuChiSuoLei& other) = default;
  ~rg_HuChiSuoLei() override = default;

  // Blocks without limit; the owning thread passes again (one Unlock per Lock).
  void Lock() const;
  void Unlock() const;

  // The shared lock, with a reference of the caller's own.
  CKelRefPtr<CMMutex> ShareLock() const;
};

// Holds a mutex for one scope. Keeps its own reference to the lock, so resetting or
// assigning the mutex object meanwhile unlocks the right lock.
class CMMutexGuard {
 public:
  explicit CMMutexGuard(const rg_HuChiSuoLei& mutex) : lock_(mutex.ShareLock()) { lock_->Lock(); }
  CMMutexGuard(const CMMutexGuard&) = delete;
  CMMutexGuard& operator=(const CMMutexGuard&) = delete;
  ~CMMutexGuard() { lock_->Unlock(); }

 private:
  CKelRefPtr<CMMutex> lock_;
};
