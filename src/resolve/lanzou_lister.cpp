#include "json/json_reader.h"
#include "net/http.h"
#include "regex/regex.h"
#include "resolve/lanzou.h"
#include "runtime/convert.h"

namespace {

constexpr const wchar_t* kDataBlockPattern = L"data : { [\\s\\S]*?}";
constexpr const wchar_t* kListPath = L"/filemoreajax.php";
constexpr int32_t kRedirectsNotFollowed = -1;
constexpr int32_t kTimeoutMs = 15000;
// The pages name the files and the addresses they are fetched from: only from the drive.
constexpr int32_t kIgnoreCertErrors = 0;
// Any result this short is an error text (or nothing), not an address.
constexpr int64_t kShortestLink = 12;

CWString Exchange(rg_WangLaoFangWenLei_n& http, const CWString& url, int32_t method, const CWString& body) {
  rg_WangYeFangWenXiangYingLei_n response;
  CWString cookies, headers;
  const CWString none;
  return http.SendRequestText(url, method, body, CKelMem(), CWString(kLanzouAgentLine), none, kRedirectsNotFollowed,
                              cookies, headers, none, none, none, kTimeoutMs, kIgnoreCertErrors, NoAcceptEncoding(),
                              response);
}

// The address a file is resolved from. Files with a password are resolved from their page
// address cut before "?web"; one without that part is used as it is.
CWString ResolvableAddress(const CWString& pageUrl, const CWString& filePassword) {
  if (filePassword.IsEmpty() || pageUrl.Find(L"?web", 0, true) < 0) return pageUrl;
  return CWString::LeftOf(pageUrl, L"?web", 0);
}

}  // namespace

namespace {

// The variable name comes from the page itself: it is matched literally, so a hostile page
// cannot smuggle pattern syntax (or a pattern that backtracks for ever) into the search.
CWString EscapeForPattern(const CWString& literal) {
  CWString escaped;
  for (const wchar_t* p = literal.GetText(); *p; ++p) {
    if (wcschr(L"\\^$.|?*+()[]{}/", *p)) escaped.AppendChar(L'\\');
    escaped.AppendChar(*p);
  }
  return escaped;
}

}  // namespace

CWString ReadPageVariable(const CWString& page, const CWString& variableName) {
  rg_ZhengZeLei_n regex;
  CWString pattern(L"(var )?");
  pattern += EscapeForPattern(variableName);
  pattern += L"\\s?=\\s?.*;?";
  if (!regex.Execute(pattern, page) || regex.MatchCount() == 0) return CWString();
  CWString value = CWString::Between(regex.FirstMatchText(), L"=", L";");
  value.ReplaceAll(L"'", L"", false);
  return value;
}

CWString BuildLanzouListBody(const CWString& page, const CWString& password) {
  CWString body;
  rg_ZhengZeLei_n regex;
  if (regex.Execute(kDataBlockPattern, page) && regex.MatchCount() > 0) {
    rg_WenBenShuZuLei entries;
    entries.SplitByText(CWString::Between(regex.FirstMatchText(), L"{", L"}"), L",");
    for (int64_t i = 0; i < entries.Count(); ++i) {
      const CWString entry = entries.Get(i);
      rg_WenBenShuZuLei parts;
      if (parts.Split(entry, L":", true, true) < 2) continue;
      const CWString key = CWString::Between(entry, L"'", L"':");
      if (key == L"pwd") continue;  // always sent last
      if (key == L"pg") {
        body += L"pg=";
        body += ReadPageVariable(page, CWString(L"pgs"));
      } else if (key == L"t" || key == L"k") {
        // The entry names the script variable that holds the value.
        body += key;
        body += L"=";
        body += ReadPageVariable(page, parts.Get(1));
      } else {
        CWString value = CWString::Between(entry, L":'", L"'");
        if (value.IsEmpty()) value = CWString::RightOfLast(entry, L":");
        body += key;
        body += L"=";
        body += value;
      }
      body += L"&";
    }
  }
  body += L"pwd=";
  body += password;
  return body;
}

int32_t ListLanzouFolder(const CWString& shareAddress, const CWString& password, int32_t resolveLinks,
                         const rg_WenBenShuZuLei& filePasswords, rg_WenBenShuZuLei& names, rg_WenBenShuZuLei& pageUrls,
                         rg_WenBenShuZuLei& links, const DriveEndpoints& endpoints) {
  // One session for the page and the list request.
  rg_WangLaoFangWenLei_n http;
  const CWString page = Exchange(http, shareAddress, http_method::kGet, CWString());
  const CWString body = BuildLanzouListBody(page, password);

  CWString site(L"https://");
  site += CWString::Between(shareAddress, L"//", L".");
  site += L".";
  site += endpoints.lanzouDomain;
  rg_JSONDuiXiangLei_n answer;
  if (!answer.Parse(Exchange(http, site + kListPath, http_method::kPost, body))) {
    return static_cast<int32_t>(names.Count());
  }

  const CWString primaryLabel = CWString::LeftOf(endpoints.lanzouDomain, L".", 0);
  for (int64_t i = 0; i < answer.GetCount(L"/text"); ++i) {
    const CWString item = CWString::Concat(L"/text/", Int64ToText(i));
    names.Add(answer.GetText(item + L"/name_all"));
    const CWString pageUrl = site + L"/" + answer.GetText(item + L"/id");
    pageUrls.Add(pageUrl);
    if (!resolveLinks) continue;

    const CWString filePassword = filePasswords.Get(i);
    CWString address = ResolvableAddress(pageUrl, filePassword);
    CWString link = ResolveLanzouFileLink(address, filePassword);
    if (link.Length() < kShortestLink) {
      address.ReplaceAll(primaryLabel, endpoints.lanzouAltLabel, false);
      link = ResolveLanzouFileLink(address, filePassword);
    }
    links.Add(link);
  }
  return static_cast<int32_t>(names.Count());
}
