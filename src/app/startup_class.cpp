#include "app/startup_class.h"

#include "app/framework/win_app.h"

int32_t rg_startup_class::Launch() {
  if (!mainWindow.CreateTopLevel()) return 1;
  if (CWinAppEx* app = CWinAppEx::Current()) {
    app->SetMainWindow(mainWindow.GetHwnd());
    if (mainWindow.HasWindow()) mainWindow.SetQuitOnDestroy(true);
  }
  return 1;
}
