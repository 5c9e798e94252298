// trust_test_authority.exe AUTHORITY.pem: makes the Wine prefix it runs in trust the tests'
// own certificate authority (tools/drive_emulator/make-cert.sh), replacing an earlier one of
// the same name. Refuses to run outside Wine: on Windows the store is the machine's own.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "runtime/win_handles.h"

namespace {

struct CertStoreTraits {
  using Type = HCERTSTORE;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { CertCloseStore(h, 0); }
};
struct CertContextTraits {
  using Type = PCCERT_CONTEXT;
  static Type Empty() { return nullptr; }
  static bool IsValid(Type h) { return h != nullptr; }
  static void Close(Type h) { CertFreeCertificateContext(h); }
};
using UniqueCertStore = UniqueResource<CertStoreTraits>;
using UniqueCertContext = UniqueResource<CertContextTraits>;

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

bool ReadWhole(const wchar_t* path, std::string& bytes) {
  UniqueHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > (1 << 20)) return false;
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) && read == bytes.size();
}

UniqueCertContext DecodePem(const std::string& pem) {
  DWORD size = 0;
  const auto length = static_cast<DWORD>(pem.size());
  if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    return UniqueCertContext();
  }
  std::string der(size, '\0');
  if (!CryptStringToBinaryA(pem.data(), length, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()), &size,
                            nullptr, nullptr)) {
    return UniqueCertContext();
  }
  return UniqueCertContext(
      CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size));
}

int Fail(const char* what) {
  std::fprintf(stderr, "trust_test_authority: %s (error %lu)\n", what, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_test_authority AUTHORITY.pem\n");
    return 2;
  }
  if (!UnderWine()) {
    std::fprintf(stderr, "trust_test_authority: only a Wine prefix is changed, never a machine's own store\n");
    return 2;
  }
  std::string pem;
  if (!ReadWhole(argv[1], pem)) return Fail("cannot read the authority's certificate");
  UniqueCertContext authority = DecodePem(pem);
  if (!authority) return Fail("not a PEM certificate");
  UniqueCertStore root(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!root) return Fail("cannot open the prefix's root store");

  int before = 0;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(root.Get(), nullptr); c;
       c = CertEnumCertificatesInStore(root.Get(), c)) {
    ++before;
  }
  // An authority made for an earlier build folder is no longer trusted.
  int replaced = 0;
  while (PCCERT_CONTEXT same = CertFindCertificateInStore(root.Get(), X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                                          &authority.Get()->pCertInfo->Subject, nullptr)) {
    if (!CertDeleteCertificateFromStore(same)) return Fail("cannot remove an earlier test authority");
    ++replaced;
  }
  if (!CertAddCertificateContextToStore(root.Get(), authority.Get(), CERT_STORE_ADD_NEW, nullptr)) {
    return Fail("cannot add the test authority");
  }
  // Wine writes a removal to the registry only when told to (closing the store is not enough).
  if (!CertControlStore(root.Get(), 0, CERT_STORE_CTRL_COMMIT, nullptr)) return Fail("cannot save the root store");
  wchar_t name[256] = L"";
  CertGetNameStringW(authority.Get(), CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
  std::printf("trust_test_authority: the prefix's root store (%d certificates before, %d replaced) trusts \"%ls\"\n",
              before, replaced, name);
  return 0;
}
