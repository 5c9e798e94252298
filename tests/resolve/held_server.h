// A one-shot HTTP server on an ephemeral loopback port that holds its answer back until the
// test releases it, so a test can act while a request is known to be in flight.
// Owned by the test thread; the serving thread is joined by the destructor.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "runtime/socket_handle.h"
#include "runtime/win_handles.h"

class HeldServer {
 public:
  // body: the JSON text answered (200, application/json) to the first request.
  explicit HeldServer(std::string body);
  HeldServer(const HeldServer&) = delete;
  HeldServer& operator=(const HeldServer&) = delete;
  ~HeldServer();

  bool Listening() const { return port_ != 0; }
  // "http://127.0.0.1:PORT"
  std::wstring Origin() const;
  // Lets the answer go (any thread).
  void Release() { SetEvent(release_.Get()); }
  // The request's first line and headers, once it arrived.
  std::string RequestHead() const;

 private:
  void Serve(SOCKET listening);

  std::string body_;
  UniqueSocket listener_;
  int port_ = 0;
  UniqueHandle release_;
  std::atomic<bool> arrived_{false};
  std::string head_;  // written by the serving thread before arrived_ is set
  std::thread thread_;
};
