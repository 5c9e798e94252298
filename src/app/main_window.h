// The main window: a borderless 624 x 375 form over the background art with its eight
// controls, the download manager, and the workflow behind its buttons. The start button's
// caption is the workflow's state: "开始下载" until a run succeeded, "安装游戏" afterwards.
//
// Threads: the window, its controls and every handler but OnRowProgress belong to the
// user-interface thread. OnRowProgress runs on the engine's worker thread: it leaves the row's
// texts waiting and queues one window message for all that wait, which the user-interface
// thread runs while it dispatches messages during a run. The worker never waits for the
// window, and a look at twelve rows costs one message and one repaint instead of twelve.
// eventTarget makes the window's destruction wait for handler calls in progress.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "concurrency/event_binding.h"
#include "app/run_meter.h"
#include "engine/download_manager.h"
#include "runtime/text.h"
#include "runtime/win_handles.h"
#include "ui/ui.h"

// Texts and ids of the window.
namespace main_window {
inline constexpr wchar_t kTitle[] = L"BrinemarchOL下载器";
inline constexpr wchar_t kStartText[] = L"开始下载";
inline constexpr wchar_t kInstallText[] = L"安装游戏";
inline constexpr wchar_t kBrowseText[] = L"浏览";
inline constexpr wchar_t kBrowseTitle[] = L"选择保存位置";
inline constexpr wchar_t kFailureText[] = L"下载失败,请重试！";
inline constexpr wchar_t kFailureCaption[] = L"信息:";
inline constexpr wchar_t kGameFolder[] = L"Brinemarch";
inline constexpr wchar_t kInstallerName[] = L"\\Brinemarch.part1.exe";
// The failure box's second line, by what went wrong.
inline constexpr wchar_t kListingFailedText[] = L"无法读取网盘上的文件列表";
inline constexpr wchar_t kClashText[] = L"两个文件会保存到同一个位置：%s";
inline constexpr wchar_t kUnfinishedText[] = L"%d 个文件未完成，如 %s（%s）";
inline constexpr wchar_t kStalledRunText[] = L"%d 秒内没有收到任何数据，下载已暂停；再次点击“开始下载”将从中断处继续";
inline constexpr wchar_t kNoEngineText[] = L"下载器没有启动";
// The release manifest did not let the run start.
inline constexpr wchar_t kReleaseMissingText[] = L"网盘上缺少发行清单或其签名";
inline constexpr wchar_t kReleaseUnfetchedText[] = L"无法读取网盘上的发行清单：%s";
inline constexpr wchar_t kReleaseNotSignedText[] = L"发行清单不是发行者签名的";
inline constexpr wchar_t kReleaseUnreadableText[] = L"发行清单无法识别：%s";
inline constexpr wchar_t kReleaseNotListedText[] = L"发行清单中的文件不在网盘上：%s";
// Instead of the failure box when the parts would not fit on the save folder's disk.
inline constexpr wchar_t kNoRoomText[] = L"磁盘空间不足：还需 %s，可用 %s";
// The save folder's record could not be replaced: another program held it through the run.
inline constexpr wchar_t kRecordHeldText[] =
    L"无法更新下载记录：%s\n文件被其他程序占用。已下载的文件都已保留，关闭占用它的程序后再点“开始下载”即可核对。";
// Instead of the installer when a part is no longer as the run left it.
inline constexpr wchar_t kPartChangedText[] = L"文件 %s 已不在或已被改动，请点击“开始下载”重新获取。";
// Shown with the installer's path and the system's reason when it could not be started.
inline constexpr wchar_t kInstallerFailureText[] =
    L"无法启动游戏安装程序：\n%s\n\n原因：%s\n\n请检查该文件后再点击“安装游戏”。";
// The engine's files are not beside the program: it was started out of an archive that was
// not unpacked whole. On the bar at start and in a box at a press.
inline constexpr wchar_t kUnpackAllText[] = L"请先解压全部文件，再运行下载器";
// Before anything is listed or created: the save folder, the system's reason.
inline constexpr wchar_t kUnwritableFolderText[] = L"无法写入保存目录：\n%s\n\n原因：%s";
// After the listing, before anything is created: the characters too many and the longest path.
inline constexpr wchar_t kPathTooLongText[] =
    L"保存路径太长：超出 Windows 的路径长度上限 %d 个字符\n%s\n\n请选择更短的保存位置后再点击“开始下载”。";
// On the bar before the first press, when the save folder box proposes a folder elsewhere.
inline constexpr wchar_t kTemporaryPlaceText[] = L"下载器在临时文件夹中运行，游戏将保存到上方的文件夹";
inline constexpr wchar_t kRemovablePlaceText[] = L"下载器在可移动磁盘或光盘上，游戏将保存到上方的文件夹";
inline constexpr wchar_t kNetworkPlaceText[] = L"下载器在网络位置上，游戏将保存到上方的文件夹";
inline constexpr wchar_t kReadOnlyPlaceText[] = L"下载器所在的文件夹无法写入，游戏将保存到上方的文件夹";
inline constexpr wchar_t kColumns[] =
    L"0\n-1\n0\n50\nID\n0\n-1\n0\n200\n文件名\n0\n-1\n0\n80\n文件大小\n0\n-1\n0\n80\n下载速度\n0\n-1\n0\n80\n"
    L"下载进度\n0\n-1\n0\n100\n当前状态";
inline constexpr wchar_t kCloseFont[] = L", 11, 0, 0, 0, 0, 0";
constexpr int kWidth = 624;
constexpr int kHeight = 375;
constexpr int kBackgroundImage = 500;
constexpr int kWindowIcon = 501;
constexpr int kFallbackIcon = 100;
constexpr int kFinishedImage = 502;
constexpr COLORREF kTitleBarBack = 0x191919;
constexpr COLORREF kTitleBarText = 0xFFFFFF;
constexpr COLORREF kCloseHover = 0x714BF1;
constexpr COLORREF kMinimizeHover = 0xFF8800;
enum ControlId : int {
  kCloseButton = 101,
  kMinimizeButton = 102,
  kFileList = 103,
  kBrowseButton = 104,
  kStartButton = 105,
  kSaveFolderBox = 106,
  kProgressBar = 107,
  kPictureBox = 108,
};
}  // namespace main_window

class rg_my_main_window : public CKelWinForm {
  KEL_DECLARE_CLASS(rg_my_main_window, CKelWinForm)

  // Sets the form's properties and binds the download manager's row progress.
  rg_my_main_window();
  // Detaches eventTarget first; then the download manager (which stops the engine) and the
  // controls go in reverse order, then the form.
  ~rg_my_main_window() override;

  int DesignWidth() const override { return main_window::kWidth; }
  int DesignHeight() const override { return main_window::kHeight; }
  // Binds the events and creates the eight controls (inside the form's creation).
  void CreateChildren() override;

  // -- Handlers -------------------------------------------------------------------------------

  // The form's created event: the list and the picture are hidden and the start button waits
  // for the engine, which starts once the window shows (OnWindowShown).
  using CKelWinForm::OnCreated;
  void OnCreated(CKelObject* sender, int32_t extra);
  // The form's shown event, from the message loop once the window is painted: starts the
  // engine, dispatching messages while it waits, so the window can be seen, moved and closed
  // meanwhile. When it answered, the save folder is filled in; otherwise the list and the
  // picture show again. Either way the start button is enabled.
  void OnWindowShown();
  // Browse and start/install.
  void OnButtonClick(CKelObject* sender, int32_t extra);
  // Minimise and close.
  void OnTitleButtonClick(CKelObject* sender, int32_t extra);
  // One file's display texts (engine worker thread).
  void OnRowProgress(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                     const CWString& completedText, const CWString& speedText, const CWString& percentText,
                     const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                     int32_t row);
  // A close request for the form (Escape, Alt+F4). Outside a run it lets the form close, which
  // ends the message loop. During a run or the engine's start it hides the window, asks the
  // engine to stop and ends the process (their waits could not be left before they end).
  int32_t OnWindowCloseRequest(CKelObject* sender, int32_t extra);

  bool IsRunning() const { return running_; }

  rg_ChaoJiAnNiu closeButton;
  rg_ChaoJiAnNiu minimizeButton;
  rg_ChaoJiLieBiaoKuang fileList;
  rg_button2 browseButton;
  rg_button2 startButton;
  rg_edit_box saveFolderBox;
  rg_process_bar progressBar;
  rg_TuPianKuang pictureBox;
  rg_n1434 downloadEngine;
  CWString saveFolderBase;  // the folder last chosen with the browse button
  EventTarget<rg_my_main_window> eventTarget{this};

 protected:
  // The platform services the workflow uses; tests record them instead.
  // Starts the download engine from the program's folder; non-zero when it answered.
  virtual int32_t StartDownloadEngine();
  // The program's folder with its trailing backslash.
  virtual CWString ProgramDirectory();
  // The shell's folder browser owned by this window; "" when cancelled.
  virtual CWString BrowseForFolder(CWTextRef title);
  virtual int ShowMessageBox(CWTextRef text, CWTextRef caption, UINT type);
  // Ends the process at once with the exit code.
  virtual void EndProcess(UINT exitCode);
  // Shows the run on the taskbar button: a TBPF_* state, and completed of total when normal.
  virtual void ShowTaskbarProgress(TBPFLAG state, uint64_t completed, uint64_t total);
  // Asks Windows not to sleep for lack of input while awake is true (the display may still
  // turn off); false gives the request back.
  virtual void KeepSystemAwake(bool awake);
  // Whether this window is the foreground window.
  virtual bool IsForegroundWindow();
  // Flashes the taskbar button until the window is brought forward.
  virtual void FlashTaskbarButton();
  // Starts the installer's command line (CreateProcessW); 0 or the system's error code.
  virtual DWORD StartInstaller(CWTextRef commandLine);
  // Starts the installer file with the elevation prompt (ShellExecuteExW); 0 or the error.
  virtual DWORD StartInstallerElevated(CWTextRef path);

 private:
  void Browse();
  // Looks at where the program was started: the save folder box gets the folder proposed for
  // it and the bar says why when that is not the program's own, or that the engine's files
  // are missing (then no engine is started).
  void ChooseStartingFolder();
  // The save folder can be written and the run's paths fit; otherwise the player is told why.
  // Before anything is created.
  bool SaveFolderWritable(const CWString& folder);
  bool SavePathsFit(const CWString& folder);
  void StartDownload();
  void Install();
  // The taskbar announced the window's button: from now on the run can be shown there.
  void OnTaskbarButtonCreated();
  // The run's figures on the bar, in its text and on the taskbar button (indeterminate while
  // a part's size is unknown); at most every kFiguresIntervalMs unless now.
  void ShowRunFigures(bool now);

  // What the failure box says after the failure text: why the run failed.
  CWString FailureReason() const;
  // The size cell of a row: the engine's figure, or the listed size while the engine does
  // not know the file's length yet.
  CWString SizeCellText(int32_t row, const CWString& engineSizeText) const;

  // A row's texts as the engine reported them.
  struct RowReport {
    CWString filePath, sizeText, speedText, percentText, statusText, failureText;
    int32_t row = 0;
  };
  void ShowRowReport(const RowReport& report);
  // Shows every report that waits, oldest first (user-interface thread).
  void ShowWaitingRows();

  std::mutex waitingRowsLock_;
  std::vector<RowReport> waitingRows_;  // reports from the worker not shown yet, oldest first
  bool waitingRowsQueued_ = false;      // a message to show them is on its way

  bool running_ = false;                     // a download run (its listing included) is in progress
  bool startingEngine_ = false;              // OnWindowShown waits for the engine
  bool engineFilesMissing_ = false;          // aria2c.exe or aria2.conf was not beside the program
  CWString startingFolder_;                  // the save folder proposed at start
  std::vector<int64_t> listedSizes_;         // the run's listed sizes by row, -1 unknown
  std::vector<CWString> runNames_;           // the run's file names by row
  std::map<int32_t, CWString> rowFailures_;  // the latest failure description of a row
  RunMeter runMeter_;
  uint64_t lastFiguresMs_ = 0;
  static constexpr uint64_t kFiguresIntervalMs = 250;
  ComPtr<ITaskbarList3> taskbar_;  // made when the taskbar announces the button
};
