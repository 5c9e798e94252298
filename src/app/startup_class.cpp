#include "app/startup_class.h"

#include <iterator>

#include "app/framework/win_app.h"
#include "app/single_instance.h"

namespace {

// How long a second start looks for the first program's window, which that program makes
// only once its engine answered or gave up.
constexpr DWORD kFirstWindowWaitMs = 15000;

CWString ProgramFilePath() {
  wchar_t path[MAX_PATH * 4] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  return CWString(path, length);
}

}  // namespace

int32_t rg_startup_class::Launch() {
  const CWString exePath = ProgramFilePath();
  if (!instanceLock_.Acquire(exePath)) {
    // The first program's run goes on: no engine is started and no file touched here.
    if (HWND first = FindInstanceWindow(exePath, kFirstWindowWaitMs)) BringToFront(first);
    ExitProcess(0);
  }
  if (!mainWindow.CreateTopLevel()) return 1;
  if (CWinAppEx* app = CWinAppEx::Current()) {
    app->SetMainWindow(mainWindow.GetHwnd());
    if (mainWindow.HasWindow()) mainWindow.SetQuitOnDestroy(true);
  }
  return 1;
}
