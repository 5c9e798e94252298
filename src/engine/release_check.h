// The release check of a run, between the listing and anything touched in the save folder:
// the signed manifest and its signature are fetched from the share's root folder with the
// session the parts download with, the signature is checked against the build's key, and
// the listing is held against the manifest. Only files the publisher signed are downloaded,
// each with the hash the engine checks it against.
//
// Threads: CheckRelease blocks for its exchanges; the window's thread calls it through
// rg_n1434::KeepSignedFiles, whose waits dispatch messages.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "runtime/mem.h"
#include "runtime/text.h"

struct ListedFile {
  CWString path;      // below the share, "/" between names
  CWString url;       // the download address
  int64_t size = -1;  // as the drive listed it; -1 unknown
};

struct ReleaseCheck {
  enum class Fault {
    kNone,
    kMissing,     // the share holds no manifest or no signature
    kUnfetched,   // they are listed but could not be fetched
    kNotSigned,   // the signature is not the publisher's over these bytes
    kUnreadable,  // signed, but not a manifest this program reads
    kNotListed,   // a signed file is not in the share at its path (or not with its size)
  };
  Fault fault = Fault::kNone;
  CWString detail;  // kNotListed: the path; kUnreadable: the entry at fault; kUnfetched: why
  // For each file to download, in the listing's order: its index in the listing and the
  // SHA-256 the manifest gives it.
  std::vector<int64_t> rows;
  std::vector<CWString> sha256;
};

// One GET of address with the download session's header lines; true with the body when the
// drive answered 200. why: a short reason otherwise.
using ReleaseFetch = std::function<bool(const CWString& address, CKelMem& body, CWString& why)>;

// Fetches through fetch, retrying a failed exchange after each pause (spread between half the
// pause and the whole, as the listing's); checks and matches.
ReleaseCheck CheckRelease(const std::vector<ListedFile>& listed, CWTextRef publicKey, const ReleaseFetch& fetch,
                          const std::vector<int32_t>& retryPausesMs);

// The fetch the program uses: WinHTTP with the download session's header lines (the cookie
// line, and "referer: ..." when referer is not empty), each exchange within timeoutMs.
ReleaseFetch DriveFetch(const CWString& headerLine, const CWString& referer, int32_t timeoutMs);

// What the save folder's record knows a part by: the drive's token, and the manifest's SHA-256
// when the release is signed. A part recorded under another hash is another version: it is
// neither skipped nor continued, and starts from its first byte.
CWString RecordedPartId(const CWString& token, const CWString& sha256);
