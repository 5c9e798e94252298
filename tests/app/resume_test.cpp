// Runs that meet a player's real world, with the real engine against the drive emulator: the
// window closed half way, a completed run pressed again, the engine killed, a file replaced
// at the drive, a stalled stream, refusals, too little room. Each counts the bytes the
// emulator really sent and checks every file byte for byte.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "app_test_support.h"
#include "build_config.h"
#include "engine/display_texts.h"
#include "engine/engine_process.h"
#include "engine/save_folder.h"
#include "runtime/pauses.h"
#include "runtime/utils.h"

namespace {

constexpr int64_t kMiB = 1024 * 1024;

struct Part {
  std::wstring name;
  std::wstring token;
  int64_t size;
};

std::wstring TreeOf(const std::vector<Part>& parts) {
  std::wstring children;
  for (const Part& part : parts) {
    if (!children.empty()) children += L",";
    children += L"{\"name\": \"" + part.name + L"\", \"token\": \"" + part.token + L"\", \"size\": " +
                std::to_wstring(part.size) + L"}";
  }
  return L"{\"tree\": {\"name\": \"Brinemarch\", \"children\": [" + children + L"]}}";
}

int64_t TotalOf(const std::vector<Part>& parts) {
  int64_t total = 0;
  for (const Part& part : parts) total += part.size;
  return total;
}

uint64_t WriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class ResumeTest : public EngineRunTest {
 protected:
  // Every part arrived whole and exactly as the drive serves it now.
  void ExpectWhole(const std::vector<Part>& parts) {
    // The drive's bytes at full speed: a run's pace and held-back streams are no business of
    // this check.
    ASSERT_EQ(ControlEmulator(L"{\"pace\": null, \"stream\": null}"), 200);
    for (const Part& part : parts) {
      std::string served, downloaded;
      ASSERT_EQ(FetchServedFile(part.token, served), 200);
      ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\" + part.name, downloaded)) << testing::PrintToString(part.name);
      EXPECT_EQ(downloaded.size(), served.size()) << testing::PrintToString(part.name);
      EXPECT_TRUE(downloaded == served) << testing::PrintToString(part.name) << " differs from the drive's bytes";
    }
  }

  void ExpectInstallOffered() {
    EXPECT_TRUE(window_->boxes.empty()) << (window_->boxes.empty() ? ""
                                                                   : testing::PrintToString(window_->boxes[0].text));
    EXPECT_EQ(window_->startButton.GetText(), L"安装游戏");
  }

  // A run closed with Escape once the bar reaches percent (an application object must live
  // for the key to reach the form); false when the run ended before.
  bool RunClosedAt(int percent) {
    bool closed = false;
    CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample&) {
      if (closed || window.progressBar.GetPosition() < percent) return;
      closed = true;
      PressEscape(window);
    });
    Click(*window_, window_->startButton);
    return closed;
  }

  // The program started again, as the player would after closing it.
  void StartAgain(RunWatch::Act act = {}) {
    watch_.reset();
    cellLog_.reset();
    window_.reset();
    ASSERT_TRUE(PollUntil([] { return FindProcessId(L"aria2c.exe") == 0; }, 20000, PollMode::kSleep, 50))
        << "the first engine did not end";
    CreateWindowWithTheEngine(std::move(act));
  }
};

// The close button at half way: the next start and press fetch only the rest (and at most one
// piece again per connection).
TEST_F(ResumeTest, ClosedHalfWayTheNextPressFetchesOnlyTheRest) {
  const std::vector<Part> parts = {{L"c1.rar", L"tokC1", 4 * kMiB},
                                   {L"c2.rar", L"tokC2", 4 * kMiB},
                                   {L"c3.rar", L"tokC3", 4 * kMiB},
                                   {L"c4.rar", L"tokC4", 4 * kMiB + 12345}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 524288}"), 200);
  CKelMfcAppBase app;
  const int64_t first = LatestEmulatorRequest();
  ASSERT_TRUE(RunClosedAt(50)) << "the run ended before half way";
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
  const int64_t firstBytes = SentBytes(first);

  // Paced, so the bytes counted are the bytes the engine took (a stream it drops at once does
  // not count what merely sat in the socket's buffers).
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 2097152}"), 200);
  StartAgain();
  const int64_t second = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  const int64_t secondBytes = SentBytes(second);
  const int64_t total = TotalOf(parts);
  std::printf("closed at half way: first run %lld B, second run %lld B of %lld B\n", static_cast<long long>(firstBytes),
              static_cast<long long>(secondBytes), static_cast<long long>(total));
  EXPECT_GT(firstBytes, total / 2 - 4 * kMiB);
  // One piece (1 MiB) per connection may come again; here each part has one connection.
  EXPECT_LE(secondBytes, total - firstBytes + static_cast<int64_t>(parts.size()) * kMiB);
  ExpectWhole(parts);
}

// A completed run started again: nothing is fetched, nothing of the files is touched, and a
// player's own file named like a part plus ".bak" stays as it was.
TEST_F(ResumeTest, ACompletedRunPressedAgainFetchesNothing) {
  const std::vector<Part> parts = {{L"d1.rar", L"tokD1", 1 * kMiB + 7}, {L"d2.rar", L"tokD2", 300001}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_TRUE(CreateDirectories(saveFolder_));
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\d1.rar", "the player's earlier part"));
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\d1.rar.bak", "the player's own backup"));
  CreateWindowWithTheEngine();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  ExpectWhole(parts);
  const uint64_t times[] = {WriteTime(saveFolder_ + L"\\d1.rar"), WriteTime(saveFolder_ + L"\\d2.rar")};

  StartAgain();
  const int64_t again = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  EXPECT_EQ(SentBytes(again), 0);
  EXPECT_EQ(WriteTime(saveFolder_ + L"\\d1.rar"), times[0]);
  EXPECT_EQ(WriteTime(saveFolder_ + L"\\d2.rar"), times[1]);
  for (int row = 0; row < 2; ++row) {
    EXPECT_EQ(window_->fileList.GetCellText(row, 4), L"100%");
    EXPECT_EQ(window_->fileList.GetCellText(row, 5), L"完毕");
  }
  EXPECT_EQ(window_->progressBar.GetPosition(), 100);
  std::string backup;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\d1.rar.bak", backup));
  EXPECT_EQ(backup, "the player's own backup");
  EXPECT_FALSE(Exists(saveFolder_ + L"\\d1.rar.bak1")) << "the backup of the earlier part stayed";
}

// 安装游戏 checks the parts first: one a virus scanner took away is named, the installer does
// not start, and 开始下载 fetches only that part again.
TEST_F(ResumeTest, InstallChecksThePartsFirstAndAMissingOneIsFetchedAgain) {
  const std::vector<Part> parts = {{L"i1.rar", L"tokI1", 300007}, {L"i2.rar", L"tokI2", 200003}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  CreateWindowWithTheEngine();
  std::vector<std::wstring> started;
  window_->installerStart = [&](const std::wstring& commandLine) {
    started.push_back(commandLine);
    return DWORD{0};
  };
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  ASSERT_TRUE(DeleteFileW((saveFolder_ + L"\\i2.rar").c_str()));
  Click(*window_, window_->startButton);
  EXPECT_TRUE(started.empty());
  EXPECT_TRUE(window_->exitCodes.empty());
  ASSERT_EQ(window_->boxes.size(), 1u);
  EXPECT_NE(window_->boxes[0].text.find(L"i2.rar"), std::wstring::npos)
      << testing::PrintToString(window_->boxes[0].text);
  EXPECT_EQ(window_->startButton.GetText(), L"开始下载");

  window_->boxes.clear();
  const int64_t again = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  EXPECT_EQ(SentBytes(again, L"tokI1"), 0);
  ExpectWhole(parts);
  Click(*window_, window_->startButton);
  EXPECT_EQ(started.size(), 1u);
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
}

// The publisher re-packs (new bytes, same sizes, a new signed manifest) between a close at
// half way and the next press: every part arrives new, none continued from the old bytes.
TEST_F(ResumeTest, ARepackAfterACloseArrivesNewFromEveryPartsFirstByte) {
  if (std::wstring(BRINEMARCH_MANIFEST_KEY).empty()) GTEST_SKIP() << "a build without a manifest key";
  const std::vector<Part> parts = {
      {L"r1.rar", L"tokR1", 2 * kMiB}, {L"r2.rar", L"tokR2", 2 * kMiB}, {L"r3.rar", L"tokR3", 2 * kMiB + 77}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 262144}"), 200);
  CKelMfcAppBase app;
  ASSERT_TRUE(RunClosedAt(50)) << "the run ended before half way";

  ASSERT_EQ(ControlEmulator(L"{\"pace\": 4194304, \"repack\": 2}"), 200);
  StartAgain();
  const int64_t second = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  EXPECT_GE(SentBytes(second), TotalOf(parts)) << "a part was continued from the old build's bytes";
  ExpectWhole(parts);
}

// The engine killed after 20 s, as a power cut would leave it: the next start continues from
// the control files the engine saved, and a part replaced at the drive meanwhile arrives new.
TEST_F(ResumeTest, AfterTheEngineIsKilledTheNextRunContinuesAndAReplacedFileArrivesNew) {
  const std::vector<Part> parts = {{L"k1.rar", L"tokK1", 8 * kMiB}, {L"k2.rar", L"tokK2", 8 * kMiB}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 131072}"), 200);
  ASSERT_TRUE(CreateDirectories(saveFolder_));
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\k1.rar", "the player's earlier part"));
  bool killed = false;
  uint64_t started = 0;
  const int64_t first = LatestEmulatorRequest();
  CreateWindowWithTheEngine([&](TestMainWindow&, const RunSample& sample) {
    if (killed || sample.RowsWithStatus() == 0) return;
    if (started == 0) started = GetTickCount64();
    if (GetTickCount64() - started < 22000) return;
    const int64_t engine = FindProcessId(L"aria2c.exe");
    UniqueHandle process(engine > 0 ? OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(engine)) : nullptr);
    killed = process && TerminateProcess(process.Get(), 1);
  });
  Click(*window_, window_->startButton);
  ASSERT_TRUE(killed);
  ASSERT_EQ(window_->boxes.size(), 1u);
  const int64_t firstBytes = SentBytes(first);
  // What the engine had is kept for the next run, and the player's earlier file aside.
  for (const Part& part : parts) {
    EXPECT_TRUE(Exists(saveFolder_ + L"\\" + part.name + L".aria2")) << testing::PrintToString(part.name);
  }
  std::string mine;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\k1.rar.bak", mine));
  EXPECT_EQ(mine, "the player's earlier part");

  // Meanwhile the drive replaced the second part with a longer one.
  ASSERT_EQ(
      ControlEmulator(L"{\"pace\": 2097152, \"replace\": {\"token\": \"tokK2\", \"size\": 9437185, \"seed\": 5}}"),
      200);
  StartAgain();
  const int64_t second = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  const int64_t kept = SentBytes(second, L"tokK1");
  std::printf("engine killed after 22 s: first run %lld B; second run k1 %lld B of %lld B, k2 %lld B of 9437185 B\n",
              static_cast<long long>(firstBytes), static_cast<long long>(kept), static_cast<long long>(8 * kMiB),
              static_cast<long long>(SentBytes(second, L"tokK2")));
  EXPECT_LT(kept, 8 * kMiB - 2 * kMiB) << "k1 was fetched again from its start";
  ExpectWhole({parts[0], {L"k2.rar", L"tokK2", 9437185}});
  EXPECT_FALSE(Exists(saveFolder_ + L"\\k1.rar.bak"));
}

// A part whose streams stop: the run ends by the stall bound with the failure box, its bytes
// and the player's earlier part kept; once the drive sends again, the next press fetches the
// rest. Refusals ("too many requests") meanwhile are waited out.
TEST_F(ResumeTest, AStalledRunEndsAndContinuesAndRefusalsAreWaitedOut) {
  const std::vector<Part> parts = {{L"s1.rar", L"tokS1", 3 * kMiB}, {L"s2.rar", L"tokS2", 2 * kMiB}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"stall\": {\"token\": \"tokS1\", \"after\": 1048576}}"), 200);
  ASSERT_TRUE(CreateDirectories(saveFolder_));
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\s1.rar", "the player's earlier part"));
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\s1.rar.bak", "the player's own backup"));
  CreateWindowWithTheEngine();
  window_->downloadEngine.stallMs = 4000;
  const uint64_t pressed = GetTickCount64();
  Click(*window_, window_->startButton);
  const uint64_t took = GetTickCount64() - pressed;
  ASSERT_EQ(window_->boxes.size(), 1u);
  const std::wstring box = window_->boxes[0].text;
  EXPECT_TRUE(box.starts_with(L"下载失败,请重试！\n")) << testing::PrintToString(box);
  EXPECT_NE(box.find(L"4 秒内没有收到任何数据"), std::wstring::npos) << testing::PrintToString(box);
  EXPECT_LT(took, 30000u);
  EXPECT_EQ(cellLog_->History(0, 5).back(), L"网络超时");
  EXPECT_TRUE(Exists(saveFolder_ + L"\\s1.rar.aria2"));
  std::string own, earlier;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\s1.rar.bak", own));
  EXPECT_EQ(own, "the player's own backup");
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\s1.rar.bak1", earlier));
  EXPECT_EQ(earlier, "the player's earlier part");

  // The drive sends again, but refuses every part's first two streams.
  ASSERT_EQ(ControlEmulator(L"{\"stall\": null, \"pace\": 1048576, \"stream\": {\"status\": 429, "
                            L"\"retry_after\": 1, \"per_file_times\": 2}}"),
            200);
  window_->boxes.clear();
  const int64_t again = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  const int64_t rest = SentBytes(again, L"tokS1");
  std::printf("stalled at 1 MiB of 3 MiB: the next press sent %lld B of s1\n", static_cast<long long>(rest));
  EXPECT_LE(rest, 2 * kMiB + kMiB);
  const std::vector<std::wstring> states = cellLog_->History(0, 5);
  EXPECT_NE(std::find(states.begin(), states.end(), L"等待重试"), states.end()) << testing::PrintToString(states);
  ExpectWhole(parts);
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\s1.rar.bak", own));
  EXPECT_EQ(own, "the player's own backup");
  EXPECT_FALSE(Exists(saveFolder_ + L"\\s1.rar.bak1"));
}

// Too little room: the box says how much, and nothing is fetched, created or moved.
TEST_F(ResumeTest, TooLittleRoomIsToldBeforeAnythingIsTouched) {
  ASSERT_EQ(ControlEmulator(TreeOf({{L"r1.rar", L"tokR1", 3 * kMiB}, {L"r2.rar", L"tokR2", 2 * kMiB}})), 200);
  CreateWindowWithTheEngine();
  window_->downloadEngine.freeSpace = [](const CWString&) { return int64_t{20} * kMiB; };
  const int64_t before = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ASSERT_EQ(window_->boxes.size(), 1u);
  EXPECT_EQ(window_->boxes[0].text, L"磁盘空间不足：还需 5MB，可用 20MB");
  EXPECT_EQ(window_->boxes[0].caption, L"信息:");
  EXPECT_EQ(window_->startButton.GetText(), L"开始下载");
  EXPECT_TRUE(window_->startButton.IsEnabled());
  EXPECT_EQ(SentBytes(before), 0);
  EXPECT_FALSE(Exists(testFolder_)) << "the save folder was created";
}

}  // namespace

namespace {

// A twelve-part run as the player watches it: the bar never moves back, is full only when
// every part is whole, and its text agrees with the rows; before any byte moves, no time
// left is promised.
TEST_F(ResumeTest, TheBarAndItsTextAreTheWholeRun) {
  std::vector<Part> parts;
  for (int i = 1; i <= 12; ++i) {
    parts.push_back({L"w" + std::to_wstring(i) + L".rar", L"tokW" + std::to_wstring(i), 256 * 1024 + 1000 * i});
  }
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 131072, \"stream\": {\"delay_ms\": 1500}}"), 200);
  const uint64_t began = GetTickCount64();
  CreateWindowWithTheEngine();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  std::printf("twelve parts: %.1f s, %zu samples\n", static_cast<double>(GetTickCount64() - began) / 1000.0,
              watch_->samples.size());
  ExpectWhole(parts);

  const std::wstring total = L" / " + FormatSize(static_cast<double>(TotalOf(parts))).ToStdString() + L"  ";
  const auto& samples = watch_->samples;
  ASSERT_GE(samples.size(), 20u);
  int last = 0, withText = 0, still = 0;
  for (const RunSample& sample : samples) {
    EXPECT_GE(sample.barPosition, last) << testing::PrintToString(sample.barText);
    last = sample.barPosition;
    if (sample.barText.empty()) continue;
    ++withText;
    EXPECT_TRUE(sample.barText.starts_with(std::to_wstring(sample.barPosition) + L"%  "))
        << sample.barPosition << " " << testing::PrintToString(sample.barText);
    EXPECT_NE(sample.barText.find(total), std::wstring::npos) << testing::PrintToString(sample.barText);
    int whole = 0;
    for (const auto& row : sample.cells) whole += row[5] == L"完成" || row[5] == L"完毕" ? 1 : 0;
    if (sample.barPosition == 100) {
      EXPECT_EQ(whole, 12) << "a full bar while parts were still open";
    }
    if (sample.barText.starts_with(L"0%  0Byte / ")) {
      ++still;
      EXPECT_TRUE(sample.barText.ends_with(L"剩余 --")) << testing::PrintToString(sample.barText);
    }
  }
  EXPECT_GE(withText, 10);
  EXPECT_GE(still, 3) << "the held-back streams were not seen";
  EXPECT_EQ(window_->progressBar.GetPosition(), 100);
}

// The failure box's second line says why, for each cause the run knows.
TEST_F(ResumeTest, TheFailureBoxSaysWhy) {
  const struct {
    const char* what;
    const wchar_t* control;
    const wchar_t* reason;  // the start of the second line
  } cases[] = {
      {"the share cannot be read", LR"({"list": {"mode": "500"}})", L"无法读取网盘上的文件列表："},
      {"the drive refuses the session", LR"({"cookies": {"list": "Cookie: bm_session=expired"}})",
       L"无法读取网盘上的文件列表：网盘拒绝"},
      {"two parts on one path", LR"({"preset": "clash", "options": {"part_size_mib": 0.25}})",
       L"两个文件会保存到同一个位置："},
      {"a part the drive lost", LR"({"stream": {"status": 404, "token": "tokF2"}})", L"1 个文件未完成，如 f2.rar（"},
  };
  CreateWindowWithTheEngine();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(ControlEmulator(L"{\"reset\": true}"), 200);
    ASSERT_EQ(ControlEmulator(TreeOf({{L"f1.rar", L"tokF1", 70001}, {L"f2.rar", L"tokF2", 70002}})), 200);
    ASSERT_EQ(ControlEmulator(c.control), 200);
    window_->boxes.clear();
    Click(*window_, window_->startButton);
    ASSERT_EQ(window_->boxes.size(), 1u);
    const std::wstring text = window_->boxes[0].text;
    EXPECT_EQ(window_->boxes[0].caption, L"信息:");
    EXPECT_TRUE(text.starts_with(std::wstring(L"下载失败,请重试！\n") + c.reason)) << testing::PrintToString(text);
    EXPECT_EQ(text.find(L'\n', 10), std::wstring::npos) << "two lines at most";
  }
}

}  // namespace

namespace {

// A control file the engine cannot use: the part starts again from its first byte, once, in
// the same run, and arrives whole.
TEST_F(ResumeTest, APartTheEngineCannotContinueStartsAfreshOnce) {
  const std::vector<Part> parts = {{L"x1.rar", L"tokX1", 4 * kMiB}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 524288}"), 200);
  CKelMfcAppBase app;
  ASSERT_TRUE(RunClosedAt(30));
  StartAgain();
  const std::wstring control = saveFolder_ + L"\\x1.rar.aria2";
  ASSERT_TRUE(Exists(control));
  ASSERT_TRUE(WriteFileBytes(control, std::string(64, '\x7f')));
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 2097152}"), 200);
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  ExpectWhole(parts);
}

}  // namespace

namespace {

// The drive answers nothing for half a minute in the middle of the run (every connection
// reset, the open streams cut), then comes back: the run ends whole without a press, and no
// part is fetched twice.
TEST_F(ResumeTest, ADriveGoneForHalfAMinuteComesBackAndTheRunEndsWhole) {
  const std::vector<Part> parts = {{L"o1.rar", L"tokO1", 3 * kMiB}, {L"o2.rar", L"tokO2", 2 * kMiB}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 524288}"), 200);
  int64_t outageBegan = -1;
  CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample&) {
    if (outageBegan >= 0 || window.downloadEngine.engine.RowBytesOf(1)[0].completed < kMiB) return;
    outageBegan = LatestEmulatorRequest();
    EXPECT_EQ(ControlEmulator(L"{\"outage\": {\"seconds\": 30}}"), 200);
  });
  const int64_t before = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ASSERT_GE(outageBegan, 0) << "the run ended before the drive went";
  ExpectInstallOffered();
  const int64_t sent = SentBytes(before);
  std::printf("a 30 s outage: %d stream requests after it began, %lld B sent for %lld B of parts\n",
              static_cast<int>(StreamRequests(outageBegan).size()), static_cast<long long>(sent),
              static_cast<long long>(TotalOf(parts)));
  // Asked again during the outage, and on after it from the bytes already there.
  EXPECT_GE(StreamRequests(outageBegan).size(), 4u);
  EXPECT_LT(sent, TotalOf(parts) + TotalOf(parts) / 2) << "a part was fetched again";
  ExpectWhole(parts);
}

// The machine sleeps while a part's stream has stopped: the time asleep (the run's clock
// stands still, as the awake time does) is longer than the stall bound, yet the run does not
// end; after waking the drive sends again and the run ends whole.
TEST_F(ResumeTest, TimeAsleepDoesNotCountTowardTheStallBound) {
  const std::vector<Part> parts = {{L"z1.rar", L"tokZ1", 2 * kMiB}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"stall\": {\"token\": \"tokZ1\", \"after\": 1048576}}"), 200);
  constexpr uint64_t kStallMs = 5000;
  constexpr uint64_t kAsleepMs = 2 * kStallMs + 2000;
  std::atomic<uint64_t> slept{0};
  std::atomic<uint64_t> asleepAt{0};  // the clock's reading while asleep; 0 awake
  uint64_t fellAsleep = 0;
  bool woke = false;
  CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample&) {
    if (woke) return;
    const uint64_t now = GetTickCount64();
    if (fellAsleep == 0) {
      if (window.downloadEngine.engine.RowBytesOf(1)[0].completed < kMiB) return;
      asleepAt = window.downloadEngine.engine.awakeClock();
      fellAsleep = now;
    } else if (now - fellAsleep >= kAsleepMs) {
      slept = now - fellAsleep;
      asleepAt = 0;
      woke = true;
      EXPECT_EQ(ControlEmulator(L"{\"stall\": null}"), 200);
    }
  });
  window_->downloadEngine.stallMs = kStallMs;
  window_->downloadEngine.engine.awakeClock = [&] {
    const uint64_t frozen = asleepAt.load();
    return frozen != 0 ? frozen : AwakeMilliseconds() - slept.load();
  };
  Click(*window_, window_->startButton);
  ASSERT_TRUE(woke) << "the run ended while the machine slept";
  ExpectInstallOffered();
  const std::vector<std::wstring> states = cellLog_->History(0, 5);
  EXPECT_EQ(std::count(states.begin(), states.end(), L"网络超时"), 0) << testing::PrintToString(states);
  ExpectWhole(parts);
}

// Another program holds a player's file of a part's name without sharing it (a scanner, a
// backup): the part waits for its next try until the file is let go, then arrives whole; a
// file held through every try fails its part with a reason that names it.
TEST_F(ResumeTest, APartWhoseFileAnotherProgramHoldsArrivesOnceLetGoOrFailsNamingIt) {
  const std::vector<Part> parts = {{L"h1.rar", L"tokH1", kMiB}, {L"h2.rar", L"tokH2", kMiB}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_TRUE(CreateDirectories(saveFolder_));
  for (const wchar_t* name : {L"\\h1.rar", L"\\h2.rar"}) {
    ASSERT_TRUE(WriteFileBytes(saveFolder_ + name, "the player's file"));
  }
  UniqueHandle briefly = HoldOpen(saveFolder_ + L"\\h1.rar");
  UniqueHandle forGood = HoldOpen(saveFolder_ + L"\\h2.rar");
  ASSERT_TRUE(briefly && forGood);
  uint64_t firstSample = 0;
  CreateWindowWithTheEngine([&](TestMainWindow&, const RunSample&) {
    if (firstSample == 0) firstSample = GetTickCount64();
    if (briefly && GetTickCount64() - firstSample >= 3000) briefly.Reset();
  });
  // Every try of the part held for good, in seconds rather than minutes.
  window_->downloadEngine.engine.retryPauseScale = 0.05;
  Click(*window_, window_->startButton);
  EXPECT_FALSE(briefly) << "the run ended before the first file was let go";
  forGood.Reset();

  ASSERT_EQ(window_->boxes.size(), 1u);
  const std::wstring heldPath = saveFolder_ + L"\\h2.rar";
  EXPECT_NE(window_->boxes[0].text.find(heldPath + L" 文件被其他程序占用"), std::wstring::npos)
      << testing::PrintToString(window_->boxes[0].text);
  const std::vector<std::wstring> first = cellLog_->History(0, 5);
  EXPECT_NE(std::find(first.begin(), first.end(), L"等待重试"), first.end()) << testing::PrintToString(first);
  EXPECT_EQ(first.back(), L"完毕");
  EXPECT_EQ(cellLog_->History(1, 5).back(), L"失败");
  ExpectWhole({parts[0]});
  std::string mine;
  ASSERT_TRUE(ReadFileBytes(heldPath, mine));
  EXPECT_EQ(mine, "the player's file");
}

// A part stopped half way whose file another program holds when the engine goes on with it:
// tried again until the file is let go, then continued from its bytes.
TEST_F(ResumeTest, AStoppedPartAnotherProgramHoldsGoesOnOnceLetGo) {
  const std::vector<Part> parts = {{L"g1.rar", L"tokG1", 4 * kMiB}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 524288}"), 200);
  CKelMfcAppBase app;
  ASSERT_TRUE(RunClosedAt(50)) << "the run ended before half way";
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 2097152}"), 200);
  // Held as soon as the closed run's engine has let go of it.
  UniqueHandle scanner;
  ASSERT_TRUE(PollUntil(
      [&] {
        scanner = HoldOpen(saveFolder_ + L"\\g1.rar");
        return static_cast<bool>(scanner);
      },
      20000, PollMode::kSleep, 50))
      << "the closed run's engine kept the part open";
  uint64_t firstSample = 0;
  StartAgain([&](TestMainWindow&, const RunSample&) {
    if (firstSample == 0) firstSample = GetTickCount64();
    if (scanner && GetTickCount64() - firstSample >= 3000) scanner.Reset();
  });
  const int64_t second = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  EXPECT_FALSE(scanner) << "the run ended before the file was let go";
  ExpectInstallOffered();
  const std::vector<std::wstring> states = cellLog_->History(0, 5);
  EXPECT_NE(std::find(states.begin(), states.end(), L"等待重试"), states.end()) << testing::PrintToString(states);
  EXPECT_LT(SentBytes(second), parts[0].size) << "the part was fetched again from its start";
  ExpectWhole(parts);
}

// A scanner holds the program's record through a whole run, every part completing under it:
// the player is told at the end, and the next start fetches nothing and deletes nothing.
TEST_F(ResumeTest, ARecordHeldAsPartsCompleteStillKeepsThemForTheNextStart) {
  const std::vector<Part> parts = {{L"w1.rar", L"tokW1", kMiB}, {L"w2.rar", L"tokW2", 2 * kMiB}};
  ASSERT_EQ(ControlEmulator(TreeOf(parts)), 200);
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 1048576}"), 200);
  const std::wstring record = saveFolder_ + L"\\" + SaveFolder::kRecordName;
  UniqueHandle scanner;
  CreateWindowWithTheEngine([&](TestMainWindow&, const RunSample&) {
    if (!scanner) scanner = HoldOpen(record);
  });
  Click(*window_, window_->startButton);
  ASSERT_TRUE(scanner) << "the record never appeared";
  // Still held when the run ends: the player is told, and the parts stay whole.
  ASSERT_EQ(window_->boxes.size(), 1u) << "a record held to the end of the run was not told";
  EXPECT_NE(window_->boxes[0].text.find(SaveFolder::kRecordName), std::wstring::npos) << window_->boxes[0].text;
  EXPECT_EQ(window_->startButton.GetText(), L"安装游戏");
  scanner.Reset();
  std::vector<uint64_t> written;
  for (const Part& part : parts) written.push_back(WriteTime(saveFolder_ + L"\\" + part.name));

  StartAgain();
  const int64_t before = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ExpectInstallOffered();
  EXPECT_TRUE(StreamRequests(before).empty()) << "a finished part was fetched again";
  for (size_t i = 0; i < parts.size(); ++i) {
    EXPECT_EQ(WriteTime(saveFolder_ + L"\\" + parts[i].name), written[i]) << testing::PrintToString(parts[i].name);
  }
  ExpectWhole(parts);
}

}  // namespace
