#include "runtime/convert.h"

namespace kelutf {
size_t Utf8LengthFromUtf16(const wchar_t*, size_t) { return 0; }
size_t Utf16LengthFromUtf8(const char*, size_t) { return 0; }
bool ValidateUtf8(const char*, size_t) { return false; }
bool ValidateUtf16(const wchar_t*, size_t) { return false; }
size_t ConvertUtf16ToUtf8(const wchar_t*, size_t, char*) { return 0; }
size_t ConvertUtf8ToUtf16(const char*, size_t, wchar_t*) { return 0; }
size_t ConvertUtf16ToUtf8Lossy(const wchar_t*, size_t, char*) { return 0; }
size_t ConvertUtf8ToUtf16Lossy(const char*, size_t, wchar_t*) { return 0; }
}  // namespace kelutf
