#include "json/json_reader.h"
#include "net/http.h"
#include "regex/regex.h"
#include "resolve/lanzou.h"
#include "runtime/utils.h"

namespace {

constexpr const wchar_t* kTokenPattern = L"[\\d\\w\\_]{70,}";
constexpr const wchar_t* kLocationName = L"Location:";
constexpr int64_t kLocationNameLength = 9;
constexpr int64_t kShortestPage = 50;
// A Location no longer than this is not taken over the address built from the answer.
constexpr int64_t kLongestIgnoredLocation = 30;
constexpr int32_t kRedirectsNotFollowed = -1;
constexpr int32_t kTimeoutMs = 15000;
// The pages name the files and the addresses they are fetched from: only from the drive.
constexpr int32_t kIgnoreCertErrors = 0;

// Without units <= 32 at both ends.
CWString Trimmed(const CWString& text) {
  int64_t begin = 0, end = text.Length();
  while (begin < end && text[begin] <= 32) ++begin;
  while (end > begin && text[end - 1] <= 32) --end;
  return text.Mid(begin, end - begin);
}

// The requests of one resolution, over one session.
class LanzouSession {
 public:
  CWString Get(const CWString& url, CWString* rawHeaders = nullptr) {
    return Send(url, http_method::kGet, CWString(), CWString(), rawHeaders);
  }
  CWString Post(const CWString& url, const CWString& body, const CWString& extraHeaders) {
    return Send(url, http_method::kPost, body, extraHeaders, nullptr);
  }

 private:
  CWString Send(const CWString& url, int32_t method, const CWString& body, const CWString& extraHeaders,
                CWString* rawHeaders) {
    rg_WangYeFangWenXiangYingLei_n response;
    CWString cookies, headers;
    const CWString none;
    CWString text =
        http_.SendRequestText(url, method, body, CKelMem(), extraHeaders, none, kRedirectsNotFollowed, cookies, headers,
                              none, none, none, kTimeoutMs, kIgnoreCertErrors, NoAcceptEncoding(), response);
    if (rawHeaders) *rawHeaders = headers;
    return text;
  }

  rg_WangLaoFangWenLei_n http_;
};

// The one token on the page; false unless there is exactly one.
bool SingleToken(const CWString& page, CWString& token) {
  rg_ZhengZeLei_n regex;
  if (!regex.Execute(kTokenPattern, page) || regex.MatchCount() != 1) return false;
  token = regex.FirstMatchText();
  return true;
}

// "dom" + "/file/" + "url" of the download answer; members missing from it read as "".
CWString AddressFromAnswer(const CWString& answerText) {
  rg_JSONDuiXiangLei_n answer;
  answer.Parse(answerText);
  return answer.GetText(L"dom") + L"/file/" + answer.GetText(L"url");
}

// The values of the response's "Location:" lines, trimmed, in order.
rg_WenBenShuZuLei Locations(const CWString& rawHeaders) {
  rg_WenBenShuZuLei lines, found;
  lines.Split(rawHeaders, L"\n", true, true);
  for (int64_t i = 0; i < lines.Count(); ++i) {
    const CWString line = lines.Get(i);
    if (line.Left(kLocationNameLength) == kLocationName) {
      found.Add(Trimmed(line.Mid(kLocationNameLength, line.Length())));
    }
  }
  return found;
}

CWString ResolveWithoutPassword(const CWString& pageUrl, const CWString& base) {
  LanzouSession session;
  CWString token;
  const CWString page = session.Get(pageUrl);
  if (page.Length() < kShortestPage) return kLanzouPageFailed;
  if (!SingleToken(page, token)) return kLanzouPageTokenFailed;
  const CWString frameUrl = base + L"fn?" + token;

  const CWString frame = session.Get(frameUrl);
  if (frame.Length() < kShortestPage) return kLanzouSecondPageFailed;
  CWString sign;
  if (!SingleToken(frame, sign)) return kLanzouFrameTokenFailed;

  const CWString answer =
      session.Post(base + L"ajaxm.php", CWString(L"action=downprocess&sign=") + sign + L"_c_c&ves=1",
                   CWString(L"referer:") + frameUrl + L"\r\n");
  if (answer.Length() < kShortestPage) return kLanzouAnswerFailed;
  const CWString link = AddressFromAnswer(answer);

  CWString rawHeaders;
  session.Get(link, &rawHeaders);
  const rg_WenBenShuZuLei locations = Locations(rawHeaders);
  const CWString last = locations.Get(locations.Count() - 1);
  return last.Length() > kLongestIgnoredLocation ? last : link;
}

CWString ResolveWithPassword(const CWString& pageUrl, const CWString& password, const CWString& base) {
  LanzouSession session;
  const CWString page = session.Get(pageUrl);
  if (page.Length() < kShortestPage) return kLanzouPageFailed;
  CWString sign;
  if (!SingleToken(page, sign)) return kLanzouPageTokenFailed;

  const CWString answer =
      session.Post(base + L"ajaxm.php", CWString(L"action=downprocess&sign=") + sign + L"&p=" + password,
                   CWString(L"referer:") + pageUrl + L"\r\n" + kLanzouAgentLine);
  if (answer.Length() < kShortestPage) return kLanzouSecondPageFailed;
  const CWString link = AddressFromAnswer(answer);

  CWString rawHeaders;
  session.Get(link, &rawHeaders);
  CopyTextToClipboard(link);
  const rg_WenBenShuZuLei locations = Locations(rawHeaders);
  return locations.Count() > 0 ? locations.Get(0) : CWString(kLanzouNoLocation);
}

}  // namespace

CWString ResolveLanzouFileLink(const CWString& pageUrl, const CWString& password) {
  // Scheme and host with a trailing "/": the search for "/" starts after "https://".
  const CWString base = CWString::LeftOf(pageUrl, L"/", 8) + L"/";
  return password.IsEmpty() ? ResolveWithoutPassword(pageUrl, base) : ResolveWithPassword(pageUrl, password, base);
}
