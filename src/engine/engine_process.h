// Finding and ending engine processes by their executable's name. Any thread may call these.
#pragma once

#include <windows.h>

#include <cstdint>

#include "runtime/text.h"

// The id of the first running process whose executable file name equals name, letter case of
// A-Z ignored; 0 when none runs; -1 when the process list cannot be taken.
int64_t FindProcessId(CWTextRef name);
// Ends the process with exit code 0; failures are ignored.
void EndProcess(DWORD processId);
