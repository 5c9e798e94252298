// One program per folder: a second start of the downloader from the folder of a running one
// brings that one's window to the front instead of starting a second engine over the first
// one's files. A copy in another folder is another program. User-interface thread only.
#pragma once

#include <windows.h>

#include "runtime/text.h"
#include "runtime/win_handles.h"

// The name of the lock of the program file at exePath: "Local\BrinemarchDownloader-" and a
// hash of its folder, letters compared as the file system compares them.
CWString InstanceLockName(CWTextRef exePath);

class ProgramInstanceLock {
 public:
  // True when no other program of exePath's folder runs; the lock is then held until this
  // object goes. False when one does (or the lock cannot be made).
  bool Acquire(CWTextRef exePath);

 private:
  UniqueHandle mutex_;
};

// The first top-level form of another process running the program file at exePath, waited
// for up to waitMs (the first program may still be creating it); null when none came.
HWND FindInstanceWindow(CWTextRef exePath, DWORD waitMs);
// Restores window when minimised and makes it the foreground window.
void BringToFront(HWND window);
