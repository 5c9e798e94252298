// Whole download runs of the main window with the real engine against the drive emulator
// (started by the test fixture on the build's drive address, serving the stand-in installer as
// part 1 of the demo share): the running, finished and installed states, and a close request
// during a run.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/application.h"
#include "app_test_support.h"
#include "runtime/convert.h"

namespace {

constexpr int kDemoFiles = 10;

using RunTest = EngineRunTest;

TEST_F(RunTest, ARunFillsTheRowsThenOffersTheInstallWhichStartsTheDownloadedInstaller) {
  // Streams slow enough for the run to be watched (a part takes about two seconds).
  ASSERT_EQ(ControlEmulator(L"{\"stream\": {\"throttle\": 524288}}"), 200);
  CreateWindowWithTheEngine();
  // Ready: the default folder was replaced by the test's; list and picture hidden.
  EXPECT_FALSE(window_->fileList.IsVisible());
  EXPECT_FALSE(window_->pictureBox.IsVisible());

  Click(*window_, window_->startButton);

  EXPECT_TRUE(window_->boxes.empty());
  EXPECT_EQ(window_->startButton.GetText(), L"安装游戏");
  EXPECT_TRUE(window_->startButton.IsEnabled());
  EXPECT_TRUE(window_->pictureBox.IsVisible());
  EXPECT_FALSE(window_->fileList.IsVisible());
  EXPECT_FALSE(window_->IsRunning());

  // While running: the button disabled, the list shown with one row per file, live texts.
  bool sawRunning = false;
  bool sawLiveText = false;
  for (const RunSample& sample : watch_->samples) {
    if (!sample.startEnabled && sample.listVisible && sample.Rows() == kDemoFiles) sawRunning = true;
    if (sample.RowsWithStatus() > 0) sawLiveText = true;
  }
  EXPECT_TRUE(sawRunning);
  EXPECT_TRUE(sawLiveText);
  ASSERT_EQ(window_->fileList.GetRowCount(), kDemoFiles);
  for (int row = 0; row < kDemoFiles; ++row) {
    EXPECT_EQ(window_->fileList.GetCellText(row, 0), CWString(std::to_wstring(row).c_str())) << row;
    EXPECT_FALSE(window_->fileList.GetCellText(row, 1).IsEmpty()) << row;
  }

  // The files are there: the installer byte for byte, the file of a sub-folder with its size.
  std::string served, downloaded;
  ASSERT_TRUE(ReadFileBytes(ProgramFolder() + L"..\\standin_installer\\Brinemarch.part1.exe", served));
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\Brinemarch.part1.exe", downloaded));
  EXPECT_TRUE(served == downloaded);
  std::string manual;
  ASSERT_TRUE(ReadFileBytes(saveFolder_ + L"\\Brinemarch-manual.pdf", manual));
  EXPECT_EQ(manual.size(), 307201u);

  // Install: the downloaded stand-in starts and records it; the downloader ends.
  const std::wstring marker = saveFolder_ + L"\\Brinemarch.part1.started.txt";
  Click(*window_, window_->startButton);
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
  // The stand-in notes its command line: the quoted program path.
  EXPECT_EQ(StartedCommandLine(marker), CWString((L"\"" + saveFolder_ + L"\\Brinemarch.part1.exe\"").c_str()));
}

TEST_F(RunTest, EscapeDuringARunStopsTheEngineAndEndsTheProgram) {
  // Slow streams: the run is still going when the key arrives.
  ASSERT_EQ(ControlEmulator(L"{\"stream\": {\"throttle\": 32768}}"), 200);
  CKelMfcAppBase app;  // the application whose pre-translation the run's waits use
  bool escapeSent = false;
  CreateWindowWithTheEngine([&](TestMainWindow& window, const RunSample& sample) {
    // Once every file was handed to the engine and reported: the run is only waiting then.
    if (escapeSent || sample.Rows() != kDemoFiles || sample.RowsWithStatus() != kDemoFiles) return;
    escapeSent = true;
    PressEscape(window);
  });

  Click(*window_, window_->startButton);

  EXPECT_TRUE(escapeSent);
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
  EXPECT_EQ(window_->downloadEngine.engine.ready.load(), 0);
  EXPECT_FALSE(window_->IsRunning());
  // The process would have ended; here the run came back as unfinished.
  EXPECT_EQ(window_->startButton.GetText(), L"开始下载");
}

}  // namespace
