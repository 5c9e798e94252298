// The proxy the player's computer reaches the Internet through, as the current user's
// settings name it (Internet Options: automatic detection, a configuration script, or a
// named server with its bypass list). The listing lets WinHTTP apply these settings itself;
// the download engine, which knows nothing of them, is handed the server they name for the
// drive's address. The functions keep no state; any thread may call them.
#pragma once

#include "runtime/text.h"

// The current user's proxy settings, as WinHttpGetIEProxyConfigForCurrentUser reads them.
struct ProxySettings {
  bool autoDetect = false;
  CWString autoConfigUrl;  // a configuration script's address
  CWString server;         // "host:port", or by scheme: "http=host:port;https=host:port"
  CWString bypass;         // host patterns ("*" wildcards) split by ";", "<local>" for dotless names
};

// The current user's settings; all empty (a direct connection) when they cannot be read.
ProxySettings ReadProxySettings();

// The proxy ("host:port") settings give for a request to url, "" for a direct connection.
// Automatic detection and a configuration script are asked through WinHTTP first; the named
// server is used when they cannot be asked (nothing detected, no script to be had).
CWString ProxyFor(const ProxySettings& settings, const CWString& url);

// The named part alone: the server list's entry for url's scheme (or its entry without a
// scheme), unless url's host matches the bypass list. "" for a direct connection.
CWString NamedProxyFor(const CWString& server, const CWString& bypass, const CWString& url);

// ProxyFor with the current user's settings.
CWString PlayerProxyFor(const CWString& url);
