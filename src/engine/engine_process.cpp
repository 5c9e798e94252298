#include "engine/engine_process.h"

#include <tlhelp32.h>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "runtime/win_handles.h"

namespace {

CWString LowerAscii(CWTextRef text) {
  CWString lowered(text);
  lowered.ToLowerAscii();
  return lowered;
}

// A one-entry attribute list asking Windows to load a new process's DLLs from the system
// folder before its own (a planted DLL beside the engine is then never used). List() is null
// when the list could not be made.
class PreferSystemImages {
 public:
  PreferSystemImages() {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size == 0) return;
    buffer_ = std::make_unique<unsigned char[]>(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.get());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_MITIGATION_POLICY, &policy_, sizeof policy_, nullptr,
                                   nullptr)) {
      DeleteProcThreadAttributeList(list);
      return;
    }
    list_ = list;
  }
  ~PreferSystemImages() {
    if (list_) DeleteProcThreadAttributeList(list_);
  }
  PreferSystemImages(const PreferSystemImages&) = delete;
  PreferSystemImages& operator=(const PreferSystemImages&) = delete;

  LPPROC_THREAD_ATTRIBUTE_LIST List() const { return list_; }

 private:
  DWORD64 policy_ = PROCESS_CREATION_MITIGATION_POLICY_IMAGE_LOAD_PREFER_SYSTEM32_ALWAYS_ON;
  std::unique_ptr<unsigned char[]> buffer_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

UniqueHandle NewEndWithUsJob() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    return UniqueHandle();
  }
  return job;
}

DWORD StartEngineProcess(CWTextRef commandLine, HANDLE job, UniqueHandle& process) {
  if (commandLine.IsEmpty()) return ERROR_INVALID_PARAMETER;
  std::wstring writable(commandLine.Chars(), static_cast<size_t>(commandLine.Length()));
  const PreferSystemImages attributes;
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.lpAttributeList = attributes.List();
  // Suspended until it is in the job: it must not run a single instruction outside it.
  constexpr DWORD kFlags = CREATE_NO_WINDOW | CREATE_SUSPENDED;
  PROCESS_INFORMATION info{};
  DWORD error = ERROR_INVALID_PARAMETER;
  BOOL started = FALSE;
  if (startup.lpAttributeList) {
    started = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, kFlags | EXTENDED_STARTUPINFO_PRESENT,
                             nullptr, nullptr, &startup.StartupInfo, &info);
    if (!started) error = GetLastError();
  }
  // A Windows that does not know the policy refuses the attribute: start without it.
  if (!started && (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED)) {
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    started = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, kFlags, nullptr, nullptr,
                             &startup.StartupInfo, &info);
    if (!started) error = GetLastError();
  }
  if (!started) return error;
  UniqueHandle child(info.hProcess);
  UniqueHandle thread(info.hThread);
  // A job the system refuses to nest (a Windows before 8, inside a job of its own) leaves the
  // engine's --stop-with-process to end it with us.
  if (job) AssignProcessToJobObject(job, child.Get());
  if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
    error = GetLastError();
    TerminateProcess(child.Get(), 0);
    return error;
  }
  process = std::move(child);
  return 0;
}

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
