#include "held_server.h"

#include <ws2tcpip.h>

namespace {

// Long enough for any test; the client gives up after its own 15 s timeouts anyway.
constexpr DWORD kLongestHoldMs = 60000;

struct WinsockSession {
  WinsockSession() {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (ok) WSACleanup();
  }
  bool ok;
};

}  // namespace

HeldServer::HeldServer(std::string body)
    : body_(std::move(body)), release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  static WinsockSession winsock;
  if (!winsock.ok) return;
  listener_.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener_) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof(address);
  if (bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_.Get(), 4) != 0 ||
      getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
  SOCKET listening = listener_.Get();
  thread_ = std::thread([this, listening] { Serve(listening); });
}

HeldServer::~HeldServer() {
  Release();
  // Closing the listener ends a pending accept.
  if (thread_.joinable()) {
    shutdown(listener_.Get(), SD_BOTH);
    listener_.Reset();
    thread_.join();
  }
}

std::wstring HeldServer::Origin() const { return L"http://127.0.0.1:" + std::to_wstring(port_); }

std::string HeldServer::RequestHead() const { return arrived_.load() ? head_ : std::string(); }

void HeldServer::Serve(SOCKET listening) {
  UniqueSocket client(accept(listening, nullptr, nullptr));
  if (!client) return;
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    int n = recv(client.Get(), buffer, sizeof(buffer), 0);
    if (n <= 0) break;
    head.append(buffer, n);
  }
  head_ = head.substr(0, head.find("\r\n\r\n"));
  arrived_.store(true);
  WaitForSingleObject(release_.Get(), kLongestHoldMs);
  std::string answer =
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body_.size()) +
      "\r\nConnection: close\r\n\r\n" + body_;
  send(client.Get(), answer.data(), static_cast<int>(answer.size()), 0);
  shutdown(client.Get(), SD_SEND);
}
