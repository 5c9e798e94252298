// Finding and ending engine processes by their executable's name or image file. Any thread
// may call these.
#pragma once

#include <windows.h>

#include <cstdint>

#include "runtime/text.h"

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
