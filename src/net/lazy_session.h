// The WinHTTP session an HTTP object opens at its first request and keeps until it is
// destroyed. Any number of threads may ask for it at once: exactly one of them opens it and
// the others wait for that and share the result.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <mutex>
#include <utility>

#include "runtime/win_http_handle.h"

class LazySession {
 public:
  LazySession() = default;
  LazySession(const LazySession&) = delete;
  LazySession& operator=(const LazySession&) = delete;

  // The open session; when none is open yet, open() (returning a UniqueInternet) opens it.
  // A failed open (null) is not kept, so a later call tries again.
  template <class Open>
  HINTERNET Get(Open&& open) {
    HINTERNET session = handle_.load(std::memory_order_acquire);
    if (session) return session;
    std::lock_guard<std::mutex> lock(mutex_);
    session = handle_.load(std::memory_order_relaxed);
    if (!session) {
      UniqueInternet opened = std::forward<Open>(open)();
      session = opened.Get();
      if (session) {
        owner_ = std::move(opened);
        handle_.store(session, std::memory_order_release);
      }
    }
    return session;
  }

  // The session if one is open, else null; never opens one.
  HINTERNET Peek() const { return handle_.load(std::memory_order_acquire); }

 private:
  std::mutex mutex_;
  std::atomic<HINTERNET> handle_{nullptr};
  UniqueInternet owner_;  // written once, under mutex_
};
