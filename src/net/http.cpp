#include "net/http.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "net/headers.h"
#include "net/player_proxy.h"
#include "net/url.h"
#include "runtime/convert.h"
#include "runtime/utils.h"
#include "runtime/win_http_handle.h"

namespace {

// Error prefixes; the detail of FormatErrorDetail follows them.
constexpr const wchar_t* kOpenSessionFailed = L"初始化失败：";
constexpr const wchar_t* kCrackFailed = L"拆分URL失败：";
constexpr const wchar_t* kConnectFailed = L"连接服务器失败：";
constexpr const wchar_t* kOpenRequestFailed = L"打开请求失败：";
constexpr const wchar_t* kSendFailed = L"发送请求失败：";
constexpr const wchar_t* kReceiveResponseFailed = L"接收响应失败：";
constexpr const wchar_t* kReceiveDataFailed = L"接收数据失败：";
constexpr const wchar_t* kReceiveLastDataFailed = L"接收数据失败： ";
constexpr const wchar_t* kAvailableFailed = L"取可用数据量失败：";

constexpr const wchar_t* kVerbs[] = {L"GET",     L"POST",  L"HEAD",    L"PUT",  L"DELETE",
                                     L"OPTIONS", L"TRACE", L"CONNECT", L"PATCH"};

constexpr int64_t kReadStep = 1048576;  // body reads and the unknown-length growth granule
constexpr DWORD kSessionResolveTimeout = 5000;
constexpr DWORD kSessionConnectTimeout = 2000;
constexpr DWORD kSessionSendTimeout = 30000;
constexpr DWORD kSessionReceiveTimeout = 30000;

// Option numbers missing from older SDK headers.
constexpr DWORD kOptionIpv6FastFallback = 140;
constexpr DWORD kOptionTcpFastOpen = 153;
constexpr DWORD kOptionDecompression = 118;
constexpr DWORD kDecompressGzipDeflate = 3;
constexpr DWORD kIgnoreCertificateErrors = 0x3300;
constexpr DWORD kErrorRedirectFailed = 12156;  // ERROR_WINHTTP_REDIRECT_FAILED

void SetNumberOption(HINTERNET handle, DWORD option, DWORD value) {
  WinHttpSetOption(handle, option, &value, sizeof value);
}

void SetTextOption(HINTERNET handle, DWORD option, const CWString& text) {
  WinHttpSetOption(handle, option, const_cast<wchar_t*>(text.GetText()), static_cast<DWORD>(text.Length()));
}

void Fail(rg_WangYeFangWenXiangYingLei_n& response, const wchar_t* prefix, DWORD error) {
  response.errorText = CWString::Concat(prefix, FormatErrorDetail(error));
  response.errorCode = static_cast<int32_t>(error);
}

const wchar_t* VerbOf(int32_t method) {
  return method >= 0 && method < static_cast<int32_t>(std::size(kVerbs)) ? kVerbs[method] : kVerbs[0];
}

CWString WithScheme(const CWString& url) {
  if (url.Find(L"http://", 0, true) >= 0 || url.Find(L"https://", 0, true) >= 0) return url;
  return CWString::Concat(L"http://", url);
}

bool IsRedirectStatus(uint32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsHttps(const CWString& url) { return url.StartsWithIgnoreCase(L"https:"); }

// Everything one request sends, the same on every redirect hop but for the verb and body,
// which a redirect may change (AdjustForRedirect).
struct RequestPlan {
  const wchar_t* verb;
  CKelMem body;
  const CWString& extraHeaders;
  const CWString& cookie;
  const CWString& proxy;
  const CWString& proxyUser;
  const CWString& proxyPassword;
  int32_t timeoutMs;
  int32_t ignoreCertErrors;
  const CWString& acceptEncoding;
};

// The connection and request handles of one hop, closed together.
struct Hop {
  UniqueInternet connection;
  UniqueInternet request;
  bool decompressing = false;
};

class Exchange {
 public:
  Exchange(const rg_WangLaoFangWenLei_n& http, HINTERNET session, RequestPlan& plan,
           rg_WangYeFangWenXiangYingLei_n& response)
      : http_(http), session_(session), plan_(plan), response_(response) {}

  // Opens the connection and request for url and puts every option and header on it.
  // False after writing errorText.
  bool Open(const CWString& url, Hop& hop) {
    hop.request.Reset();
    hop.connection.Reset();
    hop.decompressing = false;
    rg_WangLaoURLZuJianXinXiLei_n parts;
    if (!CrackUrl(url, parts, http_.escapeUrl != 0 ? ICU_ESCAPE : 0)) {
      Fail(response_, kCrackFailed, GetLastError());
      return false;
    }
    // An explicit 80 or 443 means the default port of the request's scheme. It is named here
    // rather than left to WinHTTP as 0, which Wine would put into a proxy tunnel request.
    bool secure = parts.schemeType == INTERNET_SCHEME_HTTPS;
    INTERNET_PORT port = static_cast<INTERNET_PORT>(parts.port);
    if (port == INTERNET_DEFAULT_HTTP_PORT || port == INTERNET_DEFAULT_HTTPS_PORT) {
      port = secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    }
    hop.connection.Reset(WinHttpConnect(session_, parts.host.GetText(), port, 0));
    if (!hop.connection) {
      Fail(response_, kConnectFailed, GetLastError());
      return false;
    }
    CWString path = CWString::Concat(parts.urlPath, parts.extraInfo);
    DWORD flags = secure ? WINHTTP_FLAG_SECURE : 0;
    hop.request.Reset(WinHttpOpenRequest(hop.connection.Get(), plan_.verb, path.GetText(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, flags));
    if (!hop.request) {
      Fail(response_, kOpenRequestFailed, GetLastError());
      hop.connection.Reset();
      return false;
    }
    Configure(hop);
    return true;
  }

  // Sends and receives the response head. False after writing errorText.
  bool Send(const Hop& hop) {
    auto size = static_cast<DWORD>(plan_.body.Size());
    void* data = size > 0 ? plan_.body.Data() : WINHTTP_NO_REQUEST_DATA;
    if (!WinHttpSendRequest(hop.request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, size, size, 0)) {
      DWORD error = GetLastError();
      // WinHTTP connects while sending: a server that cannot be reached is a failed connection.
      bool unreachable = error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED;
      Fail(response_, unreachable ? kConnectFailed : kSendFailed, error);
      return false;
    }
    if (!WinHttpReceiveResponse(hop.request.Get(), nullptr)) {
      Fail(response_, kReceiveResponseFailed, GetLastError());
      return false;
    }
    return true;
  }

  void ReadBody(const Hop& hop) {
    HINTERNET request = hop.request.Get();
    if (wcscmp(plan_.verb, L"HEAD") == 0) return;
    auto length = static_cast<int32_t>(QueryHeaderNumber(request, WINHTTP_QUERY_CONTENT_LENGTH));
    CWString encoding;
    // An inflated body is longer than the length the server announced for the compressed one.
    bool inflated =
        hop.decompressing && QueryHeaderText(request, WINHTTP_QUERY_CONTENT_ENCODING, encoding) && !encoding.IsEmpty();
    if (length > 0 && !inflated) {
      ReadKnownLength(request, length);
    } else {
      ReadUnknownLength(request);
    }
  }

 private:
  void Configure(Hop& hop) {
    HINTERNET request = hop.request.Get();
    auto timeout = static_cast<DWORD>(plan_.timeoutMs);
    // Some WinHTTPs wait for the response head under a timeout of its own (90 s by default):
    // the caller's timeout bounds that wait too.
    for (DWORD option : {WINHTTP_OPTION_RESOLVE_TIMEOUT, WINHTTP_OPTION_CONNECT_TIMEOUT, WINHTTP_OPTION_RECEIVE_TIMEOUT,
                         WINHTTP_OPTION_SEND_TIMEOUT, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT}) {
      SetNumberOption(request, option, timeout);
    }
    if (!plan_.proxy.IsEmpty()) {
      rg_WangLaoDaiLiXinXiLei_n proxy;
      proxy.proxyAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      proxy.proxyServer = plan_.proxy;
      proxy.proxyBypassList = http_.proxyBypass;
      WINHTTP_PROXY_INFO info = ToProxyInfo(proxy);
      WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
    }
    if (!plan_.proxyUser.IsEmpty()) {
      SetTextOption(request, WINHTTP_OPTION_PROXY_USERNAME, plan_.proxyUser);
      SetTextOption(request, WINHTTP_OPTION_PROXY_PASSWORD, plan_.proxyPassword);
    }

    rg_WenBenShuZuLei defaults;
    defaults.Add(kAcceptHeader, kAcceptLanguageHeader);
    AddHeaderList(request, defaults);
    if (!plan_.acceptEncoding.IsNullObject()) {
      DWORD decompression = kDecompressGzipDeflate;
      // Without WinHTTP inflating the body, asking for compression would hand back raw bytes.
      hop.decompressing =
          WinHttpSetOption(request, kOptionDecompression, &decompression, sizeof decompression) != FALSE;
      if (hop.decompressing) {
        AddHeaderText(request, plan_.acceptEncoding.IsEmpty() ? CWString(kAcceptEncodingHeader) : plan_.acceptEncoding);
      }
    }
    // Redirects are followed hop by hop by SendRequest, so WinHTTP never follows them itself.
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
    if (http_.enableCookies == 0) disabled |= WINHTTP_DISABLE_COOKIES;
    SetNumberOption(request, WINHTTP_OPTION_DISABLE_FEATURE, disabled);
    if (!plan_.cookie.IsEmpty()) {
      AddHeaderText(request, plan_.cookie.StartsWithIgnoreCase(L"Cookie:")
                                 ? plan_.cookie
                                 : CWString::Concat(L"Cookie: ", plan_.cookie));
    }
    if (plan_.body.Size() > 0) {
      unsigned char first = plan_.body.Data()[0];
      AddHeaderText(request, CWString(first == '{' || first == '[' ? kJsonContentType : kFormContentType));
    }
    if (!plan_.extraHeaders.IsEmpty()) AddHeaderText(request, plan_.extraHeaders);
    if (plan_.ignoreCertErrors == 1) SetNumberOption(request, WINHTTP_OPTION_SECURITY_FLAGS, kIgnoreCertificateErrors);
  }

  // Reads into the pre-sized body in steps of at most 1 MiB. Only the bytes received stay:
  // a body that ends early is cut to what arrived and reported.
  void ReadKnownLength(HINTERNET request, int32_t length) {
    CKelMem& body = response_.body;
    body.SetSize(length);
    const int64_t wholeSteps = length - length % kReadStep;
    int64_t received = 0;
    bool failed = false;
    while (received < length) {
      auto want = static_cast<DWORD>(std::min(kReadStep, length - received));
      DWORD got = 0;
      if (!WinHttpReadData(request, body.Data() + received, want, &got)) {
        Fail(response_, received < wholeSteps ? kReceiveDataFailed : kReceiveLastDataFailed, GetLastError());
        failed = true;
        break;
      }
      if (got == 0) break;
      received += got;
    }
    if (received == length) return;
    body.SetSize(received);
    if (!failed) {
      response_.errorText = kReceiveDataFailed;
      response_.errorText.Append(L"数据不完整，收到 ");
      response_.errorText.AppendInt64(received);
      response_.errorText.Append(L" 字节，应为 ");
      response_.errorText.AppendInt64(length);
      response_.errorText.Append(L" 字节");
    }
  }

  void ReadUnknownLength(HINTERNET request) {
    CKelMem& body = response_.body;
    body.SetGrowStep(kReadStep);
    for (;;) {
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) {
        Fail(response_, kAvailableFailed, GetLastError());
        return;
      }
      if (available < 1) return;
      int64_t old = body.Size();
      body.SetSize(old + available);
      DWORD got = 0;
      if (!WinHttpReadData(request, body.Data() + old, available, &got)) {
        DWORD error = GetLastError();
        body.SetSize(old);
        Fail(response_, kReceiveDataFailed, error);
        return;
      }
      body.SetSize(old + got);
      if (got == 0) return;
    }
  }

  const rg_WangLaoFangWenLei_n& http_;
  HINTERNET session_;
  RequestPlan& plan_;
  rg_WangYeFangWenXiangYingLei_n& response_;
};

UniqueInternet OpenSession(const rg_WangLaoFangWenLei_n& http, DWORD& error) {
  const wchar_t* agent = http.userAgent.IsNullObject() ? nullptr
                         : http.userAgent.IsEmpty()    ? kDefaultUserAgent
                                                       : http.userAgent.GetText();
  bool named = http.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  UniqueInternet session(WinHttpOpen(agent, static_cast<DWORD>(http.accessType),
                                     named ? http.proxyServer.GetText() : WINHTTP_NO_PROXY_NAME,
                                     named ? http.proxyBypass.GetText() : WINHTTP_NO_PROXY_BYPASS, 0));
  error = session ? 0 : GetLastError();
  if (!session && http.accessType == WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY && error == ERROR_INVALID_PARAMETER) {
    // Windows before 8.1 has no automatic proxy: the user's named server, or WinHTTP's own
    // default when the user names none.
    const ProxySettings user = ReadProxySettings();
    named = !user.server.IsEmpty();
    const CWString bypass = user.bypass.IsEmpty() ? http.proxyBypass : user.bypass;
    session.Reset(WinHttpOpen(agent, named ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                              named ? user.server.GetText() : WINHTTP_NO_PROXY_NAME,
                              named ? bypass.GetText() : WINHTTP_NO_PROXY_BYPASS, 0));
    error = session ? 0 : GetLastError();
  }
  if (!session) return session;
  // Speed-ups that not every WinHTTP knows; requests work without them.
  SetNumberOption(session.Get(), kOptionIpv6FastFallback, 1);
  SetNumberOption(session.Get(), kOptionTcpFastOpen, 1);
  WinHttpSetTimeouts(session.Get(), kSessionResolveTimeout, kSessionConnectTimeout, kSessionSendTimeout,
                     kSessionReceiveTimeout);
  return session;
}

// Where a redirect answer leads, or "" when it is answered as itself: no usable Location,
// or a step down from https to http (WinHTTP's default policy).
CWString RedirectTarget(HINTERNET request, const CWString& from) {
  CWString location;
  if (!QueryHeaderText(request, WINHTTP_QUERY_LOCATION, location)) return {};
  CWString to = ResolveRedirectUrl(from, location);
  if (IsHttps(from) && !to.IsEmpty() && !IsHttps(to)) return {};
  return to;
}

// The verb rules browsers and WinHTTP share: 303 turns every verb but HEAD into GET, 301
// and 302 turn POST into GET; a verb turned into GET loses its body.
void AdjustForRedirect(RequestPlan& plan, uint32_t status) {
  bool toGet = (status == 303 && wcscmp(plan.verb, L"HEAD") != 0) ||
               ((status == 301 || status == 302) && wcscmp(plan.verb, L"POST") == 0);
  if (!toGet) return;
  plan.verb = L"GET";
  plan.body.Clear();
}

}  // namespace

bool rg_WangYeFangWenXiangYingLei_n::Equals(const CKelObject& other) const {
  if (!CKelObject::Equals(other)) return false;
  const auto& o = static_cast<const rg_WangYeFangWenXiangYingLei_n&>(other);
  return body.Equals(o.body) && cookies.Equals(o.cookies) && rawHeaders.Equals(o.rawHeaders) &&
         redirectUrls.Equals(o.redirectUrls) && redirectCount == o.redirectCount && statusCode == o.statusCode &&
         errorText.Equals(o.errorText) && errorCode == o.errorCode;
}

bool rg_WangYeFangWenXiangYingLei_n::ReadFrom(CKelStream& stream) {
  return body.ReadFrom(stream) && cookies.ReadFrom(stream) && rawHeaders.ReadFrom(stream) &&
         redirectUrls.ReadFrom(stream) && stream.ReadInt32(redirectCount) && stream.ReadInt32(statusCode) &&
         errorText.ReadFrom(stream) && stream.ReadInt32(errorCode);
}

bool rg_WangYeFangWenXiangYingLei_n::WriteTo(CKelStream& stream) const {
  return body.WriteTo(stream) && cookies.WriteTo(stream) && rawHeaders.WriteTo(stream) &&
         redirectUrls.WriteTo(stream) && stream.WriteInt32(redirectCount) && stream.WriteInt32(statusCode) &&
         errorText.WriteTo(stream) && stream.WriteInt32(errorCode);
}

rg_WangLaoFangWenLei_n::rg_WangLaoFangWenLei_n(const rg_WangLaoFangWenLei_n& other)
    : CKelObject(other),
      userAgent(other.userAgent),
      accessType(other.accessType),
      proxyServer(other.proxyServer),
      proxyBypass(other.proxyBypass),
      escapeUrl(other.escapeUrl),
      enableCookies(other.enableCookies) {}

rg_WangLaoFangWenLei_n& rg_WangLaoFangWenLei_n::operator=(const rg_WangLaoFangWenLei_n& other) {
  CKelObject::operator=(other);
  userAgent = other.userAgent;
  accessType = other.accessType;
  proxyServer = other.proxyServer;
  proxyBypass = other.proxyBypass;
  escapeUrl = other.escapeUrl;
  enableCookies = other.enableCookies;
  return *this;
}

bool rg_WangLaoFangWenLei_n::Equals(const CKelObject& other) const {
  if (!CKelObject::Equals(other)) return false;
  const auto& o = static_cast<const rg_WangLaoFangWenLei_n&>(other);
  return userAgent.Equals(o.userAgent) && accessType == o.accessType && proxyServer.Equals(o.proxyServer) &&
         proxyBypass.Equals(o.proxyBypass) && escapeUrl == o.escapeUrl && enableCookies == o.enableCookies;
}

CKelMem rg_WangLaoFangWenLei_n::SendRequest(const CWString& url, int32_t method, const CWString& textBody,
                                            const CKelMem& bytesBody, const CWString& extraHeaders,
                                            const CWString& cookie, int32_t maxRedirects, CWString& outCookies,
                                            CWString& outHeaders, const CWString& proxy, const CWString& proxyUser,
                                            const CWString& proxyPassword, int32_t timeoutMs, int32_t ignoreCertErrors,
                                            const CWString& acceptEncoding, rg_WangYeFangWenXiangYingLei_n& response) {
  CWString target = WithScheme(url);
  DWORD openError = 0;
  HINTERNET session = session_.Get([&] { return OpenSession(*this, openError); });
  if (!session) {
    Fail(response, kOpenSessionFailed, openError);
    return {};
  }

  RequestPlan plan{VerbOf(method),
                   textBody.IsEmpty() ? bytesBody : TextToUtf8(textBody, false, false),
                   extraHeaders,
                   cookie,
                   proxy,
                   proxyUser,
                   proxyPassword,
                   timeoutMs,
                   ignoreCertErrors,
                   acceptEncoding};
  Exchange exchange(*this, session, plan, response);
  Hop hop;
  bool received = false;
  for (;;) {
    if (!exchange.Open(target, hop)) return {};
    if (!exchange.Send(hop)) break;
    uint32_t status = QueryHeaderNumber(hop.request.Get(), WINHTTP_QUERY_STATUS_CODE);
    CWString next =
        maxRedirects >= 1 && IsRedirectStatus(status) ? RedirectTarget(hop.request.Get(), target) : CWString();
    if (next.IsEmpty()) {
      received = true;
      break;
    }
    if (response.redirectCount >= maxRedirects) {
      Fail(response, kReceiveResponseFailed, kErrorRedirectFailed);
      break;
    }
    AppendSetCookies(hop.request.Get(), response.cookies);
    response.redirectCount++;
    response.redirectUrls.Add(next);
    AdjustForRedirect(plan, status);
    target = next;
  }

  if (received) {
    QueryHeaderText(hop.request.Get(), WINHTTP_QUERY_RAW_HEADERS_CRLF, response.rawHeaders);
    response.statusCode = static_cast<int32_t>(QueryHeaderNumber(hop.request.Get(), WINHTTP_QUERY_STATUS_CODE));
    exchange.ReadBody(hop);
    AppendSetCookies(hop.request.Get(), response.cookies);
  }
  outCookies = response.cookies;
  outHeaders = response.rawHeaders;
  return response.body;
}

CWString rg_WangLaoFangWenLei_n::SendRequestText(const CWString& url, int32_t method, const CWString& textBody,
                                                 const CKelMem& bytesBody, const CWString& extraHeaders,
                                                 const CWString& cookie, int32_t maxRedirects, CWString& outCookies,
                                                 CWString& outHeaders, const CWString& proxy, const CWString& proxyUser,
                                                 const CWString& proxyPassword, int32_t, int32_t ignoreCertErrors,
                                                 const CWString& acceptEncoding,
                                                 rg_WangYeFangWenXiangYingLei_n& response) {
  constexpr int32_t kTextTimeoutMs = 15000;
  CKelMem body =
      SendRequest(url, method, textBody, bytesBody, extraHeaders, cookie, maxRedirects, outCookies, outHeaders, proxy,
                  proxyUser, proxyPassword, kTextTimeoutMs, ignoreCertErrors, acceptEncoding, response);
  return Utf8ToText(body, false);
}

CKelMem rg_WangLaoFangWenLei_n::SendRequestShared(const CWString& url, int32_t method, const CWString& textBody,
                                                  const CKelMem& bytesBody, const CWString& extraHeaders,
                                                  const CWString& cookie, int32_t, CWString& outCookies,
                                                  CWString& outHeaders, const CWString& proxy,
                                                  const CWString& proxyUser, const CWString& proxyPassword,
                                                  int32_t timeoutMs, int32_t, const CWString& acceptEncoding,
                                                  rg_WangYeFangWenXiangYingLei_n& response) {
  return SharedHttpObject().SendRequest(url, method, textBody, bytesBody, extraHeaders, cookie, -1, outCookies,
                                        outHeaders, proxy, proxyUser, proxyPassword, timeoutMs, 1, acceptEncoding,
                                        response);
}

rg_WangLaoFangWenLei_n& SharedHttpObject() {
  static rg_WangLaoFangWenLei_n shared;
  return shared;
}

const CWString& NoAcceptEncoding() {
  static const CWString absent = [] {
    CWString text;
    text.SetNullObject(true);
    return text;
  }();
  return absent;
}

bool IsCertificateError(int32_t code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_WINHTTP_SECURE_FAILURE:  // what Windows reports for any of them
    // The certificate's own faults, as the secure-failure flags name them.
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
      return true;
    default:
      return false;
  }
}

CWString FormatErrorDetail(DWORD code) {
  CWString text = SystemMessageText(code);
  // WinHTTP's own codes live in its module's message table, where it has one.
  HMODULE winhttp = text.IsEmpty() ? GetModuleHandleW(L"winhttp.dll") : nullptr;
  if (winhttp) {
    wchar_t message[1024];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_HMODULE, winhttp, code,
                                        LANG_USER_DEFAULT, message, static_cast<DWORD>(std::size(message)), nullptr);
    text = CWString(message, length);
    text.TrimRight();
  }
  if (text.IsEmpty()) return {};
  CWString detail;
  detail.Format(L"错误(%u): %s", static_cast<unsigned>(code), text.GetText());
  return detail;
}
