#include "engine/engine_process.h"

#include <tlhelp32.h>

#include <iterator>
#include <vector>

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

CWString ProcessImagePath(HANDLE process) {
  wchar_t path[MAX_PATH * 4];
  DWORD length = static_cast<DWORD>(std::size(path));
  if (!process || !QueryFullProcessImageNameW(process, 0, path, &length)) return CWString();
  return CWString(path, length);
}

int32_t EndProcessesOfImage(CWTextRef name, CWTextRef imagePath, uint32_t waitMs) {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  const CWString wanted = LowerAscii(name);
  std::vector<UniqueHandle> ended;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
    if (!(LowerAscii(entry.szExeFile) == wanted)) continue;
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
    const CWString image = ProcessImagePath(process.Get());
    if (image.IsEmpty() || CompareStringOrdinal(image.GetText(), static_cast<int>(image.Length()), imagePath.Chars(),
                                                static_cast<int>(imagePath.Length()), TRUE) != CSTR_EQUAL) {
      continue;
    }
    if (TerminateProcess(process.Get(), 0)) ended.push_back(std::move(process));
  }
  // Its ports are free only once it is gone.
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  for (const UniqueHandle& process : ended) {
    const ULONGLONG now = GetTickCount64();
    WaitForSingleObject(process.Get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
  }
  return static_cast<int32_t>(ended.size());
}
