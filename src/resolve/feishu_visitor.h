// A visitor's session of a public Feishu share: what a browser gets when it opens the share's
// address without being signed in. The lister falls back to it when the drive refuses the
// build's signed-in session. Stateless; any thread may call it (the resolver's workers do).
#pragma once

#include <cstdint>

#include "resolve/drive_endpoints.h"
#include "runtime/text.h"

// Redirects followed, at most, on the way to the share's page.
inline constexpr int kFeishuVisitorMaxRedirects = 8;

// Opens shareAddress as a browser would (GET, "Accept: text/html,*/*" and the listing's agent
// line), one redirect at a time: at most kFeishuVisitorMaxRedirects, only to the hosts of
// shareAddress and of the endpoints, a relative Location taken against the current address.
// Every cookie set on the way is kept (a later value replaces an earlier one of its name) and
// sent on the next hop. Result: the cookies as "name=value; name=value", "" when the way did
// not end at a page (an error, a loop, a foreign host) or set no cookie. No request starts
// after deadlineTick (a GetTickCount64 value).
CWString FetchFeishuVisitorCookies(const CWString& shareAddress, const DriveEndpoints& endpoints,
                                   uint64_t deadlineTick);
