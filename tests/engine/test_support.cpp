#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>

#include "engine/engine_process.h"
#include "net/http.h"
#include "runtime/convert.h"
#include "runtime/utils.h"
#include "runtime/win_handles.h"
#include "waits.h"

namespace engine_test {

namespace {

int ServerPort(const std::string& name) {
  std::ifstream file(Utf8(ProgramFolder()) + "../engine_servers/servers.txt");
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind(name + "=", 0) == 0) return std::stoi(line.substr(name.size() + 1));
  }
  ADD_FAILURE() << "no port for " << name << " (the engine_servers fixture did not run)";
  return 0;
}

std::wstring Origin(int port) { return L"http://127.0.0.1:" + std::to_wstring(port); }

}  // namespace

int FakeEnginePort() {
  static const int port = ServerPort("fake_engine");
  return port;
}

int EmulatorPort() {
  static const int port = ServerPort("emulator");
  return port;
}

int EmulatorTlsPort() {
  static const int port = ServerPort("emulator_tls");
  return port;
}

std::string Http(const std::wstring& url, const std::string& body, int* status, const std::wstring& extraHeaders) {
  static rg_WangLaoFangWenLei_n client;
  rg_WangYeFangWenXiangYingLei_n response;
  CWString cookies;
  CWString headers;
  const CKelMem bytes =
      client.SendRequest(CWString(url), body.empty() ? http_method::kGet : http_method::kPost, CWString(Wide(body)),
                         CKelMem(), CWString(extraHeaders), CWString(), 0, cookies, headers, CWString(), CWString(),
                         CWString(), 120000, 1, NoAcceptEncoding(), response);
  if (status) *status = response.statusCode;
  return std::string(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.Size()));
}

std::string FakeEngine(const std::wstring& route, const std::string& body) {
  return Http(Origin(FakeEnginePort()) + route, body);
}

std::string Emulator(const std::wstring& route, const std::string& body) {
  return Http(Origin(EmulatorPort()) + route, body);
}

std::vector<RpcRecord> FakeLog() {
  std::vector<RpcRecord> log;
  std::istringstream lines(FakeEngine(L"/__log"));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
      fields.push_back(line.substr(start, tab - start));
      start = tab + 1;
    }
    fields.push_back(line.substr(start));
    if (fields.size() < 6) continue;
    log.push_back({std::stoi(fields[0]), std::stoi(fields[1]), fields[2], fields[3], fields[4], fields[5]});
  }
  return log;
}

size_t CountMethod(const std::vector<RpcRecord>& log, const std::string& method) {
  size_t n = 0;
  for (const RpcRecord& r : log) n += r.method == method ? 1 : 0;
  return n;
}

std::wstring FakeBody(int seq) { return Wide(FakeEngine(L"/__body?seq=" + std::to_wstring(seq))); }

void UseFakeEngine(rg_n1666& engine, int port) {
  engine.SetRpcEndpoint(CWString(std::to_wstring(port ? port : FakeEnginePort())), CWString(kTestSecret));
  engine.ready = 1;
  engine.WatchEngineProcess(GetCurrentProcessId());
}

bool WaitFor(const std::function<bool()>& done, int limitMs) {
  return PollUntil(done, static_cast<uint32_t>(limitMs), PollMode::kDispatchMessages);
}

LookStepper::LookStepper(rg_n1666& engine) : engine_(engine) {
  engine_.lookRest = [this](uint32_t milliseconds) { Rest(milliseconds); };
}

LookStepper::~LookStepper() {
  // The poller may be resting here: it ends once told, and no later look calls in.
  engine_.pollerRunning = 0;
  engine_.workerPool.Stop(0, 2000);
  engine_.lookRest = nullptr;
}

void LookStepper::Rest(uint32_t milliseconds) {
  std::unique_lock<std::mutex> guard(lock_);
  ++looks_;
  longestRest_ = std::max(longestRest_, milliseconds);
  changed_.notify_all();
  const ULONGLONG began = GetTickCount64();
  while (allowed_ < looks_ && engine_.pollerRunning != 0 && GetTickCount64() - began < 60000) {
    changed_.wait_for(guard, std::chrono::milliseconds(10));
  }
}

bool LookStepper::WaitLooks(int looks) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::seconds(60), [&] { return looks_ >= looks; });
}

void LookStepper::Step() {
  std::lock_guard<std::mutex> guard(lock_);
  ++allowed_;
  changed_.notify_all();
}

uint32_t LookStepper::LongestRest() const {
  std::lock_guard<std::mutex> guard(lock_);
  return longestRest_;
}

ScratchFolder::ScratchFolder(const std::wstring& tag) {
  static std::atomic<int> counter{0};
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"bm_engine_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
          std::to_wstring(++counter) + L"_" + tag + L"\\";
  RemoveTree(path_);
  CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { RemoveTree(path_); }

void RemoveTree(const std::wstring& folder) {
  const std::wstring base = folder.back() == L'\\' ? folder : folder + L"\\";
  WIN32_FIND_DATAW found = {};
  UniqueFindHandle search(FindFirstFileW((base + L"*").c_str(), &found));
  if (search) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = base + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search.Get(), &found));
  }
  search.Reset();
  RemoveDirectoryW(base.c_str());
}

std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  return ReadFileBytes(path, bytes) ? bytes : "<missing>";
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Utf8(const std::wstring& text) {
  const CKelMem bytes = TextToUtf8(CWString(text), false, false);
  return std::string(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.Size()));
}

std::wstring Wide(const std::string& text) { return Utf8ToText(text.data(), text.size(), false).ToStdString(); }

void EventRecorder::Listen(rg_n1666& engine) {
  engine.taskStatus.Bind<&EventRecorder::OnStatus>(events_);
  engine.taskFinished.Bind<&EventRecorder::OnFinished>(events_);
}

void EventRecorder::Listen(rg_n1434& manager) { manager.rowProgress.Bind<&EventRecorder::OnRow>(events_); }

std::vector<EventRecord> EventRecorder::Events() const {
  std::lock_guard<std::mutex> guard(lock_);
  return records_;
}

size_t EventRecorder::Count(EventRecord::Kind kind) const {
  std::lock_guard<std::mutex> guard(lock_);
  size_t n = 0;
  for (const EventRecord& r : records_) n += r.kind == kind ? 1 : 0;
  return n;
}

void EventRecorder::OnStatus(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                             const CWString& completedText, const CWString& speedText, const CWString& percentText,
                             const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                             int32_t row) {
  std::lock_guard<std::mutex> guard(lock_);
  records_.push_back({EventRecord::kStatus, taskId.ToStdString(), filePath.ToStdString(), sizeText.ToStdString(),
                      completedText.ToStdString(), speedText.ToStdString(), percentText.ToStdString(),
                      statusText.ToStdString(), remainingText.ToStdString(), failureText.ToStdString(), row});
}

void EventRecorder::OnFinished(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                               const CWString& completedText, const CWString& percentText, const CWString& statusText,
                               const CWString& failureText, int32_t row) {
  std::lock_guard<std::mutex> guard(lock_);
  records_.push_back({EventRecord::kFinished, taskId.ToStdString(), filePath.ToStdString(), sizeText.ToStdString(),
                      completedText.ToStdString(), L"", percentText.ToStdString(), statusText.ToStdString(), L"",
                      failureText.ToStdString(), row});
}

void EventRecorder::OnRow(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                          const CWString& completedText, const CWString& speedText, const CWString& percentText,
                          const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                          int32_t row) {
  std::lock_guard<std::mutex> guard(lock_);
  records_.push_back({EventRecord::kRow, taskId.ToStdString(), filePath.ToStdString(), sizeText.ToStdString(),
                      completedText.ToStdString(), speedText.ToStdString(), percentText.ToStdString(),
                      statusText.ToStdString(), remainingText.ToStdString(), failureText.ToStdString(), row});
}

void EndAllEngines() {
  for (int i = 0; i < 20; ++i) {
    const int64_t pid = FindProcessId(L"aria2c.exe");
    if (pid <= 0) return;
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
    if (!process) return;
    TerminateProcess(process.Get(), 0);
    WaitForSingleObject(process.Get(), 5000);
  }
}

}  // namespace engine_test
