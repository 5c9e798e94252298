// The process-wide memory manager: a fixed pool of 256-byte blocks in front of the process
// heap. Every runtime object and every byte set's storage comes from here.
// Thread-safe: any thread may allocate and free; the free list sits under a spin lock that is
// held only for the list update.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class CPoolMem {
 public:
  static constexpr size_t kBlockSize = 256;
  static constexpr size_t kBlockCount = 16384;  // 4 MiB

  // Takes blockCount blocks from the process heap. Tests make small private pools.
  explicit CPoolMem(size_t blockCount = kBlockCount);
  ~CPoolMem();
  CPoolMem(const CPoolMem&) = delete;
  CPoolMem& operator=(const CPoolMem&) = delete;

  // The manager used by every runtime object. It lives until the process ends, so objects
  // with static storage may still free into it during static destruction.
  static CPoolMem& Instance();

  // Heap exhaustion ends the process with exit code -1, without a message.
  void* Allocate(size_t n);
  void* TryAllocate(size_t n);  // null when the heap cannot satisfy the request
  // A null block is allocated; a pool block asked for at most 256 bytes stays where it is.
  void* Reallocate(void* block, size_t n);
  void Free(void* block);  // null is ignored

  bool Contains(const void* block) const;
  size_t FreeBlockCount() const;  // walks the free list under the lock

  [[noreturn]] static void OutOfMemory();

 private:
  struct FreeBlock {
    FreeBlock* next;
  };

  void Lock() const;
  void Unlock() const;

  unsigned char* base_ = nullptr;
  unsigned char* end_ = nullptr;
  FreeBlock* freeList_ = nullptr;
  mutable std::atomic<int64_t> lock_{1};  // 1 when free
};
