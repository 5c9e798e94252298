// Entry point of BrinemarchDownloader.exe: the application object and the framework's main.
#include <windows.h>

#include "app/application.h"
#include "app/startup_class.h"

namespace {

CKelMFCApp theApp(rg_startup_class::StaticClassInfo());

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return theApp.WinMain(instance); }
