// Scope holders of slim reader/writer locks. Any thread may use them; an SRW lock is not
// re-entrant, so a thread never takes the same lock twice.
#pragma once

#include <windows.h>

// Holds an SRW lock for writing for one scope.
class CKelSrwExclusiveGuard {
 public:
  explicit CKelSrwExclusiveGuard(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  CKelSrwExclusiveGuard(const CKelSrwExclusiveGuard&) = delete;
  CKelSrwExclusiveGuard& operator=(const CKelSrwExclusiveGuard&) = delete;
  ~CKelSrwExclusiveGuard() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK& lock_;
};

// Holds an SRW lock for reading for one scope.
class CKelSrwSharedGuard {
 public:
  explicit CKelSrwSharedGuard(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockShared(&lock_); }
  CKelSrwSharedGuard(const CKelSrwSharedGuard&) = delete;
  CKelSrwSharedGuard& operator=(const CKelSrwSharedGuard&) = delete;
  ~CKelSrwSharedGuard() { ReleaseSRWLockShared(&lock_); }

 private:
  SRWLOCK& lock_;
};
