// Entry point of BrinemarchDownloader.exe: the application object and the framework's main.
#include <windows.h>

#include "app/application.h"
#include "app/startup_class.h"

namespace {

// Before anything else (the highest static start-up priority): every DLL loaded from here on,
// the delay-loaded ones included, comes from the system folder only, never from the folder the
// program was started from.
struct SystemFolderDllsOnly {
  SystemFolderDllsOnly() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }
};
SystemFolderDllsOnly systemFolderDllsOnly __attribute__((init_priority(101)));

CKelMFCApp theApp(rg_startup_class::StaticClassInfo());

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return theApp.WinMain(instance); }
