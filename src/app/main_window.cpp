#include "app/main_window.h"

#include <shlobj.h>

#include <algorithm>
#include <memory>

#include "app/folder_choice.h"
#include "app/framework/win_app.h"
#include "app/shell_dialogs.h"
#include "build_config.h"
#include "engine/display_texts.h"
#include "runtime/arrays.h"
#include "runtime/convert.h"
#include "runtime/utils.h"

using namespace main_window;

namespace {

constexpr DWORD kListDoubleBuffer = 0x10000;  // LVS_EX_DOUBLEBUFFER

KelButtonColors TitleBarColors(COLORREF hover) {
  return KelButtonColors{kTitleBarBack, kTitleBarBack, kTitleBarText, kTitleBarText, kTitleBarText, hover};
}

// Clears a flag of work in progress however the work ends.
class RunningFlag {
 public:
  explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;
  ~RunningFlag() { flag_ = false; }

 private:
  bool& flag_;
};

// The system's text for an error code, or the code when it has none.
CWString ReasonOf(DWORD error) {
  CWString reason = SystemMessageText(error);
  if (reason.IsEmpty()) reason.Format(L"错误代码 %u", static_cast<unsigned>(error));
  return reason;
}

// What the bar says of the place the program was started from; null for a fine one.
const wchar_t* PlaceNotice(ProgramPlace place) {
  switch (place) {
    case ProgramPlace::kTemporary:
      return kTemporaryPlaceText;
    case ProgramPlace::kRemovable:
      return kRemovablePlaceText;
    case ProgramPlace::kNetwork:
      return kNetworkPlaceText;
    case ProgramPlace::kReadOnly:
      return kReadOnlyPlaceText;
    case ProgramPlace::kFine:
      break;
  }
  return nullptr;
}

// Why the release could not be trusted, for the failure box.
CWString ReleaseFailureText(ReleaseCheck::Fault fault, const CWString& detail) {
  CWString text;
  switch (fault) {
    case ReleaseCheck::Fault::kMissing:
      return CWString(kReleaseMissingText);
    case ReleaseCheck::Fault::kUnfetched:
      text.Format(kReleaseUnfetchedText, detail.GetText());
      break;
    case ReleaseCheck::Fault::kNotSigned:
      return CWString(kReleaseNotSignedText);
    case ReleaseCheck::Fault::kUnreadable:
      text.Format(kReleaseUnreadableText, detail.GetText());
      break;
    case ReleaseCheck::Fault::kNotListed:
      text.Format(kReleaseNotListedText, detail.GetText());
      break;
    case ReleaseCheck::Fault::kNone:
      break;
  }
  return text;
}

}  // namespace

rg_my_main_window::rg_my_main_window() {
  SetTitle(kTitle);
  SetImageResource(kBackgroundImage);
  SetBorderStyle(kKelBorderNone);
  SetMovable(true);
  SetPositionState(kKelPositionCentred);
  if (!SetIconResource(kWindowIcon)) SetIconResource(kFallbackIcon);
  SetDragToMove(true);
  downloadEngine.rowProgress.Bind<&rg_my_main_window::OnRowProgress>(eventTarget);
}

rg_my_main_window::~rg_my_main_window() { eventTarget.Detach(); }

void rg_my_main_window::CreateChildren() {
  HWND self = GetHwnd();
  onCreated.Bind<static_cast<void (rg_my_main_window::*)(CKelObject*, int32_t)>(&rg_my_main_window::OnCreated)>(
      eventTarget);
  onShown.Bind<&rg_my_main_window::OnWindowShown>(eventTarget);
  onCloseRequest.Bind<&rg_my_main_window::OnWindowCloseRequest>(eventTarget);
  onTaskbarButtonCreated.Bind<&rg_my_main_window::OnTaskbarButtonCreated>(eventTarget);
  closeButton.onClicked.Bind<&rg_my_main_window::OnTitleButtonClick>(eventTarget);
  minimizeButton.onClicked.Bind<&rg_my_main_window::OnTitleButtonClick>(eventTarget);
  browseButton.onClicked.Bind<&rg_my_main_window::OnButtonClick>(eventTarget);
  startButton.onClicked.Bind<&rg_my_main_window::OnButtonClick>(eventTarget);

  closeButton.SetText(L"×");
  closeButton.SetColors(TitleBarColors(kCloseHover));
  closeButton.SetFontDescription(kCloseFont);
  closeButton.SetFlat(true);
  closeButton.SetRoundedCorners(false);
  closeButton.SetDrawHotFrame(false);
  closeButton.SetFocusRectWhenFlat(false);
  closeButton.Create(self, this, 579, 0, 45, 29, kCloseButton);

  minimizeButton.SetText(L"─");
  minimizeButton.SetColors(TitleBarColors(kMinimizeHover));
  minimizeButton.SetFlat(true);
  minimizeButton.SetRoundedCorners(false);
  minimizeButton.SetDrawHotFrame(false);
  minimizeButton.SetFocusRectWhenFlat(false);
  minimizeButton.Create(self, this, 531, 0, 45, 29, kMinimizeButton);

  fileList.SetViewType(3);
  fileList.SetColumnDescription(kColumns);
  fileList.SetFullRowSelect(true);
  // Every path starts alike (the save folder): the end tells the parts apart.
  fileList.SetPathColumn(1);
  fileList.Create(self, this, 12, 30, 600, 258, kFileList);

  browseButton.SetText(kBrowseText);
  browseButton.Create(self, this, 532, 296, 80, 32, kBrowseButton);
  startButton.SetText(kStartText);
  startButton.Create(self, this, 532, 336, 80, 32, kStartButton);

  saveFolderBox.Create(self, this, 12, 300, 512, 24, kSaveFolderBox);

  progressBar.SetVertical(false);
  progressBar.SetMinimum(0);
  progressBar.SetMaximum(100);
  progressBar.Create(self, this, 12, 340, 512, 24, kProgressBar);

  pictureBox.SetImageResource(kFinishedImage);
  pictureBox.SetTransparent(true);
  pictureBox.Create(self, this, 0, 0, kWidth, kHeight, kPictureBox);
}

int32_t rg_my_main_window::StartDownloadEngine() { return downloadEngine.StartEngine(CWString()); }

CWString rg_my_main_window::ProgramDirectory() {
  CWString folder;
  ModuleDirectory(GetModuleHandleW(nullptr), folder);
  return folder;
}

CWString rg_my_main_window::BrowseForFolder(CWTextRef title) {
  return BrowseForFolderPath(GetHwnd(), title, BIF_EDITBOX);
}

int rg_my_main_window::ShowMessageBox(CWTextRef text, CWTextRef caption, UINT type) {
  return MessageBoxKeepingFocus(GetHwnd(), text, caption, type);
}

void rg_my_main_window::EndProcess(UINT exitCode) { ExitProcess(exitCode); }

void rg_my_main_window::OnTaskbarButtonCreated() {
  ComPtr<ITaskbarList3> taskbar;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              taskbar.VoidAddress())) ||
      FAILED(taskbar->HrInit())) {
    return;
  }
  taskbar_ = std::move(taskbar);
}

void rg_my_main_window::ShowTaskbarProgress(TBPFLAG state, uint64_t completed, uint64_t total) {
  if (!taskbar_) return;
  taskbar_->SetProgressState(GetHwnd(), state);
  if (state == TBPF_NORMAL) taskbar_->SetProgressValue(GetHwnd(), completed, total);
}

void rg_my_main_window::ShowRunFigures(bool now) {
  const uint64_t nowMs = GetTickCount64();
  // Four times a second is as fast as anyone reads, and a text set repaints the bar.
  if (!now && nowMs - lastFiguresMs_ < kFiguresIntervalMs) return;
  lastFiguresMs_ = nowMs;
  const int32_t rows = fileList.GetRowCount();
  const std::vector<rg_n1666::RowBytes> polled = downloadEngine.engine.RowBytesOf(rows);
  std::vector<PartBytes> parts(polled.size());
  for (size_t row = 0; row < polled.size(); ++row) {
    const int64_t listed = row < listedSizes_.size() ? listedSizes_[row] : -1;
    PartBytes& part = parts[row];
    part.completed = polled[row].completed;
    part.total = polled[row].total >= 0 ? polled[row].total : listed;
    part.whole = polled[row].whole;
    if (part.whole && part.total < 0) part.total = part.completed;
  }
  runMeter_.Update(nowMs, parts);
  const CWString text = runMeter_.Text();
  if (!(progressBar.GetText() == text)) progressBar.SetText(text);
  progressBar.SetPosition(runMeter_.Position());
  // The taskbar button shows the same figure as the bar.
  if (runMeter_.TotalKnown()) {
    ShowTaskbarProgress(TBPF_NORMAL, static_cast<uint64_t>(runMeter_.Position()), 100);
  } else {
    ShowTaskbarProgress(TBPF_INDETERMINATE, 0, 0);
  }
}

void rg_my_main_window::KeepSystemAwake(bool awake) {
  SetThreadExecutionState(awake ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

bool rg_my_main_window::IsForegroundWindow() { return GetForegroundWindow() == GetHwnd(); }

void rg_my_main_window::FlashTaskbarButton() {
  FLASHWINFO flash{sizeof flash, GetHwnd(), FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
  FlashWindowEx(&flash);
}

DWORD rg_my_main_window::StartInstaller(CWTextRef commandLine) { return StartProgram(commandLine, SW_SHOWNORMAL); }

DWORD rg_my_main_window::StartInstallerElevated(CWTextRef path) { return StartProgramElevated(path, SW_SHOWNORMAL); }

void rg_my_main_window::OnCreated(CKelObject*, int32_t) {
  fileList.SetExtendedStyle(kListDoubleBuffer, kListDoubleBuffer);
  // The engine's start may take seconds (a virus scanner's first look at it, ports to step
  // around): the window shows first, as it will be when the engine answers, and offers no
  // run until then.
  fileList.Hide();
  pictureBox.Hide();
  startButton.Disable();
  ChooseStartingFolder();
}

void rg_my_main_window::OnWindowShown() {
  // Without its engine beside it the program can only say so (ChooseStartingFolder did).
  if (engineFilesMissing_) {
    startButton.Enable();
    return;
  }
  RunningFlag starting(startingEngine_);
  // Escape and the drag to move reach the form inside the wait too.
  CKelNestedPreTranslateScope preTranslate;
  const int32_t started = StartDownloadEngine();
  // Enabled before the box is filled: whoever sees the folder may press at once.
  startButton.Enable();
  if (started == 0) {
    fileList.Show();
    pictureBox.Show();
    return;
  }
  saveFolderBox.SetText(startingFolder_);
}

void rg_my_main_window::ChooseStartingFolder() {
  const StartingPlace start = ExamineStartingPlace(ProgramDirectory());
  startingFolder_ = start.saveFolder;
  engineFilesMissing_ = start.engineFilesMissing;
  if (engineFilesMissing_) {
    // Said at once, where the player looks: a press could only end in a failure.
    saveFolderBox.SetText(startingFolder_);
    progressBar.SetText(kUnpackAllText);
    return;
  }
  // Why the box proposes a folder elsewhere, until the first press.
  if (const wchar_t* notice = PlaceNotice(start.place)) progressBar.SetText(notice);
}

bool rg_my_main_window::SaveFolderWritable(const CWString& folder) {
  const DWORD error = ProbeWritableFolder(folder);
  if (error == 0) return true;
  CWString text;
  text.Format(kUnwritableFolderText, folder.GetText(), ReasonOf(error).GetText());
  ShowMessageBox(text, kFailureCaption, MB_OK | MB_ICONWARNING);
  return false;
}

bool rg_my_main_window::SavePathsFit(const CWString& folder) {
  CWString longest;
  const int64_t excess = SavePathExcess(folder, downloadEngine.fileNames, &longest);
  if (excess == 0) return true;
  CWString text;
  text.Format(kPathTooLongText, static_cast<int>(excess), longest.GetText());
  ShowMessageBox(text, kFailureCaption, MB_OK | MB_ICONWARNING);
  return false;
}

void rg_my_main_window::OnButtonClick(CKelObject* sender, int32_t) {
  if (sender == &browseButton) {
    Browse();
    return;
  }
  if (sender != &startButton) return;
  const CWString caption = startButton.GetText();
  if (caption == kStartText) {
    StartDownload();
  } else if (caption == kInstallText) {
    Install();
  }
}

void rg_my_main_window::Browse() {
  saveFolderBase = BrowseForFolder(kBrowseTitle);
  if (saveFolderBase.IsEmpty()) return;
  if (saveFolderBase[saveFolderBase.Length() - 1] != L'\\') saveFolderBase.AppendChar(L'\\');
  saveFolderBox.SetText(saveFolderBase + kGameFolder);
}

void rg_my_main_window::StartDownload() {
  // A press that reaches us while a run waits (a double click queued behind the first) is
  // not a second run.
  if (running_) return;
  if (engineFilesMissing_) {
    ShowMessageBox(kUnpackAllText, kFailureCaption, MB_OK | MB_ICONWARNING);
    return;
  }
  RunningFlag running(running_);
  startButton.Disable();
  // Disabling the focused button leaves no focus, and keys would then reach the form only
  // as system keys: Escape must still end the run.
  if (!GetFocus() && GetActiveWindow() == GetHwnd()) SetFocus(GetHwnd());
  // The run's waits dispatch messages themselves: keyboard and mouse handling of the form
  // (Escape, drag to move) must reach it there too.
  CKelNestedPreTranslateScope preTranslate;
  // The engine answered only after the start-up wait: without this, the run would save to
  // (and back up in) the Desktop.
  if (saveFolderBox.GetText().IsEmpty()) saveFolderBox.SetText(startingFolder_);
  // The folder this run saves to, whatever is browsed while it lists.
  const CWString saveFolder = saveFolderBox.GetText();
  // Before any request: a folder that cannot be written would otherwise fail the run only after
  // the listing, at its first part.
  if (!SaveFolderWritable(saveFolder)) {
    startButton.Enable();
    return;
  }
  fileList.DeleteAllRows();
  rg_WenBenShuZuLei pageUrls;
  FeishuSession session;
  int32_t count = downloadEngine.resolver.ResolveFeishuFolder(CWString(BRINEMARCH_SHARE_URL), downloadEngine.fileNames,
                                                              pageUrls, downloadEngine.fileUrls, &session,
                                                              &listedSizes_, &downloadEngine.filePaths);
  // The files download with the session that listed them.
  downloadEngine.visitorCookies = session.visitorCookies;
  downloadEngine.referer = session.referer;
  downloadEngine.fileSizes = listedSizes_;
  // Only what the publisher signed is shown and fetched; a release that cannot be trusted
  // fails the run before anything is touched.
  bool released = true;
  if (count > 0) {
    const int32_t kept = downloadEngine.KeepSignedFiles();
    released = kept >= 0;
    count = std::max(kept, 0);
    listedSizes_ = downloadEngine.fileSizes;
  }
  // The engine's file calls stop at Windows' classic path limit: refused before anything is created.
  if (released && count > 0 && !SavePathsFit(saveFolder)) {
    downloadEngine.ForgetFiles();
    startButton.Enable();
    return;
  }
  runNames_.clear();
  for (int32_t i = 0; i < count; ++i) runNames_.push_back(downloadEngine.fileNames.Get(i));
  rowFailures_.clear();
  // What the drive said of each file shows at once; the engine knows nothing before its
  // first streams answer.
  for (int32_t i = 0; i < count; ++i) {
    fileList.AppendEmptyRow();
    if (!fileList.IsOwnerData()) fileList.SetCellText(i, 2, SizeCellText(i, CWString()));
  }
  fileList.Show();
  // The bar must not start from the rows of the run before.
  downloadEngine.engine.ForgetRowBytes();
  runMeter_.Start(GetTickCount64());
  progressBar.SetPosition(0);
  progressBar.SetText(CWString());
  // Hours of download are lost if the computer sleeps: every file starts again from its
  // first byte. Held only while files download.
  if (count > 0) {
    KeepSystemAwake(true);
    ShowTaskbarProgress(TBPF_INDETERMINATE, 0, 0);
    ShowRunFigures(true);
  }
  const int32_t result = released ? downloadEngine.DownloadAll(saveFolder) : 0;
  // The last reports of the worker are shown before the run's figures and its box.
  ShowWaitingRows();
  if (count > 0) {
    KeepSystemAwake(false);
    ShowRunFigures(true);
  }
  // The player has usually gone elsewhere during a long run.
  if (!IsForegroundWindow()) FlashTaskbarButton();
  // A record another program held to the end: the next start reads the copy written beside
  // it, but only while that copy is there, so the player hears of it.
  const std::shared_ptr<SaveFolder> files = downloadEngine.engine.SaveFolderOf(saveFolder);
  if (!files->WriteIfBehind()) {
    CWString text;
    text.Format(kRecordHeldText, (files->Folder() + SaveFolder::kRecordName).GetText());
    ShowMessageBox(text, kFailureCaption, MB_OK | MB_ICONWARNING);
  }
  if (result == 1) {
    ShowTaskbarProgress(TBPF_NOPROGRESS, 0, 0);
    startButton.Enable();
    startButton.SetText(kInstallText);
    pictureBox.Show();
  } else if (downloadEngine.lastFailure.kind == RunFailure::kNoRoom) {
    // Nothing was touched: the player frees room or picks another folder and presses again.
    ShowTaskbarProgress(TBPF_NOPROGRESS, 0, 0);
    CWString text;
    text.Format(kNoRoomText, FormatSize(static_cast<double>(downloadEngine.lastFailure.bytesNeeded)).GetText(),
                FormatSize(static_cast<double>(downloadEngine.lastFailure.bytesFree)).GetText());
    ShowMessageBox(text, kFailureCaption, MB_OK | MB_ICONWARNING);
    startButton.Enable();
  } else {
    ShowTaskbarProgress(TBPF_ERROR, 0, 0);
    const CWString reason = FailureReason();
    ShowMessageBox(reason.IsEmpty() ? CWString(kFailureText) : CWString(kFailureText) + L"\n" + reason, kFailureCaption,
                   MB_OK);
    ShowTaskbarProgress(TBPF_NOPROGRESS, 0, 0);
    startButton.Enable();
  }
  fileList.Hide();
}

void rg_my_main_window::Install() {
  // A virus scanner may have taken a part away since the run: the installer would fail half
  // way. The next press of 开始下载 fetches what is missing.
  const CWString changed = downloadEngine.FirstPartNotAsLeft(saveFolderBox.GetText());
  if (!changed.IsEmpty()) {
    CWString text;
    text.Format(kPartChangedText, changed.GetText());
    ShowMessageBox(text, kFailureCaption, MB_OK | MB_ICONWARNING);
    startButton.SetText(kStartText);
    return;
  }
  const CWString path = saveFolderBox.GetText() + kInstallerName;
  // Quoted: a folder with spaces must not let the platform try a shorter program name first.
  CWString commandLine(L"\"");
  commandLine.Append(path);
  commandLine.AppendChar(L'"');
  DWORD error = StartInstaller(commandLine);
  // Self-extracting installers often ask for administrator rights, which CreateProcessW
  // cannot give; the shell shows the elevation prompt.
  if (error == kErrorElevationRequired) error = StartInstallerElevated(path);
  if (error == 0) {
    EndProcess(0);
    return;
  }
  CWString text;
  text.Format(kInstallerFailureText, path.GetText(), ReasonOf(error).GetText());
  // The window stays as it is, so the player can fix the file and press again.
  ShowMessageBox(text, kFailureCaption, MB_OK | MB_ICONERROR);
}

void rg_my_main_window::OnTitleButtonClick(CKelObject* sender, int32_t) {
  if (sender == &minimizeButton) {
    SetPositionState(kKelPositionMinimised);
  } else if (sender == &closeButton) {
    EndProcess(0);
  }
}

void rg_my_main_window::OnRowProgress(const CWString&, const CWString& filePath, const CWString& sizeText,
                                      const CWString&, const CWString& speedText, const CWString& percentText,
                                      const CWString& statusText, const CWString&, const CWString& failureText,
                                      int32_t row) {
  HWND window = GetHwnd();
  // On the window's own thread (an add's report), or with no window to queue for, the row is
  // shown at once, after those that wait.
  const bool here = !window || GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
  {
    std::lock_guard<std::mutex> guard(waitingRowsLock_);
    // Every report is shown, in order: the list reads each state a row passed through.
    waitingRows_.push_back(RowReport{filePath, sizeText, speedText, percentText, statusText, failureText, row});
    if (!here) {
      if (waitingRowsQueued_) return;
      waitingRowsQueued_ = true;
    }
  }
  if (here) {
    ShowWaitingRows();
    return;
  }
  const bool queued =
      Window()->PostToWindowThread([](void* self) { static_cast<rg_my_main_window*>(self)->ShowWaitingRows(); }, this);
  // The window went meanwhile: the reports wait for the run's end, which shows them.
  if (!queued) {
    std::lock_guard<std::mutex> guard(waitingRowsLock_);
    waitingRowsQueued_ = false;
  }
}

void rg_my_main_window::ShowWaitingRows() {
  std::vector<RowReport> reports;
  {
    std::lock_guard<std::mutex> guard(waitingRowsLock_);
    reports.swap(waitingRows_);
    waitingRowsQueued_ = false;
  }
  if (reports.empty()) return;
  for (const RowReport& report : reports) ShowRowReport(report);
  if (running_) ShowRunFigures(false);
}

void rg_my_main_window::ShowRowReport(const RowReport& report) {
  const int32_t row = report.row;
  if (!report.failureText.IsEmpty()) rowFailures_[row] = report.failureText;
  if (!fileList.HasWindow()) return;
  if (!fileList.IsOwnerData()) {
    // A cell that already shows its text is left alone: setting it again would only repaint
    // it, and the poller reports every open row many times a second.
    auto setCell = [&](int column, const CWString& text) {
      if (!(fileList.GetCellText(row, column) == text)) fileList.SetCellText(row, column, text);
    };
    setCell(0, Int64ToText(row));
    setCell(1, report.filePath);
    setCell(2, SizeCellText(row, report.sizeText));
    setCell(3, report.speedText);
    setCell(4, report.percentText);
    setCell(5, report.statusText);
  }
  fileList.EnsureRowVisible(row);
}

CWString rg_my_main_window::FailureReason() const {
  const RunFailure& failure = downloadEngine.lastFailure;
  CWString reason;
  switch (failure.kind) {
    case RunFailure::kNothingListed: {
      reason = kListingFailedText;
      const CWString& why = downloadEngine.resolver.lastFeishuFailure;
      if (!why.IsEmpty()) reason += CWString(L"：") + why;
      break;
    }
    case RunFailure::kClash:
      reason.Format(kClashText, failure.path.GetText());
      break;
    case RunFailure::kRelease:
      return ReleaseFailureText(failure.release, failure.releaseDetail);
    case RunFailure::kStalled:
      reason.Format(kStalledRunText, static_cast<int>(downloadEngine.stallMs / 1000));
      break;
    case RunFailure::kUnfinished: {
      if (downloadEngine.engine.ready == 0) return CWString(kNoEngineText);
      const std::vector<rg_n1666::RowBytes> rows = downloadEngine.engine.RowBytesOf(fileList.GetRowCount());
      for (size_t row = 0; row < rows.size() && row < runNames_.size(); ++row) {
        if (rows[row].whole) continue;
        const auto failed = rowFailures_.find(static_cast<int32_t>(row));
        const CWString state =
            failed != rowFailures_.end() ? failed->second : fileList.GetCellText(static_cast<int>(row), 5);
        reason.Format(kUnfinishedText, failure.unfinished, runNames_[row].GetText(),
                      state.IsEmpty() ? L"未开始" : state.GetText());
        break;
      }
      break;
    }
    default:
      break;
  }
  return reason;
}

CWString rg_my_main_window::SizeCellText(int32_t row, const CWString& engineSizeText) const {
  static const CWString unknownLength = FormatSize(0);
  const bool listed = row >= 0 && static_cast<size_t>(row) < listedSizes_.size() && listedSizes_[row] >= 0;
  if (listed && (engineSizeText.IsEmpty() || engineSizeText == unknownLength)) {
    return FormatSize(static_cast<double>(listedSizes_[row]));
  }
  return engineSizeText;
}

int32_t rg_my_main_window::OnWindowCloseRequest(CKelObject*, int32_t) {
  if (!running_ && !startingEngine_) return 0;
  Hide();
  KeepSystemAwake(false);
  downloadEngine.engine.Shutdown();
  EndProcess(0);
  return 1;
}
