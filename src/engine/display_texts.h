// Texts of one list row made from the engine's numbers: sizes, percents, remaining times and
// the descriptions of the engine's error codes. Pure functions; any thread may call them.
#pragma once

#include "runtime/text.h"

// A byte count with a unit of powers of 1024: "1023Byte", "1.5KB" ... "PB", "MaxSize" beyond.
CWString FormatSize(double bytes);
// completed / total as a percent with at most two decimals, "33.33%"; total must be above 0.
// Above 100 percent reads "0%".
CWString FormatPercent(double completed, double total);
// (total - completed) / speed as hours:minutes:seconds without leading zeros, "0:1:40";
// "0:0:0" below 1 byte per second. Counts in 64 bits, so files past 2 GiB read right.
CWString FormatRemaining(double total, double completed, double speed);
// The description of one of the engine's error codes (its exit status numbers 1 to 32), given
// as decimal text. Any other code gets a text naming it, never shorter than three characters.
CWString ErrorDescription(const CWString& code);
// The row's state while the engine checks a file against its hash (or waits to): "校验中";
// "" otherwise. verifiedLength and verifyIntegrityPending as tellStatus gives them ("" when
// the reply has no such key: the engine reports them only during a check).
CWString VerificationStateText(const CWString& verifiedLength, const CWString& verifyIntegrityPending);
