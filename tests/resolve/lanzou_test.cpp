// Lanzou resolution: the list request built from a folder page, the two link flows with their
// error texts and boundaries, and whole folders against the drive emulator.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator_test.h"
#include "resolve/lanzou.h"
#include "text_support.h"

namespace {

const std::wstring kQqAgent =
    L"Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/94.0.4606.71 "
    L"Safari/537.36 Core/1.94.209.400 QQBrowser/12.0.5442.400";
const std::wstring kDefaultAgent =
    L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/102.0.5005.124 "
    L"Safari/537.36 Edg/102.0.1245.41";
const std::wstring kFormType = L"application/x-www-form-urlencoded; charset=utf-8";

// A run of word characters: what the pages' tokens are made of.
std::wstring Repeat(wchar_t letter, size_t length) { return std::wstring(length, letter); }

// A folder page whose script holds the list request of the example folder.
const std::wstring kExamplePage =
    LR"(<html><head><script type="text/javascript">
var pgs;
var ib='x1';
var kk='y2';
pgs =1;
function more(){
	$.ajax({
		type : 'post',
		url : '/filemoreajax.php',
		data : { 
					'lx':2,
					'fid':57,
					'pg':pgs,
					't':ib,
					'k':kk,
					'pwd':pwd
			},
		dataType : 'json'
	});
}
</script></head><body></body></html>
)";

TEST(LanzouListBody, BuiltFromTheDataBlockAndTheScriptVariables) {
  EXPECT_EQ(Std(BuildLanzouListBody(CWString(kExamplePage), CWString(L"sesame"))),
            L"lx=2&fid=57&pg=1&t=x1&k=y2&pwd=sesame");
}

TEST(LanzouListBody, EntriesWithoutColonOrQuotedName) {
  const std::wstring page =
      L"<script>\nvar pgs =3;\n data : { 'a':'q v', nocolon, b:7, 'c':raw, 'pwd':pwd }\n</script>";
  // No colon: skipped; a name without quotes: empty name; a quoted value: taken without quotes.
  EXPECT_EQ(Std(BuildLanzouListBody(CWString(page), CWString(L""))), L"a=q v&=7&c=raw&pwd=");
}

TEST(LanzouListBody, PageWithoutDataBlockSendsOnlyThePassword) {
  EXPECT_EQ(Std(BuildLanzouListBody(CWString(L"<html>nothing here</html>"), CWString(L"pw"))), L"pwd=pw");
}

TEST(LanzouPageVariable, ValueUpToTheSemicolonWithoutApostrophes) {
  const CWString page(L"<script>\nvar first = 'a b';\nVAR second='c';\nthird=4;\nfourth='no end'\n</script>");
  EXPECT_EQ(Std(ReadPageVariable(page, CWString(L"first"))), L" a b");  // the space after "=" stays
  EXPECT_EQ(Std(ReadPageVariable(page, CWString(L"second"))), L"c");
  EXPECT_EQ(Std(ReadPageVariable(page, CWString(L"third"))), L"4");
  EXPECT_EQ(Std(ReadPageVariable(page, CWString(L"fourth"))), L"");
  EXPECT_EQ(Std(ReadPageVariable(page, CWString(L"fifth"))), L"");
}

TEST(LanzouPageVariable, NameFromThePageIsMatchedLiterally) {
  const CWString page(L"<script>\nvar axb = 'wrong';\nvar a.b = 'right';\n</script>");
  EXPECT_EQ(Std(ReadPageVariable(page, CWString(L"a.b"))), L" right");
  // Pattern syntax in a hostile name is neither obeyed nor an error.
  EXPECT_EQ(Std(ReadPageVariable(page, CWString(L"(a|x)+b"))), L"");
  EXPECT_EQ(Std(ReadPageVariable(page, CWString(L"a["))), L"");
}

class LanzouTest : public EmulatorTest {
 protected:
  // Answers target with exactly this body and these headers (a JSON array of [name, value]).
  void Script(const std::wstring& target, const std::wstring& body, int status = 200,
              const std::wstring& headers = L"[]") {
    ASSERT_TRUE(emulator.Control(L"{\"pages\":{" + JsonQuote(target) + L":{\"status\":" + std::to_wstring(status) +
                                 L",\"body\":" + JsonQuote(body) + L",\"headers\":" + headers + L"}}}"));
  }
  static std::wstring Location(const std::wstring& value) { return L"[[\"Location\"," + JsonQuote(value) + L"]]"; }

  std::wstring Origin() const { return emulator.HttpOrigin(); }
  std::wstring Link() const { return Origin() + L"/file/?L1"; }

  // A file page carrying token, long enough to be read.
  static std::wstring PageWith(const std::wstring& token) {
    return L"<html><body><iframe src=\"/fn?" + token + L"\"></iframe></body></html>";
  }
  // The download answer naming Link().
  std::wstring Answer() const {
    return L"{\"zt\":1,\"dom\":" + JsonQuote(Origin()) + L",\"url\":\"?L1\",\"inf\":\"a file name\"}";
  }

  // Everything of the flow without password, up to the final redirect.
  void ScriptFreeFile(const std::wstring& finalHeaders) {
    Script(L"/free", PageWith(token));
    Script(L"/fn?" + token, L"<script>var data = {'sign':'" + sign + L"','ves':1};</script>");
    Script(L"/ajaxm.php", Answer());
    Script(L"/file/?L1", L"", 302, finalHeaders);
  }
  void ScriptLockedFile(const std::wstring& finalHeaders) {
    Script(L"/locked", L"<script>var skdklds = '" + sign + L"';</script><div>enter the password</div>");
    Script(L"/ajaxm.php", Answer());
    Script(L"/file/?L1", L"", 302, finalHeaders);
  }
  std::wstring ResolveFree() { return Std(ResolveLanzouFileLink(CWString(Origin() + L"/free"), CWString())); }
  std::wstring ResolveLocked() { return Std(ResolveLanzouFileLink(CWString(Origin() + L"/locked"), CWString(L"pw9"))); }

  const std::wstring token = L"T" + Repeat(L'a', 69);
  const std::wstring sign = L"S" + Repeat(L'b', 79);
  // 30 and 31 characters.
  const std::wstring location30 = L"http://127.0.0.1/" + Repeat(L'z', 13);
  const std::wstring location31 = L"http://127.0.0.1/" + Repeat(L'z', 14);
};

TEST_F(LanzouTest, FreeFileFollowsPageFrameAnswerAndRedirect) {
  ScriptFreeFile(Location(location31));
  EXPECT_EQ(ResolveFree(), location31);

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].method + L" " + requests[0].target, L"GET /free");
  EXPECT_EQ(requests[1].method + L" " + requests[1].target, L"GET /fn?" + token);
  EXPECT_EQ(requests[2].method + L" " + requests[2].target, L"POST /ajaxm.php");
  EXPECT_EQ(requests[3].method + L" " + requests[3].target, L"GET /file/?L1");
  EXPECT_EQ(requests[2].body, L"action=downprocess&sign=" + sign + L"_c_c&ves=1");
  EXPECT_EQ(requests[2].Header(L"Referer"), Origin() + L"/fn?" + token);
  EXPECT_EQ(requests[2].Header(L"Content-Type"), kFormType);
  EXPECT_EQ(requests[2].Header(L"User-Agent"), kDefaultAgent);
  for (const auto& request : requests) {
    EXPECT_EQ(request.Header(L"Accept"), L"*/*");
    EXPECT_EQ(request.Header(L"Cookie"), L"");
    EXPECT_EQ(request.Header(L"Accept-Encoding"), L"");
    EXPECT_EQ(request.Header(L"User-Agent"), kDefaultAgent);
  }
  EXPECT_EQ(requests[0].HeaderNames(),
            (std::vector<std::wstring>{L"accept", L"accept-language", L"connection", L"host", L"user-agent"}));
}

TEST_F(LanzouTest, FreeFileIgnoresALocationOfThirtyCharacters) {
  ScriptFreeFile(Location(location30));
  EXPECT_EQ(ResolveFree(), Link());
}

TEST_F(LanzouTest, FreeFileWithoutLocationGivesTheAnswersAddress) {
  ScriptFreeFile(L"[]");
  EXPECT_EQ(ResolveFree(), Link());
}

TEST_F(LanzouTest, FreeFileTakesTheLastLocation) {
  ScriptFreeFile(L"[[\"Location\"," + JsonQuote(location31 + L"1") + L"],[\"Location\"," +
                 JsonQuote(location31 + L"2") + L"]]");
  EXPECT_EQ(ResolveFree(), location31 + L"2");
}

TEST_F(LanzouTest, LockedFilePostsThePasswordAndTakesAnyLocation) {
  ScriptLockedFile(Location(location30));
  EXPECT_EQ(ResolveLocked(), location30);

  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method + L" " + requests[0].target, L"GET /locked");
  EXPECT_EQ(requests[1].method + L" " + requests[1].target, L"POST /ajaxm.php");
  EXPECT_EQ(requests[2].method + L" " + requests[2].target, L"GET /file/?L1");
  EXPECT_EQ(requests[1].body, L"action=downprocess&sign=" + sign + L"&p=pw9");
  EXPECT_EQ(requests[1].Header(L"Referer"), Origin() + L"/locked");
  EXPECT_EQ(requests[1].Header(L"User-Agent"), kQqAgent);
  EXPECT_EQ(requests[2].Header(L"User-Agent"), kDefaultAgent);
}

TEST_F(LanzouTest, LockedFileTakesTheFirstLocation) {
  ScriptLockedFile(L"[[\"Location\",\"first\"],[\"Location\"," + JsonQuote(location31) + L"]]");
  EXPECT_EQ(ResolveLocked(), L"first");
}

TEST_F(LanzouTest, LockedFileWithoutLocationFails) {
  ScriptLockedFile(L"[]");
  EXPECT_EQ(ResolveLocked(), kLanzouNoLocation);
}

TEST_F(LanzouTest, LockedFileLeavesTheAnswersAddressOnTheClipboard) {
  ScriptLockedFile(Location(location31));
  EXPECT_EQ(ResolveLocked(), location31);
  ASSERT_TRUE(OpenClipboard(nullptr));
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const auto* text = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  const std::wstring copied = text ? text : L"";
  if (text) GlobalUnlock(data);
  CloseClipboard();
  EXPECT_EQ(copied, Link());
}

TEST_F(LanzouTest, PageOfFortyNineCharactersIsNotRead) {
  Script(L"/free", Repeat(L'x', 49));
  Script(L"/locked", Repeat(L'x', 49));
  EXPECT_EQ(ResolveFree(), kLanzouPageFailed);
  EXPECT_EQ(ResolveLocked(), kLanzouPageFailed);
}

TEST_F(LanzouTest, PageOfFiftyCharactersIsSearchedForTheToken) {
  Script(L"/free", L"<p>" + Repeat(L'x', 47));  // 50 characters, runs far below 70
  EXPECT_EQ(ResolveFree(), kLanzouPageTokenFailed);
  Script(L"/free", L"<p>" + Repeat(L'y', 70) + L" ");
  Script(L"/fn?" + Repeat(L'y', 70), L"short");
  EXPECT_EQ(ResolveFree(), kLanzouSecondPageFailed);  // found the token, went on to the frame
  EXPECT_EQ(Requests().back().target, L"/fn?" + Repeat(L'y', 70));
}

TEST_F(LanzouTest, TwoTokensOrOneTooShortAreNotTaken) {
  Script(L"/free", PageWith(token) + L"<!-- " + Repeat(L'c', 70) + L" -->");
  Script(L"/locked", PageWith(token) + L"<!-- " + Repeat(L'c', 70) + L" -->");
  EXPECT_EQ(ResolveFree(), kLanzouPageTokenFailed);
  EXPECT_EQ(ResolveLocked(), kLanzouPageTokenFailed);
  Script(L"/free", PageWith(Repeat(L'd', 69)));
  EXPECT_EQ(ResolveFree(), kLanzouPageTokenFailed);
}

TEST_F(LanzouTest, FrameFailures) {
  ScriptFreeFile(L"[]");
  Script(L"/fn?" + token, Repeat(L'f', 49));
  EXPECT_EQ(ResolveFree(), kLanzouSecondPageFailed);
  Script(L"/fn?" + token, L"<script>'" + sign + L"', '" + Repeat(L'e', 70) + L"'</script>");
  EXPECT_EQ(ResolveFree(), kLanzouFrameTokenFailed);
}

TEST_F(LanzouTest, ShortAnswers) {
  ScriptFreeFile(L"[]");
  Script(L"/ajaxm.php", L"{\"zt\":0,\"inf\":\"" + Repeat(L'i', 32) + L"\"}");  // 49 characters
  EXPECT_EQ(ResolveFree(), kLanzouAnswerFailed);
  ScriptLockedFile(L"[]");
  Script(L"/ajaxm.php", L"{\"zt\":0}");
  EXPECT_EQ(ResolveLocked(), kLanzouSecondPageFailed);
}

TEST_F(LanzouTest, UnreachablePageFailsFirst) {
  EXPECT_EQ(Std(ResolveLanzouFileLink(CWString(L"http://127.0.0.1:1/x"), CWString())), kLanzouPageFailed);
}

class LanzouFolderTest : public LanzouTest {
 protected:
  std::wstring Share(const std::wstring& id) const { return emulator.TlsOrigin() + L"/" + id; }
  std::wstring Dl(const std::wstring& id) const { return emulator.HttpOrigin() + L"/lanzou/dl/" + id; }

  int32_t List(const std::wstring& share, const std::wstring& password, int32_t resolveLinks) {
    return ListLanzouFolder(CWString(share), CWString(password), resolveLinks, filePasswords, names, pageUrls, links,
                            endpoints);
  }

  rg_WenBenShuZuLei filePasswords, names, pageUrls, links;
};

TEST_F(LanzouFolderTest, ListsAndResolvesEveryFile) {
  filePasswords.Add(L"", L"4fj8");
  EXPECT_EQ(List(Share(L"b0bm7dq2xa"), L"", 1), 2);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"Brinemarch-tools.zip", L"Brinemarch-patch.rar"}));
  EXPECT_EQ(Items(pageUrls), (std::vector<std::wstring>{Share(L"iBm7Qa1xYz"), Share(L"iBm7Qb2kLm")}));
  EXPECT_EQ(Items(links), (std::vector<std::wstring>{Dl(L"iBm7Qa1xYz"), Dl(L"iBm7Qb2kLm")}));

  const auto requests = Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[0].method + L" " + requests[0].target, L"GET /b0bm7dq2xa");
  EXPECT_EQ(requests[0].port, L"tls");
  EXPECT_EQ(requests[0].Header(L"User-Agent"), kQqAgent);
  EXPECT_EQ(requests[1].method + L" " + requests[1].target, L"POST /filemoreajax.php");
  EXPECT_EQ(requests[1].Header(L"User-Agent"), kQqAgent);
  EXPECT_EQ(requests[1].Header(L"Content-Type"), kFormType);
  EXPECT_EQ(requests[1].Header(L"Cookie"), L"");
  // The page's data block, its variables filled in, in the block's order.
  const std::wstring& body = requests[1].body;
  EXPECT_EQ(body.rfind(L"lx=2&fid=8841201&uid=1274639&pg=1&rep=0&t=", 0), 0u) << std::string(body.begin(), body.end());
  EXPECT_NE(body.find(L"&k="), std::wstring::npos);
  EXPECT_EQ(body.substr(body.size() - 15), L"&up=1&ls=1&pwd=");
}

// The pages name the files and where they are fetched from: a drive whose certificate is not
// trusted is not read at all.
TEST_F(LanzouFolderTest, AnUntrustedCertificateGivesNothing) {
  ASSERT_TRUE(emulator.Control(LR"({"tls_cert":"untrusted"})"));
  const int64_t refused = emulator.TlsRefused();
  filePasswords.Add(L"", L"4fj8");
  EXPECT_EQ(List(Share(L"b0bm7dq2xa"), L"", 1), 0);
  EXPECT_EQ(names.Count() + pageUrls.Count() + links.Count(), 0);
  EXPECT_EQ(Std(ResolveLanzouFileLink(CWString(Share(L"iBm7Qa1xYz")), CWString())), kLanzouPageFailed);
  EXPECT_TRUE(Requests().empty());
  // The folder page, the list request and the file page, each once.
  EXPECT_EQ(emulator.TlsRefusedAfter(refused, 3), refused + 3);
}

TEST_F(LanzouFolderTest, LockedFolderNeedsItsPassword) {
  EXPECT_EQ(List(Share(L"b0bm9pw5kc"), L"bm25", 0), 2);
  EXPECT_EQ(Items(names), (std::vector<std::wstring>{L"Brinemarch-bonus.zip", L"Brinemarch 资料.rar"}));
  EXPECT_EQ(List(Share(L"b0bm9pw5kc"), L"wrong", 0), 2);  // nothing added
  EXPECT_EQ(names.Count(), 2);
}

TEST_F(LanzouFolderTest, AddsToTheListsAndLeavesLinksAloneWithoutResolving) {
  names.Add(L"earlier");
  links.Add(L"untouched");
  EXPECT_EQ(List(Share(L"b0bm7dq2xa"), L"", 0), 3);
  EXPECT_EQ(Std(names.Get(0)), L"earlier");
  EXPECT_EQ(Items(links), (std::vector<std::wstring>{L"untouched"}));
  EXPECT_EQ(Requests().size(), 2u);
}

TEST_F(LanzouFolderTest, FailedFileIsTriedAgainOnTheAlternateDomain) {
  ASSERT_TRUE(emulator.Control(LR"({"lanzou":{"mode":"page_short","times":1}})"));
  filePasswords.Add(L"");
  EXPECT_EQ(List(Share(L"b0bm7dq2xa"), L"", 1), 2);
  EXPECT_EQ(Std(links.Get(0)), Dl(L"iBm7Qa1xYz"));
  int pageReads = 0;
  for (const auto& request : Requests()) pageReads += request.target == L"/iBm7Qa1xYz";
  EXPECT_EQ(pageReads, 2);
}

TEST_F(LanzouFolderTest, LockedFileIsResolvedFromItsAddressBeforeWeb) {
  Script(L"/wfolder", L"<html>a folder page without a data block</html>");
  Script(L"/filemoreajax.php", LR"({"zt":1,"text":[{"name_all":"w.bin","id":"locked?webpage=9"}]})");
  ScriptLockedFile(Location(location31));
  filePasswords.Add(L"pw9");
  EXPECT_EQ(List(Share(L"wfolder"), L"", 1), 1);
  EXPECT_EQ(Items(pageUrls), (std::vector<std::wstring>{Share(L"locked?webpage=9")}));
  EXPECT_EQ(Items(links), (std::vector<std::wstring>{location31}));
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[1].body, L"pwd=");
  EXPECT_EQ(requests[2].method + L" " + requests[2].target, L"GET /locked");
}

TEST_F(LanzouFolderTest, LockedFileWithoutWebPartKeepsItsAddress) {
  Script(L"/wfolder", L"<html>a folder page without a data block</html>");
  Script(L"/filemoreajax.php", LR"({"zt":1,"text":[{"name_all":"w.bin","id":"locked"}]})");
  ScriptLockedFile(Location(location31));
  filePasswords.Add(L"pw9");
  EXPECT_EQ(List(Share(L"wfolder"), L"", 1), 1);
  EXPECT_EQ(Items(links), (std::vector<std::wstring>{location31}));
}

TEST_F(LanzouFolderTest, ListAnswerThatIsNotJsonGivesNothing) {
  ASSERT_TRUE(emulator.Control(LR"({"lanzou":{"mode":"list_invalid_json"}})"));
  EXPECT_EQ(List(Share(L"b0bm7dq2xa"), L"", 1), 0);
  EXPECT_EQ(names.Count() + pageUrls.Count() + links.Count(), 0);
}

TEST_F(LanzouFolderTest, ExamplePagesBlockMakesTheListRequest) {
  Script(L"/example", kExamplePage);
  EXPECT_EQ(List(Share(L"example"), L"sesame", 1), 0);
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].target, L"/filemoreajax.php");
  EXPECT_EQ(requests[1].body, L"lx=2&fid=57&pg=1&t=x1&k=y2&pwd=sesame");
}

}  // namespace
