// The program's HTTP client over WinHTTP: one synchronous exchange per SendRequest call, the
// response record it fills, and the process-wide HTTP object the engine requests share.
//
// Threads: an HTTP object may serve several threads at once (its session is opened once,
// thread-safely, and its settings are only read by requests); change its settings only
// while no request runs. A response record belongs to the one request that fills it.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <cstdint>

#include "net/lazy_session.h"
#include "runtime/arrays.h"
#include "runtime/mem.h"
#include "runtime/object.h"
#include "runtime/text.h"

// Indexes of the method argument; any other value means GET.
namespace http_method {
enum : int32_t { kGet = 0, kPost, kHead, kPut, kDelete, kOptions, kTrace, kConnect, kPatch };
}

inline constexpr const wchar_t* kDefaultUserAgent =
    L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    L"Chrome/102.0.5005.124 Safari/537.36 Edg/102.0.1245.41";

// What one exchange produced. Pass a freshly constructed record: SendRequest adds to it
// and never clears it.
class rg_WangYeFangWenXiangYingLei_n : public rg_KuoZhanDuiXiangLei {
  KEL_DECLARE_CLASS(rg_WangYeFangWenXiangYingLei_n, rg_KuoZhanDuiXiangLei)

  rg_WangYeFangWenXiangYingLei_n() = default;

  bool Equals(const CKelObject& other) const override;
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  CKelMem body;
  CWString cookies;                // one reduced Set-Cookie per line (CR LF), redirect responses first
  CWString rawHeaders;             // the final response's headers, CR LF separated
  rg_WenBenShuZuLei redirectUrls;  // absolute addresses, in the order followed
  int32_t redirectCount = 0;
  int32_t statusCode = 0;  // of the final response; 0 when none was received
  CWString errorText;      // empty unless a step failed
  int32_t errorCode = 0;   // the failed step's GetLastError code; 0 when none failed or it had none
};

class rg_WangLaoFangWenLei_n : public CKelObject {
  KEL_DECLARE_CLASS(rg_WangLaoFangWenLei_n, CKelObject)

  rg_WangLaoFangWenLei_n() = default;
  // Copies the settings; the copy opens a session of its own.
  rg_WangLaoFangWenLei_n(const rg_WangLaoFangWenLei_n& other);
  rg_WangLaoFangWenLei_n& operator=(const rg_WangLaoFangWenLei_n& other);
  ~rg_WangLaoFangWenLei_n() override = default;

  bool Equals(const CKelObject& other) const override;  // the settings

  // One complete exchange; blocks the calling thread until it ends.
  //  url            a missing scheme becomes "http://"
  //  method         http_method index
  //  textBody       when not empty, sent as UTF-8 instead of bytesBody
  //  extraHeaders   CR LF separated lines added last (they replace lines of the same name)
  //  cookie         with or without a leading "Cookie:"
  //  maxRedirects   >= 1: follow up to that many redirects; <= 0: answer a 3xx as itself
  //  outCookies     receives response.cookies, outHeaders response.rawHeaders
  //  proxy          per-request proxy server, "" for none; proxyUser/proxyPassword for it
  //  timeoutMs      resolve, connect, send and receive timeout
  //  ignoreCertErrors  exactly 1: certificate errors are ignored
  //  acceptEncoding null object (NoAcceptEncoding()): no compression; "": the default
  //                 Accept-Encoding line; else this line. Sent only when WinHTTP inflates.
  // Result: the body (a copy of response.body); empty when the exchange failed before any
  // body was read. Failures leave a Chinese text in response.errorText.
  virtual CKelMem SendRequest(const CWString& url, int32_t method, const CWString& textBody, const CKelMem& bytesBody,
                              const CWString& extraHeaders, const CWString& cookie, int32_t maxRedirects,
                              CWString& outCookies, CWString& outHeaders, const CWString& proxy,
                              const CWString& proxyUser, const CWString& proxyPassword, int32_t timeoutMs,
                              int32_t ignoreCertErrors, const CWString& acceptEncoding,
                              rg_WangYeFangWenXiangYingLei_n& response);

  // SendRequest with a 15000 ms timeout, whatever is passed for it; the body decoded from UTF-8.
  CWString SendRequestText(const CWString& url, int32_t method, const CWString& textBody, const CKelMem& bytesBody,
                           const CWString& extraHeaders, const CWString& cookie, int32_t maxRedirects,
                           CWString& outCookies, CWString& outHeaders, const CWString& proxy, const CWString& proxyUser,
                           const CWString& proxyPassword, int32_t timeoutMs, int32_t ignoreCertErrors,
                           const CWString& acceptEncoding, rg_WangYeFangWenXiangYingLei_n& response);

  // SendRequest on the process-wide object, redirects not followed and certificate errors
  // ignored, whatever is passed for those two.
  static CKelMem SendRequestShared(const CWString& url, int32_t method, const CWString& textBody,
                                   const CKelMem& bytesBody, const CWString& extraHeaders, const CWString& cookie,
                                   int32_t maxRedirects, CWString& outCookies, CWString& outHeaders,
                                   const CWString& proxy, const CWString& proxyUser, const CWString& proxyPassword,
                                   int32_t timeoutMs, int32_t ignoreCertErrors, const CWString& acceptEncoding,
                                   rg_WangYeFangWenXiangYingLei_n& response);

  // The open session, null before the first request.
  HINTERNET Session() const { return session_.Peek(); }

  CWString userAgent;  // "": kDefaultUserAgent; a null object: no agent
  // WINHTTP_ACCESS_TYPE_NAMED_PROXY uses proxyServer; WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY the
  // user's proxy settings (before Windows 8.1: their named server, else WinHTTP's default).
  int32_t accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
  CWString proxyServer;
  CWString proxyBypass{L"<local>"};  // for the session's and every per-request proxy
  int32_t escapeUrl = 0;             // not 0: URLs are cracked with ICU_ESCAPE
  int32_t enableCookies = 1;         // 0: WinHTTP's own cookie handling is off

 private:
  LazySession session_;
};

// The process-wide HTTP object, with the default settings; made at its first use.
rg_WangLaoFangWenLei_n& SharedHttpObject();

// The absent acceptEncoding argument (a text carrying the null-object flag).
const CWString& NoAcceptEncoding();

// Whether code (a response record's errorCode) says the server's certificate was not
// trusted (unknown authority, another host's name, expired, revoked, wrong usage). A secure
// channel that could not be set up (12157: a reset, a filter in the way) is a network error
// like any other: it may pass.
bool IsCertificateError(int32_t code);

// "错误(code): message" with the platform's message for code, or "" when it has none.
CWString FormatErrorDetail(DWORD code);
