// Where the game goes: the folder proposed at start for the place the program was started
// from, the engine's files missing beside it, a save folder that cannot be written and paths
// beyond Windows' classic limit; each told before anything is requested or created.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "app/folder_choice.h"
#include "app_test_support.h"
#include "waits.h"
#include "runtime/utils.h"

namespace {

using namespace main_window;

std::wstring TempFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  return temp;
}

// The read-only mount the ctest fixture makes, as Windows names it; "" when there is none.
std::wstring ReadOnlyFolder() {
  std::wstring folder = L"Z:" BM_READONLY_MOUNT;
  for (wchar_t& c : folder) c = c == L'/' ? L'\\' : c;
  return FileExists(folder + L"\\read-only-mount") ? folder + L"\\" : std::wstring();
}

// A folder on the test prefix's drive of that kind (scripts/wine-env.sh makes them with the
// prefix); "" when the prefix has none.
std::wstring DriveOfKind(const wchar_t* root, UINT kind) {
  return GetDriveTypeW(root) == kind ? std::wstring(root) + L"bm-start\\" : std::wstring();
}

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
  return CompareStringOrdinal(path.c_str(), static_cast<int>(std::min(path.size(), folder.size())), folder.c_str(),
                              static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

class FolderChoiceTest : public ::testing::Test {
 protected:
  // The window as if the program were in programFolder, once its start after the first
  // paint is over (the engine start is recorded as having answered).
  void Create(const std::wstring& programFolder) {
    window_ = std::make_unique<TestMainWindow>(1);
    window_->programFolder = programFolder;
    ASSERT_TRUE(window_->CreateTopLevel());
    ASSERT_TRUE(PollUntil([&] { return window_->startButton.IsEnabled(); }, 30000, PollMode::kDispatchMessages))
        << "the window did not finish its start within 30 s";
  }

  std::unique_ptr<TestMainWindow> window_;
};

struct Start {
  const char* name;
  std::wstring (*folder)();  // the program's folder, made empty
  bool engine, settings;     // aria2c.exe, aria2.conf beside the program
  const wchar_t* barText;
  bool elsewhere;  // the proposed save folder lies outside the program's folder
};

class StartingPlaceTest : public FolderChoiceTest, public ::testing::WithParamInterface<Start> {};

TEST_P(StartingPlaceTest, TheBoxProposesAFolderThatKeepsTheGameAndTheBarSaysWhy) {
  const Start& start = GetParam();
  const std::wstring folder = start.folder();
  if (folder.empty())
    GTEST_SKIP() << "no such place here (the read-only mount needs root; the drives come with a new prefix)";
  if (!FileExists(folder + L"read-only-mount")) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    ASSERT_TRUE(CreateDirectories(folder.c_str()));
    if (start.engine) {
      ASSERT_TRUE(WriteFileBytes(folder + L"aria2c.exe", ""));
    }
    if (start.settings) {
      ASSERT_TRUE(WriteFileBytes(folder + L"aria2.conf", ""));
    }
  }
  const int64_t before = LatestEmulatorRequest();
  Create(folder);
  const std::wstring box = window_->saveFolderBox.GetText().ToStdString();
  EXPECT_EQ(window_->progressBar.GetText(), start.barText);
  EXPECT_TRUE(box.ends_with(L"\\Brinemarch")) << testing::PrintToString(box);
  EXPECT_EQ(StartsWithFolder(box, folder), !start.elsewhere) << testing::PrintToString(box);
  EXPECT_FALSE(StartsWithFolder(box, TempFolder())) << testing::PrintToString(box);
  EXPECT_EQ(ProbeWritableFolder(box.c_str()), 0u) << testing::PrintToString(box);
  EXPECT_FALSE(window_->pictureBox.IsVisible());
  if (start.engine && start.settings) {
    EXPECT_EQ(window_->engineStarts, 1);
    return;
  }
  // Without the engine's files nothing starts, and a press lists nothing.
  EXPECT_EQ(window_->engineStarts, 0);
  Click(*window_, window_->startButton);
  ASSERT_EQ(window_->boxes.size(), 1u);
  EXPECT_EQ(window_->boxes[0].text, kUnpackAllText);
  EXPECT_EQ(LatestEmulatorRequest(), before) << "a press without the engine's files made a request";
  EXPECT_TRUE(window_->startButton.IsEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Places, StartingPlaceTest,
    ::testing::Values(
        Start{"OwnFolder", [] { return std::wstring(L"C:\\bm-start\\own\\"); }, true, true, L"", false},
        Start{"ArchiveViewersTemporaryFolder", [] { return TempFolder() + L"bm-viewer\\Brinemarch下载器\\"; }, true,
              true, kTemporaryPlaceText, true},
        Start{"ReadOnlyFolder", &ReadOnlyFolder, true, true, kReadOnlyPlaceText, true},
        Start{"RemovableDrive", [] { return DriveOfKind(L"R:\\", DRIVE_REMOVABLE); }, true, true, kRemovablePlaceText,
              true},
        Start{"NetworkDrive", [] { return DriveOfKind(L"N:\\", DRIVE_REMOTE); }, true, true, kNetworkPlaceText, true},
        Start{"WithoutTheEngine", [] { return std::wstring(L"C:\\bm-start\\no-engine\\"); }, false, true,
              kUnpackAllText, false},
        Start{"WithoutTheEnginesSettings", [] { return std::wstring(L"C:\\bm-start\\no-settings\\"); }, true, false,
              kUnpackAllText, false}),
    [](const ::testing::TestParamInfo<Start>& info) { return std::string(info.param.name); });

TEST_F(FolderChoiceTest, AReadOnlySaveFolderIsToldBeforeAnyRequest) {
  const std::wstring readOnly = ReadOnlyFolder();
  if (readOnly.empty()) GTEST_SKIP() << "no read-only mount (the ctest fixture makes one as root)";
  Create(L"");
  const std::wstring saveFolder = readOnly + L"Brinemarch";
  window_->saveFolderBox.SetText(saveFolder.c_str());
  const int64_t before = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ASSERT_EQ(window_->boxes.size(), 1u);
  const std::wstring& text = window_->boxes[0].text;
  EXPECT_TRUE(text.starts_with(L"无法写入保存目录：\n" + saveFolder + L"\n\n原因：")) << testing::PrintToString(text);
  EXPECT_GT(text.size(), (L"无法写入保存目录：\n" + saveFolder + L"\n\n原因：").size()) << "no reason given";
  EXPECT_EQ(window_->boxes[0].caption, kFailureCaption);
  EXPECT_EQ(LatestEmulatorRequest(), before) << "the run made a request";
  EXPECT_EQ(window_->fileList.GetRowCount(), 0);
  EXPECT_EQ(window_->startButton.GetText(), kStartText);
  EXPECT_TRUE(window_->startButton.IsEnabled());
}

// The demo share (its sub-folder's files saved beside the others) takes the paths of a
// 240-character save folder past 260 characters: refused after the listing with the excess,
// before any part is asked for and before anything is created.
TEST_F(FolderChoiceTest, PathsBeyondTheClassicLimitAreRefusedWithTheExcess) {
  ASSERT_EQ(ControlEmulator(L"{\"reset\": true}"), 200) << "the drive emulator does not answer";
  std::wstring parent = TempFolder() + L"bm long path ";
  parent.append(240 - parent.size() - std::wstring(L"\\Brinemarch").size(), L'x');
  const std::wstring saveFolder = parent + L"\\Brinemarch";
  ASSERT_EQ(saveFolder.size(), 240u);
  std::error_code ignored;
  std::filesystem::remove_all(parent, ignored);
  Create(L"");
  window_->saveFolderBox.SetText(saveFolder.c_str());
  const int64_t before = LatestEmulatorRequest();
  Click(*window_, window_->startButton);
  ASSERT_EQ(window_->boxes.size(), 1u);
  // extras' Brinemarch-manual.pdf and the engine's ".aria2__temp": 240 + 1 + 21 + 12 = 274.
  CWString expected;
  expected.Format(kPathTooLongText, 15, (saveFolder + L"\\Brinemarch-manual.pdf").c_str());
  EXPECT_EQ(window_->boxes[0].text, expected.ToStdString());
  std::vector<LoggedRequest> requests;
  ASSERT_GE(EmulatorRequests(before, requests), 0);
  EXPECT_FALSE(requests.empty()) << "the share was not listed";
  // The release manifest is read before the paths are measured; no part is asked for.
  for (const LoggedRequest& request : StreamRequests(before)) ADD_FAILURE() << request.path;
  EXPECT_FALSE(FileExists(parent)) << "the save folder's parent was created";
  EXPECT_TRUE(window_->startButton.IsEnabled());
}

// A path of 259 characters fits; the engine's control file (".aria2__temp") and the record's
// replacement (".brinemarch-downloads.new") count, and names are taken as they are saved.
TEST(SavePathExcessTest, TheLongestPathIsMeasuredAsTheEngineAndTheRecordWriteIt) {
  const struct {
    int folderLength;
    const wchar_t* name;
    int64_t excess;
    const wchar_t* longestEnd;  // after the folder
  } cases[] = {
      {226, L"Brinemarch.part1.exe", 0, L""},
      {227, L"Brinemarch.part1.exe", 1, L"\\Brinemarch.part1.exe"},
      {233, L"a.rar", 0, L""},
      {234, L"a.rar", 1, L"\\.brinemarch-downloads"},
      {220, L"sub/子目录/Brinemarch.part2.rar", 2, L"\\sub\\子目录\\Brinemarch.part2.rar"},
  };
  for (const auto& c : cases) {
    const CWString folder((L"C:\\" + std::wstring(c.folderLength - 3, L'f')).c_str());
    rg_WenBenShuZuLei names;
    names.Add(CWString(c.name));
    CWString longest;
    EXPECT_EQ(SavePathExcess(folder, names, &longest), c.excess) << c.folderLength << " " << c.name;
    EXPECT_EQ(longest, c.excess == 0 ? CWString() : folder + c.longestEnd) << c.folderLength << " " << c.name;
  }
}

}  // namespace
