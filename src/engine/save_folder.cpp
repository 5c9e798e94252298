#include "engine/save_folder.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "runtime/convert.h"
#include "runtime/utils.h"
#include "runtime/win_handles.h"

namespace {

constexpr char kRecordHeader[] = "brinemarch-downloads 1";
// A record larger than this is nobody's record of a share.
constexpr LONGLONG kLargestRecord = 4 * 1024 * 1024;
constexpr int kMaxBackupNumber = 99;

std::wstring KeyOf(const CWString& name) {
  std::wstring key(name.GetText());
  if (!key.empty()) CharUpperBuffW(key.data(), static_cast<DWORD>(key.size()));
  return key;
}

struct LocalFile {
  int64_t size = -1;
  uint64_t writeTime = 0;
};

// The file at path, when it is one (not a folder).
bool ReadLocalFile(const CWString& path, LocalFile& out) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.GetText(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  out.size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  out.writeTime =
      (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return true;
}

void DeleteFileIfThere(const CWString& path) {
  if (FileExists(path)) DeleteFileW(path.GetText());
}

// Deletes the file at path, waiting briefly for a program that holds it. A file another
// program still has open keeps its name until that program lets go, so the name being gone
// is what counts. True when no file has the name afterwards.
bool RemoveFile(const CWString& path) {
  return RetryWhileHeld([&] {
    if (!FileExists(path)) return true;
    if (!DeleteFileW(path.GetText())) return false;
    if (!FileExists(path)) return true;
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  });
}

// Moves from to to (replacing a file there when replace), waiting briefly for a program that
// holds either.
bool MoveHeldFile(const CWString& from, const CWString& to, bool replace) {
  const DWORD flags = replace ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH : MOVEFILE_WRITE_THROUGH;
  return RetryWhileHeld([&] { return MoveFileExW(from.GetText(), to.GetText(), flags) != FALSE; });
}

// Writes bytes as the whole new content of path and flushes them to the disk.
bool WriteWholeFile(const CWString& path, const CKelMem& bytes) {
  HANDLE handle = CreateFileW(path.GetText(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  UniqueHandle file(handle);
  DWORD written = 0;
  if (WriteFile(file.Get(), bytes.Data(), static_cast<DWORD>(bytes.Size()), &written, nullptr) &&
      written == static_cast<DWORD>(bytes.Size()) && FlushFileBuffers(file.Get())) {
    return true;
  }
  const DWORD error = GetLastError();
  file.Reset();
  DeleteFileIfThere(path);
  SetLastError(error);
  return false;
}

std::vector<std::wstring> SplitBy(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
    if (end == std::wstring::npos) return parts;
    start = end + 1;
  }
}

}  // namespace

bool IsHeldFileError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

bool FileHeldElsewhere(const CWString& path) {
  const DWORD attributes = GetFileAttributesW(path.GetText());
  // A read-only file or a folder refuses writing whoever looks.
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return false;
  }
  HANDLE handle =
      CreateFileW(path.GetText(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const DWORD error = GetLastError();
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return false;
  }
  return IsHeldFileError(error);
}

bool RetryWhileHeld(const std::function<bool()>& step) {
  // A scanner looks at a file for some milliseconds; a program that holds it longer is
  // waited for by the caller's own retries.
  constexpr DWORD kPausesMs[] = {10, 20, 40, 80, 150, 200};
  for (const DWORD pause : kPausesMs) {
    if (step()) return true;
    if (!IsHeldFileError(GetLastError())) return false;
    Sleep(pause);
  }
  return step();
}

SaveFolder::SaveFolder(const CWString& folder) : folder_(folder) {
  if (!folder_.IsEmpty() && folder_[folder_.Length() - 1] != L'\\') folder_.AppendChar(L'\\');
  Read();
}

CWString SaveFolder::PathOf(const CWString& name) const { return folder_ + name; }

void SaveFolder::Read() {
  parts_.clear();
  names_.clear();
  const CWString path = folder_ + kRecordName;
  // A record written whole that could not take the old one's place (another program held
  // it) is the newer of the two: only a move of it ever changes the record.
  if (!ReadRecord(path + kFreshRecordSuffix)) ReadRecord(path);
}

bool SaveFolder::ReadRecord(const CWString& path) {
  UniqueHandle file;
  RetryWhileHeld([&] {
    file.Reset(CreateFileW(path.GetText(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file);
  });
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > kLargestRecord) {
    return false;
  }
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()) {
    return false;
  }
  if (!kelutf::ValidateUtf8(bytes.data(), bytes.size())) return false;
  const std::wstring text = Utf8ToText(bytes.data(), bytes.size(), false).ToStdString();
  const std::vector<std::wstring> lines = SplitBy(text, L'\n');
  if (lines.empty() || lines[0] != Utf8ToText(kRecordHeader, sizeof kRecordHeader - 1, false).ToStdString()) {
    return false;
  }
  std::map<std::wstring, Entry> parts;
  std::map<std::wstring, std::wstring> names;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty() && i + 1 == lines.size()) break;
    // state, name, token, listed size, local size, last-write time, backup
    const std::vector<std::wstring> fields = SplitBy(lines[i], L'\t');
    Entry entry;
    int64_t writeTime = 0;
    if (fields.size() != 7 || (fields[0] != L"d" && fields[0] != L"c") || fields[1].empty() ||
        !ParseWholeNumber(fields[3], entry.listedSize) || !ParseWholeNumber(fields[4], entry.localSize) ||
        !ParseWholeNumber(fields[5], writeTime) || entry.listedSize < -1 || entry.localSize < -1 || writeTime < 0) {
      return false;  // damaged: as if there were none
    }
    entry.state = fields[0] == L"c" ? State::kComplete : State::kDownloading;
    entry.token = fields[2];
    entry.writeTime = static_cast<uint64_t>(writeTime);
    entry.backup = fields[6];
    const std::wstring key = KeyOf(CWString(fields[1].c_str()));
    if (!parts.emplace(key, entry).second) return false;
    names.emplace(key, fields[1]);
  }
  parts_ = std::move(parts);
  names_ = std::move(names);
  return true;
}

bool SaveFolder::Write() {
  const CWString path = folder_ + kRecordName;
  const CWString fresh = path + kFreshRecordSuffix;
  if (parts_.empty()) {
    written_ = RemoveFile(fresh) && RemoveFile(path);
    return written_;
  }
  std::wstring text = Utf8ToText(kRecordHeader, sizeof kRecordHeader - 1, false).ToStdString() + L"\n";
  for (const auto& [key, entry] : parts_) {
    text += entry.state == State::kComplete ? L"c\t" : L"d\t";
    text += names_.at(key) + L"\t" + entry.token + L"\t" + std::to_wstring(entry.listedSize) + L"\t" +
            std::to_wstring(entry.localSize) + L"\t" + std::to_wstring(entry.writeTime) + L"\t" + entry.backup + L"\n";
  }
  const CKelMem bytes = TextToUtf8(CWString(text.c_str()), false, false);
  // Written whole beside the record and then put in its place: a power cut leaves the old
  // record or the new one, never half of one. When another program holds the record for
  // longer than a brief wait, the new one stays beside it (Read takes it) until a later
  // change replaces both.
  written_ = RetryWhileHeld([&] { return WriteWholeFile(fresh, bytes); }) && MoveHeldFile(fresh, path, true);
  return written_;
}

bool SaveFolder::RecordWritten() const {
  std::lock_guard<std::mutex> guard(lock_);
  return written_;
}

bool SaveFolder::WriteIfBehind() {
  std::lock_guard<std::mutex> guard(lock_);
  return written_ || Write();
}

SaveFolder::Plan SaveFolder::PlanLocked(const std::wstring& key, const CWString& name, const CWString& token,
                                        int64_t listedSize) const {
  const auto found = parts_.find(key);
  if (found == parts_.end()) return Plan::kFresh;
  const Entry& entry = found->second;
  // Another file at the drive, or the drive's file changed since: nothing of ours matches.
  if (entry.token != token.GetText()) return Plan::kFresh;
  if (listedSize >= 0 && entry.listedSize >= 0 && listedSize != entry.listedSize) return Plan::kFresh;
  const CWString path = PathOf(name);
  if (entry.state == State::kComplete) {
    LocalFile local;
    const bool untouched =
        ReadLocalFile(path, local) && local.size == entry.localSize && local.writeTime == entry.writeTime;
    return untouched ? Plan::kSkip : Plan::kFresh;
  }
  return FileExists(path) && FileExists(path + L".aria2") ? Plan::kContinue : Plan::kFresh;
}

SaveFolder::Plan SaveFolder::PlanFor(const CWString& name, const CWString& token, int64_t listedSize) const {
  std::lock_guard<std::mutex> guard(lock_);
  return PlanLocked(KeyOf(name), name, token, listedSize);
}

int64_t SaveFolder::BytesNeeded(const CWString& name, const CWString& token, int64_t listedSize) const {
  std::lock_guard<std::mutex> guard(lock_);
  const Plan plan = PlanLocked(KeyOf(name), name, token, listedSize);
  if (plan == Plan::kSkip) return 0;
  if (listedSize < 0) return -1;
  LocalFile partial;
  // The engine sets a file's whole length aside when it starts it.
  if (plan == Plan::kContinue && ReadLocalFile(PathOf(name), partial)) {
    return std::max<int64_t>(listedSize - partial.size, 0);
  }
  return listedSize;
}

CWString SaveFolder::FreeBackupName(const CWString& name) const {
  for (int number = 0; number <= kMaxBackupNumber; ++number) {
    CWString candidate = name + L".bak";
    if (number > 0) candidate.AppendInt64(number);
    if (!FileExists(PathOf(candidate))) return candidate;
  }
  return CWString();
}

bool SaveFolder::Prepare(const CWString& name, const CWString& token, int64_t listedSize, Plan& plan, bool engineChecks,
                         CWString* heldFile) {
  std::lock_guard<std::mutex> guard(lock_);
  const std::wstring key = KeyOf(name);
  const Plan chosen = PlanLocked(key, name, token, listedSize);
  if (chosen == Plan::kSkip) {
    plan = chosen;
    return true;
  }
  const CWString path = PathOf(name);
  const CWString control = path + L".aria2";
  Entry entry;
  bool keepFile = false;  // a player's file left for the engine to check
  const auto found = parts_.find(key);
  if (chosen == Plan::kContinue) {
    entry = found->second;
    // Left by an engine that ended while saving; nothing writes this part now.
    RemoveEngineLeftovers(name);
  } else {
    const bool oursUnfinished = found != parts_.end() && found->second.state == State::kDownloading;
    // Our backup of the player's file stays until our part is whole, whatever became of it.
    if (oursUnfinished) entry.backup = found->second.backup;
    // What another program holds is named for the caller, who tries again later.
    const auto held = [&](const CWString& file) {
      if (heldFile) *heldFile = IsHeldFileError(GetLastError()) ? file : CWString();
      return false;
    };
    if (FileExists(path)) {
      // Ours at its whole length without its control file may have completed while no record
      // could be written: it goes aside like a player's file, never away.
      LocalFile local;
      const bool measured = ReadLocalFile(path, local);
      const bool maybeWhole = oursUnfinished && found->second.listedSize >= 0 && measured &&
                              local.size == found->second.listedSize && !FileExists(control);
      if ((oursUnfinished && !maybeWhole) || FileExists(control)) {
        // Our partial, or an engine's partial beside its control file: nobody's finished file.
        if (!RemoveFile(path)) return held(path);
      } else {
        // A file of the part's size may already be the part: the engine hashes it before
        // fetching anything, and a copy stays aside in case it is not.
        const bool checkable = engineChecks && listedSize >= 0 && measured && local.size == listedSize;
        const CWString backup = FreeBackupName(name);
        if (backup.IsEmpty()) return held(CWString());
        const CWString backupPath = PathOf(backup);
        if (!checkable) {
          if (!MoveHeldFile(path, backupPath, false)) return held(path);
          // A backup of the player's file recorded before stays the one recorded.
          if (entry.backup.empty()) entry.backup = backup.GetText();
        } else if (entry.backup.empty()) {
          if (!CopyFileW(path.GetText(), backupPath.GetText(), TRUE)) return held(path);
          entry.backup = backup.GetText();
        }
        // Checkable with a backup recorded before: the file is ours, the player's is aside.
        keepFile = checkable;
      }
    }
    if (!RemoveFile(control)) return held(control);
    RemoveEngineLeftovers(name);
    if (FileExists(path) && !keepFile) return held(CWString());
  }
  entry.state = State::kDownloading;
  entry.token = token.GetText();
  entry.listedSize = listedSize;
  entry.localSize = -1;
  entry.writeTime = 0;
  parts_[key] = entry;
  names_[key] = name.GetText();
  Write();
  plan = chosen;
  return true;
}

void SaveFolder::DeletePartial(const CWString& name) const {
  const CWString path = PathOf(name);
  DeleteFileIfThere(path);
  DeleteFileIfThere(path + L".aria2");
  RemoveEngineLeftovers(name);
}

void SaveFolder::Restart(const CWString& name) {
  std::lock_guard<std::mutex> guard(lock_);
  DeletePartial(name);
}

void SaveFolder::Completed(const CWString& name, int64_t size) {
  std::lock_guard<std::mutex> guard(lock_);
  const std::wstring key = KeyOf(name);
  Entry& entry = parts_[key];
  if (!names_.count(key)) names_[key] = name.GetText();
  if (!entry.backup.empty()) RemoveFile(PathOf(CWString(entry.backup.c_str())));
  LocalFile local;
  ReadLocalFile(PathOf(name), local);
  entry.state = State::kComplete;
  entry.backup.clear();
  entry.localSize = local.size >= 0 ? local.size : size;
  entry.writeTime = local.writeTime;
  if (entry.listedSize < 0) entry.listedSize = size;
  RemoveEngineLeftovers(name);
  Write();
}

void SaveFolder::FailedForGood(const CWString& name) {
  std::lock_guard<std::mutex> guard(lock_);
  DeletePartial(name);
  const CWString path = PathOf(name);
  const std::wstring key = KeyOf(name);
  const auto found = parts_.find(key);
  if (found == parts_.end()) return;
  if (!found->second.backup.empty()) {
    const CWString backup = PathOf(CWString(found->second.backup.c_str()));
    if (FileExists(backup)) MoveHeldFile(backup, path, false);
  }
  parts_.erase(found);
  names_.erase(key);
  Write();
}

void SaveFolder::RemoveEngineLeftovers(const CWString& name) const {
  DeleteFileIfThere(PathOf(name) + L".aria2__temp");
}

int64_t SaveFolder::RecordedSize(const CWString& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = parts_.find(KeyOf(name));
  return found == parts_.end() || found->second.state != State::kComplete ? -1 : found->second.localSize;
}

CWString SaveFolder::BackupOf(const CWString& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = parts_.find(KeyOf(name));
  return found == parts_.end() ? CWString() : CWString(found->second.backup.c_str());
}

bool SaveFolder::Records(const CWString& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  return parts_.count(KeyOf(name)) != 0;
}
