#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/public_address.h"
#include "engine/rpc_requests.h"
#include "engine/safe_names.h"

namespace {

constexpr const wchar_t* kSecret = L"5f0c9e3a7b21d4868a9e0b1c2d3e4f50";

std::wstring Std(const CWString& text) { return text.ToStdString(); }

size_t Count(const std::wstring& text, const std::wstring& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

TEST(Requests, TellStatusForSixteenHexDigits) {
  const std::wstring id = L"2089b05ecca3d829";
  const std::wstring tab = L"\t";
  const std::wstring nl = L"\r\n";
  const std::wstring deep(24, L' ');
  const std::wstring expected =
      L"{" + nl + tab + L"\"jsonrpc\": \"2.0\"," + nl + tab + L"\"method\": \"aria2.tellStatus\"," + nl + tab +
      L"\"id\": 1," + nl + tab + L"\"params\": [" + nl + tab + tab + L"\"token:" + std::wstring(kSecret) + L"\"," + nl +
      tab + tab + L"\"" + id + L"\", [" + nl + tab + tab + tab + L"\"gid\"," + nl + tab + tab + tab + L"\"status\"," +
      nl + tab + tab + tab + L"\"errorCode\"," + nl + tab + tab + tab + L"\"totalLength\"," + nl + tab + tab + tab +
      L"\"completedLength\"," + nl + tab + tab + tab + L"\"connections\"," + nl + tab + tab + tab + L"\"numSeeders\"," +
      nl + tab + tab + tab + L"\"downloadSpeed\"," + nl + tab + tab + tab + L"\"uploadSpeed\"," + nl + deep +
      L"\"followedBy\"," + nl + deep + L"\"dir\"," + nl + deep + L"\"files\"," + nl + deep + L"\"bittorrent\"" + nl +
      tab + tab + L"]" + nl + tab + L"]" + nl + L"}";
  EXPECT_EQ(Std(MakeTellStatusRequest(kSecret, id.c_str())), expected);
}

TEST(Requests, OneLookAsksEveryTaskInOneMulticallAndItsAnswersSitByIndex) {
  rg_JSONLei_TX request;
  ASSERT_TRUE(request.Parse(MakeStatusLookRequest(kSecret, {CWString(L"aaaaaaaaaaaaaaaa"), CWString(L"b\"b")})));
  EXPECT_EQ(Std(request.GetText(L"/method")), L"system.multicall");
  for (const int i : {0, 1}) {
    const std::wstring call = L"/params/0/" + std::to_wstring(i);
    EXPECT_EQ(Std(request.GetText(CWString(call + L"/methodName"))), L"aria2.tellStatus");
    EXPECT_EQ(Std(request.GetText(CWString(call + L"/params/0"))), L"token:" + std::wstring(kSecret));
  }
  EXPECT_EQ(Std(request.GetText(L"/params/0/1/params/1")), L"b\"b");
  EXPECT_FALSE(request.HasPath(L"/params/0/2"));

  RpcReply reply(CWString(L"{\"id\":1,\"result\":[[{\"status\":\"active\"}],{\"code\":1,\"message\":\"x\"}]}"));
  EXPECT_EQ(Std(reply.Text(StatusLookPath(0) + L"/0/status")), L"active");
  EXPECT_FALSE(reply.Has(StatusLookPath(1) + L"/0/status"));
  EXPECT_TRUE(reply.Has(StatusLookPath(1) + L"/code"));
}

TEST(Requests, EveryLineEndIsCrLf) {
  const std::wstring text =
      Std(MakeAddUriRequest(kSecret, L"http://h/f", L"D:\\/G", L"a.rar", L"", L"cookie:a=b", L""));
  EXPECT_EQ(Count(text, L"\n"), Count(text, L"\r\n"));
  EXPECT_EQ(Count(text, L"\r\n"), 15u);
}

TEST(Requests, AddUriFillsEveryPlaceholderInPlace) {
  const std::wstring text = Std(MakeAddUriRequest(kSecret, L"https://drive.example/x?a=1&b=2", L"D:\\/Games\\/Fold",
                                                  L"a.rar", L"http://ref/", L"cookie:s=1; t=2", L"Agent/1"));
  EXPECT_NE(
      text.find(L"\"params\": [\"token:" + std::wstring(kSecret) + L"\", [\"https://drive.example/x?a=1&b=2\"], {\r\n"),
      std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"dir\": \"D:\\/Games\\/Fold\",\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"out\":\"a.rar\",\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"referer\": \"http://ref/\",\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"header\": \"cookie:s=1; t=2\",\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"user-agent\": \"Agent/1\",\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"split\": \"32\",\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"continue\": \"true\",\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"file-allocation\": \"prealloc\",\r\n"), std::wstring::npos);
  EXPECT_NE(text.find(L"\t\t\"max-tries\": \"0\"\r\n\t}],\r\n\t\"id\": 1\r\n}"), std::wstring::npos);
}

TEST(Requests, ValuesAreNotScannedForLaterPlaceholders) {
  // A name holding the words of later placeholders stays as it is.
  const std::wstring text =
      Std(MakeAddUriRequest(kSecret, L"http://h/f", L"D:", L"下载线程用户代理.txt", L"", L"H", L"U"));
  EXPECT_NE(text.find(L"\"out\":\"下载线程用户代理.txt\""), std::wstring::npos);
  EXPECT_NE(text.find(L"\"split\": \"32\""), std::wstring::npos);
}

TEST(Requests, AddUriWithAHashAsksTheEngineToCheckTheFile) {
  const std::wstring hash(64, L'a');
  const std::wstring text =
      Std(MakeAddUriRequest(kSecret, L"http://h/f", L"D:", L"a.rar", L"", L"H", L"", CWString(hash.c_str())));
  EXPECT_NE(text.find(L"\t\t\"file-allocation\": \"prealloc\",\r\n\t\t\"checksum\": \"sha-256=" + hash +
                      L"\",\r\n\t\t\"check-integrity\": \"true\",\r\n\t\t\"max-tries\": \"0\"\r\n"),
            std::wstring::npos);
  EXPECT_EQ(Std(MakeAddUriRequest(kSecret, L"http://h/f", L"D:", L"a.rar", L"", L"H", L"", L"")),
            Std(MakeAddUriRequest(kSecret, L"http://h/f", L"D:", L"a.rar", L"", L"H", L"")));
}

TEST(Requests, ValuesCannotBreakOutOfTheirString) {
  const std::wstring text = Std(MakeAddUriRequest(kSecret, L"http://h/\"x", L"D:", L"a\", \"dir\": \"C:\\\\Windows",
                                                  L"", L"line1\r\nline2", L""));
  EXPECT_NE(text.find(L"\"out\":\"a\\\", \\\"dir\\\": \\\"C:\\\\\\\\Windows\""), std::wstring::npos);
  EXPECT_NE(text.find(L"[\"http://h/\\\"x\"]"), std::wstring::npos);
  EXPECT_NE(text.find(L"\"header\": \"line1\\r\\nline2\""), std::wstring::npos);
}

TEST(Requests, MaxConcurrentAndFixedTexts) {
  const std::wstring token = L"\"token:" + std::wstring(kSecret) + L"\"";
  EXPECT_EQ(Std(MakeMaxConcurrentRequest(kSecret, L"99")),
            L"{\r\n    \"jsonrpc\":\"2.0\",\r\n    \"method\":\"aria2.changeGlobalOption\",\r\n    \"id\":1,\r\n"
            L"    \"params\":[\r\n        " +
                token +
                L",\r\n        {\r\n"
                L"            \"max-concurrent-downloads\":\"99\"\r\n        }\r\n    ]\r\n}");
  EXPECT_EQ(Std(MakeGetVersionRequest(kSecret)),
            L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.getVersion\",\"params\":[" + token + L"],\"id\":1}");
  EXPECT_EQ(Std(MakeShutdownRequest(kSecret)),
            L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.shutdown\",\"params\":[" + token + L"],\"id\":1}");
}

TEST(Requests, EachSecretIsNewAndThirtyTwoLowercaseHexDigits) {
  std::set<std::wstring> seen;
  for (int i = 0; i < 64; ++i) {
    const std::wstring secret = Std(NewRpcSecret());
    ASSERT_EQ(secret.size(), 32u) << secret;
    EXPECT_EQ(secret.find_first_not_of(L"0123456789abcdef"), std::wstring::npos) << secret;
    EXPECT_TRUE(seen.insert(secret).second) << "drawn twice: " << secret;
  }
}

TEST(Requests, InTheUrlAsBase64WithTheDigitsAQueryWouldMisreadEscaped) {
  const struct {
    const wchar_t* request;
    const wchar_t* params;
  } cases[] = {
      {L"{}", L"e30%3D"},                    // one byte short of a group
      {L"ab", L"YWI%3D"},                    // two
      {L"?>?", L"Pz4%2F"},                   // "/" would end a path segment
      {L">>>", L"Pj4%2B"},                   // "+" would read as a space
      {L"token:令牌", L"dG9rZW465Luk54mM"},  // the text's UTF-8
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Std(RpcGetUrl(L"http://h/jsonrpc?tm=1", c.request)),
              std::wstring(L"http://h/jsonrpc?tm=1&params=") + c.params)
        << c.request;
  }
  // Three "x" make four digits: the most groups that fit, then one group more.
  const int64_t prefix = 29;  // the base and "&params="
  const int64_t groups = (kRpcGetUrlLimit - prefix) / 4;
  const std::wstring most(static_cast<size_t>(groups * 3), L'x');
  EXPECT_EQ(RpcGetUrl(L"http://h/jsonrpc?tm=1", most).Length(), prefix + groups * 4);
  EXPECT_TRUE(RpcGetUrl(L"http://h/jsonrpc?tm=1", most + L"xxx").IsEmpty());
}

TEST(JsonFolder, BackslashesFollowedBySlashWithoutClosingSeparator) {
  EXPECT_EQ(Std(JsonFolder(L"D:\\Games\\Fold\\")), L"D:\\/Games\\/Fold");
  const std::wstring deep = Std(JsonFolder(L"C:\\a b\\中文\\c\\"));
  EXPECT_EQ(deep, L"C:\\/a b\\/中文\\/c");
  for (size_t i = 0; i < deep.size(); ++i) {
    if (deep[i] == L'\\') {
      EXPECT_EQ(deep[i + 1], L'/');
    }
  }
}

TEST(JsonFolder, DriveRootKeepsItsSeparator) { EXPECT_EQ(Std(JsonFolder(L"D:\\")), L"D:\\/"); }

TEST(ReadResult, StringResultAndPaths) {
  EXPECT_EQ(Std(ReadResult(CWString(L"{\"jsonrpc\":\"2.0\",\"id\":1,\"result\":\"2089b05ecca3d829\"}"), L"/result")),
            L"2089b05ecca3d829");
  const CWString status(
      L"{\"id\":1,\"result\":{\"status\":\"active\",\"totalLength\":\"100\",\"files\":[{\"path\":\"C:/d/a.rar\"}]}}");
  EXPECT_EQ(Std(ReadResult(status, L"/result/status")), L"active");
  EXPECT_EQ(Std(ReadResult(status, L"/result/files/0/path")), L"C:/d/a.rar");
  EXPECT_EQ(Std(ReadResult(status, L"/result/files/00/path")), L"");
  EXPECT_EQ(Std(ReadResult(status, L"/result")), L"");
  EXPECT_EQ(Std(ReadResult(status, L"/result/missing")), L"");
}

TEST(ReadResult, ErrorRepliesNumbersAndNonJsonReadEmpty) {
  const CWString error(L"{\"jsonrpc\":\"2.0\",\"id\":1,\"error\":{\"code\":1,\"message\":\"GID not found\"}}");
  EXPECT_EQ(Std(ReadResult(error, L"/result")), L"");
  EXPECT_EQ(Std(ReadResult(error, L"/error/message")), L"");
  EXPECT_EQ(Std(ReadResult(CWString(L"{\"result\":{\"version\":136}}"), L"/result/version")), L"");
  EXPECT_EQ(Std(ReadResult(CWString(L""), L"/result")), L"");
  EXPECT_EQ(Std(ReadResult(CWString(L"<html>502</html>"), L"/result")), L"");
}

TEST(RpcReply, TellsErrorRepliesFromMissingOnes) {
  RpcReply error(CWString(L"{\"id\":1,\"error\":{\"code\":1}}"));
  EXPECT_TRUE(error.Parsed());
  EXPECT_FALSE(error.HasResult());
  RpcReply none{CWString()};
  EXPECT_FALSE(none.Parsed());
}

TEST(SafeRelativeName, PlainNamesAndSubFoldersStay) {
  EXPECT_EQ(Std(SafeRelativeName(L"Brinemarch.part1.exe")), L"Brinemarch.part1.exe");
  EXPECT_EQ(Std(SafeRelativeName(L"资料\\补丁\\p.rar")), L"资料\\补丁\\p.rar");
  EXPECT_EQ(Std(SafeRelativeName(L"a/b.rar")), L"a\\b.rar");
  EXPECT_EQ(Std(SafeRelativeName(L"..rar")), L"..rar");
}

TEST(SafeRelativeName, NothingLeadsOutOfTheFolder) {
  EXPECT_EQ(Std(SafeRelativeName(L"..\\..\\Windows\\x.dll")), L"_\\_\\Windows\\x.dll");
  EXPECT_EQ(Std(SafeRelativeName(L"C:\\Windows\\x.dll")), L"C_\\Windows\\x.dll");
  EXPECT_EQ(Std(SafeRelativeName(L"\\\\server\\share\\x")), L"server\\share\\x");
  EXPECT_EQ(Std(SafeRelativeName(L"/etc/passwd")), L"etc\\passwd");
  EXPECT_EQ(Std(SafeRelativeName(L"a\\.\\b")), L"a\\b");
  EXPECT_EQ(Std(SafeRelativeName(L"a\\.. \\b")), L"a\\_\\b");
  EXPECT_EQ(Std(SafeRelativeName(L"a\\...\\b")), L"a\\_\\b");
  EXPECT_EQ(Std(SafeRelativeName(L"x.rar:stream")), L"x.rar_stream");
  EXPECT_EQ(Std(SafeRelativeName(L"a<b>|?*\"\t.rar")), L"a_b______.rar");
}

TEST(SafeRelativeName, ReservedDeviceNamesAndTrailingDots) {
  EXPECT_EQ(Std(SafeRelativeName(L"CON")), L"_CON");
  EXPECT_EQ(Std(SafeRelativeName(L"nul.txt")), L"_nul.txt");
  EXPECT_EQ(Std(SafeRelativeName(L"sub\\com1.rar")), L"sub\\_com1.rar");
  EXPECT_EQ(Std(SafeRelativeName(L"LPT9 .x")), L"_LPT9 .x");
  EXPECT_EQ(Std(SafeRelativeName(L"COM10")), L"COM10");
  EXPECT_EQ(Std(SafeRelativeName(L"console.log")), L"console.log");
  EXPECT_EQ(Std(SafeRelativeName(L"a.rar. . ")), L"a.rar");
  EXPECT_EQ(Std(SafeRelativeName(L"")), L"");
  EXPECT_EQ(Std(SafeRelativeName(L"\\.\\")), L"");
}

TEST(SavePaths, ClashWhenTwoFilesMeetOnOnePath) {
  struct Case {
    std::vector<const wchar_t*> names;
    bool clash;
  };
  const Case cases[] = {
      {{L"Brinemarch.part1.exe", L"Brinemarch.part2.rar", L"extra.zip"}, false},
      {{L"Brinemarch.part2.rar", L"brinemarch.PART2.rar"}, true},  // letters as the file system compares them
      {{L"a.rar", L"b.rar", L"a.rar"}, true},
      {{L"x.rar:", L"x.rar_"}, true},          // the same after the clean-up
      {{L"", L"test.rar"}, true},              // an empty name is saved as test.rar
      {{L"sub/a.rar", L"SUB\\b.rar"}, false},  // one folder, two files
      {{L"sub", L"sub\\a.rar"}, true},         // a file where a folder is needed
      {{L"Ä.rar", L"ä.rar"}, true},
      {{L"a-b.rar", L"a\\b.rar", L"a"}, true},  // the folder sorts apart from its file
      {{}, false},
  };
  for (const Case& c : cases) {
    rg_WenBenShuZuLei names;
    std::wstring shown;
    for (const wchar_t* name : c.names) {
      names.Add(name);
      shown += std::wstring(name) + L" | ";
    }
    EXPECT_EQ(SavePathsClash(names), c.clash) << shown;
  }
}

TEST(PublicAddress, ValueOfTheSpan) {
  EXPECT_EQ(Std(PublicAddressFromPage(CWString(L"<p>You: <span data-ip=\"203.0.113.7\">203.0.113.7</span></p>"))),
            L"203.0.113.7");
  EXPECT_EQ(Std(PublicAddressFromPage(CWString(L"<SPAN DATA-IP=\"198.51.100.2\">x</SPAN>"))), L"198.51.100.2");
  EXPECT_EQ(Std(PublicAddressFromPage(CWString(L"<span data-ip=\"2001:db8::1\">"))), L"2001:db8::1");
}

TEST(PublicAddress, MissingMarkersOrOtherValuesGiveNothing) {
  EXPECT_EQ(Std(PublicAddressFromPage(CWString(L"<html>no address here</html>"))), L"");
  EXPECT_EQ(Std(PublicAddressFromPage(CWString(L"<span data-ip=\"203.0.113.7"))), L"");
  // The value goes onto the engine's command line: nothing but an address passes.
  EXPECT_EQ(Std(PublicAddressFromPage(CWString(L"<span data-ip=\"1.2.3.4 --on-download-complete=C:\\x.exe\">"))), L"");
  EXPECT_EQ(Std(PublicAddressFromPage(CWString(L"<span data-ip=\"\">"))), L"");
}

}  // namespace
