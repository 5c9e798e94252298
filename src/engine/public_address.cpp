#include "engine/public_address.h"

#include "build_config.h"
#include "net/http.h"
#include "runtime/convert.h"

namespace {

// Dotted IPv4 or an IPv6 literal: digits, hex letters, dots and colons, nothing else.
bool LooksLikeAddress(const CWString& text) {
  if (text.IsEmpty() || text.Length() > 45) return false;
  for (wchar_t c : text.View()) {
    const bool digit = c >= L'0' && c <= L'9';
    const bool hex = (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (!digit && !hex && c != L'.' && c != L':') return false;
  }
  return true;
}

}  // namespace

CWString PublicAddressFromPage(const CWString& page) {
  CWString address = CWString::Between(page, L"<span data-ip=\"", L"\">");
  return LooksLikeAddress(address) ? address : CWString();
}

CWString LookUpPublicAddress(const CWString& pageUrl) {
  rg_WangYeFangWenXiangYingLei_n response;
  CWString cookies;
  CWString headers;
  const CKelMem body = SharedHttpObject().SendRequest(pageUrl, http_method::kGet, CWString(), CKelMem(), CWString(),
                                                      CWString(), 0, cookies, headers, CWString(), CWString(),
                                                      CWString(), 5000, 1, NoAcceptEncoding(), response);
  return PublicAddressFromPage(Utf8ToText(body, false));
}

CWString LookUpPublicAddress() { return LookUpPublicAddress(CWString(BRINEMARCH_IPECHO_URL)); }
