// Scope holders of the system's locks: slim reader/writer locks and critical sections. Any
// thread may use them; an SRW lock is not re-entrant, so a thread never takes one twice.
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

// Holds a critical section for one scope.
class CKelCriticalSectionGuard {
 public:
  explicit CKelCriticalSectionGuard(CRITICAL_SECTION& section) noexcept : section_(section) {
    EnterCriticalSection(&section_);
  }
  CKelCriticalSectionGuard(const CKelCriticalSectionGuard&) = delete;
  CKelCriticalSectionGuard& operator=(const CKelCriticalSectionGuard&) = delete;
  ~CKelCriticalSectionGuard() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION& section_;
};
