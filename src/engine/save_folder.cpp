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

SaveFolder::SaveFolder(const CWString& folder) : folder_(folder) {
  if (!folder_.IsEmpty() && folder_[folder_.Length() - 1] != L'\\') folder_.AppendChar(L'\\');
  Read();
}

CWString SaveFolder::PathOf(const CWString& name) const { return folder_ + name; }

void SaveFolder::Read() {
  parts_.clear();
  names_.clear();
  const CWString path = folder_ + kRecordName;
  UniqueHandle file(CreateFileW(path.GetText(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > kLargestRecord) return;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) || read != bytes.size()) {
    return;
  }
  if (!kelutf::ValidateUtf8(bytes.data(), bytes.size())) return;
  const std::wstring text = Utf8ToText(bytes.data(), bytes.size(), false).ToStdString();
  const std::vector<std::wstring> lines = SplitBy(text, L'\n');
  if (lines.empty() || lines[0] != Utf8ToText(kRecordHeader, sizeof kRecordHeader - 1, false).ToStdString()) return;
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
      return;  // damaged: as if there were none
    }
    entry.state = fields[0] == L"c" ? State::kComplete : State::kDownloading;
    entry.token = fields[2];
    entry.writeTime = static_cast<uint64_t>(writeTime);
    entry.backup = fields[6];
    const std::wstring key = KeyOf(CWString(fields[1].c_str()));
    if (!parts.emplace(key, entry).second) return;
    names.emplace(key, fields[1]);
  }
  parts_ = std::move(parts);
  names_ = std::move(names);
}

bool SaveFolder::Write() const {
  const CWString path = folder_ + kRecordName;
  if (parts_.empty()) {
    DeleteFileIfThere(path);
    return true;
  }
  std::wstring text = Utf8ToText(kRecordHeader, sizeof kRecordHeader - 1, false).ToStdString() + L"\n";
  for (const auto& [key, entry] : parts_) {
    text += entry.state == State::kComplete ? L"c\t" : L"d\t";
    text += names_.at(key) + L"\t" + entry.token + L"\t" + std::to_wstring(entry.listedSize) + L"\t" +
            std::to_wstring(entry.localSize) + L"\t" + std::to_wstring(entry.writeTime) + L"\t" + entry.backup + L"\n";
  }
  const CKelMem bytes = TextToUtf8(CWString(text.c_str()), false, false);
  // Written whole beside the record and then put in its place: a power cut leaves the old
  // record or the new one, never half of one.
  const CWString fresh = path + L".new";
  {
    UniqueHandle file(
        CreateFileW(fresh.GetText(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.Get(), bytes.Data(), static_cast<DWORD>(bytes.Size()), &written, nullptr) ||
        written != static_cast<DWORD>(bytes.Size()) || !FlushFileBuffers(file.Get())) {
      file.Reset();
      DeleteFileIfThere(fresh);
      return false;
    }
  }
  return MoveFileExW(fresh.GetText(), path.GetText(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
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

bool SaveFolder::Prepare(const CWString& name, const CWString& token, int64_t listedSize, Plan& plan,
                         bool engineChecks) {
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
    if (FileExists(path)) {
      if (oursUnfinished || FileExists(control)) {
        // Our partial, or an engine's partial beside its control file: nobody's finished file.
        DeleteFileW(path.GetText());
      } else {
        // A file of the part's size may already be the part: the engine hashes it before
        // fetching anything, and a copy stays aside in case it is not.
        LocalFile local;
        const bool checkable =
            engineChecks && listedSize >= 0 && ReadLocalFile(path, local) && local.size == listedSize;
        const CWString backup = FreeBackupName(name);
        if (backup.IsEmpty()) return false;
        const CWString backupPath = PathOf(backup);
        if (checkable ? !CopyFileW(path.GetText(), backupPath.GetText(), TRUE)
                      : !MoveFileW(path.GetText(), backupPath.GetText())) {
          return false;
        }
        entry.backup = backup.GetText();
        keepFile = checkable;
      }
    }
    DeleteFileIfThere(control);
    RemoveEngineLeftovers(name);
    if (FileExists(path) && !keepFile) return false;
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
  if (!entry.backup.empty()) DeleteFileIfThere(PathOf(CWString(entry.backup.c_str())));
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
    if (FileExists(backup)) MoveFileW(backup.GetText(), path.GetText());
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
