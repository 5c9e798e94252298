// Thread pools over an I/O completion port.
//
// A pool object (rg_XianChengChiLei2_n) is embedded in its owner. The owner binds a handler to
// onTask and/or onObjectTask, calls Create, posts tasks, and stops the pool (or lets the
// destructor do it). A free worker takes one task from the port and calls the bound handler.
//
// Threads:
// - Create, Stop and destruction belong to the owner's thread (usually a window thread);
//   while they wait they dispatch that thread's window messages but leave WM_QUIT queued.
//   Stop may also be called from inside a handler of the same pool.
// - PostTask, PostObjectTask, IsRunning and Info may be called from any thread, handlers
//   of the pool included.
// - Handlers run on the workers, several at a time, outside every lock of the pool; they must
//   guard what they share themselves.
// Once Stop has returned, the workers no longer touch the pool object: a task taken later
// (one that raced with Stop) is dropped and its parameter object deleted. Tasks that had
// already reached their handler finish, possibly after Stop's time limit.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "concurrency/event_binding.h"
#include "concurrency/ref_ptr.h"
#include "runtime/object.h"
#include "runtime/win_handles.h"

class rg_XianChengChiLei2_n;

// The record shared by a pool object and its workers; freed when the last of them lets go.
// Freeing it also frees the tasks still queued on its port.
struct THREADPOOL_INFO final : CKelRefCounted {
  static constexpr int32_t kStopping = 1;
  static constexpr int32_t kStarting = 2;
  static constexpr int32_t kRunning = 3;
  // The byte count that marks a packet as a stop packet (every task packet has 0).
  static constexpr DWORD kStopPacketBytes = 10086;

  THREADPOOL_INFO();

  UniqueHandle completionPort;
  int64_t stackSize = 0;          // for CreateThread; 0 is the default
  UniqueHandle startedEvent;      // auto-reset: set by each worker once it runs
  UniqueHandle stopSignalEvent;   // auto-reset: set by workers while the pool is stopping
  std::atomic<int32_t> state{0};  // kStarting, kRunning, kStopping
  std::atomic<int32_t> liveThreads{0};
  int32_t threadCount = 0;  // workers Create asked for
  int32_t priority = 0;     // 0 leaves the default
  std::atomic<int32_t> runningTasks{0};
  std::atomic<int32_t> pendingTasks{0};  // posted, not yet taken from the port
  std::atomic<int32_t> completedTasks{0};
  int32_t initCom = 0;  // not 0: each worker enters a single-threaded apartment

  // Workers that were actually started; Stop sends one stop packet to each of them, also to
  // those that have not reached their first instruction yet.
  int32_t createdThreads = 0;
  // While the pool object holds on to the record, a worker reads the pool's bindings under
  // ownerLock (shared); letting go clears ownerAttached, so tasks taken later are discarded
  // instead of reaching a pool object that may be gone.
  SRWLOCK ownerLock;
  bool ownerAttached = true;

 private:
  ~THREADPOOL_INFO() override;
};

// One posted task; allocated by the poster, freed (with its object) by whoever takes it.
struct TaskRecord {
  static void* operator new(size_t n) { return CPoolMem::Instance().Allocate(n); }
  static void operator delete(void* block) { CPoolMem::Instance().Free(block); }

  TaskRecord(rg_XianChengChiLei2_n* pool, int32_t kind, int64_t value1, int64_t value2, CKelObject* object)
      : pool(pool), kind(kind), value1(value1), value2(value2), object(object) {}
  TaskRecord(const TaskRecord&) = delete;
  TaskRecord& operator=(const TaskRecord&) = delete;
  ~TaskRecord() {
    if (object) object->Delete();
  }

  rg_XianChengChiLei2_n* pool;
  int32_t kind;
  int64_t value1;
  int64_t value2;
  CKelObject* object;  // owned
};

// Runs one task on a worker. The completion key of a task packet.
using TaskDispatch = void (*)(THREADPOOL_INFO& record, TaskRecord& task);

// The pool machinery.
class PivThreadPool {
 public:
  PivThreadPool();
  PivThreadPool(const PivThreadPool&) = delete;
  PivThreadPool& operator=(const PivThreadPool&) = delete;
  virtual ~PivThreadPool();

  // True when the pool runs afterwards. threads <= 0 means cpuCount + 1; a negative
  // stackSize counts as 0. A running pool stays as it is; a starting or stopping one gives
  // false. Waits until every worker it started runs.
  virtual bool Create(const int32_t& threads, const int32_t& stackSize, const int32_t& priority,
                      const int32_t& initCom);
  // Drops the queued tasks, tells every worker to end and, unless noWait, waits for them:
  // up to timeoutMs when above 0, else without limit. False only when another Stop of this
  // pool is still waiting and noWait is 0.
  bool Stop(const int32_t& noWait, const int32_t& timeoutMs);

  // True when tasks posted now are taken.
  bool IsRunning() const;
  // The current record, null when no pool runs.
  CKelRefPtr<THREADPOOL_INFO> Info() const;

  uint32_t cpuCount = 0;  // read from the system by the first Create that needs it

 protected:
  // The record when the pool is running, else null.
  CKelRefPtr<THREADPOOL_INFO> RunningInfo() const;
  // Posts task to record's port (counted in pendingTasks); frees it when that fails.
  static void PostTo(THREADPOOL_INFO& record, TaskDispatch dispatch, TaskRecord* task);
  // Lets go of the current record without stopping its workers.
  void Abandon();

 private:
  void LetGo(const CKelRefPtr<THREADPOOL_INFO>& record);

  mutable SRWLOCK infoLock;          // guards info (posters read it from any thread)
  CKelRefPtr<THREADPOOL_INFO> info;  // null when no pool is running
};

// A pool with its two bindings. The standard object operations see only the object words:
// a clone has no pool and no bindings; assigning and resetting leave pool and bindings alone.
class rg_XianChengChiLei2_n : public CKelObject, public PivThreadPool {
  KEL_DECLARE_CLASS(rg_XianChengChiLei2_n, CKelObject)

  // Sender: the pool. Arguments: kind, value1, value2.
  using TaskEvent = EventBinding<int32_t, int64_t, int64_t>;
  // Sender: the pool. Arguments: kind, the pool's own copy of the posted object (deleted
  // when the handler returns; null when the object could not be cloned), value2.
  using ObjectTaskEvent = EventBinding<int32_t, CKelObject*, int64_t>;

  rg_XianChengChiLei2_n() = default;
  rg_XianChengChiLei2_n(const rg_XianChengChiLei2_n& other);
  rg_XianChengChiLei2_n& operator=(const rg_XianChengChiLei2_n& other);
  // Unbinds both handlers, then stops the pool with a limit of 2000 ms.
  ~rg_XianChengChiLei2_n() override;

  // Posting to a pool that is not running does nothing (and copies nothing).
  void PostTask(int32_t kind, int64_t value1, int64_t value2);
  void PostObjectTask(int32_t kind, const CKelObject& object, int64_t value2);

  TaskEvent onTask;
  ObjectTaskEvent onObjectTask;

 private:
  static void DispatchTask(THREADPOOL_INFO& record, TaskRecord& task);
  static void DispatchObjectTask(THREADPOOL_INFO& record, TaskRecord& task);
};
