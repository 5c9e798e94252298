#include "engine/retry_policy.h"

#include <cwchar>
#include <string>

namespace {

constexpr uint32_t kFirstPauseMs = 2000;
constexpr uint32_t kLongestPauseMs = 60000;

// The HTTP status of the engine's "The response status is not successful. status=429".
int HttpStatusIn(CWTextRef message) {
  const std::wstring text(message.Chars(), static_cast<size_t>(message.Length()));
  const size_t at = text.rfind(L"status=");
  if (at == std::wstring::npos) return 0;
  return static_cast<int>(std::wcstol(text.c_str() + at + 7, nullptr, 10));
}

bool Mentions(const std::wstring& text, const wchar_t* words) { return text.find(words) != std::wstring::npos; }

// Code 1 says only that the engine gave up on the file. Its bytes go only when the drive
// proved the file changed (another length) or the control file cannot be used; a TLS
// handshake that failed (a filter, a reset, a certificate Windows would not take), a dropped
// connection or anything else may pass and keeps them.
ErrorOutcome OutcomeOfAbort(CWTextRef message) {
  const std::wstring text(message.Chars(), static_cast<size_t>(message.Length()));
  // The drive's length against the file's; the engine's words for a file and control file it
  // could not load ("Download aborted." wraps them) and for the control file's own faults.
  for (const wchar_t* changed :
       {L"Invalid file length", L"Size mismatch", L"Invalid range header", L"length mismatch", L"Download aborted.",
        L"segment file", L"ctrl file", L"info hash", L"piece length", L"piece index"}) {
    if (Mentions(text, changed)) return ErrorOutcome::kRestart;
  }
  return ErrorOutcome::kRetry;
}

}  // namespace

bool EngineErrorNeedsMessage(int32_t code) { return code == 1 || code == 22; }

ErrorOutcome OutcomeOfEngineError(int32_t code, CWTextRef message) {
  switch (code) {
    case 2:   // time-out
    case 5:   // too slow
    case 6:   // network problem
    case 19:  // name resolution failed
    case 29:  // the server is overloaded or in maintenance
      return ErrorOutcome::kRetry;
    case 22: {
      // "Too many requests", a request time-out and the server's own failures pass; every
      // other refusal (403 of an expired session, 410 gone ...) stays.
      const int status = HttpStatusIn(message);
      return status == 408 || status == 429 || status >= 500 ? ErrorOutcome::kRetry : ErrorOutcome::kFail;
    }
    case 1:  // aborted, for the reason its message gives
      return OutcomeOfAbort(message);
    case 8:   // the server cannot continue where the file stopped
    case 10:  // the control file's pieces do not fit
    case 32:  // checksum
      return ErrorOutcome::kRestart;
    default:  // 3, 4 not found; 9 disk full; 13 … 18 the file system; 24 authorisation ...
      return ErrorOutcome::kFail;
  }
}

uint32_t RetryPauseMs(int32_t retry) {
  uint32_t pause = kFirstPauseMs;
  for (int32_t i = 0; i < retry && pause < kLongestPauseMs; ++i) pause *= 2;
  return pause < kLongestPauseMs ? pause : kLongestPauseMs;
}
