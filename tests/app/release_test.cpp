// Runs over signed shares, with the real engine against the drive emulator: only what the
// publisher signed is shown and fetched, every part is checked against the manifest's hash,
// and a release that cannot be trusted fails before any part's stream.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "build_config.h"
#include "engine/engine.h"

namespace {

// Two parts and a file beside them, in the share's root.
constexpr const wchar_t* kShare =
    L"{\"tree\": {\"name\": \"Brinemarch\", \"children\": ["
    L"{\"name\": \"v1.rar\", \"token\": \"tokV1\", \"size\": 1048583},"
    L"{\"name\": \"v2.rar\", \"token\": \"tokV2\", \"size\": 700001},"
    L"{\"name\": \"extra.txt\", \"token\": \"tokExtra\", \"size\": 12}]}}";

class ReleaseTest : public EngineRunTest {
 protected:
  void SetUp() override {
    EngineRunTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (std::wstring(BRINEMARCH_MANIFEST_KEY).empty()) GTEST_SKIP() << "a build without a manifest key";
    ASSERT_EQ(ControlEmulator(kShare), 200);
  }

  // The part's file is the drive's bytes.
  void ExpectServed(const wchar_t* name, const wchar_t* token) {
    std::string served, saved;
    ASSERT_EQ(FetchServedFile(token, served), 200);
    ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\" + name, saved)) << testing::PrintToString(name);
    EXPECT_TRUE(saved == served) << testing::PrintToString(name) << " differs from the drive's bytes";
  }

  // Stream requests since sequence number since for the file token.
  int StreamsOf(int64_t since, const std::wstring& token) {
    std::vector<LoggedRequest> requests;
    EXPECT_GE(EmulatorRequests(since, requests), 0);
    int streams = 0;
    for (const LoggedRequest& request : requests) streams += request.path == kStreamPath + token ? 1 : 0;
    return streams;
  }

  std::wstring OnlyBox() const { return window_->boxes.size() == 1 ? window_->boxes[0].text : L"(no single box)"; }
};

TEST_F(ReleaseTest, OnlySignedPartsAreShownAndADamagedStreamIsFetchedAgain) {
  ASSERT_EQ(ControlEmulator(L"{\"signing\": {\"key\": \"publisher\", \"leave_out\": [\"extra.txt\"]},"
                            L" \"stream\": {\"corrupt\": 1, \"token\": \"tokV1\", \"times\": 1}}"),
            200);
  const int64_t since = LatestEmulatorRequest();
  CreateWindowWithTheEngine();
  Click(*window_, window_->startButton);
  EXPECT_TRUE(window_->boxes.empty()) << testing::PrintToString(OnlyBox());
  EXPECT_EQ(window_->startButton.GetText(), L"安装游戏");
  EXPECT_EQ(window_->fileList.GetRowCount(), 2);
  ExpectServed(L"v1.rar", L"tokV1");
  ExpectServed(L"v2.rar", L"tokV2");
  EXPECT_EQ(StreamsOf(since, L"tokExtra"), 0) << "a file the manifest does not name was fetched";
  EXPECT_GE(StreamsOf(since, L"tokV1"), 2) << "the damaged part was not fetched again";
  EXPECT_EQ(GetFileAttributesW((saveFolder_ + L"\\brinemarch-manifest.json").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ReleaseTest, AReleaseThatCannotBeTrustedFailsBeforeAnyPartIsAskedFor) {
  struct Case {
    const wchar_t* control;
    const wchar_t* reason;
  };
  const Case cases[] = {
      {L"{\"signing\": {\"key\": \"stranger\"}}", main_window::kReleaseNotSignedText},
      {L"{\"signing\": null}", main_window::kReleaseMissingText},
      {L"{\"cookies\": {\"download\": \"Cookie: session=renewed\"}}", L"无法读取网盘上的发行清单"},
      {L"{\"replace\": {\"token\": \"tokV2\", \"size\": 700002, \"signed\": false}}", L"v2.rar"},
  };
  CreateWindowWithTheEngine();
  for (const Case& c : cases) {
    ASSERT_EQ(ControlEmulator(L"{\"reset\": true}"), 200);
    ASSERT_EQ(ControlEmulator(kShare), 200);
    ASSERT_EQ(ControlEmulator(c.control), 200);
    window_->boxes.clear();
    const int64_t since = LatestEmulatorRequest();
    Click(*window_, window_->startButton);
    EXPECT_NE(OnlyBox().find(c.reason), std::wstring::npos) << testing::PrintToString(OnlyBox());
    EXPECT_EQ(window_->startButton.GetText(), L"开始下载");
    EXPECT_EQ(StreamsOf(since, L"tokV1") + StreamsOf(since, L"tokV2"), 0);
    EXPECT_EQ(GetFileAttributesW(saveFolder_.c_str()), INVALID_FILE_ATTRIBUTES) << "the save folder was made";
  }
}

TEST_F(ReleaseTest, APartChangedAfterSigningFailsAndTheOtherArrives) {
  // Same size, other bytes: only its hash tells.
  ASSERT_EQ(ControlEmulator(L"{\"replace\": {\"token\": \"tokV2\", \"size\": 700001, \"seed\": 9, \"signed\": false}}"),
            200);
  CreateWindowWithTheEngine();
  Click(*window_, window_->startButton);
  EXPECT_NE(OnlyBox().find(kNotVerifiedText), std::wstring::npos) << testing::PrintToString(OnlyBox());
  EXPECT_EQ(window_->startButton.GetText(), L"开始下载");
  EXPECT_TRUE(window_->exitCodes.empty());
  ExpectServed(L"v1.rar", L"tokV1");
  EXPECT_EQ(GetFileAttributesW((saveFolder_ + L"\\v2.rar").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Files of the parts' names and sizes already in the save folder: one that is the part is
// checked and kept instead of fetched; one with other bytes is fetched, and goes.
TEST_F(ReleaseTest, AFileOfThePartsSizeIsCheckedInsteadOfFetched) {
  std::string v1, v2;
  ASSERT_EQ(FetchServedFile(L"tokV1", v1), 200);
  ASSERT_EQ(FetchServedFile(L"tokV2", v2), 200);
  std::string other = v2;
  other[other.size() / 3] ^= 0x01;
  ASSERT_TRUE(CreateDirectories(saveFolder_));
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\v1.rar", v1));
  ASSERT_TRUE(WriteFileBytes(saveFolder_ + L"\\v2.rar", other));
  // Paced, so the bytes counted are the bytes the engine took, not what sat in the socket.
  ASSERT_EQ(ControlEmulator(L"{\"pace\": 524288}"), 200);
  const int64_t since = LatestEmulatorRequest();
  CreateWindowWithTheEngine();
  Click(*window_, window_->startButton);
  EXPECT_TRUE(window_->boxes.empty()) << testing::PrintToString(OnlyBox());
  EXPECT_EQ(window_->startButton.GetText(), L"安装游戏");
  const int64_t sentV1 = SentBytes(since, L"tokV1");
  std::printf("a whole part checked: %lld of %zu bytes streamed\n", static_cast<long long>(sentV1), v1.size());
  EXPECT_LT(sentV1, static_cast<int64_t>(v1.size() / 2)) << "the part already there was fetched again";
  ASSERT_EQ(ControlEmulator(L"{\"pace\": null}"), 200);
  ExpectServed(L"v1.rar", L"tokV1");
  ExpectServed(L"v2.rar", L"tokV2");
  for (const wchar_t* backup : {L"\\v1.rar.bak", L"\\v2.rar.bak"}) {
    EXPECT_EQ(GetFileAttributesW((saveFolder_ + backup).c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

}  // namespace
