#include "net/http.h"

#include <gtest/gtest.h>

#include <string>

#include "memory_stream.h"
#include "runtime/convert.h"
#include "runtime/win_http_handle.h"
#include "test_server.h"

namespace {

const std::string kAcceptLanguage = "zh-CN,zh;q=0.9,en;q=0.8,en-GB;q=0.7,en-US;q=0.6,zh-TW;q=0.5";

class HttpExchange : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(TestServerPort(), 0) << "the loopback test server is not running"; }

  RequestOutcome Get(const std::wstring& path) {
    RequestArgs args;
    args.url = ServerUrl(path);
    return Send(http, args);
  }

  rg_WangLaoFangWenLei_n http;  // a session of its own per test: no cookies carried over
};

std::wstring Port() { return std::to_wstring(TestServerPort()); }

bool StartsWith(const CWString& text, const std::wstring& prefix) { return text.View().starts_with(prefix); }

// Whether this platform's WinHTTP inflates compressed bodies itself.
bool WinHttpInflates() {
  UniqueInternet session(WinHttpOpen(L"probe", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
  UniqueInternet connection(WinHttpConnect(session.Get(), L"127.0.0.1", 9, 0));
  UniqueInternet request(WinHttpOpenRequest(connection.Get(), L"GET", L"/", nullptr, nullptr, nullptr, 0));
  DWORD both = 3;
  return WinHttpSetOption(request.Get(), 118, &both, sizeof both) != FALSE;
}

TEST_F(HttpExchange, GetSendsTheDefaultHeadersAndFillsTheRecord) {
  RequestOutcome out = Get(L"/echo?x=1");
  const auto& r = out.response;
  EXPECT_TRUE(r.errorText.IsEmpty()) << ToStd(r.errorText);
  EXPECT_EQ(r.errorCode, 0);
  EXPECT_EQ(r.statusCode, 200);
  EXPECT_TRUE(StartsWith(r.rawHeaders, L"HTTP/1.1 200 OK\r\n")) << ToStd(r.rawHeaders);
  EXPECT_EQ(out.outHeaders, r.rawHeaders);
  EXPECT_TRUE(out.result.SameBytes(r.body));
  EXPECT_EQ(r.redirectCount, 0);
  EXPECT_EQ(r.redirectUrls.Count(), 0);

  EchoedRequest echoed = ParseEcho(out.result);
  EXPECT_EQ(echoed.requestLine, "GET /echo?x=1 HTTP/1.1");
  EXPECT_EQ(echoed.Value("Accept"), "*/*");
  EXPECT_EQ(echoed.Count("Accept"), 1);
  EXPECT_EQ(echoed.Value("Accept-Language"), kAcceptLanguage);
  EXPECT_LT(echoed.Position("Accept"), echoed.Position("Accept-Language"));
  EXPECT_EQ(echoed.Count("Accept-Encoding"), 0);
  EXPECT_EQ(echoed.Count("Content-Type"), 0);
  EXPECT_EQ(echoed.Count("Cookie"), 0);
  std::wstring agent(kDefaultUserAgent);
  EXPECT_EQ(echoed.Value("User-Agent"), std::string(agent.begin(), agent.end()));
  EXPECT_TRUE(echoed.body.empty());
}

TEST_F(HttpExchange, UrlWithoutSchemeIsSentOverHttp) {
  RequestArgs args;
  args.url = CWString(L"127.0.0.1:" + Port() + L"/echo");
  RequestOutcome out = Send(http, args);
  EXPECT_EQ(out.response.statusCode, 200) << ToStd(out.response.errorText);
  EXPECT_EQ(ParseEcho(out.result).requestLine, "GET /echo HTTP/1.1");
}

TEST_F(HttpExchange, HttpsInsideTheQueryCountsAsASchemeAndTheUrlDoesNotCrack) {
  RequestArgs args;
  args.url = CWString(L"127.0.0.1:" + Port() + L"/echo?next=https://a.example/");
  RequestOutcome out = Send(http, args);
  EXPECT_TRUE(StartsWith(out.response.errorText, L"拆分URL失败：")) << ToStd(out.response.errorText);
  EXPECT_EQ(out.response.statusCode, 0);
  EXPECT_TRUE(out.result.IsEmpty());
}

TEST_F(HttpExchange, MethodIndexesSelectTheVerbAndUnknownOnesMeanGet) {
  const std::pair<int32_t, const char*> cases[] = {{http_method::kPost, "POST"},
                                                   {http_method::kPut, "PUT"},
                                                   {http_method::kDelete, "DELETE"},
                                                   {http_method::kOptions, "OPTIONS"},
                                                   {http_method::kPatch, "PATCH"},
                                                   {9, "GET"},
                                                   {-1, "GET"}};
  for (const auto& [method, verb] : cases) {
    RequestArgs args;
    args.url = ServerUrl(L"/echo");
    args.method = method;
    RequestOutcome out = Send(http, args);
    EXPECT_EQ(ParseEcho(out.result).requestLine, std::string(verb) + " /echo HTTP/1.1") << method;
  }
}

TEST_F(HttpExchange, HeadReadsNoBodyEvenWithAnAnnouncedLength) {
  RequestArgs args;
  args.url = ServerUrl(L"/bytes?size=5000");
  args.method = http_method::kHead;
  RequestOutcome out = Send(http, args);
  EXPECT_EQ(out.response.statusCode, 200);
  EXPECT_TRUE(out.response.errorText.IsEmpty()) << ToStd(out.response.errorText);
  EXPECT_TRUE(out.result.IsEmpty());
  EXPECT_NE(out.response.rawHeaders.Find(L"Content-Length: 5000\r\n"), -1) << ToStd(out.response.rawHeaders);
}

TEST_F(HttpExchange, BodyContentTypeFollowsItsFirstByte) {
  struct Case {
    const wchar_t* text;
    const char* bytes;
    const char* contentType;
  };
  const Case cases[] = {
      {L"{\"jsonrpc\":\"2.0\"}", nullptr, "application/json; charset=utf-8"},
      {nullptr, "[1,2]", "application/json; charset=utf-8"},
      {L" {\"a\":1}", nullptr, "application/x-www-form-urlencoded; charset=utf-8"},
      {L"名字=值&b=2", nullptr, "application/x-www-form-urlencoded; charset=utf-8"},
  };
  for (const Case& c : cases) {
    RequestArgs args;
    args.url = ServerUrl(L"/echo");
    args.method = http_method::kPost;
    std::string expected;
    if (c.text) {
      args.textBody = c.text;
      expected = ToStd(TextToUtf8(args.textBody, false, false));
    } else {
      args.bytesBody = CKelMem(c.bytes, static_cast<int64_t>(strlen(c.bytes)));
      expected = c.bytes;
    }
    EchoedRequest echoed = ParseEcho(Send(http, args).result);
    EXPECT_EQ(echoed.body, expected);
    EXPECT_EQ(echoed.Value("Content-Type"), c.contentType) << expected;
    EXPECT_EQ(echoed.Value("Content-Length"), std::to_string(expected.size()));
  }
}

TEST_F(HttpExchange, TextBodyReplacesTheBytesBody) {
  RequestArgs args;
  args.url = ServerUrl(L"/echo");
  args.method = http_method::kPut;
  args.textBody = L"text=1";
  args.bytesBody = CKelMem("[bytes]", 7);
  EXPECT_EQ(ParseEcho(Send(http, args).result).body, "text=1");
}

TEST_F(HttpExchange, CookieArgumentGetsTheHeaderNameOnlyWhenMissing) {
  RequestArgs args;
  args.url = ServerUrl(L"/echo");
  args.cookie = L"a=1; b=2";
  EchoedRequest plain = ParseEcho(Send(http, args).result);
  EXPECT_EQ(plain.Value("Cookie"), "a=1; b=2");
  EXPECT_EQ(plain.Count("Cookie"), 1);

  args.cookie = L"cOOKIE: session=xyz";
  EchoedRequest named = ParseEcho(Send(http, args).result);
  EXPECT_EQ(named.Value("Cookie"), "session=xyz");
  EXPECT_EQ(named.Count("Cookie"), 1);
}

TEST_F(HttpExchange, ExtraHeadersComeLastAndReplaceDefaults) {
  RequestArgs args;
  args.url = ServerUrl(L"/echo");
  args.method = http_method::kPost;
  args.textBody = L"{}";
  args.extraHeaders = L"Accept: text/html\r\nX-Extra: 1\r\nContent-Type: text/plain";
  EchoedRequest echoed = ParseEcho(Send(http, args).result);
  EXPECT_EQ(echoed.Count("Accept"), 1);
  EXPECT_EQ(echoed.Value("Accept"), "text/html");
  EXPECT_EQ(echoed.Value("X-Extra"), "1");
  EXPECT_EQ(echoed.Count("Content-Type"), 1);
  EXPECT_EQ(echoed.Value("Content-Type"), "text/plain");
  EXPECT_NE(echoed.Position("Accept-Language"), -1);
}

TEST_F(HttpExchange, KnownLengthBodyLargerThanTheReadStepArrivesWhole) {
  const size_t size = 5 * 1048576 + 3;
  RequestOutcome out = Get(L"/bytes?size=" + std::to_wstring(size));
  EXPECT_TRUE(out.response.errorText.IsEmpty()) << ToStd(out.response.errorText);
  ASSERT_EQ(out.result.Size(), static_cast<int64_t>(size));
  EXPECT_TRUE(ToStd(out.result) == Pattern(size));
}

TEST_F(HttpExchange, ChunkedBodyOfUnknownLengthArrivesWhole) {
  const size_t size = 3 * 1048576 + 17;
  RequestOutcome out = Get(L"/chunked?size=" + std::to_wstring(size));
  EXPECT_TRUE(out.response.errorText.IsEmpty()) << ToStd(out.response.errorText);
  ASSERT_EQ(out.result.Size(), static_cast<int64_t>(size));
  EXPECT_TRUE(ToStd(out.result) == Pattern(size));
  EXPECT_EQ(out.response.rawHeaders.Find(L"Content-Length"), -1);
}

TEST_F(HttpExchange, BodyEndedByClosingTheConnectionArrivesWhole) {
  const size_t size = 1048576 + 5;
  RequestOutcome out = Get(L"/close?size=" + std::to_wstring(size));
  EXPECT_TRUE(out.response.errorText.IsEmpty()) << ToStd(out.response.errorText);
  EXPECT_TRUE(ToStd(out.result) == Pattern(size));
}

TEST_F(HttpExchange, BodyShorterThanItsLengthKeepsOnlyWhatArrivedAndSaysSo) {
  for (auto [announce, sent] : {std::pair<size_t, size_t>{100, 10}, {3000000, 1500000}}) {
    RequestOutcome out = Get(L"/short?announce=" + std::to_wstring(announce) + L"&send=" + std::to_wstring(sent));
    EXPECT_EQ(out.response.statusCode, 200);
    ASSERT_EQ(out.result.Size(), static_cast<int64_t>(sent));
    EXPECT_TRUE(ToStd(out.result) == Pattern(sent));
    EXPECT_TRUE(StartsWith(out.response.errorText, L"接收数据失败：")) << ToStd(out.response.errorText);
    EXPECT_NE(out.response.errorText.Find(CWString(std::to_wstring(sent))), -1) << ToStd(out.response.errorText);
    EXPECT_NE(out.response.errorText.Find(CWString(std::to_wstring(announce))), -1);
  }
}

TEST_F(HttpExchange, CompressedBodiesArriveInflatedAndCompressionIsAskedOnlyWhenInflated) {
  const bool inflates = WinHttpInflates();
  for (const wchar_t* route : {L"/gzip", L"/deflate"}) {
    RequestArgs args;
    args.url = ServerUrl(std::wstring(route) + L"?size=300000");
    args.acceptEncoding = L"";
    RequestOutcome out = Send(http, args);
    EXPECT_TRUE(out.response.errorText.IsEmpty()) << ToStd(out.response.errorText);
    ASSERT_EQ(out.result.Size(), 300000) << route;
    EXPECT_TRUE(ToStd(out.result) == Pattern(300000)) << route;
  }
  RequestArgs args;
  args.url = ServerUrl(L"/echo");
  args.acceptEncoding = L"";
  EchoedRequest byDefault = ParseEcho(Send(http, args).result);
  EXPECT_EQ(byDefault.Count("Accept-Encoding"), inflates ? 1 : 0);
  EXPECT_EQ(byDefault.Value("Accept-Encoding"), inflates ? "gzip, deflate" : "");
  args.acceptEncoding = L"Accept-Encoding: gzip";
  EchoedRequest own = ParseEcho(Send(http, args).result);
  EXPECT_EQ(own.Count("Accept-Encoding"), inflates ? 1 : 0);
  EXPECT_EQ(own.Value("Accept-Encoding"), inflates ? "gzip" : "");
}

TEST_F(HttpExchange, ServerTooSlowForTheTimeoutFailsTheResponse) {
  RequestArgs args;
  args.url = ServerUrl(L"/slow?delay=3000");
  args.timeoutMs = 500;
  RequestOutcome out = Send(http, args);
  EXPECT_TRUE(StartsWith(out.response.errorText, L"接收响应失败：")) << ToStd(out.response.errorText);
  // 12002 on Windows; Wine gives the socket's own 10060.
  EXPECT_NE(out.response.errorCode, 0);
  EXPECT_FALSE(IsCertificateError(out.response.errorCode));
  EXPECT_EQ(out.response.statusCode, 0);
  EXPECT_TRUE(out.result.IsEmpty());
}

// Windows reports a certificate it does not trust as 12175 (or by the flaw's own code); a
// secure channel that could not be set up (12157) may pass like any network error. Wine
// reports both as 12157, so only this table stands for Windows here.
TEST(CertificateErrorTest, OnlyACertificateWindowsDoesNotTrustIsOne) {
  const struct {
    DWORD code;
    bool certificate;
  } cases[] = {
      {ERROR_WINHTTP_SECURE_FAILURE, true},
      {ERROR_WINHTTP_SECURE_INVALID_CA, true},
      {ERROR_WINHTTP_SECURE_CERT_CN_INVALID, true},
      {ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, true},
      {ERROR_WINHTTP_SECURE_CERT_REVOKED, true},
      {ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE, true},
      {ERROR_WINHTTP_SECURE_CHANNEL_ERROR, false},
      {ERROR_WINHTTP_CANNOT_CONNECT, false},
      {ERROR_WINHTTP_CONNECTION_ERROR, false},
      {ERROR_WINHTTP_TIMEOUT, false},
      {0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsCertificateError(static_cast<int32_t>(c.code)), c.certificate) << c.code;
}

TEST_F(HttpExchange, ClosedPortIsAFailedConnection) {
  uint16_t port = ClosedPort();
  ASSERT_NE(port, 0);
  RequestArgs args;
  args.url = CWString(L"http://127.0.0.1:" + std::to_wstring(port) + L"/echo");
  RequestOutcome out = Send(http, args);
  EXPECT_TRUE(StartsWith(out.response.errorText, L"连接服务器失败：")) << ToStd(out.response.errorText);
  EXPECT_EQ(out.response.errorCode, static_cast<int32_t>(ERROR_WINHTTP_CANNOT_CONNECT));
  EXPECT_FALSE(IsCertificateError(out.response.errorCode));
  EXPECT_EQ(out.response.statusCode, 0);
  EXPECT_TRUE(out.result.IsEmpty());
}

TEST_F(HttpExchange, RedirectChainCollectsAbsoluteAddressesAndCookiesInOrder) {
  for (std::string loc : {"rel", "abs"}) {
    rg_WangLaoFangWenLei_n fresh;
    RequestArgs args;
    args.url = ServerUrl(L"/redirect?hops=2&loc=" + std::wstring(loc.begin(), loc.end()));
    args.maxRedirects = 5;
    RequestOutcome out = Send(fresh, args);
    const auto& r = out.response;
    EXPECT_TRUE(r.errorText.IsEmpty()) << ToStd(r.errorText);
    EXPECT_EQ(r.statusCode, 200);
    EXPECT_EQ(r.redirectCount, 2);
    ASSERT_EQ(r.redirectUrls.Count(), 2);
    EXPECT_EQ(r.redirectUrls.Get(0), ServerUrl(L"/redirect?hops=1&loc=" + std::wstring(loc.begin(), loc.end())));
    EXPECT_EQ(r.redirectUrls.Get(1), ServerUrl(L"/redirect?hops=0&loc=" + std::wstring(loc.begin(), loc.end())));
    EXPECT_EQ(r.cookies, L"hop2=v2\r\nhopb2=w2\r\nhop1=v1\r\nhopb1=w1\r\nfinal=yes\r\nlast=1\r\n") << ToStd(r.cookies);
    EXPECT_EQ(out.outCookies, r.cookies);
    EXPECT_EQ(ParseEcho(out.result).requestLine, "GET /redirect?hops=0&loc=" + loc + " HTTP/1.1");
  }
}

TEST_F(HttpExchange, RedirectNotFollowedIsAnsweredAsItself) {
  RequestArgs args;
  args.url = ServerUrl(L"/redirect?hops=1");
  args.maxRedirects = 0;
  RequestOutcome out = Send(http, args);
  const auto& r = out.response;
  EXPECT_TRUE(r.errorText.IsEmpty()) << ToStd(r.errorText);
  EXPECT_EQ(r.statusCode, 302);
  EXPECT_NE(r.rawHeaders.Find(L"\r\nLocation: /redirect?hops=0\r\n"), -1) << ToStd(r.rawHeaders);
  EXPECT_EQ(r.redirectCount, 0);
  EXPECT_EQ(r.cookies, L"hop1=v1\r\nhopb1=w1\r\n");
  EXPECT_EQ(ToStd(out.result), "moved\n");
}

TEST_F(HttpExchange, MoreRedirectsThanAllowedFailTheResponse) {
  RequestArgs args;
  args.url = ServerUrl(L"/redirect?hops=3");
  args.maxRedirects = 2;
  RequestOutcome out = Send(http, args);
  EXPECT_TRUE(StartsWith(out.response.errorText, L"接收响应失败：")) << ToStd(out.response.errorText);
  EXPECT_EQ(out.response.redirectCount, 2);
  EXPECT_EQ(out.response.statusCode, 0);
  EXPECT_TRUE(out.result.IsEmpty());
}

TEST_F(HttpExchange, RedirectVerbRules) {
  struct Case {
    int32_t method;
    int code;
    const char* verb;
    bool keepsBody;
  };
  const Case cases[] = {{http_method::kPost, 302, "GET", false}, {http_method::kPost, 301, "GET", false},
                        {http_method::kPost, 307, "POST", true}, {http_method::kPut, 308, "PUT", true},
                        {http_method::kPut, 303, "GET", false},  {http_method::kPut, 302, "PUT", true}};
  for (const Case& c : cases) {
    RequestArgs args;
    args.url = ServerUrl(L"/redirect?hops=1&code=" + std::to_wstring(c.code));
    args.method = c.method;
    args.maxRedirects = 3;
    args.textBody = L"{\"k\":1}";
    args.cookie = L"c=1";
    args.extraHeaders = L"X-Hop: kept";
    RequestOutcome out = Send(http, args);
    EXPECT_EQ(out.response.statusCode, 200) << c.code << ToStd(out.response.errorText);
    EchoedRequest echoed = ParseEcho(out.result);
    EXPECT_EQ(echoed.requestLine.substr(0, echoed.requestLine.find(' ')), c.verb) << c.code;
    EXPECT_EQ(echoed.body, c.keepsBody ? "{\"k\":1}" : "") << c.code;
    EXPECT_EQ(echoed.Count("Content-Type"), c.keepsBody ? 1 : 0) << c.code;
    EXPECT_NE(echoed.Value("Cookie").find("c=1"), std::string::npos) << c.code;
    EXPECT_EQ(echoed.Value("X-Hop"), "kept");
  }
}

TEST_F(HttpExchange, WinHttpCookieHandlingCanBeSwitchedOff) {
  RequestArgs args;
  args.url = ServerUrl(L"/redirect?hops=1");
  args.maxRedirects = 1;
  rg_WangLaoFangWenLei_n withJar;
  EXPECT_NE(ParseEcho(Send(withJar, args).result).Value("Cookie").find("hop1=v1"), std::string::npos);
  rg_WangLaoFangWenLei_n withoutJar;
  withoutJar.enableCookies = 0;
  RequestOutcome out = Send(withoutJar, args);
  EXPECT_EQ(ParseEcho(out.result).Count("Cookie"), 0);
  EXPECT_EQ(out.response.cookies, L"hop1=v1\r\nhopb1=w1\r\nfinal=yes\r\nlast=1\r\n");
}

TEST_F(HttpExchange, SetCookieFormsReduceToOneLineEach) {
  RequestOutcome out = Get(L"/cookies");
  EXPECT_EQ(out.response.cookies, L"sid=abc123\r\na=1; b=2\r\nkeep=y\r\nlang=zh-CN\r\n") << ToStd(out.response.cookies);
  EXPECT_EQ(out.outCookies, out.response.cookies);
}

TEST_F(HttpExchange, AgentSettingOfTheSession) {
  rg_WangLaoFangWenLei_n own;
  own.userAgent = L"BrinemarchTest/2";
  RequestArgs args;
  args.url = ServerUrl(L"/echo");
  EXPECT_EQ(ParseEcho(Send(own, args).result).Value("User-Agent"), "BrinemarchTest/2");
  rg_WangLaoFangWenLei_n none;
  none.userAgent.SetNullObject(true);
  EXPECT_EQ(ParseEcho(Send(none, args).result).Count("User-Agent"), 0);
}

// Through a session proxy the request line shows the address WinHTTP was given. (Wine
// ignores the per-request proxy option, so the session's is used here.)
TEST_F(HttpExchange, ProxyGetsTheAddressWithTheSchemesDefaultPort) {
  rg_WangLaoFangWenLei_n proxied;
  proxied.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  proxied.proxyServer = CWString(L"127.0.0.1:" + Port());
  RequestArgs args;
  args.url = L"http://proxied.example:443/echo?via=proxy";
  RequestOutcome out = Send(proxied, args);
  EXPECT_EQ(out.response.statusCode, 200) << ToStd(out.response.errorText);
  EchoedRequest echoed = ParseEcho(out.result);
  // The default port may be written out or left implicit.
  EXPECT_TRUE(echoed.requestLine == "GET http://proxied.example/echo?via=proxy HTTP/1.1" ||
              echoed.requestLine == "GET http://proxied.example:80/echo?via=proxy HTTP/1.1")
      << echoed.requestLine;
  EXPECT_TRUE(echoed.Value("Host") == "proxied.example" || echoed.Value("Host") == "proxied.example:80")
      << echoed.Value("Host");

  args.url = L"http://proxied.example:8080/echo";
  EXPECT_EQ(ParseEcho(Send(proxied, args).result).requestLine, "GET http://proxied.example:8080/echo HTTP/1.1");

  // An https address with port 80 asks the proxy for a tunnel to port 443.
  args.url = L"https://tunnel.example:80/";
  RequestOutcome tunnel = Send(proxied, args);
  EXPECT_FALSE(tunnel.response.errorText.IsEmpty());
  std::string connects = ToStd(Get(L"/connects").result);
  EXPECT_NE(connects.find("tunnel.example:443\r\n"), std::string::npos) << connects;
}

TEST_F(HttpExchange, TextVariantDecodesUtf8AndUsesItsOwnTimeout) {
  CWString cookies, headers;
  rg_WangYeFangWenXiangYingLei_n response;
  CWString text = http.SendRequestText(ServerUrl(L"/slow?delay=300"), http_method::kPost, CWString(L"名字=值"),
                                       CKelMem(), CWString(), CWString(), -1, cookies, headers, CWString(), CWString(),
                                       CWString(), 1, 0, NoAcceptEncoding(), response);
  EXPECT_TRUE(response.errorText.IsEmpty()) << ToStd(response.errorText);
  EXPECT_NE(text.Find(L"\r\n\r\n名字=值"), -1) << ToStd(text);
}

TEST_F(HttpExchange, SharedVariantNeverFollowsRedirects) {
  CWString cookies, headers;
  rg_WangYeFangWenXiangYingLei_n response;
  CKelMem body = rg_WangLaoFangWenLei_n::SendRequestShared(
      ServerUrl(L"/redirect?hops=1"), http_method::kGet, CWString(), CKelMem(), CWString(), CWString(), 5, cookies,
      headers, CWString(), CWString(), CWString(), 5000, 0, NoAcceptEncoding(), response);
  EXPECT_EQ(response.statusCode, 302);
  EXPECT_EQ(response.redirectCount, 0);
  EXPECT_EQ(ToStd(body), "moved\n");
  EXPECT_NE(SharedHttpObject().Session(), nullptr);
}

TEST(ResponseRecord, CopiesCompareEqualAndSerialisationRoundTrips) {
  rg_WangYeFangWenXiangYingLei_n record;
  record.body = CKelMem("abc", 3);
  record.cookies = L"a=1\r\n";
  record.rawHeaders = L"HTTP/1.1 200 OK\r\n\r\n";
  record.redirectUrls.Add(L"http://a.example/", L"http://b.example/");
  record.redirectCount = 2;
  record.statusCode = 200;
  record.errorText = L"接收数据失败：";
  record.errorCode = 12002;
  rg_WangYeFangWenXiangYingLei_n copy = record;
  EXPECT_TRUE(copy.Equals(record));
  MemoryStream stream;
  ASSERT_TRUE(record.WriteTo(stream));
  rg_WangYeFangWenXiangYingLei_n read;
  ASSERT_TRUE(read.ReadFrom(stream));
  EXPECT_TRUE(read.Equals(record));
  read.statusCode = 404;
  EXPECT_FALSE(read.Equals(record));
  read.statusCode = record.statusCode;
  read.errorCode = 0;
  EXPECT_FALSE(read.Equals(record));
}

TEST(HttpObject, CopyTakesTheSettingsButNotTheSession) {
  rg_WangLaoFangWenLei_n original;
  EXPECT_EQ(original.accessType, 1);
  EXPECT_EQ(original.proxyBypass, L"<local>");
  EXPECT_EQ(original.enableCookies, 1);
  EXPECT_EQ(original.escapeUrl, 0);
  original.userAgent = L"Agent/1";
  original.enableCookies = 0;
  CWString cookies, headers;
  rg_WangYeFangWenXiangYingLei_n response;
  // Any request opens the session, even one that cannot connect.
  original.SendRequest(CWString(L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/"), 0, CWString(), CKelMem(),
                       CWString(), CWString(), -1, cookies, headers, CWString(), CWString(), CWString(), 2000, 0,
                       NoAcceptEncoding(), response);
  ASSERT_NE(original.Session(), nullptr);
  rg_WangLaoFangWenLei_n copy(original);
  EXPECT_TRUE(copy.Equals(original));
  EXPECT_EQ(copy.Session(), nullptr);
  EXPECT_EQ(copy.userAgent, L"Agent/1");
  rg_WangLaoFangWenLei_n assigned;
  assigned = original;
  EXPECT_TRUE(assigned.Equals(original));
  EXPECT_EQ(assigned.Session(), nullptr);
}

TEST(ErrorDetail, SystemMessagesAreFormattedAndUnknownCodesGiveNothing) {
  CWString detail = FormatErrorDetail(ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(StartsWith(detail, L"错误(2): ")) << ToStd(detail);
  EXPECT_GT(detail.Length(), 7);
  EXPECT_NE(detail[detail.Length() - 1], L'\n');
  EXPECT_TRUE(FormatErrorDetail(0x2000ABCD).IsEmpty());
}

}  // namespace
