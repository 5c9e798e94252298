// The download engine object: it owns the engine process (aria2c.exe driven over JSON-RPC on
// the loopback address), a one-thread worker pool on which launches and the status poller
// run, and the task table of the downloads it handed to the engine.
//
// Threads:
// - Start, SetMaxConcurrent, AddUri, PendingCount, EnsurePoller and destruction belong to the
//   user-interface thread; their waits dispatch that thread's window messages.
// - LaunchTask, RunLaunch, LaunchEngine, PollTasks, LookAtTasks and TellStatus run on the worker (tests
//   may call them on their own thread while no worker task runs).
// - Shutdown, PostRpc, RowOf and the readers of the flags may be called from either.
// - taskStatus and taskFinished are raised on the worker, with no lock of the engine held
//   (AddUri raises taskStatus on the caller's thread for an address it refuses).
// The task table is read and written only under tableLock. AddUri holds it for its whole
// run, so the poller waits for an add in progress.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "concurrency/event_binding.h"
#include "concurrency/mutex.h"
#include "concurrency/thread_pool.h"
#include "engine/engine_ports.h"
#include "engine/engine_process.h"
#include "engine/launch_settings.h"
#include "engine/retry_policy.h"
#include "engine/save_folder.h"
#include "runtime/arrays.h"
#include "runtime/object.h"
#include "runtime/pauses.h"
#include "runtime/text.h"
#include "runtime/win_handles.h"

class RpcReply;

// What AddUri and TellStatus answer while no engine is ready.
inline constexpr const wchar_t* kEngineNotReadyText = L"下载器还未初始化完毕！";

// The display texts of one task, made from one tellStatus reply.
struct TaskTexts {
  // How the engine answered the status query.
  enum Reply : int32_t { kNoReply = 0, kResult = 1, kErrorReply = 2 };

  CWString filePath;  // as the engine reports it ("/" separators)
  CWString sizeText;
  CWString completedText;
  CWString speedText;       // size per second, "…/S"
  CWString percentText;     // only when the total length is known
  CWString statusText;      // "下载", "暂停", "开始中", "完成", "error", "无项目" or the engine's word
  CWString remainingText;   // "h:m:s"
  CWString failureText;     // the error description of a failed task
  int64_t totalBytes = -1;  // -1 until the engine knows the file's length
  int64_t completedBytes = 0;
  int64_t bytesPerSecond = 0;  // the engine's current speed for the task
  int32_t errorCode = 0;       // the engine's, when the task failed
  int32_t reply = kNoReply;
};

// Row states of a part that ended: whole (this run or an earlier one), failed for good.
inline constexpr const wchar_t* kFinishedText = L"完毕";
inline constexpr const wchar_t* kFailedText = L"失败";
// Row states of parts that wait: for their next try, stopped by the stall bound.
inline constexpr const wchar_t* kWaitingRetryText = L"等待重试";
inline constexpr const wchar_t* kStalledText = L"网络超时";
// A part whose bytes failed the manifest's hash twice.
inline constexpr const wchar_t* kNotVerifiedText = L"未通过校验";

class rg_n1666 : public CKelObject {
  KEL_DECLARE_CLASS(rg_n1666, CKelObject)

  // Arguments: taskId, filePath, sizeText, completedText, speedText, percentText, statusText,
  // remainingText, failureText, row.
  using TaskStatusEvent =
      EventBinding<const CWString&, const CWString&, const CWString&, const CWString&, const CWString&, const CWString&,
                   const CWString&, const CWString&, const CWString&, int32_t>;
  // Arguments: taskId, filePath, sizeText, completedText, percentText, statusText, failureText, row.
  using TaskFinishedEvent = EventBinding<const CWString&, const CWString&, const CWString&, const CWString&,
                                         const CWString&, const CWString&, const CWString&, int32_t>;

  static constexpr int32_t kBaseRpcPort = 7022;
  static constexpr int32_t kBaseListenPort = 7055;
  static constexpr int32_t kBaseDhtPort = 7033;
  static constexpr int32_t kRequestTimeoutMs = 5000;
  static constexpr int32_t kShutdownTimeoutMs = 100;
  static constexpr uint32_t kStartWaitMs = 12000;
  static constexpr int32_t kReadyTimeoutSeconds = 12;
  // The poller looks at every open task once per pace, in one request: a row follows its
  // task within about this, and a look never follows the one before sooner than kLookRestMs.
  static constexpr uint32_t kLookPaceMs = 100;
  static constexpr uint32_t kLookRestMs = 10;
  // A part due to end before the next look is looked at this long after its expected end
  // (the engine reports an end some 10 to 35 ms after the last byte: a look sooner finds the
  // part still running and the next one comes a rest and a request later), but never sooner
  // than kLookEarlyMs after the look before: a part that lingers near its end costs at most
  // one look per kLookEarlyMs.
  static constexpr uint32_t kLookEndMarginMs = 40;
  static constexpr uint32_t kLookEarlyMs = 40;

  // The rest after a look that took spentMs: until kLookPaceMs after it began (at least
  // kLookRestMs), or shorter when an open part is expected to end within untilEndMs (-1:
  // none is), so that the next look reaches the engine kLookEndMarginMs after that end.
  static uint32_t NextLookRest(uint64_t spentMs, int64_t untilEndMs);
  // When the task should end at its current speed, in milliseconds from its status; -1 when
  // it is not downloading or its speed or length is unknown.
  static int64_t ExpectedEndMs(const TaskTexts& texts);

  // Starts the one-thread worker pool and binds the poller and the launch to it.
  rg_n1666();
  // Stops the poller and any launch in progress, shuts the engine down, stops the pool.
  ~rg_n1666() override;
  // An engine owns a process and a thread: it is not a value to copy.
  rg_n1666(const rg_n1666&) = delete;
  rg_n1666& operator=(const rg_n1666&) = delete;

  // -- Engine process -----------------------------------------------------------------------

  // Prepares engineDir ("" for the program's folder), draws this start's RPC secret (128 bits
  // of the system's generator), posts the launch to the worker and waits up to 12000 ms for
  // its result: launchResult (1 ready, 0 not). 0 at once when aria2c.exe or aria2.conf is
  // missing there or no secret could be drawn. A slower launch may still succeed after this
  // returned 0.
  int32_t Start(const CWString& engineDir, const CWString& peerAgent, const CWString& peerIdPrefix);
  // Object-task handler of workerPool; settings is an rg_n2038.
  int32_t LaunchTask(int32_t kind, CKelObject* settings, int64_t value2);
  // Up to three launch attempts, the ports one higher each time; sets launchResult.
  void RunLaunch(const rg_n2038& settings);
  // One attempt: ends a leftover engine of dir's own aria2c.exe (no other), fails at once when
  // its ports are not free, starts it and waits up to readyTimeoutSeconds for it to listen on
  // the RPC port alone and answer a getVersion signed with secret; the wait ends early when the
  // started process ends. 1 ready; 0 not, and the attempt's process is ended.
  // showWindow is not used: the engine never has a console (its window's close button would
  // end it), whatever the settings say.
  int32_t LaunchEngine(const CWString& dir, const CWString& rpcPortValue, const CWString& listenPort,
                       const CWString& dhtPort, const CWString& secret, int32_t showWindow);
  // The engine's command line for one attempt (the template filled in order).
  static CWString EngineCommandLine(const CWString& dir, const CWString& rpcPortValue, const CWString& listenPort,
                                    const CWString& dhtPort, const CWString& secret, const CWString& address,
                                    DWORD processId);
  // Asks a ready engine to run up to 99 downloads at once.
  void SetMaxConcurrent();
  // Asks the engine to end (100 ms), marks it not ready and empties the task table.
  void Shutdown();
  // The process the poller checks when the engine stops answering (the launch sets it).
  void WatchEngineProcess(DWORD processId);
  void WatchEngineProcess(UniqueHandle process);
  // False once the watched engine process has ended, and while none is watched.
  bool EngineAlive() const;

  // -- Requests -----------------------------------------------------------------------------

  // POSTs request to the engine's RPC port; the reply text, "" when the exchange failed.
  CWString PostRpc(const CWString& request, int32_t timeoutMs) const;
  // The RPC port the requests go to and the secret they are signed with (written by the
  // launch, read by both threads). The secret lives only here and in the engine's command
  // line: never on disk, in a log or a window.
  CWString RpcPort() const;
  CWString RpcSecret() const;
  void SetRpcEndpoint(const CWString& port, const CWString& secret);

  // -- Downloads ----------------------------------------------------------------------------

  // Hands one file to the engine: name (made safe, "" for "test.rar") below dir ("" for the
  // desktop). The save folder's rules (SaveFolder) decide first: a part of ours that stopped
  // is continued from its bytes, a player's file of that name is moved aside under a free
  // backup name until the part is whole, and a part finished earlier and untouched is not
  // added again (its row is reported finished at once). listedSize: the size the drive
  // listed, -1 unknown. Result: the task id; "" when the engine did not accept the file, the
  // address is not an HTTP address, there is no folder, the existing file could not be moved
  // aside (the last three reported as a row update) or the part was finished earlier;
  // kEngineNotReadyText when no engine is ready. A part that ends with an error that may pass
  // is added again after a pause by AddDueRetries, up to kMaxRetries times in a run. sha256:
  // the hash (hex) the engine checks the whole file against ("" for none); a part that fails
  // the check starts again from its first byte once, then fails with kNotVerifiedText.
  CWString AddUri(const CWString& url, const CWString& dir, const CWString& name, const CWString& referer,
                  const CWString& header, const CWString& userAgent, int32_t row, int64_t listedSize = -1,
                  const CWString& sha256 = CWString());
  // The save folder's rules for dir: the same object while the run's folder stays the same.
  std::shared_ptr<SaveFolder> SaveFolderOf(const CWString& dir);
  // A part finished in an earlier run: its row reads whole at once (size, 100%, 完毕).
  void ReportFinishedEarlier(int32_t row, const CWString& path, int64_t size);
  // Parts waiting for their next try.
  int32_t WaitingRetries() const;
  // Adds again the parts whose pause is over; the number handed to the engine. User-interface
  // thread.
  int32_t AddDueRetries();
  // Stops every open task in the engine (its bytes and control file stay for the next run)
  // and gives up the parts waiting for a try; their rows read stateText. The number of
  // parts stopped. User-interface thread.
  int32_t StopOpenTasks(const CWString& stateText);
  // The display texts of one task. Result: the task id queried (a followedBy id when the
  // engine named one), "" when a reply could not be read, kEngineNotReadyText when not ready.
  CWString TellStatus(const CWString& taskId, TaskTexts& texts);
  // The display texts of every task of taskIds, same order, from one look: one request (a
  // second only for tasks the engine says another task follows, reported as that one). A
  // task whose answer could not be read has empty texts (reply kNoReply), as have all while
  // no engine is ready.
  std::vector<TaskTexts> LookAtTasks(const std::vector<CWString>& taskIds);
  // Plain-task handler of workerPool: looks at every open task once per kLookPaceMs until
  // none is open; with none open it sends nothing.
  int32_t PollTasks(int32_t kind, int64_t value1, int64_t value2);
  // Open tasks (entries of taskIds that are not "").
  int32_t PendingCount() const;
  // The row of the first entry equal to taskId; 0 when there is none.
  int32_t RowOf(const CWString& taskId) const;
  void RaiseTaskStatus(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                       const CWString& completedText, const CWString& speedText, const CWString& percentText,
                       const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                       int32_t row);
  // Makes sure a poller runs while tasks are open. False when none can be started (the pool is
  // not running); then nobody will poll the open tasks.
  bool EnsurePoller();
  // Tasks that ended complete since construction.
  int32_t CompletedTaskCount() const { return completedCount.load(); }
  // One row's bytes as last polled: total -1 until the engine knew the length; whole once
  // the row's task completed.
  struct RowBytes {
    int64_t total = -1;
    int64_t completed = 0;
    bool whole = false;
  };
  // Rows 0 .. rows-1 as last polled; a row not reported yet reads as a default RowBytes.
  // Any thread.
  std::vector<RowBytes> RowBytesOf(int32_t rows) const;
  // Forgets every row's bytes and the parts of the run before (a new run begins).
  void ForgetRowBytes();
  // Waits, dispatching window messages, until the task table may have changed (a task ended,
  // the table was cleared, the poller stopped) or at most maxMilliseconds. Waiters for the
  // open tasks re-check at once instead of polling the table every millisecond.
  void WaitForTableChange(uint32_t maxMilliseconds);

  rg_XianChengChiLei2_n workerPool;       // one worker thread
  rg_HuChiSuoLei tableLock;               // guards the task table
  rg_WenBenShuZuLei taskIds;              // engine task ids; "" once a task has ended
  rg_ZhengShuShuZuLei taskRows;           // list row of each entry, same index
  rg_WenBenShuZuLei taskPaths;            // the path each task writes, as the add prepared it
  std::atomic<int32_t> pollerRunning{0};  // 1 while a poller task is posted or running
  std::atomic<int32_t> launchResult{0};   // latest launch attempt: 1 ready, 0 not
  std::atomic<int32_t> ready{0};          // 1 while an engine answers
  int32_t readyTimeoutSeconds = 0;        // readiness wait of one launch attempt
  std::atomic<int32_t> lastAddFoundControlFile{0};
  int32_t rpcPortNumber = 0;
  int32_t listenPortNumber = 0;
  int32_t dhtPortNumber = 0;
  // The pause before a retry is RetryPauseMs, with its jitter, times this; tests shorten it.
  double retryPauseScale = 1.0;
  // The clock of the retries' pauses and of the run's stall bound: time awake, so that a
  // machine that slept does not wake to a bound run out. Tests play a sleep through it.
  std::function<uint64_t()> awakeClock = AwakeMilliseconds;
  // The poller's rest between two looks, given the milliseconds it should last; unset, the
  // poller waits that long (destruction ends the wait). Tests step the poller with it.
  std::function<void(uint32_t)> lookRest;
  // The IP-echo page read before each launch; the build's page unless a test points elsewhere.
  CWString publicAddressUrl;
  // How a launch keeps its ports to its own engine: free for exclusive use before the start,
  // and the RPC port listened on by the started process alone before the secret goes there.
  // Tests whose stand-in engine does not listen itself (the fake engine answers for it) put
  // checks of their own in place.
  struct PortChecks {
    bool (*free)(int32_t rpcPort, int32_t listenPort, int32_t dhtPort);
    bool (*listenedOnlyBy)(int32_t port, DWORD processId);
  };
  PortChecks portChecks{&EnginePortsFree, &TcpPortListenedOnlyBy};
  TaskStatusEvent taskStatus;
  TaskFinishedEvent taskFinished;

 private:
  struct OpenTask {
    int64_t index;
    CWString id;
    int32_t row;
    CWString path;
  };

  // Starts a poller unless one runs; the caller holds tableLock.
  bool StartPollerLocked();
  // What the engine was asked for one row, for its retries and its files.
  struct PartRun {
    CWString url, folder, name, referer, header, userAgent, token, sha256;
    int64_t listedSize = -1;
    int32_t retries = 0;     // tries after the first so far
    bool continued = false;  // the latest add continued a partial of an earlier try or run
    bool restarted = false;  // started afresh once already
    bool refetched = false;  // started afresh once already after failing the hash check
    bool stopped = false;    // stopped by StopOpenTasks: files stay as they are
    bool keepFiles = false;  // the engine went: files stay as they are
    std::shared_ptr<SaveFolder> files;
  };
  struct Retry {
    uint64_t dueMs;
    int32_t row;
  };

  // Ends one task: the last updates, its table entry emptied, its files settled; or, for an
  // error that may pass, its next try planned.
  void FinishTask(const OpenTask& task, TaskTexts texts);
  std::shared_ptr<SaveFolder> SaveFolderOfLocked(const CWString& folder);
  // Under tableLock: what becomes of the row's part after texts (message: the engine's
  // errorMessage of an HTTP error; held: another program holds its file); schedules a retry.
  ErrorOutcome SettleLocked(int32_t row, const TaskTexts& texts, const CWString& message, bool held);
  // Under tableLock: plans the part's next try after its pause. False when its tries are
  // used up; it then keeps its files for the next run.
  bool ScheduleRetryLocked(PartRun& part, int32_t row);
  // The display texts of the status at path of reply, which answered for the task as kind
  // (a TaskTexts::Reply): only a result has texts.
  void ReadTaskTexts(RpcReply& reply, const CWString& path, int32_t kind, TaskTexts& texts) const;
  // Rests until the next look is due (NextLookRest).
  void RestUntilNextLook(uint64_t lookBegan, int64_t untilEndMs);
  // Ends the watched process (a launch attempt that did not become ready).
  void EndWatchedEngine();
  // Ends every open task as failed with failureText and stops the poller.
  void FailOpenTasks(const CWString& failureText);
  void EmptyEntryLocked(int64_t index, const CWString& id);

  mutable std::mutex bytesLock;  // guards rowBytes
  std::map<int32_t, RowBytes> rowBytes;
  mutable std::mutex portLock;  // guards rpcPort and rpcSecret
  CWString rpcPort;
  CWString rpcSecret;
  mutable std::mutex processLock;  // guards engineProcess
  UniqueHandle engineProcess;
  // Every engine this object starts is in it; its closing (by our destruction or our end,
  // whichever way) ends them.
  const UniqueHandle engineJob{NewEndWithUsJob()};
  std::atomic<int32_t> stopping{0};  // set by destruction: launches and the poller end early
  std::atomic<int32_t> completedCount{0};
  std::map<int32_t, PartRun> parts_;                                        // by row; guarded by tableLock
  std::vector<Retry> retries_;                                              // guarded by tableLock
  std::shared_ptr<SaveFolder> saveFolder_;                                  // guarded by tableLock
  UniqueHandle tableChanged{CreateEventW(nullptr, FALSE, FALSE, nullptr)};  // auto-reset
  UniqueHandle pollerWake{CreateEventW(nullptr, TRUE, FALSE, nullptr)};     // set by destruction
  EventTarget<rg_n1666> events{this};
};
