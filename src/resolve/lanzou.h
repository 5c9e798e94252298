// Lanzou drive resolution: a share folder's files and their direct download addresses, read
// from the drive's web pages the way the pages' own scripts ask for them. Stateless: every
// call builds its own HTTP, regular-expression and JSON objects; it runs on the calling thread
// (which gets COM initialised by the regular-expression objects).
#pragma once

#include <cstdint>

#include "resolve/drive_endpoints.h"
#include "runtime/arrays.h"
#include "runtime/text.h"

// The agent header line of the folder page, the list request and the locked-file request.
inline constexpr const wchar_t* kLanzouAgentLine =
    L"User-Agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    L"Chrome/94.0.4606.71 Safari/537.36 Core/1.94.209.400 QQBrowser/12.0.5442.400";

// Results of ResolveLanzouFileLink that are not addresses.
inline constexpr const wchar_t* kLanzouPageFailed = L"取网页数据失败1";
inline constexpr const wchar_t* kLanzouPageTokenFailed = L"匹配参数失败1";
inline constexpr const wchar_t* kLanzouSecondPageFailed = L"取网页数据失败2";
inline constexpr const wchar_t* kLanzouFrameTokenFailed = L"匹配参数失败2";
inline constexpr const wchar_t* kLanzouAnswerFailed = L"取网页数据失败3";
inline constexpr const wchar_t* kLanzouNoLocation = L"获取地址失败";

// Appends one entry per file of the share folder to names and pageUrls and, when
// resolveLinks is not 0, to links (an address or an error text of ResolveLanzouFileLink;
// a failed file is tried once more on the alternate domain). filePasswords[i] is the
// password of file i. Returns the number of names.
int32_t ListLanzouFolder(const CWString& shareAddress, const CWString& password, int32_t resolveLinks,
                         const rg_WenBenShuZuLei& filePasswords, rg_WenBenShuZuLei& names, rg_WenBenShuZuLei& pageUrls,
                         rg_WenBenShuZuLei& links, const DriveEndpoints& endpoints = DriveEndpoints::Built());

// The value a page's script assigns to variableName, up to the next ";", apostrophes removed;
// "" when the page does not assign it.
CWString ReadPageVariable(const CWString& page, const CWString& variableName);

// The body of the folder's list request built from the page's "data : { ... }" block, ending
// with "pwd=" and the password.
CWString BuildLanzouListBody(const CWString& page, const CWString& password);

// The file's direct download address, or one of the six error texts above. password: the
// file's password, "" when it has none (the two cases take different routes).
CWString ResolveLanzouFileLink(const CWString& pageUrl, const CWString& password);
