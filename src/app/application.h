// The application object: the program's layer over the framework's application class. It
// initialises OLE, the common controls and COM for the main thread, creates the program
// object from the start-up class, launches it inside the exception guard (RunStartupClass),
// hands every queued message to the program and the toolkit's forms before dispatch, gives the
// program idle time, and deletes the program object when the message loop ends.
// Main (user-interface) thread only.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/framework/win_app.h"
#include "app/program.h"
#include "runtime/object.h"

// How start-up failures reach the user and end the process. The defaults show a message box,
// end the process through the standard library's exit and ask the platform for a debugger;
// tests record instead.
struct KelStartupHooks {
  int (*showMessage)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
  void (*exitProcess)(int code);
  bool (*debuggerPresent)();
};
KelStartupHooks DefaultStartupHooks();

// Calls Launch of theProgram. Under a debugger without a guard; otherwise an exception that
// escapes is shown in a "运行时异常" box and the process ends with exit code -1.
int32_t RunStartupClass();
int32_t RunStartupClass(const KelStartupHooks& hooks);

// Mouse (0x200-0x20E) and keyboard (0x100-0x109) messages: the ones offered to the toolkit's
// marked windows (ui/control.h) from the target window up through its parents.
bool IsPreTranslatedInput(UINT message);

class CKelMfcAppBase : public CWinAppEx {
 public:
  // Creates the runtime state first.
  CKelMfcAppBase();

  // The program's hook first (0: handled), then the framework, then the toolkit's windows.
  bool PreTranslateMessage(MSG* msg) override;
  // The framework's idle work first; from the third call of an idle period on, a sweep of the
  // idle release list and the program's OnIdle.
  bool OnIdle(int32_t count) override;
  // The program's OnExitInstance, idle entries released, the program object deleted (and its
  // window with it), the runtime's objects and modules released, GDI+ shut down, then the
  // framework's exit processing.
  int ExitInstance() override;

  // The program object when it is a window program; null before initialisation.
  rg_ChuangKouChengXuLei* windowProgram = nullptr;

 private:
  bool frameworkIdlePending_ = false;
  DWORD idleStart_ = 0;
};

class CKelMFCApp : public CKelMfcAppBase {
 public:
  // startupClass: the class of the program object (rg_startup_class for the program).
  explicit CKelMFCApp(const CKelClassInfo& startupClass);

  // OLE with the message filter, the common controls, the resource module, COM, the program
  // object and its launch. True when the launch succeeded and made a main window.
  bool InitInstance() override;

  KelStartupHooks hooks = DefaultStartupHooks();

 private:
  const CKelClassInfo& startupClass_;
};
