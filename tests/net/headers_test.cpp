#include "net/headers.h"

#include <gtest/gtest.h>

#include "runtime/win_http_handle.h"

namespace {

std::wstring Reduce(const wchar_t* value) { return ReduceSetCookie(CWString(value)).ToStdString(); }

TEST(ReduceSetCookie, KeepsOnlyTheNameValuePair) {
  EXPECT_EQ(Reduce(L"sid=abc123; Path=/; Domain=.example.com; Expires=Wed, 09 Jun 2100 10:18:14 GMT; HttpOnly; Secure"),
            L"sid=abc123");
}

TEST(ReduceSetCookie, KeepsSeveralPairsInOrder) {
  EXPECT_EQ(Reduce(L"a=1; b=2; Max-Age=60; SameSite=Lax; Priority=High"), L"a=1; b=2");
}

TEST(ReduceSetCookie, DropsCookiesNamedWithAnAttributeWordPrefix) {
  EXPECT_EQ(Reduce(L"Pathology=x; keep=y"), L"keep=y");
  EXPECT_EQ(Reduce(L"domainKey=1; EXPIRESAT=2"), L"");
}

TEST(ReduceSetCookie, StripsTheHeaderNameInAnyCase) {
  EXPECT_EQ(Reduce(L"set-COOKIE: token=t=1;  ;HttpOnly"), L"token=t=1");
  EXPECT_EQ(Reduce(L"Set-Cookie:x=1"), L"x=1");
}

TEST(ReduceSetCookie, EmptyAndFlagOnlyValuesReduceToNothing) {
  EXPECT_EQ(Reduce(L""), L"");
  EXPECT_EQ(Reduce(L"HttpOnly; Secure"), L"");
}

// A request handle that is never sent: its request headers can be read back.
class RequestHeaders : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.Reset(WinHttpOpen(L"test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
    ASSERT_TRUE(session_);
    connection_.Reset(WinHttpConnect(session_.Get(), L"127.0.0.1", 9, 0));
    ASSERT_TRUE(connection_);
    request_.Reset(WinHttpOpenRequest(connection_.Get(), L"GET", L"/", nullptr, nullptr, nullptr, 0));
    ASSERT_TRUE(request_);
  }

  std::wstring Raw() {
    CWString raw;
    EXPECT_TRUE(QueryHeaderText(Request(), WINHTTP_QUERY_RAW_HEADERS_CRLF | WINHTTP_QUERY_FLAG_REQUEST_HEADERS, raw));
    return raw.ToStdString();
  }

  HINTERNET Request() const { return request_.Get(); }

 private:
  UniqueInternet session_;
  UniqueInternet connection_;
  UniqueInternet request_;
};

TEST_F(RequestHeaders, ListIsAddedAsOneTextWithoutTheTrailingEmptyLine) {
  rg_WenBenShuZuLei lines;
  lines.Add(L"X-First: 1", L"X-Second: two words", L"");
  EXPECT_TRUE(AddHeaderList(Request(), lines));
  std::wstring raw = Raw();
  EXPECT_NE(raw.find(L"\r\nX-First: 1\r\nX-Second: two words\r\n"), std::wstring::npos) << raw;
}

TEST_F(RequestHeaders, LaterLineReplacesOneOfTheSameName) {
  AddHeaderText(Request(), CWString(L"Accept: */*"));
  AddHeaderText(Request(), CWString(L"X-Keep: 1\r\naccept: text/html"));
  std::wstring raw = Raw();
  EXPECT_EQ(raw.find(L"*/*"), std::wstring::npos) << raw;
  EXPECT_NE(raw.find(L"text/html"), std::wstring::npos) << raw;
  EXPECT_NE(raw.find(L"X-Keep: 1"), std::wstring::npos) << raw;
}

TEST_F(RequestHeaders, TextQueryWalksHeadersOfOneNameAndMarksTheEnd) {
  ASSERT_TRUE(WinHttpAddRequestHeaders(Request(), L"Cookie: a=1", static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD));
  ASSERT_TRUE(WinHttpAddRequestHeaders(Request(), L"Cookie: b=2", static_cast<DWORD>(-1), WINHTTP_ADDREQ_FLAG_ADD));
  const DWORD level = WINHTTP_QUERY_COOKIE | WINHTTP_QUERY_FLAG_REQUEST_HEADERS;
  int32_t index = 0;
  CWString value;
  ASSERT_TRUE(QueryHeaderText(Request(), level, value, &index));
  EXPECT_EQ(value, L"a=1");
  EXPECT_EQ(index, 1);
  ASSERT_TRUE(QueryHeaderText(Request(), level, value, &index));
  EXPECT_EQ(value, L"b=2");
  EXPECT_FALSE(QueryHeaderText(Request(), level, value, &index));
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_EQ(index, -1);
}

TEST_F(RequestHeaders, NumberQueryReadsTheValueAndGivesZeroWhenMissing) {
  AddHeaderText(Request(), CWString(L"Content-Length: 1234"));
  const DWORD flags = WINHTTP_QUERY_FLAG_REQUEST_HEADERS;
  EXPECT_EQ(QueryHeaderNumber(Request(), WINHTTP_QUERY_CONTENT_LENGTH | flags), 1234u);
  int32_t index = 0;
  EXPECT_EQ(QueryHeaderNumber(Request(), WINHTTP_QUERY_AGE | flags, &index), 0u);
  EXPECT_EQ(index, -1);
}

}  // namespace
