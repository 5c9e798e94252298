#include "engine/download_manager.h"

#include "build_config.h"
#include "engine/safe_names.h"
#include "runtime/utils.h"

rg_n1434::rg_n1434() {
  engine.taskStatus.Bind<&rg_n1434::OnTaskStatus>(events);
  engine.taskFinished.Bind<&rg_n1434::OnTaskFinished>(events);
}

rg_n1434::~rg_n1434() {
  events.Detach();
  rowProgress.Unbind();
}

int32_t rg_n1434::StartEngine(const CWString& engineDir) {
  const int32_t started = engine.Start(engineDir, CWString(L"Transmission/3.00"), CWString(L"-TR3000-"));
  engine.SetMaxConcurrent();
  return started;
}

bool rg_n1434::WaitWhileOpen(int32_t limit) {
  while (engine.PendingCount() >= limit) {
    if (!engine.EnsurePoller()) return false;
    // Woken by every change of the task table, and by the window's messages; the time limit
    // only bounds a change that could go unnoticed.
    engine.WaitForTableChange(kTableWaitMs);
  }
  return true;
}

int32_t rg_n1434::DownloadAll(const CWString& saveFolder) {
  const int64_t count = fileNames.Count();
  if (count == 0) return 0;
  // Two files on one path would overwrite each other, and the second add would delete the
  // first one's control file while the engine writes it.
  if (SavePathsClash(fileNames)) {
    fileNames.Clear();
    fileUrls.Clear();
    fileSizes.clear();
    return 0;
  }
  CreateDirectories(saveFolder);
  engine.ForgetRowBytes();
  // A file already in the folder is not deleted here: the add moves it aside and puts it back
  // when its download fails.
  // The listing's own session: the build's, or a visitor's of the public share.
  const CWString header =
      visitorCookies.IsEmpty() ? CWString(BRINEMARCH_DOWNLOAD_COOKIE) : CWString(L"cookie:") + visitorCookies;
  const int32_t completedBefore = engine.CompletedTaskCount();
  int64_t accepted = 0;
  bool polled = true;
  for (int64_t i = 0; i < count && polled; ++i) {
    const CWString id = engine.AddUri(fileUrls.Get(i), saveFolder, fileNames.Get(i), referer, header, CWString(),
                                      static_cast<int32_t>(i));
    if (!id.IsEmpty() && !(id == kEngineNotReadyText)) ++accepted;
    polled = WaitWhileOpen(kMaxOpenTasks);
  }
  fileNames.Clear();
  fileUrls.Clear();
  fileSizes.clear();
  if (!polled || !WaitWhileOpen(1)) return 0;
  const bool allCompleted = engine.CompletedTaskCount() - completedBefore == count;
  return accepted == count && allCompleted ? 1 : 0;
}

void rg_n1434::OnTaskStatus(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                            const CWString& completedText, const CWString& speedText, const CWString& percentText,
                            const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                            int32_t row) {
  rowProgress.Fire(this, taskId, filePath, sizeText, completedText, speedText, percentText, statusText, remainingText,
                   failureText, row);
}

void rg_n1434::OnTaskFinished(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                              const CWString& completedText, const CWString& percentText, const CWString&,
                              const CWString& failureText, int32_t row) {
  rowProgress.Fire(this, taskId, filePath, sizeText, completedText, CWString(L"0Byte/S"), percentText,
                   CWString(L"完毕"), CWString(L"0"), failureText, row);
}
