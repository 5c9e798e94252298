// The save folder's rules on real files: what is skipped, continued or started afresh, that a
// player's file is never deleted or overwritten, that the record survives a new start and a
// damaged record counts as none; and which of the engine's errors pass.
#include "engine/save_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/retry_policy.h"
#include "runtime/pauses.h"
#include "test_support.h"

namespace {

using engine_test::Exists;
using engine_test::ReadBytes;
using engine_test::ScratchFolder;
using Plan = SaveFolder::Plan;

const CWString kName(L"part2.rar");
const CWString kToken(L"tokPart2");

class SaveFolderTest : public ::testing::Test {
 protected:
  std::wstring At(const wchar_t* name) const { return folder_ / name; }
  void Put(const wchar_t* name, const std::string& bytes) { ASSERT_TRUE(WriteFileBytes(At(name), bytes)); }
  // A new object over the same folder: what the next start of the program finds.
  SaveFolder Reopened() const { return SaveFolder(CWString(folder_.Path().c_str())); }
  // The engine's work on a part: its preallocated file and its control file.
  void EngineWrote(const std::string& bytes = std::string(1000, 'x')) {
    Put(L"part2.rar", bytes);
    Put(L"part2.rar.aria2", "control");
  }

  ScratchFolder folder_{L"save-folder"};
  SaveFolder files_{CWString(folder_.Path().c_str())};
};

TEST_F(SaveFolderTest, APlayersFileGoesAsideUnderAFreeNameAndOnlyOurBackupIsEverDeleted) {
  Put(L"part2.rar", "the player's part");
  Put(L"part2.rar.bak", "the player's own backup");
  Plan plan;
  ASSERT_TRUE(files_.Prepare(kName, kToken, 1000, plan));
  EXPECT_EQ(plan, Plan::kFresh);
  EXPECT_FALSE(Exists(At(L"part2.rar")));
  EXPECT_EQ(ReadBytes(At(L"part2.rar.bak")), "the player's own backup");
  EXPECT_EQ(ReadBytes(At(L"part2.rar.bak1")), "the player's part");
  EXPECT_EQ(files_.BackupOf(kName).ToStdString(), L"part2.rar.bak1");

  // Interrupted, started again, continued: the backup stays until the part is whole.
  EngineWrote();
  SaveFolder again = Reopened();
  ASSERT_TRUE(again.Prepare(kName, kToken, 1000, plan));
  EXPECT_EQ(plan, Plan::kContinue);
  EXPECT_EQ(ReadBytes(At(L"part2.rar.aria2")), "control");
  again.Completed(kName, 1000);
  EXPECT_FALSE(Exists(At(L"part2.rar.bak1")));
  EXPECT_EQ(ReadBytes(At(L"part2.rar.bak")), "the player's own backup");
  EXPECT_EQ(ReadBytes(At(L"part2.rar")), std::string(1000, 'x'));
}

TEST_F(SaveFolderTest, APartThatFailsForGoodGivesThePlayersFileBack) {
  Put(L"part2.rar", "the player's part");
  Plan plan;
  ASSERT_TRUE(files_.Prepare(kName, kToken, 1000, plan));
  EngineWrote();
  Put(L"part2.rar.aria2__temp", "left by the engine");
  files_.FailedForGood(kName);
  EXPECT_EQ(ReadBytes(At(L"part2.rar")), "the player's part");
  for (const wchar_t* gone : {L"part2.rar.aria2", L"part2.rar.bak", L"part2.rar.aria2__temp"}) {
    EXPECT_FALSE(Exists(At(gone))) << engine_test::Utf8(gone);
  }
  EXPECT_FALSE(Reopened().Records(kName));
  EXPECT_FALSE(Exists(At(SaveFolder::kRecordName))) << "an empty record is no file";
}

// What a new start finds decides, by the record only.
TEST_F(SaveFolderTest, ContinuedSkippedOrAfreshByWhatTheRecordAndTheFolderHold) {
  const struct {
    const char* what;
    bool complete;         // the part completed before the new start
    bool withControl;      // its control file is there
    const wchar_t* token;  // the listing's token at the new start
    int64_t listed;        // the listing's size at the new start
    bool touched;          // the file was changed since it completed
    Plan plan;
    int64_t needed;
  } cases[] = {
      {"stopped, control file there", false, true, L"tokPart2", 1000, false, Plan::kContinue, 0},
      {"stopped, size unknown now", false, true, L"tokPart2", -1, false, Plan::kContinue, -1},
      {"power cut before the first control file", false, false, L"tokPart2", 1000, false, Plan::kFresh, 1000},
      {"another file at the drive", false, true, L"tokOther", 1000, false, Plan::kFresh, 1000},
      {"replaced at the drive", false, true, L"tokPart2", 2000, false, Plan::kFresh, 2000},
      {"completed and untouched", true, false, L"tokPart2", 1000, false, Plan::kSkip, 0},
      {"completed, size unknown now", true, false, L"tokPart2", -1, false, Plan::kSkip, 0},
      {"completed, then changed by the player", true, false, L"tokPart2", 1000, true, Plan::kFresh, 1000},
      {"completed, replaced at the drive", true, false, L"tokPart2", 2000, false, Plan::kFresh, 2000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchFolder folder(L"save-folder-case");
    {
      SaveFolder files(CWString(folder.Path().c_str()));
      Plan plan;
      ASSERT_TRUE(files.Prepare(kName, kToken, 1000, plan));
      ASSERT_TRUE(WriteFileBytes(folder / L"part2.rar", std::string(1000, 'x')));
      if (c.withControl) {
        ASSERT_TRUE(WriteFileBytes(folder / L"part2.rar.aria2", "control"));
      }
      if (c.complete) files.Completed(kName, 1000);
    }
    if (c.touched) {
      HANDLE file = CreateFileW((folder / L"part2.rar").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(file, INVALID_HANDLE_VALUE);
      FILETIME later{};
      GetSystemTimeAsFileTime(&later);
      later.dwHighDateTime += 1;
      SetFileTime(file, nullptr, nullptr, &later);
      CloseHandle(file);
    }
    SaveFolder files(CWString(folder.Path().c_str()));
    EXPECT_EQ(files.PlanFor(kName, CWString(c.token), c.listed), c.plan);
    EXPECT_EQ(files.BytesNeeded(kName, CWString(c.token), c.listed), c.needed);
    Plan plan;
    ASSERT_TRUE(files.Prepare(kName, CWString(c.token), c.listed, plan));
    EXPECT_EQ(plan, c.plan);
    if (c.plan == Plan::kSkip || c.plan == Plan::kContinue) {
      EXPECT_EQ(ReadBytes(folder / L"part2.rar"), std::string(1000, 'x'));
    } else if (c.complete || !c.withControl) {
      // Whatever stands under the name now is the player's, or may be whole: kept aside, never
      // lost.
      EXPECT_EQ(ReadBytes(folder / L"part2.rar.bak"), std::string(1000, 'x'));
    } else {
      // Our own partial: gone, and nothing of ours passes for the player's.
      EXPECT_FALSE(Exists(folder / L"part2.rar"));
      EXPECT_FALSE(Exists(folder / L"part2.rar.bak"));
    }
  }
}

TEST_F(SaveFolderTest, ADamagedOrForeignRecordCountsAsNone) {
  const std::string records[] = {
      "",
      "not a record at all",
      "brinemarch-downloads 2\nd\tpart2.rar\ttokPart2\t1000\t-1\t0\t\n",
      "brinemarch-downloads 1\nd\tpart2.rar\ttokPart2\t1000\t-1\t0\n",
      "brinemarch-downloads 1\nd\tpart2.rar\ttokPart2\tmany\t-1\t0\t\n",
      "brinemarch-downloads 1\nx\tpart2.rar\ttokPart2\t1000\t-1\t0\t\n",
      "brinemarch-downloads 1\nd\tpart2.rar\ttokPart2\t1000\t-1\t0\t\nd\tPART2.RAR\ttokPart2\t1000\t-1\t0\t\n",
      std::string("brinemarch-downloads 1\nd\tpart2.rar\ttok\xff\t1000\t-1\t0\t\n"),
  };
  for (const std::string& record : records) {
    SCOPED_TRACE(record);
    ScratchFolder folder(L"save-folder-record");
    ASSERT_TRUE(WriteFileBytes(folder / SaveFolder::kRecordName, record));
    // A file beside no control file under a record that cannot be read is the player's.
    ASSERT_TRUE(WriteFileBytes(folder / L"part2.rar", "the player's part"));
    SaveFolder files(CWString(folder.Path().c_str()));
    EXPECT_FALSE(files.Records(kName));
    Plan plan;
    ASSERT_TRUE(files.Prepare(kName, kToken, 1000, plan));
    EXPECT_EQ(plan, Plan::kFresh);
    EXPECT_EQ(ReadBytes(folder / L"part2.rar.bak"), "the player's part");
  }
}

TEST_F(SaveFolderTest, TheRecordIsWrittenWholeAndHidden) {
  Plan plan;
  ASSERT_TRUE(files_.Prepare(kName, kToken, 1000, plan));
  ASSERT_TRUE(files_.Prepare(CWString(L"中文 第1部分.rar"), CWString(L"tokCn"), 5, plan));
  const DWORD attributes = GetFileAttributesW(At(SaveFolder::kRecordName).c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_FALSE(Exists(At(L".brinemarch-downloads.new")));
  SaveFolder again = Reopened();
  EXPECT_TRUE(again.Records(kName));
  EXPECT_TRUE(again.Records(CWString(L"中文 第1部分.rar")));
  EXPECT_TRUE(again.Records(CWString(L"PART2.RAR"))) << "names compare as Windows compares them";
}

// A scanner holds the record as a part completes, and a player's file as its part starts:
// the record written beside it carries the whole part to the next start, and the file in
// the way is named for the caller to try again.
TEST_F(SaveFolderTest, FilesAnotherProgramHoldsAreNamedAndNothingFinishedIsLost) {
  Plan plan;
  ASSERT_TRUE(files_.Prepare(kName, kToken, 1000, plan));
  // Whole: the engine has removed its control file.
  Put(L"part2.rar", std::string(1000, 'x'));
  {
    const UniqueHandle scanner = HoldOpen(At(SaveFolder::kRecordName));
    ASSERT_TRUE(scanner);
    files_.Completed(kName, 1000);
    EXPECT_FALSE(files_.RecordWritten());
    EXPECT_EQ(Reopened().PlanFor(kName, kToken, 1000), Plan::kSkip) << "the whole part would be fetched again";
  }
  EXPECT_EQ(Reopened().PlanFor(kName, kToken, 1000), Plan::kSkip);

  const CWString other(L"part3.rar");
  Put(L"part3.rar", "the player's part");
  {
    const UniqueHandle backup = HoldOpen(At(L"part3.rar"));
    ASSERT_TRUE(backup);
    CWString held;
    EXPECT_FALSE(files_.Prepare(other, CWString(L"tokPart3"), 10, plan, false, &held));
    EXPECT_EQ(held.ToStdString(), At(L"part3.rar"));
  }
  ASSERT_TRUE(files_.Prepare(other, CWString(L"tokPart3"), 10, plan));
  EXPECT_EQ(ReadBytes(At(L"part3.rar.bak")), "the player's part");
  // Once the record could be replaced, it is the one record again.
  EXPECT_TRUE(files_.RecordWritten());
  EXPECT_FALSE(Exists(At(L".brinemarch-downloads.new")));
  EXPECT_EQ(Reopened().PlanFor(kName, kToken, 1000), Plan::kSkip);
  EXPECT_EQ(ReadBytes(At(L"part2.rar")), std::string(1000, 'x'));

  // Neither the record nor one beside it can be written as a part completes: the next start
  // cannot know that the part is whole, and keeps it aside rather than deleting it.
  const CWString last(L"part4.rar");
  ASSERT_TRUE(files_.Prepare(last, CWString(L"tokPart4"), 10, plan));
  Put(L"part4.rar", "0123456789");
  {
    const UniqueHandle record = HoldOpen(At(SaveFolder::kRecordName));
    files_.Completed(kName, 1000);  // any change: it leaves a record beside the held one
    const UniqueHandle beside = HoldOpen(At(L".brinemarch-downloads.new"));
    ASSERT_TRUE(record && beside);
    files_.Completed(last, 10);
    EXPECT_FALSE(files_.RecordWritten());
    EXPECT_FALSE(files_.WriteIfBehind());
  }
  SaveFolder next = Reopened();
  ASSERT_TRUE(next.Prepare(last, CWString(L"tokPart4"), 10, plan));
  EXPECT_EQ(plan, Plan::kFresh);
  EXPECT_EQ(ReadBytes(At(L"part4.rar.bak")), "0123456789");
}

TEST(RetryPolicyTest, WhichOfTheEnginesErrorsPass) {
  const struct {
    int32_t code;
    const wchar_t* message;
    ErrorOutcome outcome;
  } cases[] = {
      {2, L"", ErrorOutcome::kRetry},
      {5, L"", ErrorOutcome::kRetry},
      {6, L"", ErrorOutcome::kRetry},
      {19, L"", ErrorOutcome::kRetry},
      {29, L"", ErrorOutcome::kRetry},
      {22, L"The response status is not successful. status=429", ErrorOutcome::kRetry},
      {22, L"The response status is not successful. status=408", ErrorOutcome::kRetry},
      {22, L"The response status is not successful. status=500", ErrorOutcome::kRetry},
      {22, L"The response status is not successful. status=503", ErrorOutcome::kRetry},
      {22, L"The response status is not successful. status=403", ErrorOutcome::kFail},
      {22, L"The response status is not successful. status=410", ErrorOutcome::kFail},
      {22, L"", ErrorOutcome::kFail},
      // Code 1 by its message: only another length at the drive or a control file that cannot
      // be used costs the bytes; a failed handshake, a dropped connection or anything else
      // keeps them.
      {1, L"SSL/TLS handshake failure: The received certificate has expired.", ErrorOutcome::kRetry},
      {1, L"SSL/TLS handshake failure: Error: unexpected EOF", ErrorOutcome::kRetry},
      {1, L"Failed to receive data, cause: Connection reset by peer", ErrorOutcome::kRetry},
      {1, L"URI=https://127.0.0.1/a.rar", ErrorOutcome::kRetry},
      {1, L"", ErrorOutcome::kRetry},
      {1, L"Invalid file length. Cannot continue download C:/g/a.rar: local 100, remote 90", ErrorOutcome::kRestart},
      {1, L"Size mismatch Expected:100 Actual:90", ErrorOutcome::kRestart},
      {1, L"Failed to read from the segment file C:/g/a.rar.aria2", ErrorOutcome::kRestart},
      {1, L"Download aborted.", ErrorOutcome::kRestart},
      {1, L"Unsupported ctrl file version: 7f7f", ErrorOutcome::kRestart},
      {1, L"total length mismatch. expected: 100, actual: 90", ErrorOutcome::kRestart},
      {1, L"piece length out of range: 4294967295", ErrorOutcome::kRestart},
      {8, L"", ErrorOutcome::kRestart},
      {10, L"", ErrorOutcome::kRestart},
      {32, L"", ErrorOutcome::kRestart},
      {3, L"Resource not found", ErrorOutcome::kFail},
      {4, L"", ErrorOutcome::kFail},
      {9, L"", ErrorOutcome::kFail},
      {13, L"", ErrorOutcome::kFail},
      {16, L"", ErrorOutcome::kFail},
      {17, L"", ErrorOutcome::kFail},
      {24, L"", ErrorOutcome::kFail},
      {31, L"", ErrorOutcome::kFail},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OutcomeOfEngineError(c.code, c.message), c.outcome) << "code " << c.code << " case " << (&c - cases);
  }
  const uint32_t pauses[] = {2000, 4000, 8000, 16000, 32000, 60000, 60000, 60000};
  for (int32_t retry = 0; retry < kMaxRetries; ++retry) EXPECT_EQ(RetryPauseMs(retry), pauses[retry]);
}

// Every pause is drawn between half and the whole of its step, and the draws reach both ends.
TEST(RetryPolicyTest, PausesAreSpreadBetweenHalfAndTheWholeStep) {
  std::mt19937 generator(20261211);
  std::vector<uint32_t> steps = {1, 3, 1000, 3000};  // and the listing's
  for (int32_t retry = 0; retry < kMaxRetries; ++retry) steps.push_back(RetryPauseMs(retry));
  for (const uint32_t step : steps) {
    const uint32_t half = (step + 1) / 2;
    uint32_t lowest = step, highest = 0;
    for (int draw = 0; draw < 4000; ++draw) {
      const uint32_t pause = JitteredPauseMs(step, static_cast<uint32_t>(generator()));
      ASSERT_GE(pause, half) << "step " << step;
      ASSERT_LE(pause, step) << "step " << step;
      lowest = std::min(lowest, pause);
      highest = std::max(highest, pause);
    }
    EXPECT_LE(lowest, half + step / 50) << "step " << step;
    EXPECT_GE(highest, step - step / 50) << "step " << step;
  }
  EXPECT_EQ(JitteredPauseMs(60000, 0), 30000u);
  EXPECT_EQ(JitteredPauseMs(60000, 30000), 60000u);
}

}  // namespace
