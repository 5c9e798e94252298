// The engine object and the download manager against the scripted fake engine: adding,
// backups, polling, the task table and whole runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "engine/engine_process.h"
#include "runtime/utils.h"
#include "test_support.h"
#include "waits.h"

namespace engine_test {
namespace {

constexpr const wchar_t* kUrl = L"http://127.0.0.1:9/file";

void Script(const std::string& json) { FakeEngine(L"/__script", json); }

// Sets what the fake answers from now on for the task added with that output name.
void SetTask(const std::string& out, const std::string& stepsJson) {
  FakeEngine(L"/__task", "{\"out\":\"" + out + "\",\"steps\":" + stepsJson + "}");
}

const char* const kComplete = R"([{"status":"complete","totalLength":"3","completedLength":"3"}])";
const char* const kActive = R"([{"status":"active","totalLength":"100","completedLength":"10","downloadSpeed":"5"}])";

std::wstring ValueIn(const std::wstring& body, const std::wstring& key) {
  const std::wstring marker = L"\"" + key + L"\": \"";
  const size_t start = body.find(marker);
  if (start == std::wstring::npos) return L"<none>";
  const size_t from = start + marker.size();
  return body.substr(from, body.find(L'"', from) - from);
}

std::wstring WithSlashes(std::wstring path) {
  if (!path.empty() && path.back() == L'\\') path.pop_back();
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  return path;
}

std::wstring DecodedDir(const std::wstring& jsonValue) {
  std::wstring out;
  for (size_t i = 0; i < jsonValue.size(); ++i) {
    if (jsonValue[i] == L'\\' && i + 1 < jsonValue.size() && jsonValue[i + 1] == L'/') continue;
    out.push_back(jsonValue[i]);
  }
  return out;
}

int FirstSeq(const std::vector<RpcRecord>& log, const std::string& method) {
  for (const RpcRecord& r : log) {
    if (r.method == method) return r.seq;
  }
  return 0;
}

class FakeEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { Script(R"({"steps":[{"status":"active"}]})"); }
};

TEST_F(FakeEngineTest, AddWithoutReadyEngineSendsNothing) {
  rg_n1666 engine;
  ScratchFolder folder(L"notready");
  EXPECT_EQ(
      engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0)
          .ToStdString(),
      kEngineNotReadyText);
  TaskTexts texts;
  EXPECT_EQ(engine.TellStatus(CWString(L"2089b05ecca3d800"), texts).ToStdString(), kEngineNotReadyText);
  EXPECT_TRUE(FakeLog().empty());
}

TEST_F(FakeEngineTest, EmptyNameDownloadsToTestRarInTheFolderInJsonForm) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  ScratchFolder folder(L"emptyname");
  const CWString id = engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(), CWString(),
                                    CWString(L"cookie:a=b"), CWString(), 4);
  EXPECT_EQ(id.ToStdString(), L"2089b05ecca3d800");
  const std::wstring body = FakeBody(FirstSeq(FakeLog(), "aria2.addUri"));
  EXPECT_NE(body.find(L"\"out\":\"test.rar\""), std::wstring::npos);
  const std::wstring dir = ValueIn(body, L"dir");
  EXPECT_EQ(DecodedDir(dir), WithSlashes(folder.Path()));
  EXPECT_NE(dir.back(), L'/');
  for (size_t i = 0; i < dir.size(); ++i) {
    if (dir[i] == L'\\') {
      EXPECT_EQ(dir[i + 1], L'/') << dir;
    }
  }
  EXPECT_EQ(ValueIn(body, L"header"), L"cookie:a=b");
  EXPECT_EQ(engine.RowOf(id), 4);
}

TEST_F(FakeEngineTest, EmptyFolderMeansTheDesktop) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  const std::wstring desktop = DesktopDirectory().ToStdString();
  ASSERT_FALSE(desktop.empty());
  engine.AddUri(CWString(kUrl), CWString(), CWString(L"bm-engine-test.rar"), CWString(), CWString(), CWString(), 0);
  const std::wstring body = FakeBody(FirstSeq(FakeLog(), "aria2.addUri"));
  EXPECT_EQ(DecodedDir(ValueIn(body, L"dir")), WithSlashes(desktop));
}

TEST_F(FakeEngineTest, AnAddressThatIsNotHttpSendsNothingAndReportsTheRow) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"ftp");
  EXPECT_TRUE(engine
                  .AddUri(CWString(L"ftp://host/a.rar"), CWString(folder.Path()), CWString(L"a.rar"), CWString(),
                          CWString(), CWString(), 7)
                  .IsEmpty());
  EXPECT_EQ(engine
                .AddUri(CWString(L"HTTPS://host/b.rar"), CWString(folder.Path()), CWString(L"b.rar"), CWString(),
                        CWString(), CWString(), 8)
                .ToStdString(),
            L"2089b05ecca3d800");
  const auto log = FakeLog();
  EXPECT_EQ(CountMethod(log, "aria2.addUri"), 1u);
  const auto recorded = events.Events();
  ASSERT_FALSE(recorded.empty());
  EXPECT_EQ(recorded[0].statusText, L"链接有误");
  EXPECT_EQ(recorded[0].failureText, L"网址有误");
  EXPECT_EQ(recorded[0].taskId, L"");
  EXPECT_EQ(recorded[0].row, 7);
  EXPECT_EQ(recorded[0].filePath, folder.Path() + L"a.rar");
}

// One row of the backup table: what the folder holds before the add (no record of ours), what
// the backups hold after the add, and what the folder holds after the task ended. A file
// beside a control file is an engine's partial; a name.bak we did not make is the player's.
struct BackupCase {
  const char* name;
  bool file, control, backup;
  bool complete;
  const char* bakAfterAdd;   // name.bak
  const char* bak1AfterAdd;  // name.bak1
  const char* fileAtEnd;
  const char* bakAtEnd;
};

class BackupTable : public FakeEngineTest, public ::testing::WithParamInterface<BackupCase> {};

TEST_P(BackupTable, FilesAroundOneDownload) {
  const BackupCase c = GetParam();
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"backup");
  const std::wstring path = folder / L"game.rar";
  if (c.file) WriteFileBytes(path, "old");
  if (c.control) WriteFileBytes(path + L".aria2", "control");
  if (c.backup) WriteFileBytes(path + L".bak", "original");

  ASSERT_FALSE(
      engine
          .AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"game.rar"), CWString(), CWString(), CWString(), 2)
          .IsEmpty());
  EXPECT_EQ(engine.lastAddFoundControlFile.load(), c.control ? 1 : 0);
  EXPECT_FALSE(Exists(path));
  EXPECT_FALSE(Exists(path + L".aria2"));
  EXPECT_EQ(ReadBytes(path + L".bak"), c.bakAfterAdd);
  EXPECT_EQ(ReadBytes(path + L".bak1"), c.bak1AfterAdd);

  WriteFileBytes(path, "new");  // what the engine writes
  SetTask("game.rar", c.complete ? kComplete : R"([{"status":"error","errorCode":"22"}])");
  ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
  EXPECT_EQ(ReadBytes(path), c.fileAtEnd);
  EXPECT_EQ(ReadBytes(path + L".bak"), c.bakAtEnd);
  EXPECT_FALSE(Exists(path + L".bak1"));
  if (!c.complete) {
    ASSERT_EQ(events.Count(EventRecord::kFinished), 1u);
    for (const EventRecord& e : events.Events()) {
      if (e.kind != EventRecord::kFinished) continue;
      EXPECT_EQ(e.failureText, c.control ? L"HTTP响应超时或响应错误|配置错误" : L"HTTP响应超时或响应错误");
    }
  }
}

constexpr const char* kNone = "<missing>";

INSTANTIATE_TEST_SUITE_P(
    Rows, BackupTable,
    ::testing::Values(
        BackupCase{"NothingCompletes", false, false, false, true, kNone, kNone, "new", kNone},
        BackupCase{"NothingFails", false, false, false, false, kNone, kNone, kNone, kNone},
        BackupCase{"FileCompletes", true, false, false, true, "old", kNone, "new", kNone},
        BackupCase{"FileFails", true, false, false, false, "old", kNone, "old", kNone},
        BackupCase{"FileAndOlderBackupCompletes", true, false, true, true, "original", "old", "new", "original"},
        BackupCase{"FileAndOlderBackupFails", true, false, true, false, "original", "old", "old", "original"},
        BackupCase{"FileAndControlCompletes", true, true, false, true, kNone, kNone, "new", kNone},
        BackupCase{"FileAndControlFails", true, true, false, false, kNone, kNone, kNone, kNone},
        BackupCase{"InterruptedRunCompletes", true, true, true, true, "original", kNone, "new", "original"},
        BackupCase{"InterruptedRunFails", true, true, true, false, "original", kNone, kNone, "original"}),
    [](const ::testing::TestParamInfo<BackupCase>& info) { return std::string(info.param.name); });

TEST_F(FakeEngineTest, ARefusedAddPutsTheOldFileBack) {
  Script(R"({"refuse":["aria2.addUri"]})");
  rg_n1666 engine;
  UseFakeEngine(engine);
  ScratchFolder folder(L"refused");
  WriteFileBytes(folder / L"a.rar", "old");
  EXPECT_TRUE(
      engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0)
          .IsEmpty());
  EXPECT_EQ(ReadBytes(folder / L"a.rar"), "old");
  EXPECT_FALSE(Exists(folder / L"a.rar.bak"));
  EXPECT_EQ(engine.PendingCount(), 0);
  EXPECT_EQ(engine.pollerRunning.load(), 0);
}

// Held by another program: nothing reaches the engine, and the part waits for its next try.
TEST_F(FakeEngineTest, AFileThatCannotBeMovedAsideIsNotHandedToTheEngine) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"locked");
  const std::wstring path = folder / L"a.rar";
  WriteFileBytes(path, "old");
  {
    UniqueHandle open(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(open);
    EXPECT_TRUE(
        engine
            .AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 3)
            .IsEmpty());
  }
  EXPECT_EQ(CountMethod(FakeLog(), "aria2.addUri"), 0u);
  EXPECT_EQ(ReadBytes(path), "old");
  ASSERT_EQ(events.Count(EventRecord::kStatus), 1u);
  EXPECT_EQ(events.Events()[0].row, 3);
  EXPECT_EQ(events.Events()[0].statusText, kWaitingRetryText);
  EXPECT_EQ(engine.WaitingRetries(), 1);
}

TEST_F(FakeEngineTest, ASecondAddWhileThePollerRunsPostsNoSecondPoller) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  ScratchFolder folder(L"onepoller");
  engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0);
  engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"b.rar"), CWString(), CWString(), CWString(), 1);
  EXPECT_EQ(engine.PendingCount(), 2);
  SetTask("a.rar", kComplete);
  SetTask("b.rar", kComplete);
  const auto info = engine.workerPool.Info();
  ASSERT_TRUE(info);
  // The poller clears its flag inside its task; the pool counts the task once it returned.
  ASSERT_TRUE(WaitFor([&] {
    return engine.PendingCount() == 0 && engine.pollerRunning == 0 && info->runningTasks.load() == 0 &&
           info->pendingTasks.load() == 0;
  }));
  EXPECT_EQ(info->completedTasks.load(), 1);
}

// Requests of method recorded after sequence number after.
size_t CountSince(const std::vector<RpcRecord>& log, const std::string& method, int after) {
  size_t n = 0;
  for (const RpcRecord& r : log) n += r.seq > after && r.method == method ? 1 : 0;
  return n;
}

int LastSeq(const std::vector<RpcRecord>& log) { return log.empty() ? 0 : log.back().seq; }

// However many parts are open, one look is one request; a poller with no part open sends none.
class LookTable : public FakeEngineTest, public ::testing::WithParamInterface<int> {};

TEST_P(LookTable, OneRequestPerLookAndNoneWithNoPartOpen) {
  const int parts = GetParam();
  rg_n1666 engine;
  UseFakeEngine(engine);
  LookStepper stepper(engine);
  ScratchFolder folder(L"looks");
  std::vector<std::string> ids;
  for (int i = 0; i < parts; ++i) {
    const CWString id = engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"p" + std::to_wstring(i)),
                                      CWString(), CWString(), CWString(), i);
    ASSERT_FALSE(id.IsEmpty());
    ids.push_back(Utf8(id.ToStdString()));
  }
  // The first look may have come before the last add.
  ASSERT_TRUE(stepper.WaitLooks(1));
  int before = LastSeq(FakeLog());
  stepper.Step();
  ASSERT_TRUE(stepper.WaitLooks(2));
  auto log = FakeLog();
  EXPECT_EQ(CountSince(log, "system.multicall", before), 1u);
  std::vector<std::string> asked;
  for (const RpcRecord& r : log) {
    if (r.seq > before && r.method == "aria2.tellStatus") asked.push_back(r.gid);
  }
  std::sort(asked.begin(), asked.end());
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(asked, ids);

  for (int i = 0; i < parts; ++i) SetTask(Utf8(L"p" + std::to_wstring(i)), kComplete);
  before = LastSeq(FakeLog());
  stepper.Step();
  ASSERT_TRUE(stepper.WaitLooks(3));
  log = FakeLog();
  EXPECT_EQ(CountSince(log, "system.multicall", before), 1u);
  EXPECT_EQ(CountSince(log, "aria2.tellStatus", before), static_cast<size_t>(parts));
  EXPECT_EQ(engine.PendingCount(), 0);
  EXPECT_EQ(engine.CompletedTaskCount(), parts);

  before = LastSeq(log);
  stepper.Step();
  ASSERT_TRUE(WaitFor([&] { return engine.pollerRunning == 0; }));
  EXPECT_EQ(LastSeq(FakeLog()), before) << "the poller asked with no part open";
}

INSTANTIATE_TEST_SUITE_P(Parts, LookTable, ::testing::Values(1, 12, 120));

// A look's rest: the pace from when it began, shortened so that the next look reaches the
// engine just after the soonest expected end of an open part, never below the early bound.
TEST(LookPace, TheRestFollowsTheSoonestExpectedEnd) {
  const uint32_t pace = rg_n1666::kLookPaceMs, margin = rg_n1666::kLookEndMarginMs, early = rg_n1666::kLookEarlyMs;
  const struct {
    uint64_t spent;
    int64_t untilEnd;
    uint32_t rest;
  } cases[] = {{0, -1, pace},
               {30, -1, pace - 30},
               {pace - 5, -1, rg_n1666::kLookRestMs},
               {0, 30, 30 + margin},
               {0, 0, early},
               {50, 40, early},
               {0, pace, pace},
               {20, 30, 30 + margin - 20},
               {44, 10, early},
               {pace - 20, 30, 20}};
  for (const auto& c : cases)
    EXPECT_EQ(rg_n1666::NextLookRest(c.spent, c.untilEnd), c.rest) << c.spent << ", " << c.untilEnd;

  const auto ends = [](const wchar_t* status, int64_t total, int64_t done, int64_t speed) {
    TaskTexts texts;
    texts.statusText = status;
    texts.totalBytes = total;
    texts.completedBytes = done;
    texts.bytesPerSecond = speed;
    return rg_n1666::ExpectedEndMs(texts);
  };
  EXPECT_EQ(ends(L"下载", 2000, 1000, 10000), 100);
  EXPECT_EQ(ends(L"下载", 2000, 2000, 10000), 0);
  EXPECT_EQ(ends(L"下载", int64_t{1} << 40, 0, 1), 1000) << "a far end is just later than a pace";
  EXPECT_EQ(ends(L"下载", 2000, 1000, 0), -1);
  EXPECT_EQ(ends(L"下载", -1, 1000, 10000), -1);
  EXPECT_EQ(ends(L"校验中", 2000, 2000, 0), -1);
  EXPECT_EQ(ends(L"完成", 2000, 2000, 10000), -1);
}

TEST_F(FakeEngineTest, APartAboutToEndIsLookedAtBeforeThePace) {
  // 10 KB left at 1 MB/s: due in 10 ms.
  Script(R"({"steps":[{"status":"active","totalLength":"1000000","completedLength":"990000",)"
         R"("downloadSpeed":"1000000"}]})");
  rg_n1666 engine;
  UseFakeEngine(engine);
  LookStepper stepper(engine);
  ScratchFolder folder(L"early");
  ASSERT_FALSE(
      engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"near"), CWString(), CWString(), CWString(), 0)
          .IsEmpty());
  ASSERT_TRUE(stepper.WaitLooks(1));
  stepper.Step();
  ASSERT_TRUE(stepper.WaitLooks(2));
  // The early bound, or less when a look itself took most of the pace on a busy machine.
  EXPECT_GT(stepper.LongestRest(), 0u);
  EXPECT_LE(stepper.LongestRest(), rg_n1666::kLookEarlyMs);
}

TEST_F(FakeEngineTest, TheNewerTaskIsFinishedFirstWhileTheOlderIsStillPolled) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"newer");
  Script(std::string(R"({"steps_by_out":{"new.rar":)") + kComplete + R"(},"steps":[{"status":"active"}]})");
  const std::wstring older =
      engine
          .AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"old.rar"), CWString(), CWString(), CWString(), 0)
          .ToStdString();
  const std::wstring newer =
      engine
          .AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"new.rar"), CWString(), CWString(), CWString(), 1)
          .ToStdString();
  ASSERT_TRUE(WaitFor([&] { return events.Count(EventRecord::kFinished) == 1 && engine.PendingCount() == 1; }));
  // The older task is still asked for after the newer one ended.
  const size_t seen = CountMethod(FakeLog(), "aria2.tellStatus");
  ASSERT_TRUE(WaitFor([&] { return CountMethod(FakeLog(), "aria2.tellStatus") >= seen + 4; }));
  SetTask("old.rar", kComplete);
  ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
  std::vector<std::wstring> finished;
  for (const EventRecord& e : events.Events()) {
    if (e.kind == EventRecord::kFinished) finished.push_back(e.taskId);
  }
  EXPECT_EQ(finished, (std::vector<std::wstring>{newer, older}));
  for (const EventRecord& e : events.Events()) {
    if (e.taskId == newer) {
      EXPECT_EQ(e.row, 1);
    }
  }
}

TEST_F(FakeEngineTest, DiskFullFailsAtOnceAndPutsTheOldFileBack) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"diskfull");
  WriteFileBytes(folder / L"a.rar", "old");
  Script(R"({"steps":[{"status":"error","errorCode":"9","totalLength":"1000","completedLength":"10"}]})");
  engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 5);
  WriteFileBytes(folder / L"a.rar", "partial");
  ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
  EXPECT_EQ(ReadBytes(folder / L"a.rar"), "old");
  EXPECT_FALSE(Exists(folder / L"a.rar.bak"));
  const auto recorded = events.Events();
  ASSERT_EQ(events.Count(EventRecord::kFinished), 1u);
  // Reported, reported again with speed "0", then finished.
  ASSERT_EQ(recorded.size(), 3u);
  EXPECT_EQ(recorded[0].failureText, L"磁盘空间不足");
  EXPECT_EQ(recorded[0].statusText, L"error");
  EXPECT_EQ(recorded[0].sizeText, L"1000Byte");
  EXPECT_EQ(recorded[0].percentText, L"1%");
  EXPECT_EQ(recorded[1].speedText, L"0");
  EXPECT_EQ(recorded[2].kind, EventRecord::kFinished);
  EXPECT_EQ(recorded[2].failureText, L"磁盘空间不足");
  EXPECT_EQ(recorded[2].row, 5);
}

TEST_F(FakeEngineTest, AFailedTaskTakesItsControlFileAlongWithItsPartialFile) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  ScratchFolder folder(L"failedcontrol");
  WriteFileBytes(folder / L"a.rar", "old");
  Script(std::string(R"({"steps":)") + kActive + "}");
  engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0);
  // What the engine leaves of a download that stopped part way.
  WriteFileBytes(folder / L"a.rar", "partial");
  WriteFileBytes(folder / L"a.rar.aria2", "control of the partial file");
  // Not found: a failure that will not pass.
  SetTask("a.rar", R"([{"status":"error","errorCode":"3","totalLength":"100","completedLength":"10"}])");
  ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
  EXPECT_EQ(ReadBytes(folder / L"a.rar"), "old");
  EXPECT_FALSE(Exists(folder / L"a.rar.bak"));
  EXPECT_FALSE(Exists(folder / L"a.rar.aria2"));
}

TEST_F(FakeEngineTest, AnErrorCodeWithoutDescriptionStillEndsTheTask) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"code0");
  Script(R"({"steps":[{"status":"error","errorCode":"0"}]})");
  engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0);
  ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
  ASSERT_EQ(events.Count(EventRecord::kFinished), 1u);
  for (const EventRecord& e : events.Events()) {
    EXPECT_GE(e.failureText.size(), 3u);
    EXPECT_NE(e.failureText.find(L"0"), std::wstring::npos);
  }
}

TEST_F(FakeEngineTest, AFailedQueryDoesNotLendItsTextsToAnotherTask) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"badquery");
  Script(std::string(R"({"steps_by_out":{"bad.rar":[{"raw":"<html>502 Bad Gateway</html>"}]},"steps":)") + kActive +
         "}");
  const std::wstring good =
      engine
          .AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"good.rar"), CWString(), CWString(), CWString(), 0)
          .ToStdString();
  const std::wstring bad =
      engine
          .AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"bad.rar"), CWString(), CWString(), CWString(), 1)
          .ToStdString();
  ASSERT_TRUE(WaitFor([&] { return events.Count(EventRecord::kStatus) >= 8; }));
  for (const EventRecord& e : events.Events()) {
    if (e.taskId == bad) {
      EXPECT_EQ(e.sizeText + e.completedText + e.speedText + e.percentText + e.statusText + e.remainingText +
                    e.failureText + e.filePath,
                L"");
    } else {
      EXPECT_EQ(e.taskId, good);
      EXPECT_EQ(e.sizeText, L"100Byte");
      EXPECT_EQ(e.percentText, L"10%");
      EXPECT_EQ(e.speedText, L"5Byte/S");
      EXPECT_EQ(e.remainingText, L"0:0:18");
      EXPECT_EQ(e.statusText, L"下载");
      EXPECT_EQ(e.filePath, WithSlashes(folder.Path()) + L"/good.rar");
    }
  }
  EXPECT_EQ(engine.PendingCount(), 2);
}

TEST_F(FakeEngineTest, AWaitingTaskIsPolledUntilItEnds) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  ScratchFolder folder(L"waiting");
  // Several passes see only "waiting" (no task downloading) before the task completes.
  Script(std::string(R"({"steps":[{"status":"waiting","times":12},)") + (kComplete + 1) + "}");
  manager.fileNames.Add(L"a.rar");
  manager.fileUrls.Add(kUrl);
  EXPECT_EQ(manager.DownloadAll(CWString(folder.Path())), 1);
  EXPECT_EQ(manager.engine.PendingCount(), 0);
  EXPECT_EQ(CountMethod(FakeLog(), "aria2.addUri"), 1u);
}

// The engine knows nothing of the player's proxy settings: a run hands it the proxy they
// name for the files' address before the first file.
TEST_F(FakeEngineTest, ARunHandsTheEngineThePlayersProxyBeforeItsFiles) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  ScratchFolder folder(L"proxy");
  Script(std::string(R"({"steps":)") + kComplete + "}");
  std::wstring asked;
  manager.proxyFor = [&](const CWString& url) {
    asked = url.ToStdString();
    return CWString(L"proxy.corp:8080");
  };
  manager.fileNames.Add(L"a.rar");
  manager.fileUrls.Add(kUrl);
  EXPECT_EQ(manager.DownloadAll(CWString(folder.Path())), 1);
  EXPECT_EQ(asked, kUrl);
  const auto log = FakeLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0].method, "aria2.changeGlobalOption");
  EXPECT_NE(FakeBody(log[0].seq).find(L"\"all-proxy\":\"proxy.corp:8080\""), std::wstring::npos);
  EXPECT_EQ(log[1].method, "aria2.addUri");
}

TEST_F(FakeEngineTest, RowOfAnUnknownTaskIsZero) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  ScratchFolder folder(L"rowof");
  const CWString id =
      engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 9);
  EXPECT_EQ(engine.RowOf(id), 9);
  EXPECT_EQ(engine.RowOf(CWString(L"ffffffffffffffff")), 0);
  EXPECT_EQ(engine.RowOf(CWString(L"2089B05ECCA3D800")), 0);
}

TEST_F(FakeEngineTest, FollowedByNamesTheTaskThatIsReported) {
  Script(R"({"extra_tasks":{"aaaaaaaaaaaaaaaa":[{"status":"complete","followedBy":"bbbbbbbbbbbbbbbb"}],
             "bbbbbbbbbbbbbbbb":[{"status":"active","totalLength":"2048","completedLength":"1024"}]}})");
  rg_n1666 engine;
  UseFakeEngine(engine);
  TaskTexts texts;
  EXPECT_EQ(engine.TellStatus(CWString(L"aaaaaaaaaaaaaaaa"), texts).ToStdString(), L"bbbbbbbbbbbbbbbb");
  EXPECT_EQ(texts.statusText.ToStdString(), L"下载");
  EXPECT_EQ(texts.sizeText.ToStdString(), L"2KB");
  EXPECT_EQ(texts.percentText.ToStdString(), L"50%");
  const auto log = FakeLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].gid, "aaaaaaaaaaaaaaaa");
  EXPECT_EQ(log[1].gid, "bbbbbbbbbbbbbbbb");
}

TEST_F(FakeEngineTest, RemovedOrForgottenTasksEndAsFailures) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"removed");
  WriteFileBytes(folder / L"b.rar", "old");
  Script(R"({"steps_by_out":{"a.rar":[{"status":"removed"}]},"steps":[{"status":"active"}]})");
  engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0);
  engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"b.rar"), CWString(), CWString(), CWString(), 1);
  ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 1; }));
  WriteFileBytes(folder / L"b.rar", "ours");
  // The engine forgets every task: queries answer "not found". That says nothing about the
  // file: what the part wrote stays for the next run, and the player's file stays aside.
  Script("{}");
  ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
  EXPECT_EQ(ReadBytes(folder / L"b.rar"), "ours");
  EXPECT_EQ(ReadBytes(folder / L"b.rar.bak"), "old");
  std::vector<std::wstring> failures;
  for (const EventRecord& e : events.Events()) {
    if (e.kind == EventRecord::kFinished) failures.push_back(e.failureText);
  }
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_EQ(failures[0], L"任务已被移除");
  EXPECT_EQ(failures[1], L"下载器中没有该任务");
  EXPECT_EQ(engine.CompletedTaskCount(), 0);
}

TEST_F(FakeEngineTest, ShutdownEmptiesTheTableAndMarksTheEngineNotReady) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  ScratchFolder folder(L"shutdown");
  engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0);
  EXPECT_EQ(engine.PendingCount(), 1);
  engine.Shutdown();
  EXPECT_EQ(engine.PendingCount(), 0);
  EXPECT_EQ(engine.ready.load(), 0);
  EXPECT_EQ(engine.taskIds.Count(), 0);
  EXPECT_EQ(CountMethod(FakeLog(), "aria2.shutdown"), 1u);
  ASSERT_TRUE(WaitFor([&] { return engine.pollerRunning == 0; }));
}

TEST_F(FakeEngineTest, MaxConcurrentGoesOnlyToAReadyEngine) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  engine.ready = 0;
  engine.SetMaxConcurrent();
  EXPECT_TRUE(FakeLog().empty());
  engine.ready = 1;
  engine.SetMaxConcurrent();
  const auto log = FakeLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].method, "aria2.changeGlobalOption");
  EXPECT_NE(FakeBody(log[0].seq).find(L"\"max-concurrent-downloads\":\"99\""), std::wstring::npos);
}

TEST_F(FakeEngineTest, DestroyingTheEngineWhileItPollsEndsThePollerAndTheEngine) {
  ScratchFolder folder(L"destroy");
  {
    rg_n1666 engine;
    UseFakeEngine(engine);
    engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0);
    ASSERT_TRUE(WaitFor([&] { return CountMethod(FakeLog(), "aria2.tellStatus") >= 4; }));
  }
  const auto log = FakeLog();
  EXPECT_EQ(CountMethod(log, "aria2.shutdown"), 1u);
  // Nothing is asked after the shutdown.
  EXPECT_EQ(log.back().method, "aria2.shutdown");
}

// -- Whole runs ---------------------------------------------------------------------------

TEST_F(FakeEngineTest, ARunWhereEveryFileCompletesSucceedsAndFinishesEveryRow) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  EventRecorder events;
  events.Listen(manager);
  ScratchFolder scratch(L"complete");
  const std::wstring save = scratch.Path() + L"deeper\\Brinemarch";
  Script(std::string(R"({"steps":[{"status":"active","totalLength":"4096","completedLength":"1024",)"
                     R"("downloadSpeed":"1024","times":4},)") +
         (kComplete + 1) + "}");
  for (const wchar_t* name : {L"Brinemarch.part1.exe", L"Brinemarch.part2.rar", L"Brinemarch.part3.rar"}) {
    manager.fileNames.Add(name);
    manager.fileUrls.Add(kUrl);
  }
  EXPECT_EQ(manager.DownloadAll(CWString(save)), 1);
  EXPECT_TRUE(Exists(save));
  EXPECT_EQ(manager.fileNames.Count(), 0);
  EXPECT_EQ(manager.fileUrls.Count(), 0);
  // The last update of every row says it is finished.
  for (int row = 0; row < 3; ++row) {
    EventRecord last;
    bool sawProgress = false;
    for (const EventRecord& e : events.Events()) {
      if (e.row != row) continue;
      last = e;
      if (e.statusText == L"下载") {
        sawProgress = true;
        EXPECT_EQ(e.percentText, L"25%");
        EXPECT_EQ(e.speedText, L"1KB/S");
        EXPECT_EQ(e.remainingText, L"0:0:3");
      }
    }
    EXPECT_TRUE(sawProgress) << row;
    EXPECT_EQ(last.statusText, L"完毕") << row;
    EXPECT_EQ(last.speedText, L"0Byte/S");
    EXPECT_EQ(last.remainingText, L"0");
    EXPECT_EQ(last.percentText, L"100%");
  }
}

TEST_F(FakeEngineTest, NothingListedFailsWithoutCreatingTheFolder) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  ScratchFolder scratch(L"nothing");
  EXPECT_EQ(manager.DownloadAll(CWString(scratch.Path() + L"Brinemarch")), 0);
  EXPECT_FALSE(Exists(scratch.Path() + L"Brinemarch"));
  EXPECT_TRUE(FakeLog().empty());
}

TEST_F(FakeEngineTest, ARunWithoutReadyEngineFails) {
  rg_n1434 manager;
  ScratchFolder scratch(L"noengine");
  manager.fileNames.Add(L"a.rar");
  manager.fileUrls.Add(kUrl);
  EXPECT_EQ(manager.DownloadAll(CWString(scratch.Path() + L"Brinemarch")), 0);
}

TEST_F(FakeEngineTest, ARunWithAFailedFileFails) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  ScratchFolder scratch(L"onefails");
  Script(std::string(R"({"steps_by_out":{"b.rar":[{"status":"error","errorCode":"3"}]},"steps":)") + kComplete + "}");
  for (const wchar_t* name : {L"a.rar", L"b.rar", L"c.rar"}) {
    manager.fileNames.Add(name);
    manager.fileUrls.Add(kUrl);
  }
  EXPECT_EQ(manager.DownloadAll(CWString(scratch.Path())), 0);
  EXPECT_EQ(manager.engine.PendingCount(), 0);
  // Every request of the run is signed with the engine's secret, and only with it.
  const std::wstring token = L"\"token:" + std::wstring(kTestSecret) + L"\"";
  const auto log = FakeLog();
  ASSERT_GE(log.size(), 6u);
  for (const RpcRecord& record : log) {
    const std::wstring body = FakeBody(record.seq);
    EXPECT_NE(body.find(token), std::wstring::npos) << record.method;
    EXPECT_EQ(body.find(L"572"), std::wstring::npos) << record.method;
  }
}

// While the engine hashes a part (its bytes checked against the publisher's SHA-256, or a file
// found in place), the row says so instead of 下载 or 开始中.
TEST_F(FakeEngineTest, APartTheEngineChecksReadsVerifyingUntilItEnds) {
  rg_n1666 engine;
  UseFakeEngine(engine);
  EventRecorder events;
  events.Listen(engine);
  ScratchFolder folder(L"verifying");
  Script(R"({"steps":[{"status":"active","totalLength":"3","completedLength":"3","verifiedLength":"1","times":2},)"
         R"({"status":"waiting","verifyIntegrityPending":"true","times":2},)"
         R"({"status":"complete","totalLength":"3","completedLength":"3"}]})");
  ASSERT_FALSE(
      engine.AddUri(CWString(kUrl), CWString(folder.Path()), CWString(L"a.rar"), CWString(), CWString(), CWString(), 0)
          .IsEmpty());
  ASSERT_TRUE(WaitFor([&] { return engine.PendingCount() == 0; }));
  std::vector<std::wstring> states;
  for (const EventRecord& e : events.Events()) {
    if (states.empty() || states.back() != e.statusText) states.push_back(e.statusText);
  }
  ASSERT_GE(states.size(), 2u);
  EXPECT_EQ(states.front(), L"校验中");
  EXPECT_EQ(states.back(), L"完成");
}

TEST_F(FakeEngineTest, ARunWithARefusedAddressFails) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  ScratchFolder scratch(L"ftprun");
  Script(std::string(R"({"steps":)") + kComplete + "}");
  manager.fileNames.Add(L"a.rar", L"b.rar");
  manager.fileUrls.Add(kUrl, L"ftp://host/b.rar");
  EXPECT_EQ(manager.DownloadAll(CWString(scratch.Path())), 0);
}

TEST_F(FakeEngineTest, AFileAlreadyInTheSaveFolderIsKeptUntilItsDownloadCompletes) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  EventRecorder events;
  events.Listen(manager);
  ScratchFolder scratch(L"keep");
  WriteFileBytes(scratch / L"a.rar", "mine");
  // A network problem every time: tried again (without the pauses here) until the tries are
  // used up, then stopped as a stalled part is: the player's file stays aside for the next run.
  Script(R"({"steps":[{"status":"error","errorCode":"6"}]})");
  manager.engine.retryPauseScale = 0;
  manager.fileNames.Add(L"a.rar");
  manager.fileUrls.Add(kUrl);
  // A folder text ending with a separator names the file inside it: it is backed up, not deleted.
  EXPECT_EQ(manager.DownloadAll(CWString(scratch.Path())), 0);
  EXPECT_EQ(ReadBytes(scratch / L"a.rar.bak"), "mine");
  EXPECT_EQ(CountMethod(FakeLog(), "aria2.addUri"), static_cast<size_t>(1 + kMaxRetries));
  EXPECT_EQ(events.Events().back().statusText, kStalledText);
}

TEST_F(FakeEngineTest, ListedNamesStayInsideTheSaveFolder) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  ScratchFolder scratch(L"inside");
  const std::wstring save = scratch.Path() + L"Brinemarch";
  WriteFileBytes(scratch / L"victim.rar", "outside");
  Script(std::string(R"({"steps":)") + kComplete + "}");
  manager.fileNames.Add(L"..\\victim.rar", L"C:\\Windows\\evil.dll", L"sub\\ok.rar");
  manager.fileUrls.Add(kUrl, kUrl, kUrl);
  EXPECT_EQ(manager.DownloadAll(CWString(save)), 1);
  EXPECT_EQ(ReadBytes(scratch / L"victim.rar"), "outside");
  std::vector<std::wstring> outs;
  for (const RpcRecord& r : FakeLog()) {
    if (r.method != "aria2.addUri") continue;
    const std::wstring body = FakeBody(r.seq);
    EXPECT_EQ(DecodedDir(ValueIn(body, L"dir")), WithSlashes(save));
    outs.push_back(Wide(r.out));
  }
  EXPECT_EQ(outs, (std::vector<std::wstring>{L"_/victim.rar", L"C_/Windows/evil.dll", L"sub/ok.rar"}));
}

TEST_F(FakeEngineTest, ARunWithoutAPoolDoesNotWaitForTasksNobodyPolls) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  ScratchFolder scratch(L"nopool");
  manager.engine.workerPool.Stop(0, 2000);
  manager.fileNames.Add(L"a.rar");
  manager.fileUrls.Add(kUrl);
  EXPECT_EQ(manager.DownloadAll(CWString(scratch.Path())), 0);
  EXPECT_EQ(manager.engine.pollerRunning.load(), 0);
}

TEST_F(FakeEngineTest, TheThirteenthAddWaitsUntilATaskHasEnded) {
  rg_n1434 manager;
  UseFakeEngine(manager.engine);
  ScratchFolder scratch(L"thirteen");
  for (int i = 0; i < 13; ++i) {
    manager.fileNames.Add(CWString(L"f" + std::to_wstring(i) + L".rar"));
    manager.fileUrls.Add(kUrl);
  }
  std::atomic<size_t> addsWhileTwelveOpen{0};
  std::atomic<bool> everyStepSeen{false};
  std::thread driver([&] {
    auto adds = [] { return CountMethod(FakeLog(), "aria2.addUri"); };
    auto queries = [] { return CountMethod(FakeLog(), "aria2.tellStatus"); };
    const bool twelve = PollUntil([&] { return adds() >= 12; }, 60000, PollMode::kSleep, 20);
    // Many polling passes later the thirteenth add still waits.
    const size_t seen = queries();
    const bool polled = twelve && PollUntil([&] { return queries() >= seen + 120; }, 60000, PollMode::kSleep, 20);
    addsWhileTwelveOpen = adds();
    SetTask("f4.rar", kComplete);
    everyStepSeen = polled && PollUntil([&] { return adds() >= 13; }, 60000, PollMode::kSleep, 20);
    // Every task completes, whatever was seen, so the run ends.
    for (int i = 0; i < 13; ++i) {
      std::string name = "f";
      name += std::to_string(i);
      name += ".rar";
      SetTask(name, kComplete);
    }
  });
  EXPECT_EQ(manager.DownloadAll(CWString(scratch.Path())), 1);
  driver.join();
  EXPECT_TRUE(everyStepSeen.load()) << "twelve adds, 120 queries, then a thirteenth add: not all came within 60 s";
  EXPECT_EQ(addsWhileTwelveOpen.load(), 12u);
  // The thirteenth add came after a query had seen a task complete.
  const auto log = FakeLog();
  int firstComplete = 0;
  int lastAdd = 0;
  for (const RpcRecord& r : log) {
    if (r.method == "aria2.tellStatus" && r.answer == "complete" && firstComplete == 0) firstComplete = r.seq;
    if (r.method == "aria2.addUri") lastAdd = r.seq;
  }
  EXPECT_GT(firstComplete, 0);
  EXPECT_GT(lastAdd, firstComplete);
}

TEST_F(FakeEngineTest, ARunEndsAndFailsWhenTheEngineProcessIsGone) {
  rg_n1434 manager;
  EventRecorder events;
  events.Listen(manager);
  ScratchFolder scratch(L"gone");
  WriteFileBytes(scratch / L"a.rar", "mine");
  // The engine for this run: an extra listener of the fake and a stand-in process.
  const std::string listened = FakeEngine(L"/__listen", R"({"port":0})");
  const int port = std::stoi(listened.substr(listened.find(':') + 1));
  UseFakeEngine(manager.engine, port);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  std::wstring commandLine = L"\"" + ProgramFolder() + L"..\\fake_engine\\aria2c.exe\"";
  ASSERT_TRUE(
      CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created));
  UniqueHandle process(created.hProcess);
  UniqueHandle thread(created.hThread);
  manager.engine.WatchEngineProcess(created.dwProcessId);
  manager.fileNames.Add(L"a.rar", L"b.rar");
  manager.fileUrls.Add(kUrl, kUrl);
  std::atomic<bool> polledBeforeTheEnd{false};
  std::thread killer([&] {
    auto queriesOnPort = [port] {
      size_t n = 0;
      for (const RpcRecord& r : FakeLog()) n += r.port == port && r.method == "aria2.tellStatus" ? 1 : 0;
      return n;
    };
    // Ended after six queries, or after a minute without them: the run must end either way.
    polledBeforeTheEnd = PollUntil([&] { return queriesOnPort() >= 6; }, 60000, PollMode::kSleep, 20);
    TerminateProcess(process.Get(), 0);
    WaitForSingleObject(process.Get(), 10000);
    FakeEngine(L"/__unlisten", "{\"port\":" + std::to_string(port) + "}");
  });
  EXPECT_EQ(manager.DownloadAll(CWString(scratch.Path())), 0);
  killer.join();
  EXPECT_TRUE(polledBeforeTheEnd.load()) << "the poller never queried the engine six times";
  EXPECT_EQ(manager.engine.ready.load(), 0);
  EXPECT_EQ(manager.engine.PendingCount(), 0);
  // Gone as a power cut would take it: the player's file waits aside for the next run.
  EXPECT_EQ(ReadBytes(scratch / L"a.rar.bak"), "mine");
  size_t finished = 0;
  for (const EventRecord& e : events.Events()) {
    if (e.statusText == L"失败") {
      ++finished;
      EXPECT_EQ(e.failureText, L"下载器已退出");
    }
  }
  EXPECT_EQ(finished, 2u);
}

}  // namespace
}  // namespace engine_test
