// URL components and proxy settings handed to WinHTTP, and the resolution of a redirect's
// Location against the address it came from. Value classes owned by their user; the
// functions keep no state and any thread may call them.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "runtime/arrays.h"
#include "runtime/object.h"
#include "runtime/text.h"

// The parts of a cracked URL.
class rg_WangLaoURLZuJianXinXiLei_n : public rg_KuoZhanDuiXiangLei {
  KEL_DECLARE_CLASS(rg_WangLaoURLZuJianXinXiLei_n, rg_KuoZhanDuiXiangLei)

  rg_WangLaoURLZuJianXinXiLei_n() = default;

  bool Equals(const CKelObject& other) const override;
  // The class header and one label line per member, without values.
  void DebugText(CWString& out, int64_t limit) const override;
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  CWString scheme;         // as written, e.g. "http"
  int32_t schemeType = 0;  // INTERNET_SCHEME_HTTP (1) or INTERNET_SCHEME_HTTPS (2)
  CWString host;
  int32_t port = 0;  // the scheme's default when the URL names none
  CWString userName;
  CWString password;
  CWString urlPath;    // begins with "/"
  CWString extraInfo;  // query and fragment, beginning with "?" or "#"
};

// A proxy setting for WinHttpSetOption(WINHTTP_OPTION_PROXY).
class rg_WangLaoDaiLiXinXiLei_n : public rg_KuoZhanDuiXiangLei {
  KEL_DECLARE_CLASS(rg_WangLaoDaiLiXinXiLei_n, rg_KuoZhanDuiXiangLei)

  rg_WangLaoDaiLiXinXiLei_n() = default;

  bool Equals(const CKelObject& other) const override;
  void DebugText(CWString& out, int64_t limit) const override;
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  int32_t proxyAccessType = 0;  // WINHTTP_ACCESS_TYPE_NAMED_PROXY (3) for a named proxy
  CWString proxyServer;
  CWString proxyBypassList{L"<local>"};
};

// Resets components, then fills them from url with WinHttpCrackUrl. flags 0 takes the parts
// as they are written; ICU_ESCAPE or ICU_DECODE let WinHTTP rewrite them. False on failure,
// with components left empty and GetLastError() telling why.
bool CrackUrl(const CWString& url, rg_WangLaoURLZuJianXinXiLei_n& components, DWORD flags);

// The record for WINHTTP_OPTION_PROXY. It points into proxy's texts: keep proxy unchanged
// while the record is in use.
WINHTTP_PROXY_INFO ToProxyInfo(const rg_WangLaoDaiLiXinXiLei_n& proxy);

// The absolute address a redirect's Location names, taken relative to base (an absolute
// http or https address). "" when location is empty or names a scheme other than http and
// https. A fragment of the location is dropped; dot segments of its path are removed.
CWString ResolveRedirectUrl(const CWString& base, const CWString& location);

// text for a query value (RFC 3986): unreserved characters stay, every other byte of its
// UTF-8 becomes %XX.
CWString PercentEncode(const CWString& text);
