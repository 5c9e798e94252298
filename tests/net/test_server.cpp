#include "test_server.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

int ReadPortFile() {
  wchar_t path[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"BM_HTTP_TEST_PORT_FILE", path, MAX_PATH) == 0) return 0;
  FILE* file = _wfopen(path, L"rb");
  if (!file) return 0;
  int port = 0;
  if (fscanf(file, "%d", &port) != 1) port = 0;
  fclose(file);
  return port;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

class WinsockUser {
 public:
  WinsockUser() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  WinsockUser(const WinsockUser&) = delete;
  WinsockUser& operator=(const WinsockUser&) = delete;
  ~WinsockUser() {
    if (started_) WSACleanup();
  }

 private:
  bool started_;
};

class Socket {
 public:
  Socket() : s_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  SOCKET Get() const { return s_; }

 private:
  SOCKET s_;
};

}  // namespace

int TestServerPort() {
  static const int port = ReadPortFile();
  return port;
}

CWString ServerUrl(const std::wstring& pathAndQuery) {
  return CWString(L"http://127.0.0.1:" + std::to_wstring(TestServerPort()) + pathAndQuery);
}

uint16_t ClosedPort() {
  WinsockUser winsock;
  Socket s;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 0;
  int length = sizeof address;
  if (getsockname(s.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin_port);  // free again once the socket closes
}

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(((i * 31) + (i >> 8)) & 0xFF);
  return bytes;
}

std::string ToStd(const CKelMem& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.Size()));
}

std::wstring ToStd(const CWString& text) { return text.ToStdString(); }

int EchoedRequest::Count(const std::string& name) const {
  int n = 0;
  for (const auto& header : headers) n += Lower(header.first) == Lower(name);
  return n;
}

std::string EchoedRequest::Value(const std::string& name) const {
  int at = Position(name);
  return at < 0 ? std::string() : headers[at].second;
}

int EchoedRequest::Position(const std::string& name) const {
  for (size_t i = 0; i < headers.size(); ++i) {
    if (Lower(headers[i].first) == Lower(name)) return static_cast<int>(i);
  }
  return -1;
}

EchoedRequest ParseEcho(const CKelMem& body) {
  EchoedRequest echoed;
  std::string text = ToStd(body);
  size_t end = text.find("\r\n\r\n");
  if (end == std::string::npos) return echoed;
  echoed.body = text.substr(end + 4);
  std::string head = text.substr(0, end + 2);
  size_t pos = head.find("\r\n");
  echoed.requestLine = head.substr(0, pos);
  for (pos += 2; pos < head.size();) {
    size_t next = head.find("\r\n", pos);
    std::string line = head.substr(pos, next - pos);
    size_t colon = line.find(": ");
    echoed.headers.emplace_back(line.substr(0, colon), colon == std::string::npos ? "" : line.substr(colon + 2));
    pos = next + 2;
  }
  return echoed;
}

RequestOutcome Send(rg_WangLaoFangWenLei_n& http, const RequestArgs& a) {
  RequestOutcome out;
  out.result = http.SendRequest(a.url, a.method, a.textBody, a.bytesBody, a.extraHeaders, a.cookie, a.maxRedirects,
                                out.outCookies, out.outHeaders, a.proxy, a.proxyUser, a.proxyPassword, a.timeoutMs,
                                a.ignoreCertErrors, a.acceptEncoding, out.response);
  return out;
}
