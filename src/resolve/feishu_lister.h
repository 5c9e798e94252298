// Lists a shared folder of the Feishu drive through its web interface: one GET per folder,
// sub-folders descended depth first in the drive's order. Stateless: every call builds its
// own HTTP object and lists, so any thread may call it (the resolver's workers do).
#pragma once

#include <cstdint>
#include <vector>

#include "resolve/drive_endpoints.h"
#include "runtime/arrays.h"
#include "runtime/text.h"

// A folder below this many levels under the share fails the listing.
inline constexpr int kFeishuMaxFolderDepth = 32;
// A folder answered in more pages than this (50 entries each) fails the listing.
inline constexpr int kFeishuMaxPagesPerFolder = 500;

// The session a listing used, for the downloads of its files: empty for the build's own,
// else a visitor's of the public share. A failed listing leaves only why it failed.
struct FeishuSession {
  CWString visitorCookies;  // "name=value; ..." as the drive set them
  CWString referer;         // the share's address, sent with every request of the session
  bool untrusted = false;   // the listing failed: a listing host's certificate was not trusted
};

// Fills names, pageUrls and (when makeDownloadUrls is not 0) downloadUrls with one entry per
// file and returns the number of names. A node is a folder or a file by its "type" (0 and
// 12); any other type (online documents, sheets, shortcuts) is neither and is skipped, and
// a node without a numeric type is a file when its "extra" has a "subtype". The folder token is the text after the last "/" of
// shareAddress. With keepFolderNames, a file found in a sub-folder is named with that folder's
// name (the innermost one only) and a backslash in front; prefix goes in front of every name
// found in this folder. A folder's further pages are asked for with its answer's last_label
// for as long as the answer says has_more. The listing is whole or it fails: a page that
// cannot be read after the endpoints' retries (no answer, not JSON, a "code" other than 0,
// no node_list), a paging that does not move on, a folder beyond the depth limit or the
// endpoints' listing deadline passing gives 0 and three empty lists; a page whose host's
// certificate is not trusted fails it at once, without retries. When the drive refuses
// the build's session for the share itself (a "code" other than 0, no node_list, HTTP 401 or
// 403, a redirect), the share's address is opened as a visitor (FetchFeishuVisitorCookies)
// and, with that session and the share as referer, the whole tree is listed again under the
// same rules; session (when given) tells which session the listing used, or after a failure
// whether an untrusted certificate caused it. A folder met a second time (a listing that
// leads back to itself or an ancestor), or a folder node that carries the token of a folder
// on the way down to it (the drive lists a folder's own node among its children), is
// skipped. sizes (when given) receives each file's "extra"/"size" in bytes (a decimal text or
// a JSON integer up to 2^53), -1 where it is anything else; failure (when given) why a
// listing failed, shortly, in Chinese ("" when it did not); paths (when given) each file's
// place below the share, its folders' names and its own joined by "/". The
// lists are replaced when the call ends.
int32_t ListFeishuFolder(const CWString& shareAddress, int32_t makeDownloadUrls, rg_WenBenShuZuLei& names,
                         rg_WenBenShuZuLei& pageUrls, rg_WenBenShuZuLei& downloadUrls, int32_t keepFolderNames,
                         const CWString& prefix, const DriveEndpoints& endpoints = DriveEndpoints::Built(),
                         FeishuSession* session = nullptr, std::vector<int64_t>* sizes = nullptr,
                         CWString* failure = nullptr, std::vector<CWString>* paths = nullptr);

// The download-stream address of a file: the stream endpoint followed by the text after the
// last "/" of its page address.
CWString MakeFeishuDownloadUrl(const CWString& pageUrl, const DriveEndpoints& endpoints = DriveEndpoints::Built());
