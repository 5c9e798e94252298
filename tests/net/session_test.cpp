#include "net/lazy_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "net/http.h"
#include "test_server.h"

namespace {

// Releases every thread at once so that their first uses overlap.
class StartLine {
 public:
  explicit StartLine(int threads) : waiting_(threads) {}
  void Arrive() {
    waiting_.fetch_sub(1);
    while (waiting_.load() > 0) std::this_thread::yield();
  }

 private:
  std::atomic<int> waiting_;
};

UniqueInternet OpenTestSession() {
  return UniqueInternet(WinHttpOpen(L"test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0));
}

TEST(LazySession, FirstUseFromSeveralThreadsOpensExactlyOneSession) {
  constexpr int kThreads = 4;
  LazySession lazy;
  std::atomic<int> opens{0};
  StartLine start(kThreads);
  std::vector<HINTERNET> seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.Arrive();
      seen[i] = lazy.Get([&] {
        opens.fetch_add(1);
        Sleep(50);  // keeps the others arriving while the session is being opened
        return OpenTestSession();
      });
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(opens.load(), 1);
  ASSERT_NE(lazy.Peek(), nullptr);
  for (HINTERNET session : seen) EXPECT_EQ(session, lazy.Peek());
}

TEST(LazySession, FailedOpenIsNotKept) {
  LazySession lazy;
  EXPECT_EQ(lazy.Get([] { return UniqueInternet(); }), nullptr);
  EXPECT_EQ(lazy.Peek(), nullptr);
  HINTERNET session = lazy.Get(OpenTestSession);
  EXPECT_NE(session, nullptr);
  EXPECT_EQ(lazy.Get([]() -> UniqueInternet {
    ADD_FAILURE() << "opened twice";
    return {};
  }),
            session);
}

// Both threads of the program (window and engine worker) post through the shared object.
TEST(SharedHttpObject, ServesTwoThreadsAtOnce) {
  ASSERT_NE(TestServerPort(), 0) << "the loopback test server is not running";
  constexpr int kThreads = 2;
  constexpr int kRequests = 25;
  StartLine start(kThreads);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.Arrive();
      for (int i = 0; i < kRequests; ++i) {
        std::string body = "{\"thread\":" + std::to_string(t) + ",\"n\":" + std::to_string(i) + "}";
        CWString cookies, headers;
        rg_WangYeFangWenXiangYingLei_n response;
        CKelMem answer = rg_WangLaoFangWenLei_n::SendRequestShared(
            ServerUrl(L"/echo"), http_method::kPost, CWString(),
            CKelMem(body.data(), static_cast<int64_t>(body.size())), CWString(), CWString(), -1, cookies, headers,
            CWString(), CWString(), CWString(), 10000, 1, NoAcceptEncoding(), response);
        if (response.statusCode != 200 || ParseEcho(answer).body != body) mismatches.fetch_add(1);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_NE(SharedHttpObject().Session(), nullptr);
}

TEST(HttpObject, FirstRequestsFromTwoThreadsShareOneSession) {
  ASSERT_NE(TestServerPort(), 0) << "the loopback test server is not running";
  rg_WangLaoFangWenLei_n http;
  StartLine start(2);
  int statuses[2] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      start.Arrive();
      CWString cookies, headers;
      rg_WangYeFangWenXiangYingLei_n response;
      http.SendRequest(ServerUrl(L"/echo"), http_method::kGet, CWString(), CKelMem(), CWString(), CWString(), -1,
                       cookies, headers, CWString(), CWString(), CWString(), 10000, 1, NoAcceptEncoding(), response);
      statuses[t] = response.statusCode;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(statuses[0], 200);
  EXPECT_EQ(statuses[1], 200);
  EXPECT_NE(http.Session(), nullptr);
}

}  // namespace
