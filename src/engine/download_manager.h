// The download manager the main window holds: it owns the engine object, the resolver that
// lists the share folder and the lists of the files to download; it starts the engine, runs a
// whole download and forwards the engine's per-task reports to the window as row updates
// (rowProgress).
//
// Threads: construction, destruction, StartEngine and DownloadAll belong to the user-interface
// thread (their waits dispatch its window messages). rowProgress is raised on the engine's
// worker thread (and, for a refused address, on the user-interface thread inside
// DownloadAll); a handler that touches windows must do so through synchronous messages.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "concurrency/event_binding.h"
#include "build_config.h"
#include "engine/engine.h"
#include "engine/release_check.h"
#include "resolve/resolver.h"
#include "runtime/arrays.h"
#include "runtime/object.h"
#include "runtime/text.h"

// Why the latest run did not end with every part whole.
struct RunFailure {
  enum Kind {
    kNone,
    kNothingListed,  // the listing gave no file
    kClash,          // two parts would share path
    kNoRoom,         // bytesNeeded would not fit in bytesFree: nothing was touched
    kUnfinished,     // unfinished parts did not end whole (the engine gone included)
    kStalled,        // no byte arrived for the stall bound: the open parts were stopped
    kEngine,         // no engine to hand the parts to
    kRelease,        // the release manifest did not let the run start: nothing was touched
  };
  Kind kind = kNone;
  CWString path;  // kClash: the path two parts would share
  int64_t bytesNeeded = 0;
  int64_t bytesFree = 0;
  int32_t unfinished = 0;
  ReleaseCheck::Fault release = ReleaseCheck::Fault::kNone;  // kRelease: what was wrong
  CWString releaseDetail;                                    // kRelease: the path or reason
};

class rg_n1434 : public CKelObject {
  KEL_DECLARE_CLASS(rg_n1434, CKelObject)

  // A run keeps fewer open tasks than this after each add.
  static constexpr int32_t kMaxOpenTasks = 12;
  // Longest wait of a run between two looks at its open tasks.
  static constexpr uint32_t kTableWaitMs = 100;

  rg_n1434();
  ~rg_n1434() override;
  rg_n1434(const rg_n1434&) = delete;
  rg_n1434& operator=(const rg_n1434&) = delete;

  // Starts the engine from engineDir ("" for the program's folder) and lets it run up to 99
  // downloads at once. Non-zero when the engine answered within 12000 ms.
  int32_t StartEngine(const CWString& engineDir);
  // Downloads every file of fileNames/fileUrls (row i shows file i) into saveFolder, which is
  // created when missing, with the drive's session (the build's cookie, or visitorCookies and
  // referer when the listing used a visitor's session), and waits until every part ended.
  // A part finished in an earlier run and untouched is not fetched again; one stopped earlier
  // continues from its bytes; one refused for a while is tried again after growing pauses.
  // 1 only when every part is whole; 0 otherwise, and lastFailure says why. Nothing is
  // created, moved or added when nothing is listed, paths clash or (every size known) the
  // parts would not fit on the save folder's disk. When no byte arrives for any open part
  // for stallMs, the open parts are stopped with their bytes kept for the next run.
  // Empties the file lists.
  int32_t DownloadAll(const CWString& saveFolder);
  // Between the listing and the rows: with a key in the build (manifestKey), fetches the
  // release manifest and its signature with the run's session, checks them and keeps in the
  // file lists only the files the publisher signed, each with its SHA-256 (fileHashes).
  // Without a key every listed file stays, without a hash. The number of files kept; -1
  // when the run must not start (lastFailure says why; the lists are emptied). filePaths
  // must be parallel to fileNames.
  int32_t KeepSignedFiles();
  // Empties the file lists (names, addresses, sizes, places, hashes): a run that will not start.
  void ForgetFiles();
  // After a run that returned 1: the first part (its name below saveFolder) that is no longer
  // as the run left it (gone, another size or last-write time); "" when every part is.
  CWString FirstPartNotAsLeft(const CWString& saveFolder);

  // Sends the engine's downloads through proxy ("host:port", "" for none); true when the
  // engine took it.
  bool SetEngineProxy(const CWString& proxy);

  // Handlers of the engine's events, on the engine's worker thread.
  void OnTaskStatus(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                    const CWString& completedText, const CWString& speedText, const CWString& percentText,
                    const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                    int32_t row);
  void OnTaskFinished(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                      const CWString& completedText, const CWString& percentText, const CWString& statusText,
                      const CWString& failureText, int32_t row);

  rg_n1666 engine;
  rg_n1565 resolver;                 // lists the share folder into fileNames and fileUrls
  rg_WenBenShuZuLei fileNames;       // output names, a sub-folder part joined by a backslash
  rg_WenBenShuZuLei fileUrls;        // download addresses, same order and count
  std::vector<int64_t> fileSizes;    // sizes the listing gave, same order; -1 unknown
  std::vector<CWString> filePaths;   // places below the share ("/" between names), same order
  std::vector<CWString> fileHashes;  // the manifest's SHA-256 of each file, "" for none
  // The publisher's public key (base64 DER); "" for a build that checks no manifest.
  CWString manifestKey{BRINEMARCH_MANIFEST_KEY};
  // Pauses before the second and third try of a manifest file, as for a listing page.
  std::vector<int32_t> manifestRetryPausesMs{1000, 3000};
  RunFailure lastFailure;  // why the latest run failed
  // The stall bound; the build's, unless a test sets a shorter one.
  uint64_t stallMs = static_cast<uint64_t>(BRINEMARCH_STALL_SECONDS) * 1000;
  // Free bytes for a folder that may not exist yet (its nearest existing parent's volume);
  // -1 when unknown. The platform's, unless a test plays a small disk.
  std::function<int64_t(const CWString& folder)> freeSpace;
  // The proxy ("host:port", "" for none) a download address is reached through: the
  // player's settings (PlayerProxyFor), unless a test plays them.
  std::function<CWString(const CWString& url)> proxyFor;
  CWString visitorCookies;  // "" for the build's session, else a visitor's "name=value; ..."
  CWString referer;         // sent with every download; "" for none
  // Arguments as the engine's taskStatus: taskId, filePath, sizeText, completedText,
  // speedText, percentText, statusText, remainingText, failureText, row.
  rg_n1666::TaskStatusEvent rowProgress;

 private:
  // Waits while at least limit tasks are open, adding again the parts whose pause is over;
  // with limit 1 also while parts wait for a try. False when the tasks can no longer end
  // because no poller can run, or when the run stalled (its open tasks are then stopped).
  bool WaitWhileOpen(int32_t limit);
  // The run's bytes so far, for the stall bound.
  int64_t RunBytesSoFar(int32_t rows) const;
  // The manifest's SHA-256 of file i; "" for none.
  CWString HashOf(int64_t file) const;
  // The header line every download of the run carries: the listing's session.
  CWString DownloadHeader() const;
  // Each exchange of the release check.
  static constexpr int32_t kManifestTimeoutMs = 15000;
  // Margin kept free on the save folder's disk beyond the parts' bytes.
  static constexpr int64_t kRoomMargin = 32 * 1024 * 1024;

  struct WholePart {
    CWString name;  // below the save folder
    CWString id;    // as the record knows it (RecordedPartId)
    int64_t listedSize;
  };
  std::vector<WholePart> wholeParts_;  // the parts of the latest run that returned 1
  uint64_t lastProgressMs_ = 0;
  int64_t lastRunBytes_ = 0;
  int32_t runRows_ = 0;
  bool stalled_ = false;

  EventTarget<rg_n1434> events{this};
};
