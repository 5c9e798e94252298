#include "runtime/pool_mem.h"

#include <windows.h>

#include <cstring>
#include <immintrin.h>
#include <new>

CPoolMem::CPoolMem(size_t blockCount) {
  if (blockCount == 0) return;
  base_ = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), 0, blockCount * kBlockSize));
  if (!base_) OutOfMemory();
  end_ = base_ + blockCount * kBlockSize;
  // Chain the blocks in address order; the last link is null.
  for (size_t i = 0; i < blockCount; ++i) {
    auto* block = reinterpret_cast<FreeBlock*>(base_ + i * kBlockSize);
    block->next = i + 1 < blockCount ? reinterpret_cast<FreeBlock*>(base_ + (i + 1) * kBlockSize) : nullptr;
  }
  freeList_ = reinterpret_cast<FreeBlock*>(base_);
}

CPoolMem::~CPoolMem() {
  if (base_) HeapFree(GetProcessHeap(), 0, base_);
}

CPoolMem& CPoolMem::Instance() {
  // Never destroyed: objects with static storage free into it during static destruction.
  alignas(CPoolMem) static unsigned char storage[sizeof(CPoolMem)];
  static CPoolMem* const pool = new (storage) CPoolMem();
  return *pool;
}

void CPoolMem::OutOfMemory() { ExitProcess(static_cast<UINT>(-1)); }

void CPoolMem::Lock() const {
  while (lock_.fetch_sub(1, std::memory_order_acquire) - 1 != 0) {
    while (lock_.load(std::memory_order_relaxed) <= 0) _mm_pause();
  }
}

void CPoolMem::Unlock() const { lock_.store(1, std::memory_order_release); }

void* CPoolMem::TryAllocate(size_t n) {
  if (n <= kBlockSize) {
    Lock();
    FreeBlock* block = freeList_;
    if (block) freeList_ = block->next;
    Unlock();
    if (block) return block;
  }
  return HeapAlloc(GetProcessHeap(), 0, n ? n : 1);
}

void* CPoolMem::Allocate(size_t n) {
  void* block = TryAllocate(n);
  if (!block) OutOfMemory();
  return block;
}

void* CPoolMem::Reallocate(void* block, size_t n) {
  if (!block) return Allocate(n);
  if (Contains(block)) {
    if (n <= kBlockSize) return block;
    void* moved = Allocate(n);
    memcpy(moved, block, kBlockSize);
    Free(block);
    return moved;
  }
  void* moved = HeapReAlloc(GetProcessHeap(), 0, block, n ? n : 1);
  if (!moved) OutOfMemory();
  return moved;
}

void CPoolMem::Free(void* block) {
  if (!block) return;
  if (Contains(block)) {
    auto* freed = static_cast<FreeBlock*>(block);
    Lock();
    freed->next = freeList_;
    freeList_ = freed;
    Unlock();
    return;
  }
  HeapFree(GetProcessHeap(), 0, block);
}

bool CPoolMem::Contains(const void* block) const {
  auto p = reinterpret_cast<uintptr_t>(block);
  return p >= reinterpret_cast<uintptr_t>(base_) && p < reinterpret_cast<uintptr_t>(end_);
}

size_t CPoolMem::FreeBlockCount() const {
  Lock();
  size_t count = 0;
  for (const FreeBlock* b = freeList_; b; b = b->next) ++count;
  Unlock();
  return count;
}
