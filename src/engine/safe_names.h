// File names from a share listing made safe to use below a save folder on the user's disk.
// Pure functions; any thread may call them.
#pragma once

#include "runtime/arrays.h"
#include "runtime/text.h"

// name as a relative path that stays inside the folder it is joined to: separators ("\" and
// "/") become "\", empty and "." parts go, parts of dots only (".." included) become "_",
// characters Windows does not allow in names (":" for drives and streams included) become
// "_", trailing dots and spaces go, and reserved device names (CON, NUL, COM1 ...) get a
// leading "_". "" when nothing is left.
CWString SafeRelativeName(CWTextRef name);

// The relative path a listed file is saved under: SafeRelativeName, or "test.rar" when
// nothing of the name is left.
CWString SaveName(CWTextRef name);

// True when two of the names would be saved under one path, or one file's path is a folder
// another file needs; letters are compared as the file system compares them. clash (when
// given) receives that path.
bool SavePathsClash(const rg_WenBenShuZuLei& names, CWString* clash = nullptr);
