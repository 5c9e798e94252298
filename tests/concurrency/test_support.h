// Small helpers for the concurrency tests: threads running a lambda, events, bounded polling.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "runtime/win_handles.h"
#include "waits.h"

// A thread running body; joined by Join or the destructor.
class TestThread {
 public:
  static constexpr DWORD kJoinLimitMs = 30000;  // a few of them stay within ctest's limit

  explicit TestThread(std::function<void()> body) : body_(std::make_unique<std::function<void()>>(std::move(body))) {
    handle_.Reset(CreateThread(nullptr, 0, &Run, body_.get(), 0, nullptr));
  }
  TestThread(const TestThread&) = delete;
  TestThread& operator=(const TestThread&) = delete;
  // A thread that never ends would hang the whole program: it is ended with a message instead.
  ~TestThread() {
    if (Join(kJoinLimitMs)) return;
    std::fputs("a test thread did not end within 30 s; ending the test program\n", stderr);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
  }

  bool Started() const { return handle_.IsValid(); }
  // True when the thread has ended within ms.
  bool Join(DWORD ms) {
    if (!handle_) return true;
    if (WaitForSingleObject(handle_.Get(), ms) != WAIT_OBJECT_0) return false;
    handle_.Reset();
    return true;
  }

 private:
  static DWORD WINAPI Run(void* body) {
    (*static_cast<std::function<void()>*>(body))();
    return 0;
  }

  std::unique_ptr<std::function<void()>> body_;
  UniqueHandle handle_;
};

// A manual-reset event.
class TestEvent {
 public:
  TestEvent() : handle_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  void Set() { SetEvent(handle_.Get()); }
  bool IsSet() const { return WaitForSingleObject(handle_.Get(), 0) == WAIT_OBJECT_0; }
  // True when set within ms. The bounds the tests give are only there to turn a hang into a
  // failure; nothing depends on how fast things happen.
  bool Wait(DWORD ms = kPatienceMs) const { return WaitForSingleObject(handle_.Get(), ms) == WAIT_OBJECT_0; }
  HANDLE Get() const { return handle_.Get(); }

  static constexpr DWORD kPatienceMs = 20000;

 private:
  UniqueHandle handle_;
};

// Polls until done() (1 ms steps); false when that did not happen within ms.
inline bool WaitUntil(const std::function<bool()>& done, DWORD ms = TestEvent::kPatienceMs) {
  return PollUntil(done, ms);
}
