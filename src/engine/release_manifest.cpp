#include "engine/release_manifest.h"

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>
#include <string_view>

#include "json/json_reader.h"
#include "runtime/win_handles.h"

namespace {

// A path below the share's root: relative, "/" between non-empty names, none of them "." or
// "..", no backslash or colon (a drive, a stream, or Windows' other separator).
bool IsSharePath(const CWString& path) {
  const std::wstring_view text = path.View();
  if (text.empty() || text.find_first_of(L"\\:") != std::wstring_view::npos) return false;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(L'/', start);
    const std::wstring_view name = text.substr(start, end == std::wstring_view::npos ? end : end - start);
    if (name.empty() || name == L"." || name == L"..") return false;
    if (end == std::wstring_view::npos) return true;
    start = end + 1;
  }
}

bool IsHash(CWString& hash) {
  if (hash.Length() != 64) return false;
  for (const wchar_t c : hash.View()) {
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))) return false;
  }
  hash.ToLowerAscii();
  return true;
}

bool SameName(const CWString& a, const CWString& b) {
  return CompareStringOrdinal(a.GetText(), static_cast<int>(a.Length()), b.GetText(), static_cast<int>(b.Length()),
                              TRUE) == CSTR_EQUAL;
}

// The DER SubjectPublicKeyInfo of an ECDSA P-256 key up to its uncompressed point's X and Y:
// SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 04 X Y } }.
constexpr unsigned char kP256KeyInfoHead[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                              0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                              0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
constexpr size_t kCoordinateBytes = 32;
constexpr size_t kSha256Bytes = 32;

bool DecodeBase64(CWTextRef text, std::vector<unsigned char>& bytes) {
  DWORD size = 0;
  const DWORD length = static_cast<DWORD>(text.Length());
  if (length == 0 ||
      !CryptStringToBinaryW(text.Chars(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr)) {
    return false;
  }
  std::vector<unsigned char> decoded(size);
  if (!CryptStringToBinaryW(text.Chars(), length, CRYPT_STRING_BASE64, decoded.data(), &size, nullptr, nullptr)) {
    return false;
  }
  decoded.resize(size);
  bytes = std::move(decoded);
  return true;
}

// CNG takes an ECDSA signature as r and s side by side, 32 big-endian bytes each; openssl
// writes SEQUENCE { INTEGER r, INTEGER s } in DER (at most 72 bytes, so short lengths only).
bool SignatureToRs(const unsigned char* der, size_t size, unsigned char (&rs)[2 * kCoordinateBytes]) {
  if (size < 8 || der[0] != 0x30 || der[1] != size - 2) return false;
  unsigned char out[2 * kCoordinateBytes] = {};
  size_t at = 2;
  for (size_t half = 0; half < 2; ++half) {
    if (at + 2 > size || der[at] != 0x02) return false;
    size_t length = der[at + 1];
    at += 2;
    if (length == 0 || length > kCoordinateBytes + 1 || at + length > size) return false;
    const unsigned char* value = der + at;
    at += length;
    if (value[0] & 0x80) return false;  // negative
    if (length == kCoordinateBytes + 1) {
      if (value[0] != 0) return false;
      ++value;
      --length;
    }
    std::memcpy(out + half * kCoordinateBytes + (kCoordinateBytes - length), value, length);
  }
  if (at != size) return false;
  std::memcpy(rs, out, sizeof out);
  return true;
}

bool Sha256(const CKelMem& data, unsigned char (&digest)[kSha256Bytes]) {
  UniqueBcryptAlgorithm algorithm;
  UniqueBcryptHash hash;
  return BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.Address(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
         BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), hash.Address(), nullptr, 0, nullptr, 0, 0)) &&
         BCRYPT_SUCCESS(
             BCryptHashData(hash.Get(), const_cast<PUCHAR>(data.Data()), static_cast<ULONG>(data.Size()), 0)) &&
         BCRYPT_SUCCESS(BCryptFinishHash(hash.Get(), digest, kSha256Bytes, 0));
}

}  // namespace

ManifestFault ReadReleaseManifest(const CKelMem& json, ReleaseManifest& manifest, CWString* where) {
  rg_JSONDuiXiangLei_n document;
  if (json.IsEmpty() || !document.Parse(json)) return ManifestFault::kNotJson;
  int64_t format = 0;
  if (!document.GetInteger(L"/format", format) || format != 1) return ManifestFault::kFormat;
  if (!document.IsText(L"/release")) return ManifestFault::kRelease;
  rg_JSONShuZuLei_n files;
  if (!document.GetArray(L"/files", files)) return ManifestFault::kFiles;
  ReleaseManifest read;
  read.release = document.GetText(L"/release");
  const auto fault = [where](ManifestFault kind, const CWString& at) {
    if (where) *where = at;
    return kind;
  };
  for (int64_t i = 0; i < files.Count(); ++i) {
    CWString entry;
    entry.Format(L"/files/%lld/", static_cast<long long>(i));
    CWString index;
    index.AppendInt64(i);
    ManifestFile file;
    file.path = document.GetText(entry + L"path");
    if (!document.IsText(entry + L"path")) return fault(ManifestFault::kPath, index);
    if (!IsSharePath(file.path)) return fault(ManifestFault::kPath, file.path.IsEmpty() ? index : file.path);
    if (!document.GetInteger(entry + L"size", file.size) || file.size < 0) {
      return fault(ManifestFault::kSize, file.path);
    }
    file.sha256 = document.GetText(entry + L"sha256");
    if (!document.IsText(entry + L"sha256") || !IsHash(file.sha256)) return fault(ManifestFault::kHash, file.path);
    for (const ManifestFile& earlier : read.files) {
      if (SameName(earlier.path, file.path)) return fault(ManifestFault::kDuplicate, file.path);
    }
    read.files.push_back(std::move(file));
  }
  manifest = std::move(read);
  return ManifestFault::kNone;
}

bool SignedByPublisher(const CKelMem& data, const CKelMem& signature, CWTextRef publicKey) {
  std::vector<unsigned char> keyInfo;
  if (!DecodeBase64(publicKey, keyInfo) || keyInfo.size() != sizeof kP256KeyInfoHead + 2 * kCoordinateBytes ||
      std::memcmp(keyInfo.data(), kP256KeyInfoHead, sizeof kP256KeyInfoHead) != 0) {
    return false;
  }
  unsigned char rs[2 * kCoordinateBytes];
  unsigned char digest[kSha256Bytes];
  if (!SignatureToRs(signature.Data(), static_cast<size_t>(signature.Size()), rs) || !Sha256(data, digest)) {
    return false;
  }
  // BCRYPT_ECCKEY_BLOB followed by X and Y.
  unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinateBytes];
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateBytes};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, keyInfo.data() + sizeof kP256KeyInfoHead, 2 * kCoordinateBytes);
  UniqueBcryptAlgorithm algorithm;
  UniqueBcryptKey key;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.Address(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) ||
      !BCRYPT_SUCCESS(
          BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Address(), blob, sizeof blob, 0))) {
    return false;
  }
  return BCryptVerifySignature(key.Get(), nullptr, digest, kSha256Bytes, rs, sizeof rs, 0) == 0;
}
