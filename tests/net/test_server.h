// The loopback HTTP server of tools/http_test_server (started by the ctest fixture) and
// helpers to send requests to it and read back what it echoed.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "net/http.h"

// The server's port from the fixture's port file, 0 when it is not running.
int TestServerPort();
// "http://127.0.0.1:<port>" followed by pathAndQuery.
CWString ServerUrl(const std::wstring& pathAndQuery);
// A loopback port nothing listens on.
uint16_t ClosedPort();

// The bytes the server's sized routes send.
std::string Pattern(size_t size);
std::string ToStd(const CKelMem& bytes);
std::wstring ToStd(const CWString& text);

// What the server's /echo route received.
struct EchoedRequest {
  std::string requestLine;
  std::vector<std::pair<std::string, std::string>> headers;  // in the order received
  std::string body;

  int Count(const std::string& name) const;          // case-insensitive
  std::string Value(const std::string& name) const;  // the first one, "" when missing
  int Position(const std::string& name) const;       // index of the first one, -1 when missing
};
EchoedRequest ParseEcho(const CKelMem& body);

// SendRequest's arguments with the values most tests use.
struct RequestArgs {
  CWString url;
  int32_t method = http_method::kGet;
  CWString textBody;
  CKelMem bytesBody;
  CWString extraHeaders;
  CWString cookie;
  int32_t maxRedirects = -1;
  CWString proxy;
  CWString proxyUser;
  CWString proxyPassword;
  int32_t timeoutMs = 20000;
  int32_t ignoreCertErrors = 1;
  CWString acceptEncoding = NoAcceptEncoding();
};

struct RequestOutcome {
  CKelMem result;
  CWString outCookies;
  CWString outHeaders;
  rg_WangYeFangWenXiangYingLei_n response;
};

RequestOutcome Send(rg_WangLaoFangWenLei_n& http, const RequestArgs& args);
