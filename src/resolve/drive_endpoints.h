// Where the cloud drives are reached: the Feishu listing and download hosts, the listing's
// session cookie line, the Lanzou domains and how patiently a listing is retried. The
// program uses the constants of the build; tests hand a resolver or a lister other values
// to reach a local stand-in of the drives. A value object; any thread may read a shared one
// that nobody changes.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/text.h"

class rg_WangLaoFangWenLei_n;

struct DriveEndpoints {
  CWString listOrigin;      // scheme, host and port of the listing host, no trailing "/"
  CWString downloadOrigin;  // scheme, host and port of the download-stream host
  CWString listCookie;      // the whole "Cookie: ..." line sent with every listing
  CWString lanzouDomain;    // the Lanzou drive's main domain (host name after the first label)
  CWString lanzouAltLabel;  // first label of the drive's second domain, tried when a link fails
  // Pause steps before the second and third try of a listing page the drive did not answer
  // properly (it throttles quick listings); each pause is drawn between half and the whole.
  std::array<int32_t, 2> listRetryPausesMs{1000, 3000};
  int32_t listDeadlineMs = 120000;  // a whole Feishu listing, retries and sub-folders included
  // How the drives are reached: "" through the player's proxy settings (WinHTTP's automatic
  // proxy), else through this named proxy ("host:port"; tests play a player's proxy so).
  CWString proxy;

  // Sends http's requests the way above.
  void RouteThroughProxy(rg_WangLaoFangWenLei_n& http) const;

  // The values compiled into the program.
  static const DriveEndpoints& Built();
};
