// Program, file and process utilities over Win32. Stateless; any thread may call them, but
// WaitWithMessages dispatches the calling thread's window messages.
#pragma once

#include <windows.h>

#include <cstdint>

#include "runtime/text.h"
#include "runtime/win_handles.h"

// Folder of the module's file with its trailing backslash; false (and out empty) on failure.
bool ModuleDirectory(HMODULE module, CWString& out);
// The current user's desktop folder ending with a backslash; "" on failure.
CWString DesktopDirectory();
CWString CombinePath(CWTextRef base, CWTextRef relative);
// True when the folder exists afterwards; creates missing parents.
bool CreateDirectories(CWTextRef path);
// True when the file or folder exists.
bool FileExists(CWTextRef path);
// False only when the clipboard cannot be opened.
bool CopyTextToClipboard(CWTextRef text);
// Starts a program (not waited for). showMode < 0 leaves the window state to the program.
bool RunProgram(CWTextRef commandLine, int showMode);
// ERROR_ELEVATION_REQUIRED, which this toolchain's headers lack.
inline constexpr DWORD kErrorElevationRequired = 740;
// RunProgram's start, telling why it failed: 0 once the program runs, else the system's
// error code (kErrorElevationRequired for a program that asks for administrator rights).
DWORD StartProgram(CWTextRef commandLine, int showMode);
// Starts a program file through the shell's "runas" verb, so Windows asks the user for
// administrator rights first. 0 once it runs, else the error (ERROR_CANCELLED when the user
// refused). The caller's thread must have COM initialised, as for any shell call.
DWORD StartProgramElevated(CWTextRef file, int showMode);
// The system's text for an error code without its line break; "" when it has none.
CWString SystemMessageText(DWORD code);
// Waits while dispatching the calling thread's messages, sent ones included.
void WaitWithMessages(uint32_t milliseconds);
// The same wait, ended early when signal (a waitable handle) is signalled; true then.
bool WaitWithMessagesFor(HANDLE signal, uint32_t milliseconds);
