#include "resolve/feishu_lister.h"

#include <set>
#include <string>

#include "json/json_reader.h"
#include "net/http.h"

namespace {

constexpr const wchar_t* kListPathAndQuery =
    L"/space/api/explorer/v3/children/list/?thumbnail_width=1028&thumbnail_height=1028&thumbnail_policy=4"
    L"&obj_type=0&obj_type=2&obj_type=22&obj_type=44&obj_type=3&obj_type=30&obj_type=8&obj_type=11"
    L"&obj_type=12&length=50&asc=1&rank=5&token=jxfswjj";
constexpr const wchar_t* kTokenPlaceholder = L"jxfswjj";
constexpr const wchar_t* kAgentLine =
    L"user-agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    L"Chrome/94.0.4606.71 Safari/537.36 Core/1.94.209.400 QQBrowser/12.0.5442.400";
constexpr const wchar_t* kStreamPath = L"/space/api/box/stream/download/all/";
constexpr int32_t kListTimeoutMs = 15000;
constexpr int32_t kRedirectsNotFollowed = -1;
constexpr int32_t kIgnoreCertErrors = 1;

struct FileLists {
  rg_WenBenShuZuLei names;
  rg_WenBenShuZuLei pageUrls;
  rg_WenBenShuZuLei downloadUrls;
};

// One listing, shared by the folders it descends into.
class FolderWalk {
 public:
  FolderWalk(const DriveEndpoints& endpoints, bool makeDownloadUrls, bool keepFolderNames)
      : endpoints_(endpoints), makeDownloadUrls_(makeDownloadUrls), keepFolderNames_(keepFolderNames) {}

  // Appends the files of the folder at address (and of its sub-folders) to out.
  void List(const CWString& address, const CWString& prefix, int depth, FileLists& out) {
    CWString token = CWString::RightOfLast(address, L"/");
    // A drive that lists a folder inside itself (or inside a descendant) would keep us here
    // for ever.
    if (depth > kFeishuMaxFolderDepth || !visited_.insert(token.ToStdString()).second) return;

    CWString url = CWString::Concat(endpoints_.listOrigin, kListPathAndQuery);
    url.ReplaceAll(kTokenPlaceholder, token, false);

    rg_WangLaoFangWenLei_n http;
    rg_WangYeFangWenXiangYingLei_n response;
    CWString scratchCookies, scratchHeaders;
    const CWString none;
    CKelMem body = http.SendRequest(url, http_method::kGet, none, CKelMem(), CWString(kAgentLine),
                                    endpoints_.listCookie, kRedirectsNotFollowed, scratchCookies, scratchHeaders, none,
                                    none, none, kListTimeoutMs, kIgnoreCertErrors, none, response);
    if (body.IsEmpty()) return;
    rg_JSONDuiXiangLei_n answer;
    if (!answer.Parse(body)) return;
    rg_JSONShuZuLei_n nodeList;
    CWString nodeListText = answer.GetText(L"/data/node_list");
    if (nodeListText.IsEmpty() || !nodeList.Parse(nodeListText)) return;

    for (int64_t i = 0; i < nodeList.Count(); ++i) {
      const CWString node = CWString::Concat(L"/data/entities/nodes/", nodeList.GetTextAt(i));
      const CWString nodeUrl = answer.GetText(node + L"/url");
      if (answer.HasPath(node + L"/extra/subtype")) {
        CWString name = answer.GetText(node + L"/name");
        if (!prefix.IsEmpty()) name = prefix + L"\\" + name;
        out.names.Add(name);
        out.pageUrls.Add(nodeUrl);
        if (makeDownloadUrls_) out.downloadUrls.Add(MakeFeishuDownloadUrl(nodeUrl, endpoints_));
        continue;
      }
      // Only the innermost folder's name goes in front of a file name.
      const CWString childPrefix = keepFolderNames_ ? answer.GetText(node + L"/name") : CWString();
      List(nodeUrl, childPrefix, depth + 1, out);
    }
  }

 private:
  const DriveEndpoints& endpoints_;
  const bool makeDownloadUrls_;
  const bool keepFolderNames_;
  std::set<std::wstring> visited_;  // folder tokens already listed
};

}  // namespace

int32_t ListFeishuFolder(const CWString& shareAddress, int32_t makeDownloadUrls, rg_WenBenShuZuLei& names,
                         rg_WenBenShuZuLei& pageUrls, rg_WenBenShuZuLei& downloadUrls, int32_t keepFolderNames,
                         const CWString& prefix, const DriveEndpoints& endpoints) {
  FileLists found;
  FolderWalk(endpoints, makeDownloadUrls != 0, keepFolderNames != 0).List(shareAddress, prefix, 0, found);
  names = std::move(found.names);
  pageUrls = std::move(found.pageUrls);
  downloadUrls = std::move(found.downloadUrls);
  return static_cast<int32_t>(names.Count());
}

CWString MakeFeishuDownloadUrl(const CWString& pageUrl, const DriveEndpoints& endpoints) {
  return endpoints.downloadOrigin + kStreamPath + CWString::RightOfLast(pageUrl, L"/");
}
