// Start-up and the application object: the exception guard around the start-up class, the
// program object's creation and deletion, the message loop with its pre-translation and idle
// hooks, and the nested pre-translation used while a download runs.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/app_instance.h"
#include "app/application.h"
#include "app/program.h"
#include "app/single_instance.h"
#include "app/startup_class.h"
#include "app_test_support.h"
#include "runtime/exception.h"
#include "ui/ui.h"

namespace {

// What the start-up hooks saw.
struct HookRecord {
  std::vector<std::wstring> texts;
  std::vector<std::wstring> captions;
  std::vector<UINT> types;
  std::vector<HWND> owners;
  std::vector<int> exitCodes;
  bool debugger = false;
};
HookRecord* record = nullptr;

int RecordBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  record->owners.push_back(owner);
  record->texts.push_back(text);
  record->captions.push_back(caption);
  record->types.push_back(type);
  return IDOK;
}
void RecordExit(int code) { record->exitCodes.push_back(code); }
bool RecordedDebugger() { return record->debugger; }

KelStartupHooks RecordingHooks() { return {&RecordBox, &RecordExit, &RecordedDebugger}; }

// Program classes whose launch does what a test asks.
enum class LaunchAction { kReturnTwo, kThrowKel, kThrowOther, kMakeNoWindow, kRunLoop };
LaunchAction launchAction = LaunchAction::kReturnTwo;
int programsAlive = 0;

// A hidden form for the loop test, and what the program's hooks saw.
struct LoopRecord {
  std::vector<UINT> preTranslated;
  std::vector<uint32_t> idleCalls;
  int exitInstanceCalls = 0;
  bool consumeAppMessage = false;
};
LoopRecord* loop = nullptr;

class TestProgram : public rg_ChuangKouChengXuLei {
  KEL_DECLARE_CLASS(TestProgram, rg_ChuangKouChengXuLei)

  TestProgram() { ++programsAlive; }
  ~TestProgram() override {
    --programsAlive;
    delete form;
  }
  TestProgram(const TestProgram&) = delete;
  TestProgram& operator=(const TestProgram&) = delete;

  int32_t Launch() override {
    switch (launchAction) {
      case LaunchAction::kReturnTwo:
        return 2;
      case LaunchAction::kThrowKel:
        throw CKelException(7, CWString(L"资源缺失"));
      case LaunchAction::kThrowOther:
        throw std::runtime_error("not ours");
      case LaunchAction::kMakeNoWindow:
        return 1;
      case LaunchAction::kRunLoop:
        form = new CKelWinForm();
        form->SetStoredStyle(WS_VISIBLE, 0);
        if (!form->CreateTopLevel()) return 1;
        form->SetQuitOnDestroy(true);
        CWinAppEx::Current()->SetMainWindow(form->GetHwnd());
        PostMessageW(form->GetHwnd(), WM_APP + 1, 0, 0);
        PostMessageW(form->GetHwnd(), WM_APP + 2, 0, 0);
        return 1;
    }
    return 0;
  }

  int32_t OnPreTranslateMessage(HWND, UINT message, WPARAM, LPARAM, MSG*) override {
    if (!loop) return 1;
    loop->preTranslated.push_back(message);
    // The second message ends the loop: destroying the main window posts WM_QUIT.
    if (message == WM_APP + 2) form->Window()->DestroyWindow();
    return loop->consumeAppMessage && message == WM_APP + 1 ? 0 : 1;
  }
  int32_t OnIdle(uint32_t elapsedMs) override {
    if (loop) loop->idleCalls.push_back(elapsedMs);
    return 0;
  }
  void OnExitInstance() override {
    if (loop) ++loop->exitInstanceCalls;
  }

  CKelWinForm* form = nullptr;
};

// Not a program class at all.
class NotAProgram : public CKelObject {
  KEL_DECLARE_CLASS(NotAProgram, CKelObject)
};

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record = &hooks_;
    launchAction = LaunchAction::kReturnTwo;
    programsAlive = 0;
  }
  void TearDown() override {
    CKelAppInstance& app = KelAppInstance();
    app.DeleteProgram();
    record = nullptr;
    loop = nullptr;
  }

  HookRecord hooks_;
};

TEST_F(StartupTest, ProgramConstructionMakesTheNewestObjectTheProgram) {
  auto* first = new TestProgram();
  EXPECT_EQ(KelAppInstance().Program(), first);
  auto* second = new TestProgram();
  EXPECT_EQ(KelAppInstance().Program(), second);
  second->Delete();
  EXPECT_EQ(KelAppInstance().Program(), nullptr);
  first->Delete();
  EXPECT_EQ(programsAlive, 0);
}

TEST_F(StartupTest, GuardReturnsTheLaunchResult) {
  new TestProgram();
  EXPECT_EQ(RunStartupClass(RecordingHooks()), 2);
  EXPECT_TRUE(hooks_.texts.empty());
  EXPECT_TRUE(hooks_.exitCodes.empty());
}

TEST_F(StartupTest, RuntimeExceptionShowsCodeAndDescriptionThenExitsWithMinusOne) {
  new TestProgram();
  launchAction = LaunchAction::kThrowKel;
  RunStartupClass(RecordingHooks());
  ASSERT_EQ(hooks_.texts.size(), 1u);
  EXPECT_EQ(hooks_.texts[0], L"俘获到异常,代码值为: 7, 描述为: 资源缺失");
  EXPECT_EQ(hooks_.captions[0], L"运行时异常");
  EXPECT_EQ(hooks_.types[0], static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(hooks_.owners[0], nullptr);
  EXPECT_EQ(hooks_.exitCodes, std::vector<int>{-1});
}

TEST_F(StartupTest, ForeignExceptionShowsTheUnmanagedText) {
  new TestProgram();
  launchAction = LaunchAction::kThrowOther;
  RunStartupClass(RecordingHooks());
  ASSERT_EQ(hooks_.texts.size(), 1u);
  EXPECT_EQ(hooks_.texts[0], L"程序在运行时抛出了未被管理的异常");
  EXPECT_EQ(hooks_.captions[0], L"运行时异常");
  EXPECT_EQ(hooks_.exitCodes, std::vector<int>{-1});
}

TEST_F(StartupTest, UnderADebuggerTheExceptionIsNotCaught) {
  new TestProgram();
  launchAction = LaunchAction::kThrowKel;
  hooks_.debugger = true;
  EXPECT_THROW(RunStartupClass(RecordingHooks()), CKelException);
  EXPECT_TRUE(hooks_.texts.empty());
  EXPECT_TRUE(hooks_.exitCodes.empty());
}

TEST_F(StartupTest, AStartupClassThatIsNoProgramEndsTheProcessWithoutAMessage) {
  CKelMFCApp app(NotAProgram::StaticClassInfo());
  app.hooks = RecordingHooks();
  EXPECT_EQ(app.WinMain(GetModuleHandleW(nullptr)), -1);
  EXPECT_EQ(hooks_.exitCodes, std::vector<int>{-1});
  EXPECT_TRUE(hooks_.texts.empty());
  EXPECT_EQ(KelAppInstance().Program(), nullptr);
}

TEST_F(StartupTest, FailedInitialisationStillRunsExitInstanceAndDeletesTheProgram) {
  LoopRecord seen;
  loop = &seen;
  launchAction = LaunchAction::kMakeNoWindow;
  CKelMFCApp app(TestProgram::StaticClassInfo());
  app.hooks = RecordingHooks();
  EXPECT_EQ(app.WinMain(GetModuleHandleW(nullptr)), -1);
  EXPECT_EQ(seen.exitInstanceCalls, 1);
  EXPECT_EQ(programsAlive, 0);
  EXPECT_EQ(KelAppInstance().Program(), nullptr);
  EXPECT_EQ(app.windowProgram, nullptr);
  EXPECT_TRUE(KelAppInstance().ComInitialized());
}

TEST_F(StartupTest, MessageLoopRunsTheProgramHooksAndEndsWithTheMainWindow) {
  LoopRecord seen;
  loop = &seen;
  launchAction = LaunchAction::kRunLoop;
  CKelMFCApp app(TestProgram::StaticClassInfo());
  app.hooks = RecordingHooks();
  // Destroying the main window (done by the program's hook) posts WM_QUIT with code 0.
  EXPECT_EQ(app.WinMain(GetModuleHandleW(nullptr)), 0);
  ASSERT_GE(seen.preTranslated.size(), 2u);
  EXPECT_NE(std::find(seen.preTranslated.begin(), seen.preTranslated.end(), static_cast<UINT>(WM_APP + 1)),
            seen.preTranslated.end());
  EXPECT_EQ(seen.exitInstanceCalls, 1);
  EXPECT_EQ(programsAlive, 0);
  EXPECT_EQ(KelAppInstance().Program(), nullptr);
  EXPECT_TRUE(hooks_.texts.empty());
}

TEST(StartupClassTest, LaunchCreatesTheCentredMainWindowAndMakesItTheFrameworksMainWindow) {
  CWinAppEx app;
  auto* program = new rg_startup_class();
  EXPECT_EQ(KelAppInstance().Program(), program);
  EXPECT_EQ(program->Launch(), 1);
  HWND window = program->mainWindow.GetHwnd();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(app.MainWindow(), window);
  EXPECT_TRUE(IsWindowVisible(window));
  RECT area{};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0));
  RECT rect{};
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.left, area.left + (area.right - area.left - 624) / 2);
  EXPECT_EQ(rect.top, area.top + (area.bottom - area.top - 375) / 2);
  // Deleting the program destroys the window, which ends the message loop.
  program->Delete();
  EXPECT_FALSE(IsWindow(window));
  MSG quit;
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(KelAppInstance().Program(), nullptr);
}

// Pre-translation: the program first, then the toolkit's marked windows up the parent chain.
class PreTranslateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_.SetStoredStyle(WS_VISIBLE, 0);
    form_.createChildren = [this] { edit_.Create(form_.GetHwnd(), &form_, 10, 10, 100, 20, 1); };
    ASSERT_TRUE(CreateFormWithChildren());
    form_.onPreTranslate.Bind<&PreTranslateTest::OnFormPreTranslate>(events_);
  }
  void TearDown() override { events_.Detach(); }

  struct ChildForm : CKelWinForm {
    void CreateChildren() override { createChildren(); }
    std::function<void()> createChildren;
  };

  bool CreateFormWithChildren() { return form_.CreateTopLevel(); }

  int32_t OnFormPreTranslate(MSG* msg) {
    formSaw_.push_back(msg->message);
    return consume_ ? 1 : 0;
  }

  MSG KeyTo(HWND window, UINT message, WPARAM key) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = key;
    return msg;
  }

  ChildForm form_;
  rg_edit_box edit_;
  std::vector<UINT> formSaw_;
  bool consume_ = true;
  EventTarget<PreTranslateTest> events_{this};
};

TEST_F(PreTranslateTest, KeyOnAChildReachesTheMarkedFormAboveIt) {
  CKelMfcAppBase app;
  MSG msg = KeyTo(edit_.GetHwnd(), WM_KEYDOWN, 'A');
  EXPECT_TRUE(app.PreTranslateMessage(&msg));
  consume_ = false;  // not consumed: it goes on to dispatch
  EXPECT_FALSE(app.PreTranslateMessage(&msg));
  EXPECT_EQ(formSaw_, (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN}));
}

TEST_F(PreTranslateTest, OnlyKeyboardAndMouseMessagesAreOffered) {
  CKelMfcAppBase app;
  MSG paint = KeyTo(edit_.GetHwnd(), WM_PAINT, 0);
  MSG focus = KeyTo(edit_.GetHwnd(), WM_SETFOCUS, 0);
  MSG wheel = KeyTo(edit_.GetHwnd(), WM_MOUSEWHEEL, 0);
  EXPECT_FALSE(app.PreTranslateMessage(&paint));
  EXPECT_FALSE(app.PreTranslateMessage(&focus));
  EXPECT_TRUE(app.PreTranslateMessage(&wheel));
  EXPECT_EQ(formSaw_, std::vector<UINT>{WM_MOUSEWHEEL});
}

TEST_F(PreTranslateTest, TheProgramHookGoesFirstAndCanHandleTheMessage) {
  LoopRecord seen;
  seen.consumeAppMessage = true;
  loop = &seen;
  CKelMfcAppBase app;
  TestProgram program;
  app.windowProgram = &program;
  MSG handled = KeyTo(edit_.GetHwnd(), WM_APP + 1, 0);
  EXPECT_TRUE(app.PreTranslateMessage(&handled));
  MSG key = KeyTo(edit_.GetHwnd(), WM_KEYUP, 'A');
  EXPECT_TRUE(app.PreTranslateMessage(&key));
  EXPECT_EQ(seen.preTranslated, (std::vector<UINT>{WM_APP + 1, WM_KEYUP}));
  EXPECT_EQ(formSaw_, std::vector<UINT>{WM_KEYUP});
  loop = nullptr;
}

TEST_F(PreTranslateTest, EscapeFromANestedLoopClosesTheForm) {
  CKelMfcAppBase app;
  consume_ = false;  // the form's own pre-translation turns Escape into a close request
  bool closed = false;
  struct Closer {
    bool* closed;
    int32_t OnClose() {
      *closed = true;
      return 1;  // keep the window for the test
    }
  } closer{&closed};
  EventTarget<Closer> closerEvents(&closer);
  form_.onCloseRequest.Bind<&Closer::OnClose>(closerEvents);
  {
    CKelNestedPreTranslateScope scope;
    PostMessageW(edit_.GetHwnd(), WM_KEYDOWN, VK_ESCAPE, 0);
    // What a run's wait does: take messages off the queue and dispatch them.
    PumpMessages();
    PumpMessages();
  }
  EXPECT_TRUE(closed);
  ASSERT_FALSE(formSaw_.empty());
  EXPECT_EQ(formSaw_[0], static_cast<UINT>(WM_KEYDOWN));
  closerEvents.Detach();
}

TEST_F(PreTranslateTest, OutsideANestedScopeMessagesAreNotPreTranslated) {
  CKelMfcAppBase app;
  PostMessageW(edit_.GetHwnd(), WM_KEYDOWN, 'B', 0);
  PumpMessages();
  EXPECT_TRUE(formSaw_.empty());
}

// Idle processing: the framework's first, then the release list and the program.
TEST(IdleTest, ProgramIdleComesFromTheThirdCallOfAnIdlePeriod) {
  LoopRecord seen;
  loop = &seen;
  CKelMfcAppBase app;
  TestProgram program;
  app.windowProgram = &program;
  EXPECT_TRUE(app.OnIdle(0));
  EXPECT_TRUE(app.OnIdle(1));
  EXPECT_TRUE(seen.idleCalls.empty());
  EXPECT_FALSE(app.OnIdle(2));  // the program's default: no more idle time wanted
  EXPECT_EQ(seen.idleCalls.size(), 1u);
  // A new idle period starts the count again.
  EXPECT_TRUE(app.OnIdle(0));
  EXPECT_EQ(seen.idleCalls.size(), 1u);
  loop = nullptr;
}

TEST(IdleTest, WithoutAWindowProgramOnlyTheFrameworkIdles) {
  CKelMfcAppBase app;
  EXPECT_TRUE(app.OnIdle(0));
  EXPECT_FALSE(app.OnIdle(1));
}

TEST(IdleTest, IdlePeriodsRestartOnlyForRealMessages) {
  CWinAppEx app;
  MSG move{};
  move.message = WM_MOUSEMOVE;
  move.pt = {10, 10};
  EXPECT_TRUE(app.IsIdleMessage(move));
  EXPECT_FALSE(app.IsIdleMessage(move));  // the same position again
  move.pt = {11, 10};
  EXPECT_TRUE(app.IsIdleMessage(move));
  MSG paint{};
  paint.message = WM_PAINT;
  EXPECT_FALSE(app.IsIdleMessage(paint));
  MSG key{};
  key.message = WM_KEYDOWN;
  EXPECT_TRUE(app.IsIdleMessage(key));
}

TEST(OleTest, TheApplicationInstallsItsMessageFilter) {
  CWinAppEx app;
  ASSERT_TRUE(app.InitOle());
  EXPECT_TRUE(app.MessageFilter().IsRegistered());
  ComPtr<IMessageFilter> current;
  ASSERT_TRUE(SUCCEEDED(CoRegisterMessageFilter(nullptr, current.Address())));
  EXPECT_EQ(current.Get(), static_cast<IMessageFilter*>(&app.MessageFilter()));
  ComPtr<IMessageFilter> ours;
  CoRegisterMessageFilter(current.Get(), ours.Address());
  EXPECT_EQ(app.MessageFilter().RetryRejectedCall(HTASK{}, 0, SERVERCALL_RETRYLATER), COleMessageFilter::kRetryDelayMs);
  EXPECT_EQ(app.MessageFilter().RetryRejectedCall(HTASK{}, 0, SERVERCALL_REJECTED), static_cast<DWORD>(-1));
  app.ExitInstance();
  EXPECT_FALSE(app.MessageFilter().IsRegistered());
}

}  // namespace

namespace {

TEST(SingleInstanceTest, OneLockPerFolderLettersComparedAsFileNames) {
  const CWString lock = InstanceLockName(L"C:\\Games\\Brinemarch\\BrinemarchDownloader.exe");
  EXPECT_TRUE(lock.ToStdString().starts_with(L"Local\\BrinemarchDownloader-"));
  EXPECT_EQ(lock.ToStdString().find(L'\\', 6), std::wstring::npos) << "a lock name holds no further backslash";
  // The folder counts, not the file's name or its letters' case.
  EXPECT_EQ(InstanceLockName(L"c:\\GAMES\\brinemarch\\renamed.exe"), lock);
  EXPECT_NE(InstanceLockName(L"C:\\Games\\Other\\BrinemarchDownloader.exe"), lock);

  ProgramInstanceLock first, second, elsewhere;
  EXPECT_TRUE(first.Acquire(L"C:\\bm-lock-test\\a\\BrinemarchDownloader.exe"));
  EXPECT_FALSE(second.Acquire(L"C:\\BM-LOCK-TEST\\A\\BrinemarchDownloader.exe"));
  EXPECT_TRUE(elsewhere.Acquire(L"C:\\bm-lock-test\\b\\BrinemarchDownloader.exe"));
  // No window of another process runs this test program.
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  EXPECT_EQ(FindInstanceWindow(own, 0), nullptr);
}

}  // namespace
