// The main window's composition (form, eight controls, geometry, texts, fonts, colours,
// columns) and the workflow behind its buttons with the platform dialogs recorded.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "app_test_support.h"
#include "runtime/convert.h"
#include "runtime/utils.h"
#include "waits.h"

namespace {

using namespace main_window;

struct ControlExpectation {
  int id;
  RECT rect;
  const wchar_t* className;
};

class MainWindowTest : public ::testing::Test {
 protected:
  // The engine start is recorded as having answered; it comes from the message loop.
  void Create(int engineStarted = 1) {
    window_ = std::make_unique<TestMainWindow>(engineStarted);
    ASSERT_TRUE(window_->CreateTopLevel());
    form_ = window_->GetHwnd();
    ASSERT_TRUE(window_->WaitForEngineStart()) << "the window did not start its engine within 30 s";
  }

  std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
  }

  std::unique_ptr<TestMainWindow> window_;
  HWND form_ = nullptr;
};

TEST_F(MainWindowTest, TheFormIsABorderlessWindowOfExactlyTheArtsSize) {
  Create();
  RECT outer{};
  GetWindowRect(form_, &outer);
  EXPECT_EQ(outer.right - outer.left, 624);
  EXPECT_EQ(outer.bottom - outer.top, 375);
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(form_, GWL_STYLE));
  EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME), 0u);
  EXPECT_EQ(style & (WS_SYSMENU | WS_MINIMIZEBOX), DWORD{WS_SYSMENU | WS_MINIMIZEBOX});
  EXPECT_NE(style & WS_CLIPCHILDREN, 0u);
  EXPECT_NE(style & WS_CLIPSIBLINGS, 0u);
  EXPECT_NE(GetWindowLongPtrW(form_, GWL_EXSTYLE) & WS_EX_CONTROLPARENT, 0);
  EXPECT_EQ(ClassOf(form_), L"KelWinForm");
  EXPECT_EQ(window_->GetTitle(), kTitle);
  EXPECT_TRUE(window_->HasImage());
  EXPECT_NE(SendMessageW(form_, WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(form_, WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_EQ(window_->GetPositionState(), kKelPositionCentred);
}

TEST_F(MainWindowTest, EightControlsSitWhereTheArtLeavesThemRoom) {
  Create();
  const ControlExpectation expected[] = {
      {kCloseButton, {579, 0, 624, 29}, L"Button"},
      {kMinimizeButton, {531, 0, 576, 29}, L"Button"},
      {kFileList, {12, 30, 612, 288}, L"SysListView32"},
      {kBrowseButton, {532, 296, 612, 328}, L"Button"},
      {kStartButton, {532, 336, 612, 368}, L"Button"},
      {kSaveFolderBox, {12, 300, 524, 324}, L"Edit"},
      {kProgressBar, {12, 340, 524, 364}, L"msctls_progress32"},
      {kPictureBox, {0, 0, 624, 375}, L"KelContainer"},
  };
  for (const ControlExpectation& control : expected) {
    HWND child = GetDlgItem(form_, control.id);
    ASSERT_NE(child, nullptr) << control.id;
    RECT rect = RectInParent(child);
    EXPECT_EQ(rect.left, control.rect.left) << control.id;
    EXPECT_EQ(rect.top, control.rect.top) << control.id;
    EXPECT_EQ(rect.right, control.rect.right) << control.id;
    EXPECT_EQ(rect.bottom, control.rect.bottom) << control.id;
    EXPECT_EQ(ClassOf(child), control.className) << control.id;
    EXPECT_NE(GetWindowLongPtrW(child, GWL_STYLE) & WS_CHILD, 0) << control.id;
  }
  EXPECT_EQ(window_->closeButton.GetText(), L"×");
  EXPECT_EQ(window_->minimizeButton.GetText(), L"─");
  EXPECT_EQ(window_->browseButton.GetText(), L"浏览");
  EXPECT_EQ(window_->startButton.GetText(), L"开始下载");
}

TEST_F(MainWindowTest, TheCloseButtonHasElevenPointsAndEverythingElseTheNinePointDefault) {
  Create();
  const LONG nine = PointsHeight(9);
  const LONG eleven = PointsHeight(11);
  ASSERT_NE(nine, eleven);
  EXPECT_EQ(FontHeight(window_->closeButton.GetFont()), eleven);
  for (const CKelWinControl* control : std::initializer_list<const CKelWinControl*>{
           &window_->minimizeButton, &window_->browseButton, &window_->startButton, &window_->saveFolderBox}) {
    EXPECT_EQ(FontHeight(control->GetFont()), nine);
  }
}

TEST_F(MainWindowTest, TitleButtonsAreFlatWithTheDarkScheme) {
  Create();
  const CKelSupperButton& close = window_->closeButton.Properties();
  const CKelSupperButton& minimize = window_->minimizeButton.Properties();
  for (const CKelSupperButton* button : {&close, &minimize}) {
    EXPECT_FALSE(button->useSystemColors);
    EXPECT_TRUE(button->flat);
    EXPECT_FALSE(button->roundedCorners);
    EXPECT_FALSE(button->drawHotFrame);
    EXPECT_FALSE(button->focusRectWhenFlat);
    EXPECT_FALSE(button->builtInSound);
    EXPECT_EQ(button->colors.normalBack, 0x191919u);
    EXPECT_EQ(button->colors.focusBack, 0x191919u);
    EXPECT_EQ(button->colors.normalText, 0xFFFFFFu);
    EXPECT_EQ(button->colors.focusText, 0xFFFFFFu);
    EXPECT_EQ(button->colors.hotText, 0xFFFFFFu);
  }
  EXPECT_EQ(close.colors.hotBack, 0x714BF1u);
  EXPECT_EQ(minimize.colors.hotBack, 0xFF8800u);
}

TEST_F(MainWindowTest, TheListIsAFullRowReportWithSixColumns) {
  Create();
  HWND list = window_->fileList.GetHwnd();
  EXPECT_EQ(GetWindowLongPtrW(list, GWL_STYLE) & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_NE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT, 0);
  EXPECT_NE(GetWindowLongPtrW(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
  const std::wstring headers[] = {L"ID", L"文件名", L"文件大小", L"下载速度", L"下载进度", L"当前状态"};
  const int widths[] = {50, 200, 80, 80, 80, 100};
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  ASSERT_EQ(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0), 6);
  for (int i = 0; i < 6; ++i) {
    wchar_t text[32] = {};
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.pszText = text;
    column.cchTextMax = 32;
    ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column))) << i;
    EXPECT_EQ(std::wstring(text), headers[i]);
    EXPECT_EQ(column.cx, widths[i]);
    EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
  }
}

TEST_F(MainWindowTest, BoxBarAndPictureHaveTheirStyles) {
  Create();
  HWND box = window_->saveFolderBox.GetHwnd();
  EXPECT_NE(GetWindowLongPtrW(box, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
  EXPECT_EQ(GetWindowLongPtrW(box, GWL_STYLE) & ES_MULTILINE, 0);
  HWND bar = window_->progressBar.GetHwnd();
  EXPECT_EQ(GetWindowLongPtrW(bar, GWL_STYLE) & PBS_VERTICAL, 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageW(bar, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
  HWND picture = window_->pictureBox.GetHwnd();
  EXPECT_NE(GetWindowLongPtrW(picture, GWL_EXSTYLE) & WS_EX_TRANSPARENT, 0);
  EXPECT_TRUE(window_->pictureBox.HasImage());
}

TEST_F(MainWindowTest, ReadyStateAfterTheEngineAnswered) {
  Create(1);
  EXPECT_EQ(window_->engineStarts, 1);
  CWString folder;
  ASSERT_TRUE(ModuleDirectory(nullptr, folder));
  EXPECT_EQ(window_->saveFolderBox.GetText(), folder + L"Brinemarch");
  EXPECT_FALSE(window_->fileList.IsVisible());
  EXPECT_FALSE(window_->pictureBox.IsVisible());
  EXPECT_TRUE(window_->startButton.IsVisible());
  EXPECT_TRUE(window_->startButton.IsEnabled());
  EXPECT_NE(window_->fileList.SetExtendedStyle(0, 0) & LVS_EX_DOUBLEBUFFER, 0u);
}

// The window shows before its engine starts: nothing starts inside its creation; the start
// comes from the message loop once the window and its controls are painted, and the start
// button waits for it.
TEST_F(MainWindowTest, TheWindowIsPaintedBeforeItsEngineStarts) {
  window_ = std::make_unique<TestMainWindow>(1);
  window_->SetStoredStyle(0, WS_VISIBLE);  // as the player sees it
  ASSERT_TRUE(window_->CreateTopLevel());
  EXPECT_EQ(window_->engineStarts, 0);
  ASSERT_TRUE(window_->WaitForEngineStart()) << "the window did not start its engine within 30 s";
  const TestMainWindow::AtEngineStart& at = window_->atEngineStart;
  EXPECT_TRUE(at.visible);
  EXPECT_TRUE(at.painted);
  EXPECT_FALSE(at.startEnabled);
  EXPECT_FALSE(at.listVisible);
  EXPECT_FALSE(at.pictureVisible);
  EXPECT_TRUE(window_->startButton.IsEnabled());
  EXPECT_FALSE(window_->saveFolderBox.GetText().IsEmpty());
}

TEST_F(MainWindowTest, WithoutAnEngineTheListAndPictureStayAndTheBoxStaysEmpty) {
  Create(0);
  EXPECT_EQ(window_->engineStarts, 1);
  EXPECT_TRUE(window_->saveFolderBox.GetText().IsEmpty());
  EXPECT_TRUE(window_->fileList.IsVisible());
  EXPECT_TRUE(window_->pictureBox.IsVisible());
  EXPECT_NE(window_->fileList.SetExtendedStyle(0, 0) & LVS_EX_DOUBLEBUFFER, 0u);
}

// A row's texts go to its cells; the bar belongs to the whole run, so one row's report
// outside a run leaves it alone.
TEST_F(MainWindowTest, RowProgressFillsTheRowAndLeavesTheBarToTheRun) {
  Create();
  window_->fileList.AppendEmptyRow();
  window_->fileList.AppendEmptyRow();
  window_->OnRowProgress(CWString(L"gid"), CWString(L"C:/Games/Brinemarch.part2.rar"), CWString(L"4.00MB"),
                         CWString(L"1.83MB"), CWString(L"1.20MB/S"), CWString(L"45.7%"), CWString(L"下载"),
                         CWString(L"0:0:2"), CWString(), 1);
  EXPECT_EQ(window_->fileList.GetCellText(1, 0), L"1");
  EXPECT_EQ(window_->fileList.GetCellText(1, 1), L"C:/Games/Brinemarch.part2.rar");
  EXPECT_EQ(window_->fileList.GetCellText(1, 2), L"4.00MB");
  EXPECT_EQ(window_->fileList.GetCellText(1, 3), L"1.20MB/S");
  EXPECT_EQ(window_->fileList.GetCellText(1, 4), L"45.7%");
  EXPECT_EQ(window_->fileList.GetCellText(1, 5), L"下载");
  EXPECT_EQ(window_->fileList.GetCellText(0, 1), L"");
  EXPECT_EQ(window_->progressBar.GetPosition(), 0);
  EXPECT_EQ(window_->progressBar.GetText(), L"");
  // A row that is not there changes nothing.
  window_->OnRowProgress(CWString(), CWString(L"x.rar"), CWString(), CWString(), CWString(), CWString(L"-3"),
                         CWString(L"链接有误"), CWString(), CWString(), 4);
  EXPECT_EQ(window_->fileList.GetRowCount(), 2);
  EXPECT_EQ(window_->fileList.GetCellText(1, 5), L"下载");
}

// The worker never waits for the window: its reports wait and arrive together, in order, when
// the window's thread dispatches.
TEST_F(MainWindowTest, RowProgressFromTheEngineThreadArrivesThroughMessages) {
  Create();
  window_->fileList.AppendEmptyRow();
  window_->fileList.AppendEmptyRow();
  std::thread worker([&] {
    auto report = [&](int32_t row, const wchar_t* status) {
      window_->downloadEngine.rowProgress.Fire(&window_->downloadEngine, CWString(L"gid"), CWString(L"a.rar"),
                                               CWString(L"1.00KB"), CWString(L"1.00KB"), CWString(L"0Byte/S"),
                                               CWString(L"100%"), CWString(status), CWString(L"0"), CWString(), row);
    };
    report(0, L"下载");
    report(1, L"下载");
    report(0, L"完成");
  });
  worker.join();
  EXPECT_EQ(window_->fileList.GetCellText(0, 5), L"");
  EXPECT_TRUE(
      PollUntil([&] { return window_->fileList.GetCellText(1, 5) == L"下载"; }, 20000, PollMode::kDispatchMessages))
      << "the row updates from the engine's thread did not arrive within 20 s";
  EXPECT_EQ(window_->fileList.GetCellText(0, 0), L"0");
  EXPECT_EQ(window_->fileList.GetCellText(0, 5), L"完成");
}

// A report made on the window's own thread (an add's) is shown after the worker's that wait,
// never overtaken by them.
TEST_F(MainWindowTest, AReportOnTheWindowsThreadComesAfterThoseThatWait) {
  Create();
  window_->fileList.AppendEmptyRow();
  auto report = [&](const wchar_t* status) {
    window_->OnRowProgress(CWString(L"gid"), CWString(L"a.rar"), CWString(L"1.00KB"), CWString(L"1.00KB"),
                           CWString(L"0Byte/S"), CWString(L"100%"), CWString(status), CWString(L"0"), CWString(), 0);
  };
  std::thread worker([&] { report(L"下载"); });
  worker.join();
  report(L"完成");
  EXPECT_EQ(window_->fileList.GetCellText(0, 5), L"完成");
  WaitWithMessages(50);  // the worker's message arrives and finds nothing left to show
  EXPECT_EQ(window_->fileList.GetCellText(0, 5), L"完成");
}

TEST_F(MainWindowTest, BrowseFillsTheBoxFromTheChosenFolder) {
  Create();
  window_->browseResult = L"E:\\";  // a drive root: no doubled backslash
  Click(*window_, window_->browseButton);
  ASSERT_EQ(window_->browseTitles.size(), 1u);
  EXPECT_EQ(window_->browseTitles[0], L"选择保存位置");
  EXPECT_EQ(window_->saveFolderBox.GetText(), L"E:\\Brinemarch");
  EXPECT_EQ(window_->saveFolderBase, L"E:\\");
  window_->browseResult = L"D:\\Games";
  Click(*window_, window_->browseButton);
  EXPECT_EQ(window_->saveFolderBox.GetText(), L"D:\\Games\\Brinemarch");
  EXPECT_EQ(window_->saveFolderBase, L"D:\\Games\\");
  // Cancelled: the box stays, the base is forgotten.
  window_->browseResult = L"";
  Click(*window_, window_->browseButton);
  EXPECT_EQ(window_->saveFolderBox.GetText(), L"D:\\Games\\Brinemarch");
  EXPECT_TRUE(window_->saveFolderBase.IsEmpty());
}

TEST_F(MainWindowTest, ACaptionMatchingNeitherTextDoesNothing) {
  Create();
  window_->fileList.AppendEmptyRow();
  for (const wchar_t* caption : {L"开始下载 ", L"安装游戏。", L"开始", L""}) {
    window_->startButton.SetText(caption);
    Click(*window_, window_->startButton);
    EXPECT_EQ(window_->fileList.GetRowCount(), 1) << caption;  // a run would have cleared it
    EXPECT_TRUE(window_->exitCodes.empty()) << caption;        // an install would have ended
    EXPECT_TRUE(window_->boxes.empty()) << caption;
    EXPECT_TRUE(window_->startButton.IsEnabled()) << caption;
  }
}

TEST_F(MainWindowTest, ARunThatFailsShowsTheBoxAndOffersTheStartAgain) {
  // No engine: whatever the listing gives, the run cannot succeed.
  Create(0);
  window_->saveFolderBox.SetText(L"C:\\bm-app-failed-run\\Brinemarch");
  window_->fileList.AppendEmptyRow();
  Click(*window_, window_->startButton);
  ASSERT_EQ(window_->boxes.size(), 1u);
  EXPECT_TRUE(window_->boxes[0].text.starts_with(L"下载失败,请重试！"))
      << testing::PrintToString(window_->boxes[0].text);
  EXPECT_EQ(window_->boxes[0].caption, L"信息:");
  EXPECT_EQ(window_->boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(window_->startButton.GetText(), L"开始下载");
  EXPECT_TRUE(window_->startButton.IsEnabled());
  EXPECT_FALSE(window_->fileList.IsVisible());
  EXPECT_FALSE(window_->IsRunning());
  EXPECT_TRUE(window_->exitCodes.empty());
}

TEST_F(MainWindowTest, AnEmptySaveFolderBoxGetsTheDefaultFolderBeforeTheRun) {
  // The engine answered too late to fill the box: the run must not fall back to the Desktop.
  Create(0);
  ASSERT_TRUE(window_->saveFolderBox.GetText().IsEmpty());
  Click(*window_, window_->startButton);
  EXPECT_EQ(window_->saveFolderBox.GetText().ToStdString(), ProgramFolder() + L"Brinemarch");
  EXPECT_EQ(window_->boxes.size(), 1u);
}

TEST_F(MainWindowTest, MinimiseMinimisesAndCloseEndsTheProcessWithZero) {
  Create();
  Click(*window_, window_->minimizeButton);
  EXPECT_EQ(window_->GetPositionState(), kKelPositionMinimised);
  EXPECT_TRUE(window_->exitCodes.empty());
  Click(*window_, window_->closeButton);
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
}

// Escape or Alt+F4 while the engine starts: its wait cannot be left early, so the program
// ends at once, as during a run.
TEST_F(MainWindowTest, ACloseRequestWhileTheEngineStartsEndsTheProcess) {
  window_ = std::make_unique<TestMainWindow>(1);
  window_->duringEngineStart = [&] { SendMessageW(window_->GetHwnd(), WM_CLOSE, 0, 0); };
  ASSERT_TRUE(window_->CreateTopLevel());
  ASSERT_TRUE(window_->WaitForEngineStart()) << "the window did not start its engine within 30 s";
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
}

TEST_F(MainWindowTest, ACloseRequestOutsideARunClosesTheWindow) {
  Create();
  SendMessageW(form_, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(form_));
  EXPECT_TRUE(window_->exitCodes.empty());
}

// A folder of the temporary folder (with a space in its name) holding a copy of the stand-in
// installer; the marker file the stand-in writes when it starts.
struct InstallerFolder {
  std::wstring folder, program, marker;
};

InstallerFolder MakeInstallerFolder(const wchar_t* name) {
  const std::wstring installer = ProgramFolder() + L"..\\standin_installer\\Brinemarch.part1.exe";
  EXPECT_NE(GetFileAttributesW(installer.c_str()), INVALID_FILE_ATTRIBUTES) << "stand-in installer not built";
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  InstallerFolder made;
  made.folder = std::wstring(temp) + name + L"\\Brinemarch";
  made.program = made.folder + L"\\Brinemarch.part1.exe";
  made.marker = made.folder + L"\\Brinemarch.part1.started.txt";
  EXPECT_TRUE(CreateDirectories(made.folder.c_str()));
  DeleteFileW(made.marker.c_str());
  EXPECT_TRUE(CopyFileW(installer.c_str(), made.program.c_str(), FALSE));
  return made;
}

TEST_F(MainWindowTest, InstallStartsThePartOneProgramFromTheBoxsFolderAndEnds) {
  // A folder with a space: the command line must still name the right program.
  const InstallerFolder made = MakeInstallerFolder(L"bm app install");
  Create();
  window_->saveFolderBox.SetText(made.folder.c_str());
  window_->startButton.SetText(L"安装游戏");
  Click(*window_, window_->startButton);
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
  EXPECT_TRUE(window_->elevatedStarts.empty());

  // The stand-in notes its command line: the quoted program path.
  EXPECT_EQ(StartedCommandLine(made.marker), CWString((L"\"" + made.program + L"\"").c_str()));
}

TEST_F(MainWindowTest, AnInstallerThatAsksForRightsIsStartedThroughTheElevationPrompt) {
  const InstallerFolder made = MakeInstallerFolder(L"bm app elevate");
  Create();
  // Windows refuses CreateProcessW for a program whose manifest asks for administrator
  // rights; Wine has no such manifests and no prompt, so the refusal is played here and the
  // shell's "runas" start is the real one (Wine starts the program without asking).
  std::vector<std::wstring> created;
  window_->installerStart = [&](const std::wstring& commandLine) -> DWORD {
    created.push_back(commandLine);
    return kErrorElevationRequired;
  };
  window_->saveFolderBox.SetText(made.folder.c_str());
  window_->startButton.SetText(L"安装游戏");
  Click(*window_, window_->startButton);
  EXPECT_EQ(created, std::vector<std::wstring>{L"\"" + made.program + L"\""});
  EXPECT_EQ(window_->elevatedStarts, std::vector<std::wstring>{made.program});
  EXPECT_TRUE(window_->boxes.empty());
  EXPECT_EQ(window_->exitCodes, std::vector<UINT>{0});
  EXPECT_FALSE(StartedCommandLine(made.marker).IsEmpty()) << "the installer did not start";
}

TEST_F(MainWindowTest, AnInstallerThatCannotStartIsToldAndTheWindowStaysInstallable) {
  struct Case {
    const wchar_t* what;
    DWORD createError;    // 0: the real start of a missing file
    DWORD elevatedError;  // 0: no stand-in for the shell's start
  };
  const Case cases[] = {
      {L"missing file", 0, 0},
      {L"blocked", ERROR_ACCESS_DENIED, 0},
      {L"prompt refused", kErrorElevationRequired, ERROR_CANCELLED},
  };
  Create();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    window_->boxes.clear();
    window_->installerStart = nullptr;
    window_->elevatedStart = nullptr;
    if (c.createError != 0) window_->installerStart = [&](const std::wstring&) { return c.createError; };
    if (c.elevatedError != 0) window_->elevatedStart = [&](const std::wstring&) { return c.elevatedError; };
    const std::wstring folder = L"C:\\bm-app-no-installer\\Brinemarch";
    window_->saveFolderBox.SetText(folder.c_str());
    window_->startButton.SetText(L"安装游戏");
    window_->startButton.Enable();
    const size_t elevatedBefore = window_->elevatedStarts.size();
    Click(*window_, window_->startButton);
    EXPECT_TRUE(window_->exitCodes.empty());
    ASSERT_EQ(window_->boxes.size(), 1u);
    EXPECT_EQ(window_->boxes[0].caption, L"信息:");
    EXPECT_EQ(window_->boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_NE(window_->boxes[0].text.find(folder + L"\\Brinemarch.part1.exe"), std::wstring::npos)
        << window_->boxes[0].text;
    EXPECT_NE(window_->boxes[0].text.find(L"原因："), std::wstring::npos);
    EXPECT_EQ(window_->startButton.GetText(), L"安装游戏");
    EXPECT_TRUE(window_->startButton.IsEnabled());
    EXPECT_EQ(window_->elevatedStarts.size() - elevatedBefore, c.createError == kErrorElevationRequired ? 1u : 0u);
  }
}

}  // namespace

namespace {

// The real taskbar object the window makes when the taskbar announces its button. Wine
// implements ITaskbarList3 without a taskbar to show it on (and never announces a button):
// the calls succeed and show nothing, so the run's states are checked through the seam.
TEST(TaskbarTest, TheTaskbarListTheWindowUsesIsThere) {
  ComInit com(COINIT_APARTMENTTHREADED);
  ComPtr<ITaskbarList3> taskbar;
  const HRESULT made =
      CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3, taskbar.VoidAddress());
  ASSERT_TRUE(SUCCEEDED(made)) << std::hex << made;
  EXPECT_TRUE(SUCCEEDED(taskbar->HrInit()));
}

}  // namespace
