#include "runtime/object.h"

#include <cstring>

#include "runtime/mem.h"
#include "runtime/text.h"

uint32_t ClassNameHash(const char*, size_t) { return 0; }
CKelClassInfo::CKelClassInfo(const char* className, Factory makeInstance, const CKelClassInfo* baseClass)
    : factory(makeInstance), name(className), length(static_cast<uint32_t>(strlen(className))), hash(0), base(baseClass) {}
bool CKelClassInfo::SameClassAs(const CKelClassInfo& other) const { return this == &other; }
void* CKelCommonBaseWithMemManager::Allocate(size_t n) { return CPoolMem::Instance().Allocate(n); }
void* CKelCommonBaseWithMemManager::TryAllocate(size_t n) { return CPoolMem::Instance().TryAllocate(n); }
void* CKelCommonBaseWithMemManager::Reallocate(void* b, size_t n) { return CPoolMem::Instance().Reallocate(b, n); }
void CKelCommonBaseWithMemManager::FreeBlock(void* b) { CPoolMem::Instance().Free(b); }
CPoolMem& CKelCommonBaseWithMemManager::MemoryManager() const { return CPoolMem::Instance(); }
const CKelClassInfo& CKelObject::StaticClassInfo() {
  static const CKelClassInfo info("CKelObject", &kel_detail::MakeDefault<CKelObject>, nullptr);
  return info;
}
const CKelClassInfo& CKelObject::ClassInfo() const { return StaticClassInfo(); }
bool CKelObject::Equals(const CKelObject&) const { return false; }
CKelObject* CKelObject::CreateInstance() const { return nullptr; }
CKelObject* CKelObject::Clone() const { return nullptr; }
bool CKelObject::CopyFrom(const CKelObject&) { return false; }
void CKelObject::Reset() {}
void CKelObject::Delete() { delete this; }
bool CKelObject::IsKindOf(const CKelClassInfo&) const { return false; }
void CKelObject::DebugText(CWString&, int64_t) const {}
bool CKelObject::ReadFrom(CKelStream&) { return true; }
bool CKelObject::WriteTo(CKelStream&) const { return true; }
void CKelObject::BeforeChange() {}
void CKelObject::SetNullObject(bool) {}
bool CKelObject::SameObjectWords(const CKelObject&) const { return true; }
bool rg_ZhengShuLei::Equals(const CKelObject&) const { return false; }
void rg_ZhengShuLei::DebugText(CWString&, int64_t) const {}
bool rg_ZhengShuLei::ReadFrom(CKelStream&) { return false; }
bool rg_ZhengShuLei::WriteTo(CKelStream&) const { return false; }
bool CKelStream::ReadBytes(void*, size_t) { return false; }
bool CKelStream::WriteBytes(const void*, size_t) { return false; }
bool CKelStream::ReadInt32(int32_t&) { return false; }
bool CKelStream::WriteInt32(int32_t) { return false; }
bool CKelStream::ReadInt64(int64_t&) { return false; }
bool CKelStream::WriteInt64(int64_t) { return false; }
bool CKelStream::ReadMem(CKelMem&) { return false; }
bool CKelStream::WriteMem(const CKelMem&) { return false; }
bool CKelStream::WriteMem(const void*, size_t) { return false; }
void CKelRefCounted::Release() {}
CKelRefObject::CKelRefObject(const CKelRefObject& o) : CKelObject(o) {}
CKelRefObject::CKelRefObject(CKelRefObject&& o) noexcept : CKelObject(o) {}
CKelRefObject& CKelRefObject::operator=(const CKelRefObject&) { return *this; }
CKelRefObject& CKelRefObject::operator=(CKelRefObject&&) noexcept { return *this; }
CKelRefObject::~CKelRefObject() {}
bool CKelRefObject::Equals(const CKelObject&) const { return false; }
void CKelRefObject::Attach(CKelRefCounted*) {}
