#include "runtime/pool_mem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "runtime/text.h"
#include "test_print.h"

namespace {

TEST(PoolMem, SmallRequestsComeFromThePoolUntilItIsEmpty) {
  CPoolMem pool(4);
  EXPECT_EQ(pool.FreeBlockCount(), 4u);
  void* blocks[4];
  for (auto& b : blocks) {
    b = pool.Allocate(CPoolMem::kBlockSize);
    EXPECT_TRUE(pool.Contains(b));
  }
  EXPECT_EQ(pool.FreeBlockCount(), 0u);
  void* fromHeap = pool.Allocate(16);
  ASSERT_NE(fromHeap, nullptr);
  EXPECT_FALSE(pool.Contains(fromHeap));
  pool.Free(fromHeap);
  EXPECT_EQ(pool.FreeBlockCount(), 0u);
  for (void* b : blocks) pool.Free(b);
  EXPECT_EQ(pool.FreeBlockCount(), 4u);
}

TEST(PoolMem, FreedBlockIsReusedFirst) {
  CPoolMem pool(8);
  void* a = pool.Allocate(10);
  void* b = pool.Allocate(10);
  pool.Free(a);
  EXPECT_EQ(pool.Allocate(200), a);
  pool.Free(b);
}

TEST(PoolMem, LargeRequestUsesTheHeapAndIsNotPooledWhenFreed) {
  CPoolMem pool(8);
  void* big = pool.Allocate(257);
  ASSERT_NE(big, nullptr);
  EXPECT_FALSE(pool.Contains(big));
  memset(big, 0xAB, 257);
  EXPECT_EQ(pool.FreeBlockCount(), 8u);
  pool.Free(big);
  EXPECT_EQ(pool.FreeBlockCount(), 8u);
}

TEST(PoolMem, ReallocatingWithinTheBlockSizeKeepsTheBlock) {
  CPoolMem pool(8);
  void* p = pool.Allocate(100);
  ASSERT_TRUE(pool.Contains(p));
  EXPECT_EQ(pool.Reallocate(p, 200), p);
  EXPECT_EQ(pool.Reallocate(p, 256), p);
  pool.Free(p);
}

TEST(PoolMem, ReallocatingBeyondTheBlockMovesToTheHeapAndReturnsTheBlock) {
  CPoolMem pool(8);
  auto* p = static_cast<unsigned char*>(pool.Allocate(256));
  for (int i = 0; i < 256; ++i) p[i] = static_cast<unsigned char>(i);
  auto* q = static_cast<unsigned char*>(pool.Reallocate(p, 1000));
  ASSERT_NE(q, nullptr);
  EXPECT_FALSE(pool.Contains(q));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(q[i], i);
  EXPECT_EQ(pool.FreeBlockCount(), 8u);
  // A heap block keeps its contents when it grows further.
  auto* r = static_cast<unsigned char*>(pool.Reallocate(q, 100000));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(r[i], i);
  pool.Free(r);
}

TEST(PoolMem, ReallocatingNullAllocates) {
  CPoolMem pool(2);
  void* p = pool.Reallocate(nullptr, 10);
  EXPECT_TRUE(pool.Contains(p));
  pool.Free(p);
  pool.Free(nullptr);
  EXPECT_EQ(pool.FreeBlockCount(), 2u);
}

TEST(PoolMem, TryAllocateReportsHeapExhaustion) {
  CPoolMem pool(2);
  EXPECT_EQ(pool.TryAllocate(SIZE_MAX / 4), nullptr);
}

TEST(PoolMemDeathTest, HeapExhaustionEndsTheProcessWithMinusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CPoolMem pool(2);
  EXPECT_EXIT(pool.Allocate(SIZE_MAX / 4), ::testing::ExitedWithCode(-1), "");
}

TEST(PoolMem, ConcurrentUseNeverHandsOutABlockTwice) {
  constexpr size_t kBlocks = 64;
  CPoolMem pool(kBlocks);
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  std::vector<int> errors(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&pool, &errors, t] {
      const auto mark = static_cast<unsigned char>(t + 1);
      for (int round = 0; round < 20000; ++round) {
        void* held[8];
        for (auto& h : held) {
          h = pool.Allocate(64);
          memset(h, mark, 64);
        }
        for (void* h : held) {
          const auto* bytes = static_cast<const unsigned char*>(h);
          for (int i = 0; i < 64; ++i) {
            if (bytes[i] != mark) ++errors[t];
          }
          pool.Free(h);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int e : errors) EXPECT_EQ(e, 0);
  EXPECT_EQ(pool.FreeBlockCount(), kBlocks);
}

TEST(PoolMem, RuntimeObjectsComeFromTheProcessPool) {
  auto* text = new CWString(L"x");
  EXPECT_TRUE(CPoolMem::Instance().Contains(text));
  delete text;
  EXPECT_EQ(&CPoolMem::Instance(), &CPoolMem::Instance());
}

}  // namespace
