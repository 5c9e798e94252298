// The program classes: the root CKelUserApp (whose construction makes the object the current
// program, theProgram), the program class and the window program class with its three hooks
// into the application's message loop. The program object is created, launched and deleted
// by the application object on the user-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "runtime/object.h"

class CKelUserApp : public CKelObject {
  KEL_DECLARE_CLASS(CKelUserApp, CKelObject)

  // Both make the new object the current program.
  CKelUserApp();
  CKelUserApp(const CKelUserApp& other);
  CKelUserApp& operator=(const CKelUserApp& other) = default;
  // Stops being the current program.
  ~CKelUserApp() override;

  // The start-up action, run once by RunStartupClass; its result is handed back by it.
  virtual int32_t Launch() = 0;
};

class rg_ChengXuLei : public CKelUserApp {
  KEL_DECLARE_CLASS(rg_ChengXuLei, CKelUserApp)
};

class rg_ChuangKouChengXuLei : public rg_ChengXuLei {
  KEL_DECLARE_CLASS(rg_ChuangKouChengXuLei, rg_ChengXuLei)

  // Every queued message before the framework sees it; 0 means handled (the message goes no
  // further), the default 1 not handled.
  virtual int32_t OnPreTranslateMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, MSG* msg);
  // Idle time, elapsedMs since the idle period began; non-zero asks for more idle calls.
  virtual int32_t OnIdle(uint32_t elapsedMs);
  // Before the program object is deleted at the end of the message loop.
  virtual void OnExitInstance();
};
