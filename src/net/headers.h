// Putting header lines on a WinHTTP request, reading response headers back, and reducing
// Set-Cookie headers to the compact cookie text callers keep and send again.
// Stateless; a request handle is used by one thread at a time.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "runtime/arrays.h"
#include "runtime/text.h"

// Fixed request header lines.
inline constexpr const wchar_t* kAcceptHeader = L"Accept: */*";
inline constexpr const wchar_t* kAcceptLanguageHeader =
    L"Accept-Language: zh-CN,zh;q=0.9,en;q=0.8,en-GB;q=0.7,en-US;q=0.6,zh-TW;q=0.5";
inline constexpr const wchar_t* kAcceptEncodingHeader = L"Accept-Encoding: gzip, deflate";
inline constexpr const wchar_t* kJsonContentType = L"Content-Type: application/json; charset=utf-8";
inline constexpr const wchar_t* kFormContentType = L"Content-Type: application/x-www-form-urlencoded; charset=utf-8";

// WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE: a later line replaces an earlier one
// of the same name.
inline constexpr DWORD kAddOrReplace = 0xA0000000;

// Joins the lines with CR LF, trims trailing units <= 32 and adds them in one call.
BOOL AddHeaderList(HINTERNET request, const rg_WenBenShuZuLei& lines);
// Adds one or more CR LF separated lines; a rejected line is simply missing.
void AddHeaderText(HINTERNET request, const CWString& text);

// out receives the header's value. index (may be null) selects among headers of the same
// name and is advanced by WinHTTP; it becomes -1 when no such header exists.
bool QueryHeaderText(HINTERNET request, DWORD level, CWString& out, int32_t* index = nullptr);
// The header as a number, 0 on failure (index as above).
uint32_t QueryHeaderNumber(HINTERNET request, DWORD level, int32_t* index = nullptr);

// The name=value pairs of one Set-Cookie value, joined with "; ", attributes and flags dropped.
CWString ReduceSetCookie(const CWString& value);
// Appends every Set-Cookie header of the response, reduced, each followed by CR LF.
void AppendSetCookies(HINTERNET request, CWString& cookies);
