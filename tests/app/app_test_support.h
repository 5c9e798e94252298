// Helpers of the application tests: a main window whose platform services are recorded
// instead of shown, message pumping, small Win32 readers, and what the tests of whole runs
// share: the drive emulator's control and log, a watch over a run, a log of the list's cell
// texts and the fixture that creates the window with the real engine.
// Everything here belongs to the test's main (user-interface) thread.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "files.h"
#include "program_folder.h"
#include "waits.h"
#include "window_helpers.h"

// The main window with its dialogs, its process exit and (optionally) its engine start
// recorded. Created hidden: hiding or destroying a visible top-level window costs seconds on a
// display without a window manager.
class TestMainWindow : public rg_my_main_window {
 public:
  static constexpr int kRealEngine = -1;

  struct Box {
    std::wstring text;
    std::wstring caption;
    UINT type;
  };

  // engineStarted: what the engine start reports, or kRealEngine to start the real engine.
  explicit TestMainWindow(int engineStarted) : engineStarted_(engineStarted) { SetStoredStyle(WS_VISIBLE, 0); }

  // Dispatches messages until the window's engine start (from its message loop) has ended,
  // at most limitMs; false when it did not.
  bool WaitForEngineStart(uint32_t limitMs = 30000);

  std::vector<Box> boxes;
  std::vector<std::wstring> browseTitles;
  std::wstring browseResult;
  std::vector<UINT> exitCodes;
  int engineStarts = 0;
  // What the window showed as its engine start began.
  struct AtEngineStart {
    bool visible, painted, startEnabled, listVisible, pictureVisible;
  };
  AtEngineStart atEngineStart{};
  std::function<void()> duringEngineStart;  // runs inside the engine start when set
  // When set, stands in for CreateProcessW's start of the installer (an error code or 0).
  std::function<DWORD(const std::wstring& commandLine)> installerStart;
  // When set, stands in for the shell's start through the elevation prompt.
  std::function<DWORD(const std::wstring& path)> elevatedStart;
  std::vector<std::wstring> elevatedStarts;  // paths handed to the elevation prompt's start
  // The platform calls of a run, in order: "awake", "asleep", "flash".
  std::vector<std::wstring> platformCalls;
  bool inFront = true;  // what IsForegroundWindow answers
  // When set (before the window is created), the folder the program seems to run from.
  std::wstring programFolder;
  struct TaskbarProgress {
    TBPFLAG state;
    uint64_t completed, total;
  };
  std::vector<TaskbarProgress> taskbar;  // what the taskbar button was told, in order

 protected:
  int32_t StartDownloadEngine() override;
  CWString ProgramDirectory() override {
    return programFolder.empty() ? rg_my_main_window::ProgramDirectory() : CWString(programFolder);
  }
  CWString BrowseForFolder(CWTextRef title) override;
  int ShowMessageBox(CWTextRef text, CWTextRef caption, UINT type) override;
  void EndProcess(UINT exitCode) override { exitCodes.push_back(exitCode); }
  DWORD StartInstaller(CWTextRef commandLine) override;
  void KeepSystemAwake(bool awake) override { platformCalls.push_back(awake ? L"awake" : L"asleep"); }
  bool IsForegroundWindow() override { return inFront; }
  void FlashTaskbarButton() override { platformCalls.push_back(L"flash"); }
  void ShowTaskbarProgress(TBPFLAG state, uint64_t completed, uint64_t total) override {
    taskbar.push_back({state, completed, total});
  }
  DWORD StartInstallerElevated(CWTextRef path) override;

 private:
  int engineStarted_;
};

// A click as the platform reports it: BN_CLICKED from the control to the form.
void Click(const rg_my_main_window& window, const CKelWinControl& control);
// The Escape key as a key press arrives during a run: at the list, which has the focus then.
void PressEscape(const rg_my_main_window& window);
// The first line of an environment variable naming a folder ("" when unset).
std::wstring EnvironmentText(const wchar_t* name);
// The first line the stand-in installer writes into its marker file (it notes the command line
// it was started with), waited for up to 20 s; "" when none came.
CWString StartedCommandLine(const std::wstring& marker);
// Height of a font handle's LOGFONT.
LONG FontHeight(HFONT font);
// -(LOGPIXELSY * points / 72), as the toolkit computes font heights.
LONG PointsHeight(int points);

// -- The drive emulator the test fixture serves on the build's drive address ------------------

inline constexpr const wchar_t* kStreamPath = L"/space/api/box/stream/download/all/";

// POSTs a control command to the emulator; its status code (0 when it did not answer).
int32_t ControlEmulator(const std::wstring& json);
// GETs a file's stream from the emulator as the engine does (with the download cookie); the
// status code (0 when it did not answer) and the bytes.
int32_t FetchServedFile(const std::wstring& token, std::string& bytes);

struct LoggedRequest {
  std::wstring path;
  std::wstring range;    // the Range header, "" without one
  std::wstring cookie;   // the Cookie header, "" without one
  std::wstring referer;  // the Referer header, "" without one
};
// The requests the emulator logged after sequence number since, oldest first; the latest
// sequence number, -1 when the log could not be read.
int64_t EmulatorRequests(int64_t since, std::vector<LoggedRequest>& requests);
// The tokens the emulator serves the release manifest and its signature under.
inline constexpr const wchar_t* kManifestTokens[] = {L"BrinemarchReleaseManifest", L"BrinemarchReleaseSignature"};
// The parts' stream requests (and their ranges) logged after sequence number since, for one
// file token or all (""); the release manifest's two files left out.
std::vector<LoggedRequest> StreamRequests(int64_t since, const std::wstring& token = L"");
// The stream bytes the emulator really wrote after sequence number since, for one file token
// or all the parts ("": the release manifest's two files left out); waits up to 10 s for open
// streams to end. -1 when it could not be read.
int64_t SentBytes(int64_t since, const std::wstring& token = L"");
// The emulator's latest sequence number (-1 when the log could not be read).
int64_t LatestEmulatorRequest();

// -- Watching a run ---------------------------------------------------------------------------

// What the user would see at one moment of a run.
struct RunSample {
  bool startEnabled;
  bool listVisible;
  std::vector<std::vector<std::wstring>> cells;  // [row][column], the six columns
  int barPosition = 0;
  std::wstring barText;
  int Rows() const { return static_cast<int>(cells.size()); }
  int RowsWithStatus() const;
};

// Samples the window every 15 ms while it runs; a thread timer, so the samples are taken
// inside the run's message-dispatching waits. act, when given, sees each sample as it is
// taken and may act on the window (a key press, the engine's end ...). One at a time.
class RunWatch {
 public:
  using Act = std::function<void(TestMainWindow&, const RunSample&)>;
  RunWatch(TestMainWindow& window, Act act);
  ~RunWatch();
  RunWatch(const RunWatch&) = delete;
  RunWatch& operator=(const RunWatch&) = delete;

  std::vector<RunSample> samples;

 private:
  static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);

  TestMainWindow& window_;
  Act act_;
  UINT_PTR timer_ = 0;
};

// Every text the list's cells are given while this object lives, in order: the list's window
// procedure is wrapped, so the updates the engine's worker sends are all seen, however
// quickly they follow each other. One at a time; must go before the list's window.
class CellLog {
 public:
  explicit CellLog(HWND list);
  ~CellLog();
  CellLog(const CellLog&) = delete;
  CellLog& operator=(const CellLog&) = delete;

  // The texts cell (row, column) was given, oldest first.
  std::vector<std::wstring> History(int row, int column) const;

 private:
  struct Entry {
    int row;
    int column;
    std::wstring text;
  };
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wp, LPARAM lp);

  HWND list_;
  WNDPROC previous_;
  std::vector<Entry> entries_;
};

// Whole runs of the main window with the real engine (aria2c.exe beside the test program)
// against the drive emulator, reset before and after each test. Each test saves into its own
// emptied folder: testFolder_ + "\\Brinemarch".
class EngineRunTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Creates the window, waits until it started the engine, points it at saveFolder_ and
  // starts watching.
  void CreateWindowWithTheEngine(RunWatch::Act act = {});

  std::wstring testFolder_;
  std::wstring saveFolder_;
  std::unique_ptr<TestMainWindow> window_;
  std::unique_ptr<CellLog> cellLog_;
  std::unique_ptr<RunWatch> watch_;
};
