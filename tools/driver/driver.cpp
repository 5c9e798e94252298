// bm_driver.exe: uses a running BrinemarchDownloader.exe the way a player would, for the main
// job, the end-to-end test and the benchmarks. It finds the main window by its title, waits
// until it is ready, presses "开始下载", follows the run and then presses "安装游戏" (or, after
// a failed run, confirms the message box and closes the window; with --close it closes the window
// after a finished run too, for shares without an installer). It reports each state as a
// line on stdout ("STATE ready ...") so a script can take screenshots, and with --step says
// "PAUSE" and waits for a line on stdin after each state worth a picture. The last line is
// "RESULT ok" or "RESULT fail <why>"; the exit code is 0 only for the road that was expected.
//
// For the window benchmarks it also measures (times as Unix seconds of the system clock, the
// clock the emulator's log uses):
//   --ready-close  says "STATE looking" once it searches, "SHOWN at=T" when the window was
//                  first seen visible and painted, "READY at=T" when it is ready, then
//                  presses the close button and waits for the program to end; the ready
//                  line ends with the bar's text ("bar=..."), which tells the player about
//                  the place the program was started from;
//   --watch-rows   reads every row's status cell every 2 ms during the run and, after it,
//                  says "ROW row=R at=T status=S verifying_at=V file=F" for the first sighting
//                  of each row as finished (V: its first sighting as 校验中, "-" if none);
//   --ping         sends WM_NULL to the window from a thread of its own during the run and
//                  says "PING count=N median_ms=A p99_ms=B max_ms=C" of the round trips.
// After a run it says "TIMES pressed=T ended=T" of it.
// The line of a run's end ("STATE finished" or "STATE failed") also gives the program's memory
// as Windows counts it: private_kib (PagefileUsage, its own committed memory), peak_private_kib
// and peak_working_kib (the most it ever held in memory).
//
// --expect-message TEXT: a failure's box must hold TEXT (default "下载失败,请重试！").
//
// usage: bm_driver.exe [--expect success|failure] [--expect-message TEXT] [--marker NAME | --close]
//                      [--step] [--ready-timeout S] [--run-timeout S]
//                      [--ready-close | [--watch-rows] [--ping]]
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

#include "runtime/convert.h"
#include "runtime/win_handles.h"
#include "unix_clock.h"
#include "window_probe.h"

namespace {

// The height of the list's column header, above the rows.
constexpr int kListHeaderHeight = 26;

// Rows of the list whose state column has a text.
int RowsWithStatus(HWND list, int rows) {
  probe::RemoteListReader reader(list);
  int withStatus = 0;
  for (int row = 0; row < rows && reader.Ready(); ++row) withStatus += reader.CellText(row, 5).empty() ? 0 : 1;
  return withStatus;
}

constexpr wchar_t kMainTitle[] = L"BrinemarchOL下载器";
constexpr wchar_t kStartCaption[] = L"开始下载";
constexpr wchar_t kInstallCaption[] = L"安装游戏";
constexpr wchar_t kCloseCaption[] = L"×";
constexpr wchar_t kMessageTitle[] = L"信息:";
constexpr wchar_t kFailureText[] = L"下载失败,请重试！";
constexpr wchar_t kCompleteStatus[] = L"完成";
constexpr wchar_t kFinishedStatus[] = L"完毕";
constexpr wchar_t kVerifyingStatus[] = L"校验中";
constexpr int kStatusColumn = 5;
constexpr int kFileColumn = 1;
constexpr DWORD kRowPollMs = 2;
constexpr DWORD kPingTimeoutMs = 60000;
constexpr DWORD kPollMs = 20;
// Until the window has been seen painted: its start is measured to a few milliseconds.
constexpr DWORD kShownPollMs = 5;
constexpr ULONGLONG kPaintWaitMs = 2000;
constexpr DWORD kExitTimeoutMs = 30000;
constexpr DWORD kMarkerTimeoutMs = 30000;
// Longer than the program waits for its engine to answer at start-up.
constexpr ULONGLONG kEngineWaitMs = 15000;

struct Options {
  bool expectSuccess = true;
  std::wstring expectMessage = kFailureText;
  std::wstring marker;
  bool step = false;
  bool closeAfterRun = false;
  ULONGLONG readyTimeoutMs = 90000;
  ULONGLONG runTimeoutMs = 1800000;
  bool readyClose = false;
  bool watchRows = false;
  bool ping = false;
};

void Say(const std::wstring& line) {
  std::wstring full = line + L"\n";
  std::string bytes(kelutf::Utf8LengthFromUtf16(full.data(), full.size()), '\0');
  size_t n = kelutf::ConvertUtf16ToUtf8Lossy(full.data(), full.size(), bytes.data());
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(n), &written, nullptr);
}

// Gives the script time to take its picture: with --step it says PAUSE and waits for a line.
void Pause(const Options& options) {
  if (!options.step) return;
  Say(L"PAUSE");
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  char c = 0;
  DWORD read = 0;
  while (ReadFile(in, &c, 1, &read, nullptr) && read == 1 && c != '\n') {
  }
}

// Seconds since 1970 of the system clock, to the microsecond.
std::wstring UnixTime() {
  const ULONGLONG micros = UnixMicroseconds();
  wchar_t text[40];
  swprintf(text, 40, L"%llu.%06llu", micros / 1000000, micros % 1000000);
  return text;
}

// The process's memory counters as " private_kib=A peak_private_kib=B peak_working_kib=C";
// "" when they cannot be read.
std::wstring MemoryText(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!GetProcessMemoryInfo(process, &counters, sizeof(counters))) return std::wstring();
  return L" private_kib=" + std::to_wstring(counters.PagefileUsage / 1024) + L" peak_private_kib=" +
         std::to_wstring(counters.PeakPagefileUsage / 1024) + L" peak_working_kib=" +
         std::to_wstring(counters.PeakWorkingSetSize / 1024);
}

std::wstring Seconds(ULONGLONG ms) {
  wchar_t text[32];
  swprintf(text, 32, L"%llu.%03llu", ms / 1000, ms % 1000);
  return text;
}

int Fail(const std::wstring& why) {
  Say(L"RESULT fail " + why);
  return 1;
}

bool ParseSeconds(const wchar_t* text, ULONGLONG& ms) {
  wchar_t* end = nullptr;
  unsigned long long value = wcstoull(text, &end, 10);
  if (end == text || *end != L'\0' || value == 0) return false;
  ms = value * 1000;
  return true;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::wstring arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == L"--step") {
      options.step = true;
    } else if (arg == L"--close") {
      options.closeAfterRun = true;
    } else if (arg == L"--ready-close") {
      options.readyClose = true;
    } else if (arg == L"--watch-rows") {
      options.watchRows = true;
    } else if (arg == L"--ping") {
      options.ping = true;
    } else if (arg == L"--expect" && hasValue) {
      std::wstring value = argv[++i];
      if (value != L"success" && value != L"failure") return false;
      options.expectSuccess = value == L"success";
    } else if (arg == L"--expect-message" && hasValue) {
      options.expectMessage = argv[++i];
    } else if (arg == L"--marker" && hasValue) {
      options.marker = argv[++i];
    } else if (arg == L"--ready-timeout" && hasValue) {
      if (!ParseSeconds(argv[++i], options.readyTimeoutMs)) return false;
    } else if (arg == L"--run-timeout" && hasValue) {
      if (!ParseSeconds(argv[++i], options.runTimeoutMs)) return false;
    } else {
      return false;
    }
  }
  if (options.closeAfterRun && !options.marker.empty()) return false;
  return !(options.readyClose && (options.watchRows || options.ping));
}

// The downloader as the driver sees it: its main window, its process and its controls.
class Downloader {
 public:
  HWND window = nullptr;
  UniqueHandle process;
  HWND startButton = nullptr;
  HWND folderBox = nullptr;
  HWND fileList = nullptr;
  HWND progressBar = nullptr;
  std::wstring shownAt;  // Unix time the window was first seen visible with nothing left to paint
  std::wstring readyAt;  // Unix time the save-folder box was first seen filled

  bool Ended() const { return WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0; }
  DWORD ExitCode() const {
    DWORD code = 0;
    GetExitCodeProcess(process.Get(), &code);
    return code;
  }
  std::wstring EndedText() const { return L"the downloader ended with exit code " + std::to_wstring(ExitCode()); }
  // The message box the window shows after a failed run, or null.
  HWND FailureBox() const {
    DWORD pid = GetProcessId(process.Get());
    return probe::FindTopLevel(pid, L"#32770", kMessageTitle);
  }
  std::wstring MessageText(HWND box) const {
    std::wstring text;
    for (HWND part : probe::FindDescendants(box, L"static", L"")) {
      std::wstring piece = probe::TextOf(part);
      if (piece.empty()) continue;
      if (!text.empty()) text += L" ";
      text += piece;
    }
    return text;
  }
  bool Visible(HWND control) const { return control && IsWindowVisible(control); }
};

// Finds the main window and waits until the engine is up: the save-folder box is filled
// then and the start button offers a download.
int WaitReady(Downloader& app, const Options& options, ULONGLONG started) {
  while (!app.window) {
    app.window = probe::FindTopLevel(0, L"", kMainTitle);
    if (app.window) break;
    if (GetTickCount64() - started > options.readyTimeoutMs)
      return Fail(L"no window titled BrinemarchOL下载器 appeared");
    Sleep(kShownPollMs);
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(app.window, &pid);
  app.process.Reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!app.process)
    return Fail(L"cannot open the downloader's process (error " + std::to_wstring(GetLastError()) + L")");
  Say(L"STATE window");
  std::wstring folder;
  ULONGLONG engineLessSince = 0;
  for (;;) {
    if (app.Ended()) return Fail(app.EndedText() + L" before it was ready");
    // Painted: shown, and no part of it waits for its WM_PAINT.
    if (app.shownAt.empty() && IsWindowVisible(app.window) && !GetUpdateRect(app.window, nullptr, FALSE)) {
      app.shownAt = UnixTime();
      if (options.readyClose) Say(L"SHOWN at=" + app.shownAt);
    }
    if (!app.startButton) app.startButton = probe::FindDescendant(app.window, L"button", kStartCaption);
    if (!app.folderBox) app.folderBox = probe::FindDescendant(app.window, L"edit", L"");
    if (!app.fileList) app.fileList = probe::FindDescendant(app.window, L"syslistview32", L"");
    if (app.startButton && app.folderBox) {
      folder = probe::TextOf(app.folderBox);
      if (!folder.empty()) {
        app.readyAt = UnixTime();
        break;
      }
      // Shown with an empty box and the list: the engine-less state, once it lasts longer
      // than the program waits for its engine.
      if (IsWindowVisible(app.window) && app.Visible(app.fileList)) {
        if (engineLessSince == 0) engineLessSince = GetTickCount64();
        if (GetTickCount64() - engineLessSince > kEngineWaitMs) {
          return Fail(L"the engine did not start: the window shows an empty save-folder box and the file list");
        }
      } else {
        engineLessSince = 0;
      }
    }
    if (GetTickCount64() - started > options.readyTimeoutMs) {
      if (!app.startButton) return Fail(L"the window has no button reading 开始下载");
      if (!app.folderBox) return Fail(L"the window has no save-folder box");
      return Fail(L"the engine did not start: the save-folder box stayed empty");
    }
    Sleep(app.shownAt.empty() ? kShownPollMs : kPollMs);
  }
  app.progressBar = probe::FindDescendant(app.window, L"msctls_progress32", L"");
  if (app.Visible(app.fileList)) return Fail(L"the file list is shown before any run");
  Say(L"STATE ready folder=" + folder + L" seconds=" + Seconds(GetTickCount64() - started) + L" bar=" +
      probe::TextOf(app.progressBar));
  Pause(options);
  return 0;
}

// The first moment each row's status cell read finished, seen from a thread of its own.
class RowWatch {
 public:
  struct Sighting {
    int row;
    std::wstring at;
    std::wstring status;
    std::wstring verifyingAt;  // when the row first read 校验中; "-" when never seen
    std::wstring file;
  };

  void Start(HWND list) {
    thread_ = std::thread([this, list] { Watch(list); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void Report() const {
    for (const Sighting& s : sightings_) {
      Say(L"ROW row=" + std::to_wstring(s.row) + L" at=" + s.at + L" status=" + s.status + L" verifying_at=" +
          s.verifyingAt + L" file=" + s.file);
    }
  }

 private:
  void Watch(HWND list) {
    probe::RemoteListReader reader(list);
    if (!reader.Ready()) return;
    std::vector<bool> seen;
    std::vector<std::wstring> verifyingAt;
    while (!stop_) {
      const size_t rows = static_cast<size_t>(std::max(0, probe::ListItemCount(list)));
      seen.resize(rows, false);
      verifyingAt.resize(rows, L"-");
      for (size_t row = 0; row < seen.size() && !stop_; ++row) {
        if (seen[row]) continue;
        std::wstring status = reader.CellText(static_cast<int>(row), kStatusColumn);
        if (status == kVerifyingStatus && verifyingAt[row] == L"-") verifyingAt[row] = UnixTime();
        if (status != kCompleteStatus && status != kFinishedStatus) continue;
        std::wstring at = UnixTime();
        seen[row] = true;
        sightings_.push_back(
            {static_cast<int>(row), at, status, verifyingAt[row], reader.CellText(static_cast<int>(row), kFileColumn)});
      }
      Sleep(kRowPollMs);
    }
  }

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::vector<Sighting> sightings_;
};

// Round trips of WM_NULL to the window: how long its thread leaves messages unhandled.
class Pinger {
 public:
  void Start(HWND window) {
    thread_ = std::thread([this, window] { Ping(window); });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void Report() {
    if (trips_.empty()) {
      Say(L"PING count=0");
      return;
    }
    std::sort(trips_.begin(), trips_.end());
    auto at = [this](double share) { return trips_[static_cast<size_t>(share * (trips_.size() - 1))]; };
    wchar_t text[160];
    swprintf(text, 160, L"PING count=%zu median_ms=%.3f p99_ms=%.3f max_ms=%.3f unanswered=%d", trips_.size(), at(0.5),
             at(0.99), trips_.back(), unanswered_);
    Say(text);
  }

 private:
  void Ping(HWND window) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    while (!stop_) {
      LARGE_INTEGER before{}, after{};
      DWORD_PTR result = 0;
      QueryPerformanceCounter(&before);
      const bool answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kPingTimeoutMs, &result) != 0;
      QueryPerformanceCounter(&after);
      if (answered) {
        trips_.push_back(static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 /
                         static_cast<double>(frequency.QuadPart));
      } else {
        ++unanswered_;
      }
      Sleep(1);
    }
  }

  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::vector<double> trips_;
  int unanswered_ = 0;
};

enum class RunEnd { kFinished, kFailed };

// Lines of text the list shows on screen, looked at until there are as many as expected or
// kPaintWaitMs have passed: the window paints the rows' texts some time after it has set them.
int LinesOnScreen(HWND list, int expected) {
  const ULONGLONG since = GetTickCount64();
  int lines = probe::TextLinesOnScreen(list, kListHeaderHeight);
  while (lines < expected && GetTickCount64() - since < kPaintWaitMs) {
    Sleep(kPollMs);
    lines = probe::TextLinesOnScreen(list, kListHeaderHeight);
  }
  return lines;
}

// Presses start and follows the run until the button offers the install or the failure
// message appears.
int FollowPressedRun(Downloader& app, const Options& options, RunEnd& end, HWND& box) {
  if (!probe::Press(app.startButton)) return Fail(L"cannot press 开始下载");
  ULONGLONG pressed = GetTickCount64();
  bool runningSeen = false;
  int lastRows = -1;
  int lastBar = -1;
  ULONGLONG lastReport = 0;
  for (;;) {
    if (app.Ended()) return Fail(app.EndedText() + L" during the run");
    ULONGLONG now = GetTickCount64();
    box = app.FailureBox();
    if (box) {
      end = RunEnd::kFailed;
      Say(L"STATE failed message=" + app.MessageText(box) + L" seconds=" + Seconds(now - pressed) +
          MemoryText(app.process.Get()));
      return 0;
    }
    // Asking the window costs its thread a wake-up each time, which a measured run must not
    // pay for: the caption only once the button is enabled again, the rows and the bar until
    // the run is seen and then once a second.
    bool enabled = IsWindowEnabled(app.startButton) != FALSE;
    if (enabled && probe::TextOf(app.startButton) == kInstallCaption) {
      end = RunEnd::kFinished;
      Say(L"STATE finished seconds=" + Seconds(now - pressed) + MemoryText(app.process.Get()));
      return 0;
    }
    if (!runningSeen || now - lastReport >= 1000) {
      int rows = probe::ListItemCount(app.fileList);
      int bar = probe::ProgressPosition(app.progressBar);
      // Running once every row of the list's first page has had its first report: at the first
      // progress only one row has texts, the others are still waiting for the engine to take
      // their files. Only the first page: each row read is a message the program answers, and
      // a long share's last rows have no report until the run nears its end.
      const int pageRows = probe::ListRowsPerPage(app.fileList);
      const int firstRows = pageRows > 0 ? std::min(rows, pageRows) : rows;
      if (!runningSeen && !enabled && rows > 0 && app.Visible(app.fileList) &&
          RowsWithStatus(app.fileList, firstRows) == firstRows) {
        // What is on screen for the list: a line of text per row it has room for.
        const int lines = LinesOnScreen(app.fileList, firstRows);
        // A short run can end while the rows and the screen are read: the picture is then of the
        // finished window, and the next pass sees the end.
        if (!IsWindowEnabled(app.startButton) && app.Visible(app.fileList)) {
          runningSeen = true;
          Say(L"STATE running files=" + std::to_wstring(rows) + L" bar=" + std::to_wstring(bar) + L" page_rows=" +
              std::to_wstring(pageRows) + L" screen_lines=" + std::to_wstring(lines));
          lastReport = now;
          Pause(options);
        }
      } else if (runningSeen && (rows != lastRows || bar != lastBar)) {
        Say(L"PROGRESS files=" + std::to_wstring(rows) + L" bar=" + std::to_wstring(bar));
        lastRows = rows;
        lastBar = bar;
        lastReport = now;
      }
    }
    if (now - pressed > options.runTimeoutMs) {
      return Fail(L"the run did not end in time (button reads " + probe::TextOf(app.startButton) + L")");
    }
    Sleep(kPollMs);
  }
}

// Follows the run, measuring it as the options ask.
int FollowRun(Downloader& app, const Options& options, RunEnd& end, HWND& box) {
  RowWatch rows;
  Pinger pinger;
  if (options.watchRows) rows.Start(app.fileList);
  if (options.ping) pinger.Start(app.window);
  const std::wstring pressedAt = UnixTime();
  const int result = FollowPressedRun(app, options, end, box);
  const std::wstring endedAt = UnixTime();
  rows.Stop();
  pinger.Stop();
  if (result == 0) {
    Say(L"TIMES pressed=" + pressedAt + L" ended=" + endedAt);
    if (options.watchRows) rows.Report();
    if (options.ping) pinger.Report();
  }
  return result;
}

bool WaitExit(const Downloader& app) { return WaitForSingleObject(app.process.Get(), kExitTimeoutMs) == WAIT_OBJECT_0; }

int Install(Downloader& app, const Options& options, const std::wstring& folder) {
  if (!probe::Press(app.startButton)) return Fail(L"cannot press 安装游戏");
  if (!WaitExit(app)) return Fail(L"the downloader did not end after 安装游戏");
  if (app.ExitCode() != 0) return Fail(app.EndedText() + L" after 安装游戏");
  std::wstring marker;
  if (!options.marker.empty()) {
    marker = folder + L"\\" + options.marker;
    ULONGLONG since = GetTickCount64();
    while (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (GetTickCount64() - since > kMarkerTimeoutMs) return Fail(L"the installer did not start: no " + marker);
      Sleep(kPollMs);
    }
  }
  Say(L"STATE installed exit=0" + (marker.empty() ? std::wstring() : L" marker=" + marker));
  return 0;
}

int Close(Downloader& app) {
  HWND close = probe::FindDescendant(app.window, L"", kCloseCaption);
  if (!close || !probe::Press(close)) return Fail(L"cannot press the close button ×");
  if (!WaitExit(app)) return Fail(L"the downloader did not end after ×");
  if (app.ExitCode() != 0) return Fail(app.EndedText() + L" after ×");
  Say(L"STATE closed exit=0");
  return 0;
}

// After a failed run: confirm the message, check the window offers a new run, close it.
int Recover(Downloader& app, const Options& options, HWND box) {
  Pause(options);
  HWND ok = GetDlgItem(box, IDOK);
  if (!ok || !probe::Press(ok)) return Fail(L"cannot confirm the message box");
  ULONGLONG since = GetTickCount64();
  for (;;) {
    if (app.Ended()) return Fail(app.EndedText() + L" after the message box");
    if (!app.FailureBox() && IsWindowEnabled(app.startButton) && probe::TextOf(app.startButton) == kStartCaption) break;
    if (GetTickCount64() - since > kExitTimeoutMs)
      return Fail(L"the start button was not offered again after the failure");
    Sleep(kPollMs);
  }
  if (app.Visible(app.fileList)) return Fail(L"the file list is still shown after the failure");
  Say(L"STATE ready-again");
  Pause(options);
  return Close(app);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Say(L"usage: bm_driver.exe [--expect success|failure] [--expect-message TEXT] [--marker NAME | --close] [--step] "
        L"[--ready-timeout S] "
        L"[--run-timeout S] [--ready-close | [--watch-rows] [--ping]]");
    return 2;
  }
  ULONGLONG started = GetTickCount64();
  Downloader app;
  if (options.readyClose) Say(L"STATE looking");
  if (int rc = WaitReady(app, options, started)) return rc;
  if (options.readyClose) {
    Say(L"READY at=" + app.readyAt);
    if (int rc = Close(app)) return rc;
    Say(L"RESULT ok");
    return 0;
  }
  std::wstring folder = probe::TextOf(app.folderBox);
  RunEnd end = RunEnd::kFailed;
  HWND box = nullptr;
  if (int rc = FollowRun(app, options, end, box)) return rc;
  if (end == RunEnd::kFinished) {
    Pause(options);
    // A share without the installer makes 安装游戏 report the missing file and keep the window.
    if (int rc = options.closeAfterRun ? Close(app) : Install(app, options, folder)) return rc;
    if (!options.expectSuccess) return Fail(L"the run succeeded where a failure was expected");
  } else {
    std::wstring message = app.MessageText(box);
    if (message.find(options.expectMessage) == std::wstring::npos) return Fail(L"unexpected message: " + message);
    if (int rc = Recover(app, options, box)) return rc;
    if (options.expectSuccess) return Fail(L"the run failed: " + message);
  }
  Say(L"RESULT ok");
  return 0;
}
