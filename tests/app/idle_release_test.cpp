// The idle release list: which entries a sweep takes out, how often it sweeps, the limit of
// idle entries kept, and releasing everything at exit.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "app/idle_release_list.h"

namespace {

std::atomic<int> released{0};

class CountedEntry : public CKelIdleEntry {
 public:
  CountedEntry(int32_t state, DWORD lastUse) { SetState(state, lastUse); }

 protected:
  void FinalRelease() override { ++released; }
};

class IdleReleaseTest : public ::testing::Test {
 protected:
  void SetUp() override { released = 0; }

  // Adds an entry the test keeps a reference to.
  CountedEntry* Add(CKelIdleReleaseList& list, int32_t state, DWORD lastUse) {
    auto* entry = new CountedEntry(state, lastUse);
    entry->AddRef();
    list.Add(entry);
    kept_.push_back(entry);
    return entry;
  }
  void TearDown() override {
    for (CountedEntry* entry : kept_) entry->Release();
  }

  std::vector<CountedEntry*> kept_;
};

constexpr DWORD kNow = 100000;

TEST_F(IdleReleaseTest, SweepTakesOutUnusedAndOldIdleEntriesOnly) {
  CKelIdleReleaseList list(10);
  CountedEntry* unused = Add(list, CKelIdleEntry::kStateUnused, kNow);
  CountedEntry* busy = Add(list, CKelIdleEntry::kStateBusy, kNow - 50000);
  CountedEntry* fresh = Add(list, CKelIdleEntry::kStateIdle, kNow - 15999);
  CountedEntry* old = Add(list, CKelIdleEntry::kStateIdle, kNow - 16000);
  EXPECT_EQ(list.Sweep(kNow), 2);
  EXPECT_EQ(list.Count(), 2u);
  // Released by the list: only the test's own reference is left.
  EXPECT_EQ(unused->RefCount(), 1);
  EXPECT_EQ(old->RefCount(), 1);
  EXPECT_EQ(busy->RefCount(), 2);
  EXPECT_EQ(fresh->RefCount(), 2);
}

TEST_F(IdleReleaseTest, AtMostTheLimitOfIdleEntriesStayAndTheLastOnesGo) {
  CKelIdleReleaseList list(2);
  CountedEntry* first = Add(list, CKelIdleEntry::kStateIdle, kNow - 10);
  CountedEntry* busy = Add(list, CKelIdleEntry::kStateBusy, kNow);
  CountedEntry* second = Add(list, CKelIdleEntry::kStateIdle, kNow - 10);
  CountedEntry* third = Add(list, CKelIdleEntry::kStateIdle, kNow - 10);
  CountedEntry* fourth = Add(list, CKelIdleEntry::kStateIdle, kNow - 10);
  EXPECT_EQ(list.Sweep(kNow), 2);
  EXPECT_EQ(first->RefCount(), 2);
  EXPECT_EQ(second->RefCount(), 2);
  EXPECT_EQ(busy->RefCount(), 2);
  EXPECT_EQ(third->RefCount(), 1);
  EXPECT_EQ(fourth->RefCount(), 1);
}

TEST_F(IdleReleaseTest, SweepsAtMostOncePerSecondUnlessTheClockWentBack) {
  CKelIdleReleaseList list(10);
  EXPECT_EQ(list.Sweep(kNow), 0);
  Add(list, CKelIdleEntry::kStateUnused, kNow);
  EXPECT_EQ(list.Sweep(kNow + 999), 0);
  EXPECT_EQ(list.Count(), 1u);
  EXPECT_EQ(list.Sweep(kNow + 1000), 1);
  Add(list, CKelIdleEntry::kStateUnused, kNow);
  EXPECT_EQ(list.Sweep(kNow + 10), 1);  // earlier than the last sweep: allowed
}

TEST_F(IdleReleaseTest, IdleAgeSurvivesTheTickCounterWrapping) {
  CKelIdleReleaseList list(10);
  CountedEntry* fresh = Add(list, CKelIdleEntry::kStateIdle, 0xFFFFFF00u);
  EXPECT_EQ(list.Sweep(0x100u), 0);  // 512 ms old across the wrap
  EXPECT_EQ(fresh->RefCount(), 2);
}

TEST_F(IdleReleaseTest, ReleaseAllEmptiesTheListAndTheDefaultLimitFollowsTheProcessors) {
  CKelIdleReleaseList list;
  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  EXPECT_EQ(list.IdleLimit(), 2 * static_cast<int32_t>(info.dwNumberOfProcessors) + 2);
  Add(list, CKelIdleEntry::kStateBusy, kNow);
  Add(list, CKelIdleEntry::kStateIdle, kNow);
  EXPECT_EQ(list.ReleaseAll(), 2);
  EXPECT_EQ(list.Count(), 0u);
  EXPECT_EQ(released.load(), 0);  // the test still holds its references
}

TEST_F(IdleReleaseTest, EntriesTakenOutAreFinallyReleasedOutsideTheList) {
  {
    CKelIdleReleaseList list(10);
    list.Add(new CountedEntry(CKelIdleEntry::kStateUnused, kNow));
    list.Add(new CountedEntry(CKelIdleEntry::kStateBusy, kNow));
    EXPECT_EQ(list.Sweep(kNow), 1);
    EXPECT_EQ(released.load(), 1);
  }
  EXPECT_EQ(released.load(), 2);  // the list's destruction released the rest
}

TEST_F(IdleReleaseTest, StatesChangeOnOtherThreadsDuringSweeps) {
  CKelIdleReleaseList list(1000);
  std::vector<CountedEntry*> entries;
  for (int i = 0; i < 200; ++i) entries.push_back(Add(list, CKelIdleEntry::kStateBusy, kNow));
  std::atomic<bool> stop{false};
  std::thread changer([&] {
    for (int round = 0; !stop; ++round) {
      for (CountedEntry* entry : entries) {
        entry->SetState(round % 2 ? CKelIdleEntry::kStateBusy : CKelIdleEntry::kStateIdle, kNow);
      }
    }
  });
  int32_t taken = 0;
  for (DWORD tick = kNow; tick < kNow + 200 * 1000; tick += 1000) taken += list.Sweep(tick);
  stop = true;
  changer.join();
  // Entries set idle at kNow age past 16 s during the sweeps; whatever was taken out was
  // released once and only once.
  EXPECT_EQ(static_cast<size_t>(taken) + list.Count(), entries.size());
  const auto releasedByList =
      std::count_if(entries.begin(), entries.end(), [](CountedEntry* entry) { return entry->RefCount() == 1; });
  EXPECT_EQ(releasedByList, taken);
}

}  // namespace
