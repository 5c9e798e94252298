#include "engine/engine.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <utility>
#include <vector>

#include "build_config.h"
#include "engine/display_texts.h"
#include "engine/release_check.h"
#include "engine/engine_process.h"
#include "engine/public_address.h"
#include "engine/rpc_requests.h"
#include "engine/safe_names.h"
#include "net/http.h"
#include "runtime/convert.h"
#include "runtime/mem.h"
#include "runtime/utils.h"

namespace {

constexpr const wchar_t* kEngineExe = L"aria2c.exe";
// How long an ended engine may take to let go of its ports.
constexpr uint32_t kLeftoverEndWaitMs = 2000;

// Shown for a task that ended without the engine naming an error code.
constexpr const wchar_t* kRemovedText = L"任务已被移除";
constexpr const wchar_t* kUnknownTaskText = L"下载器中没有该任务";
constexpr const wchar_t* kEngineGoneText = L"下载器已退出";
// The engine's error codes of a task removed before it ended, and of an HTTP answer that is
// not a success.
constexpr int32_t kRemovedCode = 31;
constexpr int32_t kHttpErrorCode = 22;
// The engine's codes of a file it could not open, create, rename or write.
constexpr int32_t kFirstFileErrorCode = 13;
constexpr int32_t kLastFileErrorCode = 18;
// Said of a part whose file another program holds.
constexpr const wchar_t* kHeldFileText = L"文件被其他程序占用";
constexpr int32_t kChecksumErrorCode = 32;

CWString WithBackslash(const CWString& folder) {
  if (folder.IsEmpty() || folder.View().ends_with(L'\\')) return folder;
  return folder + L"\\";
}

CWString ProgramFolder() {
  CWString folder;
  ModuleDirectory(nullptr, folder);
  return folder;
}

// The absolute, normalised form of path, as a process's image path reads; path itself when
// that fails.
CWString FullPath(const CWString& path) {
  wchar_t full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(path.GetText(), static_cast<DWORD>(std::size(full)), full, nullptr);
  if (length == 0 || length >= std::size(full)) return path;
  return CWString(full, length);
}

// The failure text of a part whose file (path, "" for the part's own) another program held
// through every try.
CWString HeldFileFailure(const CWString& path) { return path + L" " + kHeldFileText; }

CWString DecimalText(int32_t value) {
  CWString text;
  text.AppendInteger(value);
  return text;
}

double NumberOf(const CWString& text) { return _wtof(text.GetText()); }

CWString MapStatus(const CWString& status) {
  if (status == L"active") return CWString(L"下载");
  if (status == L"paused") return CWString(L"暂停");
  if (status == L"waiting") return CWString(L"开始中");
  if (status == L"complete") return CWString(L"完成");
  if (status == L"removed") return CWString(L"无项目");
  return status;
}

// How the engine answered one call of a look: a status (the one object of a list) or an
// error object; anything else cannot be read. Every status asked for carries its "gid".
int32_t LookAnswerKind(RpcReply& reply, const CWString& at) {
  if (reply.Has(at + L"/0/gid")) return TaskTexts::kResult;
  return reply.Has(at + L"/code") ? TaskTexts::kErrorReply : TaskTexts::kNoReply;
}

// A task has ended once it completed or a failure was described.
bool HasEnded(const TaskTexts& texts) { return texts.statusText == L"完成" || texts.failureText.Length() >= 3; }

// Replaces one element of a text list (the list type has no setter).
void SetListEntry(rg_WenBenShuZuLei& list, int64_t index, CWTextRef text) {
  rg_WenBenShuZuLei rebuilt;
  for (int64_t i = 0; i < list.Count(); ++i) rebuilt.Add(i == index ? text : CWTextRef(list.GetText(i)));
  list = std::move(rebuilt);
}

void DeleteIfExists(const CWString& path) {
  if (FileExists(path)) DeleteFileW(path.GetText());
}

}  // namespace

rg_n1666::rg_n1666() : publicAddressUrl(BRINEMARCH_IPECHO_URL) {
  workerPool.onTask.Bind<&rg_n1666::PollTasks>(events);
  workerPool.onObjectTask.Bind<&rg_n1666::LaunchTask>(events);
  workerPool.Create(1, 0, 0, 0);
}

rg_n1666::~rg_n1666() {
  // First tell the worker's loops to end, so that detaching (which waits for the handler in
  // progress) does not wait for a poller that only stops when told.
  stopping = 1;
  pollerRunning = 0;
  if (pollerWake) SetEvent(pollerWake.Get());
  events.Detach();
  WaitWithMessages(1);
  Shutdown();
  // Our engine ends by itself after the shutdown request, its control files saved; the job
  // closing with this object kills whatever is left after a bounded wait.
  UniqueHandle process;
  {
    std::lock_guard<std::mutex> guard(processLock);
    process = std::move(engineProcess);
  }
  BOOL ours = FALSE;
  if (process && IsProcessInJob(process.Get(), engineJob.Get(), &ours) && ours) {
    WaitWithMessagesFor(process.Get(), kLeftoverEndWaitMs);
  }
  taskStatus.Unbind();
  taskFinished.Unbind();
}

// -- Engine process ---------------------------------------------------------------------------

int32_t rg_n1666::Start(const CWString& engineDir, const CWString& peerAgent, const CWString& peerIdPrefix) {
  launchResult = 0;
  readyTimeoutSeconds = kReadyTimeoutSeconds;
  const CWString dir = engineDir.IsEmpty() ? ProgramFolder() : WithBackslash(engineDir);
  // An empty session file: the engine never resumes downloads of an earlier run.
  CKelMem().WriteToFile(dir + L"aria2.session");
  if (!FileExists(dir + kEngineExe) || !FileExists(dir + L"aria2.conf")) return 0;

  rg_n2038 settings;
  settings.engineDir = dir;
  settings.rpcPortText = DecimalText(kBaseRpcPort);
  settings.listenPortText = DecimalText(kBaseListenPort);
  settings.dhtPortText = DecimalText(kBaseDhtPort);
  // A secret of this start only: a web page or program that knows the program's build must
  // still not be able to drive its engine.
  settings.secret = NewRpcSecret();
  if (settings.secret.IsEmpty()) return 0;
  settings.peerAgent = peerAgent;
  settings.peerIdPrefix = peerIdPrefix;
  settings.showEngineWindow = 0;
  rpcPortNumber = kBaseRpcPort;
  listenPortNumber = kBaseListenPort;
  dhtPortNumber = kBaseDhtPort;
  if (!workerPool.IsRunning()) return 0;
  workerPool.PostObjectTask(0, settings, 0);

  const ULONGLONG began = GetTickCount64();
  while (launchResult == 0 && GetTickCount64() - began < kStartWaitMs) WaitWithMessages(1);
  return launchResult;
}

int32_t rg_n1666::LaunchTask(int32_t, CKelObject* settings, int64_t) {
  if (settings && settings->IsKindOf(rg_n2038::StaticClassInfo())) RunLaunch(*static_cast<rg_n2038*>(settings));
  return 0;
}

void rg_n1666::RunLaunch(const rg_n2038& settings) {
  launchResult = LaunchEngine(settings.engineDir, settings.rpcPortText, settings.listenPortText, settings.dhtPortText,
                              settings.secret, settings.showEngineWindow);
  for (int32_t shift = 1; shift <= 2 && launchResult == 0 && stopping == 0; ++shift) {
    Shutdown();
    launchResult =
        LaunchEngine(settings.engineDir, DecimalText(rpcPortNumber + shift), DecimalText(listenPortNumber + shift),
                     DecimalText(dhtPortNumber + shift), settings.secret, settings.showEngineWindow);
  }
}

CWString rg_n1666::EngineCommandLine(const CWString& dir, const CWString& rpcPortValue, const CWString& listenPort,
                                     const CWString& dhtPort, const CWString& secret, const CWString& address,
                                     DWORD processId) {
  CWString dhtPath = dir + L"dht.dat";
  CWString dht6Path = dir + L"dht6.dat";
  dhtPath.ReplaceAll(L"\\", L"/", false);
  dht6Path.ReplaceAll(L"\\", L"/", false);
  // The third item keeps its "#": it is an item of the command line, not an engine option.
  CWString commandLine;
  commandLine.Format(
      L"\"%saria2c.exe\" --conf-path=\"%saria2.conf\" #--save-session=\"%saria2.session\" "
      L"--input-file=\"%saria2.session\" --rpc-listen-port=%s --listen-port=%s --dht-listen-port=%s "
      L"--enable-rpc=true --rpc-allow-origin-all=false --disable-ipv6=false --rpc-secret=%s --enable-dht=true "
      L"--enable-dht6=true --dht-file-path=\"%s\" --dht-file-path6=\"%s\" --bt-external-ip=%s "
      L"--stop-with-process=%d",
      dir.GetText(), dir.GetText(), dir.GetText(), dir.GetText(), rpcPortValue.GetText(), listenPort.GetText(),
      dhtPort.GetText(), secret.GetText(), dhtPath.GetText(), dht6Path.GetText(), address.GetText(),
      static_cast<int>(processId));
  return commandLine;
}

int32_t rg_n1666::LaunchEngine(const CWString& dir, const CWString& rpcPortValue, const CWString& listenPort,
                               const CWString& dhtPort, const CWString& secret, int32_t) {
  ready = 0;
  const CWString folder = dir.IsEmpty() ? ProgramFolder() : WithBackslash(dir);
  // Only our own leftover: an aria2c.exe of another program keeps running, and if it holds
  // our port the next attempt's ports step around it.
  EndProcessesOfImage(kEngineExe, FullPath(folder + kEngineExe), kLeftoverEndWaitMs);
  if (!FileExists(folder + kEngineExe)) return 0;
  // A port held by anyone (another copy's engine in another folder included) would reach them
  // with our requests and our secret: the next attempt's ports step around it.
  const auto attemptRpcPort = static_cast<int32_t>(TextToInt64(rpcPortValue));
  if (!portChecks.free(attemptRpcPort, static_cast<int32_t>(TextToInt64(listenPort)),
                       static_cast<int32_t>(TextToInt64(dhtPort)))) {
    return 0;
  }

  SetRpcEndpoint(rpcPortValue, secret);
  const CWString address = LookUpPublicAddress(publicAddressUrl);
  UniqueHandle process;
  if (StartEngineProcess(
          EngineCommandLine(folder, rpcPortValue, listenPort, dhtPort, secret, address, GetCurrentProcessId()),
          engineJob.Get(), process) != 0) {
    return 0;
  }
  const DWORD engineId = GetProcessId(process.Get());
  WatchEngineProcess(std::move(process));

  const ULONGLONG began = GetTickCount64();
  while (ready == 0 && stopping == 0) {
    // An engine that ended (its port taken, say) will never answer: the next attempt starts
    // now rather than after the whole readiness wait.
    if (!EngineAlive()) break;
    // The secret goes only to a port our engine alone listens on; and only our engine knows
    // it, so another server there does not make us ready either.
    if (portChecks.listenedOnlyBy(attemptRpcPort, engineId) &&
        !ReadResult(PostRpc(MakeGetVersionRequest(secret), kRequestTimeoutMs), L"/result/version").IsEmpty()) {
      ready = 1;
      break;
    }
    if (GetTickCount64() - began >= static_cast<ULONGLONG>(readyTimeoutSeconds) * 1000) break;
    WaitWithMessages(1);
  }
  if (ready == 0) EndWatchedEngine();
  return ready;
}

void rg_n1666::SetMaxConcurrent() {
  if (ready == 1) PostRpc(MakeMaxConcurrentRequest(RpcSecret(), L"99"), kRequestTimeoutMs);
}

void rg_n1666::Shutdown() {
  PostRpc(MakeShutdownRequest(RpcSecret()), kShutdownTimeoutMs);
  ready = 0;
  WaitWithMessages(10);
  CMMutexGuard guard(tableLock);
  taskIds.Clear();
  taskRows.Clear();
  taskPaths.Clear();
  SetEvent(tableChanged.Get());
}

void rg_n1666::WatchEngineProcess(DWORD processId) {
  WatchEngineProcess(UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, processId)));
}

void rg_n1666::WatchEngineProcess(UniqueHandle process) {
  std::lock_guard<std::mutex> guard(processLock);
  engineProcess = std::move(process);
}

void rg_n1666::EndWatchedEngine() {
  std::lock_guard<std::mutex> guard(processLock);
  if (!engineProcess) return;
  TerminateProcess(engineProcess.Get(), 0);
  WaitForSingleObject(engineProcess.Get(), kLeftoverEndWaitMs);
}

bool rg_n1666::EngineAlive() const {
  std::lock_guard<std::mutex> guard(processLock);
  return engineProcess && WaitForSingleObject(engineProcess.Get(), 0) == WAIT_TIMEOUT;
}

// -- Requests ---------------------------------------------------------------------------------

CWString rg_n1666::RpcPort() const {
  std::lock_guard<std::mutex> guard(portLock);
  return rpcPort;
}

CWString rg_n1666::RpcSecret() const {
  std::lock_guard<std::mutex> guard(portLock);
  return rpcSecret;
}

void rg_n1666::SetRpcEndpoint(const CWString& port, const CWString& secret) {
  std::lock_guard<std::mutex> guard(portLock);
  rpcPort = port;
  rpcSecret = secret;
}

CWString rg_n1666::PostRpc(const CWString& request, int32_t timeoutMs) const {
  const CWString port = RpcPort();
  // No launch has named a port yet: there is no engine to talk to.
  if (port.IsEmpty()) return CWString();
  const CWString url = L"http://127.0.0.1:" + port + L"/jsonrpc?tm=" + UnixMillisText();
  // In the URL the request leaves in one send; a POST's body may leave in a second one that
  // waits for the acknowledgement of the first, up to 40 ms on Linux's loopback and 200 ms on
  // Windows'. Only a request too long for the engine's request head is POSTed.
  const CWString getUrl = RpcGetUrl(url, request);
  const bool inUrl = !getUrl.IsEmpty();
  rg_WangYeFangWenXiangYingLei_n response;
  CWString cookies;
  CWString headers;
  const CKelMem body = SharedHttpObject().SendRequest(
      inUrl ? getUrl : url, inUrl ? http_method::kGet : http_method::kPost, inUrl ? CWString() : request, CKelMem(),
      CWString(), CWString(), 0, cookies, headers, CWString(), CWString(), CWString(), timeoutMs, 1, NoAcceptEncoding(),
      response);
  return Utf8ToText(body, false);
}

// -- Downloads --------------------------------------------------------------------------------

// The files around one download follow the save folder's rules (save_folder.h): what the add
// finds there decides between skipping, continuing and starting afresh, and the poller tells
// it when the part is whole or failed for good.
CWString rg_n1666::AddUri(const CWString& url, const CWString& dir, const CWString& name, const CWString& referer,
                          const CWString& header, const CWString& userAgent, int32_t row, int64_t listedSize,
                          const CWString& sha256) {
  const CWString folder = WithBackslash(dir.IsEmpty() ? DesktopDirectory() : dir);
  if (ready == 0) return CWString(kEngineNotReadyText);
  CMMutexGuard guard(tableLock);
  const CWString safeName = SaveName(name);
  const CWString path = folder + safeName;

  // Without a folder the name would be relative to wherever the engine happens to run.
  if (folder.IsEmpty()) {
    RaiseTaskStatus(CWString(), path, CWString(), CWString(), CWString(), CWString(), CWString(L"目录有误"), CWString(),
                    CWString(L"没有保存目录"), row);
    return CWString();
  }
  CWString scheme = url.Left(4);
  scheme.ToLowerAscii();
  if (!(scheme == L"http")) {
    RaiseTaskStatus(CWString(), path, CWString(), CWString(), CWString(), CWString(), CWString(L"链接有误"), CWString(),
                    CWString(L"网址有误"), row);
    return CWString();
  }

  const std::shared_ptr<SaveFolder> files = SaveFolderOfLocked(folder);
  const CWString token = RecordedPartId(CWString::RightOfLast(url, L"/"), sha256);
  lastAddFoundControlFile = FileExists(path + L".aria2") ? 1 : 0;
  SaveFolder::Plan plan = SaveFolder::Plan::kFresh;
  CWString heldFile;
  const bool cleared = files->Prepare(safeName, token, listedSize, plan, !sha256.IsEmpty(), &heldFile);
  WaitWithMessages(20);
  PartRun& part = parts_[row];
  part.url = url;
  part.folder = folder;
  part.name = safeName;
  part.referer = referer;
  part.header = header;
  part.userAgent = userAgent;
  part.token = token;
  part.listedSize = listedSize;
  part.sha256 = sha256;
  part.files = files;
  // Another program holds a file in the way: tried again like a refusal, until it lets go.
  if (!cleared && !heldFile.IsEmpty()) {
    if (ScheduleRetryLocked(part, row)) {
      RaiseTaskStatus(CWString(), path, CWString(), CWString(), CWString(L"0Byte/S"), CWString(),
                      CWString(kWaitingRetryText), CWString(), CWString(), row);
    } else {
      RaiseTaskStatus(CWString(), path, CWString(), CWString(), CWString(L"0Byte/S"), CWString(), CWString(kFailedText),
                      CWString(), HeldFileFailure(heldFile), row);
    }
    return CWString();
  }
  // The engine would resume into (and a failure would delete) whatever still has the name.
  if (!cleared) {
    RaiseTaskStatus(CWString(), path, CWString(), CWString(), CWString(), CWString(), CWString(L"无法备份"), CWString(),
                    CWString(L"同名文件无法移开"), row);
    return CWString();
  }
  if (plan == SaveFolder::Plan::kSkip) {
    ReportFinishedEarlier(row, path, files->RecordedSize(safeName));
    return CWString();
  }

  CWString engineName = safeName;
  engineName.ReplaceAll(L"\\", L"/", false);
  const CWString request =
      MakeAddUriRequest(RpcSecret(), url, JsonFolder(folder), engineName, referer, header, userAgent, sha256);
  const CWString id = ReadResult(PostRpc(request, kRequestTimeoutMs), L"/result");
  if (id.IsEmpty()) {
    // Nothing will download: the file from before goes back under its name.
    if (plan == SaveFolder::Plan::kFresh) files->FailedForGood(safeName);
    return id;
  }
  part.continued = plan == SaveFolder::Plan::kContinue;
  part.stopped = false;
  part.keepFiles = false;
  taskIds.Add(id);
  taskRows.Add(row);
  taskPaths.Add(path);
  StartPollerLocked();
  return id;
}

std::shared_ptr<SaveFolder> rg_n1666::SaveFolderOf(const CWString& dir) {
  CMMutexGuard guard(tableLock);
  return SaveFolderOfLocked(WithBackslash(dir.IsEmpty() ? DesktopDirectory() : dir));
}

std::shared_ptr<SaveFolder> rg_n1666::SaveFolderOfLocked(const CWString& folder) {
  if (!saveFolder_ ||
      CompareStringOrdinal(saveFolder_->Folder().GetText(), -1, folder.GetText(), -1, TRUE) != CSTR_EQUAL) {
    saveFolder_ = std::make_shared<SaveFolder>(folder);
  }
  return saveFolder_;
}

void rg_n1666::ReportFinishedEarlier(int32_t row, const CWString& path, int64_t size) {
  const CWString sizeText = FormatSize(static_cast<double>(size));
  CWString enginePath = path;
  enginePath.ReplaceAll(L"\\", L"/", false);
  {
    std::lock_guard<std::mutex> guard(bytesLock);
    rowBytes[row] = RowBytes{size, size, true};
  }
  RaiseTaskStatus(CWString(), enginePath, sizeText, sizeText, CWString(L"0Byte/S"), CWString(L"100%"),
                  CWString(kFinishedText), CWString(L"0:0:0"), CWString(), row);
}

int32_t rg_n1666::WaitingRetries() const {
  CMMutexGuard guard(tableLock);
  return static_cast<int32_t>(retries_.size());
}

int32_t rg_n1666::AddDueRetries() {
  std::vector<int32_t> due;
  {
    CMMutexGuard guard(tableLock);
    const uint64_t now = awakeClock();
    for (auto retry = retries_.begin(); retry != retries_.end();) {
      if (retry->dueMs <= now) {
        due.push_back(retry->row);
        retry = retries_.erase(retry);
      } else {
        ++retry;
      }
    }
  }
  int32_t added = 0;
  for (const int32_t row : due) {
    PartRun part;
    {
      CMMutexGuard guard(tableLock);
      const auto found = parts_.find(row);
      if (found == parts_.end()) continue;
      part = found->second;
    }
    const CWString id = AddUri(part.url, part.folder, part.name, part.referer, part.header, part.userAgent, row,
                               part.listedSize, part.sha256);
    if (!id.IsEmpty() && !(id == kEngineNotReadyText)) ++added;
  }
  if (!due.empty()) SetEvent(tableChanged.Get());
  return added;
}

int32_t rg_n1666::StopOpenTasks(const CWString& stateText) {
  std::vector<OpenTask> open;
  std::vector<int32_t> waiting;
  {
    CMMutexGuard guard(tableLock);
    for (int64_t i = 0; i < taskIds.Count(); ++i) {
      if (*taskIds.GetText(i) == 0) continue;
      open.push_back({i, taskIds.Get(i), taskRows.Get(i), taskPaths.Get(i)});
      parts_[taskRows.Get(i)].stopped = true;
    }
    for (const Retry& retry : retries_) waiting.push_back(retry.row);
    retries_.clear();
  }
  // Removed, not paused: the next run adds the part again and the engine continues it from
  // its control file, which a removal leaves in place.
  for (const OpenTask& task : open) PostRpc(MakeForceRemoveRequest(RpcSecret(), task.id), kRequestTimeoutMs);
  for (const OpenTask& task : open) {
    RaiseTaskStatus(task.id, CWString(), CWString(), CWString(), CWString(L"0Byte/S"), CWString(), stateText,
                    CWString(), CWString(), task.row);
    CMMutexGuard guard(tableLock);
    EmptyEntryLocked(task.index, task.id);
  }
  for (const int32_t row : waiting) {
    RaiseTaskStatus(CWString(), CWString(), CWString(), CWString(), CWString(L"0Byte/S"), CWString(), stateText,
                    CWString(), CWString(), row);
  }
  return static_cast<int32_t>(open.size() + waiting.size());
}

bool rg_n1666::StartPollerLocked() {
  if (pollerRunning != 0) return true;
  if (!workerPool.IsRunning()) return false;
  pollerRunning = 1;
  WaitWithMessages(1);
  workerPool.PostTask(0, 0, 0);
  return true;
}

void rg_n1666::WaitForTableChange(uint32_t maxMilliseconds) {
  if (tableChanged) {
    WaitWithMessagesFor(tableChanged.Get(), maxMilliseconds);
  } else {
    WaitWithMessages(1);
  }
}

bool rg_n1666::EnsurePoller() {
  CMMutexGuard guard(tableLock);
  return StartPollerLocked();
}

CWString rg_n1666::TellStatus(const CWString& taskId, TaskTexts& texts) {
  texts = TaskTexts();
  if (ready == 0) return CWString(kEngineNotReadyText);
  CWString id = taskId;
  {
    RpcReply first(PostRpc(MakeTellStatusRequest(RpcSecret(), id), kRequestTimeoutMs));
    if (!first.Parsed()) return CWString();
    const CWString followedBy = first.Text(L"/result/followedBy");
    if (!followedBy.IsEmpty()) id = followedBy;
  }
  RpcReply reply(PostRpc(MakeTellStatusRequest(RpcSecret(), id), kRequestTimeoutMs));
  if (!reply.Parsed()) return CWString();
  ReadTaskTexts(reply, CWString(L"/result"), reply.HasResult() ? TaskTexts::kResult : TaskTexts::kErrorReply, texts);
  return id;
}

void rg_n1666::ReadTaskTexts(RpcReply& reply, const CWString& path, int32_t kind, TaskTexts& texts) const {
  texts = TaskTexts();
  texts.reply = kind;
  if (kind != TaskTexts::kResult) return;
  const CWString status = reply.Text(path + L"/status");
  texts.statusText = MapStatus(status);
  if (status == L"active" || status == L"waiting") {
    const CWString verifying =
        VerificationStateText(reply.Text(path + L"/verifiedLength"), reply.Text(path + L"/verifyIntegrityPending"));
    if (!verifying.IsEmpty()) texts.statusText = verifying;
  }
  if (status == L"error") {
    const CWString code = reply.Text(path + L"/errorCode");
    texts.errorCode = static_cast<int32_t>(TextToInt64(code));
    texts.failureText = ErrorDescription(code);
    if (lastAddFoundControlFile == 1) texts.failureText.Append(L"|配置错误");
  }
  const CWString total = reply.Text(path + L"/totalLength");
  const CWString completed = reply.Text(path + L"/completedLength");
  const CWString speed = reply.Text(path + L"/downloadSpeed");
  const double totalBytes = NumberOf(total);
  const double completedBytes = NumberOf(completed);
  const double bytesPerSecond = NumberOf(speed);
  if (!total.IsEmpty()) texts.sizeText = FormatSize(totalBytes);
  if (!completed.IsEmpty()) texts.completedText = FormatSize(completedBytes);
  if (!speed.IsEmpty()) texts.speedText = FormatSize(bytesPerSecond) + L"/S";
  if (totalBytes > 0) texts.percentText = FormatPercent(completedBytes, totalBytes);
  if (totalBytes > 0) texts.totalBytes = static_cast<int64_t>(totalBytes);
  texts.completedBytes = static_cast<int64_t>(completedBytes);
  texts.bytesPerSecond = static_cast<int64_t>(bytesPerSecond);
  texts.remainingText = FormatRemaining(totalBytes, completedBytes, bytesPerSecond);
  texts.filePath = reply.Text(path + L"/files/0/path");
}

std::vector<TaskTexts> rg_n1666::LookAtTasks(const std::vector<CWString>& taskIds) {
  std::vector<TaskTexts> texts(taskIds.size());
  if (ready == 0 || taskIds.empty()) return texts;
  // A task whose status names a task that follows it is reported as that one: those are
  // asked for together in a second request (a download over HTTP is followed by none).
  std::vector<size_t> followed;
  std::vector<CWString> followers;
  {
    RpcReply reply(PostRpc(MakeStatusLookRequest(RpcSecret(), taskIds), kRequestTimeoutMs));
    if (!reply.Parsed()) return texts;
    for (size_t i = 0; i < taskIds.size(); ++i) {
      const CWString at = StatusLookPath(i);
      const CWString followedBy = reply.Text(at + L"/0/followedBy");
      if (followedBy.IsEmpty()) {
        ReadTaskTexts(reply, at + L"/0", LookAnswerKind(reply, at), texts[i]);
      } else {
        followed.push_back(i);
        followers.push_back(followedBy);
      }
    }
  }
  if (followed.empty()) return texts;
  RpcReply reply(PostRpc(MakeStatusLookRequest(RpcSecret(), followers), kRequestTimeoutMs));
  if (!reply.Parsed()) return texts;
  for (size_t k = 0; k < followed.size(); ++k) {
    const CWString at = StatusLookPath(k);
    ReadTaskTexts(reply, at + L"/0", LookAnswerKind(reply, at), texts[followed[k]]);
  }
  return texts;
}

int32_t rg_n1666::PendingCount() const {
  CMMutexGuard guard(tableLock);
  int32_t open = 0;
  for (int64_t i = 0; i < taskIds.Count(); ++i) {
    if (*taskIds.GetText(i) != 0) ++open;
  }
  return open;
}

int32_t rg_n1666::RowOf(const CWString& taskId) const {
  CMMutexGuard guard(tableLock);
  for (int64_t i = 0; i < taskIds.Count(); ++i) {
    if (taskId.View() == taskIds.GetText(i)) return taskRows.Get(i);
  }
  return 0;
}

void rg_n1666::RaiseTaskStatus(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                               const CWString& completedText, const CWString& speedText, const CWString& percentText,
                               const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                               int32_t row) {
  taskStatus.Fire(this, taskId, filePath, sizeText, completedText, speedText, percentText, statusText, remainingText,
                  failureText, row);
}

int32_t rg_n1666::PollTasks(int32_t, int64_t, int64_t) {
  while (pollerRunning != 0) {
    const uint64_t lookBegan = GetTickCount64();
    std::vector<OpenTask> open;
    {
      CMMutexGuard guard(tableLock);
      for (int64_t i = 0; i < taskIds.Count(); ++i) {
        if (*taskIds.GetText(i) != 0) open.push_back({i, taskIds.Get(i), taskRows.Get(i), taskPaths.Get(i)});
      }
      // Decided under the lock, so an add either sees the poller running or starts a new one.
      if (open.empty()) {
        pollerRunning = 0;
        SetEvent(tableChanged.Get());
        return 0;
      }
    }
    std::vector<CWString> ids;
    for (const OpenTask& task : open) ids.push_back(task.id);
    std::vector<TaskTexts> looked = LookAtTasks(ids);
    int64_t untilEndMs = -1;
    for (const TaskTexts& texts : looked) {
      const int64_t end = ExpectedEndMs(texts);
      if (end >= 0 && (untilEndMs < 0 || end < untilEndMs)) untilEndMs = end;
    }
    // Newest first.
    for (size_t k = open.size(); k-- > 0;) {
      if (pollerRunning == 0) return 0;
      const OpenTask* task = &open[k];
      TaskTexts texts = std::move(looked[k]);
      if (texts.reply == TaskTexts::kNoReply && ready != 0 && !EngineAlive()) {
        ready = 0;
        FailOpenTasks(CWString(kEngineGoneText));
        return 0;
      }
      // Ended without an error code, or the engine no longer knows the task: it will not
      // come back, so it fails instead of staying open for ever.
      if (!HasEnded(texts)) {
        if (texts.statusText == L"无项目") {
          texts.failureText = kRemovedText;
        } else if (texts.reply == TaskTexts::kErrorReply) {
          texts.failureText = kUnknownTaskText;
        }
      }
      // The row the task had when the look began: no second search of the table per task.
      const int32_t row = task->row;
      // A complete empty file has a length too.
      const bool complete = texts.statusText == L"完成";
      if (texts.totalBytes > 0 || complete) {
        std::lock_guard<std::mutex> guard(bytesLock);
        rowBytes[row] = RowBytes{texts.totalBytes, texts.completedBytes, complete};
      }
      RaiseTaskStatus(task->id, texts.filePath, texts.sizeText, texts.completedText, texts.speedText, texts.percentText,
                      texts.statusText, texts.remainingText, texts.failureText, row);
      if (HasEnded(texts)) FinishTask({task->index, task->id, row, task->path}, std::move(texts));
    }
    if (pollerRunning == 0) return 0;
    RestUntilNextLook(lookBegan, untilEndMs);
  }
  return 0;
}

uint32_t rg_n1666::NextLookRest(uint64_t spentMs, int64_t untilEndMs) {
  uint32_t rest = spentMs + kLookRestMs >= kLookPaceMs ? kLookRestMs : static_cast<uint32_t>(kLookPaceMs - spentMs);
  if (untilEndMs >= 0) {
    // The end is counted from the engine's answer, which came at the end of the look; the
    // next look reaches the engine a look's time after it leaves, so it leaves that much
    // sooner.
    const uint64_t due = static_cast<uint64_t>(untilEndMs) + kLookEndMarginMs;
    const uint64_t early = std::max<uint64_t>(due > spentMs ? due - spentMs : 0, kLookEarlyMs);
    if (early < rest) rest = static_cast<uint32_t>(early);
  }
  return rest;
}

int64_t rg_n1666::ExpectedEndMs(const TaskTexts& texts) {
  if (texts.statusText != L"下载" || texts.totalBytes <= 0 || texts.bytesPerSecond <= 0) return -1;
  const int64_t left = texts.totalBytes - texts.completedBytes;
  if (left <= 0) return 0;
  // Beyond a pace it changes nothing: no overflow for any file size.
  if (left / texts.bytesPerSecond >= 1) return 1000;
  return left * 1000 / texts.bytesPerSecond;
}

void rg_n1666::RestUntilNextLook(uint64_t lookBegan, int64_t untilEndMs) {
  const uint32_t rest = NextLookRest(GetTickCount64() - lookBegan, untilEndMs);
  if (lookRest) {
    lookRest(rest);
  } else if (pollerWake) {
    WaitWithMessagesFor(pollerWake.Get(), rest);
  } else {
    WaitWithMessages(rest);
  }
}

std::vector<rg_n1666::RowBytes> rg_n1666::RowBytesOf(int32_t rows) const {
  std::vector<RowBytes> bytes(static_cast<size_t>(std::max(rows, 0)));
  std::lock_guard<std::mutex> guard(bytesLock);
  for (const auto& [row, known] : rowBytes) {
    if (row >= 0 && row < rows) bytes[static_cast<size_t>(row)] = known;
  }
  return bytes;
}

void rg_n1666::ForgetRowBytes() {
  {
    std::lock_guard<std::mutex> guard(bytesLock);
    rowBytes.clear();
  }
  CMMutexGuard guard(tableLock);
  parts_.clear();
  retries_.clear();
}

void rg_n1666::EmptyEntryLocked(int64_t index, const CWString& id) {
  // The table may have been cleared (and refilled) since the pass took its copy.
  if (index < taskIds.Count() && id.View() == taskIds.GetText(index)) SetListEntry(taskIds, index, L"");
  SetEvent(tableChanged.Get());
}

bool rg_n1666::ScheduleRetryLocked(PartRun& part, int32_t row) {
  // Out of tries: the part stops as a stalled one does, its bytes kept for the next run.
  if (part.retries >= kMaxRetries) {
    part.keepFiles = true;
    return false;
  }
  // Drawn between half and the whole step, so that the parts (and the players) one outage
  // stopped do not all come back in the same second.
  const uint32_t pause = JitteredPauseMs(RetryPauseMs(part.retries), DrawJitter());
  retries_.push_back({awakeClock() + static_cast<uint64_t>(pause * retryPauseScale), row});
  ++part.retries;
  return true;
}

ErrorOutcome rg_n1666::SettleLocked(int32_t row, const TaskTexts& texts, const CWString& message, bool held) {
  const auto found = parts_.find(row);
  if (found == parts_.end() || !found->second.files) return ErrorOutcome::kFail;
  PartRun& part = found->second;
  // No code: the engine went away or no longer knows the task; nothing to try again with.
  if (texts.errorCode == 0 || texts.errorCode == kRemovedCode) return ErrorOutcome::kFail;
  // A file another program holds passes when that program lets go.
  if (held) return ScheduleRetryLocked(part, row) ? ErrorOutcome::kRetry : ErrorOutcome::kFail;
  // Bytes that are not the publisher's: fetched once more from the first byte (a stream that
  // delivered wrong bytes once), then given up (the drive's file is not the signed one).
  if (texts.errorCode == kChecksumErrorCode) {
    if (part.refetched) return ErrorOutcome::kFail;
    part.refetched = true;
    part.files->Restart(part.name);
    retries_.push_back({awakeClock(), row});
    return ErrorOutcome::kRestart;
  }
  ErrorOutcome outcome = OutcomeOfEngineError(texts.errorCode, message);
  // A part the engine could not continue from its bytes starts afresh, once; the file gone,
  // the disk full or the session refused would stay so. A fresh part that fails so has
  // nothing to start again from.
  const bool lasting =
      texts.errorCode == 3 || texts.errorCode == 9 || texts.errorCode == kHttpErrorCode || texts.errorCode == 24;
  if (outcome != ErrorOutcome::kRetry) {
    outcome = part.continued && !part.restarted && !lasting ? ErrorOutcome::kRestart : ErrorOutcome::kFail;
  }
  if (outcome == ErrorOutcome::kRestart) {
    part.restarted = true;
    part.files->Restart(part.name);
    retries_.push_back({awakeClock(), row});
  } else if (outcome == ErrorOutcome::kRetry && !ScheduleRetryLocked(part, row)) {
    outcome = ErrorOutcome::kFail;
  }
  return outcome;
}

void rg_n1666::FinishTask(const OpenTask& task, TaskTexts texts) {
  const bool complete = texts.statusText == L"完成";
  bool stopped = false;
  bool keepFiles = false;
  ErrorOutcome outcome = ErrorOutcome::kFail;
  std::shared_ptr<SaveFolder> files;
  CWString name;
  // The message of an error that needs it is asked before the table is locked: an add on the
  // user-interface thread must not wait for the engine's reply.
  CWString message;
  if (!complete && EngineErrorNeedsMessage(texts.errorCode)) {
    RpcReply reply(PostRpc(MakeErrorMessageRequest(RpcSecret(), task.id), kRequestTimeoutMs));
    if (reply.Parsed()) message = reply.Text(L"/result/errorMessage");
  }
  // The engine says only that it could not use the file; whether another program holds it
  // (a scanner, an indexer, a backup) is asked of the platform.
  CWString heldFile;
  if (!complete && texts.errorCode >= kFirstFileErrorCode && texts.errorCode <= kLastFileErrorCode) {
    for (const CWString& file : {task.path, task.path + L".aria2"}) {
      if (heldFile.IsEmpty() && FileHeldElsewhere(file)) heldFile = file;
    }
  }
  bool outOfTries = false;
  {
    CMMutexGuard guard(tableLock);
    const auto found = parts_.find(task.row);
    if (found != parts_.end()) {
      stopped = found->second.stopped;
      // An error answer (a secret the engine does not take, a task it does not know) says
      // nothing about the file: the part ends for this run and its files stay as they are.
      keepFiles = found->second.keepFiles || texts.reply == TaskTexts::kErrorReply;
      files = found->second.files;
      name = found->second.name;
    }
    if (!complete && !stopped && !keepFiles) {
      outcome = SettleLocked(task.row, texts, message, !heldFile.IsEmpty());
      outOfTries = found != parts_.end() && found->second.keepFiles;
      keepFiles = outOfTries;
    }
  }
  // Tried as long as a passing error is tried: the bytes stay for the next run, and the row
  // says why it stopped.
  if (outOfTries) {
    texts.statusText = heldFile.IsEmpty() ? kStalledText : kFailedText;
    if (!heldFile.IsEmpty()) texts.failureText = HeldFileFailure(heldFile);
  }
  if (outcome == ErrorOutcome::kFail && texts.errorCode == kChecksumErrorCode) {
    texts.statusText = kNotVerifiedText;
    texts.failureText = kNotVerifiedText;
  }
  // Stopped by the stall bound: its row says so already, and its bytes wait for the next run.
  if (stopped) {
    CMMutexGuard guard(tableLock);
    EmptyEntryLocked(task.index, task.id);
    return;
  }
  if (!complete && outcome != ErrorOutcome::kFail) {
    RaiseTaskStatus(task.id, texts.filePath, texts.sizeText, texts.completedText, CWString(L"0Byte/S"),
                    texts.percentText, CWString(kWaitingRetryText), CWString(), CWString(), task.row);
    CMMutexGuard guard(tableLock);
    EmptyEntryLocked(task.index, task.id);
    return;
  }
  RaiseTaskStatus(task.id, texts.filePath, texts.sizeText, texts.completedText, CWString(L"0"), texts.percentText,
                  texts.statusText, texts.remainingText, texts.failureText, task.row);
  taskFinished.Fire(this, task.id, texts.filePath, texts.sizeText, texts.completedText, texts.percentText,
                    texts.statusText, texts.failureText, task.row);
  // The files are settled before the entry goes, so whoever waits for the open tasks finds
  // them settled: a whole part replaces the player's earlier file, a failed one gives it back.
  if (files) {
    if (complete) {
      files->Completed(name, texts.totalBytes);
    } else if (!keepFiles) {
      files->FailedForGood(name);
    }
  } else if (!complete) {
    DeleteIfExists(task.path);
    DeleteIfExists(task.path + L".aria2");
  }
  CMMutexGuard guard(tableLock);
  EmptyEntryLocked(task.index, task.id);
  if (complete) ++completedCount;
}

void rg_n1666::FailOpenTasks(const CWString& failureText) {
  std::vector<OpenTask> open;
  {
    CMMutexGuard guard(tableLock);
    for (int64_t i = 0; i < taskIds.Count(); ++i) {
      if (*taskIds.GetText(i) == 0) continue;
      open.push_back({i, taskIds.Get(i), taskRows.Get(i), taskPaths.Get(i)});
      // The engine went as a power cut would take it: what it saved is continued next time.
      const auto part = parts_.find(taskRows.Get(i));
      if (part != parts_.end()) part->second.keepFiles = true;
    }
    retries_.clear();
  }
  for (auto task = open.rbegin(); task != open.rend(); ++task) {
    TaskTexts texts;
    texts.statusText = L"error";
    texts.failureText = failureText;
    texts.remainingText = L"0:0:0";
    RaiseTaskStatus(task->id, texts.filePath, texts.sizeText, texts.completedText, texts.speedText, texts.percentText,
                    texts.statusText, texts.remainingText, texts.failureText, task->row);
    FinishTask(*task, std::move(texts));
  }
  CMMutexGuard guard(tableLock);
  pollerRunning = 0;
  SetEvent(tableChanged.Get());
}
