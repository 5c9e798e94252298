// Times loopback JSON POSTs through the shared HTTP object, the way the engine poller sends
// them, and prints the median and 99th percentile. "get" times body-less GETs instead, for
// comparison. usage: bench_http PORT [COUNT] [get]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/http.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_http PORT [COUNT] [get]\n");
    return 2;
  }
  const int port = atoi(argv[1]);
  const int count = argc > 2 ? atoi(argv[2]) : 2000;
  const CWString url(L"http://127.0.0.1:" + std::to_wstring(port) + L"/jsonrpc?tm=1");
  const int32_t method = argc > 3 && strcmp(argv[3], "get") == 0 ? http_method::kGet : http_method::kPost;
  const CWString request(
      L"{\"jsonrpc\":\"2.0\",\"method\":\"aria2.tellStatus\",\"id\":\"bench\",\"params\":[\"token:572\","
      L"\"2089b05ecca3d829\",[\"status\",\"totalLength\",\"completedLength\",\"downloadSpeed\"]]}");
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  std::vector<double> millis;
  millis.reserve(count);
  int failures = 0;
  for (int i = 0; i < count + 50; ++i) {  // the first 50 warm the session and connection up
    CWString cookies, headers;
    rg_WangYeFangWenXiangYingLei_n response;
    LARGE_INTEGER begin, end;
    QueryPerformanceCounter(&begin);
    rg_WangLaoFangWenLei_n::SendRequestShared(url, method, method == http_method::kPost ? request : CWString(),
                                              CKelMem(), CWString(), CWString(), -1, cookies, headers, CWString(),
                                              CWString(), CWString(), 5000, 1, NoAcceptEncoding(), response);
    QueryPerformanceCounter(&end);
    if (response.statusCode != 200) ++failures;
    if (i >= 50) millis.push_back(1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart);
  }
  std::sort(millis.begin(), millis.end());
  auto at = [&](double q) { return millis[std::min(millis.size() - 1, static_cast<size_t>(q * millis.size()))]; };
  printf("%s: requests %d, failures %d\n", method == http_method::kPost ? "JSON POST" : "GET", count, failures);
  printf("median %.3f ms, p99 %.3f ms, min %.3f ms, max %.3f ms\n", at(0.5), at(0.99), millis.front(), millis.back());
  return failures == 0 ? 0 : 1;
}
