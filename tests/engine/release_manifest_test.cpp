// The release manifest: what the reader refuses and what it keeps, the signature check over
// CNG against keys and a signature openssl made at build time, and the run's release check
// over a played drive.
#include "engine/release_manifest.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/release_check.h"

#include "signature_case.h"

namespace {

CKelMem Bytes(const std::string& text) { return CKelMem(text.data(), static_cast<int64_t>(text.size())); }

CKelMem FromHex(const char* hex) {
  std::string bytes;
  for (const char* at = hex; at[0] && at[1]; at += 2)
    bytes.push_back(static_cast<char>(std::stoi(std::string(at, 2), nullptr, 16)));
  return Bytes(bytes);
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  out += text;
  out += '"';
  return out;
}

const std::string kHash(64, 'a');

std::string Entry(const std::string& path, const std::string& size = "1", const std::string& hash = Quoted(kHash)) {
  return "{\"path\": " + path + ", \"size\": " + size + ", \"sha256\": " + hash + "}";
}

std::string Manifest(const std::string& files, const std::string& format = "1") {
  return "{\"format\": " + format + ", \"release\": \"r\", \"files\": [" + files + "]}";
}

TEST(ReleaseManifestTest, ReadsEveryEntryAndKeepsHashesInLowerCase) {
  const std::string upper = Quoted(std::string(32, 'A') + std::string(32, '0'));
  ReleaseManifest manifest;
  ASSERT_EQ(ReadReleaseManifest(Bytes("{\"format\": 1, \"release\": \"2.1 \\u4e2d\", \"files\": [" +
                                      Entry("\"Brinemarch.part1.exe\"", "33554434") + ", " +
                                      Entry("\"data/\\u4e2d.rar\"", "0", upper) + "]}"),
                                manifest),
            ManifestFault::kNone);
  EXPECT_EQ(manifest.release, L"2.1 中");
  ASSERT_EQ(manifest.files.size(), 2u);
  EXPECT_EQ(manifest.files[0].path, L"Brinemarch.part1.exe");
  EXPECT_EQ(manifest.files[0].size, 33554434);
  EXPECT_EQ(manifest.files[0].sha256, CWString(std::wstring(64, L'a')));
  EXPECT_EQ(manifest.files[1].path, L"data/中.rar");
  EXPECT_EQ(manifest.files[1].size, 0);
  EXPECT_EQ(manifest.files[1].sha256, CWString((std::wstring(32, L'a') + std::wstring(32, L'0'))));
}

TEST(ReleaseManifestTest, RefusesWhatIsNotAsThePublisherWroteIt) {
  struct Case {
    std::string json;
    ManifestFault fault;
    const wchar_t* where;  // nullptr: not looked at
  };
  const Case cases[] = {
      {"", ManifestFault::kNotJson, nullptr},
      {"{\"format\": 1, ", ManifestFault::kNotJson, nullptr},
      {"{\"format\": 1, \"release\": \"\xff\", \"files\": []}", ManifestFault::kNotJson, nullptr},
      {Manifest("", "2"), ManifestFault::kFormat, nullptr},
      {Manifest("", "\"1\""), ManifestFault::kFormat, nullptr},
      {Manifest("", "1.0"), ManifestFault::kFormat, nullptr},
      {"[1]", ManifestFault::kFormat, nullptr},
      {"{\"format\": 1, \"files\": []}", ManifestFault::kRelease, nullptr},
      {"{\"format\": 1, \"release\": \"r\", \"files\": {}}", ManifestFault::kFiles, nullptr},
      {"{\"format\": 1, \"release\": \"r\"}", ManifestFault::kFiles, nullptr},
      {Manifest("\"a.rar\""), ManifestFault::kPath, L"0"},
      {Manifest(Entry("\"a\"") + "," + Entry("7")), ManifestFault::kPath, L"1"},
      {Manifest(Entry("\"\"")), ManifestFault::kPath, L"0"},
      {Manifest(Entry("\"/a.rar\"")), ManifestFault::kPath, L"/a.rar"},
      {Manifest(Entry("\"C:/a.rar\"")), ManifestFault::kPath, L"C:/a.rar"},
      {Manifest(Entry("\"data\\\\a.rar\"")), ManifestFault::kPath, L"data\\a.rar"},
      {Manifest(Entry("\"../a.rar\"")), ManifestFault::kPath, L"../a.rar"},
      {Manifest(Entry("\"data/../../a.rar\"")), ManifestFault::kPath, L"data/../../a.rar"},
      {Manifest(Entry("\"data/./a.rar\"")), ManifestFault::kPath, nullptr},
      {Manifest(Entry("\"data//a.rar\"")), ManifestFault::kPath, nullptr},
      {Manifest(Entry("\"data/\"")), ManifestFault::kPath, nullptr},
      {Manifest(Entry("\"Data/A.rar\"") + "," + Entry("\"data/a.RAR\"")), ManifestFault::kDuplicate, L"data/a.RAR"},
      {Manifest(Entry("\"\\u00e9.rar\"") + "," + Entry("\"\\u00c9.rar\"")), ManifestFault::kDuplicate, L"É.rar"},
      {Manifest(Entry("\"a\"", "1.5")), ManifestFault::kSize, L"a"},
      {Manifest(Entry("\"a\"", "1e3")), ManifestFault::kSize, L"a"},
      {Manifest(Entry("\"a\"", "-1")), ManifestFault::kSize, L"a"},
      {Manifest(Entry("\"a\"", "\"12\"")), ManifestFault::kSize, L"a"},
      {Manifest(Entry("\"a\"", "99999999999999999999")), ManifestFault::kSize, L"a"},
      {Manifest(Entry("\"a\"", "1", Quoted(std::string(63, 'a')))), ManifestFault::kHash, L"a"},
      {Manifest(Entry("\"a\"", "1", Quoted(std::string(65, 'a')))), ManifestFault::kHash, L"a"},
      {Manifest(Entry("\"a\"", "1", Quoted(std::string(63, 'a') + "g"))), ManifestFault::kHash, L"a"},
      {Manifest(Entry("\"a\"", "1", "null")), ManifestFault::kHash, L"a"},
  };
  for (const Case& c : cases) {
    ReleaseManifest manifest;
    manifest.release = L"untouched";
    CWString where;
    EXPECT_EQ(ReadReleaseManifest(Bytes(c.json), manifest, &where), c.fault) << c.json;
    if (c.where) {
      EXPECT_EQ(where, c.where) << c.json;
    }
    EXPECT_EQ(manifest.release, L"untouched") << c.json;
  }
}

TEST(ReleaseManifestTest, OnlyThePublishersKeyVerifiesTheSignedBytes) {
  const CKelMem manifest = FromHex(kSignedManifestHex);
  const CKelMem signature = FromHex(kManifestSignatureHex);
  ASSERT_TRUE(SignedByPublisher(manifest, signature, kPublisherKey));
  ReleaseManifest read;
  EXPECT_EQ(ReadReleaseManifest(manifest, read), ManifestFault::kNone);
  EXPECT_EQ(read.files.size(), 2u);
  EXPECT_FALSE(SignedByPublisher(manifest, signature, kStrangerKey));
  // One bit changed anywhere in the manifest or the signature.
  for (const int64_t at : {int64_t{0}, manifest.Size() / 2, manifest.Size() - 1}) {
    CKelMem changed = manifest;
    changed.Data()[at] ^= 0x01;
    EXPECT_FALSE(SignedByPublisher(changed, signature, kPublisherKey)) << "manifest byte " << at;
  }
  for (const int64_t at : {int64_t{5}, signature.Size() / 2, signature.Size() - 1}) {
    CKelMem changed = signature;
    changed.Data()[at] ^= 0x01;
    EXPECT_FALSE(SignedByPublisher(manifest, changed, kPublisherKey)) << "signature byte " << at;
  }
  CKelMem longer = manifest;
  longer.AppendBytes("\n", 1);
  EXPECT_FALSE(SignedByPublisher(longer, signature, kPublisherKey));
  CKelMem cut = signature;
  cut.SetSize(signature.Size() - 1);
  EXPECT_FALSE(SignedByPublisher(manifest, cut, kPublisherKey));
  EXPECT_FALSE(SignedByPublisher(manifest, CKelMem(), kPublisherKey));
  // Keys that are no P-256 public key in base64 DER.
  const std::wstring key = kPublisherKey;
  for (const std::wstring& bad :
       {std::wstring(), std::wstring(L"none"), key.substr(0, key.size() - 4), std::wstring(L"MFYw") + key.substr(4)}) {
    EXPECT_FALSE(SignedByPublisher(manifest, signature, bad)) << std::string(bad.begin(), bad.end());
  }
}

}  // namespace

namespace {

// The signed case's share: its two files, the manifest and its signature, and an extra file.
struct Share {
  std::vector<ListedFile> listed{{L"Brinemarch.part1.exe", L"u/part1", 9},
                                 {L"brinemarch-manifest.json", L"u/manifest", -1},
                                 {L"extra.txt", L"u/extra", 5},
                                 {L"data/Brinemarch.part2.rar", L"u/part2", 11},
                                 {L"brinemarch-manifest.sig", L"u/signature", -1}};
  CKelMem manifest = FromHex(kSignedManifestHex);
  CKelMem signature = FromHex(kManifestSignatureHex);
  int failuresLeft = 0;  // exchanges that fail before one answers
  std::vector<std::wstring> asked;

  ReleaseCheck Check(const wchar_t* key = kPublisherKey) {
    return CheckRelease(listed, key,
                        [this](const CWString& address, CKelMem& body, CWString& why) {
                          asked.push_back(address.ToStdString());
                          if (failuresLeft > 0) {
                            --failuresLeft;
                            why = L"HTTP 503";
                            return false;
                          }
                          body = address == L"u/manifest" ? manifest : signature;
                          return true;
                        },
                        {1, 1});
  }
};

TEST(ReleaseCheckTest, KeepsOnlySignedFilesInListingOrderWithTheirHashes) {
  Share share;
  share.failuresLeft = 2;  // retried like a listing page
  const ReleaseCheck check = share.Check();
  ASSERT_EQ(check.fault, ReleaseCheck::Fault::kNone);
  EXPECT_EQ(check.rows, (std::vector<int64_t>{0, 3}));
  ReleaseManifest manifest;
  ASSERT_EQ(ReadReleaseManifest(share.manifest, manifest), ManifestFault::kNone);
  ASSERT_EQ(check.sha256.size(), 2u);
  EXPECT_EQ(check.sha256[0], manifest.files[0].sha256);
  EXPECT_EQ(check.sha256[1], manifest.files[1].sha256);
  EXPECT_EQ(share.asked, (std::vector<std::wstring>{L"u/manifest", L"u/manifest", L"u/manifest", L"u/signature"}));
}

TEST(ReleaseCheckTest, ARunThatCannotTrustTheReleaseSaysWhy) {
  struct Case {
    const char* what;
    std::function<void(Share&)> change;
    const wchar_t* key;
    ReleaseCheck::Fault fault;
    const wchar_t* detail;  // nullptr: not looked at
  };
  const Case cases[] = {
      {"no signature listed", [](Share& s) { s.listed.pop_back(); }, kPublisherKey, ReleaseCheck::Fault::kMissing,
       nullptr},
      {"no manifest listed", [](Share& s) { s.listed.erase(s.listed.begin() + 1); }, kPublisherKey,
       ReleaseCheck::Fault::kMissing, nullptr},
      {"manifest in a sub-folder", [](Share& s) { s.listed[1].path = L"data/brinemarch-manifest.json"; }, kPublisherKey,
       ReleaseCheck::Fault::kMissing, nullptr},
      {"never answered", [](Share& s) { s.failuresLeft = 3; }, kPublisherKey, ReleaseCheck::Fault::kUnfetched,
       L"HTTP 503"},
      {"another key", [](Share&) {}, kStrangerKey, ReleaseCheck::Fault::kNotSigned, nullptr},
      {"changed after signing", [](Share& s) { s.manifest.Data()[3] ^= 0x20; }, kPublisherKey,
       ReleaseCheck::Fault::kNotSigned, nullptr},
      {"a signed part not listed", [](Share& s) { s.listed[3].path = L"Brinemarch.part2.rar"; }, kPublisherKey,
       ReleaseCheck::Fault::kNotListed, L"data/Brinemarch.part2.rar"},
      {"a signed part of another size", [](Share& s) { s.listed[0].size = 10; }, kPublisherKey,
       ReleaseCheck::Fault::kNotListed, L"Brinemarch.part1.exe"},
  };
  for (const Case& c : cases) {
    Share share;
    c.change(share);
    const ReleaseCheck check = share.Check(c.key);
    EXPECT_EQ(check.fault, c.fault) << c.what;
    if (c.detail) {
      EXPECT_EQ(check.detail, c.detail) << c.what;
    }
    EXPECT_TRUE(check.rows.empty()) << c.what;
  }
  // A size the drive does not list is no mismatch.
  Share unsized;
  unsized.listed[0].size = -1;
  EXPECT_EQ(unsized.Check().fault, ReleaseCheck::Fault::kNone);
}

}  // namespace
