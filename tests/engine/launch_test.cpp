// Launching the engine, with a stand-in aria2c.exe that records its command line (built into
// a folder of its own, ../fake_engine beside the test program) and the fake engine answering
// getVersion where a test wants an engine to be ready.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/engine_ports.h"
#include "engine/engine_process.h"
#include "runtime/socket_handle.h"
#include "runtime/utils.h"
#include "test_support.h"

namespace engine_test {
namespace {

struct Launch {
  DWORD processId = 0;
  std::wstring commandLine;
};

std::wstring StandInFolder() { return ProgramFolder() + L"..\\fake_engine\\"; }

std::vector<Launch> Launches(const std::wstring& folder) {
  std::vector<Launch> launches;
  std::istringstream lines(ReadBytes(folder + L"launches.txt"));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    launches.push_back({static_cast<DWORD>(std::stoul(line.substr(0, tab))), Wide(line.substr(tab + 1))});
  }
  return launches;
}

// The fake engine answers on port too. An engine of an earlier test may still be shutting
// down on that port (its shutdown answer comes before it lets go of the port): wait for it.
void ListenOn(int port) {
  int status = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    Http(L"http://127.0.0.1:" + std::to_wstring(FakeEnginePort()) + L"/__listen",
         "{\"port\":" + std::to_string(port) + "}", &status);
    if (status != 409) break;
    WaitWithMessages(100);
  }
  ASSERT_EQ(status, 200) << port;
}

bool Running(DWORD processId) {
  UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
  return process && WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

// The full path of a folder given with ".." parts, ending with a backslash.
std::wstring FullFolder(const std::wstring& folder) {
  wchar_t full[MAX_PATH] = {};
  GetFullPathNameW(folder.c_str(), MAX_PATH, full, nullptr);
  std::wstring path = full;
  if (path.back() != L'\\') path += L'\\';
  return path;
}

std::wstring ExpectedCommandLine(const std::wstring& dir, int rpc, int listen, int dht, const std::wstring& address,
                                 const std::wstring& secret = kTestSecret) {
  std::wstring dhtDir = dir;
  for (wchar_t& c : dhtDir) {
    if (c == L'\\') c = L'/';
  }
  return L"\"" + dir + L"aria2c.exe\" --conf-path=\"" + dir + L"aria2.conf\" #--save-session=\"" + dir +
         L"aria2.session\" --input-file=\"" + dir + L"aria2.session\" --rpc-listen-port=" + std::to_wstring(rpc) +
         L" --listen-port=" + std::to_wstring(listen) + L" --dht-listen-port=" + std::to_wstring(dht) +
         L" --enable-rpc=true --rpc-allow-origin-all=false --disable-ipv6=false --rpc-secret=" + secret +
         L" --enable-dht=true --enable-dht6=true --dht-file-path=\"" + dhtDir + L"dht.dat\" --dht-file-path6=\"" +
         dhtDir + L"dht6.dat\" --bt-external-ip=" + address + L" --stop-with-process=" +
         std::to_wstring(GetCurrentProcessId());
}

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EndAllEngines();
    folder_ = FullFolder(StandInFolder());
    DeleteFileW((folder_ + L"launches.txt").c_str());
    DeleteFileW((folder_ + L"consoles.txt").c_str());
    FakeEngine(L"/__script", R"({"ip":"203.0.113.7"})");
  }
  void TearDown() override {
    for (int port : {7022, 7023, 7024}) FakeEngine(L"/__unlisten", "{\"port\":" + std::to_string(port) + "}");
    EndAllEngines();
  }

  // Settings as Start makes them for the stand-in's folder.
  rg_n2038 Settings() const {
    rg_n2038 settings;
    settings.engineDir = CWString(folder_);
    settings.secret = CWString(kTestSecret);
    return settings;
  }

  // The stand-in does not listen: the fake engine answers on its ports, which are therefore
  // neither free nor listened on by the started process.
  static void LetTheFakeAnswerForTheStandIn(rg_n1666& engine) {
    engine.portChecks = {[](int32_t, int32_t, int32_t) { return true; }, [](int32_t, DWORD) { return true; }};
  }

  void UseFakeAddressPage(rg_n1666& engine) {
    engine.publicAddressUrl = CWString(L"http://127.0.0.1:" + std::to_wstring(FakeEnginePort()) + L"/ipecho");
  }

  std::wstring folder_;
};

TEST_F(LaunchTest, ThreeAttemptsOnShiftedPortsWithTheFullCommandLine) {
  rg_n1666 engine;
  UseFakeAddressPage(engine);
  // Long enough for each stand-in to start and record itself before the next attempt ends it.
  engine.readyTimeoutSeconds = 3;
  engine.rpcPortNumber = 7022;
  engine.listenPortNumber = 7055;
  engine.dhtPortNumber = 7033;
  engine.RunLaunch(Settings());
  EXPECT_EQ(engine.ready.load(), 0);
  EXPECT_EQ(engine.launchResult.load(), 0);
  const auto launches = Launches(folder_);
  ASSERT_EQ(launches.size(), 3u);
  EXPECT_EQ(launches[0].commandLine, ExpectedCommandLine(folder_, 7022, 7055, 7033, L"203.0.113.7"));
  EXPECT_EQ(launches[1].commandLine, ExpectedCommandLine(folder_, 7023, 7056, 7034, L"203.0.113.7"));
  EXPECT_EQ(launches[2].commandLine, ExpectedCommandLine(folder_, 7024, 7057, 7035, L"203.0.113.7"));
  EXPECT_EQ(engine.RpcPort().ToStdString(), L"7024");
  // An attempt that never became ready leaves no engine behind.
  for (const Launch& launch : launches) EXPECT_FALSE(Running(launch.processId));
}

TEST_F(LaunchTest, OnlyTheDhtPathsUseForwardSlashes) {
  const std::wstring line = rg_n1666::EngineCommandLine(CWString(L"C:\\Games\\"), CWString(L"7022"), CWString(L"7055"),
                                                        CWString(L"7033"), CWString(kTestSecret), CWString(L""), 1234)
                                .ToStdString();
  EXPECT_NE(line.find(L"--dht-file-path=\"C:/Games/dht.dat\""), std::wstring::npos);
  EXPECT_NE(line.find(L"--dht-file-path6=\"C:/Games/dht6.dat\""), std::wstring::npos);
  EXPECT_NE(line.find(L"\"C:\\Games\\aria2c.exe\" --conf-path=\"C:\\Games\\aria2.conf\""), std::wstring::npos);
  EXPECT_NE(line.find(L"#--save-session=\"C:\\Games\\aria2.session\" --input-file=\"C:\\Games\\aria2.session\""),
            std::wstring::npos);
  EXPECT_NE(line.find(L"--bt-external-ip= --stop-with-process=1234"), std::wstring::npos);
  EXPECT_EQ(line.substr(line.size() - 25), L" --stop-with-process=1234");
}

TEST_F(LaunchTest, AnEngineAnsweringOnTheSecondPortIsReady) {
  ListenOn(7023);
  rg_n1666 engine;
  UseFakeAddressPage(engine);
  LetTheFakeAnswerForTheStandIn(engine);
  engine.readyTimeoutSeconds = 3;
  engine.rpcPortNumber = 7022;
  engine.listenPortNumber = 7055;
  engine.dhtPortNumber = 7033;
  engine.RunLaunch(Settings());
  EXPECT_EQ(engine.ready.load(), 1);
  EXPECT_EQ(engine.launchResult.load(), 1);
  EXPECT_EQ(engine.RpcPort().ToStdString(), L"7023");
  // The stand-in records itself once it runs, which may be after the fake answered.
  EXPECT_TRUE(WaitFor([&] { return Launches(folder_).size() == 2; }));
  size_t versionQueries = 0;
  for (const RpcRecord& r : FakeLog()) {
    if (r.method == "aria2.getVersion") {
      EXPECT_EQ(r.port, 7023);
      ++versionQueries;
    }
  }
  EXPECT_GE(versionQueries, 1u);
}

TEST_F(LaunchTest, StartPreparesAFolderGivenWithoutSeparator) {
  ListenOn(7022);
  const std::wstring folder = folder_.substr(0, folder_.size() - 1);
  WriteFileBytes(folder_ + L"aria2.session", "http://old/download\n");
  {
    rg_n1434 manager;
    UseFakeAddressPage(manager.engine);
    LetTheFakeAnswerForTheStandIn(manager.engine);
    EXPECT_NE(manager.StartEngine(CWString(folder)), 0);
    EXPECT_EQ(manager.engine.readyTimeoutSeconds, 12);
    EXPECT_EQ(ReadBytes(folder_ + L"aria2.session"), "");
    EXPECT_TRUE(WaitFor([&] { return Launches(folder_).size() == 1; }));
    const auto launches = Launches(folder_);
    ASSERT_EQ(launches.size(), 1u);
    // The secret drawn for this start, on the command line and nowhere else.
    const std::wstring secret = manager.engine.RpcSecret().ToStdString();
    EXPECT_EQ(launches[0].commandLine, ExpectedCommandLine(folder_, 7022, 7055, 7033, L"203.0.113.7", secret));
  }
  const auto log = FakeLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[0].method, "aria2.getVersion");
  EXPECT_EQ(CountMethod(log, "aria2.changeGlobalOption"), 1u);
  // Destroying the manager shuts the engine down.
  EXPECT_EQ(log.back().method, "aria2.shutdown");
}

TEST_F(LaunchTest, AFolderWithoutSettingsFileStartsNothing) {
  ScratchFolder scratch(L"noconf");
  ASSERT_TRUE(CopyFileW((folder_ + L"aria2c.exe").c_str(), (scratch / L"aria2c.exe").c_str(), FALSE));
  rg_n1666 engine;
  EXPECT_EQ(engine.Start(CWString(scratch.Path()), CWString(L"Transmission/3.00"), CWString(L"-TR3000-")), 0);
  EXPECT_TRUE(Exists(scratch / L"aria2.session"));
  EXPECT_TRUE(Launches(scratch.Path()).empty());
  EXPECT_EQ(FindProcessId(L"aria2c.exe"), 0);
}

UniqueHandle StartStandIn(std::wstring program) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  std::wstring commandLine = L"\"" + program + L"\"";
  EXPECT_TRUE(
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created))
      << GetLastError();
  UniqueHandle thread(created.hThread);
  return UniqueHandle(created.hProcess);
}

TEST_F(LaunchTest, OnlyALeftoverEngineOfOurOwnFolderIsEnded) {
  ScratchFolder scratch(L"foreign");
  ASSERT_TRUE(CopyFileW((folder_ + L"aria2c.exe").c_str(), (scratch / L"aria2c.exe").c_str(), FALSE));
  // Our own leftover, named in other letters' case; another program's engine elsewhere.
  std::wstring upperFolder = folder_;
  for (wchar_t& c : upperFolder) c = static_cast<wchar_t>(towupper(c));
  UniqueHandle ours = StartStandIn(upperFolder + L"ARIA2C.EXE");
  UniqueHandle theirs = StartStandIn(scratch / L"aria2c.exe");
  ASSERT_TRUE(ours && theirs);
  ASSERT_TRUE(WaitFor([&] { return Launches(folder_).size() == 1 && Launches(scratch.Path()).size() == 1; }));

  ListenOn(7022);
  rg_n1666 engine;
  UseFakeAddressPage(engine);
  LetTheFakeAnswerForTheStandIn(engine);
  engine.readyTimeoutSeconds = 1;
  EXPECT_EQ(engine.LaunchEngine(CWString(folder_), CWString(L"7022"), CWString(L"7055"), CWString(L"7033"),
                                CWString(kTestSecret), 0),
            1);
  EXPECT_EQ(WaitForSingleObject(ours.Get(), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(theirs.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "another program's engine ended";
  EXPECT_TRUE(WaitFor([&] { return Launches(folder_).size() == 2; }));
  const auto launches = Launches(folder_);
  ASSERT_EQ(launches.size(), 2u);
  EXPECT_TRUE(Running(launches[1].processId));
  TerminateProcess(theirs.Get(), 0);
  WaitForSingleObject(theirs.Get(), 5000);
}

// The stand-in watches this test process, not the one that started it: only the job can end
// it with its starter.
TEST_F(LaunchTest, TheEngineHasNoConsoleAndEndsWithAKilledProgram) {
  std::wstring commandLine = L"\"" + ProgramFolder() + L"engine_starter.exe\" \"" + folder_ +
                             L"aria2c.exe\" --stop-with-process=" + std::to_wstring(GetCurrentProcessId());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  // Without a console, as the program has none: a console program it starts plainly would get
  // a console of its own.
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr, nullptr,
                             &startup, &created))
      << GetLastError();
  UniqueHandle starter(created.hProcess);
  UniqueHandle thread(created.hThread);
  std::vector<Launch> launches;
  ASSERT_TRUE(WaitFor([&] { return (launches = Launches(folder_)).size() == 1; }, 30000)) << "no engine started";
  UniqueHandle engine(OpenProcess(SYNCHRONIZE, FALSE, launches[0].processId));
  ASSERT_TRUE(engine);
  EXPECT_EQ(ReadBytes(folder_ + L"consoles.txt"), std::to_string(launches[0].processId) + "\t0\r\n");

  TerminateProcess(starter.Get(), 1);
  EXPECT_EQ(WaitForSingleObject(engine.Get(), 30000), WAIT_OBJECT_0) << "the engine outlived its program";
}

// A socket on any of the engine's ports keeps them from it, even one that would share its port
// (bound as the engine binds, with SO_REUSEADDR); the system's table lists the listener.
TEST_F(LaunchTest, APortInUseIsNotFreeAndTheTableListsItsListener) {
  constexpr int32_t kRpc = 7090, kListen = 7091, kDht = 7092;
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  EXPECT_TRUE(EnginePortsFree(kRpc, kListen, kDht));
  EXPECT_TRUE(TcpListenersOf(kRpc).empty());
  for (const int type : {SOCK_STREAM, SOCK_DGRAM}) {
    SCOPED_TRACE(type == SOCK_STREAM ? "a TCP listener on the RPC port" : "a UDP socket on the DHT port");
    UniqueSocket holder(socket(AF_INET, type, 0));
    ASSERT_TRUE(holder);
    BOOL reuse = TRUE;
    setsockopt(holder.Get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(type == SOCK_STREAM ? kRpc : kDht);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(holder.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    if (type == SOCK_STREAM) {
      ASSERT_EQ(listen(holder.Get(), 4), 0);
    }
    EXPECT_FALSE(EnginePortsFree(kRpc, kListen, kDht));
    // Windows names this process; Wine names none (0).
    const std::vector<DWORD> listeners = TcpListenersOf(kRpc);
    EXPECT_EQ(listeners.size(), type == SOCK_STREAM ? 1u : 0u);
    for (const DWORD owner : listeners) EXPECT_TRUE(owner == GetCurrentProcessId() || owner == 0) << owner;
  }
  EXPECT_TRUE(EnginePortsFree(kRpc, kListen, kDht));
  WSACleanup();
}

// The secret goes to the RPC port only when no other process listens there, as Windows names
// the listeners (a second listener shares a port on Windows; the table below stands for it).
TEST(ListenerTest, OnlyAPortNoOtherProcessListensOnIsOurEnginesOwn) {
  constexpr DWORD kEngine = 4100, kOther = 5200;
  const struct {
    std::vector<DWORD> owners;
    bool ours;
  } cases[] = {
      {{}, false}, {{kEngine}, true},    {{kEngine, kEngine}, true}, {{kOther}, false}, {{kEngine, kOther}, false},
      {{0}, true}, {{0, kOther}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OnlyListenerIs(c.owners, kEngine), c.ours) << ::testing::PrintToString(c.owners);
  }
}

TEST_F(LaunchTest, FindProcessIdIgnoresLetterCaseAndReportsNone) {
  EXPECT_EQ(FindProcessId(L"no-such-program.exe"), 0);
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring name = own;
  name = name.substr(name.find_last_of(L'\\') + 1);
  for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
  EXPECT_GT(FindProcessId(name.c_str()), 0);
}

}  // namespace
}  // namespace engine_test
