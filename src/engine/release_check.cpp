#include "engine/release_check.h"

#include <windows.h>

#include "engine/release_manifest.h"
#include "net/http.h"
#include "runtime/pauses.h"

namespace {

// The download address may send a client on to the drive's storage, as the engine's streams
// follow it; the signature, not the host, vouches for the bytes.
constexpr int32_t kRedirectsFollowed = 8;
// Certificates are checked as Windows checks them (1 would ignore their errors).
constexpr int32_t kCheckCertificates = 0;

int64_t IndexOf(const std::vector<ListedFile>& listed, const CWString& path) {
  for (size_t i = 0; i < listed.size(); ++i) {
    if (listed[i].path == path) return static_cast<int64_t>(i);
  }
  return -1;
}

bool FetchWithRetries(const ReleaseFetch& fetch, const CWString& address, const std::vector<int32_t>& pausesMs,
                      CKelMem& body, CWString& why) {
  for (size_t attempt = 0;; ++attempt) {
    if (fetch(address, body, why)) return true;
    if (attempt >= pausesMs.size()) return false;
    // Spread like the listing's pauses: the players an outage stopped together do not all
    // come back in the same second.
    Sleep(JitteredPauseMs(static_cast<uint32_t>(pausesMs[attempt]), DrawJitter()));
  }
}

}  // namespace

ReleaseCheck CheckRelease(const std::vector<ListedFile>& listed, CWTextRef publicKey, const ReleaseFetch& fetch,
                          const std::vector<int32_t>& retryPausesMs) {
  ReleaseCheck check;
  const int64_t manifestAt = IndexOf(listed, CWString(kManifestName));
  const int64_t signatureAt = IndexOf(listed, CWString(kManifestSignatureName));
  if (manifestAt < 0 || signatureAt < 0) {
    check.fault = ReleaseCheck::Fault::kMissing;
    return check;
  }
  CKelMem manifestBytes, signature;
  if (!FetchWithRetries(fetch, listed[manifestAt].url, retryPausesMs, manifestBytes, check.detail) ||
      !FetchWithRetries(fetch, listed[signatureAt].url, retryPausesMs, signature, check.detail)) {
    check.fault = ReleaseCheck::Fault::kUnfetched;
    return check;
  }
  check.detail.Clear();
  if (!SignedByPublisher(manifestBytes, signature, publicKey)) {
    check.fault = ReleaseCheck::Fault::kNotSigned;
    return check;
  }
  ReleaseManifest manifest;
  if (ReadReleaseManifest(manifestBytes, manifest, &check.detail) != ManifestFault::kNone) {
    check.fault = ReleaseCheck::Fault::kUnreadable;
    return check;
  }
  std::vector<CWString> hashOfRow(listed.size());
  for (const ManifestFile& file : manifest.files) {
    const int64_t at = IndexOf(listed, file.path);
    if (at < 0 || (listed[at].size >= 0 && listed[at].size != file.size)) {
      check.fault = ReleaseCheck::Fault::kNotListed;
      check.detail = file.path;
      return check;
    }
    hashOfRow[at] = file.sha256;
  }
  for (size_t i = 0; i < listed.size(); ++i) {
    if (hashOfRow[i].IsEmpty()) continue;
    check.rows.push_back(static_cast<int64_t>(i));
    check.sha256.push_back(hashOfRow[i]);
  }
  return check;
}

ReleaseFetch DriveFetch(const CWString& headerLine, const CWString& referer, int32_t timeoutMs) {
  CWString headers = headerLine;
  if (!referer.IsEmpty()) headers += CWString(L"\r\nreferer: ") + referer;
  return [headers, timeoutMs](const CWString& address, CKelMem& body, CWString& why) {
    rg_WangLaoFangWenLei_n http;
    // The way the listing went: the player's proxy settings.
    http.accessType = WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY;
    rg_WangYeFangWenXiangYingLei_n response;
    CWString scratchCookies, scratchHeaders;
    const CWString none;
    CKelMem answer =
        http.SendRequest(address, http_method::kGet, none, CKelMem(), headers, none, kRedirectsFollowed, scratchCookies,
                         scratchHeaders, none, none, none, timeoutMs, kCheckCertificates, none, response);
    if (response.statusCode != 200) {
      if (!response.errorText.IsEmpty()) {
        why = response.errorText;
      } else {
        why.Format(L"HTTP %d", response.statusCode);
      }
      return false;
    }
    body = std::move(answer);
    return true;
  };
}

CWString RecordedPartId(const CWString& token, const CWString& sha256) {
  return sha256.IsEmpty() ? token : token + L"#sha-256=" + sha256;
}
