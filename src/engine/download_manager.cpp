#include "engine/download_manager.h"

#include <chrono>
#include <future>

#include "build_config.h"
#include "engine/rpc_requests.h"
#include "engine/safe_names.h"
#include "net/player_proxy.h"
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

namespace {

// Free bytes on the volume of folder, or of its nearest parent that exists.
int64_t FreeSpaceOf(const CWString& folder) {
  std::wstring path = folder.ToStdString();
  while (!path.empty()) {
    ULARGE_INTEGER available{};
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
      return static_cast<int64_t>(available.QuadPart);
    }
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    const size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) break;
    path.resize(slash + 1);
  }
  return -1;
}

// Runs work on a thread of its own and returns its result, this thread dispatching its
// messages meanwhile: the exchanges behind it may take seconds, and the window keeps answering.
template <typename Work>
auto WhileDispatching(Work work) {
  auto result = std::async(std::launch::async, std::move(work));
  while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) WaitWithMessages(1);
  return result.get();
}

}  // namespace

int64_t rg_n1434::RunBytesSoFar(int32_t rows) const {
  int64_t bytes = 0;
  for (const rg_n1666::RowBytes& row : engine.RowBytesOf(rows)) bytes += row.completed;
  return bytes;
}

bool rg_n1434::WaitWhileOpen(int32_t limit) {
  for (;;) {
    engine.AddDueRetries();
    const int32_t open = engine.PendingCount();
    if (open < limit && (limit > 1 || engine.WaitingRetries() == 0)) return true;
    if (open > 0 && !engine.EnsurePoller()) return false;
    const uint64_t now = engine.awakeClock();
    const int64_t bytes = RunBytesSoFar(runRows_);
    // A part waiting for its next try is not stalled, and neither is a run that moves.
    if (bytes != lastRunBytes_ || open == 0) {
      lastRunBytes_ = bytes;
      lastProgressMs_ = now;
    } else if (now - lastProgressMs_ >= stallMs) {
      engine.StopOpenTasks(CWString(kStalledText));
      stalled_ = true;
      return false;
    }
    // Woken by every change of the task table, and by the window's messages; the time limit
    // bounds a change that could go unnoticed and the look at a retry's pause.
    engine.WaitForTableChange(kTableWaitMs);
  }
}

int32_t rg_n1434::DownloadAll(const CWString& saveFolder) {
  lastFailure = RunFailure();
  wholeParts_.clear();
  const int64_t count = fileNames.Count();
  if (count == 0) {
    lastFailure.kind = RunFailure::kNothingListed;
    return 0;
  }
  // Two files on one path would overwrite each other, and the second add would delete the
  // first one's control file while the engine writes it.
  if (SavePathsClash(fileNames, &lastFailure.path)) {
    lastFailure.kind = RunFailure::kClash;
    ForgetFiles();
    return 0;
  }
  engine.ForgetRowBytes();
  const std::shared_ptr<SaveFolder> files = engine.SaveFolderOf(saveFolder);
  std::vector<CWString> safeNames, tokens;
  std::vector<int64_t> sizes;
  bool sized = true;
  for (int64_t i = 0; i < count; ++i) {
    safeNames.push_back(SaveName(fileNames.Get(i)));
    tokens.push_back(RecordedPartId(CWString::RightOfLast(fileUrls.Get(i), L"/"), HashOf(i)));
    sizes.push_back(static_cast<size_t>(i) < fileSizes.size() ? fileSizes[static_cast<size_t>(i)] : -1);
    sized = sized && sizes.back() >= 0;
  }
  // The room the parts still need, before anything is created: a disk that fills during the
  // run fails parts half way and leaves the player short of room for nothing.
  if (sized) {
    int64_t needed = 0;
    for (int64_t i = 0; i < count; ++i) needed += files->BytesNeeded(safeNames[i], tokens[i], sizes[i]);
    const int64_t available = freeSpace ? freeSpace(saveFolder) : FreeSpaceOf(saveFolder);
    if (needed > 0 && available >= 0 && needed + kRoomMargin > available) {
      lastFailure.kind = RunFailure::kNoRoom;
      lastFailure.bytesNeeded = needed;
      lastFailure.bytesFree = available;
      ForgetFiles();
      return 0;
    }
  }
  CreateDirectories(saveFolder);
  // The engine knows nothing of the player's proxy settings: the streams go the listing's way.
  SetEngineProxy(proxyFor ? proxyFor(fileUrls.Get(0))
                          : WhileDispatching([url = fileUrls.Get(0)] { return PlayerProxyFor(url); }));
  const CWString header = DownloadHeader();
  const int32_t completedBefore = engine.CompletedTaskCount();
  runRows_ = static_cast<int32_t>(count);
  lastRunBytes_ = 0;
  lastProgressMs_ = engine.awakeClock();
  stalled_ = false;
  int64_t finishedEarlier = 0;
  bool polled = true;
  for (int64_t i = 0; i < count && polled; ++i) {
    const int32_t row = static_cast<int32_t>(i);
    // Finished in an earlier run and untouched since: it counts as whole.
    if (files->PlanFor(safeNames[i], tokens[i], sizes[i]) == SaveFolder::Plan::kSkip) {
      engine.ReportFinishedEarlier(row, files->Folder() + safeNames[i], files->RecordedSize(safeNames[i]));
      ++finishedEarlier;
      continue;
    }
    engine.AddUri(fileUrls.Get(i), saveFolder, fileNames.Get(i), referer, header, CWString(), row, sizes[i], HashOf(i));
    polled = WaitWhileOpen(kMaxOpenTasks);
  }
  ForgetFiles();
  if (polled) polled = WaitWhileOpen(1);
  const int64_t whole = finishedEarlier + (engine.CompletedTaskCount() - completedBefore);
  if (polled && whole == count) {
    wholeParts_.clear();
    for (int64_t i = 0; i < count; ++i) wholeParts_.push_back({safeNames[i], tokens[i], sizes[i]});
    return 1;
  }
  lastFailure.kind = stalled_ ? RunFailure::kStalled : RunFailure::kUnfinished;
  lastFailure.unfinished = static_cast<int32_t>(count - whole);
  return 0;
}

bool rg_n1434::SetEngineProxy(const CWString& proxy) {
  if (engine.ready == 0) return false;
  const CWString reply = engine.PostRpc(MakeProxyRequest(engine.RpcSecret(), proxy), rg_n1666::kRequestTimeoutMs);
  return RpcReply(reply).Text(CWString(L"/result")) == L"OK";
}

void rg_n1434::OnTaskStatus(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                            const CWString& completedText, const CWString& speedText, const CWString& percentText,
                            const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                            int32_t row) {
  rowProgress.Fire(this, taskId, filePath, sizeText, completedText, speedText, percentText, statusText, remainingText,
                   failureText, row);
}

void rg_n1434::OnTaskFinished(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                              const CWString& completedText, const CWString& percentText, const CWString& statusText,
                              const CWString& failureText, int32_t row) {
  // Only a whole part reads finished; a failed one says so, its percentage as it stood, and
  // one out of tries reads as stopped by the stall bound (its bytes wait for the next run).
  const bool whole = statusText == L"完成";
  const CWString state = whole                        ? CWString(kFinishedText)
                         : statusText == kStalledText ? statusText
                                                      : CWString(kFailedText);
  rowProgress.Fire(this, taskId, filePath, sizeText, completedText, CWString(L"0Byte/S"), percentText, state,
                   CWString(L"0"), failureText, row);
}

CWString rg_n1434::FirstPartNotAsLeft(const CWString& saveFolder) {
  const std::shared_ptr<SaveFolder> files = engine.SaveFolderOf(saveFolder);
  for (const WholePart& part : wholeParts_) {
    if (files->PlanFor(part.name, part.id, part.listedSize) != SaveFolder::Plan::kSkip) return part.name;
  }
  return CWString();
}

CWString rg_n1434::HashOf(int64_t file) const {
  const size_t at = static_cast<size_t>(file);
  return at < fileHashes.size() ? fileHashes[at] : CWString();
}

void rg_n1434::ForgetFiles() {
  fileNames.Clear();
  fileUrls.Clear();
  fileSizes.clear();
  filePaths.clear();
  fileHashes.clear();
}

CWString rg_n1434::DownloadHeader() const {
  // The listing's own session: the build's, or a visitor's of the public share.
  return visitorCookies.IsEmpty() ? CWString(BRINEMARCH_DOWNLOAD_COOKIE) : CWString(L"cookie:") + visitorCookies;
}

int32_t rg_n1434::KeepSignedFiles() {
  const int64_t count = fileNames.Count();
  fileHashes.assign(static_cast<size_t>(count), CWString());
  if (manifestKey.IsEmpty()) return static_cast<int32_t>(count);
  std::vector<ListedFile> listed;
  for (int64_t i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(i);
    listed.push_back(ListedFile{at < filePaths.size() ? filePaths[at] : fileNames.Get(i), fileUrls.Get(i),
                                at < fileSizes.size() ? fileSizes[at] : -1});
  }
  ReleaseCheck check = WhileDispatching([&] {
    return CheckRelease(listed, manifestKey, DriveFetch(DownloadHeader(), referer, kManifestTimeoutMs),
                        manifestRetryPausesMs);
  });
  if (check.fault != ReleaseCheck::Fault::kNone) {
    lastFailure = RunFailure();
    lastFailure.kind = RunFailure::kRelease;
    lastFailure.release = check.fault;
    lastFailure.releaseDetail = check.detail;
    ForgetFiles();
    return -1;
  }
  rg_WenBenShuZuLei names, urls;
  std::vector<int64_t> sizes;
  std::vector<CWString> paths;
  for (const int64_t i : check.rows) {
    const size_t at = static_cast<size_t>(i);
    names.Add(fileNames.Get(i));
    urls.Add(fileUrls.Get(i));
    sizes.push_back(at < fileSizes.size() ? fileSizes[at] : -1);
    paths.push_back(listed[at].path);
  }
  fileNames = std::move(names);
  fileUrls = std::move(urls);
  fileSizes = std::move(sizes);
  filePaths = std::move(paths);
  fileHashes = std::move(check.sha256);
  return static_cast<int32_t>(fileNames.Count());
}
