#include "resolve/resolver.h"

#include "resolve/feishu_lister.h"
#include "resolve/lanzou.h"
#include "runtime/utils.h"

bool rg_n1660::Equals(const CKelObject& other) const {
  if (!CKelObject::Equals(other)) return false;
  const auto& that = static_cast<const rg_n1660&>(other);
  return shareAddress.Equals(that.shareAddress) && makeDownloadUrls == that.makeDownloadUrls &&
         password.Equals(that.password) && filePasswords.Equals(that.filePasswords) &&
         keepFolderNames == that.keepFolderNames;
}

bool rg_n1660::ReadFrom(CKelStream& stream) {
  rg_n1660 read;
  if (!read.shareAddress.ReadFrom(stream) || !stream.ReadInt32(read.makeDownloadUrls) ||
      !read.password.ReadFrom(stream) || !read.filePasswords.ReadFrom(stream) ||
      !stream.ReadInt32(read.keepFolderNames)) {
    return false;
  }
  BeforeChange();
  shareAddress = read.shareAddress;
  makeDownloadUrls = read.makeDownloadUrls;
  password = read.password;
  filePasswords = read.filePasswords;
  keepFolderNames = read.keepFolderNames;
  return true;
}

bool rg_n1660::WriteTo(CKelStream& stream) const {
  return shareAddress.WriteTo(stream) && stream.WriteInt32(makeDownloadUrls) && password.WriteTo(stream) &&
         filePasswords.WriteTo(stream) && stream.WriteInt32(keepFolderNames);
}

rg_n1565::rg_n1565() : rg_n1565(DriveEndpoints::Built()) {}

rg_n1565::rg_n1565(const DriveEndpoints& endpoints) : endpoints_(endpoints) {
  const int32_t defaultThreads = 0, defaultStack = 0, defaultPriority = 0, noCom = 0;
  taskPool.Create(defaultThreads, defaultStack, defaultPriority, noCom);
  taskPool.onObjectTask.Bind(&rg_n1565::RunResolverTask, eventHolder.Holder(), 0);
}

rg_n1565::~rg_n1565() {
  // Before anything a task uses goes away; the members then go in reverse order, the pool
  // (stopped with its 2000 ms limit) last.
  eventHolder.Detach();
}

int32_t rg_n1565::ResolveFeishuFolder(const CWString& shareAddress, rg_WenBenShuZuLei& names,
                                      rg_WenBenShuZuLei& pageUrls, rg_WenBenShuZuLei& downloadUrls,
                                      FeishuSession* session, std::vector<int64_t>* sizes,
                                      std::vector<CWString>* paths) {
  CMMutexGuard guard(callMutex);
  // The mutex admits its owner again: a call from a message handled during our own wait
  // would share our lists and status.
  if (resolving_) return 0;
  resolving_ = true;

  feishuStatus.store(-1, std::memory_order_relaxed);
  feishuNames.Clear();
  feishuPageUrls.Clear();
  feishuDownloadUrls.Clear();
  feishuSizes.clear();
  feishuPaths.clear();
  feishuFailure.Clear();

  rg_n1660 parameters;
  parameters.shareAddress = shareAddress;
  parameters.makeDownloadUrls = 1;
  parameters.keepFolderNames = 0;

  if (taskPool.IsRunning()) {
    taskPool.PostObjectTask(resolver_task::kFeishu, parameters, 0);
    while (feishuStatus.load(std::memory_order_acquire) == -1) WaitWithMessages(1);
  } else {
    // Nothing was posted, so nothing would ever end a wait.
    feishuStatus.store(0, std::memory_order_relaxed);
  }

  names = feishuNames;
  pageUrls = feishuPageUrls;
  downloadUrls = feishuDownloadUrls;
  if (session) *session = feishuSession;
  if (sizes) *sizes = feishuSizes;
  if (paths) *paths = feishuPaths;
  lastFeishuFailure = feishuFailure;
  feishuSession = FeishuSession();
  feishuNames.Clear();
  feishuPageUrls.Clear();
  feishuDownloadUrls.Clear();
  feishuSizes.clear();
  feishuPaths.clear();
  resolving_ = false;
  return feishuStatus.load(std::memory_order_relaxed);
}

int32_t rg_n1565::RunResolverTask(void* target, CKelObject* /*pool*/, int32_t /*extra*/, int32_t kind,
                                  CKelObject* parameters, int64_t /*value2*/) {
  auto& self = *static_cast<rg_n1565*>(target);
  const rg_n1660* task = parameters && parameters->IsKindOf(rg_n1660::StaticClassInfo())
                             ? static_cast<const rg_n1660*>(parameters)
                             : nullptr;
  if (kind == resolver_task::kFeishu) {
    // A waiter ends only with a status, so one is stored even without parameters.
    int32_t count = 0;
    if (task) {
      count = ListFeishuFolder(task->shareAddress, task->makeDownloadUrls, self.feishuNames, self.feishuPageUrls,
                               self.feishuDownloadUrls, task->keepFolderNames, CWString(), self.endpoints_,
                               &self.feishuSession, &self.feishuSizes, &self.feishuFailure, &self.feishuPaths);
    }
    self.feishuStatus.store(count, std::memory_order_release);
  } else {
    int32_t count = 0;
    if (task) {
      count = ListLanzouFolder(task->shareAddress, task->password, task->makeDownloadUrls, task->filePasswords,
                               self.lanzouNames, self.lanzouPageUrls, self.lanzouLinks, self.endpoints_);
    }
    self.lanzouStatus.store(count, std::memory_order_release);
  }
  return 0;
}
