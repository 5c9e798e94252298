// The proxy the engine is handed for a download address, from the player's named server and
// bypass list. (Automatic detection and configuration scripts are WinHTTP's; Wine plays
// neither, nor a player's settings.)
#include "net/player_proxy.h"

#include <gtest/gtest.h>

namespace {

TEST(PlayerProxy, TheNamedServerForTheAddressUnlessItsHostIsBypassed) {
  struct Case {
    const wchar_t* server;
    const wchar_t* bypass;
    const wchar_t* url;
    const wchar_t* proxy;
  };
  const Case cases[] = {
      {L"", L"", L"https://drive.example/a", L""},
      {L"proxy.corp:8080", L"", L"https://drive.example/a", L"proxy.corp:8080"},
      // By scheme: the address's own entry, else the one without a scheme.
      {L"http=web:80;https=secure:443", L"", L"https://drive.example/a", L"secure:443"},
      {L"HTTP=web:80 ftp=files:21", L"", L"http://drive.example/a", L"web:80"},
      {L"ftp=files:21;any:3128", L"", L"https://drive.example/a", L"any:3128"},
      {L"ftp=files:21", L"", L"https://drive.example/a", L""},
      // Bypassed hosts go direct: wildcards, any letter case, "<local>" for dotless names.
      {L"p:1", L"*.example;other.test", L"https://Drive.Example/a", L""},
      {L"p:1", L"other.test, *.example", L"https://drive.example:8443/a", L""},
      {L"p:1", L"<local>", L"http://intranet/a", L""},
      {L"p:1", L"<local>", L"http://drive.example/a", L"p:1"},
      {L"p:1", L"http://drive.example:443", L"https://drive.example/a", L""},
      {L"p:1", L"drive.example.cn;*.drive", L"https://drive.example/a", L"p:1"},
      {L"p:1", L"", L"not an address", L""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NamedProxyFor(CWString(c.server), CWString(c.bypass), CWString(c.url)).ToStdString(), c.proxy)
        << testing::PrintToString(std::wstring(c.server)) << " / " << testing::PrintToString(std::wstring(c.bypass))
        << " / " << testing::PrintToString(std::wstring(c.url));
  }
}

}  // namespace
