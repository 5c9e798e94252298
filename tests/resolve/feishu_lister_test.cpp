// The Feishu lister against the drive emulator: order, names, addresses, the exact requests,
// failures and listings that would never end.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "emulator_test.h"
#include "resolve/feishu_lister.h"
#include "resolve/feishu_visitor.h"
#include "text_support.h"

namespace {

const std::wstring kListTarget =
    L"/space/api/explorer/v3/children/list/?thumbnail_width=1028&thumbnail_height=1028&thumbnail_policy=4"
    L"&obj_type=0&obj_type=2&obj_type=22&obj_type=44&obj_type=3&obj_type=30&obj_type=8&obj_type=11&obj_type=12"
    L"&length=50&asc=1&rank=5&token=";
const std::wstring kStreamPath = L"/space/api/box/stream/download/all/";
const std::wstring kAgent =
    L"Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/94.0.4606.71 "
    L"Safari/537.36 Core/1.94.209.400 QQBrowser/12.0.5442.400";

// a, then folder s holding c (and folder t holding d), then b.
const std::wstring kNestedTree =
    LR"({"name":"root","token":"RootTok","children":[
  {"name":"a.bin","token":"fa","size":1},
  {"name":"s","token":"Fs","children":[
    {"name":"c.bin","token":"fc","size":1},
    {"name":"t","token":"Ft","children":[{"name":"d.bin","token":"fd","size":1}]}]},
  {"name":"b.bin","token":"fb","size":1}]})";

class FeishuListerTest : public EmulatorTest {
 protected:
  void UseTree(const std::wstring& tree) { ASSERT_TRUE(emulator.Control(L"{\"tree\":" + tree + L"}")); }

  std::wstring Share(const std::wstring& token) const { return emulator.HttpOrigin() + L"/drive/folder/" + token; }
  std::wstring Page(const std::wstring& token) const { return emulator.HttpOrigin() + L"/file/" + token; }
  std::wstring Stream(const std::wstring& token) const { return emulator.HttpOrigin() + kStreamPath + token; }

  int32_t List(const std::wstring& share, int32_t makeDownloadUrls = 1, int32_t keepFolderNames = 0,
               const std::wstring& prefix = L"") {
    return ListFeishuFolder(CWString(share), makeDownloadUrls, names, pageUrls, downloadUrls, keepFolderNames,
                            CWString(prefix), endpoints);
  }

  // Every listing request carries exactly the default lines, the cookie line and the agent line.
  void ExpectListingHeaders(const LoggedRequest& request) {
    EXPECT_EQ(request.method, L"GET");
    EXPECT_EQ(request.Header(L"Accept"), L"*/*");
    EXPECT_EQ(request.Header(L"Accept-Language"), L"zh-CN,zh;q=0.9,en;q=0.8,en-GB;q=0.7,en-US;q=0.6,zh-TW;q=0.5");
    EXPECT_EQ(request.Header(L"User-Agent"), kAgent);
    const std::wstring cookieLine = DriveEndpoints::Built().listCookie.ToStdString();
    EXPECT_EQ(L"Cookie: " + request.Header(L"Cookie"), cookieLine);
    for (const std::wstring& name : request.HeaderNames()) {
      if (name == L"accept-encoding") {
        // Sent only where WinHTTP inflates answers itself.
        EXPECT_EQ(request.Header(name), L"gzip, deflate");
        continue;
      }
      EXPECT_TRUE(name == L"accept" || name == L"accept-language" || name == L"user-agent" || name == L"cookie" ||
                  name == L"host" || name == L"connection")
          << "unexpected header " << std::string(name.begin(), name.end());
    }
    EXPECT_TRUE(request.body.empty());
  }

  rg_WenBenShuZuLei names, pageUrls, downloadUrls;
};

TEST_F(FeishuListerTest, SubFolderFilesComeAtTheSubFoldersPlace) {
  UseTree(kNestedTree);
  EXPECT_EQ(List(Share(L"RootTok")), 4);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"a.bin", L"c.bin", L"d.bin", L"b.bin"}));
  EXPECT_EQ(Items(pageUrls), (std::vector<std::wstring>{Page(L"fa"), Page(L"fc"), Page(L"fd"), Page(L"fb")}));
  EXPECT_EQ(Items(downloadUrls),
            (std::vector<std::wstring>{Stream(L"fa"), Stream(L"fc"), Stream(L"fd"), Stream(L"fb")}));

  // One request per folder, depth first.
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, kListTarget + L"RootTok");
  EXPECT_EQ(requests[1].target, kListTarget + L"Fs");
  EXPECT_EQ(requests[2].target, kListTarget + L"Ft");
  for (const auto& request : requests) ExpectListingHeaders(request);
}

// The listing goes the player's way: through their proxy, played here by the emulator
// answering as a proxy (Wine cannot play a player's proxy settings). No resolver knows the
// drive's host: only the proxy reaches it.
TEST_F(FeishuListerTest, TheListingGoesThroughTheProxy) {
  UseTree(kNestedTree);
  const std::wstring origin = emulator.HttpOrigin();
  const std::wstring port = origin.substr(origin.rfind(L':') + 1);
  const std::wstring drive = L"http://drive.invalid:" + port;
  DriveEndpoints proxied = endpoints;
  proxied.listOrigin = CWString(drive);
  proxied.proxy = CWString(L"127.0.0.1:" + port);
  EXPECT_EQ(ListFeishuFolder(CWString(drive + L"/drive/folder/RootTok"), 1, names, pageUrls, downloadUrls, 0,
                             CWString(), proxied),
            4);
  const std::vector<LoggedRequest> requests = Requests();
  ASSERT_FALSE(requests.empty());
  for (const LoggedRequest& request : requests) EXPECT_TRUE(request.target.starts_with(drive + L"/")) << request.target;
}

TEST_F(FeishuListerTest, KeepFolderNamesPutsOnlyTheInnermostFolderInFront) {
  UseTree(kNestedTree);
  EXPECT_EQ(List(Share(L"RootTok"), 1, 1), 4);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"a.bin", L"s\\c.bin", L"t\\d.bin", L"b.bin"}));
}

TEST_F(FeishuListerTest, PathsNameEveryFolderBelowTheShare) {
  UseTree(kNestedTree);
  std::vector<CWString> paths;
  EXPECT_EQ(ListFeishuFolder(CWString(Share(L"RootTok")), 1, names, pageUrls, downloadUrls, 0, CWString(), endpoints,
                             nullptr, nullptr, nullptr, &paths),
            4);
  std::vector<std::wstring> got;
  for (const CWString& path : paths) got.push_back(path.ToStdString());
  EXPECT_EQ(got, (std::vector<std::wstring>{L"a.bin", L"s/c.bin", L"s/t/d.bin", L"b.bin"}));
}

TEST_F(FeishuListerTest, PrefixGoesInFrontOfTheTopLevelNames) {
  UseTree(kNestedTree);
  EXPECT_EQ(List(Share(L"RootTok"), 1, 0, L"top"), 4);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"top\\a.bin", L"c.bin", L"d.bin", L"top\\b.bin"}));
}

TEST_F(FeishuListerTest, WithoutDownloadUrlsThatListStaysEmpty) {
  UseTree(kNestedTree);
  downloadUrls.Add(L"previous");
  EXPECT_EQ(List(Share(L"RootTok"), 0), 4);
  EXPECT_EQ(names.Count(), 4);
  EXPECT_EQ(pageUrls.Count(), 4);
  EXPECT_EQ(downloadUrls.Count(), 0);
}

TEST_F(FeishuListerTest, AnySubtypeMarksAFileEvenNullOrEmpty) {
  UseTree(
      LR"({"name":"root","token":"RootTok","children":[
    {"name":"null.dat","token":"fn","size":1,"subtype":null},
    {"name":"empty.dat","token":"fe","size":1,"subtype":""},
    {"name":"pdf.dat","token":"fp","size":1,"subtype":"pdf"}]})");
  EXPECT_EQ(List(Share(L"RootTok")), 3);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"null.dat", L"empty.dat", L"pdf.dat"}));
  EXPECT_EQ(Requests().size(), 1u);
}

// The share as publishers fill it: the folder's own node, a document, a sheet and a shortcut
// among the files. Only the files are listed, with the sizes the drive gave, and only real
// folders are asked for.
TEST_F(FeishuListerTest, TheRealDrivesOtherNodesAreNeitherListedNorAskedFor) {
  ASSERT_TRUE(emulator.Control(LR"({"preset":"documents","options":{"part_size_mib":0.25}})"));
  std::vector<int64_t> sizes;
  EXPECT_EQ(ListFeishuFolder(CWString(Share(L"Xq4rTaWmBbN2pLsE7vYc9dKhU3z")), 1, names, pageUrls, downloadUrls, 0,
                             CWString(), endpoints, nullptr, &sizes),
            10);
  std::vector<std::wstring> expected{L"Brinemarch-manual.pdf", L"Brinemarch-redist.zip", L"Brinemarch.part1.exe"};
  for (int part = 2; part <= 8; ++part) expected.push_back(L"Brinemarch.part" + std::to_wstring(part) + L".rar");
  EXPECT_EQ(Items(names), expected);
  EXPECT_EQ(sizes, (std::vector<int64_t>{307201, 1572869, 262144, 262144, 262144, 262144, 262144, 262144, 262144,
                                         131072 + 12345}));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u) << "only the share and its sub-folder are folders";
  for (const auto& request : requests) EXPECT_EQ(request.target.rfind(kListTarget, 0), 0u);
}

// Kinds by "type" first, folders on the way down by any of their tokens, and sizes that are
// a whole number of bytes or unknown.
TEST_F(FeishuListerTest, NodeKindsCyclesAndListedSizes) {
  UseTree(
      LR"({"name":"root","token":"RootTok","children":[
    {"name":"own","link":".","as_target":true},
    {"name":"plain.bin","token":"f12","size":5,"entity":{"extra":{"size":"5"}}},
    {"name":"guide","token":"d22","doc":22},
    {"name":"board","token":"d44","doc":44,"entity":{"extra":{"subtype":"pdf"}}},
    {"name":"sub","token":"Fsub","children":[
      {"name":"up","link":"/","entity":{"obj_token":"RootTok","url":"/drive/folder/NOPE1"}},
      {"name":"me","link":".","entity":{"token":"Fsub","obj_token":null,"url":"/drive/folder/NOPE2"}},
      {"name":"e.bin","size":1,"entity":{"extra":{"size":""}}},
      {"name":"m.bin","size":1,"entity":{"extra":{"size":"-1"}}},
      {"name":"x.bin","size":1,"entity":{"extra":{"size":"1e3"}}},
      {"name":"a.bin","size":1,"entity":{"extra":{"size":"abc"}}},
      {"name":"h.bin","size":1,"entity":{"extra":{"size":"99999999999999999999"}}},
      {"name":"n.bin","size":1,"entity":{"extra":null}},
      {"name":"r.bin","size":1,"entity":{"extra":{"size":7.5}}},
      {"name":"i.bin","size":1,"entity":{"extra":{"size":7}}},
      {"name":"top.bin","size":1,"entity":{"extra":{"size":"9007199254740992"}}},
      {"name":"over.bin","size":1,"entity":{"extra":{"size":"9007199254740993"}}}]},
    {"name":"old.dat","token":"fold","size":3,"omit":["type"]}]})");
  std::vector<int64_t> sizes;
  EXPECT_EQ(ListFeishuFolder(CWString(Share(L"RootTok")), 1, names, pageUrls, downloadUrls, 0, CWString(), endpoints,
                             nullptr, &sizes),
            12);
  EXPECT_EQ(Items(names),
            (std::vector<std::wstring>{L"plain.bin", L"e.bin", L"m.bin", L"x.bin", L"a.bin", L"h.bin", L"n.bin",
                                       L"r.bin", L"i.bin", L"top.bin", L"over.bin", L"old.dat"}));
  EXPECT_EQ(sizes, (std::vector<int64_t>{5, -1, -1, -1, -1, -1, -1, -1, 7, int64_t{1} << 53, -1, 3}));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].target, kListTarget + L"RootTok");
  EXPECT_EQ(requests[1].target, kListTarget + L"Fsub");
}

TEST_F(FeishuListerTest, MissingMembersReadAsEmptyTexts) {
  UseTree(
      LR"({"name":"root","token":"RootTok","children":[
    {"name":"no-url.bin","token":"fu","size":1,"omit":["url"]},
    {"name":"no-name.bin","token":"fm","size":1,"omit":["name"]}]})");
  EXPECT_EQ(List(Share(L"RootTok"), 1, 0, L"p"), 2);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"p\\no-url.bin", L"p\\"}));
  EXPECT_EQ(Items(pageUrls), (std::vector<std::wstring>{L"", Page(L"fm")}));
  EXPECT_EQ(Items(downloadUrls), (std::vector<std::wstring>{emulator.HttpOrigin() + kStreamPath, Stream(L"fm")}));
}

TEST_F(FeishuListerTest, TokenKeepsAQueryAfterIt) {
  UseTree(kNestedTree);
  EXPECT_EQ(List(Share(L"RootTok?from=home")), 0);
  const auto requests = Requests();
  // The refusal, tried again twice, then the share's page for a visitor's session.
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[3].target, L"/drive/folder/RootTok?from=home");
  EXPECT_EQ(requests[0].target, kListTarget + L"RootTok?from=home");
}

TEST_F(FeishuListerTest, SlashAtTheEndGivesAnEmptyToken) {
  UseTree(kNestedTree);
  names.Add(L"previous");
  EXPECT_EQ(List(Share(L"RootTok/")), 0);
  EXPECT_EQ(names.Count(), 0);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].target, kListTarget);
}

TEST_F(FeishuListerTest, ExpiredSessionGivesNothing) {
  UseTree(kNestedTree);
  ASSERT_TRUE(emulator.Control(LR"({"cookies":{"list":"Cookie: bm_session=expired"}})"));
  EXPECT_EQ(List(Share(L"RootTok")), 0);
  EXPECT_EQ(names.Count() + pageUrls.Count() + downloadUrls.Count(), 0);
}

// Files f<first>.bin .. f<last>.bin as tree children.
std::wstring NumberedFiles(const std::wstring& stem, int first, int last) {
  std::wstring children;
  for (int i = first; i <= last; ++i) {
    if (i > first) children += L",";
    children += L"{\"name\":\"" + stem + std::to_wstring(i) + L".bin\",\"size\":1}";
  }
  return children;
}

std::vector<std::wstring> NumberedNames(const std::wstring& stem, int first, int last) {
  std::vector<std::wstring> names;
  for (int i = first; i <= last; ++i) names.push_back(stem + std::to_wstring(i) + L".bin");
  return names;
}

TEST_F(FeishuListerTest, FoldersOfMoreThanOnePageArriveWholeAndInOrder) {
  UseTree(L"{\"name\":\"root\",\"token\":\"RootTok\",\"children\":[" + NumberedFiles(L"f", 1, 120) + L"]}");
  EXPECT_EQ(List(Share(L"RootTok")), 120);
  EXPECT_EQ(Items(names), NumberedNames(L"f", 1, 120));

  // The first request as ever; then the same one with the answer's cursor, percent-encoded.
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, kListTarget + L"RootTok");
  for (size_t i = 1; i < requests.size(); ++i) {
    const std::wstring head = kListTarget + L"RootTok&last_label=";
    ASSERT_EQ(requests[i].target.substr(0, head.size()), head);
    const std::wstring label = requests[i].target.substr(head.size());
    EXPECT_EQ(label.find_first_of(L"+/=&"), std::wstring::npos) << label;
    EXPECT_NE(label.find(L"%2B"), std::wstring::npos) << label;
    EXPECT_NE(label.find(L"%3D"), std::wstring::npos) << label;
    ExpectListingHeaders(requests[i]);
  }
  EXPECT_NE(requests[1].target, requests[2].target);
}

TEST_F(FeishuListerTest, PagesOfASubFolderComeAtItsPlace) {
  UseTree(
      L"{\"name\":\"root\",\"token\":\"RootTok\",\"children\":[{\"name\":\"a.bin\",\"size\":1},"
      L"{\"name\":\"s\",\"token\":\"Fs\",\"children\":[" +
      NumberedFiles(L"s", 1, 60) + L"]},{\"name\":\"b.bin\",\"size\":1}]}");
  EXPECT_EQ(List(Share(L"RootTok")), 62);
  std::vector<std::wstring> expected{L"a.bin"};
  for (const auto& name : NumberedNames(L"s", 1, 60)) expected.push_back(name);
  expected.push_back(L"b.bin");
  EXPECT_EQ(Items(names), expected);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].target, kListTarget + L"Fs");
  EXPECT_EQ(requests[2].target.rfind(kListTarget + L"Fs&last_label=", 0), 0u);
}

// Any part of the tree that cannot be read, after its retries, fails the whole listing.
TEST_F(FeishuListerTest, AListingIsWholeOrItFails) {
  const std::wstring paged =
      L"{\"name\":\"root\",\"token\":\"RootTok\",\"children\":[{\"name\":\"s\",\"token\":\"Fs\",\"children\":[" +
      NumberedFiles(L"s", 1, 60) + L"]}," + NumberedFiles(L"f", 1, 60) + L"]}";
  struct Case {
    const wchar_t* what;
    std::wstring tree;
    const wchar_t* fault;
    size_t requests;  // at the drive, retries included
    int32_t files;
  };
  const Case cases[] = {
      {L"root answers 500", kNestedTree, LR"({"mode":"500"})", 3, 0},
      {L"root answers no JSON", kNestedTree, LR"({"mode":"invalid_json"})", 3, 0},
      {L"session expired", kNestedTree, LR"({"mode":"expired"})", 4, 0},  // and the share's page
      {L"sub-folder refused for good", kNestedTree, LR"({"mode":"refused","token":"Fs"})", 4, 0},
      {L"sub-folder refused twice", kNestedTree, LR"({"mode":"refused","token":"Fs","times":2})", 5, 4},
      {L"root's page 2 refused", paged, LR"({"mode":"refused","token":"RootTok","page":2})", 6, 0},
      {L"more without a cursor", kNestedTree, LR"({"mode":"no_label","token":"Fs"})", 3, 0},
      {L"the first cursor again", paged, LR"({"mode":"repeat_label","token":"Fs"})", 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseTree(c.tree);
    ASSERT_TRUE(emulator.Control(std::wstring(L"{\"list\":") + c.fault + L"}"));
    const size_t before = Requests().size();
    names.Add(L"previous");
    EXPECT_EQ(List(Share(L"RootTok")), c.files);
    EXPECT_EQ(names.Count(), c.files);
    EXPECT_EQ(downloadUrls.Count(), c.files);
    EXPECT_EQ(Requests().size() - before, c.requests);
    ASSERT_TRUE(emulator.Control(LR"({"list":null})"));
  }
}

TEST_F(FeishuListerTest, RetriesPauseAndTheListingKeepsItsDeadline) {
  UseTree(kNestedTree);
  DriveEndpoints patient = endpoints;
  patient.listRetryPausesMs = {200, 400};
  ASSERT_TRUE(emulator.Control(LR"({"list":{"mode":"refused","times":2}})"));
  ULONGLONG start = GetTickCount64();
  EXPECT_EQ(ListFeishuFolder(CWString(Share(L"RootTok")), 1, names, pageUrls, downloadUrls, 0, CWString(), patient), 4);
  // Each pause is at least half its step.
  EXPECT_GE(GetTickCount64() - start, 300u);

  // A drive that never answers is given up when the listing's time is over.
  patient.listDeadlineMs = 1500;
  ASSERT_TRUE(emulator.Control(LR"({"list":{"mode":"hang"}})"));
  start = GetTickCount64();
  EXPECT_EQ(ListFeishuFolder(CWString(Share(L"RootTok")), 1, names, pageUrls, downloadUrls, 0, CWString(), patient), 0);
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_LT(took, 5000u) << "a hanging drive held the listing " << took << " ms";
  std::printf("listing of a hanging drive gave up after %llu ms (deadline 1500 ms)\n", took);
}

// The build's session refused: the share's page gives a visitor's session, or it does not.
TEST_F(FeishuListerTest, ARefusedSessionIsRescuedByAVisitorsSessionOfAPublicShare) {
  const std::wstring visitorCookies = L"bm_visitor_trace=tr2y; bm_visitor_session=VsN8qK2xPz; bm_visitor_lang=zh-CN";
  struct Case {
    const wchar_t* what;
    const wchar_t* visitor;
    int32_t files;
    size_t pageRequests;  // GETs of the share's own address
  };
  const Case cases[] = {
      {L"public share", LR"({"public":true})", 4, 2},
      {L"share not public", LR"({"public":false})", 0, 2},
      {L"redirect loop", LR"({"redirect":"loop"})", 0, 9},
      {L"redirect to a foreign host", LR"({"redirect":"foreign"})", 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseTree(kNestedTree);
    ASSERT_TRUE(emulator.Control(std::wstring(L"{\"visitor\":") + c.visitor + L"}"));
    const size_t before = Requests().size();
    FeishuSession session{CWString(L"stale"), CWString(L"stale")};
    EXPECT_EQ(ListFeishuFolder(CWString(Share(L"RootTok")), 1, names, pageUrls, downloadUrls, 0, CWString(), endpoints,
                               &session),
              c.files);
    const auto all = Requests();
    std::vector<LoggedRequest> pages, listings;
    for (size_t i = before; i < all.size(); ++i) {
      (all[i].target.starts_with(L"/drive/folder/") ? pages : listings).push_back(all[i]);
    }
    ASSERT_EQ(pages.size(), c.pageRequests);
    // The share's page is opened as a browser would, each hop with the cookies so far.
    EXPECT_EQ(pages[0].target, L"/drive/folder/RootTok");
    EXPECT_EQ(pages[0].Header(L"Accept"), L"text/html,*/*");
    EXPECT_EQ(pages[0].Header(L"User-Agent"), kAgent);
    EXPECT_EQ(pages[0].Header(L"Cookie"), L"");
    if (c.pageRequests > 1) {
      EXPECT_EQ(pages[1].Header(L"Cookie"), L"bm_visitor_trace=tr1x");
    }
    // The build's session three times (it was refused, then tried twice more), then the
    // visitor's, once per folder.
    ASSERT_GE(listings.size(), 3u);
    for (size_t i = 0; i < 3; ++i) ExpectListingHeaders(listings[i]);
    for (size_t i = 3; i < listings.size(); ++i) {
      EXPECT_EQ(listings[i].Header(L"Cookie"), visitorCookies);
      EXPECT_EQ(listings[i].Header(L"Referer"), Share(L"RootTok"));
    }
    if (c.files > 0) {
      EXPECT_EQ(listings.size(), 6u);
      EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"a.bin", L"c.bin", L"d.bin", L"b.bin"}));
      EXPECT_EQ(Std(session.visitorCookies), visitorCookies);
      EXPECT_EQ(Std(session.referer), Share(L"RootTok"));
    } else {
      EXPECT_TRUE(session.visitorCookies.IsEmpty());
      EXPECT_TRUE(session.referer.IsEmpty());
    }
    ASSERT_TRUE(emulator.Control(LR"({"visitor":null})"));
  }
}

// The visitor's cookies list and fetch the game: they are taken only from a host that proves
// it is the drive.
TEST_F(FeishuListerTest, AVisitorsSessionComesOnlyFromATrustedShareHost) {
  UseTree(kNestedTree);
  ASSERT_TRUE(emulator.Control(LR"({"visitor":{"public":true}})"));
  const CWString share(emulator.TlsOrigin() + L"/drive/folder/RootTok");
  const uint64_t deadline = GetTickCount64() + 30000;
  EXPECT_FALSE(FetchFeishuVisitorCookies(share, endpoints, deadline).IsEmpty());
  EXPECT_EQ(Requests().size(), 2u);  // the page, then its redirect

  ASSERT_TRUE(emulator.Control(LR"({"tls_cert":"untrusted"})"));
  const size_t before = Requests().size();
  const int64_t refused = emulator.TlsRefused();
  EXPECT_TRUE(FetchFeishuVisitorCookies(share, endpoints, deadline).IsEmpty());
  EXPECT_EQ(Requests().size(), before);
  EXPECT_EQ(emulator.TlsRefusedAfter(refused, 1), refused + 1);
}

// Whoever answers the listing chooses what is fetched and started: only a certificate of an
// authority this prefix trusts, issued for the host, is taken. Any other fails the listing
// before a request reaches the drive. Windows reports it as untrusted (12175) and the listing
// fails at once; Wine reports every refusal as a channel that could not be set up (12157),
// which is tried again like a network error (IsCertificateError's table stands for Windows).
TEST_F(FeishuListerTest, OverTlsOnlyATrustedCertificateForTheHostIsTaken) {
  DriveEndpoints secure = endpoints;
  secure.listOrigin = CWString(emulator.TlsOrigin());
  struct Case {
    const wchar_t* what;
    const wchar_t* certificate;  // for the emulator's "tls_cert"
    const wchar_t* host;         // in the addresses
    int32_t files;
  };
  const Case cases[] = {
      {L"the test authority's, for 127.0.0.1", L"null", L"127.0.0.1", 4},
      {L"the test authority's, for localhost", L"null", L"localhost", 4},
      {L"an authority nobody trusts", L"\"untrusted\"", L"127.0.0.1", 0},
      {L"another host's, by address", L"\"other_host\"", L"127.0.0.1", 0},
      {L"another host's, by name", L"\"other_host\"", L"localhost", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    UseTree(kNestedTree);
    ASSERT_TRUE(emulator.Control(std::wstring(L"{\"tls_cert\":") + c.certificate + L"}"));
    std::wstring origin = emulator.TlsOrigin();
    origin.replace(origin.find(L"127.0.0.1"), 9, c.host);
    secure.listOrigin = CWString(origin);
    const size_t before = Requests().size();
    const int64_t refused = emulator.TlsRefused();
    names.Add(L"previous");
    FeishuSession session;
    EXPECT_EQ(ListFeishuFolder(CWString(origin + L"/drive/folder/RootTok"), 1, names, pageUrls, downloadUrls, 0,
                               CWString(), secure, &session),
              c.files);
    EXPECT_EQ(names.Count(), c.files);
    EXPECT_EQ(downloadUrls.Count(), c.files);
    const auto requests = Requests();
    if (c.files > 0) {
      EXPECT_FALSE(session.untrusted);
      ASSERT_EQ(requests.size() - before, 3u);
      for (size_t i = before; i < requests.size(); ++i) EXPECT_EQ(requests[i].port, L"tls");
      EXPECT_EQ(emulator.TlsRefused(), refused);
    } else {
      EXPECT_EQ(requests.size(), before);
      EXPECT_GE(emulator.TlsRefusedAfter(refused, 1), refused + 1);
    }
  }
}

TEST_F(FeishuListerTest, FoldersLeadingBackAreListedOnce) {
  UseTree(
      LR"({"name":"root","token":"RootTok","children":[
    {"name":"loop","token":"Fl","children":[
      {"name":"itself","link":"."},
      {"name":"to-root","link":"/"},
      {"name":"inside.txt","token":"fi","text":"x"}]},
    {"name":"top.txt","token":"ft","text":"y"}]})");
  EXPECT_EQ(List(Share(L"RootTok")), 2);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"inside.txt", L"top.txt"}));
  EXPECT_EQ(Requests().size(), 2u);
}

TEST_F(FeishuListerTest, AbsurdNestingFailsAtTheDepthLimit) {
  // 40 folders, one inside the other, each holding one file.
  std::wstring tree = L"{\"name\":\"f40.bin\",\"size\":1}";
  for (int level = 39; level >= 0; --level) {
    tree = L"{\"name\":\"level" + std::to_wstring(level) + L"\",\"children\":[{\"name\":\"f" + std::to_wstring(level) +
           L".bin\",\"size\":1}," + tree + L"]}";
  }
  tree.insert(1, L"\"token\":\"RootTok\",");
  UseTree(tree);
  // Files below the limit would be missing from the game, so the listing fails.
  EXPECT_EQ(List(Share(L"RootTok")), 0);
  EXPECT_EQ(names.Count(), 0);
  EXPECT_EQ(Requests().size(), static_cast<size_t>(kFeishuMaxFolderDepth + 1));
}

TEST(FeishuDownloadUrl, TakesTheLastSegmentOfThePage) {
  DriveEndpoints endpoints = DriveEndpoints::Built();
  endpoints.downloadOrigin = CWString(L"https://dl.example");
  EXPECT_EQ(Std(MakeFeishuDownloadUrl(CWString(L"https://x.example/file/AbC"), endpoints)),
            L"https://dl.example/space/api/box/stream/download/all/AbC");
  EXPECT_EQ(Std(MakeFeishuDownloadUrl(CWString(L"https://x.example/file/AbC?from=1"), endpoints)),
            L"https://dl.example/space/api/box/stream/download/all/AbC?from=1");
  EXPECT_EQ(Std(MakeFeishuDownloadUrl(CWString(L"AbC"), endpoints)),
            L"https://dl.example/space/api/box/stream/download/all/");
}

TEST(FeishuDownloadUrl, BuiltEndpointsComeFromTheBuild) {
  EXPECT_EQ(Std(MakeFeishuDownloadUrl(CWString(L"https://x.example/file/Z9"))),
            Std(DriveEndpoints::Built().downloadOrigin) + L"/space/api/box/stream/download/all/Z9");
}

}  // namespace
