#include "concurrency/event_binding.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "test_support.h"

namespace {

using ProgressEvent = EventBinding<int32_t, const wchar_t*>;

// A target that counts its calls and notices calls that arrive after it was detached.
class Listener {
 public:
  Listener() = default;
  ~Listener() { Retire(); }

  void Retire() {
    events.Detach();
    retired.store(true);
  }

  int32_t OnProgress(int32_t row, const wchar_t* text) {
    if (retired.load()) lateCalls.fetch_add(1);
    calls.fetch_add(1);
    lastRow = row;
    lastText = text;
    return row * 2;
  }

  int32_t OnProgressFull(CKelObject* sender, int32_t extra, int32_t row, const wchar_t*) {
    lastSender = sender;
    lastExtra = extra;
    return row + extra;
  }

  void OnProgressNoResult(int32_t row, const wchar_t*) { lastRow = row; }

  std::atomic<int> calls{0};
  std::atomic<int> lateCalls{0};
  std::atomic<bool> retired{false};
  int32_t lastRow = 0;
  const wchar_t* lastText = nullptr;
  CKelObject* lastSender = nullptr;
  int32_t lastExtra = 0;
  EventTarget<Listener> events{this};
};

TEST(EventBinding, MemberHandlersOfEitherShapeGetArgumentsAndGiveTheirResult) {
  Listener listener;
  ProgressEvent event;
  CKelObject sender;
  event.Bind<&Listener::OnProgress>(listener.events);
  EXPECT_EQ(event.Fire(&sender, 21, L"下载中"), 42);
  EXPECT_EQ(listener.lastRow, 21);
  EXPECT_STREQ(listener.lastText, L"下载中");
  event.Bind<&Listener::OnProgressFull>(listener.events, 7);
  EXPECT_EQ(event.Fire(&sender, 5, L""), 12);
  EXPECT_EQ(listener.lastSender, &sender);
  EXPECT_EQ(listener.lastExtra, 7);
  event.Bind<&Listener::OnProgressNoResult>(listener.events);
  EXPECT_EQ(event.Fire(&sender, 9, L"x"), 0);
  EXPECT_EQ(listener.lastRow, 9);
}

TEST(EventBinding, UnboundOrUnboundAgainGivesZeroWithoutCall) {
  Listener listener;
  ProgressEvent event;
  EXPECT_FALSE(event.IsBound());
  EXPECT_EQ(event.Fire(nullptr, 1, L""), 0);
  event.Bind<&Listener::OnProgress>(listener.events);
  event.Unbind();
  EXPECT_EQ(event.Fire(nullptr, 1, L""), 0);
  EXPECT_EQ(listener.calls.load(), 0);
}

TEST(EventBinding, BindingTakesAndGivesBackHolderReferences) {
  Listener first;
  Listener second;
  CKelEventObjectPointer* holder = first.events.Holder();
  ProgressEvent event;
  event.Bind<&Listener::OnProgress>(first.events);
  EXPECT_EQ(holder->RefCount(), 2);
  // Same holder again: only handler and extra change.
  event.Bind<&Listener::OnProgressFull>(first.events, 3);
  EXPECT_EQ(holder->RefCount(), 2);
  EXPECT_EQ(event.Fire(nullptr, 1, L""), 4);
  event.Bind<&Listener::OnProgress>(second.events);
  EXPECT_EQ(holder->RefCount(), 1);
  EXPECT_EQ(second.events.Holder()->RefCount(), 2);
  EXPECT_EQ(event.Fire(nullptr, 4, L""), 8);
  EXPECT_EQ(second.calls.load(), 1);
}

TEST(EventBinding, CopiesStartUnboundAndAssignmentKeepsTheBinding) {
  Listener a;
  Listener b;
  ProgressEvent event;
  event.Bind<&Listener::OnProgress>(a.events);
  ProgressEvent copy(event);
  EXPECT_FALSE(copy.IsBound());
  ProgressEvent other;
  other.Bind<&Listener::OnProgress>(b.events);
  other = event;
  other.Fire(nullptr, 1, L"");
  EXPECT_EQ(b.calls.load(), 1);
  EXPECT_EQ(a.calls.load(), 0);
}

TEST(EventBinding, NoCallAfterDetachAndTheBindingKeepsOnlyItsReference) {
  auto listener = std::make_unique<Listener>();
  ProgressEvent event;
  event.Bind<&Listener::OnProgress>(listener->events);
  CKelEventObjectPointer* holder = listener->events.Holder();
  holder->AddRef();  // watch the holder after the listener is gone
  listener.reset();
  EXPECT_TRUE(holder->IsDetached());
  EXPECT_EQ(holder->RefCount(), 2);  // the binding's and ours
  EXPECT_EQ(event.Fire(nullptr, 1, L""), 0);
  event.Unbind();
  EXPECT_EQ(holder->RefCount(), 1);
  holder->Release();
}

// A target whose handler blocks until told to go on.
class Blocker {
 public:
  int32_t OnEvent(int32_t, const wchar_t*) {
    entered.fetch_add(1);
    enteredEvent.Set();
    go.Wait();
    if (detachReturned.load()) lateFinish.store(true);
    finished.fetch_add(1);
    return 1;
  }

  std::atomic<int> entered{0};
  std::atomic<int> finished{0};
  std::atomic<bool> detachReturned{false};
  std::atomic<bool> lateFinish{false};
  TestEvent enteredEvent;
  TestEvent go;
  EventTarget<Blocker> events{this};
};

TEST(EventBinding, DetachWaitsForCallInProgressAndRefusesNewCalls) {
  Blocker target;
  ProgressEvent event;
  event.Bind<&Blocker::OnEvent>(target.events);
  TestThread caller([&] { event.Fire(nullptr, 1, L""); });
  ASSERT_TRUE(target.enteredEvent.Wait());

  CKelEventObjectPointer* holder = target.events.Holder();
  TestThread detacher([&] {
    target.events.Detach();
    target.detachReturned.store(true);
  });
  ASSERT_TRUE(WaitUntil([&] { return holder->IsDetached(); }));
  // A call that arrives while the detach waits is not made.
  int32_t result = -1;
  TestThread late([&] { result = event.Fire(nullptr, 2, L""); });
  ASSERT_TRUE(late.Join(TestEvent::kPatienceMs));
  EXPECT_EQ(result, 0);
  EXPECT_EQ(target.entered.load(), 1);
  EXPECT_FALSE(target.detachReturned.load());

  target.go.Set();
  ASSERT_TRUE(detacher.Join(TestEvent::kPatienceMs));
  ASSERT_TRUE(caller.Join(TestEvent::kPatienceMs));
  EXPECT_FALSE(target.lateFinish.load());
  EXPECT_EQ(target.finished.load(), 1);
}

// Two calls started on different threads; the first one to start ends first, so the last
// call ends on another thread than the first one began on.
class TwoCalls {
 public:
  int32_t OnEvent(int32_t which, const wchar_t*) {
    started[which].Set();
    release[which].Wait();
    return which;
  }

  TestEvent started[2];
  TestEvent release[2];
  EventTarget<TwoCalls> events{this};
};

TEST(EventBinding, LastCallMayEndOnAnotherThreadThanTheFirst) {
  for (int round = 0; round < 20; ++round) {
    auto target = std::make_unique<TwoCalls>();
    ProgressEvent event;
    event.Bind<&TwoCalls::OnEvent>(target->events);
    TestThread first([&] { event.Fire(nullptr, 0, L""); });
    ASSERT_TRUE(target->started[0].Wait());
    TestThread second([&] { event.Fire(nullptr, 1, L""); });
    ASSERT_TRUE(target->started[1].Wait());

    CKelEventObjectPointer* holder = target->events.Holder();  // the binding keeps it alive
    std::atomic<bool> detached{false};
    TestThread detacher([&] {
      target->events.Detach();
      detached.store(true);
    });
    ASSERT_TRUE(WaitUntil([&] { return holder->IsDetached(); }));
    target->release[0].Set();
    ASSERT_TRUE(first.Join(TestEvent::kPatienceMs));
    EXPECT_FALSE(detached.load());
    target->release[1].Set();
    ASSERT_TRUE(second.Join(TestEvent::kPatienceMs));
    ASSERT_TRUE(detacher.Join(TestEvent::kPatienceMs));
    EXPECT_TRUE(detached.load());
    // Nothing is left half-locked: a new target on the same binding works.
    TwoCalls next;
    next.release[0].Set();
    event.Bind<&TwoCalls::OnEvent>(next.events);
    EXPECT_EQ(event.Fire(nullptr, 0, L""), 0);
    EXPECT_TRUE(next.started[0].IsSet());
  }
}

// A target that destroys itself from inside its own handler.
class SelfDestroyer {
 public:
  int32_t OnEvent(int32_t, const wchar_t*) {
    events.Detach();
    return 5;
  }
  EventTarget<SelfDestroyer> events{this};
};

TEST(EventBinding, DetachFromInsideOwnHandlerDoesNotWaitForItself) {
  SelfDestroyer target;
  ProgressEvent event;
  event.Bind<&SelfDestroyer::OnEvent>(target.events);
  int32_t first = 0;
  TestThread caller([&] { first = event.Fire(nullptr, 0, L""); });
  ASSERT_TRUE(caller.Join(TestEvent::kPatienceMs));
  EXPECT_EQ(first, 5);
  EXPECT_EQ(event.Fire(nullptr, 0, L""), 0);
}

// A handler on a worker that sends a message to a window of the detaching thread.
class WindowReporter {
 public:
  int32_t OnEvent(int32_t, const wchar_t*) {
    entered.Set();
    DWORD_PTR answer = 0;
    sent = SendMessageTimeoutW(window, WM_APP + 1, 0, 0, SMTO_BLOCK, 15000, &answer) != 0;
    return 0;
  }

  HWND window = nullptr;
  bool sent = false;
  TestEvent entered;
  EventTarget<WindowReporter> events{this};
};

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 1) {
    auto* count = reinterpret_cast<std::atomic<int>*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    count->fetch_add(1);
    return 1;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(EventBinding, DetachDeliversMessagesSentByTheHandlerItWaitsFor) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = CountingWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"BmDetachSendTest";
  RegisterClassW(&windowClass);
  UniqueWindow window(CreateWindowExW(0, L"BmDetachSendTest", L"", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(window);
  std::atomic<int> delivered{0};
  SetWindowLongPtrW(window.Get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&delivered));

  WindowReporter target;
  target.window = window.Get();
  ProgressEvent event;
  event.Bind<&WindowReporter::OnEvent>(target.events);
  TestThread worker([&] { event.Fire(nullptr, 0, L""); });
  ASSERT_TRUE(target.entered.Wait());
  target.events.Detach();  // would wait forever if it did not deliver the sent message
  ASSERT_TRUE(worker.Join(TestEvent::kPatienceMs));
  EXPECT_TRUE(target.sent);
  EXPECT_EQ(delivered.load(), 1);
}

TEST(EventBinding, ManyThreadsFiringWhileTargetsAreDetachedAndRebound) {
  ProgressEvent event;
  std::atomic<bool> stop{false};
  std::atomic<int64_t> fired{0};
  std::vector<std::unique_ptr<TestThread>> firers;
  for (int i = 0; i < 4; ++i) {
    firers.push_back(std::make_unique<TestThread>([&] {
      while (!stop.load()) {
        event.Fire(nullptr, 1, L"");
        fired.fetch_add(1);
      }
    }));
  }
  int totalCalls = 0;
  int lateCalls = 0;
  for (int round = 0; round < 200; ++round) {
    auto listener = std::make_unique<Listener>();
    event.Bind<&Listener::OnProgress>(listener->events);
    const int64_t before = fired.load();
    ASSERT_TRUE(WaitUntil([&] { return fired.load() > before + 4; }));
    listener->Retire();  // detach, then mark: any call after this point is late
    totalCalls += listener->calls.load();
    SwitchToThread();  // give firers still holding the old binding a chance to call late
    lateCalls += listener->lateCalls.load();
    if (round % 3 == 0) event.Unbind();
  }
  stop.store(true);
  firers.clear();
  EXPECT_EQ(lateCalls, 0);
  EXPECT_GT(totalCalls, 0);
}

TEST(SpinLock, KeepsCountersExactUnderContention) {
  CKelSpinLock lock;
  int64_t counter = 0;
  constexpr int kThreads = 8;
  constexpr int kRounds = 20000;
  {
    std::vector<std::unique_ptr<TestThread>> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.push_back(std::make_unique<TestThread>([&] {
        for (int n = 0; n < kRounds; ++n) {
          CKelSpinLockGuard guard(lock);
          counter = counter + 1;
        }
      }));
    }
  }
  EXPECT_EQ(counter, int64_t{kThreads} * kRounds);
}

}  // namespace
