#include "runtime/object.h"

#include <cstring>

#include "runtime/convert.h"
#include "runtime/mem.h"
#include "runtime/text.h"

uint32_t ClassNameHash(const char* name, size_t length) {
  if (length == 0) return 1;
  uint32_t b = static_cast<unsigned char>(name[0]);
  uint32_t c = 0;
  for (size_t i = 1; i < length; ++i) {
    c = b + 5 * c;
    b = static_cast<unsigned char>(name[i]);
  }
  return (4 * c + ((c + b) | 1)) & 0x7FFFFFFFu;
}

CKelClassInfo::CKelClassInfo(const char* className, Factory makeInstance, const CKelClassInfo* baseClass)
    : factory(makeInstance),
      name(className),
      length(static_cast<uint32_t>(strlen(className))),
      hash(ClassNameHash(className, strlen(className))),
      base(baseClass) {}

bool CKelClassInfo::SameClassAs(const CKelClassInfo& other) const {
  if (this == &other) return true;
  return hash == other.hash && length == other.length && memcmp(name, other.name, length) == 0;
}

void* CKelCommonBaseWithMemManager::Allocate(size_t n) { return CPoolMem::Instance().Allocate(n); }
void* CKelCommonBaseWithMemManager::TryAllocate(size_t n) { return CPoolMem::Instance().TryAllocate(n); }
void* CKelCommonBaseWithMemManager::Reallocate(void* block, size_t n) {
  return CPoolMem::Instance().Reallocate(block, n);
}
void CKelCommonBaseWithMemManager::FreeBlock(void* block) { CPoolMem::Instance().Free(block); }
CPoolMem& CKelCommonBaseWithMemManager::MemoryManager() const { return CPoolMem::Instance(); }

const CKelClassInfo& CKelObject::StaticClassInfo() {
  static const CKelClassInfo info("CKelObject", &kel_detail::MakeDefault<CKelObject>, nullptr);
  return info;
}

const CKelClassInfo& CKelObject::ClassInfo() const { return StaticClassInfo(); }

bool CKelObject::SameObjectWords(const CKelObject& other) const {
  return (objectFlags & kNullObjectFlag) == (other.objectFlags & kNullObjectFlag) && objectTag == other.objectTag;
}

bool CKelObject::Equals(const CKelObject& other) const {
  return ClassInfo().SameClassAs(other.ClassInfo()) && SameObjectWords(other);
}

CKelObject* CKelObject::CreateInstance() const { return kel_detail::MakeDefault<CKelObject>(); }
CKelObject* CKelObject::Clone() const { return kel_detail::MakeCopy<CKelObject>(*this); }
bool CKelObject::CopyFrom(const CKelObject& other) { return kel_detail::CopyInto<CKelObject>(*this, other); }
void CKelObject::Reset() { kel_detail::ResetToDefault<CKelObject>(*this); }
void CKelObject::Delete() { delete this; }

bool CKelObject::IsKindOf(const CKelClassInfo& info) const {
  for (const CKelClassInfo* c = &ClassInfo(); c; c = c->base) {
    if (c->SameClassAs(info)) return true;
  }
  return false;
}

void CKelObject::DebugText(CWString& out, int64_t) const {
  CWString name = Utf8CharsToText(ClassInfo().name);
  out.Format(L"无法解析的对象数据,其输出类名为: \"%s\", 地址为: 0x%I64X", name.GetText(),
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(this)));
  if (IsNullObject()) out.Append(L", 为空对象");
}

bool CKelObject::ReadFrom(CKelStream& stream) { return stream.Error() == 0; }
bool CKelObject::WriteTo(CKelStream& stream) const { return stream.Error() == 0; }
void CKelObject::BeforeChange() {}

void CKelObject::SetNullObject(bool isNull) {
  if (isNull) {
    objectFlags |= kNullObjectFlag;
  } else {
    objectFlags &= ~kNullObjectFlag;
  }
}

bool rg_ZhengShuLei::Equals(const CKelObject& other) const {
  return CKelObject::Equals(other) && static_cast<const rg_ZhengShuLei&>(other).value == value;
}

void rg_ZhengShuLei::DebugText(CWString& out, int64_t) const { out.Format(L"%d", value); }

bool rg_ZhengShuLei::ReadFrom(CKelStream& stream) {
  int32_t v = 0;
  if (!stream.ReadInt32(v)) return false;
  value = v;
  return true;
}

bool rg_ZhengShuLei::WriteTo(CKelStream& stream) const { return stream.WriteInt32(value); }

bool CKelStream::ReadBytes(void* to, size_t n) {
  if (error_ != 0) return false;
  if (n == 0) return true;
  if (!RawRead(to, n)) {
    error_ = kShortRead;
    return false;
  }
  return true;
}

bool CKelStream::WriteBytes(const void* from, size_t n) {
  if (error_ != 0) return false;
  if (n == 0) return true;
  if (!RawWrite(from, n)) {
    error_ = kWriteFailed;
    return false;
  }
  return true;
}

bool CKelStream::ReadInt32(int32_t& value) { return ReadBytes(&value, sizeof value); }
bool CKelStream::WriteInt32(int32_t value) { return WriteBytes(&value, sizeof value); }
bool CKelStream::ReadInt64(int64_t& value) { return ReadBytes(&value, sizeof value); }
bool CKelStream::WriteInt64(int64_t value) { return WriteBytes(&value, sizeof value); }

bool CKelStream::ReadMem(CKelMem& bytes) {
  int32_t size = 0;
  if (!ReadInt32(size)) return false;
  if (size < 0) {
    error_ = kShortRead;
    return false;
  }
  CKelMem read;
  read.SetSize(size);
  if (!ReadBytes(read.Data(), static_cast<size_t>(size))) return false;
  bytes.BeforeChange();
  bytes.SetSize(0);
  bytes.AppendBytes(read.Data(), read.Size());
  return true;
}

bool CKelStream::WriteMem(const void* from, size_t n) {
  if (n > 0x7FFFFFFF) {
    if (error_ == 0) error_ = kWriteFailed;
    return false;
  }
  return WriteInt32(static_cast<int32_t>(n)) && WriteBytes(from, n);
}

bool CKelStream::WriteMem(const CKelMem& bytes) { return WriteMem(bytes.Data(), static_cast<size_t>(bytes.Size())); }

void CKelRefCounted::Release() {
  if (refCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    FinalRelease();
    delete this;
  }
}

CKelRefObject::CKelRefObject(const CKelRefObject& other) : CKelObject(other), inner_(other.inner_) {
  if (inner_) inner_->AddRef();
}

CKelRefObject::CKelRefObject(CKelRefObject&& other) noexcept
    : CKelObject(other), inner_(std::exchange(other.inner_, nullptr)) {}

CKelRefObject& CKelRefObject::operator=(const CKelRefObject& other) {
  if (this != &other) {
    CKelObject::operator=(other);
    if (other.inner_) other.inner_->AddRef();
    Attach(other.inner_);
  }
  return *this;
}

CKelRefObject& CKelRefObject::operator=(CKelRefObject&& other) noexcept {
  if (this != &other) {
    CKelObject::operator=(other);
    Attach(std::exchange(other.inner_, nullptr));
  }
  return *this;
}

CKelRefObject::~CKelRefObject() { Attach(nullptr); }

bool CKelRefObject::Equals(const CKelObject& other) const {
  return CKelObject::Equals(other) && static_cast<const CKelRefObject&>(other).inner_ == inner_;
}

void CKelRefObject::Attach(CKelRefCounted* inner) {
  CKelRefCounted* old = std::exchange(inner_, inner);
  if (old) old->Release();
}
