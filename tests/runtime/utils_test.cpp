#include "runtime/utils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "process_handles.h"
#include "runtime/win_handles.h"
#include "test_print.h"
#include "waits.h"

namespace {

CWString TempFolder(const wchar_t* name) {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  CWString path(dir);
  path.Append(name);
  return path;
}

void RemoveTree(const CWString& path) {
  WIN32_FIND_DATAW found{};
  UniqueFindHandle find(FindFirstFileW((path + L"\\*").GetText(), &found));
  if (find) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      CWString child = path + L"\\" + name.c_str();
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        DeleteFileW(child.GetText());
      }
    } while (FindNextFileW(find.Get(), &found));
  }
  find.Reset();
  RemoveDirectoryW(path.GetText());
}

bool IsDir(const CWString& path) {
  const DWORD a = GetFileAttributesW(path.GetText());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Paths, ModuleDirectoryEndsWithABackslashBesideTheProgram) {
  CWString dir(L"stale");
  ASSERT_TRUE(ModuleDirectory(nullptr, dir));
  ASSERT_FALSE(dir.IsEmpty());
  EXPECT_EQ(dir[dir.Length() - 1], L'\\');
  EXPECT_TRUE(FileExists(dir + L"test_runtime.exe"));
}

TEST(Paths, ModuleDirectoryOfABadModuleFailsAndLeavesTheTextEmpty) {
  CWString dir(L"stale");
  EXPECT_FALSE(ModuleDirectory(reinterpret_cast<HMODULE>(0x10), dir));
  EXPECT_TRUE(dir.IsEmpty());
}

TEST(Paths, DesktopDirectoryEndsWithABackslash) {
  const CWString desktop = DesktopDirectory();
  ASSERT_FALSE(desktop.IsEmpty());
  EXPECT_EQ(desktop[desktop.Length() - 1], L'\\');
  EXPECT_TRUE(FileExists(desktop));
}

TEST(Paths, CombinePathJoinsAndNormalises) {
  EXPECT_EQ(CombinePath(L"C:\\game", L"res\\a.png"), L"C:\\game\\res\\a.png");
  EXPECT_EQ(CombinePath(L"C:\\game\\", L"a.png"), L"C:\\game\\a.png");
  EXPECT_EQ(CombinePath(L"", L"a.png"), L"a.png");
  EXPECT_EQ(CombinePath(L"C:\\game", L""), L"C:\\game");
  EXPECT_EQ(CombinePath(L"C:\\game", nullptr), L"C:\\game");
  EXPECT_EQ(CombinePath(L"C:\\game\\bin", L"..\\res\\a.png"), L"C:\\game\\res\\a.png");
  EXPECT_EQ(CombinePath(L"C:\\game\\bin\\", L"..\\a.png"), L"C:\\game\\a.png");
  EXPECT_EQ(CombinePath(L"C:\\a\\b\\c", L"..\\..\\x"), L"C:\\a\\x");
  EXPECT_EQ(CombinePath(L"C:\\game", L".\\res\\.\\a.png"), L"C:\\game\\res\\a.png");
  EXPECT_EQ(CombinePath(L"C:\\game", L".\\.\\a.png"), L"C:\\game\\a.png");
}

TEST(Paths, CombinePathKeepsAbsoluteRelativePaths) {
  EXPECT_EQ(CombinePath(L"C:\\game", L"D:\\other\\a.png"), L"D:\\other\\a.png");
  EXPECT_EQ(CombinePath(L"C:\\game", L"\\root\\a.png"), L"\\root\\a.png");
}

TEST(Paths, CombinePathGivesTheRelativePathWhenDotsClimbOutOfTheBase) {
  EXPECT_EQ(CombinePath(L"game", L"..\\..\\x"), L"..\\..\\x");
}

class Folders : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = TempFolder(L"runtime 文件夹 测试");
    RemoveTree(root_);
    ASSERT_TRUE(CreateDirectoryW(root_.GetText(), nullptr));
  }
  void TearDown() override { RemoveTree(root_); }

  CWString root_;
};

TEST_F(Folders, CreateDirectoriesMakesTheMissingLevels) {
  const CWString deep = root_ + L"\\第一层\\第二层";
  ASSERT_TRUE(CreateDirectories(deep));
  EXPECT_TRUE(IsDir(root_ + L"\\第一层"));
  EXPECT_TRUE(IsDir(deep));
  EXPECT_TRUE(CreateDirectories(deep));  // already there
  EXPECT_TRUE(CreateDirectories(deep + L"\\"));
  EXPECT_TRUE(CreateDirectories(root_ + L"\\a\\b\\c\\d\\"));
  EXPECT_TRUE(IsDir(root_ + L"\\a\\b\\c\\d"));
}

TEST_F(Folders, CreateDirectoriesNeedsNothingForRoots) {
  EXPECT_TRUE(CreateDirectories(L"C:\\"));
  EXPECT_TRUE(CreateDirectories(L"C:"));
  EXPECT_TRUE(CreateDirectories(L"\\"));
  // Roots are not looked up: even a drive that does not exist passes.
  EXPECT_TRUE(CreateDirectories(L"Q:\\"));
  EXPECT_FALSE(CreateDirectories(L""));
}

TEST_F(Folders, CreateDirectoriesFailsWhenAFileIsInTheWay) {
  const CWString file = root_ + L"\\blocker";
  FILE* f = _wfopen(file.GetText(), L"wb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_FALSE(CreateDirectories(file));
  EXPECT_FALSE(CreateDirectories(file + L"\\below"));
}

TEST_F(Folders, CreateDirectoriesWithoutAnyBackslashFailsWhenTheParentIsMissing) {
  EXPECT_FALSE(CreateDirectories(L"Q:no-such-drive-folder"));
}

TEST_F(Folders, FileExistsForFilesAndFolders) {
  EXPECT_TRUE(FileExists(root_));
  EXPECT_TRUE(FileExists(root_ + L"\\"));
  EXPECT_FALSE(FileExists(root_ + L"\\missing.txt"));
  EXPECT_FALSE(FileExists(L""));
  EXPECT_TRUE(FileExists(L"C:\\"));
  const CWString file = root_ + L"\\安装包.txt";
  FILE* f = _wfopen(file.GetText(), L"wb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_TRUE(FileExists(file));
}

std::wstring ClipboardUnicode() {
  ClipboardSession clipboard(nullptr);
  if (!clipboard.IsOpen()) return L"<closed>";
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (!data) return L"<none>";
  std::wstring text(static_cast<const wchar_t*>(GlobalLock(data)));
  GlobalUnlock(data);
  return text;
}

std::string ClipboardAnsi() {
  ClipboardSession clipboard(nullptr);
  if (!clipboard.IsOpen()) return "<closed>";
  HANDLE data = GetClipboardData(CF_TEXT);
  if (!data) return "<none>";
  std::string text(static_cast<const char*>(GlobalLock(data)));
  GlobalUnlock(data);
  return text;
}

TEST(Clipboard, CopiesUnicodeAndAnsiText) {
  ASSERT_TRUE(CopyTextToClipboard(L"下载 ok"));
  EXPECT_EQ(ClipboardUnicode(), L"下载 ok");
  EXPECT_EQ(ClipboardAnsi(), "\xCF\xC2\xD4\xD8 ok");  // code page 936
}

TEST(Clipboard, EmptyTextLeavesTheClipboardEmpty) {
  ASSERT_TRUE(CopyTextToClipboard(L"x"));
  ASSERT_TRUE(CopyTextToClipboard(L""));
  EXPECT_EQ(ClipboardUnicode(), L"<none>");
}

TEST(Clipboard, FailsWhileAnotherWindowHoldsIt) {
  std::atomic<bool> opened{false}, release{false}, done{false};
  std::thread holder([&] {
    UniqueWindow owner(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    ClipboardSession clipboard(owner.Get());
    opened = clipboard.IsOpen();
    done = true;
    PollUntil([&] { return !opened || release; }, 20000);
  });
  const bool holderReady = PollUntil([&] { return done.load(); }, 20000);
  const bool heldByOther = holderReady && opened;
  const bool copied = heldByOther && CopyTextToClipboard(L"x");
  release = true;
  holder.join();
  ASSERT_TRUE(holderReady) << "the holder thread never tried the clipboard";
  ASSERT_TRUE(heldByOther);
  EXPECT_FALSE(copied);
}

class Programs : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ModuleDirectory(nullptr, dir_));
    program_ = dir_ + L"runtime_marker_program.exe";
    ASSERT_TRUE(FileExists(program_));
    marker_ = TempFolder(L"runtime 启动 标记.txt");
    DeleteFileW(marker_.GetText());
  }
  void TearDown() override { DeleteFileW(marker_.GetText()); }

  // The stand-in writes "<uses show flag> <show mode>" and ends.
  std::string WaitForMarker() {
    for (int i = 0; i < 3000; ++i) {
      if (FILE* f = _wfopen(marker_.GetText(), L"rb")) {
        char buf[32] = {};
        const size_t n = fread(buf, 1, sizeof buf - 1, f);
        fclose(f);
        if (n > 0 && memchr(buf, ' ', n)) {
          std::string s(buf, n);
          if (s.find(' ') + 1 < s.size()) return s;
        }
      }
      WaitWithMessages(10);
    }
    return "<no marker>";
  }

  CWString CommandLine() const { return L"\"" + program_ + L"\" \"" + marker_ + L"\""; }

  CWString dir_, program_, marker_;
};

TEST_F(Programs, RunProgramPassesTheShowMode) {
  ASSERT_TRUE(RunProgram(CommandLine(), SW_SHOWMINNOACTIVE));
  EXPECT_EQ(WaitForMarker(), "1 7");
}

TEST_F(Programs, RunProgramWithMinusOneLeavesTheWindowStateToTheProgram) {
  ASSERT_TRUE(RunProgram(CommandLine(), -1));
  EXPECT_EQ(WaitForMarker().substr(0, 2), "0 ");
}

TEST_F(Programs, RunProgramFailsForEmptyOrMissingPrograms) {
  EXPECT_FALSE(RunProgram(L"", 1));
  EXPECT_FALSE(RunProgram(dir_ + L"no such program.exe", 1));
}

// Counts WM_APP messages; used as a message-only window of the waiting thread.
struct Receiver {
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP) {
      ++handled;
      // A handler that waits itself, inside the wait that dispatched it.
      if (wp != 0) {
        const ULONGLONG start = GetTickCount64();
        WaitWithMessages(static_cast<uint32_t>(wp));
        nestedWaited = GetTickCount64() - start;
      }
      return 77;
    }
    if (msg == WM_KEYDOWN) {
      MSG character;
      charQueuedAtKeyDown = PeekMessageW(&character, hwnd, WM_CHAR, WM_CHAR, PM_NOREMOVE) != FALSE;
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  static inline bool charQueuedAtKeyDown = false;
  static inline std::atomic<int> handled{0};
  static inline ULONGLONG nestedWaited = 0;
};

UniqueWindow MakeReceiver() {
  static const ATOM atom = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Receiver::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RuntimeTestReceiver";
    return RegisterClassExW(&wc);
  }();
  return UniqueWindow(CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
}

TEST(Waiting, ZeroWaitHandlesTheMessagesAlreadyQueued) {
  UniqueWindow window = MakeReceiver();
  ASSERT_TRUE(window);
  Receiver::handled = 0;
  for (int i = 0; i < 3; ++i) PostMessageW(window.Get(), WM_APP, 0, 0);
  WaitWithMessages(0);
  EXPECT_EQ(Receiver::handled, 3);
  MSG left;
  EXPECT_FALSE(PeekMessageW(&left, nullptr, 0, 0, PM_NOREMOVE));
}

// Input methods and keyboard layouts act when a key is translated: the character must be
// queued before the window handles the key.
TEST(Waiting, KeysAreTranslatedBeforeTheyAreDispatched) {
  UniqueWindow window = MakeReceiver();
  ASSERT_TRUE(window);
  Receiver::charQueuedAtKeyDown = false;
  PostMessageW(window.Get(), WM_KEYDOWN, 'A', MAKELPARAM(1, MapVirtualKeyW('A', MAPVK_VK_TO_VSC)));
  WaitWithMessages(0);
  EXPECT_TRUE(Receiver::charQueuedAtKeyDown);
}

TEST(Waiting, WaitsAtLeastTheGivenTime) {
  const ULONGLONG start = GetTickCount64();
  WaitWithMessages(200);
  EXPECT_GE(GetTickCount64() - start, 180u);
}

TEST(Waiting, PostedMessagesAreHandledDuringTheWait) {
  UniqueWindow window = MakeReceiver();
  ASSERT_TRUE(window);
  Receiver::handled = 0;
  const HWND target = window.Get();
  std::thread poster([target] {
    Sleep(50);
    PostMessageW(target, WM_APP, 0, 0);
  });
  WaitWithMessages(1000);
  poster.join();
  EXPECT_EQ(Receiver::handled, 1);
}

TEST(Waiting, AWorkersSentMessageIsAnsweredWhileWaiting) {
  UniqueWindow window = MakeReceiver();
  ASSERT_TRUE(window);
  Receiver::handled = 0;
  const HWND target = window.Get();
  std::atomic<ULONGLONG> answeredAt{0};
  std::atomic<LRESULT> reply{0};
  std::thread worker([&] {
    Sleep(100);
    reply = SendMessageW(target, WM_APP, 0, 0);
    answeredAt = GetTickCount64();
  });
  WaitWithMessages(3000);
  const ULONGLONG waitEnded = GetTickCount64();
  // A wait that missed the message must not leave the worker blocked for ever.
  EXPECT_TRUE(PollUntil([&] { return answeredAt != 0; }, 20000, PollMode::kDispatchMessages, 10))
      << "the worker's message was never answered";
  worker.join();
  EXPECT_EQ(reply, 77);
  EXPECT_EQ(Receiver::handled, 1);
  ASSERT_NE(answeredAt, 0u);
  // Answered inside the wait, not only once it was over.
  EXPECT_LT(answeredAt + 1500, waitEnded);
}

TEST(Waiting, AWaitInsideAWaitKeepsBothTimes) {
  UniqueWindow window = MakeReceiver();
  ASSERT_TRUE(window);
  Receiver::handled = 0;
  Receiver::nestedWaited = 0;
  PostMessageW(window.Get(), WM_APP, 150, 0);
  const ULONGLONG start = GetTickCount64();
  WaitWithMessages(60);
  const ULONGLONG outer = GetTickCount64() - start;
  EXPECT_EQ(Receiver::handled, 1);
  // The inner wait runs its full time although the outer one is due meanwhile, and the
  // outer one does not end before its own time either.
  EXPECT_GE(Receiver::nestedWaited, 140u);
  EXPECT_GE(outer, Receiver::nestedWaited);
  // The same thread waits on normally afterwards.
  const ULONGLONG again = GetTickCount64();
  WaitWithMessages(100);
  EXPECT_GE(GetTickCount64() - again, 90u);
}

TEST(Waiting, WaitingOverAndOverDoesNotCollectHandles) {
  WaitWithMessages(0);
  const size_t before = HandlesInTheSystemList();
  ASSERT_GT(before, 0u);
  for (int i = 0; i < 500; ++i) WaitWithMessages(i % 2);
  EXPECT_LE(HandlesInTheSystemList(), before);
}

TEST(Waiting, ThreadsThatWaitedLeaveNoHandlesBehind) {
  // A first thread settles what the platform keeps once per process for threads.
  std::thread([] { WaitWithMessages(1); }).join();
  const size_t before = HandlesInTheSystemList();
  ASSERT_GT(before, 0u);
  for (int i = 0; i < 40; ++i) {
    std::thread([] {
      WaitWithMessages(1);
      WaitWithMessages(0);
    }).join();
  }
  EXPECT_LE(HandlesInTheSystemList(), before + 2);
}

TEST(Waiting, ASignalEndsTheWaitEarlyAndLeavesNoTimerBehind) {
  UniqueHandle signal(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(signal);
  EXPECT_FALSE(WaitWithMessagesFor(signal.Get(), 50));
  SetEvent(signal.Get());
  const ULONGLONG start = GetTickCount64();
  EXPECT_TRUE(WaitWithMessagesFor(signal.Get(), 5000));
  EXPECT_LT(GetTickCount64() - start, 4000u);
  // The timer of the wait that the signal ended fires meanwhile: the next wait still lasts.
  Sleep(150);
  const ULONGLONG next = GetTickCount64();
  WaitWithMessages(100);
  EXPECT_GE(GetTickCount64() - next, 90u);
}

TEST(Waiting, MessagesAreHandledWhileWaitingForASignal) {
  UniqueWindow window = MakeReceiver();
  ASSERT_TRUE(window);
  Receiver::handled = 0;
  UniqueHandle signal(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  ASSERT_TRUE(signal);
  const HWND target = window.Get();
  const HANDLE event = signal.Get();
  std::atomic<LRESULT> reply{0};
  std::thread worker([&] {
    reply = SendMessageW(target, WM_APP, 0, 0);
    SetEvent(event);
  });
  // Only the worker's signal, given after its message was answered, ends this wait.
  EXPECT_TRUE(WaitWithMessagesFor(event, 60000));
  worker.join();
  EXPECT_EQ(reply, 77);
  EXPECT_EQ(Receiver::handled, 1);
}

TEST(Waiting, AQuitMessageIsKeptForTheCallersLoop) {
  PostQuitMessage(7);
  WaitWithMessages(0);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 7u);
}

}  // namespace
