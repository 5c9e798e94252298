#include "engine/engine_process.h"

#include <tlhelp32.h>

#include "runtime/win_handles.h"

namespace {

CWString LowerAscii(CWTextRef text) {
  CWString lowered(text);
  lowered.ToLowerAscii();
  return lowered;
}

}  // namespace

int64_t FindProcessId(CWTextRef name) {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return -1;
  const CWString wanted = LowerAscii(name);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    if (LowerAscii(entry.szExeFile) == wanted) return entry.th32ProcessID;
  }
  return 0;
}

void EndProcess(DWORD processId) {
  UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (process) TerminateProcess(process.Get(), 0);
}
