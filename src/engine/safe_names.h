// File names from a share listing made safe to use below a save folder on the user's disk.
// Pure functions; any thread may call them.
#pragma once

#include "runtime/text.h"

// name as a relative path that stays inside the folder it is joined to: separators ("\" and
// "/") become "\", empty and "." parts go, parts of dots only (".." included) become "_",
// characters Windows does not allow in names (":" for drives and streams included) become
// "_", trailing dots and spaces go, and reserved device names (CON, NUL, COM1 ...) get a
// leading "_". "" when nothing is left.
CWString SafeRelativeName(CWTextRef name);
