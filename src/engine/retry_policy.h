// What becomes of a download the engine ended with an error, by the engine's error code (its
// exit status numbers) and, for an unexpected HTTP answer, the status in its message; and how
// long to wait before the next try. Pure functions; any thread may call them.
#pragma once

#include <cstdint>

#include "runtime/text.h"

enum class ErrorOutcome {
  kRetry,    // may pass (a refusal, a busy or failing server, the network): try again later
  kRestart,  // the engine could not continue the file: start it again from its first byte, once
  kFail,     // will not pass (the file is gone, the disk is full, the file system refused)
};

// Tries of one part in a run after its first, before it counts as failed.
inline constexpr int32_t kMaxRetries = 8;

// code: the engine's errorCode; message: its errorMessage, read only where the code alone
// does not tell (EngineErrorNeedsMessage).
ErrorOutcome OutcomeOfEngineError(int32_t code, CWTextRef message);
// Whether the outcome of code depends on the engine's errorMessage: an HTTP answer that is
// not a success ("… status=429") and the engine's catch-all code 1 (a TLS handshake that
// failed, a dropped connection, a file whose length changed at the drive ...).
bool EngineErrorNeedsMessage(int32_t code);
// The pause before retry number retry (0 for the first): 2, 4, 8 … seconds, 60 at most.
uint32_t RetryPauseMs(int32_t retry);
