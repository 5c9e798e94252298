// Where the game is saved: whether a folder can be written, which folder to propose when the
// program runs from a place that keeps nothing (a temporary folder an archive viewer deletes,
// a removable or network drive, a folder it may not write), and whether a run's paths stay
// within Windows' classic path limit, which the engine's file calls keep to.
// Platform calls over the file system and the shell; called on the user-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "runtime/arrays.h"
#include "runtime/text.h"

// 0 when a file can be written in folder, else the system's error code. The missing levels of
// folder are created for the test and removed again with the test file, so the disk is left
// as it was found.
DWORD ProbeWritableFolder(CWTextRef folder);

// Why the program's own folder is no place for the game.
enum class ProgramPlace {
  kFine,
  kTemporary,  // inside the user's temporary folder
  kRemovable,  // on a removable drive or a disc
  kNetwork,    // on a network drive or share
  kReadOnly,   // a file cannot be written there
};

struct StartingPlace {
  bool engineFilesMissing = false;  // aria2c.exe or aria2.conf is not beside the program
  ProgramPlace place = ProgramPlace::kFine;
  // The folder proposed for the game: programFolder + "Brinemarch" when the place is fine;
  // otherwise a writable one outside it (the user's Downloads folder + "\Brinemarch", else
  // the fixed drive with the most free space), or the program's when none can be written.
  CWString saveFolder;
};

// Looks at the program's folder (with its trailing backslash) as the program starts.
StartingPlace ExamineStartingPlace(const CWString& programFolder);

// Windows' classic limit of a path (MAX_PATH with its terminating zero). A folder's own limit
// (248 with the zero, room for a short name kept by CreateDirectoryW) is met whenever the files
// the run puts in it fit.
inline constexpr int64_t kLongestPath = MAX_PATH - 1;

// How many characters the longest path a run makes in saveFolder for the listed names (the
// parts with the engine's control files, the folder's record) exceeds the classic limit by; 0
// when every path fits. longest (when given) receives that path.
int64_t SavePathExcess(const CWString& saveFolder, const rg_WenBenShuZuLei& names, CWString* longest = nullptr);
