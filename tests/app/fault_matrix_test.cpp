// Runs of the main window with the real engine while the drive or the engine misbehaves: a
// listing that fails, a stream that drops, a missing file, the engine killed, hostile file
// names, a file past 4 GiB. Each test states what the user sees and that nothing of theirs is
// lost or written outside the save folder.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <cwchar>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/application.h"
#include "app_test_support.h"
#include "build_config.h"
#include "engine/display_texts.h"
#include "engine/engine_process.h"
#include "engine/save_folder.h"
#include "runtime/utils.h"
#include "runtime/win_handles.h"

namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kListPath = L"/space/api/explorer/v3/children/list/";

// Serves a share folder holding children (JSON nodes as the emulator's trees take them).
int32_t ServeTree(const std::wstring& children) {
  return ControlEmulator(L"{\"tree\": {\"name\": \"Brinemarch\", \"children\": [" + children + L"]}}");
}

// Paths below folder relative to it, "\" separated, folders included.
std::set<std::wstring> Entries(const std::wstring& folder) {
  std::set<std::wstring> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    // The program's record of its downloads is not the player's business.
    if (it->path().filename() == SaveFolder::kRecordName) continue;
    entries.insert(it->path().lexically_relative(folder).wstring());
  }
  return entries;
}

// Names of the entries directly in folder.
std::set<std::wstring> Children(const std::wstring& folder) {
  std::set<std::wstring> children;
  std::error_code error;
  for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); it.increment(error)) {
    if (it->path().filename() != SaveFolder::kRecordName) children.insert(it->path().filename().wstring());
  }
  return children;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Served(const std::wstring& token) {
  std::string bytes;
  EXPECT_EQ(FetchServedFile(token, bytes), 200) << "token " << testing::PrintToString(token);
  return bytes;
}

bool Contains(const std::vector<std::wstring>& texts, const wchar_t* text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

int ListingRequests(int64_t since) {
  std::vector<LoggedRequest> logged;
  EXPECT_GE(EmulatorRequests(since, logged), 0);
  return static_cast<int>(std::count_if(logged.begin(), logged.end(),
                                        [](const LoggedRequest& request) { return request.path == kListPath; }));
}

bool NoEngineRuns() {
  return PollUntil([] { return FindProcessId(L"aria2c.exe") == 0; }, 20000, PollMode::kSleep, 50);
}

class FaultMatrixTest : public EngineRunTest {
 protected:
  // The row's state column over the run: it read passed, never read never (when given), and
  // ended "完毕".
  testing::AssertionResult RowEndedAfter(int row, const wchar_t* passed, const wchar_t* never = nullptr) const {
    const std::vector<std::wstring> status = cellLog_->History(row, 5);
    auto failure = [&](const std::wstring& what) {
      return testing::AssertionFailure() << "row " << row << " " << testing::PrintToString(what) << ": "
                                         << testing::PrintToString(status);
    };
    if (!Contains(status, passed)) return failure(std::wstring(L"never read ") + passed);
    if (never && Contains(status, never)) return failure(std::wstring(L"read ") + never);
    if (status.empty() || status.back() != L"完毕") return failure(L"did not end 完毕");
    return testing::AssertionSuccess();
  }

  // A part that failed: its row read passed, never a finished state, and ended "失败".
  testing::AssertionResult RowFailedAfter(int row, const wchar_t* passed) const {
    const std::vector<std::wstring> status = cellLog_->History(row, 5);
    if (Contains(status, passed) && !Contains(status, L"完成") && !Contains(status, L"完毕") && !status.empty() &&
        status.back() == L"失败") {
      return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "row " << row << " did not fail after " << testing::PrintToString(passed)
                                       << ": " << testing::PrintToString(status);
  }

  // The failure as the user meets it: one box, then the start button offered again.
  void ExpectFailureShown() {
    ASSERT_EQ(window_->boxes.size(), 1u);
    // The first line as ever; a second one may say why.
    const std::wstring& text = window_->boxes[0].text;
    EXPECT_TRUE(text == L"下载失败,请重试！" || text.starts_with(L"下载失败,请重试！\n"))
        << testing::PrintToString(text);
    EXPECT_EQ(window_->boxes[0].caption, L"信息:");
    EXPECT_EQ(window_->boxes[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(window_->startButton.GetText(), L"开始下载");
    EXPECT_TRUE(window_->startButton.IsEnabled());
    EXPECT_FALSE(window_->fileList.IsVisible());
    EXPECT_FALSE(window_->pictureBox.IsVisible());
  }

  void ExpectSuccessShown() {
    EXPECT_TRUE(window_->boxes.empty());
    EXPECT_EQ(window_->startButton.GetText(), L"安装游戏");
    EXPECT_TRUE(window_->pictureBox.IsVisible());
  }
};

// -- Listing faults ---------------------------------------------------------------------------

struct ListingFault {
  const char* name;
  const wchar_t* control;
};

class ListingFaultTest : public FaultMatrixTest, public ::testing::WithParamInterface<ListingFault> {};

TEST_P(ListingFaultTest, FailsWithoutFolderOrStreamsAndTheNextPressRunsAgain) {
  const std::wstring share = L"{\"name\": \"again.bin\", \"token\": \"tokAgain\", \"size\": 70001}";
  ASSERT_EQ(ServeTree(share), 200);
  CreateWindowWithTheEngine();
  ASSERT_EQ(ControlEmulator(GetParam().control), 200);
  const int64_t before = LatestEmulatorRequest();
  ASSERT_GE(before, 0);

  Click(*window_, window_->startButton);

  ExpectFailureShown();
  EXPECT_EQ(window_->fileList.GetRowCount(), 0);
  EXPECT_GE(ListingRequests(before), 1);
  EXPECT_TRUE(StreamRequests(before).empty());
  EXPECT_FALSE(Exists(testFolder_)) << "a failed listing created the save folder";

  // The drive answers again: the offered start is a whole new run.
  ASSERT_EQ(ControlEmulator(L"{\"reset\": true}"), 200);
  ASSERT_EQ(ServeTree(share), 200);
  Click(*window_, window_->startButton);
  EXPECT_EQ(window_->boxes.size(), 1u);
  EXPECT_EQ(window_->startButton.GetText(), L"安装游戏");
  std::string downloaded;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\again.bin", downloaded));
  EXPECT_TRUE(downloaded == Served(L"tokAgain"));
}

INSTANTIATE_TEST_SUITE_P(
    Drive, ListingFaultTest,
    ::testing::Values(ListingFault{"ServerError", L"{\"list\": {\"mode\": \"500\"}}"},
                      ListingFault{"InvalidJson", L"{\"list\": {\"mode\": \"invalid_json\"}}"},
                      // The drive no longer takes the session the build carries.
                      ListingFault{"ExpiredSession", L"{\"cookies\": {\"list\": \"Cookie: bm_session=expired\"}}"},
                      // Bounded by the listing's own timeout.
                      ListingFault{"NoAnswer", L"{\"list\": {\"mode\": \"hang\"}}"}),
    [](const ::testing::TestParamInfo<ListingFault>& info) { return std::string(info.param.name); });

// The share as publishers fill it (the folder's own node, a document, a sheet, a shortcut
// beside the files) downloads whole; with the streams held back, each row shows the size the
// drive listed before the engine's first figure, and never the engine's "no length yet".
TEST_F(FaultMatrixTest, DocumentsInTheShareAreSkippedAndRowsShowTheListedSizesAtOnce) {
  ASSERT_EQ(ControlEmulator(L"{\"tree\": {\"name\": \"Brinemarch\", \"children\": ["
                            L"{\"name\": \"one.bin\", \"token\": \"tokOne\", \"size\": 1572869},"
                            L"{\"name\": \"two.bin\", \"token\": \"tokTwo\", \"size\": 70001}]},"
                            L" \"documents\": true, \"stream\": {\"delay_ms\": 1500}}"),
            200);
  CreateWindowWithTheEngine();
  const int64_t before = LatestEmulatorRequest();
  ASSERT_GE(before, 0);

  Click(*window_, window_->startButton);

  ExpectSuccessShown();
  EXPECT_EQ(ListingRequests(before), 1) << "only the share itself is a folder";
  const std::wstring noLength = FormatSize(0).ToStdString();
  const std::pair<const wchar_t*, double> files[] = {{L"tokOne", 1572869}, {L"tokTwo", 70001}};
  for (int row = 0; row < 2; ++row) {
    const std::wstring listed = FormatSize(files[row].second).ToStdString();
    const std::vector<std::wstring> sizes = cellLog_->History(row, 2);
    ASSERT_FALSE(sizes.empty()) << "row " << row;
    EXPECT_EQ(sizes.front(), listed) << "row " << row;
    EXPECT_EQ(sizes.back(), listed) << "row " << row;
    EXPECT_FALSE(Contains(sizes, noLength.c_str())) << testing::PrintToString(sizes);
  }
  std::string one, two;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\one.bin", one));
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\two.bin", two));
  EXPECT_TRUE(one == Served(L"tokOne"));
  EXPECT_TRUE(two == Served(L"tokTwo"));
  EXPECT_EQ(Children(saveFolder_), (std::set<std::wstring>{L"one.bin", L"two.bin"}));
}

// A listing that is not whole, or files that would meet on one path: nothing is asked of the
// drive's streams and the save folder stays exactly as the player left it.
TEST_F(FaultMatrixTest, AnIncompleteListingOrAClashTouchesNothing) {
  struct Case {
    const wchar_t* what;
    const wchar_t* share;  // a control command that serves the share
    const wchar_t* fault;  // a control command, or nullptr
  };
  const Case cases[] = {
      {L"sub-folder refused",
       LR"({"tree": {"name": "Brinemarch", "children": [
          {"name": "Brinemarch.part2.rar", "token": "tokTop", "size": 70001},
          {"name": "sub", "token": "tokSub", "children": [{"name": "inner.bin", "size": 5000}]}]}})",
       LR"({"list": {"mode": "refused", "token": "tokSub"}})"},
      {L"name clash", LR"({"preset": "clash"})", nullptr},
  };
  CreateWindowWithTheEngine();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(ControlEmulator(L"{\"reset\": true}"), 200);
    ASSERT_EQ(ControlEmulator(c.share), 200);
    if (c.fault) {
      ASSERT_EQ(ControlEmulator(c.fault), 200);
    }
    ASSERT_TRUE(CreateDirectories(saveFolder_));
    const std::string mine = "the player's own Brinemarch.part2.rar";
    ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\Brinemarch.part2.rar", mine));
    const std::set<std::wstring> before = Entries(testFolder_);
    const int64_t since = LatestEmulatorRequest();
    window_->boxes.clear();

    Click(*window_, window_->startButton);

    ExpectFailureShown();
    EXPECT_TRUE(StreamRequests(since).empty());
    EXPECT_EQ(Entries(testFolder_), before);
    std::string kept;
    ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\Brinemarch.part2.rar", kept));
    EXPECT_EQ(kept, mine);
  }
}

// The listing is slowed so the presses land while it runs.
TEST_F(FaultMatrixTest, PressesDuringTheListingStartNoSecondRun) {
  ASSERT_EQ(ServeTree(L"{\"name\": \"once.bin\", \"token\": \"tokOnce\", \"size\": 40001}"), 200);
  int presses = 0;
  CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample& sample) {
    if (presses >= 3 || sample.Rows() != 0) return;
    ++presses;
    // The button is disabled at once, so the platform would not even report these; a click
    // that was queued before still finds the run going.
    EXPECT_FALSE(sample.startEnabled);
    Click(window, window.startButton);
    PostMessageW(window.startButton.GetHwnd(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(window.startButton.GetHwnd(), WM_KEYDOWN, VK_SPACE, 0x00390001);
    PostMessageW(window.startButton.GetHwnd(), WM_KEYUP, VK_SPACE, 0xC0390001);
  });
  ASSERT_EQ(ControlEmulator(L"{\"list\": {\"mode\": \"slow\", \"delay_ms\": 1500, \"times\": 1}}"), 200);
  const int64_t since = LatestEmulatorRequest();

  Click(*window_, window_->startButton);

  EXPECT_EQ(presses, 3) << "the listing ended before the presses";
  ExpectSuccessShown();
  EXPECT_EQ(ListingRequests(since), 1);
  EXPECT_EQ(StreamRequests(since, L"tokOnce").size(), 1u);
  EXPECT_TRUE(window_->exitCodes.empty());
}

TEST_F(FaultMatrixTest, EscapeDuringTheListingEndsTheProgram) {
  ASSERT_EQ(ServeTree(L"{\"name\": \"never.bin\", \"token\": \"tokNever\", \"size\": 40001}"), 200);
  CKelMfcAppBase app;  // the application whose pre-translation the run's waits use
  bool pressed = false;
  CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample&) {
    if (pressed) return;
    pressed = true;
    PressEscape(window);
  });
  ASSERT_EQ(ControlEmulator(L"{\"list\": {\"mode\": \"slow\", \"delay_ms\": 1500, \"times\": 1}}"), 200);

  Click(*window_, window_->startButton);

  EXPECT_TRUE(pressed);
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
  EXPECT_TRUE(NoEngineRuns()) << "the engine outlived the close";
}

// The drive no longer takes the build's session; the public share lets a visitor in.
TEST_F(FaultMatrixTest, AVisitorsSessionOfThePublicShareDownloadsTheWholeRun) {
  ASSERT_EQ(
      ServeTree(L"{\"name\": \"one.rar\", \"token\": \"tokV1\", \"size\": 150001},"
                L"{\"name\": \"sub\", \"children\": [{\"name\": \"two.rar\", \"token\": \"tokV2\", \"size\": 90001}]}"),
      200);
  CreateWindowWithTheEngine();
  const int64_t since = LatestEmulatorRequest();
  ASSERT_EQ(ControlEmulator(L"{\"visitor\": {\"public\": true}}"), 200);

  Click(*window_, window_->startButton);

  ExpectSuccessShown();
  const std::vector<LoggedRequest> streams = StreamRequests(since);
  ASSERT_FALSE(streams.empty());
  for (const LoggedRequest& stream : streams) {
    EXPECT_EQ(stream.cookie, L"bm_visitor_trace=tr2y; bm_visitor_session=VsN8qK2xPz; bm_visitor_lang=zh-CN");
    EXPECT_EQ(stream.referer, std::wstring(BRINEMARCH_SHARE_URL));
  }
  // Only the visitor's session is taken now, so the files are checked against a run of it.
  ASSERT_EQ(ControlEmulator(L"{\"visitor\": null}"), 200);
  for (const auto& [name, token] : {std::pair{L"one.rar", L"tokV1"}, std::pair{L"two.rar", L"tokV2"}}) {
    std::string got;
    ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\" + name, got));
    EXPECT_TRUE(got == Served(token)) << testing::PrintToString(std::wstring(name));
  }
}

TEST_F(FaultMatrixTest, AShareThatIsNotPublicFailsTheRunAndTouchesNothing) {
  ASSERT_EQ(ServeTree(L"{\"name\": \"one.rar\", \"token\": \"tokN1\", \"size\": 150001}"), 200);
  CreateWindowWithTheEngine();
  const int64_t since = LatestEmulatorRequest();
  ASSERT_EQ(ControlEmulator(L"{\"visitor\": {\"public\": false}}"), 200);

  Click(*window_, window_->startButton);

  ExpectFailureShown();
  EXPECT_TRUE(StreamRequests(since).empty());
  EXPECT_FALSE(Exists(testFolder_));
}

// The awake request is held while files download and given back however the run ends; the
// taskbar button shows the run's bytes; a run that ends behind another window flashes it.
// (Wine keeps no taskbar, power or flash state to read back, so the calls are recorded.)
TEST_F(FaultMatrixTest, TheRunKeepsTheComputerAwakeShowsOnTheTaskbarAndFlashesWhenBehind) {
  CKelMfcAppBase app;  // the application whose pre-translation the run's waits use
  struct Case {
    const wchar_t* what;
    const wchar_t* stream;  // a stream fault, or nullptr
    bool inFront;
    bool escape;
    std::vector<std::wstring> calls;
  };
  const Case cases[] = {
      {L"success in front", nullptr, true, false, {L"awake", L"asleep"}},
      {L"failure behind another window",
       LR"({"status": 404, "token": "tokAw2"})",
       false,
       false,
       {L"awake", L"asleep", L"flash"}},
      {L"close during the run", LR"({"throttle": 65536})", true, true, {L"awake", L"asleep", L"asleep"}},
  };
  bool escape = false, escaped = false, awakeWhileRunning = true;
  CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample& sample) {
    if (sample.RowsWithStatus() == 0 || escaped) return;
    awakeWhileRunning = awakeWhileRunning && !window.platformCalls.empty() && window.platformCalls.back() == L"awake";
    if (escape && !escaped) {
      escaped = true;
      PressEscape(window);
    }
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(ServeTree(L"{\"name\": \"aw1.bin\", \"token\": \"tokAw1\", \"size\": 300001},"
                        L"{\"name\": \"aw2.bin\", \"token\": \"tokAw2\", \"size\": 300002}"),
              200);
    if (c.stream) {
      ASSERT_EQ(ControlEmulator(std::wstring(L"{\"stream\": ") + c.stream + L"}"), 200);
    }
    // Every case downloads: parts finished by the case before would not be fetched again.
    std::error_code ignored;
    fs::remove_all(saveFolder_, ignored);
    window_->platformCalls.clear();
    window_->taskbar.clear();
    window_->boxes.clear();
    window_->inFront = c.inFront;
    escape = c.escape;
    awakeWhileRunning = true;
    Click(*window_, window_->startButton);
    EXPECT_EQ(window_->platformCalls, c.calls);
    EXPECT_TRUE(awakeWhileRunning) << "a sample of the run found the awake request given back";
    // The taskbar: indeterminate first, then the bar's percent of the run (the listing gave
    // both sizes) never falling, then the end: nothing after success, the error state
    // (until the box is gone) after a failure.
    const auto& shown = window_->taskbar;
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown.front().state, TBPF_INDETERMINATE);
    uint64_t last = 0;
    bool sawNormal = false;
    for (const auto& step : shown) {
      if (step.state != TBPF_NORMAL) continue;
      sawNormal = true;
      EXPECT_GE(step.completed, last);
      EXPECT_EQ(step.total, 100u);
      last = step.completed;
    }
    EXPECT_TRUE(sawNormal);
    if (!c.escape) {
      const bool failed = c.stream != nullptr;
      EXPECT_EQ(shown.back().state, TBPF_NOPROGRESS);
      if (failed) {
        ASSERT_GE(shown.size(), 2u);
        EXPECT_EQ(shown[shown.size() - 2].state, TBPF_ERROR);
        EXPECT_LT(last, 100u) << "a failed run is not full";
      } else {
        EXPECT_EQ(last, 100u);
      }
    }
    window_->startButton.SetText(L"开始下载");
    ASSERT_EQ(ControlEmulator(L"{\"reset\": true}"), 200);
  }
  EXPECT_TRUE(escaped);
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
}

// -- Streams ----------------------------------------------------------------------------------

TEST_F(FaultMatrixTest, AStreamThatDropsIsResumedAndTheFileArrivesWhole) {
  ASSERT_EQ(ServeTree(L"{\"name\": \"resumed.bin\", \"token\": \"tokResumed\", \"size\": 1572871},"
                      L"{\"name\": \"steady.bin\", \"token\": \"tokSteady\", \"size\": 300001}"),
            200);
  ASSERT_EQ(ControlEmulator(L"{\"stream\": {\"drop_after\": 400000, \"token\": \"tokResumed\", \"times\": 2}}"), 200);
  CreateWindowWithTheEngine();
  const int64_t before = LatestEmulatorRequest();
  ASSERT_GE(before, 0);

  Click(*window_, window_->startButton);

  ExpectSuccessShown();
  ASSERT_EQ(ControlEmulator(L"{\"stream\": null}"), 200);
  std::string resumed, steady;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\resumed.bin", resumed));
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\steady.bin", steady));
  EXPECT_TRUE(resumed == Served(L"tokResumed"));
  EXPECT_TRUE(steady == Served(L"tokSteady"));
  // Two drops, so at least three requests; a later one goes on from where the bytes ended.
  const std::vector<LoggedRequest> requests = StreamRequests(before, L"tokResumed");
  EXPECT_GE(requests.size(), 3u);
  bool continued = false;
  for (const LoggedRequest& request : requests) {
    if (request.range.starts_with(L"bytes=") && std::wcstoll(request.range.c_str() + 6, nullptr, 10) > 0) {
      continued = true;
    }
  }
  EXPECT_TRUE(continued) << "every request started from the first byte";
  EXPECT_EQ(Entries(saveFolder_), (std::set<std::wstring>{L"resumed.bin", L"steady.bin"}));
  EXPECT_TRUE(RowEndedAfter(0, L"完成"));
}

TEST_F(FaultMatrixTest, AMissingFileFailsTheRunAndTheUsersFileOfThatNameComesBack) {
  ASSERT_EQ(ServeTree(L"{\"name\": \"good.bin\", \"token\": \"tokGood\", \"size\": 200003},"
                      L"{\"name\": \"missing.rar\", \"token\": \"tokMissing\", \"size\": 100000}"),
            200);
  ASSERT_EQ(ControlEmulator(L"{\"stream\": {\"status\": 404, \"token\": \"tokMissing\"}}"), 200);
  ASSERT_TRUE(CreateDirectories(saveFolder_));
  const std::string mine = "the user's own missing.rar";
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\missing.rar", mine));
  CreateWindowWithTheEngine();

  Click(*window_, window_->startButton);

  ExpectFailureShown();
  ASSERT_EQ(window_->fileList.GetRowCount(), 2);
  std::string good, missing;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\good.bin", good));
  EXPECT_TRUE(good == Served(L"tokGood"));
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\missing.rar", missing));
  EXPECT_EQ(missing, mine);
  EXPECT_EQ(Entries(saveFolder_), (std::set<std::wstring>{L"good.bin", L"missing.rar"}));
  // The failed row says so, with the reason the box gives; the good one ended whole.
  EXPECT_TRUE(RowFailedAfter(1, L"error"));
  EXPECT_EQ(window_->fileList.GetCellText(1, 3), L"0Byte/S");
  EXPECT_TRUE(RowEndedAfter(0, L"完成"));
  EXPECT_NE(window_->boxes[0].text.find(L"missing.rar（找不到资源）"), std::wstring::npos)
      << testing::PrintToString(window_->boxes[0].text);
}

TEST_F(FaultMatrixTest, AnExpiredDownloadSessionFailsEveryFileAndLeavesOnlyTheUsersFile) {
  ASSERT_EQ(ServeTree(L"{\"name\": \"one.rar\", \"token\": \"tokOne\", \"size\": 150001},"
                      L"{\"name\": \"two.rar\", \"token\": \"tokTwo\", \"size\": 90000}"),
            200);
  // The listing still works; the drive no longer accepts the session's download cookie (403).
  // With a key in the build the run ends at the manifest (ReleaseTest); without one, at the
  // streams.
  ASSERT_EQ(ControlEmulator(L"{\"cookies\": {\"download\": \"Cookie: session=renewed\"}, \"signing\": null}"), 200);
  ASSERT_TRUE(CreateDirectories(saveFolder_));
  const std::string mine = "the user's own two.rar";
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\two.rar", mine));
  CreateWindowWithTheEngine();
  window_->downloadEngine.manifestKey = CWString();
  const int64_t before = LatestEmulatorRequest();

  Click(*window_, window_->startButton);

  ExpectFailureShown();
  ASSERT_EQ(window_->fileList.GetRowCount(), 2);
  EXPECT_FALSE(StreamRequests(before, L"tokOne").empty());
  EXPECT_FALSE(StreamRequests(before, L"tokTwo").empty());
  std::string two;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\two.rar", two));
  EXPECT_EQ(two, mine);
  EXPECT_EQ(Entries(saveFolder_), (std::set<std::wstring>{L"two.rar"}));
  for (int row = 0; row < 2; ++row) EXPECT_TRUE(RowFailedAfter(row, L"error"));
}

// -- The engine -------------------------------------------------------------------------------

TEST_F(FaultMatrixTest, TheEngineKilledDuringARunFailsItAndKeepsThePlayersFileAside) {
  ASSERT_EQ(ServeTree(L"{\"name\": \"k0.rar\", \"token\": \"tokKill0\", \"size\": 2097152, \"throttle_bps\": 131072},"
                      L"{\"name\": \"k1.rar\", \"token\": \"tokKill1\", \"size\": 2097152, \"throttle_bps\": 131072},"
                      L"{\"name\": \"k2.rar\", \"token\": \"tokKill2\", \"size\": 2097152, \"throttle_bps\": 131072}"),
            200);
  ASSERT_TRUE(CreateDirectories(saveFolder_));
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\k0.rar", "mine"));
  bool killed = false;
  CreateWindowWithTheEngine([&](TestMainWindow&, const RunSample& sample) {
    if (killed || sample.Rows() != 3) return;
    for (const auto& row : sample.cells) {
      if (row[5] != L"下载") return;
    }
    // Every file is downloading: the engine goes as a crash or the task manager would end it.
    const int64_t engine = FindProcessId(L"aria2c.exe");
    UniqueHandle process(engine > 0 ? OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(engine)) : nullptr);
    killed = process && TerminateProcess(process.Get(), 1);
  });

  Click(*window_, window_->startButton);

  ASSERT_TRUE(killed);
  ExpectFailureShown();
  EXPECT_EQ(window_->downloadEngine.engine.ready.load(), 0);
  // What the engine wrote waits for the next run (the record names it unfinished), and the
  // player's file waits aside until k0 is whole.
  std::string k0;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\k0.rar.bak", k0));
  EXPECT_EQ(k0, "mine");
  const std::set<std::wstring> allowed = {L"k0.rar", L"k0.rar.aria2", L"k1.rar",    L"k1.rar.aria2",
                                          L"k2.rar", L"k2.rar.aria2", L"k0.rar.bak"};
  const std::set<std::wstring> left = Entries(saveFolder_);
  for (const std::wstring& entry : left) EXPECT_TRUE(allowed.count(entry)) << testing::PrintToString(entry);
  for (int row = 0; row < 3; ++row) EXPECT_TRUE(RowFailedAfter(row, L"error"));

  // The window does not start another engine: the next press fails at once, without a
  // download, until the program is started again.
  const int64_t before = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  EXPECT_EQ(window_->boxes.size(), 2u);
  EXPECT_EQ(window_->startButton.GetText(), L"开始下载");
  EXPECT_EQ(window_->engineStarts, 1);
  EXPECT_TRUE(StreamRequests(before).empty());
  EXPECT_TRUE(NoEngineRuns());
  EXPECT_EQ(Entries(saveFolder_), left);
}

// -- Names --------------------------------------------------------------------------------------

TEST_F(FaultMatrixTest, HostileAndChineseNamesStayInTheSaveFolderAndArriveIntact) {
  // Names as a drive may list them: path steps, a drive, a device, separators, a colon,
  // Chinese with spaces, a file in a sub-folder and an empty file.
  ASSERT_EQ(ServeTree(LR"({"name": "..\\..\\x.exe", "token": "tokUp", "size": 1024},
                          {"name": "C:\\x", "token": "tokDrive", "size": 1025},
                          {"name": "CON", "token": "tokDevice", "size": 1026},
                          {"name": "a/b.txt", "token": "tokSlash", "text": "slash in the name\n"},
                          {"name": "c:d.txt", "token": "tokColon", "text": "colon in the name\n"},
                          {"name": "客户端 补丁 第1部分.rar", "token": "tokChinese", "size": 65536},
                          {"name": "子目录 资料", "children": [
                            {"name": "说明 文档.txt", "token": "tokInner", "text": "中文内容\n"}]},
                          {"name": "empty.bin", "token": "tokEmpty", "size": 0})"),
            200);
  const struct {
    const wchar_t* saved;  // below the save folder
    const wchar_t* token;
  } files[] = {{L"_\\_\\x.exe", L"tokUp"},      {L"C_\\x", L"tokDrive"},    {L"_CON", L"tokDevice"},
               {L"a\\b.txt", L"tokSlash"},      {L"c_d.txt", L"tokColon"},  {L"客户端 补丁 第1部分.rar", L"tokChinese"},
               {L"说明 文档.txt", L"tokInner"}, {L"empty.bin", L"tokEmpty"}};
  const std::wstring runs = fs::path(testFolder_).parent_path().wstring();
  DeleteFileW((runs + L"\\x.exe").c_str());
  // No signed manifest names such files: the names are what a build without a key meets.
  ASSERT_EQ(ControlEmulator(L"{\"signing\": null}"), 200);
  CreateWindowWithTheEngine();
  window_->downloadEngine.manifestKey = CWString();
  const std::set<std::wstring> rootBefore = Children(L"C:\\");

  Click(*window_, window_->startButton);

  ExpectSuccessShown();
  std::set<std::wstring> expected{L"_", L"_\\_", L"C_", L"a"};
  for (const auto& file : files) {
    expected.insert(file.saved);
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(saveFolder_ + L"\\" + file.saved, bytes) && bytes == Served(file.token))
        << testing::PrintToString(std::wstring(file.saved));
  }
  EXPECT_EQ(Entries(saveFolder_), expected);
  std::string empty = "not read";
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\empty.bin", empty));
  EXPECT_TRUE(empty.empty());
  std::string inner;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\说明 文档.txt", inner));
  EXPECT_EQ(inner, "中文内容\n");
  // Nothing beside or above the save folder, nothing at the drive's root.
  EXPECT_EQ(Children(testFolder_), std::set<std::wstring>{L"Brinemarch"});
  EXPECT_FALSE(Exists(runs + L"\\x.exe"));
  EXPECT_EQ(Children(L"C:\\"), rootBefore);
  // Each row names where its file went and ends finished after completing.
  ASSERT_EQ(window_->fileList.GetRowCount(), 8);
  for (int row = 0; row < 8; ++row) {
    std::wstring shown = files[row].saved;
    std::replace(shown.begin(), shown.end(), L'\\', L'/');
    EXPECT_TRUE(window_->fileList.GetCellText(row, 1).ToStdString().ends_with(L"Brinemarch/" + shown))
        << testing::PrintToString(window_->fileList.GetCellText(row, 1).ToStdString());
    EXPECT_TRUE(RowEndedAfter(row, L"完成"));
  }
}

// -- Sizes --------------------------------------------------------------------------------------

// The one row is downloading and shows the length the engine knows (0 and no percent until the
// server's answer came; a sample may fall between the cells of one update).
bool KnowsItsLength(const RunSample& sample) {
  return sample.Rows() == 1 && sample.cells[0][5] == L"下载" && sample.cells[0][2] != L"0Byte" &&
         !sample.cells[0][4].empty();
}

TEST_F(FaultMatrixTest, AFileBeyondFourGibShowsItsSizeAndAnEscapeLeavesItIncomplete) {
  constexpr int64_t kHugeSize = 5LL * 1024 * 1024 * 1024 + 123;
  // At full speed for its first MiB, then slow: the run is still going when the key comes.
  ASSERT_EQ(ServeTree(L"{\"name\": \"huge.bin\", \"token\": \"tokHuge\", \"size\": " + std::to_wstring(kHugeSize) +
                      L", \"throttle_after\": 1048576, \"throttle_bps\": 262144}"),
            200);
  CKelMfcAppBase app;  // the application whose pre-translation the run's waits use
  int liveSamples = 0;
  bool escapeSent = false;
  size_t samplesBeforeEscape = 0;
  CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample& sample) {
    if (escapeSent || !KnowsItsLength(sample)) return;
    if (++liveSamples < 20) return;
    escapeSent = true;
    samplesBeforeEscape = watch_->samples.size();
    PressEscape(window);
  });

  Click(*window_, window_->startButton);

  ASSERT_TRUE(escapeSent);
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
  EXPECT_EQ(window_->downloadEngine.engine.ready.load(), 0);
  EXPECT_TRUE(NoEngineRuns());
  EXPECT_NE(window_->startButton.GetText(), L"安装游戏");
  const std::wstring size = FormatSize(static_cast<double>(kHugeSize)).ToStdString();
  EXPECT_TRUE(size.ends_with(L"GB")) << testing::PrintToString(size);
  // Up to the key: afterwards the engine is gone and the row is emptied cell by cell, which a
  // sample may catch half done.
  int checked = 0;
  ASSERT_LE(samplesBeforeEscape, watch_->samples.size());
  for (size_t i = 0; i < samplesBeforeEscape; ++i) {
    const RunSample& sample = watch_->samples[i];
    if (!KnowsItsLength(sample)) continue;
    ++checked;
    const std::vector<std::wstring>& row = sample.cells[0];
    EXPECT_EQ(row[2], size);
    ASSERT_TRUE(row[4].ends_with(L"%")) << testing::PrintToString(row[4]);
    const double percent = std::wcstod(row[4].c_str(), nullptr);
    EXPECT_GE(percent, 0.0);
    EXPECT_LT(percent, 100.0);
    EXPECT_TRUE(row[3].ends_with(L"/S") && !row[3].starts_with(L"-")) << testing::PrintToString(row[3]);
  }
  EXPECT_GE(checked, 20);
  const std::vector<std::wstring> status = cellLog_->History(0, 5);
  EXPECT_FALSE(Contains(status, L"完成"));
  EXPECT_FALSE(Contains(status, L"完毕"));
  // Whatever the engine left is marked as unfinished by its control file.
  if (Exists(saveFolder_ + L"\\huge.bin")) {
    EXPECT_TRUE(Exists(saveFolder_ + L"\\huge.bin.aria2"));
  }
  std::error_code ignored;
  fs::remove_all(testFolder_, ignored);
}

}  // namespace
