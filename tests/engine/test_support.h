// What the engine tests share: the loopback servers the ctest fixture started (the scripted
// fake engine and the drive emulator), scratch folders, files, and a recorder of the engine's
// events.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "concurrency/event_binding.h"
#include "engine/download_manager.h"
#include "engine/engine.h"
#include "files.h"
#include "program_folder.h"
#include "runtime/text.h"

namespace engine_test {

// Ports written by the fixture (tools/fake_engine/test_servers.py).
int FakeEnginePort();
int EmulatorPort();
int EmulatorTlsPort();  // certificates of the test authority (tools/test_authority)

// One exchange with a loopback server; the body as UTF-8 text. status receives the HTTP status.
std::string Http(const std::wstring& url, const std::string& body = "", int* status = nullptr,
                 const std::wstring& extraHeaders = L"");
std::string FakeEngine(const std::wstring& route, const std::string& body = "");
std::string Emulator(const std::wstring& route, const std::string& body = "");

// One request the fake engine recorded.
// The secret tests sign fake-engine requests with.
inline constexpr const wchar_t* kTestSecret = L"0123456789abcdef0123456789abcdef";

struct RpcRecord {
  int seq = 0;
  int port = 0;
  std::string method;
  std::string gid;
  std::string out;
  std::string answer;
};
std::vector<RpcRecord> FakeLog();
size_t CountMethod(const std::vector<RpcRecord>& log, const std::string& method);
std::wstring FakeBody(int seq);

// Points engine at the fake engine (or at port) as if a launch had made it ready, watching
// this test process as its engine process.
void UseFakeEngine(rg_n1666& engine, int port = 0);

// Repeats WaitWithMessages(1) until done() or about limitMs passed; whether done() held.
bool WaitFor(const std::function<bool()>& done, int limitMs = 60000);

// Steps an engine's poller look by look: its rest after each look lasts until the test
// allows the next look (Step), the poller stops, or a minute passed. Declare it after the
// engine it steps.
class LookStepper {
 public:
  explicit LookStepper(rg_n1666& engine);
  LookStepper(const LookStepper&) = delete;
  LookStepper& operator=(const LookStepper&) = delete;
  ~LookStepper();

  // Waits up to a minute until the poller has made looks looks (and rests); whether it did.
  bool WaitLooks(int looks);
  // Allows one more look.
  void Step();
  // The longest rest the poller asked for, in milliseconds.
  uint32_t LongestRest() const;

 private:
  void Rest(uint32_t milliseconds);

  rg_n1666& engine_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  int looks_ = 0;
  int allowed_ = 0;
  uint32_t longestRest_ = 0;
};

// A fresh, empty folder below the temporary folder (ending with a backslash), removed with
// everything in it when the object goes.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::wstring& tag);
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder();

  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + name; }

 private:
  std::wstring path_;
};

void RemoveTree(const std::wstring& folder);
// The file's bytes; "<missing>" when it cannot be read.
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);

// Every taskStatus / taskFinished / rowProgress call, in arrival order.
struct EventRecord {
  enum Kind { kStatus, kFinished, kRow } kind = kStatus;
  std::wstring taskId, filePath, sizeText, completedText, speedText, percentText, statusText, remainingText,
      failureText;
  int32_t row = 0;
};

class EventRecorder {
 public:
  EventRecorder() = default;
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;
  ~EventRecorder() { events_.Detach(); }

  void Listen(rg_n1666& engine);
  void Listen(rg_n1434& manager);

  std::vector<EventRecord> Events() const;
  size_t Count(EventRecord::Kind kind) const;

  void OnStatus(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                const CWString& completedText, const CWString& speedText, const CWString& percentText,
                const CWString& statusText, const CWString& remainingText, const CWString& failureText, int32_t row);
  void OnFinished(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                  const CWString& completedText, const CWString& percentText, const CWString& statusText,
                  const CWString& failureText, int32_t row);
  void OnRow(const CWString& taskId, const CWString& filePath, const CWString& sizeText, const CWString& completedText,
             const CWString& speedText, const CWString& percentText, const CWString& statusText,
             const CWString& remainingText, const CWString& failureText, int32_t row);

 private:
  mutable std::mutex lock_;
  std::vector<EventRecord> records_;
  EventTarget<EventRecorder> events_{this};
};

// Ends every running aria2c.exe of this Wine session (leftovers of an earlier test).
void EndAllEngines();

}  // namespace engine_test
