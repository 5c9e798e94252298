// The machine's public IPv4 address as an IP-echo page shows it, for the engine's external
// BitTorrent address. Blocks the calling thread for up to one request (5000 ms).
#pragma once

#include "runtime/text.h"

// The address read from the build's IP-echo page; "" when it cannot be found.
CWString LookUpPublicAddress();
// The same from the page at pageUrl.
CWString LookUpPublicAddress(const CWString& pageUrl);
// The value of the page's <span data-ip="..."> (markers matched with ASCII letter case
// ignored). "" when a marker is missing or the value is not an address: it goes onto the
// engine's command line, so nothing but an address may pass.
CWString PublicAddressFromPage(const CWString& page);
