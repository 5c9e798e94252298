#include "concurrency/thread_pool.h"

#include <optional>

#include "concurrency/lock_guards.h"

namespace {

using RecordRef = CKelRefPtr<THREADPOOL_INFO>;

// The record whose worker the current thread is, so that Stop called from a handler does not
// wait for its own thread.
thread_local const THREADPOOL_INFO* workerOf = nullptr;

// Dispatches the messages already queued for this thread. WM_QUIT stays queued for the
// thread's own message loop.
void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE) && msg.message != WM_QUIT) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) break;
    if (msg.message == WM_QUIT) {
      // Arrived between the two peeks: put it back.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Takes one packet; false on timeout or failure of the port.
bool TakePacket(HANDLE port, DWORD timeoutMs, DWORD& bytes, ULONG_PTR& key, TaskRecord*& task) {
  OVERLAPPED* overlapped = nullptr;
  bytes = 0;
  key = 0;
  BOOL ok = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, timeoutMs);
  task = reinterpret_cast<TaskRecord*>(overlapped);
  return ok != FALSE;
}

DWORD WINAPI WorkerMain(void* param) {
  // Create took this reference for us before starting the thread.
  RecordRef record = RecordRef::Adopt(static_cast<THREADPOOL_INFO*>(param));
  std::optional<ComInit> com;
  if (record->initCom) com.emplace(COINIT_APARTMENTTHREADED);
  workerOf = record.Get();
  record->liveThreads.fetch_add(1);
  SetEvent(record->startedEvent.Get());

  for (;;) {
    DWORD bytes;
    ULONG_PTR key;
    TaskRecord* task;
    if (!TakePacket(record->completionPort.Get(), INFINITE, bytes, key, task)) break;
    if (bytes == THREADPOOL_INFO::kStopPacketBytes) {
      delete task;
      break;
    }
    record->pendingTasks.fetch_sub(1);
    if (record->state.load() == THREADPOOL_INFO::kStopping) SetEvent(record->stopSignalEvent.Get());
    if (task) {
      record->runningTasks.fetch_add(1);
      reinterpret_cast<TaskDispatch>(key)(*record, *task);
      record->completedTasks.fetch_add(1);
      record->runningTasks.fetch_sub(1);
      delete task;
    }
  }

  workerOf = nullptr;
  record->liveThreads.fetch_sub(1);
  // Lets a waiting Stop see the count drop at once.
  SetEvent(record->stopSignalEvent.Get());
  com.reset();
  return 0;
}

// Discards queued tasks until the port stays empty for 100 ms.
DWORD WINAPI DrainMain(void* param) {
  RecordRef record = RecordRef::Adopt(static_cast<THREADPOOL_INFO*>(param));
  for (;;) {
    DWORD bytes;
    ULONG_PTR key;
    TaskRecord* task;
    if (!TakePacket(record->completionPort.Get(), 100, bytes, key, task) && !task) break;
    delete task;
    record->pendingTasks.fetch_sub(1);
  }
  return 0;
}

// Waits for a thread in 50 ms slices, dispatching messages between them.
void WaitPumping(HANDLE thread) {
  while (WaitForSingleObject(thread, 50) == WAIT_TIMEOUT) PumpMessages();
}

}  // namespace

THREADPOOL_INFO::THREADPOOL_INFO() { InitializeSRWLock(&ownerLock); }

THREADPOOL_INFO::~THREADPOOL_INFO() {
  if (!completionPort) return;
  DWORD bytes;
  ULONG_PTR key;
  TaskRecord* task;
  // Tasks posted while the pool was stopping and never taken.
  while (TakePacket(completionPort.Get(), 0, bytes, key, task) || task) delete task;
}

PivThreadPool::PivThreadPool() { InitializeSRWLock(&infoLock); }

PivThreadPool::~PivThreadPool() { Abandon(); }

CKelRefPtr<THREADPOOL_INFO> PivThreadPool::Info() const {
  CKelSrwSharedGuard guard(infoLock);
  return info;
}

bool PivThreadPool::IsRunning() const {
  RecordRef record = Info();
  return record && record->state.load() >= THREADPOOL_INFO::kRunning;
}

CKelRefPtr<THREADPOOL_INFO> PivThreadPool::RunningInfo() const {
  RecordRef record = Info();
  if (!record || record->state.load() < THREADPOOL_INFO::kRunning) return {};
  return record;
}

void PivThreadPool::LetGo(const CKelRefPtr<THREADPOOL_INFO>& record) {
  {
    CKelSrwExclusiveGuard guard(record->ownerLock);
    record->ownerAttached = false;
  }
  // Declared before the guard, so the pool's reference goes after the lock is free.
  RecordRef dropped;
  CKelSrwExclusiveGuard guard(infoLock);
  if (info.Get() == record.Get()) dropped = std::move(info);
}

void PivThreadPool::Abandon() {
  if (RecordRef record = Info()) LetGo(record);
}

bool PivThreadPool::Create(const int32_t& threads, const int32_t& stackSize, const int32_t& priority,
                           const int32_t& initCom) {
  if (RecordRef current = Info()) return current->state.load() >= THREADPOOL_INFO::kRunning;

  RecordRef record = RecordRef::Adopt(new THREADPOOL_INFO);
  record->startedEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  record->stopSignalEvent.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  record->completionPort.Reset(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 0));
  // Without its port a pool cannot work, and without its events it could not wait.
  if (!record->startedEvent || !record->stopSignalEvent || !record->completionPort) return false;
  record->state.store(THREADPOOL_INFO::kStarting);

  if (cpuCount == 0) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    cpuCount = system.dwNumberOfProcessors;
  }
  record->threadCount = threads > 0 ? threads : static_cast<int32_t>(cpuCount) + 1;
  record->priority = priority;
  record->initCom = initCom;
  record->stackSize = stackSize > 0 ? stackSize : 0;

  {
    CKelSrwExclusiveGuard guard(infoLock);
    info = record;
  }

  for (int32_t i = 0; i < record->threadCount; ++i) {
    RecordRef workerRef = record;  // the worker's own reference, adopted by the thread
    UniqueHandle thread(
        CreateThread(nullptr, static_cast<SIZE_T>(record->stackSize), WorkerMain, workerRef.Get(), 0, nullptr));
    if (!thread) continue;
    workerRef.Detach();
    if (priority != 0) SetThreadPriority(thread.Get(), priority);
    ++record->createdThreads;
  }

  // A started thread always reaches its first instruction, so wait for all of them; giving
  // up early could leave workers behind that no stop packet was meant for.
  while (record->liveThreads.load() < record->createdThreads && record->state.load() == THREADPOOL_INFO::kStarting) {
    WaitForSingleObject(record->startedEvent.Get(), 50);
    PumpMessages();
  }

  if (record->createdThreads == 0) {
    LetGo(record);
    return false;
  }
  // A Stop that ran while we dispatched messages has already let go of the record.
  int32_t expected = THREADPOOL_INFO::kStarting;
  return record->state.compare_exchange_strong(expected, THREADPOOL_INFO::kRunning);
}

bool PivThreadPool::Stop(const int32_t& noWait, const int32_t& timeoutMs) {
  RecordRef record = Info();
  if (!record) return true;
  if (record->state.exchange(THREADPOOL_INFO::kStopping) == THREADPOOL_INFO::kStopping) {
    // Another Stop is waiting further up the stack; it has sent the stop packets already.
    if (noWait == 0) return false;
    LetGo(record);
    return true;
  }

  if (record->pendingTasks.load() > 0) {
    RecordRef drainRef = record;  // the drain thread's own reference, adopted by the thread
    UniqueHandle drain(
        CreateThread(nullptr, static_cast<SIZE_T>(record->stackSize), DrainMain, drainRef.Get(), 0, nullptr));
    // Without a drain thread the workers take the queued tasks instead.
    if (drain) {
      drainRef.Detach();
      WaitPumping(drain.Get());
    }
  }

  for (int32_t i = 0; i < record->createdThreads; ++i) {
    PostQueuedCompletionStatus(record->completionPort.Get(), THREADPOOL_INFO::kStopPacketBytes, 0, nullptr);
  }

  if (noWait == 0) {
    // A worker stopping its own pool cannot wait for itself.
    const int32_t self = workerOf == record.Get() ? 1 : 0;
    const ULONGLONG limit = timeoutMs > 0 ? static_cast<ULONGLONG>(timeoutMs) : 0;
    const ULONGLONG start = GetTickCount64();
    while (record->liveThreads.load() > self) {
      if (limit > 0 && GetTickCount64() - start >= limit) break;
      WaitForSingleObject(record->stopSignalEvent.Get(), 50);
      PumpMessages();
    }
  }

  LetGo(record);
  return true;
}

rg_XianChengChiLei2_n::rg_XianChengChiLei2_n(const rg_XianChengChiLei2_n& other) : CKelObject(other) {}

rg_XianChengChiLei2_n& rg_XianChengChiLei2_n::operator=(const rg_XianChengChiLei2_n& other) {
  CKelObject::operator=(other);
  return *this;
}

rg_XianChengChiLei2_n::~rg_XianChengChiLei2_n() {
  onTask.Unbind();
  onObjectTask.Unbind();
  Stop(0, 2000);
  // Before the bindings go: also when Stop found another Stop still waiting.
  Abandon();
}

void rg_XianChengChiLei2_n::PostTask(int32_t kind, int64_t value1, int64_t value2) {
  RecordRef record = RunningInfo();
  if (!record) return;
  PostTo(*record, &DispatchTask, new TaskRecord(this, kind, value1, value2, nullptr));
}

void rg_XianChengChiLei2_n::PostObjectTask(int32_t kind, const CKelObject& object, int64_t value2) {
  RecordRef record = RunningInfo();
  if (!record) return;
  PostTo(*record, &DispatchObjectTask, new TaskRecord(this, kind, 0, value2, object.Clone()));
}

void PivThreadPool::PostTo(THREADPOOL_INFO& record, TaskDispatch dispatch, TaskRecord* task) {
  record.pendingTasks.fetch_add(1);
  if (!PostQueuedCompletionStatus(record.completionPort.Get(), 0, reinterpret_cast<ULONG_PTR>(dispatch),
                                  reinterpret_cast<OVERLAPPED*>(task))) {
    record.pendingTasks.fetch_sub(1);
    delete task;
  }
}

void rg_XianChengChiLei2_n::DispatchTask(THREADPOOL_INFO& record, TaskRecord& task) {
  TaskEvent::Call call;
  {
    CKelSrwSharedGuard guard(record.ownerLock);
    if (record.ownerAttached) call = task.pool->onTask.Take();
  }
  call.Invoke(task.pool, task.kind, task.value1, task.value2);
}

void rg_XianChengChiLei2_n::DispatchObjectTask(THREADPOOL_INFO& record, TaskRecord& task) {
  ObjectTaskEvent::Call call;
  {
    CKelSrwSharedGuard guard(record.ownerLock);
    if (record.ownerAttached) call = task.pool->onObjectTask.Take();
  }
  call.Invoke(task.pool, task.kind, task.object, task.value2);
}
