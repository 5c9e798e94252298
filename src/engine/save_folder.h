// The save folder's rules: what the program keeps of its downloads there (a record of the
// parts it downloads or completed, the backups it made of a player's files) and, for each
// listed part, the choice between skipping it (finished earlier, untouched since), continuing
// it (its partial and the engine's control file are there) and starting afresh. A player's
// file is never taken for ours: only what the record names is deleted, moved or continued.
//
// The record is a small text file in the folder, written whole to a new file that replaces
// the old one; a damaged, foreign or unknown record counts as none.
//
// Threads: any; each call takes the object's own lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "runtime/text.h"

// Files other programs hold: a virus scanner opens each new file as it appears, indexers and
// backups open the player's files.
//
// Whether error is what Windows answers for a file another program holds open: a sharing or
// lock violation, or access denied (a scanner looking at a file being deleted).
bool IsHeldFileError(DWORD error);
// Whether the file at path is held open by a program that shares it with nobody (false when
// there is no such file).
bool FileHeldElsewhere(const CWString& path);
// Runs step (a file operation that sets the thread's last error when it fails) until it
// succeeds, trying again after short pauses (about half a second in all) while it fails
// because another program holds the file. Its result; the last error stays for the caller.
bool RetryWhileHeld(const std::function<bool()>& step);

class SaveFolder {
 public:
  enum class Plan {
    kSkip,      // finished earlier and untouched since: not added at all
    kContinue,  // ours and unfinished, with its control file: the engine continues it
    kFresh,     // downloaded from its first byte
  };

  // The record's file name in the save folder, and the name a new record is written under
  // before it replaces the old one.
  static constexpr const wchar_t* kRecordName = L".brinemarch-downloads";
  static constexpr const wchar_t* kFreshRecordSuffix = L".new";

  // folder: the save folder with or without its final backslash. Reads the record.
  explicit SaveFolder(const CWString& folder);
  SaveFolder(const SaveFolder&) = delete;
  SaveFolder& operator=(const SaveFolder&) = delete;

  const CWString& Folder() const { return folder_; }

  // What Prepare would do with the part, touching nothing. listedSize -1: unknown.
  Plan PlanFor(const CWString& name, const CWString& token, int64_t listedSize) const;
  // Bytes the part still needs on the disk: 0 to skip, its size less what a continued
  // partial already holds; -1 when its size is unknown.
  int64_t BytesNeeded(const CWString& name, const CWString& token, int64_t listedSize) const;
  // Makes the folder ready for the part's add and records the part as ours and unfinished:
  // for a fresh start, our partial and control file go, and a player's file of the name
  // moves aside under a free backup name (recorded). engineChecks: the engine checks the part
  // against its hash, so a player's file of the listed size stays in place for it to check
  // (and keep when it passes) and a copy goes aside under the backup name instead. False when
  // the name could not be cleared for the engine (nothing is added then); heldFile (when
  // given) then names the file another program held, "" when something else stood in the way.
  bool Prepare(const CWString& name, const CWString& token, int64_t listedSize, Plan& plan, bool engineChecks = false,
               CWString* heldFile = nullptr);
  // The engine could not continue the part: partial and control file go; the backup stays.
  void Restart(const CWString& name);
  // The part is whole: our backup of the player's earlier file goes, and the record keeps
  // the file's size and last-write time. size: the engine's length.
  void Completed(const CWString& name, int64_t size);
  // The part failed for good: partial and control file go and the player's earlier file
  // comes back under the name; the record forgets the part.
  void FailedForGood(const CWString& name);
  // Deletes what the engine leaves when it ends while saving a control file; only for a part
  // the engine is not working on (it saves through that file).
  void RemoveEngineLeftovers(const CWString& name) const;

  // The size the record keeps of a completed part's file; -1 when it has none.
  int64_t RecordedSize(const CWString& name) const;
  // False while the latest change could not be written to the record (another program
  // held it and the record written beside it); the next change tries again.
  bool RecordWritten() const;
  // Writes the record again when its latest change could not be written (the other program
  // may have let go since). True when the record on disk is up to date.
  bool WriteIfBehind();
  // For tests: the backup recorded for a part ("" for none), and whether the record holds it.
  CWString BackupOf(const CWString& name) const;
  bool Records(const CWString& name) const;

 private:
  enum class State { kDownloading, kComplete };
  struct Entry {
    State state = State::kDownloading;
    std::wstring token;
    int64_t listedSize = -1;
    int64_t localSize = -1;  // a completed part's file
    uint64_t writeTime = 0;  // a completed part's last-write time (FILETIME)
    std::wstring backup;     // the name of our backup of the player's file, "" for none
  };

  void Read();
  // Reads the record at path into the maps; false (maps untouched) when it is not a whole one.
  bool ReadRecord(const CWString& path);
  bool Write();
  Plan PlanLocked(const std::wstring& key, const CWString& name, const CWString& token, int64_t listedSize) const;
  CWString PathOf(const CWString& name) const;
  // The part's file, its control file and the engine's leftovers go.
  void DeletePartial(const CWString& name) const;
  // A backup name for the part that no file has: name.bak, name.bak1, name.bak2 ...
  CWString FreeBackupName(const CWString& name) const;

  mutable std::mutex lock_;
  CWString folder_;  // with its final backslash
  bool written_ = true;
  std::map<std::wstring, Entry> parts_;         // by name, upper-cased as Windows compares names
  std::map<std::wstring, std::wstring> names_;  // key -> name as given
};
