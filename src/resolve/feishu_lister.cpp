#include "resolve/feishu_lister.h"

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "json/json_reader.h"
#include "net/http.h"
#include "net/url.h"
#include "resolve/feishu_visitor.h"
#include "runtime/convert.h"
#include "runtime/pauses.h"

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
// Whoever answers the listing chooses which files are fetched and run: certificates are
// checked on every listing request.
constexpr int32_t kIgnoreCertErrors = 0;
// The drive's node types: a folder, an uploaded file. Every other type is an online
// document, sheet, board or the like, which has no bytes to download and no children.
constexpr int64_t kFolderType = 0;
constexpr int64_t kFileType = 12;
// Sizes beyond this are not exact in the drive's own numbers: such a size is unknown.
constexpr int64_t kLargestListedSize = int64_t{1} << 53;

struct FileLists {
  rg_WenBenShuZuLei names;
  rg_WenBenShuZuLei pageUrls;
  rg_WenBenShuZuLei downloadUrls;
  std::vector<int64_t> sizes;   // bytes, -1 where the drive gave none to trust
  std::vector<CWString> paths;  // below the share, "/" between the folders' names and the name
};

enum class NodeKind { kFolder, kFile, kOther };

NodeKind KindOf(const rg_JSONDuiXiangLei_n& answer, const CWString& node) {
  int64_t type = 0;
  if (answer.GetInteger(node + L"/type", type)) {
    if (type == kFolderType) return NodeKind::kFolder;
    return type == kFileType ? NodeKind::kFile : NodeKind::kOther;
  }
  // Answers without a type: any subtype marks a file.
  return answer.HasPath(node + L"/extra/subtype") ? NodeKind::kFile : NodeKind::kFolder;
}

// The file's size as the drive lists it: a decimal text or a JSON integer of bytes.
int64_t ListedSize(const rg_JSONDuiXiangLei_n& answer, const CWString& node) {
  const CWString path = node + L"/extra/size";
  int64_t size = -1;
  const bool read =
      answer.GetInteger(path, size) || (answer.IsText(path) && ParseWholeNumber(answer.GetText(path), size));
  return read && size >= 0 && size <= kLargestListedSize ? size : -1;
}

// One listing, shared by the folders it descends into. The listing is whole or it fails:
// a folder or page that cannot be read, or one that lies deeper than the depth limit, ends
// it with nothing, since a partial list would download part of the game and call it done.
class FolderWalk {
 public:
  // cookieLine and headers: the session the listing requests carry (the "Cookie: ..." line,
  // and the agent line with whatever goes after it).
  FolderWalk(const DriveEndpoints& endpoints, bool makeDownloadUrls, bool keepFolderNames, const CWString& cookieLine,
             const CWString& headers, uint64_t deadline)
      : endpoints_(endpoints),
        makeDownloadUrls_(makeDownloadUrls),
        keepFolderNames_(keepFolderNames),
        cookieLine_(cookieLine),
        headers_(headers),
        deadline_(deadline) {}

  // The drive refused the session for the share's own first page (rather than failing).
  bool RootRefused() const { return rootRefused_; }
  // Why the listing failed, shortly; "" while it has not.
  const CWString& Failure() const { return failure_; }
  // A listing host's certificate was not trusted.
  bool Untrusted() const { return untrusted_; }

  // Appends the files of the folder at address (and of its sub-folders) to out; false when
  // any part of it could not be listed.
  bool List(const CWString& address, const CWString& prefix, int depth, FileLists& out) {
    const CWString token = CWString::RightOfLast(address, L"/");
    // A folder met again (a listing leading back to itself or an ancestor) has given its
    // files already.
    if (!visited_.insert(token.ToStdString()).second) return true;
    if (depth > kFeishuMaxFolderDepth) {
      failure_.Format(L"文件夹超过 %d 层", kFeishuMaxFolderDepth);
      return false;
    }
    path_.push_back(token.ToStdString());
    const bool whole = ListPages(token, prefix, depth, out);
    path_.pop_back();
    return whole;
  }

 private:
  bool ListPages(const CWString& token, const CWString& prefix, int depth, FileLists& out) {
    CWString firstPage = CWString::Concat(endpoints_.listOrigin, kListPathAndQuery);
    firstPage.ReplaceAll(kTokenPlaceholder, token, false);
    std::set<std::wstring> labels;
    CWString url = firstPage;
    for (int page = 1;; ++page) {
      rg_JSONDuiXiangLei_n answer;
      rg_JSONShuZuLei_n nodeList;
      const PageRead read = ReadPage(url, answer, nodeList);
      if (read != PageRead::kRead) {
        rootRefused_ = depth == 0 && page == 1 && read == PageRead::kRefused;
        untrusted_ = read == PageRead::kUntrusted;
        return false;
      }
      for (int64_t i = 0; i < nodeList.Count(); ++i) {
        if (!AddNode(answer, nodeList.GetTextAt(i), prefix, depth, out)) return false;
      }
      if (answer.GetText(L"/data/has_more") != L"true") return true;
      const CWString label = answer.GetText(L"/data/last_label");
      // A drive that keeps saying "more" without moving on would page for ever.
      if (label.IsEmpty() || !labels.insert(label.ToStdString()).second || page >= kFeishuMaxPagesPerFolder) {
        failure_ = L"网盘的分页没有前进";
        return false;
      }
      url = firstPage + L"&last_label=" + PercentEncode(label);
    }
  }

  bool AddNode(const rg_JSONDuiXiangLei_n& answer, const CWString& nodeToken, const CWString& prefix, int depth,
               FileLists& out) {
    const CWString node = CWString::Concat(L"/data/entities/nodes/", nodeToken);
    const CWString nodeUrl = answer.GetText(node + L"/url");
    const NodeKind kind = KindOf(answer, node);
    // A document's token is no folder: asking for its children is refused.
    if (kind == NodeKind::kOther) return true;
    if (kind == NodeKind::kFile) {
      CWString name = answer.GetText(node + L"/name");
      if (!prefix.IsEmpty()) name = prefix + L"\\" + name;
      out.names.Add(name);
      out.pageUrls.Add(nodeUrl);
      if (makeDownloadUrls_) out.downloadUrls.Add(MakeFeishuDownloadUrl(nodeUrl, endpoints_));
      out.sizes.push_back(ListedSize(answer, node));
      std::wstring path;
      for (const std::wstring& folder : folderNames_) path += folder + L"/";
      out.paths.push_back(CWString(path) + answer.GetText(node + L"/name"));
      return true;
    }
    // The drive lists a folder's own node among its children: by its other tokens too, a
    // folder on the way down to here is not a child to descend into (its address is caught
    // as a folder met again).
    for (const wchar_t* member : {L"/obj_token", L"/token"}) {
      const CWString other = answer.GetText(node + member);
      if (!other.IsEmpty() && OnPath(other)) return true;
    }
    // Only the innermost folder's name goes in front of a file name.
    const CWString folderName = answer.GetText(node + L"/name");
    const CWString childPrefix = keepFolderNames_ ? folderName : CWString();
    folderNames_.push_back(folderName.ToStdString());
    const bool whole = List(nodeUrl, childPrefix, depth + 1, out);
    folderNames_.pop_back();
    return whole;
  }

  enum class PageRead { kRead, kUnreadable, kRefused, kUntrusted };

  // One page, asked again after each pause of the endpoints while it cannot be read: the
  // drive throttles quick listings. A certificate that is not trusted will not become so.
  PageRead ReadPage(const CWString& url, rg_JSONDuiXiangLei_n& answer, rg_JSONShuZuLei_n& nodeList) {
    for (size_t attempt = 0;; ++attempt) {
      const PageRead read = TryPage(url, answer, nodeList);
      if (read == PageRead::kRead || read == PageRead::kUntrusted || attempt >= endpoints_.listRetryPausesMs.size()) {
        return read;
      }
      const uint64_t pause =
          JitteredPauseMs(static_cast<uint32_t>(endpoints_.listRetryPausesMs[attempt]), DrawJitter());
      if (GetTickCount64() + pause >= deadline_) return read;
      Sleep(static_cast<DWORD>(pause));
    }
  }

  PageRead TryPage(const CWString& url, rg_JSONDuiXiangLei_n& answer, rg_JSONShuZuLei_n& nodeList) {
    const uint64_t now = GetTickCount64();
    if (now >= deadline_) {
      failure_ = L"读取超时";
      return PageRead::kUnreadable;
    }
    const int32_t timeoutMs = static_cast<int32_t>(std::min<uint64_t>(kListTimeoutMs, deadline_ - now));
    rg_WangLaoFangWenLei_n http;
    endpoints_.RouteThroughProxy(http);
    rg_WangYeFangWenXiangYingLei_n response;
    CWString scratchCookies, scratchHeaders;
    const CWString none;
    CKelMem body = http.SendRequest(url, http_method::kGet, none, CKelMem(), headers_, cookieLine_,
                                    kRedirectsNotFollowed, scratchCookies, scratchHeaders, none, none, none, timeoutMs,
                                    kIgnoreCertErrors, none, response);
    if (IsCertificateError(response.errorCode)) {
      failure_ = L"网盘的连接不可信（证书未通过验证）";
      return PageRead::kUntrusted;
    }
    // A sign-in wall answers "not allowed" or sends the browser elsewhere.
    const int32_t status = response.statusCode;
    if (status == 401 || status == 403 || (status >= 300 && status < 400)) {
      failure_.Format(L"网盘拒绝访问（HTTP %d）", status);
      return PageRead::kRefused;
    }
    if (body.IsEmpty()) {
      failure_ = response.errorText.IsEmpty() ? CWString(L"网盘没有回答") : response.errorText;
      return PageRead::kUnreadable;
    }
    if (!answer.Parse(body)) {
      failure_.Format(L"网盘的回答无法识别（HTTP %d）", status);
      return PageRead::kUnreadable;
    }
    if (answer.HasPath(L"/code") && answer.GetText(L"/code") != L"0") {
      failure_.Format(L"网盘拒绝：%s（代码 %s）", answer.GetText(L"/msg").GetText(),
                      answer.GetText(L"/code").GetText());
      return PageRead::kRefused;
    }
    if (answer.GetArray(L"/data/node_list", nodeList)) return PageRead::kRead;
    failure_ = L"网盘的回答中没有文件列表";
    return PageRead::kRefused;
  }

  const DriveEndpoints& endpoints_;
  const bool makeDownloadUrls_;
  const bool keepFolderNames_;
  const CWString cookieLine_;
  const CWString headers_;
  const uint64_t deadline_;  // GetTickCount64 value after which no request is made
  CWString failure_;         // why the listing failed, shortly
  bool OnPath(const CWString& token) const {
    return std::find(path_.begin(), path_.end(), token.ToStdString()) != path_.end();
  }

  std::set<std::wstring> visited_;         // folder tokens already listed
  std::vector<std::wstring> path_;         // tokens of the folders from the share down to the one listed
  std::vector<std::wstring> folderNames_;  // names of the folders below the share down to the one listed
  bool rootRefused_ = false;
  bool untrusted_ = false;
};

}  // namespace

int32_t ListFeishuFolder(const CWString& shareAddress, int32_t makeDownloadUrls, rg_WenBenShuZuLei& names,
                         rg_WenBenShuZuLei& pageUrls, rg_WenBenShuZuLei& downloadUrls, int32_t keepFolderNames,
                         const CWString& prefix, const DriveEndpoints& endpoints, FeishuSession* session,
                         std::vector<int64_t>* sizes, CWString* failure, std::vector<CWString>* paths) {
  const uint64_t deadline = GetTickCount64() + static_cast<uint64_t>(endpoints.listDeadlineMs);
  FileLists found;
  FeishuSession used;
  FolderWalk walk(endpoints, makeDownloadUrls != 0, keepFolderNames != 0, endpoints.listCookie, CWString(kAgentLine),
                  deadline);
  bool whole = walk.List(shareAddress, prefix, 0, found);
  CWString why = walk.Failure();
  bool untrusted = walk.Untrusted();
  if (!whole && walk.RootRefused()) {
    // The build's session is over; a public share still lets a visitor in. Once per listing.
    found = FileLists();
    const CWString visitor = FetchFeishuVisitorCookies(shareAddress, endpoints, deadline);
    if (!visitor.IsEmpty()) {
      FolderWalk again(endpoints, makeDownloadUrls != 0, keepFolderNames != 0, CWString(L"Cookie: ") + visitor,
                       CWString(kAgentLine) + L"\r\nreferer: " + shareAddress, deadline);
      whole = again.List(shareAddress, prefix, 0, found);
      untrusted = again.Untrusted();
      used = FeishuSession{visitor, shareAddress};
      if (!whole) why = again.Failure();
    }
  }
  if (!whole) {
    found = FileLists();
    used = FeishuSession();
    used.untrusted = untrusted;
  }
  names = std::move(found.names);
  pageUrls = std::move(found.pageUrls);
  downloadUrls = std::move(found.downloadUrls);
  if (session) *session = std::move(used);
  if (sizes) *sizes = std::move(found.sizes);
  if (paths) *paths = std::move(found.paths);
  if (failure) *failure = whole ? CWString() : why;
  return static_cast<int32_t>(names.Count());
}

CWString MakeFeishuDownloadUrl(const CWString& pageUrl, const DriveEndpoints& endpoints) {
  return endpoints.downloadOrigin + kStreamPath + CWString::RightOfLast(pageUrl, L"/");
}
