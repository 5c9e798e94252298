// Where the cloud drives are reached: the Feishu listing and download hosts, the listing's
// session cookie line and the Lanzou domains. The program uses the constants of the build;
// tests hand a resolver or a lister other values to reach a local stand-in of the drives.
// A value object; any thread may read a shared one that nobody changes.
#pragma once

#include "runtime/text.h"

struct DriveEndpoints {
  CWString listOrigin;      // scheme, host and port of the listing host, no trailing "/"
  CWString downloadOrigin;  // scheme, host and port of the download-stream host
  CWString listCookie;      // the whole "Cookie: ..." line sent with every listing
  CWString lanzouDomain;    // the Lanzou drive's main domain (host name after the first label)
  CWString lanzouAltLabel;  // first label of the drive's second domain, tried when a link fails

  // The values compiled into the program.
  static const DriveEndpoints& Built();
};
