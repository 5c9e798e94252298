// The window layer: objects found by their window's handle from any thread while the window
// lives; work handed to a window's thread: run at once on that thread, run inside one
// synchronous message from another thread, nothing run for a window that is gone or for a
// stray message.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ui_test_support.h"

namespace {

// Dispatches this thread's messages until done is set (at most ten seconds).
bool PumpUntil(const std::atomic<bool>& done) {
  const ULONGLONG deadline = GetTickCount64() + 10000;
  while (!done.load()) {
    if (GetTickCount64() > deadline) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, 10, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    PumpMessages();
  }
  return true;
}

TEST(WindowObjects, FoundByHandleFromAnyThreadWhileTheWindowLives) {
  TestForm form;
  rg_edit_box box;
  form.createChildren = [&](HWND parent) { ASSERT_TRUE(box.Create(parent, &form, 10, 10, 100, 24, 201)); };
  ASSERT_TRUE(form.CreateTopLevel());
  const HWND formWindow = form.GetHwnd();
  const HWND boxWindow = box.GetHwnd();
  EXPECT_EQ(CWnd::FromHandle(formWindow), form.Window());
  EXPECT_EQ(CWnd::FromHandle(boxWindow), box.Window());
  EXPECT_EQ(CWnd::FromHandle(GetDesktopWindow()), nullptr);
  EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
  CWnd* fromWorker = nullptr;
  std::thread worker([&] { fromWorker = CWnd::FromHandle(boxWindow); });
  worker.join();
  EXPECT_EQ(fromWorker, box.Window());

  form.Window()->DestroyWindow();
  PumpMessages();
  EXPECT_EQ(CWnd::FromHandle(formWindow), nullptr);
  EXPECT_EQ(CWnd::FromHandle(boxWindow), nullptr);
}

TEST(RunOnWindowThread, OnTheWindowsOwnThreadTheWorkRunsAtOnce) {
  TestForm form;
  ASSERT_TRUE(form.CreateTopLevel());
  DWORD ranOn = 0;
  auto work = [&] { ranOn = GetCurrentThreadId(); };
  EXPECT_TRUE(form.Window()->RunOnWindowThread(work));
  EXPECT_EQ(ranOn, GetCurrentThreadId());
}

TEST(RunOnWindowThread, FromAnotherThreadTheWorkRunsOnTheWindowsThreadBeforeTheCallReturns) {
  TestForm form;
  rg_edit_box first;
  rg_edit_box second;
  form.createChildren = [&](HWND parent) {
    ASSERT_TRUE(first.Create(parent, &form, 10, 10, 100, 24, 201));
    ASSERT_TRUE(second.Create(parent, &form, 10, 40, 100, 24, 202));
  };
  ASSERT_TRUE(form.CreateTopLevel());

  DWORD ranOn = 0;
  bool sentFromAnotherThread = false;
  std::atomic<bool> workerDone{false};
  bool returned = false;
  std::wstring seenAfterReturn;
  std::thread worker([&] {
    auto work = [&] {
      ranOn = GetCurrentThreadId();
      sentFromAnotherThread = InSendMessage() != FALSE;
      first.SetText(L"甲");
      second.SetText(L"乙");
    };
    returned = form.Window()->RunOnWindowThread(work);
    // Both changes are in place when the call returns.
    seenAfterReturn = first.GetText().ToStdString() + second.GetText().ToStdString();
    workerDone = true;
  });
  const bool finished = PumpUntil(workerDone);
  worker.join();
  ASSERT_TRUE(finished);
  EXPECT_TRUE(returned);
  EXPECT_EQ(ranOn, GetCurrentThreadId());
  EXPECT_TRUE(sentFromAnotherThread);
  EXPECT_EQ(seenAfterReturn, L"甲乙");
}

TEST(RunOnWindowThread, AWindowThatIsGoneRunsNothing) {
  TestForm form;
  bool ran = false;
  auto work = [&] { ran = true; };
  EXPECT_FALSE(form.Window()->RunOnWindowThread(work));
  ASSERT_TRUE(form.CreateTopLevel());
  form.Window()->DestroyWindow();
  PumpMessages();
  bool fromWorker = true;
  std::thread worker([&] { fromWorker = form.Window()->RunOnWindowThread(work); });
  worker.join();
  EXPECT_FALSE(fromWorker);
  EXPECT_FALSE(ran);
}

TEST(RunOnWindowThread, AStrayMessageRunsNothing) {
  // Another program can send the private message with any values: it must find nothing.
  TestForm form;
  ASSERT_TRUE(form.CreateTopLevel());
  EXPECT_EQ(SendMessageW(form.GetHwnd(), kKelMsgRunWork, 0, 0), 0);
  EXPECT_EQ(SendMessageW(form.GetHwnd(), kKelMsgRunWork, 0x7FFFFFFF, 0x12345678), 0);

  // Work that was run is not run again by a repeated message.
  int runs = 0;
  std::atomic<bool> workerDone{false};
  std::thread worker([&] {
    auto work = [&] { ++runs; };
    form.Window()->RunOnWindowThread(work);
    workerDone = true;
  });
  const bool finished = PumpUntil(workerDone);
  worker.join();
  ASSERT_TRUE(finished);
  for (WPARAM serial = 1; serial < 64; ++serial) SendMessageW(form.GetHwnd(), kKelMsgRunWork, serial, 0);
  EXPECT_EQ(runs, 1);
}

}  // namespace
