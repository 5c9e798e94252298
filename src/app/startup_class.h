// The start-up class: the program object of the downloader. It holds the main window by
// value and creates it when launched. Created, launched and deleted by the application object
// on the user-interface thread.
#pragma once

#include <cstdint>

#include "app/main_window.h"
#include "app/program.h"
#include "app/single_instance.h"

class rg_startup_class : public rg_ChuangKouChengXuLei {
  KEL_DECLARE_CLASS(rg_startup_class, rg_ChuangKouChengXuLei)

  rg_startup_class() = default;

  // Creates the main window as a top-level window (its creation starts the engine) and, when
  // the framework runs, makes it the window whose destruction ends the message loop. Always 1.
  // When a program of the same folder already runs, brings its window to the front and ends
  // the process with exit code 0 instead.
  int32_t Launch() override;

  rg_my_main_window mainWindow;

 private:
  ProgramInstanceLock instanceLock_;  // held for the program's life
};
