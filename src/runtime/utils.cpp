#include "runtime/utils.h"

#include <shellapi.h>
#include <shlobj.h>

#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "runtime/win_handles.h"

namespace {

bool EndsWithBackslash(const CWString& s) { return s.Length() > 0 && s[s.Length() - 1] == L'\\'; }

// One trailing backslash goes, except the one of a drive root ("C:\") or of "\" itself.
CWString WithoutTrailingBackslash(CWTextRef path) {
  CWString s(path);
  const int64_t len = s.Length();
  if (len > 1 && s[len - 1] == L'\\' && s[len - 2] != L':') s.SetLength(len - 1);
  return s;
}

bool IsDirectory(const CWString& path) {
  const DWORD attributes = GetFileAttributesW(path.GetText());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateOneDirectory(const CWString& path, DWORD& error) {
  if (CreateDirectoryW(path.GetText(), nullptr)) return true;
  error = GetLastError();
  // A file of that name is not the folder the caller needs.
  return error == ERROR_ALREADY_EXISTS && IsDirectory(path);
}

}  // namespace

bool ModuleDirectory(HMODULE module, CWString& out) {
  out.Clear();
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return false;
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    // Cut short: a longer path needs a larger buffer.
    if (path.size() >= 32768) return false;
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos) path.resize(slash + 1);
  out.Assign(path);
  return true;
}

CWString DesktopDirectory() {
  wchar_t path[MAX_PATH] = {};
  CWString text;
  if (!SHGetSpecialFolderPathW(nullptr, path, CSIDL_DESKTOPDIRECTORY, FALSE)) return text;
  text.Assign(path);
  if (!EndsWithBackslash(text)) text.AppendChar(L'\\');
  return text;
}

CWString CombinePath(CWTextRef base, CWTextRef relative) {
  if (base.IsEmpty()) return CWString(relative);
  if (relative.IsEmpty()) return CWString(base);
  const wchar_t* r = relative.Chars();
  if (r[0] == L'\\' || (relative.Length() >= 3 && r[1] == L':' && r[2] == L'\\')) return CWString(relative);

  CWString path(base);
  if (!EndsWithBackslash(path)) path.AppendChar(L'\\');
  path.Append(relative);
  // Until none is left: "\.\.\" needs two rounds.
  for (int64_t before = -1; before != path.Length();) {
    before = path.Length();
    path.ReplaceAll(L"\\.\\", L"\\", false);
  }
  for (int64_t at = path.Find(L"\\..\\"); at >= 0; at = path.Find(L"\\..\\")) {
    const int64_t previous = path.Find(L"\\", at, false, true);
    if (previous < 0) return CWString(relative);
    path = CWString::Concat(path.Left(previous), path.Mid(at + 3, path.Length()));
  }
  return path;
}

bool CreateDirectories(CWTextRef path) {
  if (path.IsEmpty()) return false;
  const CWString dir = WithoutTrailingBackslash(path);
  const int64_t len = dir.Length();
  if ((len == 1 && dir[0] == L'\\') || ((len == 2 || (len == 3 && dir[2] == L'\\')) && dir[1] == L':')) {
    return true;
  }
  DWORD error = 0;
  if (CreateOneDirectory(dir, error)) return true;
  if (error != ERROR_PATH_NOT_FOUND) return false;
  const int64_t slash = dir.Find(L"\\", -1, false, true);
  if (slash < 0) return false;
  if (!CreateDirectories(dir.Left(slash + 1))) return false;
  return CreateOneDirectory(dir, error);
}

bool FileExists(CWTextRef path) {
  if (path.IsEmpty()) return false;
  return GetFileAttributesW(WithoutTrailingBackslash(path).GetText()) != INVALID_FILE_ATTRIBUTES;
}

bool CopyTextToClipboard(CWTextRef text) {
  ClipboardSession clipboard(nullptr);
  if (!clipboard.IsOpen()) return false;
  EmptyClipboard();
  if (text.IsEmpty()) return true;

  const auto units = static_cast<size_t>(text.Length());
  UniqueGlobal wide(GlobalAlloc(GMEM_MOVEABLE, (units + 1) * sizeof(wchar_t)));
  if (wide) {
    if (auto* p = static_cast<wchar_t*>(GlobalLock(wide.Get()))) {
      memcpy(p, text.Chars(), units * sizeof(wchar_t));
      p[units] = 0;
      GlobalUnlock(wide.Get());
      // The clipboard owns the block once it took it.
      if (SetClipboardData(CF_UNICODETEXT, wide.Get())) wide.Release();
    }
  }

  const int bytes = WideCharToMultiByte(CP_ACP, 0, text.Chars(), static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  const size_t size = bytes > 0 ? static_cast<size_t>(bytes) : 0;
  UniqueGlobal ansi(GlobalAlloc(GMEM_MOVEABLE, size + 1));
  if (ansi) {
    if (auto* p = static_cast<char*>(GlobalLock(ansi.Get()))) {
      if (size > 0) WideCharToMultiByte(CP_ACP, 0, text.Chars(), static_cast<int>(units), p, bytes, nullptr, nullptr);
      p[size] = 0;
      GlobalUnlock(ansi.Get());
      if (SetClipboardData(CF_TEXT, ansi.Get())) ansi.Release();
    }
  }
  return true;
}

DWORD StartProgram(CWTextRef commandLine, int showMode) {
  if (commandLine.IsEmpty()) return ERROR_INVALID_PARAMETER;
  std::wstring writable(commandLine.Chars(), static_cast<size_t>(commandLine.Length()));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (showMode >= 0) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = static_cast<WORD>(showMode);
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return GetLastError();
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  WaitForInputIdle(process.Get(), 500);
  return 0;
}

bool RunProgram(CWTextRef commandLine, int showMode) { return StartProgram(commandLine, showMode) == 0; }

DWORD StartProgramElevated(CWTextRef file, int showMode) {
  if (file.IsEmpty()) return ERROR_INVALID_PARAMETER;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // No shell error box: the caller tells the user in its own words.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"runas";
  const std::wstring path(file.Chars(), static_cast<size_t>(file.Length()));
  info.lpFile = path.c_str();
  info.nShow = showMode < 0 ? SW_SHOWNORMAL : showMode;
  if (!ShellExecuteExW(&info)) return GetLastError();
  UniqueHandle process(info.hProcess);
  return 0;
}

CWString SystemMessageText(DWORD code) {
  wchar_t message[1024];
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                      LANG_USER_DEFAULT, message, static_cast<DWORD>(std::size(message)), nullptr);
  CWString text(message, length);
  text.TrimRight();
  return text;
}

namespace {

// The calling thread's wait timers, one per nesting level (a handler dispatched inside a wait
// may wait too), made at first use. Loops of 1 ms waits run for whole downloads: a kernel
// timer made and closed at every step costs more than the step. The timers are kept in a
// fiber-local slot whose callback closes them when the thread ends (C++ thread_local objects
// with destructors are not safe at thread exit with this toolchain's emulated TLS).
class ThreadWaitTimers {
 public:
  // The calling thread's timers; null when no slot or memory is left.
  static ThreadWaitTimers* OfThisThread() {
    static const DWORD slot = FlsAlloc(&ThreadEnded);
    if (slot == FLS_OUT_OF_INDEXES) return nullptr;
    auto* timers = static_cast<ThreadWaitTimers*>(FlsGetValue(slot));
    if (!timers) {
      timers = new (std::nothrow) ThreadWaitTimers;
      if (timers && !FlsSetValue(slot, timers)) {
        delete timers;
        timers = nullptr;
      }
    }
    return timers;
  }

  // The timer of the next level, null when none can be made; Leave gives the level back.
  HANDLE Enter() {
    if (depth_ == timers_.size()) timers_.emplace_back(CreateWaitableTimerW(nullptr, FALSE, nullptr));
    HANDLE timer = timers_[depth_].Get();
    if (timer)
      ++depth_;
    else
      timers_.pop_back();
    return timer;
  }
  void Leave() { --depth_; }

 private:
  static void WINAPI ThreadEnded(void* timers) { delete static_cast<ThreadWaitTimers*>(timers); }

  std::vector<UniqueHandle> timers_;
  size_t depth_ = 0;
};

// The message-pumping wait: until the time has passed or, when given, the handle is signalled.
// True when the handle ended it.
bool PumpWhileWaiting(HANDLE signal, uint32_t milliseconds) {
  // Sent messages wake the wait too: a worker's SendMessage to our windows must not stall.
  constexpr DWORD kWakeMask = QS_ALLEVENTS | QS_SENDMESSAGE;
  ThreadWaitTimers* timers = ThreadWaitTimers::OfThisThread();
  HANDLE timer = timers ? timers->Enter() : nullptr;
  LARGE_INTEGER due{};
  due.QuadPart = -10000LL * milliseconds;
  // Setting the timer also clears a signal left by an earlier wait that ended otherwise.
  const bool timed = timer && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
  const ULONGLONG deadline = GetTickCount64() + milliseconds;
  bool quit = false;
  bool signalled = false;
  WPARAM quitCode = 0;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Kept for the caller's message loop, handed back after the wait.
        quit = true;
        quitCode = msg.wParam;
        continue;
      }
      // Input methods and keyboard layouts see a key at its translation, before any window
      // handles it: translated first, as every message loop on Windows does.
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // The signal first: it wins over a timer that fired meanwhile.
    HANDLE handles[2];
    DWORD count = 0;
    if (signal) handles[count++] = signal;
    if (timed) handles[count++] = timer;
    DWORD timeout = INFINITE;
    if (!timed) {
      // Without a timer the deadline is counted by hand.
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) break;
      timeout = static_cast<DWORD>(deadline - now);
    }
    const DWORD result = MsgWaitForMultipleObjectsEx(count, handles, timeout, kWakeMask, MWMO_INPUTAVAILABLE);
    if (signal && result == WAIT_OBJECT_0) {
      signalled = true;
      break;
    }
    if (result != WAIT_OBJECT_0 + count) break;
  }
  if (timer) timers->Leave();
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return signalled;
}

}  // namespace

void WaitWithMessages(uint32_t milliseconds) { PumpWhileWaiting(nullptr, milliseconds); }

bool WaitWithMessagesFor(HANDLE signal, uint32_t milliseconds) { return PumpWhileWaiting(signal, milliseconds); }
