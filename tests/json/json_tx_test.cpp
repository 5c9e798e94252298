// The engine-reply reader: member tests, string reads by path, and replies that are broken.
#include <gtest/gtest.h>

#include <string>

#include "../runtime/test_print.h"
#include "json/json_tx.h"

namespace {

const wchar_t kStatusReply[] =
    L"{\"id\":\"q1\",\"jsonrpc\":\"2.0\",\"result\":{\"status\":\"active\",\"completedLength\":\"1024\","
    L"\"files\":[{\"path\":\"C:/下载/布林马奇.part1.exe\",\"index\":\"1\"},{\"path\":\"b\"}],"
    L"\"numPieces\":12,\"a/b\":\"slash\",\"m~n\":\"tilde\",\"\":\"empty name\"}}";

rg_JSONLei_TX Parsed(const wchar_t* text) {
  rg_JSONLei_TX json;
  EXPECT_TRUE(json.Parse(text)) << text;
  return json;
}

TEST(JsonTx, HasPathFollowsTheReplyShape) {
  rg_JSONLei_TX ok = Parsed(kStatusReply);
  EXPECT_TRUE(ok.HasPath(L"/result"));
  EXPECT_TRUE(ok.HasPath(L"/result/status"));
  EXPECT_FALSE(ok.HasPath(L"/result/missing"));
  EXPECT_FALSE(ok.HasPath(L"/error"));

  rg_JSONLei_TX error = Parsed(L"{\"id\":\"q1\",\"error\":{\"code\":1,\"message\":\"Unauthorized\"}}");
  EXPECT_FALSE(error.HasPath(L"/result"));
  EXPECT_FALSE(error.HasPath(L"/result/status"));
  EXPECT_TRUE(error.HasPath(L"/error/message"));

  // status exists only below an object result
  rg_JSONLei_TX plain = Parsed(L"{\"result\":\"OK\"}");
  EXPECT_TRUE(plain.HasPath(L"/result"));
  EXPECT_FALSE(plain.HasPath(L"/result/status"));
  rg_JSONLei_TX list = Parsed(L"{\"result\":[{\"status\":\"x\"}]}");
  EXPECT_FALSE(list.HasPath(L"/result/0")) << "array elements are not members";
  EXPECT_TRUE(list.HasPath(L"/result/0/status"));
}

TEST(JsonTx, HasPathWithoutSlashNamesARootMember) {
  rg_JSONLei_TX json = Parsed(kStatusReply);
  EXPECT_TRUE(json.HasPath(L"result"));
  EXPECT_TRUE(json.HasPath(L"id"));
  EXPECT_FALSE(json.HasPath(L"status"));
  EXPECT_FALSE(json.HasPath(L"result/status")) << "not a pointer";
}

TEST(JsonTx, HasPathUnescapesTheMemberName) {
  rg_JSONLei_TX json = Parsed(kStatusReply);
  EXPECT_TRUE(json.HasPath(L"/result/a~1b"));
  EXPECT_TRUE(json.HasPath(L"/result/m~0n"));
  EXPECT_TRUE(json.HasPath(L"/result/"));  // the member named ""
  EXPECT_FALSE(json.HasPath(L"/result/a~2b"));
  EXPECT_TRUE(json.HasPath(L"#/result/a%2Fb"));
}

TEST(JsonTx, GetTextReadsOnlyStrings) {
  rg_JSONLei_TX json = Parsed(kStatusReply);
  EXPECT_EQ(json.GetText(L"/result/status"), L"active");
  EXPECT_EQ(json.GetText(L"/result/completedLength"), L"1024");
  EXPECT_EQ(json.GetText(L"/result/numPieces"), L"");
  EXPECT_EQ(json.GetText(L"/result"), L"");
  EXPECT_EQ(json.GetText(L"/result/files"), L"");
  EXPECT_EQ(json.GetText(L"/nothing/here"), L"");
}

TEST(JsonTx, ArrayIndexesHaveNoLeadingZero) {
  rg_JSONLei_TX json = Parsed(kStatusReply);
  EXPECT_EQ(json.GetText(L"/result/files/0/path"), L"C:/下载/布林马奇.part1.exe");
  EXPECT_EQ(json.GetText(L"/result/files/1/path"), L"b");
  EXPECT_EQ(json.GetText(L"/result/files/00/path"), L"");
  EXPECT_EQ(json.GetText(L"/result/files/01/path"), L"");
  EXPECT_EQ(json.GetText(L"/result/files/2/path"), L"");
  EXPECT_EQ(json.GetText(L"/result/files/-/path"), L"");
  EXPECT_EQ(json.GetText(L"/result/files/99999999999999999999/path"), L"");
}

TEST(JsonTx, EscapesAndFragmentForm) {
  rg_JSONLei_TX json = Parsed(kStatusReply);
  EXPECT_EQ(json.GetText(L"/result/a~1b"), L"slash");
  EXPECT_EQ(json.GetText(L"/result/a/b"), L"");
  EXPECT_EQ(json.GetText(L"/result/m~0n"), L"tilde");
  EXPECT_EQ(json.GetText(L"/result/m~n"), L"") << "a lone ~ makes the path invalid";
  EXPECT_EQ(json.GetText(L"/result/m~2n"), L"");
  EXPECT_EQ(json.GetText(L"/result/"), L"empty name");
  EXPECT_EQ(json.GetText(L"#/result/status"), L"active");
  EXPECT_EQ(json.GetText(L"#/result/%73tatus"), L"active");
  EXPECT_EQ(json.GetText(L"#/result/a%2Fb"), L"slash");
  EXPECT_EQ(json.GetText(L"#/result/a%2"), L"");
  EXPECT_EQ(json.GetText(L"#/result/a%zzb"), L"");
  EXPECT_EQ(json.GetText(L"#/result/st atus"), L"") << "a space must be escaped in a fragment";
  EXPECT_EQ(json.GetText(L"result/status"), L"");
}

TEST(JsonTx, EmptyPathNamesTheDocument) {
  rg_JSONLei_TX json = Parsed(L"\"whole\"");
  EXPECT_EQ(json.GetText(L""), L"whole");
  EXPECT_EQ(json.GetText(L"#"), L"whole");
}

TEST(JsonTx, KeepsEveryCharacter) {
  // Characters outside the Chinese code page would be lost by a narrow conversion.
  rg_JSONLei_TX json = Parsed(L"{\"名\":\"한국어 ελληνικά \\ud83d\\ude00 \\u00e9\",\"raw\":\"Ωμέγα😀\"}");
  EXPECT_EQ(json.GetText(L"/名"), L"한국어 ελληνικά \U0001F600 é");
  EXPECT_EQ(json.GetText(L"/raw"), L"Ωμέγα\U0001F600");
  EXPECT_TRUE(json.HasPath(L"/名"));
  EXPECT_TRUE(json.HasPath(L"#/%E5%90%8D"));
}

TEST(JsonTx, ZeroCharacterInsideAStringEndsTheText) {
  rg_JSONLei_TX json = Parsed(L"{\"a\":\"left\\u0000right\",\"\\u0000\":\"zero key\"}");
  EXPECT_EQ(json.GetText(L"/a"), L"left");
  EXPECT_TRUE(json.GetText(L"/a").Length() == 4);
}

TEST(JsonTx, BrokenRepliesFailAndLeaveNoDocument) {
  rg_JSONLei_TX json = Parsed(kStatusReply);
  const wchar_t* broken[] = {
      L"",
      L" ",
      L"{",
      L"{\"result\":",
      L"{\"result\":{\"status\":\"act",
      L"{\"a\":1} x",
      L"{\"a\":1,}",
      L"[1,2",
      L"nul",
      L"{'a':1}",
      L"{\"a\":01}",
      L"// c\n{}",
      L"\"\x01\"",
      L"{\"a\":NaN}",
  };
  for (const wchar_t* text : broken) {
    ASSERT_TRUE(json.Parse(kStatusReply));
    EXPECT_FALSE(json.Parse(text)) << "[" << std::string(text, text + wcslen(text)) << "]";
    EXPECT_FALSE(json.HasPath(L"/result"));
    EXPECT_EQ(json.GetText(L"/result/status"), L"");
  }
}

TEST(JsonTx, RawZeroUnitIsNotTheEndOfTheText) {
  rg_JSONLei_TX json;
  CWString text;
  text.SetChars(L"{\"a\":\"b\"}\0{garbage", 18);
  ASSERT_EQ(text.Length(), 18);
  EXPECT_FALSE(json.Parse(text));
  EXPECT_FALSE(json.HasPath(L"/a"));
}

TEST(JsonTx, LoneSurrogateBecomesReplacementCharacter) {
  rg_JSONLei_TX json;
  const wchar_t text[] = {L'[', L'"', 0xD800, L'x', L'"', L']', 0};
  ASSERT_TRUE(json.Parse(text));
  EXPECT_EQ(json.GetText(L"/0"), L"\xFFFDx");
}

TEST(JsonTx, DeepNestingDoesNotUseTheStack) {
  const int depth = 100000;
  std::wstring text(depth, L'[');
  text += L"\"deep\"";
  text += std::wstring(depth, L']');
  rg_JSONLei_TX json;
  ASSERT_TRUE(json.Parse(text));
  std::wstring path;
  for (int i = 0; i < depth; ++i) path += L"/0";
  EXPECT_EQ(json.GetText(path), L"deep");

  std::wstring objects;
  for (int i = 0; i < depth; ++i) objects += L"{\"a\":";
  EXPECT_FALSE(json.Parse(objects)) << "unterminated";
  EXPECT_FALSE(json.Parse(std::wstring(depth, L'[')));
}

TEST(JsonTx, LargeReply) {
  std::wstring big(16 * 1024 * 1024, L'x');
  std::wstring text = L"{\"result\":{\"big\":\"" + big + L"\",\"status\":\"complete\"}}";
  rg_JSONLei_TX json;
  ASSERT_TRUE(json.Parse(text));
  EXPECT_EQ(json.GetText(L"/result/status"), L"complete");
  EXPECT_EQ(json.GetText(L"/result/big").Length(), static_cast<int64_t>(big.size()));
}

TEST(JsonTx, CopyStartsWithoutDocument) {
  rg_JSONLei_TX json = Parsed(kStatusReply);
  json.objectTag = 7;
  rg_JSONLei_TX copy(json);
  EXPECT_EQ(copy.objectTag, 7u);
  EXPECT_FALSE(copy.HasPath(L"/result"));
  EXPECT_TRUE(json.HasPath(L"/result"));
  rg_JSONLei_TX assigned = Parsed(L"{\"result\":\"x\"}");
  assigned = json;
  EXPECT_FALSE(assigned.HasPath(L"/result"));
}

TEST(JsonTx, NotParsedReadsNothing) {
  rg_JSONLei_TX json;
  EXPECT_FALSE(json.HasPath(L"/result"));
  EXPECT_FALSE(json.HasPath(L"result"));
  EXPECT_EQ(json.GetText(L""), L"");
}

}  // namespace
