// Starting, finding and ending engine processes. Any thread may call these.
#pragma once

#include <windows.h>

#include <cstdint>

#include "runtime/text.h"
#include "runtime/win_handles.h"

// The id of the first running process whose executable file name equals name, letter case of
// A-Z ignored; 0 when none runs; -1 when the process list cannot be taken.
int64_t FindProcessId(CWTextRef name);
// Ends the process with exit code 0; failures are ignored.
void EndProcess(DWORD processId);

// The full path of a process's image file ("" when it cannot be read).
CWString ProcessImagePath(HANDLE process);
// Ends every running process whose executable file name is name and whose image file is
// imagePath (compared as the file system compares names), and waits up to waitMs for them
// to be gone. Processes of that name elsewhere on the disk are left alone. The number ended.
int32_t EndProcessesOfImage(CWTextRef name, CWTextRef imagePath, uint32_t waitMs);

// A job object that ends every process in it when its last handle is closed: an engine in it
// ends with us however we end (a crash and the task manager included). Empty when the system
// refuses one.
UniqueHandle NewEndWithUsJob();
// Starts commandLine as an engine: without any console (a console of its own would be a
// window, or a terminal tab, whose close button ends the engine mid-run), put in job before
// it runs (when job is given), and loading its DLLs from the system folder before its own
// where Windows has that policy. 0 once it runs, with its handle in process; else the
// system's error code.
DWORD StartEngineProcess(CWTextRef commandLine, HANDLE job, UniqueHandle& process);
