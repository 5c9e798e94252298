#include "concurrency/mutex.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "test_support.h"

namespace {

// True when another thread can lock and unlock mutex (it does not wait for this thread).
bool FreeForOtherThreads(const rg_HuChiSuoLei& mutex) {
  TestThread other([&] {
    mutex.Lock();
    mutex.Unlock();
  });
  return other.Join(TestEvent::kPatienceMs);
}

TEST(Mutex, CopiesShareTheLockAndSerialiseThreads) {
  rg_HuChiSuoLei mutex;
  int64_t counter = 0;
  constexpr int kThreads = 6;
  constexpr int kRounds = 5000;
  {
    std::vector<std::unique_ptr<TestThread>> threads;
    for (int i = 0; i < kThreads; ++i) {
      rg_HuChiSuoLei copy(mutex);  // each thread locks its own copy
      threads.push_back(std::make_unique<TestThread>([copy, &counter] {
        for (int n = 0; n < kRounds; ++n) {
          copy.Lock();
          const int64_t seen = counter;
          if (n % 512 == 0) SwitchToThread();
          counter = seen + 1;
          copy.Unlock();
        }
      }));
    }
  }
  EXPECT_EQ(counter, int64_t{kThreads} * kRounds);
}

TEST(Mutex, SeparateMutexesDoNotBlockEachOther) {
  rg_HuChiSuoLei first;
  rg_HuChiSuoLei second;
  first.Lock();
  EXPECT_TRUE(FreeForOtherThreads(second));
  first.Unlock();
}

TEST(Mutex, ResetGivesALockOfItsOwn) {
  rg_HuChiSuoLei mutex;
  rg_HuChiSuoLei copy(mutex);
  EXPECT_TRUE(copy.Equals(mutex));
  copy.Lock();
  mutex.Reset();
  EXPECT_FALSE(copy.Equals(mutex));
  EXPECT_TRUE(FreeForOtherThreads(mutex));
  copy.Unlock();
}

TEST(Mutex, LockingTwiceNeedsTwoUnlocks) {
  rg_HuChiSuoLei mutex;
  mutex.Lock();
  mutex.Lock();
  mutex.Unlock();
  TestEvent locked;
  TestThread other([&] {
    mutex.Lock();
    locked.Set();
    mutex.Unlock();
  });
  EXPECT_FALSE(locked.Wait(100));
  mutex.Unlock();
  EXPECT_TRUE(locked.Wait());
}

TEST(Mutex, CloneSharesTheLockAndComparesEqual) {
  rg_HuChiSuoLei mutex;
  std::unique_ptr<CKelObject, void (*)(CKelObject*)> clone(mutex.Clone(), [](CKelObject* o) { o->Delete(); });
  ASSERT_TRUE(clone);
  EXPECT_TRUE(clone->Equals(mutex));
  EXPECT_EQ(static_cast<rg_HuChiSuoLei*>(clone.get())->Inner(), mutex.Inner());
  EXPECT_FALSE(rg_HuChiSuoLei().Equals(mutex));
  rg_HuChiSuoLei tagged(mutex);
  tagged.objectTag = 1;
  EXPECT_FALSE(tagged.Equals(mutex));
}

TEST(Mutex, LockLivesAsLongAsItsLastReferrer) {
  CKelRefPtr<CMMutex> lock;
  {
    rg_HuChiSuoLei mutex;
    lock = mutex.ShareLock();
    {
      rg_HuChiSuoLei copy(mutex);
      rg_HuChiSuoLei moved(std::move(copy));
      EXPECT_EQ(lock->RefCount(), 4);
      // A moved-from mutex still refers to the lock.
      EXPECT_EQ(copy.Inner(), lock.Get());
    }
    EXPECT_EQ(lock->RefCount(), 2);
  }
  EXPECT_EQ(lock->RefCount(), 1);
}

TEST(Mutex, GuardUnlocksTheLockItTookEvenAfterReset) {
  rg_HuChiSuoLei mutex;
  rg_HuChiSuoLei copy(mutex);
  {
    CMMutexGuard guard(mutex);
    mutex.Reset();
  }
  EXPECT_TRUE(FreeForOtherThreads(copy));
}

}  // namespace
