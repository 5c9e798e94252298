#include "app_test_support.h"

#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <limits>

#include "build_config.h"
#include "json/json_reader.h"
#include "net/http.h"
#include "runtime/convert.h"
#include "runtime/win_handles.h"

int32_t TestMainWindow::StartDownloadEngine() {
  ++engineStarts;
  HWND self = GetHwnd();
  atEngineStart = {IsWindowVisible(self) != FALSE,
                   !GetUpdateRect(self, nullptr, FALSE) && !GetUpdateRect(startButton.GetHwnd(), nullptr, FALSE),
                   startButton.IsEnabled(), fileList.IsVisible(), pictureBox.IsVisible()};
  if (duringEngineStart) duringEngineStart();
  return engineStarted_ == kRealEngine ? rg_my_main_window::StartDownloadEngine() : engineStarted_;
}

bool TestMainWindow::WaitForEngineStart(uint32_t limitMs) {
  // The start button waits for the engine's answer.
  return PollUntil([&] { return engineStarts == 1 && startButton.IsEnabled(); }, limitMs, PollMode::kDispatchMessages);
}

CWString TestMainWindow::BrowseForFolder(CWTextRef title) {
  browseTitles.push_back(CWString(title).ToStdString());
  return CWString(browseResult);
}

int TestMainWindow::ShowMessageBox(CWTextRef text, CWTextRef caption, UINT type) {
  boxes.push_back(Box{CWString(text).ToStdString(), CWString(caption).ToStdString(), type});
  return IDOK;
}

DWORD TestMainWindow::StartInstaller(CWTextRef commandLine) {
  if (installerStart) return installerStart(CWString(commandLine).ToStdString());
  return rg_my_main_window::StartInstaller(commandLine);
}

DWORD TestMainWindow::StartInstallerElevated(CWTextRef path) {
  elevatedStarts.push_back(CWString(path).ToStdString());
  if (elevatedStart) return elevatedStart(elevatedStarts.back());
  return rg_my_main_window::StartInstallerElevated(path);
}

void Click(const rg_my_main_window& window, const CKelWinControl& control) {
  SendMessageW(window.GetHwnd(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control.GetHwnd()), BN_CLICKED),
               reinterpret_cast<LPARAM>(control.GetHwnd()));
}

void PressEscape(const rg_my_main_window& window) {
  PostMessageW(window.fileList.GetHwnd(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
}

std::wstring EnvironmentText(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD n = GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring();
}

LONG FontHeight(HFONT font) {
  LOGFONTW logFont{};
  if (!font || !GetObjectW(font, sizeof logFont, &logFont)) return 0;
  return logFont.lfHeight;
}

LONG PointsHeight(int points) {
  WindowDc screen(nullptr);
  return -MulDiv(GetDeviceCaps(screen.Get(), LOGPIXELSY), points, 72);
}

// -- The drive emulator -----------------------------------------------------------------------

namespace {

int32_t EmulatorExchange(const std::wstring& url, int32_t method, const std::wstring& body, const std::wstring& headers,
                         CKelMem& answer) {
  rg_WangLaoFangWenLei_n http;
  rg_WangYeFangWenXiangYingLei_n response;
  CWString cookies, outHeaders;
  answer = http.SendRequest(CWString(url.c_str()), method, CWString(body.c_str()), CKelMem(), CWString(headers.c_str()),
                            CWString(), 0, cookies, outHeaders, CWString(), CWString(), CWString(), 15000, 0,
                            NoAcceptEncoding(), response);
  return response.statusCode;
}

}  // namespace

int32_t ControlEmulator(const std::wstring& json) {
  CKelMem answer;
  return EmulatorExchange(std::wstring(BRINEMARCH_LIST_ORIGIN) + L"/__control", http_method::kPost, json,
                          L"Content-Type: application/json", answer);
}

int32_t FetchServedFile(const std::wstring& token, std::string& bytes) {
  CKelMem answer;
  const int32_t status = EmulatorExchange(std::wstring(BRINEMARCH_DOWNLOAD_ORIGIN) + kStreamPath + token,
                                          http_method::kGet, L"", BRINEMARCH_DOWNLOAD_COOKIE, answer);
  bytes.assign(reinterpret_cast<const char*>(answer.Data()), static_cast<size_t>(answer.Size()));
  return status;
}

int64_t EmulatorRequests(int64_t since, std::vector<LoggedRequest>& requests) {
  CKelMem answer;
  const int32_t status =
      EmulatorExchange(std::wstring(BRINEMARCH_LIST_ORIGIN) + L"/__requests?since=" + std::to_wstring(since),
                       http_method::kGet, L"", L"", answer);
  rg_JSONDuiXiangLei_n log;
  if (status != 200 || !log.Parse(answer) || !log.HasPath(L"/last")) return -1;
  std::vector<LoggedRequest> read;
  const int64_t count = log.GetCount(L"/requests");
  for (int64_t i = 0; i < count; ++i) {
    const std::wstring entry = L"/requests/" + std::to_wstring(i);
    LoggedRequest request{log.GetText(entry + L"/path").ToStdString(), L"", L"", L""};
    const int64_t headers = log.GetCount(entry + L"/headers");
    for (int64_t h = 0; h < headers; ++h) {
      const std::wstring header = entry + L"/headers/" + std::to_wstring(h);
      CWString name = log.GetText(header + L"/0");
      name.ToLowerAscii();
      const std::wstring value = log.GetText(header + L"/1").ToStdString();
      if (name == L"range") request.range = value;
      if (name == L"cookie") request.cookie = value;
      if (name == L"referer") request.referer = value;
    }
    read.push_back(std::move(request));
  }
  requests = std::move(read);
  return TextToInt64(log.GetText(L"/last"));
}

int64_t SentBytes(int64_t since, const std::wstring& token) {
  std::wstring route = std::wstring(BRINEMARCH_LIST_ORIGIN) + L"/__sent?since=" + std::to_wstring(since);
  // Streams still open are counted as far as they got; wait until none is.
  for (int attempt = 0; attempt < 100; ++attempt) {
    CKelMem answer;
    rg_JSONDuiXiangLei_n sent;
    if (EmulatorExchange(route, http_method::kGet, L"", L"", answer) != 200 || !sent.Parse(answer)) return -1;
    if (sent.GetText(L"/open") == L"0") {
      if (!token.empty()) return TextToInt64(sent.GetText(L"/sent/" + token));
      int64_t parts = TextToInt64(sent.GetText(L"/total"));
      for (const wchar_t* manifest : kManifestTokens)
        parts -= TextToInt64(sent.GetText(CWString(L"/sent/") + manifest));
      return parts;
    }
    Sleep(100);
  }
  return -1;
}

std::vector<LoggedRequest> StreamRequests(int64_t since, const std::wstring& token) {
  std::vector<LoggedRequest> logged;
  EXPECT_GE(EmulatorRequests(since, logged), 0);
  std::vector<LoggedRequest> streams;
  for (const LoggedRequest& request : logged) {
    const bool manifest = std::any_of(std::begin(kManifestTokens), std::end(kManifestTokens),
                                      [&](const wchar_t* file) { return request.path.ends_with(file); });
    if (request.path.starts_with(kStreamPath) && request.path.ends_with(token) && !manifest) {
      streams.push_back(request);
    }
  }
  return streams;
}

int64_t LatestEmulatorRequest() {
  std::vector<LoggedRequest> none;
  return EmulatorRequests(std::numeric_limits<int64_t>::max(), none);
}

// -- Watching a run ---------------------------------------------------------------------------

int RunSample::RowsWithStatus() const {
  int rows = 0;
  for (const auto& row : cells) rows += row[5].empty() ? 0 : 1;
  return rows;
}

namespace {
RunWatch* activeWatch = nullptr;
CellLog* activeCellLog = nullptr;
}  // namespace

RunWatch::RunWatch(TestMainWindow& window, Act act) : window_(window), act_(std::move(act)) {
  activeWatch = this;
  timer_ = SetTimer(nullptr, 0, 15, &RunWatch::OnTimer);
}

RunWatch::~RunWatch() {
  if (timer_) KillTimer(nullptr, timer_);
  activeWatch = nullptr;
}

void CALLBACK RunWatch::OnTimer(HWND, UINT, UINT_PTR, DWORD) {
  RunWatch* watch = activeWatch;
  if (!watch || !watch->window_.IsRunning()) return;
  rg_my_main_window& window = watch->window_;
  RunSample sample{window.startButton.IsEnabled(),
                   window.fileList.IsVisible(),
                   {},
                   window.progressBar.GetPosition(),
                   window.progressBar.GetText().ToStdString()};
  const int rows = window.fileList.GetRowCount();
  for (int row = 0; row < rows; ++row) {
    std::vector<std::wstring> cells;
    for (int column = 0; column < 6; ++column) cells.push_back(window.fileList.GetCellText(row, column).ToStdString());
    sample.cells.push_back(std::move(cells));
  }
  watch->samples.push_back(sample);
  if (watch->act_) watch->act_(watch->window_, sample);
}

CellLog::CellLog(HWND list) : list_(list) {
  activeCellLog = this;
  previous_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CellLog::Procedure)));
}

CellLog::~CellLog() {
  SetWindowLongPtrW(list_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
  activeCellLog = nullptr;
}

LRESULT CALLBACK CellLog::Procedure(HWND window, UINT message, WPARAM wp, LPARAM lp) {
  CellLog* log = activeCellLog;
  if (message == LVM_SETITEMTEXTW && lp != 0) {
    const auto* item = reinterpret_cast<const LVITEMW*>(lp);
    log->entries_.push_back(Entry{static_cast<int>(wp), item->iSubItem, item->pszText ? item->pszText : L""});
  }
  return CallWindowProcW(log->previous_, window, message, wp, lp);
}

std::vector<std::wstring> CellLog::History(int row, int column) const {
  std::vector<std::wstring> texts;
  for (const Entry& entry : entries_) {
    if (entry.row == row && entry.column == column) texts.push_back(entry.text);
  }
  return texts;
}

// -- Whole runs -------------------------------------------------------------------------------

void EngineRunTest::SetUp() {
  if (GetFileAttributesW((ProgramFolder() + L"aria2c.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "aria2c.exe is not beside the test program (run scripts/setup.sh)";
  }
  ASSERT_EQ(ControlEmulator(L"{\"reset\": true}"), 200) << "the drive emulator does not answer";
  // One folder per test, emptied first: the files must come from this run.
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test.test_suite_name()) + "." + test.name();
  for (char& c : name) c = c == '/' ? '_' : c;
  testFolder_ = std::wstring(temp) + L"bm app run\\" + Utf8ToText(name.data(), name.size(), true).ToStdString();
  std::error_code ignored;
  std::filesystem::remove_all(testFolder_, ignored);
  saveFolder_ = testFolder_ + L"\\Brinemarch";
}

void EngineRunTest::TearDown() {
  watch_.reset();
  cellLog_.reset();
  window_.reset();
  ControlEmulator(L"{\"reset\": true}");
}

void EngineRunTest::CreateWindowWithTheEngine(RunWatch::Act act) {
  window_ = std::make_unique<TestMainWindow>(TestMainWindow::kRealEngine);
  ASSERT_TRUE(window_->CreateTopLevel());
  ASSERT_TRUE(window_->WaitForEngineStart()) << "the window did not finish its engine start within 30 s";
  ASSERT_EQ(window_->downloadEngine.engine.ready.load(), 1) << "the engine did not answer in time";
  window_->saveFolderBox.SetText(saveFolder_.c_str());
  cellLog_ = std::make_unique<CellLog>(window_->fileList.GetHwnd());
  watch_ = std::make_unique<RunWatch>(*window_, std::move(act));
}

CWString StartedCommandLine(const std::wstring& marker) {
  std::string started;
  PollUntil([&] { return ReadFileBytes(marker, started) && started.find("\r\n") != std::string::npos; }, 20000);
  const size_t end = started.find("\r\n");
  if (end == std::string::npos) return CWString();
  return Utf8ToText(started.data(), end, true);
}
