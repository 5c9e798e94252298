// Conversions between texts and UTF-8 bytes, numbers, OLE automation date-times, time stamps
// and escaped display text. Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/mem.h"
#include "runtime/text.h"

// UTF-8 bytes of the text; validate: invalid UTF-16 (a lone surrogate) gives an empty set,
// otherwise it is replaced by U+FFFD. addZero keeps a terminating zero byte in the set.
CKelMem TextToUtf8(const CWString& text, bool validate, bool addZero);
// validate: invalid UTF-8 gives an empty text, otherwise invalid sequences become U+FFFD.
CWString Utf8ToText(const CKelMem& bytes, bool validate);
CWString Utf8ToText(const char* bytes, size_t length, bool validate);
// The platform's conversion over a zero-terminated string; failure gives "".
CWString Utf8CharsToText(const char* chars);

CWString Int64ToText(int64_t value);
// Leading units <= 32 skipped, optional sign, digits; saturates on overflow; no digits give 0.
int64_t TextToInt64(CWTextRef text);
// Exactly an optional "-" and decimal digits, nothing else, within 64 bits: true with value
// set; false (value unchanged) for anything else, "" included.
bool ParseWholeNumber(CWTextRef text, int64_t& value);
// Optional 0x/0X, then hex digits; no overflow check.
int64_t HexTextToInt64(CWTextRef text);
// Half-up rounding to two decimals; |value| <= 0.000001 is returned unchanged.
double RoundTo2(double value);

// OLE automation dates: days since 1899-12-30, the fraction being the time of day.
constexpr double kInvalidDateTime = -657434.0;
CWString DateTimeToText(double value, bool chinese);
double TextToDateTime(CWTextRef text, bool chinese);
double MakeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond);
double Now();

// Milliseconds since 1970-01-01 UTC as decimal text.
CWString UnixMillisText();
// "\"" + escaped text + "\"".
CWString QuoteForDisplay(CWTextRef text);

// UTF-8 / UTF-16 primitives. Lengths are exact for what the conversions below write; the
// conversions never read or write outside the given ranges (out must hold the length).
namespace kelutf {

size_t Utf8LengthFromUtf16(const wchar_t* in, size_t n);
size_t Utf16LengthFromUtf8(const char* in, size_t n);
bool ValidateUtf8(const char* in, size_t n);
bool ValidateUtf16(const wchar_t* in, size_t n);
// Validating: the number of units written, or 0 for invalid input.
size_t ConvertUtf16ToUtf8(const wchar_t* in, size_t n, char* out);
size_t ConvertUtf8ToUtf16(const char* in, size_t n, wchar_t* out);
// Best effort: invalid parts become U+FFFD.
size_t ConvertUtf16ToUtf8Lossy(const wchar_t* in, size_t n, char* out);
size_t ConvertUtf8ToUtf16Lossy(const char* in, size_t n, wchar_t* out);

}  // namespace kelutf
