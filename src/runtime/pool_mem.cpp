#include "runtime/pool_mem.h"

#include <windows.h>

#include <new>

CPoolMem::CPoolMem(size_t) {}
CPoolMem::~CPoolMem() {}
CPoolMem& CPoolMem::Instance() {
  static CPoolMem* pool = new CPoolMem();
  return *pool;
}
void* CPoolMem::Allocate(size_t n) { return HeapAlloc(GetProcessHeap(), 0, n ? n : 1); }
void* CPoolMem::TryAllocate(size_t n) { return HeapAlloc(GetProcessHeap(), 0, n ? n : 1); }
void* CPoolMem::Reallocate(void* b, size_t n) {
  return b ? HeapReAlloc(GetProcessHeap(), 0, b, n ? n : 1) : Allocate(n);
}
void CPoolMem::Free(void* b) {
  if (b) HeapFree(GetProcessHeap(), 0, b);
}
bool CPoolMem::Contains(const void*) const { return false; }
size_t CPoolMem::FreeBlockCount() const { return 0; }
void CPoolMem::OutOfMemory() { ExitProcess(static_cast<UINT>(-1)); }
void CPoolMem::Lock() const {}
void CPoolMem::Unlock() const {}
