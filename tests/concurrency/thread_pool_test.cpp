#include "concurrency/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "test_support.h"

namespace {

// A task parameter that counts its live instances and its copies.
class TaskParams : public CKelObject {
  KEL_DECLARE_CLASS(TaskParams, CKelObject)

  TaskParams() { live.fetch_add(1); }
  explicit TaskParams(int v) : value(v) { live.fetch_add(1); }
  TaskParams(const TaskParams& other) : CKelObject(other), value(other.value) {
    live.fetch_add(1);
    copies.fetch_add(1);
  }
  TaskParams& operator=(const TaskParams&) = default;
  ~TaskParams() override { live.fetch_sub(1); }

  int value = 0;
  static inline std::atomic<int> live{0};
  static inline std::atomic<int> copies{0};
};

using TaskBody =
    std::function<int32_t(CKelObject* sender, int32_t extra, int32_t kind, int64_t value1, int64_t value2)>;
using ObjectTaskBody =
    std::function<int32_t(CKelObject* sender, int32_t extra, int32_t kind, CKelObject* object, int64_t value2)>;

// The owner of a pool's handlers: bound to both events; the bodies are set by each test.
class PoolOwner {
 public:
  explicit PoolOwner(rg_XianChengChiLei2_n& pool, int32_t extra = 0) {
    pool.onTask.Bind<&PoolOwner::OnTask>(events, extra);
    pool.onObjectTask.Bind<&PoolOwner::OnObjectTask>(events, extra);
  }
  ~PoolOwner() { events.Detach(); }

  TaskBody task;
  ObjectTaskBody objectTask;
  EventTarget<PoolOwner> events{this};

 private:
  int32_t OnTask(CKelObject* sender, int32_t extra, int32_t kind, int64_t value1, int64_t value2) {
    return task ? task(sender, extra, kind, value1, value2) : 0;
  }
  int32_t OnObjectTask(CKelObject* sender, int32_t extra, int32_t kind, CKelObject* object, int64_t value2) {
    return objectTask ? objectTask(sender, extra, kind, object, value2) : 0;
  }
};

bool CreatePool(rg_XianChengChiLei2_n& pool, int32_t threads, int32_t priority = 0, int32_t initCom = 0) {
  return pool.Create(threads, 0, priority, initCom);
}

// Waits until every worker of record has ended.
bool WorkersEnded(const CKelRefPtr<THREADPOOL_INFO>& record) {
  return WaitUntil([&] { return record->liveThreads.load() == 0; });
}

TEST(ThreadPool, DefaultThreadCountIsProcessorsPlusOneAndCreateTwiceAddsNone) {
  rg_XianChengChiLei2_n pool;
  pool.cpuCount = 4;
  ASSERT_TRUE(CreatePool(pool, 0));
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->threadCount, 5);
  EXPECT_EQ(record->liveThreads.load(), 5);
  EXPECT_EQ(record->state.load(), THREADPOOL_INFO::kRunning);
  EXPECT_TRUE(CreatePool(pool, 3));
  EXPECT_EQ(pool.Info().Get(), record.Get());
  EXPECT_EQ(record->liveThreads.load(), 5);
  EXPECT_TRUE(pool.Stop(0, 0));
  EXPECT_FALSE(pool.Info());
  EXPECT_EQ(record->liveThreads.load(), 0);
}

TEST(ThreadPool, ProcessorCountIsReadWhenUnknown) {
  rg_XianChengChiLei2_n pool;
  ASSERT_TRUE(CreatePool(pool, 0));
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  EXPECT_EQ(pool.cpuCount, system.dwNumberOfProcessors);
  EXPECT_EQ(pool.Info()->threadCount, static_cast<int32_t>(system.dwNumberOfProcessors) + 1);
}

TEST(ThreadPool, ManyTasksReachTheHandlerWithTheirArguments) {
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool, 3);
  std::atomic<int64_t> kinds{0};
  std::atomic<int64_t> firsts{0};
  std::atomic<int64_t> seconds{0};
  std::atomic<int> calls{0};
  std::atomic<int> wrongSender{0};
  owner.task = [&](CKelObject* sender, int32_t extra, int32_t kind, int64_t value1, int64_t value2) {
    if (sender != &pool || extra != 3) wrongSender.fetch_add(1);
    kinds.fetch_add(kind);
    firsts.fetch_add(value1);
    seconds.fetch_add(value2);
    calls.fetch_add(1);
    return 0;
  };
  ASSERT_TRUE(CreatePool(pool, 4));
  constexpr int kTasks = 20000;
  int64_t expectKinds = 0;
  int64_t expectFirsts = 0;
  for (int i = 0; i < kTasks; ++i) {
    pool.PostTask(i % 7, i, int64_t{1} << 33);
    expectKinds += i % 7;
    expectFirsts += i;
  }
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  ASSERT_TRUE(WaitUntil([&] { return record->completedTasks.load() == kTasks; }));
  EXPECT_EQ(calls.load(), kTasks);
  EXPECT_EQ(kinds.load(), expectKinds);
  EXPECT_EQ(firsts.load(), expectFirsts);
  EXPECT_EQ(seconds.load(), int64_t{kTasks} << 33);
  EXPECT_EQ(wrongSender.load(), 0);
  EXPECT_EQ(record->pendingTasks.load(), 0);
  EXPECT_EQ(record->runningTasks.load(), 0);
}

TEST(ThreadPool, ObjectTaskGetsItsOwnCopyWhichIsDeletedAfterTheHandler) {
  const int baseline = TaskParams::live.load();
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  TestEvent entered;
  TestEvent go;
  std::atomic<int> seen{-1};
  std::atomic<bool> sameObject{true};
  TaskParams params(10);
  owner.objectTask = [&](CKelObject*, int32_t, int32_t kind, CKelObject* object, int64_t value2) {
    auto* copy = static_cast<TaskParams*>(object);
    sameObject.store(copy == &params);
    entered.Set();
    go.Wait();
    seen.store(copy->value + kind + static_cast<int>(value2));
    return 0;
  };
  ASSERT_TRUE(CreatePool(pool, 1));
  pool.PostObjectTask(100, params, 1000);
  ASSERT_TRUE(entered.Wait());
  params.value = 99;
  EXPECT_EQ(TaskParams::live.load(), baseline + 2);
  go.Set();
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  ASSERT_TRUE(WaitUntil([&] { return record->completedTasks.load() == 1; }));
  EXPECT_FALSE(sameObject.load());
  EXPECT_EQ(seen.load(), 10 + 100 + 1000);
  EXPECT_EQ(TaskParams::live.load(), baseline + 1);
}

TEST(ThreadPool, TasksPostedBeforeCreateOrAfterStopAreNotRunNorCopied) {
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  std::atomic<int> calls{0};
  owner.task = [&](CKelObject*, int32_t, int32_t, int64_t, int64_t) { return calls.fetch_add(1); };
  owner.objectTask = [&](CKelObject*, int32_t, int32_t, CKelObject*, int64_t) { return calls.fetch_add(1); };
  TaskParams params(1);
  const int copies = TaskParams::copies.load();
  pool.PostTask(1, 2, 3);
  pool.PostObjectTask(1, params, 3);
  EXPECT_EQ(TaskParams::copies.load(), copies);
  ASSERT_TRUE(CreatePool(pool, 2));
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  ASSERT_TRUE(pool.Stop(0, 0));
  EXPECT_FALSE(pool.IsRunning());
  pool.PostTask(1, 2, 3);
  pool.PostObjectTask(1, params, 3);
  EXPECT_EQ(TaskParams::copies.load(), copies);
  EXPECT_EQ(record->pendingTasks.load(), 0);
  EXPECT_EQ(calls.load(), 0);
}

TEST(ThreadPool, StopDiscardsQueuedTasksAndDeletesTheirObjects) {
  const int baseline = TaskParams::live.load();
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  TestEvent entered;
  TestEvent go;
  std::atomic<int> calls{0};
  owner.objectTask = [&](CKelObject*, int32_t, int32_t, CKelObject*, int64_t) {
    calls.fetch_add(1);
    entered.Set();
    go.Wait();
    return 0;
  };
  ASSERT_TRUE(CreatePool(pool, 1));
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  {
    TaskParams params(5);
    pool.PostObjectTask(0, params, 0);
    ASSERT_TRUE(entered.Wait());
    for (int i = 0; i < 50; ++i) pool.PostObjectTask(0, params, i);
  }
  EXPECT_EQ(TaskParams::live.load(), baseline + 51);
  // Let the running task end only once everything queued has been drained.
  TestThread releaser([&] {
    WaitUntil([&] { return record->pendingTasks.load() == 0; });
    go.Set();
  });
  ASSERT_TRUE(pool.Stop(0, 0));
  EXPECT_EQ(calls.load(), 1);
  EXPECT_EQ(record->liveThreads.load(), 0);
  EXPECT_EQ(TaskParams::live.load(), baseline);
}

TEST(ThreadPool, StopWithALimitReturnsWhileAHandlerStillRuns) {
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  TestEvent entered;
  TestEvent go;
  std::atomic<bool> finished{false};
  owner.task = [&](CKelObject*, int32_t, int32_t, int64_t, int64_t) {
    entered.Set();
    go.Wait();
    finished.store(true);
    return 0;
  };
  ASSERT_TRUE(CreatePool(pool, 1));
  pool.PostTask(0, 0, 0);
  ASSERT_TRUE(entered.Wait());
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  const ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(pool.Stop(0, 2000));
  const ULONGLONG elapsed = GetTickCount64() - start;
  EXPECT_GE(elapsed, 2000u);
  EXPECT_LT(elapsed, 2000u + 4000u);  // generous: the machine is shared
  EXPECT_FALSE(pool.Info());
  EXPECT_EQ(record->liveThreads.load(), 1);
  EXPECT_FALSE(finished.load());
  go.Set();
  ASSERT_TRUE(WorkersEnded(record));
  EXPECT_TRUE(finished.load());
}

TEST(ThreadPool, StopWithoutWaitingReturnsAtOnceAndWorkersEndLater) {
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  TestEvent entered;
  TestEvent go;
  owner.task = [&](CKelObject*, int32_t, int32_t, int64_t, int64_t) {
    entered.Set();
    go.Wait();
    return 0;
  };
  ASSERT_TRUE(CreatePool(pool, 2));
  pool.PostTask(0, 0, 0);
  ASSERT_TRUE(entered.Wait());
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  EXPECT_TRUE(pool.Stop(1, 0));
  EXPECT_FALSE(pool.Info());
  EXPECT_EQ(record->state.load(), THREADPOOL_INFO::kStopping);
  go.Set();
  EXPECT_TRUE(WorkersEnded(record));
}

// Window whose messages act on a pool while that pool's Stop or Create pumps messages.
struct PumpProbe {
  rg_XianChengChiLei2_n* pool = nullptr;
  TestEvent* go = nullptr;
  int dispatched = 0;
  bool nestedStop = true;
  bool nestedCreate = true;
};

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* probe = reinterpret_cast<PumpProbe*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_APP + 2 && probe) {
    ++probe->dispatched;
    if (probe->pool) {
      probe->nestedStop = probe->pool->Stop(0, 2000);
      probe->nestedCreate = probe->pool->Create(1, 0, 0, 0);
    }
    if (probe->go) probe->go->Set();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

UniqueWindow MakeProbeWindow(PumpProbe& probe) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ProbeWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"BmPoolPumpProbe";
  RegisterClassW(&windowClass);
  UniqueWindow window(CreateWindowExW(0, L"BmPoolPumpProbe", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
  if (window) SetWindowLongPtrW(window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&probe));
  return window;
}

// Removes a WM_QUIT from this thread's queue; its exit code, or -1 when there was none.
int TakeQuit() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
  }
  return -1;
}

TEST(ThreadPool, StopDispatchesMessagesLeavesQuitQueuedAndRefusesANestedStop) {
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  TestEvent entered;
  TestEvent go;
  owner.task = [&](CKelObject*, int32_t, int32_t, int64_t, int64_t) {
    entered.Set();
    go.Wait();
    return 0;
  };
  PumpProbe probe;
  probe.pool = &pool;
  probe.go = &go;
  UniqueWindow window = MakeProbeWindow(probe);
  ASSERT_TRUE(window);
  ASSERT_TRUE(CreatePool(pool, 1));
  pool.PostTask(0, 0, 0);
  ASSERT_TRUE(entered.Wait());
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  // The handler ends only when Stop's own message pump has delivered this message.
  PostMessageW(window.Get(), WM_APP + 2, 0, 0);
  PostQuitMessage(42);
  EXPECT_TRUE(pool.Stop(0, 0));
  EXPECT_EQ(probe.dispatched, 1);
  EXPECT_FALSE(probe.nestedStop);
  EXPECT_FALSE(probe.nestedCreate);
  EXPECT_EQ(record->liveThreads.load(), 0);
  EXPECT_FALSE(pool.Info());
  EXPECT_EQ(TakeQuit(), 42);
}

TEST(ThreadPool, CreateLeavesQuitQueued) {
  PumpProbe probe;
  UniqueWindow window = MakeProbeWindow(probe);
  ASSERT_TRUE(window);
  PostMessageW(window.Get(), WM_APP + 2, 0, 0);
  PostQuitMessage(43);
  rg_XianChengChiLei2_n pool;
  ASSERT_TRUE(CreatePool(pool, 3));
  EXPECT_EQ(pool.Info()->liveThreads.load(), 3);
  EXPECT_EQ(TakeQuit(), 43);
}

TEST(ThreadPool, CreateAfterStopStartsANewPool) {
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  std::atomic<int> calls{0};
  owner.task = [&](CKelObject*, int32_t, int32_t, int64_t, int64_t) { return calls.fetch_add(1); };
  for (int round = 0; round < 10; ++round) {
    ASSERT_TRUE(CreatePool(pool, 2));
    CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
    for (int i = 0; i < 10; ++i) pool.PostTask(0, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return record->completedTasks.load() == 10; }));
    ASSERT_TRUE(pool.Stop(0, 0));
    EXPECT_EQ(record->liveThreads.load(), 0);
  }
  EXPECT_EQ(calls.load(), 100);
}

TEST(ThreadPool, StopFromInsideAHandlerDoesNotWaitForItsOwnWorker) {
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  std::atomic<int> result{-1};
  owner.task = [&](CKelObject*, int32_t, int32_t, int64_t, int64_t) {
    result.store(pool.Stop(0, 0) ? 1 : 0);
    return 0;
  };
  ASSERT_TRUE(CreatePool(pool, 3));
  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  pool.PostTask(0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return result.load() != -1; }));
  EXPECT_EQ(result.load(), 1);
  EXPECT_TRUE(WorkersEnded(record));
  EXPECT_FALSE(pool.Info());
}

TEST(ThreadPool, WorkersInitialiseComAndGetTheirPriorityOnlyWhenAsked) {
  for (int32_t initCom : {0, 1}) {
    rg_XianChengChiLei2_n pool;
    PoolOwner owner(pool);
    std::atomic<HRESULT> com{E_FAIL};
    std::atomic<int> priority{999};
    owner.task = [&](CKelObject*, int32_t, int32_t, int64_t, int64_t) {
      HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
      if (SUCCEEDED(hr)) CoUninitialize();
      priority.store(GetThreadPriority(GetCurrentThread()));
      com.store(hr);
      return 0;
    };
    const int32_t wanted = initCom ? THREAD_PRIORITY_BELOW_NORMAL : 0;
    ASSERT_TRUE(CreatePool(pool, 1, wanted, initCom));
    pool.PostTask(0, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return com.load() != E_FAIL; }));
    EXPECT_EQ(com.load(), initCom ? S_FALSE : S_OK);
    EXPECT_EQ(priority.load(), initCom ? THREAD_PRIORITY_BELOW_NORMAL : THREAD_PRIORITY_NORMAL);
  }
}

TEST(ThreadPool, ObjectOperationsSeeOnlyTheObjectWords) {
  rg_XianChengChiLei2_n pool;
  PoolOwner owner(pool);
  std::atomic<int> calls{0};
  owner.task = [&](CKelObject*, int32_t, int32_t, int64_t, int64_t) { return calls.fetch_add(1); };
  ASSERT_TRUE(CreatePool(pool, 1));
  pool.objectTag = 7;

  std::unique_ptr<CKelObject, void (*)(CKelObject*)> clone(pool.Clone(), [](CKelObject* o) { o->Delete(); });
  ASSERT_TRUE(clone);
  auto* copy = static_cast<rg_XianChengChiLei2_n*>(clone.get());
  EXPECT_FALSE(copy->IsRunning());
  EXPECT_FALSE(copy->onTask.IsBound());
  EXPECT_EQ(copy->objectTag, 7u);
  EXPECT_TRUE(pool.Equals(*copy));

  rg_XianChengChiLei2_n other;
  other.objectTag = 9;
  EXPECT_FALSE(pool.Equals(other));
  pool = other;
  EXPECT_EQ(pool.objectTag, 9u);
  EXPECT_TRUE(pool.IsRunning());
  EXPECT_TRUE(pool.onTask.IsBound());
  pool.Reset();
  EXPECT_EQ(pool.objectTag, 0u);
  EXPECT_TRUE(pool.IsRunning());

  CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
  pool.PostTask(0, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return record->completedTasks.load() == 1; }));
  EXPECT_EQ(calls.load(), 1);
}

// A target that notices calls made after it was detached; kept alive to the end of the test
// so that such a call would be counted rather than crash.
class RetiringTarget {
 public:
  explicit RetiringTarget(std::atomic<int>& late) : late_(late) {}
  int32_t OnTask(int32_t, int64_t, int64_t) {
    if (retired.load()) late_.fetch_add(1);
    calls.fetch_add(1);
    return 0;
  }
  void Retire() {
    events.Detach();
    retired.store(true);
  }
  std::atomic<int> calls{0};
  std::atomic<bool> retired{false};
  EventTarget<RetiringTarget> events{this};

 private:
  std::atomic<int>& late_;
};

TEST(ThreadPool, TargetsDetachedWhileTasksRunNeverSeeLaterCalls) {
  rg_XianChengChiLei2_n pool;
  ASSERT_TRUE(CreatePool(pool, 4));
  std::atomic<int> late{0};
  std::vector<std::unique_ptr<RetiringTarget>> targets;
  for (int round = 0; round < 150; ++round) {
    targets.push_back(std::make_unique<RetiringTarget>(late));
    RetiringTarget& target = *targets.back();
    pool.onTask.Bind<&RetiringTarget::OnTask>(target.events);
    for (int i = 0; i < 100; ++i) pool.PostTask(0, i, 0);
    ASSERT_TRUE(WaitUntil([&] { return target.calls.load() > 0; }));
    target.Retire();
  }
  ASSERT_TRUE(pool.Stop(0, 0));
  EXPECT_EQ(late.load(), 0);
}

TEST(ThreadPool, DestroyingAPoolWithQueuedAndRunningTasksFreesEverything) {
  const int baseline = TaskParams::live.load();
  std::atomic<int> calls{0};
  for (int round = 0; round < 20; ++round) {
    auto pool = std::make_unique<rg_XianChengChiLei2_n>();
    PoolOwner owner(*pool);
    owner.objectTask = [&](CKelObject*, int32_t, int32_t, CKelObject* object, int64_t) {
      calls.fetch_add(static_cast<TaskParams*>(object)->value);
      return 0;
    };
    ASSERT_TRUE(CreatePool(*pool, 3));
    CKelRefPtr<THREADPOOL_INFO> record = pool->Info();
    TaskParams params(1);
    for (int i = 0; i < 300; ++i) pool->PostObjectTask(0, params, i);
    pool.reset();
    ASSERT_TRUE(WorkersEnded(record));
    EXPECT_EQ(record->pendingTasks.load(), 0);
  }
  EXPECT_TRUE(WaitUntil([&] { return TaskParams::live.load() == baseline; }));
  EXPECT_GT(calls.load(), 0);
}

TEST(ThreadPool, PostersRacingStopLeaveNothingBehind) {
  const int baseline = TaskParams::live.load();
  for (int round = 0; round < 15; ++round) {
    rg_XianChengChiLei2_n pool;
    PoolOwner owner(pool);
    std::atomic<int> calls{0};
    owner.objectTask = [&](CKelObject*, int32_t, int32_t, CKelObject*, int64_t) { return calls.fetch_add(1); };
    ASSERT_TRUE(CreatePool(pool, 3));
    CKelRefPtr<THREADPOOL_INFO> record = pool.Info();
    std::atomic<bool> stop{false};
    std::atomic<int> posted{0};
    {
      std::vector<std::unique_ptr<TestThread>> posters;
      for (int i = 0; i < 3; ++i) {
        posters.push_back(std::make_unique<TestThread>([&, i] {
          TaskParams params(i);
          while (!stop.load()) {
            pool.PostObjectTask(0, params, 0);
            posted.fetch_add(1);
          }
        }));
      }
      ASSERT_TRUE(WaitUntil([&] { return posted.load() > 200; }));
      ASSERT_TRUE(pool.Stop(0, 0));
      stop.store(true);
    }
    EXPECT_EQ(record->liveThreads.load(), 0);
    EXPECT_GT(calls.load(), 0);
  }
  // Tasks posted after the stop packets go with the last reference to their record.
  EXPECT_TRUE(WaitUntil([&] { return TaskParams::live.load() == baseline; }));
}

}  // namespace
