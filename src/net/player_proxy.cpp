#include "net/player_proxy.h"

#include <windows.h>
#include <winhttp.h>

#include <cwctype>
#include <string>
#include <vector>

#include "net/url.h"
#include "runtime/win_http_handle.h"

namespace {

// A text WinHTTP allocated for the caller, copied and given back.
CWString TakeGlobalText(wchar_t* text) {
  if (!text) return CWString();
  CWString copy(text);
  GlobalFree(text);
  return copy;
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// The entries of a list separated by ";", "," or white space.
std::vector<std::wstring> Entries(const std::wstring& list) {
  std::vector<std::wstring> entries;
  std::wstring entry;
  for (wchar_t c : list + L";") {
    if (c == L';' || c == L',' || std::iswspace(c)) {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry += c;
    }
  }
  return entries;
}

// Whether host matches pattern, "*" standing for any run of characters; both lower case.
bool Matches(const std::wstring& pattern, const std::wstring& host) {
  size_t p = 0, h = 0, star = std::wstring::npos, resume = 0;
  while (h < host.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      resume = h;
    } else if (p < pattern.size() && pattern[p] == host[h]) {
      ++p;
      ++h;
    } else if (star != std::wstring::npos) {
      p = star + 1;
      h = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

bool Bypassed(const std::wstring& bypass, const std::wstring& host) {
  for (std::wstring pattern : Entries(Lower(bypass))) {
    if (pattern == L"<local>") {
      if (host.find(L'.') == std::wstring::npos) return true;
      continue;
    }
    // A scheme in front and a port behind narrow a pattern further than this reading does.
    const size_t scheme = pattern.find(L"://");
    if (scheme != std::wstring::npos) pattern.erase(0, scheme + 3);
    const size_t port = pattern.rfind(L':');
    if (port != std::wstring::npos && pattern.find(L']') == std::wstring::npos) pattern.erase(port);
    if (Matches(pattern, host)) return true;
  }
  return false;
}

// What detection or a configuration script names for url; false when they cannot be asked.
bool AutomaticProxyFor(const ProxySettings& settings, const CWString& url, CWString& proxy) {
  UniqueInternet session(
      WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return false;
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (settings.autoDetect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (!settings.autoConfigUrl.IsEmpty()) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = settings.autoConfigUrl.GetText();
  }
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  if (!WinHttpGetProxyForUrl(session.Get(), url.GetText(), &options, &info)) return false;
  const CWString servers = TakeGlobalText(info.lpszProxy);
  TakeGlobalText(info.lpszProxyBypass);
  // A script may name several servers to try in turn: the engine takes one.
  const std::vector<std::wstring> entries = Entries(servers.ToStdString());
  proxy =
      info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && !entries.empty() ? CWString(entries.front()) : CWString();
  return true;
}

}  // namespace

ProxySettings ReadProxySettings() {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  ProxySettings settings;
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return settings;
  settings.autoDetect = config.fAutoDetect != FALSE;
  settings.autoConfigUrl = TakeGlobalText(config.lpszAutoConfigUrl);
  settings.server = TakeGlobalText(config.lpszProxy);
  settings.bypass = TakeGlobalText(config.lpszProxyBypass);
  return settings;
}

CWString NamedProxyFor(const CWString& server, const CWString& bypass, const CWString& url) {
  rg_WangLaoURLZuJianXinXiLei_n parts;
  if (server.IsEmpty() || !CrackUrl(url, parts, 0)) return CWString();
  if (Bypassed(bypass.ToStdString(), Lower(parts.host.ToStdString()))) return CWString();
  const std::wstring scheme = Lower(parts.scheme.ToStdString()) + L"=";
  std::wstring general;
  for (const std::wstring& entry : Entries(server.ToStdString())) {
    const size_t equals = entry.find(L'=');
    if (equals == std::wstring::npos) {
      if (general.empty()) general = entry;
    } else if (Lower(entry.substr(0, equals + 1)) == scheme) {
      return CWString(entry.substr(equals + 1));
    }
  }
  return CWString(general);
}

CWString ProxyFor(const ProxySettings& settings, const CWString& url) {
  if (settings.autoDetect || !settings.autoConfigUrl.IsEmpty()) {
    CWString proxy;
    if (AutomaticProxyFor(settings, url, proxy)) return proxy;
  }
  return NamedProxyFor(settings.server, settings.bypass, url);
}

CWString PlayerProxyFor(const CWString& url) { return ProxyFor(ReadProxySettings(), url); }
