#include "app/folder_choice.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "engine/safe_names.h"
#include "engine/save_folder.h"
#include "runtime/utils.h"
#include "runtime/win_handles.h"

namespace {

constexpr wchar_t kGameFolder[] = L"Brinemarch";
// The longest ending the engine and the record put after a path: the engine writes its
// control file as name.aria2__temp before renaming it; the record is replaced through .new.
constexpr int64_t kControlFileEnding = 12;  // ".aria2__temp"
constexpr wchar_t kRecordReplacement[] = L".new";

CWString WithBackslash(CWString folder) {
  if (!folder.IsEmpty() && folder[folder.Length() - 1] != L'\\') folder.AppendChar(L'\\');
  return folder;
}

CWString WithoutBackslash(CWString folder) {
  // A drive root keeps its backslash.
  while (folder.Length() > 3 && folder[folder.Length() - 1] == L'\\') folder = folder.Left(folder.Length() - 1);
  return folder;
}

// The long form of a path that exists (archive viewers and TEMP may give 8.3 names).
CWString LongForm(const CWString& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  DWORD n = GetLongPathNameW(path.GetText(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n >= buffer.size()) {
    buffer.resize(n);
    n = GetLongPathNameW(path.GetText(), buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  if (n == 0 || n >= buffer.size()) return path;
  return CWString(buffer.data(), n);
}

bool IsInside(const CWString& path, const CWString& folder) {
  const CWString inner = WithBackslash(LongForm(path));
  const CWString outer = WithBackslash(LongForm(folder));
  return outer.Length() > 0 && inner.Length() >= outer.Length() &&
         CompareStringOrdinal(inner.GetText(), static_cast<int>(outer.Length()), outer.GetText(),
                              static_cast<int>(outer.Length()), TRUE) == CSTR_EQUAL;
}

bool IsInsideTemporaryFolder(const CWString& folder) {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  return n > 0 && n <= MAX_PATH && IsInside(folder, CWString(temp, n));
}

UINT DriveTypeOf(const CWString& folder) {
  wchar_t root[MAX_PATH] = {};
  if (!GetVolumePathNameW(folder.GetText(), root, MAX_PATH)) return DRIVE_UNKNOWN;
  return GetDriveTypeW(root);
}

CWString DownloadsFolder() {
  PWSTR path = nullptr;
  CWString folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Downloads, 0, nullptr, &path))) folder = CWString(path);
  CoTaskMemFree(path);
  return folder;
}

// The game's folder on the fixed drive with the most free space that can be written; "" when
// none can.
CWString FolderOnTheRoomiestFixedDrive() {
  wchar_t drives[512] = {};
  const DWORD n = GetLogicalDriveStringsW(512, drives);
  if (n == 0 || n >= 512) return CWString();
  std::vector<std::pair<uint64_t, CWString>> fixed;
  for (const wchar_t* root = drives; *root; root += wcslen(root) + 1) {
    ULARGE_INTEGER available{};
    if (GetDriveTypeW(root) == DRIVE_FIXED && GetDiskFreeSpaceExW(root, &available, nullptr, nullptr)) {
      fixed.emplace_back(available.QuadPart, WithBackslash(CWString(root)) + kGameFolder);
    }
  }
  std::stable_sort(fixed.begin(), fixed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [room, folder] : fixed) {
    if (ProbeWritableFolder(folder) == 0) return folder;
  }
  return CWString();
}

}  // namespace

DWORD ProbeWritableFolder(CWTextRef folderText) {
  const CWString folder = WithoutBackslash(CWString(folderText));
  if (folder.IsEmpty()) return ERROR_PATH_NOT_FOUND;
  // The levels that do not exist yet, deepest first: the test removes exactly these.
  std::vector<CWString> made;
  for (CWString level = folder; !level.IsEmpty() && !FileExists(level);) {
    made.push_back(level);
    const int64_t slash = level.Find(L"\\", -1, false, true);
    if (slash <= 0) break;
    level = level.Left(slash);
  }
  const auto removeMade = [&made] {
    for (const CWString& level : made) RemoveDirectoryW(level.GetText());
  };
  DWORD error = 0;
  for (auto level = made.rbegin(); level != made.rend() && error == 0; ++level) {
    if (!CreateDirectoryW(level->GetText(), nullptr)) error = GetLastError();
  }
  if (error != 0) {
    removeMade();
    return error;
  }
  const CWString probe = WithBackslash(folder) + L".brinemarch-probe";
  {
    // Deleted when closed, so nothing stays behind if the program ends in between.
    UniqueHandle file(CreateFileW(probe.GetText(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                  nullptr));
    if (!file) {
      error = GetLastError();
    } else {
      const char byte = 0;
      DWORD written = 0;
      if (!WriteFile(file.Get(), &byte, 1, &written, nullptr)) error = GetLastError();
    }
  }
  removeMade();
  return error;
}

StartingPlace ExamineStartingPlace(const CWString& programFolder) {
  StartingPlace start;
  start.engineFilesMissing = !FileExists(programFolder + L"aria2c.exe") || !FileExists(programFolder + L"aria2.conf");
  start.saveFolder = programFolder + kGameFolder;
  const UINT drive = DriveTypeOf(programFolder);
  if (IsInsideTemporaryFolder(programFolder)) {
    start.place = ProgramPlace::kTemporary;
  } else if (drive == DRIVE_REMOVABLE || drive == DRIVE_CDROM) {
    start.place = ProgramPlace::kRemovable;
  } else if (drive == DRIVE_REMOTE) {
    start.place = ProgramPlace::kNetwork;
  } else if (ProbeWritableFolder(programFolder) != 0) {
    start.place = ProgramPlace::kReadOnly;
  }
  if (start.place == ProgramPlace::kFine) return start;
  const CWString downloads = DownloadsFolder();
  CWString proposed;
  if (!downloads.IsEmpty() && !IsInside(downloads, programFolder) &&
      ProbeWritableFolder(WithBackslash(downloads) + kGameFolder) == 0) {
    proposed = WithBackslash(downloads) + kGameFolder;
  } else {
    proposed = FolderOnTheRoomiestFixedDrive();
  }
  if (!proposed.IsEmpty()) start.saveFolder = proposed;
  return start;
}

int64_t SavePathExcess(const CWString& saveFolder, const rg_WenBenShuZuLei& names, CWString* longest) {
  const CWString folder = WithBackslash(saveFolder);
  int64_t excess = 0;
  CWString worst;
  const auto weigh = [&](const CWString& path, int64_t ending) {
    if (path.Length() + ending - kLongestPath > excess) {
      excess = path.Length() + ending - kLongestPath;
      worst = path;
    }
  };
  weigh(folder + SaveFolder::kRecordName, static_cast<int64_t>(std::size(kRecordReplacement) - 1));
  for (int64_t i = 0; i < names.Count(); ++i) weigh(folder + SaveName(names.Get(i)), kControlFileEnding);
  if (longest) *longest = worst;
  return excess;
}
