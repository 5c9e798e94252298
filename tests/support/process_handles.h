// Handles this process holds, counted in the system's handle list: GetProcessHandleCount
// gives 0 under Wine, so tests that look for lost handles count them here. Any thread.
#pragma once

#include <windows.h>

#include <cstddef>

// Entries of this process in the system's handle list; 0 when the list cannot be read.
size_t HandlesInTheSystemList();
