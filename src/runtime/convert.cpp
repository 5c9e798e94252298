#include "runtime/convert.h"

#include <windows.h>
#include <oleauto.h>

#include <cmath>
#include <cwctype>

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int Clamp(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

}  // namespace

CKelMem TextToUtf8(const CWString& text, bool validate, bool addZero) {
  CKelMem bytes;
  const auto units = static_cast<size_t>(text.Length());
  const size_t length = kelutf::Utf8LengthFromUtf16(text.GetText(), units);
  if (length == 0) return bytes;
  bytes.SetSizeZeroed(static_cast<int64_t>(length) + 1);
  auto* out = reinterpret_cast<char*>(bytes.Data());
  const size_t written = validate ? kelutf::ConvertUtf16ToUtf8(text.GetText(), units, out)
                                  : kelutf::ConvertUtf16ToUtf8Lossy(text.GetText(), units, out);
  if (written == 0) {
    bytes.Clear();
    return bytes;
  }
  out[written] = 0;
  bytes.SetSize(static_cast<int64_t>(written) + (addZero ? 1 : 0));
  return bytes;
}

CWString Utf8ToText(const char* bytes, size_t length, bool validate) {
  CWString text;
  if (!bytes) return text;
  const size_t units = kelutf::Utf16LengthFromUtf8(bytes, length);
  if (units == 0) return text;
  wchar_t* out = text.GetBufferSetLength(static_cast<int64_t>(units));
  const size_t written =
      validate ? kelutf::ConvertUtf8ToUtf16(bytes, length, out) : kelutf::ConvertUtf8ToUtf16Lossy(bytes, length, out);
  if (written == 0) {
    text.Clear();
    return text;
  }
  text.ReleaseBuffer(static_cast<int64_t>(written));
  return text;
}

CWString Utf8ToText(const CKelMem& bytes, bool validate) {
  return Utf8ToText(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.Size()), validate);
}

CWString Utf8CharsToText(const char* chars) {
  CWString text;
  if (!chars || !*chars) return text;
  const int units = MultiByteToWideChar(CP_UTF8, 0, chars, -1, nullptr, 0);
  if (units <= 1) return text;
  wchar_t* out = text.GetBufferSetLength(units - 1);
  const int written = MultiByteToWideChar(CP_UTF8, 0, chars, -1, out, units);
  if (written <= 1) {
    text.Clear();
    return text;
  }
  text.ReleaseBuffer(written - 1);
  return text;
}

CWString Int64ToText(int64_t value) {
  wchar_t digits[24];
  wchar_t* p = digits + 23;
  *p = 0;
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    *--p = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = L'-';
  return CWString(p);
}

bool ParseWholeNumber(CWTextRef text, int64_t& value) {
  const wchar_t* s = text.Chars();
  const wchar_t* end = s + text.Length();
  const bool negative = s < end && *s == L'-';
  if (negative) ++s;
  if (s == end) return false;
  int64_t result = 0;
  for (; s < end; ++s) {
    if (*s < L'0' || *s > L'9' || result > (INT64_MAX - (*s - L'0')) / 10) return false;
    result = result * 10 + (*s - L'0');
  }
  value = negative ? -result : result;
  return true;
}

int64_t TextToInt64(CWTextRef text) {
  const wchar_t* s = text.Chars();
  const wchar_t* end = s + text.Length();
  while (s < end && *s <= 32) ++s;
  bool negative = false;
  if (s < end && (*s == L'+' || *s == L'-')) {
    negative = *s == L'-';
    ++s;
  }
  const uint64_t limit = negative ? 9223372036854775808ull : 9223372036854775807ull;
  uint64_t value = 0;
  bool saturated = false;
  for (; s < end && IsDigit(*s); ++s) {
    const auto digit = static_cast<uint64_t>(*s - L'0');
    if (saturated || value > (limit - digit) / 10) {
      saturated = true;
      continue;
    }
    value = value * 10 + digit;
  }
  if (saturated) value = limit;
  return negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
}

int64_t HexTextToInt64(CWTextRef text) {
  const wchar_t* s = text.Chars();
  const wchar_t* end = s + text.Length();
  if (end - s >= 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) s += 2;
  uint64_t value = 0;
  for (; s < end; ++s) {
    const int digit = HexDigit(*s);
    if (digit < 0) break;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return static_cast<int64_t>(value);
}

double RoundTo2(double value) {
  if (value >= -0.000001 && value <= 0.000001) return value;
  const double scaled = std::fabs(value) * 100.0 + 0.000001;
  double whole = std::floor(scaled);
  if (scaled - whole >= 0.5) whole += 1.0;
  const double rounded = whole / 100.0;
  return value < 0 ? -rounded : rounded;
}

CWString DateTimeToText(double value, bool chinese) {
  CWString text;
  if (!(value >= -657434.0 && value <= 2958465.0)) return text;
  SYSTEMTIME st{};
  if (!VariantTimeToSystemTime(value, &st)) return text;
  if (chinese) {
    text.Format(L"%d年%d月%d日", st.wYear, st.wMonth, st.wDay);
    if (st.wSecond != 0) {
      text.AppendFormat(L"%d时%d分%d秒", st.wHour, st.wMinute, st.wSecond);
    } else if (st.wMinute != 0) {
      text.AppendFormat(L"%d时%d分", st.wHour, st.wMinute);
    } else if (st.wHour != 0) {
      text.AppendFormat(L"%d时", st.wHour);
    }
  } else {
    text.Format(L"%d/%d/%d", st.wMonth, st.wDay, st.wYear);
    if (st.wSecond != 0) {
      text.AppendFormat(L" %d:%d:%d", st.wHour, st.wMinute, st.wSecond);
    } else if (st.wMinute != 0) {
      text.AppendFormat(L" %d:%d", st.wHour, st.wMinute);
    } else if (st.wHour != 0) {
      text.AppendFormat(L" %d", st.wHour);
    }
  }
  return text;
}

double MakeDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond) {
  static const int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  year = Clamp(year, 100, 9999);
  month = Clamp(month, 1, 12);
  int monthDays = kDaysInMonth[month - 1];
  if (month == 2 && IsLeapYear(year)) monthDays = 29;
  day = Clamp(Clamp(day, 1, 31), 1, monthDays);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(year);
  st.wMonth = static_cast<WORD>(month);
  st.wDay = static_cast<WORD>(day);
  st.wHour = static_cast<WORD>(Clamp(hour, 0, 23));
  st.wMinute = static_cast<WORD>(Clamp(minute, 0, 59));
  st.wSecond = static_cast<WORD>(Clamp(second, 0, 59));
  double value = 0;
  if (!SystemTimeToVariantTime(&st, &value)) return kInvalidDateTime;
  return value + Clamp(millisecond, 0, 999) / 86400000.0;
}

double TextToDateTime(CWTextRef text, bool chinese) {
  if (text.IsEmpty()) return kInvalidDateTime;
  const wchar_t* s = text.Chars();
  const wchar_t* end = s + text.Length();
  // Field order and each field's own marker character.
  static const wchar_t kChineseMarks[6] = {L'年', L'月', L'日', L'时', L'分', L'秒'};
  int fields[6] = {};
  for (int f = 0; f < 6; ++f) {
    const int maxDigits = (chinese ? f == 0 : f == 2) ? 4 : 2;
    int value = 0;
    for (int d = 0; d < maxDigits && s < end && IsDigit(*s); ++d, ++s) value = value * 10 + (*s - L'0');
    fields[f] = value;
    if (f == 5 || s >= end) continue;
    const wchar_t c = *s;
    bool separator = c == L'-' || c == L'.' || c == L'/' || c == L':';
    if (chinese) {
      separator = separator || c == kChineseMarks[f] || (f == 2 && c == L' ');
    } else {
      separator = separator || (f == 2 && c == L' ');
    }
    if (separator) ++s;
  }
  if (chinese && s < end && *s == L'秒') ++s;
  if (s != end) return kInvalidDateTime;
  if (chinese) return MakeDateTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0);
  return MakeDateTime(fields[2], fields[0], fields[1], fields[3], fields[4], fields[5], 0);
}

double Now() {
  SYSTEMTIME st{};
  GetLocalTime(&st);
  return MakeDateTime(st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
}

CWString UnixMillisText() {
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return Int64ToText(static_cast<int64_t>(ticks / 10000) - 11644473600000ll);
}

CWString QuoteForDisplay(CWTextRef text) {
  CWString quoted(L"\"");
  const wchar_t* s = text.Chars();
  for (int64_t i = 0, n = text.Length(); i < n; ++i) {
    const wchar_t c = s[i];
    switch (c) {
      case L'\0':
        quoted.Append(L"\\0");
        break;
      case L'\b':
        quoted.Append(L"\\b");
        break;
      case L'\t':
        quoted.Append(L"\\t");
        break;
      case L'\n':
        quoted.Append(L"\\n");
        break;
      case L'\f':
        quoted.Append(L"\\f");
        break;
      case L'\r':
        quoted.Append(L"\\r");
        break;
      case L'"':
        quoted.Append(L"\\\"");
        break;
      case L'\'':
        quoted.Append(L"\\'");
        break;
      case L'\\':
        quoted.Append(L"\\\\");
        break;
      default:
        if (iswprint(c)) {
          quoted.AppendChar(c);
        } else if (c < 256) {
          quoted.AppendFormat(L"\\x%02X", static_cast<unsigned>(c));
        } else {
          quoted.AppendFormat(L"\\u%04X", static_cast<unsigned>(c));
        }
    }
  }
  quoted.AppendChar(L'"');
  return quoted;
}
