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
#include <vector>

#include "concurrency/event_binding.h"
#include "engine/engine.h"
#include "resolve/resolver.h"
#include "runtime/arrays.h"
#include "runtime/object.h"
#include "runtime/text.h"

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
  // referer when the listing used a visitor's session), and waits until every task ended.
  // 1 only when every file was handed to the engine and completed; 0 otherwise (nothing
  // listed, two files on one save path, engine not ready, a file refused or failed, the
  // engine gone). Nothing is created, moved or added when nothing is listed or paths clash.
  // Empties the file lists.
  int32_t DownloadAll(const CWString& saveFolder);

  // Handlers of the engine's events, on the engine's worker thread.
  void OnTaskStatus(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                    const CWString& completedText, const CWString& speedText, const CWString& percentText,
                    const CWString& statusText, const CWString& remainingText, const CWString& failureText,
                    int32_t row);
  void OnTaskFinished(const CWString& taskId, const CWString& filePath, const CWString& sizeText,
                      const CWString& completedText, const CWString& percentText, const CWString& statusText,
                      const CWString& failureText, int32_t row);

  rg_n1666 engine;
  rg_n1565 resolver;               // lists the share folder into fileNames and fileUrls
  rg_WenBenShuZuLei fileNames;     // output names, a sub-folder part joined by a backslash
  rg_WenBenShuZuLei fileUrls;      // download addresses, same order and count
  std::vector<int64_t> fileSizes;  // sizes the listing gave, same order; -1 unknown
  CWString visitorCookies;         // "" for the build's session, else a visitor's "name=value; ..."
  CWString referer;                // sent with every download; "" for none
  // Arguments as the engine's taskStatus: taskId, filePath, sizeText, completedText,
  // speedText, percentText, statusText, remainingText, failureText, row.
  rg_n1666::TaskStatusEvent rowProgress;

 private:
  // Waits while at least limit tasks are open. False when they can no longer end because no
  // poller can run.
  bool WaitWhileOpen(int32_t limit);

  EventTarget<rg_n1434> events{this};
};
