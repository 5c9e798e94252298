// The release manifest: the list of the installer's files with their sizes and SHA-256
// hashes, which the publisher signs and puts beside the parts in the share's root folder.
// Reading it (strictly: whatever is not as the publisher's command writes it is refused) and
// checking its signature with the platform's cryptography (CNG) against the build's public
// key. Pure functions; any thread may call them.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/mem.h"
#include "runtime/text.h"

// The two files in the share's root folder.
inline constexpr const wchar_t* kManifestName = L"brinemarch-manifest.json";
inline constexpr const wchar_t* kManifestSignatureName = L"brinemarch-manifest.sig";

struct ManifestFile {
  CWString path;  // below the share's root folder, "/" between folder names
  int64_t size = 0;
  CWString sha256;  // 64 lowercase hex digits
};

struct ReleaseManifest {
  CWString release;
  std::vector<ManifestFile> files;
};

// What is wrong with a manifest that cannot be used.
enum class ManifestFault {
  kNone,
  kNotJson,    // not a UTF-8 JSON object
  kFormat,     // "format" is not 1
  kRelease,    // "release" is not a text
  kFiles,      // "files" is not an array
  kPath,       // an entry without a text path, or one that is empty, absolute or leaves its folder
  kDuplicate,  // two paths equal as Windows compares names
  kSize,       // a size that is not a whole number of bytes
  kHash,       // a sha256 that is not 64 hex digits
};

// Reads the manifest's JSON bytes. manifest is written only when the whole file is valid;
// otherwise the fault is returned and where (when given) receives the path of the entry at
// fault, or its index when it has no path.
ManifestFault ReadReleaseManifest(const CKelMem& json, ReleaseManifest& manifest, CWString* where = nullptr);

// True when publicKey (base64 of an ECDSA P-256 SubjectPublicKeyInfo in DER, as the build
// constant holds it) verifies signature (DER, as `openssl dgst -sha256 -sign` writes it)
// over data's SHA-256. False for any other key or signature form.
bool SignedByPublisher(const CKelMem& data, const CKelMem& signature, CWTextRef publicKey);
