#include "runtime/utils.h"

bool ModuleDirectory(HMODULE, CWString& out) { out.Clear(); return false; }
CWString DesktopDirectory() { return {}; }
CWString CombinePath(CWTextRef, CWTextRef) { return {}; }
bool CreateDirectories(CWTextRef) { return false; }
bool FileExists(CWTextRef) { return false; }
bool CopyTextToClipboard(CWTextRef) { return false; }
bool RunProgram(CWTextRef, int) { return false; }
void WaitWithMessages(uint32_t) {}
