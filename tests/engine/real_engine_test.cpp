// The real engine (aria2c.exe and aria2.conf beside the test program) against the drive
// emulator: start, stop, leftovers, taken ports, whole runs and the backups around them.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "build_config.h"
#include "engine/engine_process.h"
#include "engine/rpc_requests.h"
#include "engine/save_folder.h"
#include "runtime/utils.h"
#include "test_support.h"
#include "waits.h"

namespace engine_test {
namespace {

std::wstring StreamUrl(const std::string& token) {
  return L"http://127.0.0.1:" + std::to_wstring(EmulatorPort()) + L"/space/api/box/stream/download/all/" + Wide(token);
}

std::wstring TlsStreamUrl(const std::string& token) {
  return L"https://127.0.0.1:" + std::to_wstring(EmulatorTlsPort()) + L"/space/api/box/stream/download/all/" +
         Wide(token);
}

// TLS connections to the emulator that ended before any request: the client did not trust
// the certificate.
int TlsRefused() {
  const std::string state = Emulator(L"/__control");
  const std::string key = "\"tls_refused\": ";
  const size_t at = state.find(key);
  return at == std::string::npos ? -1 : std::atoi(state.c_str() + at + key.size());
}

// What the emulator serves for token, fetched directly.
std::string Served(const std::string& token) {
  int status = 0;
  const std::string bytes = Http(StreamUrl(token), "", &status, BRINEMARCH_DOWNLOAD_COOKIE);
  EXPECT_EQ(status, 200) << token;
  return bytes;
}

// prefix, i and suffix joined (appending keeps GCC 12's overlap warning quiet).
std::string Numbered(const char* prefix, int i, const char* suffix = "") {
  std::string text = prefix;
  text += std::to_string(i);
  text += suffix;
  return text;
}

struct ServedFile {
  std::string name;
  std::string token;
  std::string sizeMib;
  std::string extra;  // further node keys, e.g. ,"throttle_bps":300000
};

void ServeFiles(const std::vector<ServedFile>& files, const std::string& faults = "") {
  std::string children;
  for (const ServedFile& f : files) {
    if (!children.empty()) children += ",";
    children += "{\"name\":\"" + f.name + "\",\"token\":\"" + f.token + "\",\"size_mib\":" + f.sizeMib + f.extra + "}";
  }
  const std::string control = "{\"reset\":true,\"tree\":{\"name\":\"Brinemarch\",\"children\":[" + children + "]}" +
                              (faults.empty() ? "" : "," + faults) + "}";
  int status = 0;
  Http(L"http://127.0.0.1:" + std::to_wstring(EmulatorPort()) + L"/__control", control, &status);
  ASSERT_EQ(status, 200) << control;
}

// The running engine's value of a global option.
std::wstring GlobalOption(rg_n1666& engine, const wchar_t* name) {
  const CWString reply =
      engine.PostRpc(CWString(L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.getGlobalOption\",\"params\":[\"token:" +
                              engine.RpcSecret().ToStdString() + L"\"],\"id\":1}"),
                     5000);
  return ReadResult(reply, CWString(std::wstring(L"/result/") + name)).ToStdString();
}

UniqueHandle OpenEngine(DWORD access) {
  const int64_t pid = FindProcessId(L"aria2c.exe");
  return UniqueHandle(pid > 0 ? OpenProcess(access, FALSE, static_cast<DWORD>(pid)) : nullptr);
}

class RealEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Exists(ProgramFolder() + L"aria2c.exe")) << "the build places the engine beside the test program";
    ASSERT_TRUE(Exists(ProgramFolder() + L"aria2.conf"));
    EndAllEngines();
  }
  void TearDown() override {
    Http(L"http://127.0.0.1:" + std::to_wstring(EmulatorPort()) + L"/__control", "{\"reset\":true}");
    EndAllEngines();
  }

  // Starts the engine beside the test program, as the window does.
  void Start(rg_n1434& manager) {
    manager.engine.publicAddressUrl = CWString(L"http://127.0.0.1:" + std::to_wstring(EmulatorPort()) + L"/ipecho");
    ASSERT_NE(manager.StartEngine(CWString()), 0);
  }
};

TEST_F(RealEngineTest, StartEndsALeftoverAppliesTheSettingsAndShutdownEndsTheEngine) {
  // A leftover engine from an earlier run, on other ports.
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  std::wstring leftoverLine = L"\"" + ProgramFolder() +
                              L"aria2c.exe\" --enable-rpc=true --rpc-listen-port=7100 "
                              L"--listen-port=7101 --dht-listen-port=7102 --quiet=true --stop-with-process=" +
                              std::to_wstring(GetCurrentProcessId());
  ASSERT_TRUE(
      CreateProcessW(nullptr, leftoverLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created));
  UniqueHandle leftover(created.hProcess);
  UniqueHandle leftoverThread(created.hThread);

  UniqueHandle engineProcess;
  {
    rg_n1434 manager;
    Start(manager);
    EXPECT_EQ(WaitForSingleObject(leftover.Get(), 10000), WAIT_OBJECT_0);
    EXPECT_EQ(manager.engine.RpcPort().ToStdString(), L"7022");
    EXPECT_EQ(GlobalOption(manager.engine, L"max-concurrent-downloads"), L"99");
    EXPECT_EQ(GlobalOption(manager.engine, L"max-connection-per-server"), L"16");
    EXPECT_EQ(GlobalOption(manager.engine, L"rpc-listen-all"), L"false");
    EXPECT_EQ(GlobalOption(manager.engine, L"rpc-allow-origin-all"), L"false");
    EXPECT_EQ(GlobalOption(manager.engine, L"auto-file-renaming"), L"false");
    EXPECT_EQ(GlobalOption(manager.engine, L"follow-torrent"), L"false");
    EXPECT_EQ(GlobalOption(manager.engine, L"bt-external-ip"), L"127.0.0.1");
    // The player's proxy as their settings name it, and none again.
    EXPECT_TRUE(manager.SetEngineProxy(CWString(L"proxy.corp:8080")));
    EXPECT_NE(GlobalOption(manager.engine, L"all-proxy").find(L"proxy.corp:8080"), std::wstring::npos);
    EXPECT_TRUE(manager.SetEngineProxy(CWString()));
    EXPECT_EQ(GlobalOption(manager.engine, L"all-proxy"), L"");
    // A request goes in its URL up to the limit, which the engine's bound on a request head
    // allows, and as a POST beyond it; both are answered.
    const CWString base(L"http://127.0.0.1:7022/jsonrpc?tm=" + std::wstring(13, L'9'));
    for (const size_t padding : {size_t{5800}, size_t{6100}}) {
      const CWString request(L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.getVersion\",\"params\":[\"token:" +
                             manager.engine.RpcSecret().ToStdString() + L"\"],\"id\":1,\"pad\":\"" +
                             std::wstring(padding, L'x') + L"\"}");
      EXPECT_EQ(RpcGetUrl(base, request).IsEmpty(), padding > 6000) << padding;
      EXPECT_FALSE(ReadResult(manager.engine.PostRpc(request, 5000), L"/result/version").IsEmpty()) << padding;
    }
    engineProcess = OpenEngine(SYNCHRONIZE);
    ASSERT_TRUE(engineProcess);
  }
  EXPECT_EQ(WaitForSingleObject(engineProcess.Get(), 30000), WAIT_OBJECT_0);
}

TEST_F(RealEngineTest, APortTakenByAnotherListenerMakesTheLaunchMoveOn) {
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  SOCKET taken = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(7022);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(listen(taken, 16), 0);  // accepts connections, never answers

  rg_n1666 engine;
  engine.readyTimeoutSeconds = 3;
  engine.rpcPortNumber = 7022;
  engine.listenPortNumber = 7055;
  engine.dhtPortNumber = 7033;
  rg_n2038 settings;
  settings.engineDir = CWString(ProgramFolder());
  settings.secret = NewRpcSecret();
  engine.RunLaunch(settings);
  EXPECT_EQ(engine.ready.load(), 1);
  EXPECT_EQ(engine.RpcPort().ToStdString(), L"7023");
  EXPECT_FALSE(
      ReadResult(engine.PostRpc(MakeGetVersionRequest(engine.RpcSecret()), 5000), L"/result/version").IsEmpty());
  // Not asked for 99 downloads at once after the launch, the engine has it from its settings.
  EXPECT_EQ(GlobalOption(engine, L"max-concurrent-downloads"), L"99");
  closesocket(taken);
  WSACleanup();
}

// A getVersion signed with secret, straight to the port: whether it was answered with a version.
bool AnswersVersion(int port, const std::wstring& secret) {
  int status = 0;
  const std::string reply = Http(L"http://127.0.0.1:" + std::to_wstring(port) + L"/jsonrpc",
                                 "{\"jsonrpc\":\"2.0\",\"method\":\"aria2.getVersion\",\"params\":[\"token:" +
                                     std::string(secret.begin(), secret.end()) + "\"],\"id\":1}",
                                 &status);
  return status == 200 && reply.find("\"version\"") != std::string::npos;
}

// Two copies of the program in two folders of one user: each gets an engine of its own, on
// ports of its own, and both runs end whole while both engines run. (Windows would let the
// second engine share the first one's port; the probe before the start keeps it off.)
TEST_F(RealEngineTest, TwoCopiesInTwoFoldersEachRunAnEngineOfTheirOwn) {
  ServeFiles({{"one.rar", "tokOne", "1", ""}, {"two.rar", "tokTwo", "1", ""}});
  ScratchFolder firstCopy(L"copy-one");
  ScratchFolder secondCopy(L"copy-two");
  for (const ScratchFolder* copy : {&firstCopy, &secondCopy}) {
    for (const wchar_t* file : {L"aria2c.exe", L"aria2.conf"}) {
      ASSERT_TRUE(CopyFileW((ProgramFolder() + file).c_str(), (*copy / file).c_str(), FALSE));
    }
  }
  rg_n1434 first;
  rg_n1434 second;
  for (rg_n1434* copy : {&first, &second}) {
    copy->engine.publicAddressUrl = CWString(L"http://127.0.0.1:" + std::to_wstring(EmulatorPort()) + L"/ipecho");
  }
  ASSERT_NE(first.StartEngine(CWString(firstCopy.Path())), 0);
  ASSERT_NE(second.StartEngine(CWString(secondCopy.Path())), 0);
  const int firstPort = std::stoi(first.engine.RpcPort().ToStdString());
  const int secondPort = std::stoi(second.engine.RpcPort().ToStdString());
  EXPECT_NE(firstPort, secondPort);
  // Each port is its own copy's engine: it takes that copy's secret and not the other's.
  EXPECT_TRUE(AnswersVersion(firstPort, first.engine.RpcSecret().ToStdString()));
  EXPECT_FALSE(AnswersVersion(firstPort, second.engine.RpcSecret().ToStdString()));
  EXPECT_TRUE(AnswersVersion(secondPort, second.engine.RpcSecret().ToStdString()));

  ScratchFolder firstSave(L"copy-one-save");
  ScratchFolder secondSave(L"copy-two-save");
  first.fileNames.Add(CWString(L"one.rar"));
  first.fileUrls.Add(CWString(StreamUrl("tokOne")));
  second.fileNames.Add(CWString(L"two.rar"));
  second.fileUrls.Add(CWString(StreamUrl("tokTwo")));
  EXPECT_EQ(second.DownloadAll(CWString(secondSave.Path())), 1);
  EXPECT_EQ(first.DownloadAll(CWString(firstSave.Path())), 1);
  EXPECT_TRUE(ReadBytes(firstSave / L"one.rar") == Served("tokOne"));
  EXPECT_TRUE(ReadBytes(secondSave / L"two.rar") == Served("tokTwo"));
}

TEST_F(RealEngineTest, EveryStartHasItsOwnSecretAndNoOtherIsTaken) {
  std::wstring previous;
  for (int start = 0; start < 2; ++start) {
    rg_n1434 manager;
    Start(manager);
    const std::wstring secret = manager.engine.RpcSecret().ToStdString();
    const int port = std::stoi(manager.engine.RpcPort().ToStdString());
    ASSERT_EQ(secret.size(), 32u);
    EXPECT_EQ(secret.find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << secret;
    EXPECT_TRUE(AnswersVersion(port, secret));
    // The secret every copy of the build once shared, and the last start's, are refused.
    EXPECT_FALSE(AnswersVersion(port, L"572"));
    if (!previous.empty()) {
      EXPECT_NE(secret, previous);
      EXPECT_FALSE(AnswersVersion(port, previous));
    }
    previous = secret;
  }
}

TEST_F(RealEngineTest, AnotherProgramsEngineOnOurPortKeepsRunningAndOursMovesOn) {
  // Another download manager's aria2c.exe, from its own folder, on 7022.
  ScratchFolder other(L"other-manager");
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"aria2c.exe").c_str(), (other / L"aria2c.exe").c_str(), FALSE));
  std::wstring line = L"\"" + (other / L"aria2c.exe") +
                      L"\" --no-conf=true --enable-rpc=true --rpc-listen-port=7022 --rpc-secret=othersecret "
                      L"--listen-port=7200 --dht-listen-port=7201 --enable-dht=false --quiet=true";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &startup, &created));
  UniqueHandle foreign(created.hProcess);
  UniqueHandle thread(created.hThread);
  ASSERT_TRUE(WaitFor([] { return AnswersVersion(7022, L"othersecret"); }, 15000)) << "the other engine never answered";

  ServeFiles({{"beside.rar", "tokBeside", "1", ""}});
  ScratchFolder save(L"beside-run");
  {
    rg_n1434 manager;
    const ULONGLONG began = GetTickCount64();
    Start(manager);
    const ULONGLONG readyMs = GetTickCount64() - began;
    std::printf("figures: ready on port %ls %llu ms after the start, with port 7022 taken\n",
                manager.engine.RpcPort().GetText(), static_cast<unsigned long long>(readyMs));
    EXPECT_EQ(manager.engine.RpcPort().ToStdString(), L"7023");
    EXPECT_TRUE(AnswersVersion(7022, L"othersecret")) << "our launch ended the other program's engine";
    manager.fileNames.Add(CWString(L"beside.rar"));
    manager.fileUrls.Add(CWString(StreamUrl("tokBeside")));
    EXPECT_EQ(manager.DownloadAll(CWString(save.Path())), 1);
    EXPECT_TRUE(ReadBytes(save / L"beside.rar") == Served("tokBeside"));
  }
  EXPECT_EQ(WaitForSingleObject(foreign.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_TRUE(AnswersVersion(7022, L"othersecret")) << "our run or its end stopped the other engine";
  // Ended the way its own program would: a killed engine's listening port can stay taken in
  // the Wine server for the tests that follow.
  Http(L"http://127.0.0.1:7022/jsonrpc",
       "{\"jsonrpc\":\"2.0\",\"method\":\"aria2.shutdown\",\"params\":[\"token:othersecret\"],\"id\":1}");
  EXPECT_EQ(WaitForSingleObject(foreign.Get(), 15000), WAIT_OBJECT_0);
}

TEST_F(RealEngineTest, TwelveFilesDownloadByteExact) {
  std::vector<ServedFile> files;
  for (int i = 1; i <= 12; ++i) {
    char name[64];
    std::snprintf(name, sizeof(name), "Brinemarch.part%02d.rar", i);
    files.push_back({name, Numbered("tokPart", i), "8", ""});
  }
  ServeFiles(files);
  rg_n1434 manager;
  Start(manager);
  EventRecorder events;
  events.Listen(manager.engine);
  ScratchFolder scratch(L"twelve");
  const std::wstring save = scratch.Path() + L"Brinemarch";
  for (const ServedFile& f : files) {
    manager.fileNames.Add(CWString(Wide(f.name)));
    manager.fileUrls.Add(CWString(StreamUrl(f.token)));
  }
  const ULONGLONG began = GetTickCount64();
  EXPECT_EQ(manager.DownloadAll(CWString(save)), 1);
  const double seconds = static_cast<double>(GetTickCount64() - began) / 1000.0;
  uint64_t bytes = 0;
  for (const ServedFile& f : files) {
    const std::string got = ReadBytes(save + L"\\" + Wide(f.name));
    const std::string want = Served(f.token);
    EXPECT_EQ(got.size(), want.size()) << f.name;
    EXPECT_TRUE(got == want) << f.name;
    EXPECT_FALSE(Exists(save + L"\\" + Wide(f.name) + L".aria2"));
    bytes += got.size();
  }
  // One row report per open task and look, one more for each finished task.
  const size_t reports = events.Count(EventRecord::kStatus) - events.Count(EventRecord::kFinished);
  std::printf("figures: 12 files, %llu bytes in %.2f s (%.1f MiB/s); %zu row reports, %.0f per second\n",
              static_cast<unsigned long long>(bytes), seconds, bytes / 1048576.0 / seconds, reports, reports / seconds);
  RecordProperty("seconds", std::to_string(seconds));
  RecordProperty("bytes", std::to_string(bytes));
  RecordProperty("row_reports", std::to_string(reports));
}

// A row follows its part within a look's pace: the look after the engine ended a download
// finishes its row, and no rest between looks is longer than the pace.
TEST_F(RealEngineTest, TheLookAfterADownloadEndsFinishesItsRow) {
  // Slow enough that the first look finds it still running.
  ServeFiles({{"paced.rar", "tokPaced", "1", ",\"throttle_bps\":1048576"}});
  rg_n1434 manager;
  Start(manager);
  rg_n1666& engine = manager.engine;
  LookStepper stepper(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder save(L"paced");
  const CWString id = engine.AddUri(CWString(StreamUrl("tokPaced")), CWString(save.Path()), CWString(L"paced.rar"),
                                    CWString(), CWString(BRINEMARCH_DOWNLOAD_COOKIE), CWString(), 0);
  ASSERT_FALSE(id.IsEmpty());
  ASSERT_TRUE(stepper.WaitLooks(1));
  ASSERT_EQ(events.Count(EventRecord::kFinished), 0u) << "the first look came after the download's end";
  // The engine ends the download while the poller rests.
  ASSERT_TRUE(WaitFor([&] {
    return ReadResult(engine.PostRpc(MakeTellStatusRequest(engine.RpcSecret(), id), 5000),
                      CWString(L"/result/status")) == L"complete";
  })) << "the engine never completed the download";
  EXPECT_EQ(events.Count(EventRecord::kFinished), 0u);
  stepper.Step();
  ASSERT_TRUE(stepper.WaitLooks(2));
  EXPECT_EQ(events.Count(EventRecord::kFinished), 1u) << "the look after the end did not finish the row";
  EXPECT_EQ(engine.PendingCount(), 0);
  EXPECT_TRUE(ReadBytes(save / L"paced.rar") == Served("tokPaced"));
  EXPECT_GT(stepper.LongestRest(), 0u);
  EXPECT_LE(stepper.LongestRest(), rg_n1666::kLookPaceMs);
}

TEST_F(RealEngineTest, BackupsAroundCompletedAndFailedDownloads) {
  ServeFiles({{"fresh.rar", "tokFresh", "1", ""},
              {"replace.rar", "tokReplace", "1", ""},
              {"control.rar", "tokControl", "1", ""},
              {"interrupted.rar", "tokInterrupted", "1", ""},
              {"broken.rar", "tokBroken", "1", ""}},
             "\"stream\":{\"status\":404,\"token\":\"tokBroken\"}");
  ScratchFolder save(L"backups");
  WriteFileBytes(save / L"replace.rar", "old replace");
  WriteFileBytes(save / L"control.rar", "old control");
  WriteFileBytes(save / L"control.rar.aria2", "not a control file");
  WriteFileBytes(save / L"interrupted.rar", "partial");
  WriteFileBytes(save / L"interrupted.rar.aria2", "not a control file");
  WriteFileBytes(save / L"interrupted.rar.bak", "original");
  WriteFileBytes(save / L"broken.rar", "mine");

  rg_n1434 manager;
  Start(manager);
  for (const char* name : {"fresh.rar", "replace.rar", "control.rar", "interrupted.rar", "broken.rar"}) {
    manager.fileNames.Add(CWString(Wide(name)));
  }
  for (const char* token : {"tokFresh", "tokReplace", "tokControl", "tokInterrupted", "tokBroken"}) {
    manager.fileUrls.Add(CWString(StreamUrl(token)));
  }
  // One file fails, so the run does.
  EXPECT_EQ(manager.DownloadAll(CWString(save.Path())), 0);
  const struct {
    const wchar_t* name;
    const char* token;
  } completed[] = {{L"fresh.rar", "tokFresh"},
                   {L"replace.rar", "tokReplace"},
                   {L"control.rar", "tokControl"},
                   {L"interrupted.rar", "tokInterrupted"}};
  for (const auto& c : completed) {
    EXPECT_TRUE(ReadBytes(save / c.name) == Served(c.token)) << Utf8(c.name);
    EXPECT_FALSE(Exists(save / c.name + L".aria2")) << Utf8(c.name);
  }
  for (const wchar_t* name : {L"fresh.rar", L"replace.rar", L"control.rar"}) {
    EXPECT_FALSE(Exists(save / name + L".bak")) << Utf8(name);
  }
  // A name.bak the program did not make is the player's: it stays whatever the part did.
  EXPECT_EQ(ReadBytes(save / L"interrupted.rar.bak"), "original");
  EXPECT_EQ(ReadBytes(save / L"broken.rar"), "mine");
  EXPECT_FALSE(Exists(save / L"broken.rar.bak"));
}

TEST_F(RealEngineTest, WithAThrottledServerTheThirteenthAddWaitsForAnEnd) {
  std::vector<ServedFile> files;
  for (int i = 0; i < 13; ++i) {
    files.push_back({Numbered("slow", i, ".rar"), Numbered("tokSlow", i), "1", ",\"throttle_bps\":262144"});
  }
  ServeFiles(files);
  rg_n1434 manager;
  Start(manager);
  EventRecorder events;
  events.Listen(manager);
  ScratchFolder save(L"throttled");
  for (const ServedFile& f : files) {
    manager.fileNames.Add(CWString(Wide(f.name)));
    manager.fileUrls.Add(CWString(StreamUrl(f.token)));
  }
  EXPECT_EQ(manager.DownloadAll(CWString(save.Path())), 1);
  const auto recorded = events.Events();
  size_t firstFinished = recorded.size();
  size_t firstOfThirteenth = recorded.size();
  for (size_t i = 0; i < recorded.size(); ++i) {
    if (recorded[i].statusText == L"完毕" && firstFinished == recorded.size()) firstFinished = i;
    if (recorded[i].row == 12 && firstOfThirteenth == recorded.size()) firstOfThirteenth = i;
  }
  ASSERT_LT(firstFinished, recorded.size());
  ASSERT_LT(firstOfThirteenth, recorded.size());
  EXPECT_GT(firstOfThirteenth, firstFinished);
  // The same tokens serve the same bytes; unthrottled they are quick to fetch for comparing.
  for (ServedFile& f : files) f.extra.clear();
  ServeFiles(files);
  for (const ServedFile& f : files) EXPECT_TRUE(ReadBytes(save / Wide(f.name)) == Served(f.token)) << f.name;
}

TEST_F(RealEngineTest, ARunEndsAndFailsWhenTheEngineIsKilled) {
  std::vector<ServedFile> files;
  for (int i = 0; i < 3; ++i) {
    files.push_back({Numbered("k", i, ".rar"), Numbered("tokKill", i), "2", ",\"throttle_bps\":131072"});
  }
  ServeFiles(files);
  ScratchFolder save(L"killed");
  WriteFileBytes(save / L"k0.rar", "mine");
  rg_n1434 manager;
  Start(manager);
  EventRecorder events;
  events.Listen(manager);
  for (const ServedFile& f : files) {
    manager.fileNames.Add(CWString(Wide(f.name)));
    manager.fileUrls.Add(CWString(StreamUrl(f.token)));
  }
  std::atomic<bool> rowsSeen{false};
  std::thread killer([&] {
    // Killed after six row reports, or after a minute without them: the run must end.
    rowsSeen = PollUntil([&] { return events.Count(EventRecord::kRow) >= 6; }, 60000, PollMode::kSleep, 20);
    UniqueHandle engine = OpenEngine(PROCESS_TERMINATE | SYNCHRONIZE);
    if (engine) {
      TerminateProcess(engine.Get(), 1);
      WaitForSingleObject(engine.Get(), 10000);
    }
  });
  EXPECT_EQ(manager.DownloadAll(CWString(save.Path())), 0);
  killer.join();
  EXPECT_TRUE(rowsSeen.load()) << "six row reports never came";
  EXPECT_EQ(manager.engine.ready.load(), 0);
  // The engine went as a power cut would take it: what it wrote waits, named unfinished, for
  // the next run, and the player's file waits aside until k0 is whole.
  EXPECT_EQ(ReadBytes(save / L"k0.rar.bak"), "mine");
  const SaveFolder record(CWString(save.Path().c_str()));
  for (const ServedFile& f : files) {
    EXPECT_TRUE(record.Records(CWString(Wide(f.name)))) << f.name;
    EXPECT_NE(record.PlanFor(CWString(Wide(f.name)), CWString(Wide(f.token)), -1), SaveFolder::Plan::kSkip);
  }
  EXPECT_EQ(record.BackupOf(CWString(L"k0.rar")).ToStdString(), L"k0.rar.bak");
  size_t finished = 0;
  for (const EventRecord& e : events.Events()) finished += e.statusText == L"失败" ? 1 : 0;
  EXPECT_EQ(finished, 3u);
}

// The engine checks every stream's certificate. A stream without a secure channel ends its
// task with the engine's catch-all code 1 and a handshake message: a filter or a reset may
// pass, so the part is tried again like a refusal and, its tries used up, ends as a stalled
// part does: its bytes wait for the next run, the player's file under its recorded backup name. Wine's Schannel takes any certificate (measured: a stream
// under an authority nobody trusts arrives), so the refusal is played by a server that refuses
// every handshake: the engine meets that where on Windows it meets an untrusted certificate.
TEST_F(RealEngineTest, OverTlsAStreamArrivesAndOneWithoutASecureChannelIsTriedAgainThenFails) {
  ServeFiles({{"secure.rar", "tokSecure", "2", ""}, {"refused.rar", "tokRefused", "2", ""}});
  ScratchFolder save(L"tls");
  WriteFileBytes(save / L"refused.rar", "mine");
  rg_n1434 manager;
  Start(manager);
  EXPECT_EQ(GlobalOption(manager.engine, L"check-certificate"), L"true");
  EventRecorder events;
  events.Listen(manager);
  manager.fileNames.Add(CWString(L"secure.rar"));
  manager.fileUrls.Add(CWString(TlsStreamUrl("tokSecure")));
  EXPECT_EQ(manager.DownloadAll(CWString(save.Path())), 1);
  EXPECT_TRUE(ReadBytes(save / L"secure.rar") == Served("tokSecure"));
  EXPECT_EQ(TlsRefused(), 0);

  int status = 0;
  Http(L"http://127.0.0.1:" + std::to_wstring(EmulatorPort()) + L"/__control", "{\"tls_refuse\":true}", &status);
  ASSERT_EQ(status, 200);
  manager.fileNames.Add(CWString(L"refused.rar"));
  manager.fileUrls.Add(CWString(TlsStreamUrl("tokRefused")));
  manager.engine.retryPauseScale = 0;
  // An engine that retried for ever would hold the run: after a minute the server lets it
  // through, so such an engine completes the file and fails the test instead of hanging it.
  std::atomic<bool> ended{false};
  std::thread limit([&] {
    if (PollUntil([&] { return ended.load(); }, 60000, PollMode::kSleep, 50)) return;
    Http(L"http://127.0.0.1:" + std::to_wstring(EmulatorPort()) + L"/__control", "{\"tls_refuse\":false}");
  });
  const ULONGLONG began = GetTickCount64();
  EXPECT_EQ(manager.DownloadAll(CWString(save.Path())), 0);
  const ULONGLONG tookMs = GetTickCount64() - began;
  ended = true;
  limit.join();
  EXPECT_EQ(ReadBytes(save / L"refused.rar.bak"), "mine");
  EXPECT_EQ(SaveFolder(CWString(save.Path().c_str())).BackupOf(CWString(L"refused.rar")).ToStdString(),
            L"refused.rar.bak");
  std::wstring failure;
  for (const EventRecord& e : events.Events()) {
    if (e.row == 0 && !e.failureText.empty()) failure = e.failureText;
  }
  EXPECT_FALSE(failure.empty()) << "the failed file's row gave no reason";
  // A refused handshake for every try at least.
  const int refused = TlsRefused();
  EXPECT_GE(refused, 1 + kMaxRetries);
  std::printf(
      "figures: a stream without a secure channel failed after %llu ms and %d refused handshakes; row "
      "reason %s\n",
      static_cast<unsigned long long>(tookMs), refused, Utf8(failure).c_str());
}

}  // namespace
}  // namespace engine_test
