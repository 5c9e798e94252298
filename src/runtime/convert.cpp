#include "runtime/convert.h"

CKelMem TextToUtf8(const CWString&, bool, bool) { return {}; }
CWString Utf8ToText(const CKelMem&, bool) { return {}; }
CWString Utf8ToText(const char*, size_t, bool) { return {}; }
CWString Utf8CharsToText(const char*) { return {}; }
CWString Int64ToText(int64_t) { return {}; }
int64_t TextToInt64(CWTextRef) { return 0; }
int64_t HexTextToInt64(CWTextRef) { return 0; }
double RoundTo2(double v) { return v; }
CWString DateTimeToText(double, bool) { return {}; }
double TextToDateTime(CWTextRef, bool) { return kInvalidDateTime; }
double MakeDateTime(int, int, int, int, int, int, int) { return kInvalidDateTime; }
double Now() { return 0; }
CWString UnixMillisText() { return {}; }
CWString QuoteForDisplay(CWTextRef) { return {}; }
