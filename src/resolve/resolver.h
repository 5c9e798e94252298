// The resolution dispatcher: runs cloud-drive listings on the resolver's own thread pool while
// the calling window thread keeps dispatching its messages, and hands the lists back.
//
// Threads: construction, destruction and ResolveFeishuFolder belong to one window thread;
// RunResolverTask and the listers run on a worker of taskPool. The result lists are written
// by the worker only between the post and the status store (release), and read by the window
// thread only after it has seen that store (acquire).
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "concurrency/event_binding.h"
#include "concurrency/mutex.h"
#include "concurrency/thread_pool.h"
#include "resolve/drive_endpoints.h"
#include "resolve/feishu_lister.h"
#include "runtime/arrays.h"
#include "runtime/object.h"
#include "runtime/text.h"

// Task kinds posted to the resolver's pool.
namespace resolver_task {
enum : int32_t { kLanzou = 0, kFeishu = 1 };
}

// Parameters of one resolution task; the pool posts a clone of it.
class rg_n1660 : public CKelObject {
  KEL_DECLARE_CLASS(rg_n1660, CKelObject)

  rg_n1660() = default;

  bool Equals(const CKelObject& other) const override;
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  CWString shareAddress;
  int32_t makeDownloadUrls = 0;     // to the Lanzou lister: resolve links
  CWString password;                // Lanzou share password
  rg_WenBenShuZuLei filePasswords;  // Lanzou: password of file i at index i
  int32_t keepFolderNames = 0;
};

class rg_n1565 : public CKelObject {
  KEL_DECLARE_CLASS(rg_n1565, CKelObject)

  // Starts the pool (processors + 1 workers) and binds RunResolverTask to it.
  rg_n1565();
  explicit rg_n1565(const DriveEndpoints& endpoints);
  rg_n1565(const rg_n1565&) = delete;
  rg_n1565& operator=(const rg_n1565&) = delete;
  // Detaches from the pool first (waiting for a task in progress), then stops it within
  // 2000 ms while dispatching this thread's messages.
  ~rg_n1565() override;

  // Lists the Feishu share folder on a worker and waits for it in 1 ms steps that dispatch
  // this thread's messages. Returns the number of files; names, pageUrls and downloadUrls
  // are replaced by the listing's lists (empty and 0 when it failed). Gives 0 with empty
  // lists at once when the pool is not running. A call made on this thread while another
  // one waits (through a message handled during the wait) is refused: it returns 0 and
  // leaves its lists alone. session, when given, receives the session the listing used;
  // sizes the files' listed sizes in bytes (-1 where unknown), paths their places below the
  // share ("/" between names), both parallel to names.
  int32_t ResolveFeishuFolder(const CWString& shareAddress, rg_WenBenShuZuLei& names, rg_WenBenShuZuLei& pageUrls,
                              rg_WenBenShuZuLei& downloadUrls, FeishuSession* session = nullptr,
                              std::vector<int64_t>* sizes = nullptr, std::vector<CWString>* paths = nullptr);

  // The pool's object-task handler (target: the resolver, sender: the pool). Kind 1 lists a
  // Feishu folder into the feishu lists, any other kind a Lanzou folder into the lanzou
  // lists; the status is stored after the lists. Always 0.
  static int32_t RunResolverTask(void* target, CKelObject* pool, int32_t extra, int32_t kind, CKelObject* parameters,
                                 int64_t value2);

  rg_XianChengChiLei2_n taskPool;
  std::atomic<int32_t> feishuStatus{-1};  // -1 while a Feishu listing is outstanding
  std::atomic<int32_t> lanzouStatus{-1};  // -1 until a Lanzou task has run
  rg_WenBenShuZuLei feishuNames;
  rg_WenBenShuZuLei feishuPageUrls;
  rg_WenBenShuZuLei feishuDownloadUrls;
  FeishuSession feishuSession;        // written with the feishu lists
  std::vector<int64_t> feishuSizes;   // listed sizes, parallel to feishuNames; -1 unknown
  std::vector<CWString> feishuPaths;  // places below the share, parallel to feishuNames
  CWString feishuFailure;             // why the listing failed, written with the lists
  // Why the latest ResolveFeishuFolder gave nothing, shortly; "" after a listing that worked.
  CWString lastFeishuFailure;
  rg_WenBenShuZuLei lanzouNames;
  rg_WenBenShuZuLei lanzouPageUrls;
  rg_WenBenShuZuLei lanzouLinks;
  rg_HuChiSuoLei callMutex;  // held by ResolveFeishuFolder for its whole run
  EventTarget<rg_n1565> eventHolder{this};

 private:
  const DriveEndpoints endpoints_;  // read by the workers, never changed
  bool resolving_ = false;          // a ResolveFeishuFolder is waiting; guarded by callMutex
};
