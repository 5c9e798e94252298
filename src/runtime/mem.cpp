#include "runtime/mem.h"

#include "runtime/text.h"

CKelMem::CKelMem(const void*, int64_t) {}
CKelMem::CKelMem(const CKelMem& o) : CKelObject(o) {}
CKelMem::CKelMem(CKelMem&& o) noexcept : CKelObject(o) {}
CKelMem& CKelMem::operator=(const CKelMem&) { return *this; }
CKelMem& CKelMem::operator=(CKelMem&&) noexcept { return *this; }
CKelMem::~CKelMem() {}
bool CKelMem::Equals(const CKelObject&) const { return false; }
void CKelMem::DebugText(CWString&, int64_t) const {}
bool CKelMem::ReadFrom(CKelStream&) { return false; }
bool CKelMem::WriteTo(CKelStream&) const { return false; }
void CKelMem::SetSize(int64_t) {}
void CKelMem::SetSizeZeroed(int64_t) {}
void CKelMem::AppendBytes(const void*, int64_t) {}
void CKelMem::ReplaceRange(int64_t, int64_t, const void*, int64_t) {}
void CKelMem::RemoveRange(int64_t, int64_t) {}
bool CKelMem::WriteToFile(const CWString&) const { return false; }
void CKelMem::Clear() {}
bool CKelMem::SameBytes(const CKelMem&) const { return false; }
void CKelMem::FreeStorage() {}
