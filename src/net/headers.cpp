#include "net/headers.h"

#include <cwchar>
#include <utility>

namespace {

constexpr DWORD kHeaderNotFound = 12150;  // ERROR_WINHTTP_HEADER_NOT_FOUND

// Attribute words of a Set-Cookie header; a part beginning with one of them is dropped.
constexpr const wchar_t* kCookieAttributes[] = {L"Domain", L"Path", L"Expires", L"Max-Age", L"SameSite", L"Priority"};

void MarkMissing(DWORD error, int32_t* index) {
  if (error == kHeaderNotFound && index) *index = -1;
}

}  // namespace

BOOL AddHeaderList(HINTERNET request, const rg_WenBenShuZuLei& lines) {
  CWString text;
  for (int64_t i = 0; i < lines.Count(); ++i) {
    text.Append(lines.GetText(i));
    text.Append(L"\r\n");
  }
  text.TrimRight();
  return WinHttpAddRequestHeaders(request, text.GetText(), static_cast<DWORD>(text.Length()), kAddOrReplace);
}

void AddHeaderText(HINTERNET request, const CWString& text) {
  WinHttpAddRequestHeaders(request, text.GetText(), static_cast<DWORD>(text.Length()), kAddOrReplace);
}

bool QueryHeaderText(HINTERNET request, DWORD level, CWString& out, int32_t* index) {
  out.Clear();
  DWORD* winIndex = reinterpret_cast<DWORD*>(index);
  DWORD bytes = 0;
  if (!WinHttpQueryHeaders(request, level, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &bytes, winIndex)) {
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) {
      MarkMissing(error, index);
      return false;
    }
  }
  CWString value;
  wchar_t* buffer = value.GetBufferSetLength(bytes / sizeof(wchar_t));
  if (!WinHttpQueryHeaders(request, level, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &bytes, winIndex)) {
    value.ReleaseBuffer(0);
    return false;
  }
  value.ReleaseBuffer(bytes / sizeof(wchar_t));
  out = std::move(value);
  return true;
}

uint32_t QueryHeaderNumber(HINTERNET request, DWORD level, int32_t* index) {
  DWORD number = 0;
  DWORD bytes = sizeof number;
  if (!WinHttpQueryHeaders(request, level | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX, &number, &bytes,
                           reinterpret_cast<DWORD*>(index))) {
    MarkMissing(GetLastError(), index);
    return 0;
  }
  return number;
}

CWString ReduceSetCookie(const CWString& value) {
  constexpr wchar_t kHeaderName[] = L"Set-Cookie:";
  constexpr int64_t kHeaderNameLength = 11;
  CWString rest = value.StartsWithIgnoreCase(kHeaderName) ? value.Mid(kHeaderNameLength, value.Length()) : value;
  rg_WenBenShuZuLei parts;
  parts.Split(rest, L";", true, true);
  CWString reduced;
  for (int64_t i = 0; i < parts.Count(); ++i) {
    const wchar_t* part = parts.GetText(i);
    if (!wcschr(part, L'=')) continue;
    bool attribute = false;
    for (const wchar_t* word : kCookieAttributes) {
      attribute = attribute || _wcsnicmp(part, word, wcslen(word)) == 0;
    }
    if (attribute) continue;
    if (!reduced.IsEmpty()) reduced.Append(L"; ");
    reduced.Append(part);
  }
  return reduced;
}

void AppendSetCookies(HINTERNET request, CWString& cookies) {
  int32_t index = 0;
  CWString value;
  while (QueryHeaderText(request, WINHTTP_QUERY_SET_COOKIE, value, &index)) {
    cookies.Append(ReduceSetCookie(value));
    cookies.Append(L"\r\n");
  }
}
