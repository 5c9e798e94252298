// Helpers of the application tests: a main window whose platform services are recorded
// instead of shown, message pumping, and small Win32 readers.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/main_window.h"

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

  std::vector<Box> boxes;
  std::vector<std::wstring> browseTitles;
  std::wstring browseResult;
  std::vector<UINT> exitCodes;
  int engineStarts = 0;

 protected:
  int32_t StartDownloadEngine() override;
  CWString BrowseForFolder(CWTextRef title) override;
  int ShowMessageBox(CWTextRef text, CWTextRef caption, UINT type) override;
  void EndProcess(UINT exitCode) override { exitCodes.push_back(exitCode); }

 private:
  int engineStarted_;
};

// A click as the platform reports it: BN_CLICKED from the control to the form.
void Click(const rg_my_main_window& window, const CKelWinControl& control);
// Dispatches every queued message of this thread.
void PumpMessages();
// The window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND window);
// Folder of the test program with its trailing backslash.
std::wstring ProgramFolder();
// The first line of an environment variable naming a folder ("" when unset).
std::wstring EnvironmentText(const wchar_t* name);
// POSTs a control command to the drive emulator of the test fixture; its status code (0 when
// it did not answer).
int32_t ControlEmulator(const wchar_t* json);
// Reads a whole file as bytes; false when it cannot be read.
bool ReadFileBytes(const std::wstring& path, std::string& bytes);
// Height of a font handle's LOGFONT.
LONG FontHeight(HFONT font);
// -(LOGPIXELSY * points / 72), as the toolkit computes font heights.
LONG PointsHeight(int points);
