#include "resolve/feishu_visitor.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "net/http.h"
#include "net/url.h"
#include "runtime/arrays.h"

namespace {

constexpr const wchar_t* kPageHeaders =
    L"Accept: text/html,*/*\r\n"
    L"user-agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    L"Chrome/94.0.4606.71 Safari/537.36 Core/1.94.209.400 QQBrowser/12.0.5442.400";
constexpr int32_t kPageTimeoutMs = 15000;
// The cookies the drive hands out here list and fetch the game: only from the drive itself.
constexpr int32_t kIgnoreCertErrors = 0;

// The host of an http or https address, lower-cased; "" for anything else.
std::wstring HostOf(const CWString& address) {
  rg_WangLaoURLZuJianXinXiLei_n parts;
  if (!CrackUrl(address, parts, 0) ||
      (parts.schemeType != INTERNET_SCHEME_HTTP && parts.schemeType != INTERNET_SCHEME_HTTPS)) {
    return {};
  }
  std::wstring host = parts.host.ToStdString();
  for (wchar_t& c : host) c = static_cast<wchar_t>(towlower(c));
  return host;
}

// The value of the first header line named name (letters' case ignored) in CR LF lines.
CWString HeaderValue(const CWString& rawHeaders, const wchar_t* name) {
  rg_WenBenShuZuLei lines;
  lines.Split(rawHeaders, L"\r\n", true, true);
  const CWString prefix = CWString(name) + L":";
  for (int64_t i = 0; i < lines.Count(); ++i) {
    CWString line(lines.GetText(i));
    if (!line.StartsWithIgnoreCase(prefix.GetText())) continue;
    std::wstring value = line.Mid(prefix.Length(), line.Length()).ToStdString();
    value.erase(0, value.find_first_not_of(L' '));
    CWString trimmed(value.c_str());
    trimmed.TrimRight();
    return trimmed;
  }
  return CWString();
}

// Cookies in the order first set; a later value replaces an earlier one of the same name.
class CookieJar {
 public:
  // reduced: "name=value; name=value" lines separated by CR LF, as the HTTP class gives them.
  void Take(const CWString& reduced) {
    rg_WenBenShuZuLei lines;
    lines.Split(reduced, L"\r\n", true, true);
    for (int64_t i = 0; i < lines.Count(); ++i) {
      rg_WenBenShuZuLei pairs;
      pairs.Split(CWString(lines.GetText(i)), L";", true, true);
      for (int64_t j = 0; j < pairs.Count(); ++j) {
        std::wstring pair = CWString(pairs.GetText(j)).ToStdString();
        pair.erase(0, pair.find_first_not_of(L' '));
        const size_t equals = pair.find(L'=');
        if (equals == std::wstring::npos || equals == 0) continue;
        Set(pair.substr(0, equals), pair.substr(equals + 1));
      }
    }
  }

  CWString Line() const {
    std::wstring line;
    for (const auto& [name, value] : cookies_) {
      if (!line.empty()) line += L"; ";
      line += name + L"=" + value;
    }
    return CWString(line.c_str());
  }

 private:
  void Set(const std::wstring& name, const std::wstring& value) {
    auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const auto& c) { return c.first == name; });
    if (same != cookies_.end()) {
      same->second = value;
    } else {
      cookies_.emplace_back(name, value);
    }
  }

  std::vector<std::pair<std::wstring, std::wstring>> cookies_;
};

}  // namespace

CWString FetchFeishuVisitorCookies(const CWString& shareAddress, const DriveEndpoints& endpoints,
                                   uint64_t deadlineTick) {
  // Only the drive itself may hand out its session: a redirect elsewhere is not followed.
  const std::vector<std::wstring> driveHosts{HostOf(shareAddress), HostOf(endpoints.listOrigin),
                                             HostOf(endpoints.downloadOrigin)};
  CookieJar jar;
  CWString address = shareAddress;
  rg_WangLaoFangWenLei_n http;
  endpoints.RouteThroughProxy(http);
  http.enableCookies = 0;  // the jar above is the only one, so every cookie sent is seen
  for (int hop = 0; hop <= kFeishuVisitorMaxRedirects; ++hop) {
    const std::wstring host = HostOf(address);
    if (host.empty() || std::find(driveHosts.begin(), driveHosts.end(), host) == driveHosts.end()) return CWString();
    const uint64_t now = GetTickCount64();
    if (now >= deadlineTick) return CWString();
    const int32_t timeoutMs = static_cast<int32_t>(std::min<uint64_t>(kPageTimeoutMs, deadlineTick - now));
    rg_WangYeFangWenXiangYingLei_n response;
    CWString cookies, headers;
    const CWString none;
    const CWString cookieLine = jar.Line();
    http.SendRequest(address, http_method::kGet, none, CKelMem(), CWString(kPageHeaders),
                     cookieLine.IsEmpty() ? none : CWString(L"Cookie: ") + cookieLine, -1, cookies, headers, none, none,
                     none, timeoutMs, kIgnoreCertErrors, none, response);
    jar.Take(response.cookies);
    const int32_t status = response.statusCode;
    if (status >= 200 && status < 300) return jar.Line();
    if (status < 300 || status >= 400) return CWString();
    address = ResolveRedirectUrl(address, HeaderValue(response.rawHeaders, L"Location"));
  }
  return CWString();  // more redirects than a page is worth
}
