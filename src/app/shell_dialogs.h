// The platform dialogs the main window shows: the shell's folder browser and message boxes.
// User-interface thread only (COM must be initialised for the folder browser).
#pragma once

#include <windows.h>

#include "runtime/text.h"

// The shell's folder browser owned by owner: the chosen folder's file-system path, "" when the
// user cancelled or the choice has no path.
CWString BrowseForFolderPath(HWND owner, CWTextRef title, UINT flags);

// A message box owned by owner; the window that had the keyboard focus before gets it back
// afterwards if it still exists.
int MessageBoxKeepingFocus(HWND owner, CWTextRef text, CWTextRef caption, UINT type);
