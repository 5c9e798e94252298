// The drive-answer readers: values as texts by path, counts, array views, read errors, and
// answers that are broken or hostile.
#include <gtest/gtest.h>

#include <locale.h>

#include <string>

#include "../runtime/test_print.h"
#include "json/json_reader.h"
#include "runtime/convert.h"

namespace {

const wchar_t kListing[] =
    L"{\"code\":0,\"data\":{\"node_list\":[\"n1\",\"n2\",\"n3\"],\"has_more\":false,"
    L"\"entities\":{\"nodes\":{\"n1\":{\"name\":\"布林马奇.part1.exe\",\"type\":12,\"size\":1073741824},"
    L"\"n2\":{\"name\":\"sub\",\"type\":0},\"n3\":{\"name\":\"q\\\"uote\",\"url\":null}}}},"
    L"\"text\":[{\"name_all\":\"a.zip\",\"id\":\"i0\"},{\"name_all\":\"b.zip\",\"id\":\"i1\"}],"
    L"\"dom\":\"https://dl.example\",\"a/b\":\"plain key\",\"~\":\"tilde key\",\"nothing\":null}";

rg_JSONDuiXiangLei_n Parsed(CWTextRef text) {
  rg_JSONDuiXiangLei_n json;
  EXPECT_TRUE(json.Parse(text)) << json.readErrorCode;
  return json;
}

std::string Narrow(const CWString& text) {
  const CKelMem bytes = TextToUtf8(text, false, false);
  return std::string(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.Size()));
}

TEST(JsonReader, EmptyTextFailsWithCodeOne) {
  rg_JSONDuiXiangLei_n json;
  EXPECT_FALSE(json.Parse(L""));
  EXPECT_EQ(json.readErrorCode, 1);
  EXPECT_EQ(json.readErrorMessage, L"input data is NULL");
  EXPECT_FALSE(json.Parse(CKelMem()));
  EXPECT_EQ(json.readErrorCode, 1);
  EXPECT_EQ(json.readErrorMessage, L"input data is NULL");
}

TEST(JsonReader, ReadErrorsComeFromYyjson) {
  rg_JSONDuiXiangLei_n json = Parsed(kListing);
  EXPECT_EQ(json.readErrorCode, 0);
  EXPECT_EQ(json.readErrorMessage, L"");
  EXPECT_FALSE(json.Parse(L"{\"data\":{\"node_list\":[\"n1\""));
  EXPECT_NE(json.readErrorCode, 0);
  EXPECT_EQ(json.readErrorMessage, L"unexpected end of data");
  EXPECT_EQ(json.GetText(L"/data"), L"");
  EXPECT_EQ(json.GetCount(L"/data/node_list"), 0);
  EXPECT_EQ(json.GetText(L"dom"), L"");
  ASSERT_TRUE(json.Parse(L"[]"));
  EXPECT_EQ(json.readErrorCode, 0);
  EXPECT_EQ(json.readErrorMessage, L"");
}

TEST(JsonReader, ValuesAsText) {
  rg_JSONDuiXiangLei_n json = Parsed(kListing);
  EXPECT_EQ(json.GetText(L"/code"), L"0");
  EXPECT_EQ(json.GetText(L"/data/has_more"), L"false");
  EXPECT_EQ(json.GetText(L"/nothing"), L"null");
  EXPECT_EQ(json.GetText(L"/data/entities/nodes/n1/name"), L"布林马奇.part1.exe");
  EXPECT_EQ(json.GetText(L"/data/entities/nodes/n1/size"), L"1073741824");
  EXPECT_EQ(json.GetText(L"/data/node_list"), L"[\"n1\",\"n2\",\"n3\"]");
  EXPECT_EQ(json.GetText(L"/data/entities/nodes/n3"), L"{\"name\":\"q\\\"uote\",\"url\":null}");
  EXPECT_EQ(json.GetText(L"/data/entities/nodes/n3/name"), L"q\"uote");
  EXPECT_EQ(json.GetText(L"/data/entities/nodes/n9/name"), L"");
  EXPECT_EQ(json.GetText(L"/text/1/id"), L"i1");
  EXPECT_EQ(json.GetText(L"/text/01/id"), L"");
  EXPECT_EQ(json.GetText(L"/text/2/id"), L"");
}

TEST(JsonReader, NumbersAsText) {
  rg_JSONDuiXiangLei_n json = Parsed(
      L"[1e-7,-1e-7,0.000001,0.0000011,765.25,1e20,-0.5,18446744073709551615,-9223372036854775808,"
      L"0.1,123456789012345678,3.0,-0,1.5e300]");
  const wchar_t* expected[] = {L"0",
                               L"0",
                               L"0",
                               L"1.1E-06",
                               L"765.25",
                               L"1E+20",
                               L"-0.5",
                               L"18446744073709551615",
                               L"-9223372036854775808",
                               L"0.1",
                               L"123456789012345678",
                               L"3",
                               L"0",
                               L"1.5E+300"};
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(json.GetText(L"/" + std::to_wstring(i)), expected[i]) << i;
  }
}

TEST(JsonReader, NumbersIgnoreTheThreadLocale) {
  rg_JSONDuiXiangLei_n json = Parsed(L"{\"r\":765.25,\"big\":1.5e300,\"a\":[0.25]}");
  const int previous = _configthreadlocale(_ENABLE_PER_THREAD_LOCALE);
  const char* german = setlocale(LC_ALL, "German_Germany.1252");
  if (!german) german = setlocale(LC_ALL, "de-DE");
  ASSERT_NE(german, nullptr) << "no decimal-comma locale to test with";
  ASSERT_STREQ(localeconv()->decimal_point, ",");
  EXPECT_EQ(json.GetText(L"/r"), L"765.25");
  EXPECT_EQ(json.GetText(L"/big"), L"1.5E+300");
  EXPECT_EQ(json.GetText(L"/a"), L"[0.25]");
  EXPECT_TRUE(json.Parse(L"[2.5]"));
  EXPECT_EQ(json.GetText(L"/0"), L"2.5");
  setlocale(LC_ALL, "C");
  _configthreadlocale(previous);
}

TEST(JsonReader, CountsMembersAndElements) {
  rg_JSONDuiXiangLei_n json = Parsed(kListing);
  EXPECT_EQ(json.GetCount(L"/data/entities/nodes"), 3);
  EXPECT_EQ(json.GetCount(L"/data/node_list"), 3);
  EXPECT_EQ(json.GetCount(L"/text"), 2);
  EXPECT_EQ(json.GetCount(L"text"), 2);
  EXPECT_EQ(json.GetCount(L"/dom"), 0);
  EXPECT_EQ(json.GetCount(L"/code"), 0);
  EXPECT_EQ(json.GetCount(L"/missing"), 0);
  EXPECT_EQ(json.GetCount(L""), 0) << "no member with the empty name";
  EXPECT_EQ(json.GetCount(L"/"), 0);
}

TEST(JsonReader, PathsWithoutSlashAreMemberNames) {
  rg_JSONDuiXiangLei_n json = Parsed(kListing);
  EXPECT_EQ(json.GetText(L"dom"), L"https://dl.example");
  EXPECT_EQ(json.GetText(L"a/b"), L"plain key") << "keys go in as they are";
  EXPECT_EQ(json.GetText(L"~"), L"tilde key");
  EXPECT_EQ(json.GetText(L"/a~1b"), L"plain key");
  EXPECT_EQ(json.GetText(L"/~0"), L"tilde key");
  EXPECT_EQ(json.GetText(L"/a/b"), L"");
  EXPECT_EQ(json.GetText(L"/~2"), L"");
  EXPECT_EQ(json.GetText(L"#/dom"), L"");
  rg_JSONDuiXiangLei_n array = Parsed(L"[\"x\"]");
  EXPECT_EQ(array.GetText(L"0"), L"") << "member names need an object";
  EXPECT_EQ(array.GetText(L"/0"), L"x");
}

TEST(JsonReader, StringsKeepEveryCharacterUpToAZero) {
  rg_JSONDuiXiangLei_n json = Parsed(L"{\"s\":\"한국어 \\ud83d\\ude00 Ωμέγα\",\"z\":\"ab\\u0000cd\",\"\\u0000k\":1}");
  EXPECT_EQ(json.GetText(L"/s"), L"한국어 \U0001F600 Ωμέγα");
  EXPECT_EQ(json.GetText(L"/z"), L"ab");
  EXPECT_EQ(json.GetCount(L""), 0);
}

TEST(JsonReader, ParsesBodyBytes) {
  const char body[] = "{\"dom\":\"https://\xE8\x93\x9D\",\"url\":\"?f=1\"}";  // with its zero byte
  rg_JSONDuiXiangLei_n json;
  ASSERT_TRUE(json.Parse(CKelMem(body, sizeof body)));
  EXPECT_EQ(json.GetText(L"dom"), L"https://蓝");
  ASSERT_TRUE(json.Parse(CKelMem(body, sizeof body - 1)));
  EXPECT_EQ(json.GetText(L"url"), L"?f=1");
  const char twoZeros[] = "{}\0";
  EXPECT_FALSE(json.Parse(CKelMem(twoZeros, sizeof twoZeros))) << "only one zero byte is dropped";
  const char latin1[] = "{\"a\":\"caf\xE9\"}";
  EXPECT_FALSE(json.Parse(CKelMem(latin1, sizeof latin1 - 1))) << "not UTF-8";
  EXPECT_NE(json.readErrorCode, 0);
  const char truncatedChar[] = "{\"a\":\"\xE8\x93\"}";
  EXPECT_FALSE(json.Parse(CKelMem(truncatedChar, sizeof truncatedChar - 1)));
}

TEST(JsonReader, HostileAnswersFail) {
  rg_JSONDuiXiangLei_n json;
  const wchar_t* broken[] = {
      L" ",        L"{",       L"{\"a\":1,}", L"[1 2]", L"{\"a\":1}}", L"/*c*/{}",   L"{\"a\":Infinity}",
      L"\"\x01\"", L"{\"a\"}", L"tru",        L"-",     L"1.",         L"[\"\\x\"]", L"[\"\\ud800\"]"};
  for (const wchar_t* text : broken) {
    ASSERT_TRUE(json.Parse(kListing));
    EXPECT_FALSE(json.Parse(text)) << Narrow(CWString(text));
    EXPECT_NE(json.readErrorCode, 0);
    EXPECT_FALSE(json.readErrorMessage.IsEmpty());
    EXPECT_EQ(json.GetText(L"/dom"), L"");
    EXPECT_EQ(json.GetCount(L"/text"), 0);
  }
  CWString withZero;
  withZero.SetChars(L"{}\0{}", 5);
  EXPECT_FALSE(json.Parse(withZero));
}

TEST(JsonReader, HugeNumbersDoNotBreakTheReader) {
  rg_JSONDuiXiangLei_n json;
  ASSERT_TRUE(json.Parse(L"[" + std::wstring(300, L'9') + L"]")) << json.readErrorCode;  // a real
  EXPECT_EQ(json.GetText(L"/0"), L"1E+300");
  ASSERT_TRUE(json.Parse(L"[0." + std::wstring(100000, L'0') + L"1]")) << json.readErrorCode;
  EXPECT_EQ(json.GetText(L"/0"), L"0");
  EXPECT_FALSE(json.Parse(L"[" + std::wstring(100000, L'9') + L"]")) << "beyond a double";
  EXPECT_FALSE(json.Parse(L"[1e999999]"));
}

TEST(JsonReader, DeepNestingIsReadWrittenAndCopied) {
  const int depth = 100000;
  std::wstring text(depth, L'[');
  text += std::wstring(depth, L']');
  rg_JSONDuiXiangLei_n json;
  ASSERT_TRUE(json.Parse(text)) << json.readErrorCode;
  EXPECT_EQ(json.GetText(L"/0/0/0").Length(), 2 * (depth - 3));
  rg_JSONDuiXiangLei_n copy(json);
  EXPECT_EQ(copy.GetText(L"/0/0/0").Length(), 2 * (depth - 3));
  EXPECT_EQ(copy.GetCount(L"/0/0"), 1);
  std::wstring objects;
  for (int i = 0; i < depth; ++i) objects += L"{\"a\":";
  EXPECT_FALSE(json.Parse(objects));
}

TEST(JsonReader, HasPathNamesAnyValue) {
  rg_JSONDuiXiangLei_n json = Parsed(kListing);
  EXPECT_TRUE(json.HasPath(L"/nothing"));
  EXPECT_TRUE(json.HasPath(L"/data/entities/nodes/n3/url"));
  EXPECT_TRUE(json.HasPath(L"/text/1"));
  EXPECT_TRUE(json.HasPath(L"dom"));
  EXPECT_FALSE(json.HasPath(L"/data/entities/nodes/n3/extra"));
  EXPECT_FALSE(json.HasPath(L"/text/2"));
  EXPECT_FALSE(json.Parse(L"{"));
  EXPECT_FALSE(json.HasPath(L"/data"));
}

TEST(JsonReader, IntegersAndTextsAreToldFromLookalikes) {
  const rg_JSONDuiXiangLei_n json = Parsed(
      LR"({"i":12,"neg":-3,"big":9223372036854775807,"over":9223372036854775808,"real":1e3,"frac":2.0,)"
      LR"("text":"12","null":null,"obj":{}})");
  const struct {
    const wchar_t* path;
    bool integer;
    int64_t value;
    bool text;
  } cases[] = {
      {L"/i", true, 12, false},       {L"/neg", true, -3, false},  {L"/big", true, INT64_MAX, false},
      {L"/over", false, 0, false},    {L"/real", false, 0, false}, {L"/frac", false, 0, false},
      {L"/text", false, 0, true},     {L"/null", false, 0, false}, {L"/obj", false, 0, false},
      {L"/missing", false, 0, false},
  };
  for (const auto& c : cases) {
    int64_t value = -99;
    EXPECT_EQ(json.GetInteger(c.path, value), c.integer) << "case " << (&c - cases);
    EXPECT_EQ(value, c.integer ? c.value : -99) << "case " << (&c - cases);
    EXPECT_EQ(json.IsText(c.path), c.text) << "case " << (&c - cases);
  }
}

TEST(JsonReader, DuplicateNamesGiveTheFirst) {
  std::wstring big = L"{\"k\":\"first\"";
  for (int i = 0; i < 100; ++i) big += L",\"m" + std::to_wstring(i) + L"\":" + std::to_wstring(i);
  big += L",\"k\":\"second\"}";
  const rg_JSONDuiXiangLei_n small = Parsed(L"{\"k\":\"first\",\"k\":\"second\"}");
  const rg_JSONDuiXiangLei_n large = Parsed(big);
  EXPECT_EQ(small.GetText(L"/k"), L"first");
  EXPECT_EQ(large.GetText(L"/k"), L"first");
  EXPECT_EQ(large.GetText(L"k"), L"first");
  EXPECT_EQ(large.GetText(L"/m99"), L"99");
}

TEST(JsonReader, ManyMembersAreFoundByExactName) {
  // Member names that sort close together, escapes, a zero unit and non-ASCII names.
  std::wstring text = L"{\"nodes\":{";
  const int count = 3000;
  for (int i = 0; i < count; ++i) {
    text += L"\"n" + std::to_wstring(i) + L"\":{\"name\":\"文件" + std::to_wstring(i) + L"\"},";
  }
  text += L"\"a/b\":1,\"m~n\":2,\"z\\u0000y\":3,\"名\":4,\"n\":5,\"\":6}}";
  const rg_JSONDuiXiangLei_n json = Parsed(text);
  EXPECT_EQ(json.GetCount(L"/nodes"), count + 6);
  for (int i = 0; i < count; i += 7) {
    ASSERT_EQ(json.GetText(L"/nodes/n" + std::to_wstring(i) + L"/name"), CWString(L"文件" + std::to_wstring(i))) << i;
  }
  EXPECT_EQ(json.GetText(L"/nodes/a~1b"), L"1");
  EXPECT_EQ(json.GetText(L"/nodes/m~0n"), L"2");
  EXPECT_EQ(json.GetText(L"/nodes/z"), L"");
  EXPECT_EQ(json.GetText(L"/nodes/名"), L"4");
  EXPECT_EQ(json.GetText(L"/nodes/n"), L"5");
  EXPECT_EQ(json.GetText(L"/nodes/"), L"6");
  EXPECT_EQ(json.GetText(L"/nodes/n3000"), L"");
  EXPECT_EQ(json.GetText(L"/nodes/n01"), L"");
  EXPECT_EQ(json.GetText(L"/nodes/m~2n"), L"");
}

TEST(JsonReader, ManyLargeObjects) {
  std::wstring text = L"[";
  for (int o = 0; o < 100; ++o) {
    text += o ? L",{" : L"{";
    for (int i = 0; i < 70; ++i)
      text += (i ? L",\"k" : L"\"k") + std::to_wstring(i) + L"\":" + std::to_wstring(o * 1000 + i);
    text += L"}";
  }
  text += L"]";
  const rg_JSONDuiXiangLei_n json = Parsed(text);
  for (int round = 0; round < 2; ++round) {
    for (int o = 0; o < 100; ++o) {
      ASSERT_EQ(json.GetText(L"/" + std::to_wstring(o) + L"/k69"), CWString(std::to_wstring(o * 1000 + 69))) << o;
    }
  }
}

TEST(JsonReader, ListingLoopOverManyNodes) {
  // The drive lister's walk: every id of a node list, then that node's members.
  const int count = 100000;
  std::wstring ids;
  std::wstring nodes;
  for (int i = 0; i < count; ++i) {
    const std::wstring id = L"tok" + std::to_wstring(i * 7919 % count);
    ids += (i ? L",\"" : L"\"") + id + L"\"";
    nodes += (i ? L",\"" : L"\"") + id + L"\":{\"name\":\"" + id + L".bin\",\"url\":\"u/" + id + L"\"}";
  }
  const rg_JSONDuiXiangLei_n json =
      Parsed(L"{\"data\":{\"node_list\":[" + ids + L"],\"entities\":{\"nodes\":{" + nodes + L"}}}}");
  EXPECT_EQ(json.GetCount(L"/data/node_list"), count);
  rg_JSONShuZuLei_n view;
  ASSERT_TRUE(json.GetArray(L"/data/node_list", view));
  EXPECT_EQ(view.GetText(L"/99999"), view.GetTextAt(99999));
  rg_JSONShuZuLei_n list;
  ASSERT_TRUE(list.Parse(json.GetText(L"/data/node_list")));
  ASSERT_EQ(list.Count(), count);
  int64_t found = 0;
  for (int64_t i = 0; i < list.Count(); ++i) {
    const CWString node = CWString::Concat(L"/data/entities/nodes/", list.GetTextAt(i));
    if (json.GetText(node + L"/name") == CWString::Concat(list.GetTextAt(i), L".bin")) ++found;
  }
  EXPECT_EQ(found, count);
}

TEST(JsonArray, ParsedArrayByIndex) {
  rg_JSONShuZuLei_n array;
  ASSERT_TRUE(array.Parse(L"[\"n1\",2,-3,4.5,true,null,{\"k\":[1]},[],\"名\"]"));
  ASSERT_EQ(array.Count(), 9);
  const wchar_t* expected[] = {L"n1", L"2", L"-3", L"4.5", L"true", L"null", L"{\"k\":[1]}", L"[]", L"名"};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(array.GetTextAt(i), expected[i]) << i;
  for (int i = 8; i >= 0; --i) EXPECT_EQ(array.GetTextAt(i), expected[i]) << i;
  EXPECT_EQ(array.GetTextAt(3), L"4.5");
  EXPECT_EQ(array.GetTextAt(7), L"[]");
  EXPECT_EQ(array.GetTextAt(2), L"-3");
  EXPECT_EQ(array.GetTextAt(9), L"");
  EXPECT_EQ(array.GetTextAt(-1), L"");
  EXPECT_EQ(array.GetText(L"/6/k/0"), L"1");
  EXPECT_EQ(array.GetCount(L"/6"), 1);
}

TEST(JsonArray, NoArrayMeansNoElements) {
  rg_JSONShuZuLei_n array;
  EXPECT_EQ(array.Count(), 0);
  EXPECT_EQ(array.GetTextAt(0), L"");
  ASSERT_TRUE(array.Parse(L"{\"a\":1}"));
  EXPECT_EQ(array.Count(), 0);
  EXPECT_EQ(array.GetTextAt(0), L"");
  ASSERT_TRUE(array.Parse(L"[1,2]"));
  EXPECT_EQ(array.GetTextAt(1), L"2");
  EXPECT_FALSE(array.Parse(L""));
  EXPECT_EQ(array.readErrorCode, 1);
  EXPECT_EQ(array.Count(), 0);
  EXPECT_EQ(array.GetTextAt(1), L"");
}

TEST(JsonArray, ReparseRestartsTheWalk) {
  rg_JSONShuZuLei_n array;
  ASSERT_TRUE(array.Parse(L"[\"a\",\"b\",\"c\"]"));
  EXPECT_EQ(array.GetTextAt(2), L"c");
  ASSERT_TRUE(array.Parse(L"[\"x\",\"y\",\"z\",\"w\"]"));
  EXPECT_EQ(array.GetTextAt(2), L"z");
  EXPECT_EQ(array.GetTextAt(3), L"w");
}

TEST(JsonArray, ViewOfAnObjectsArray) {
  rg_JSONDuiXiangLei_n json = Parsed(kListing);
  rg_JSONShuZuLei_n view;
  ASSERT_TRUE(json.GetArray(L"/data/node_list", view));
  EXPECT_EQ(view.Count(), 3);
  EXPECT_EQ(view.GetTextAt(1), L"n2");
  rg_JSONShuZuLei_n copy(view);
  EXPECT_EQ(copy.GetTextAt(2), L"n3");
  EXPECT_FALSE(json.GetArray(L"/data/entities", view)) << "an object is no array";
  EXPECT_EQ(view.Count(), 0);
  EXPECT_EQ(copy.Count(), 3);
  rg_JSONShuZuLei_n parsed;
  ASSERT_TRUE(parsed.Parse(L"[[1,2,3]]"));
  EXPECT_FALSE(parsed.GetArray(L"/0", parsed));
  ASSERT_TRUE(parsed.GetArray(L"/0", view));
  EXPECT_EQ(view.GetTextAt(2), L"3");
}

TEST(JsonReader, CopiesAreIndependent) {
  rg_JSONDuiXiangLei_n json = Parsed(kListing);
  rg_JSONDuiXiangLei_n copy(json);
  ASSERT_TRUE(json.Parse(L"{\"dom\":\"other\"}"));
  EXPECT_EQ(copy.GetText(L"dom"), L"https://dl.example");
  EXPECT_EQ(json.GetText(L"dom"), L"other");
  rg_JSONDuiXiangLei_n assigned;
  assigned = copy;
  copy = rg_JSONDuiXiangLei_n();
  EXPECT_EQ(copy.GetText(L"dom"), L"");
  EXPECT_EQ(assigned.GetCount(L"/data/entities/nodes"), 3);
  rg_JSONDuiXiangLei_n moved(std::move(assigned));
  EXPECT_EQ(moved.GetText(L"/text/0/id"), L"i0");
  EXPECT_EQ(assigned.GetText(L"/text/0/id"), L"");  // NOLINT: moved-from readers are empty
  rg_JSONDuiXiangLei_n target = Parsed(L"[1]");
  target = std::move(moved);
  EXPECT_EQ(target.GetText(L"/text/1/id"), L"i1");
  EXPECT_EQ(moved.GetCount(L"/text"), 0);  // NOLINT
  CKelObject* clone = target.Clone();
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(static_cast<rg_JSONDuiXiangLei_n*>(clone)->GetText(L"/code"), L"0");
  clone->Delete();
}

}  // namespace
