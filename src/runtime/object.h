// Root of every class of the program: two object words, one class-information record per
// class, the standard virtual operations, allocation through the pool memory manager, binary
// streams and reference-counted inner objects.
// An object belongs to its user's thread; class-information records are built once,
// thread-safely, and reference counts change atomically.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "runtime/pool_mem.h"

class CKelObject;
class CKelMem;
class CWString;
class CKelStream;

// One record per class, built on first use.
struct CKelClassInfo {
  using Factory = CKelObject* (*)();

  CKelClassInfo(const char* className, Factory makeInstance, const CKelClassInfo* baseClass);

  Factory factory;
  const char* name;           // fully qualified class name, 8-bit
  uint32_t length;            // bytes in name
  uint32_t hash;              // 31-bit, see ClassNameHash
  const CKelClassInfo* base;  // null only for CKelObject

  // Same record, or the same hash, length and name.
  bool SameClassAs(const CKelClassInfo& other) const;
};

uint32_t ClassNameHash(const char* name, size_t length);

class CKelCommonBase {
 public:
  virtual ~CKelCommonBase() = default;
};

class CKelCommonBaseWithMemManager : public CKelCommonBase {
 public:
  static void* operator new(size_t n) { return CPoolMem::Instance().Allocate(n); }
  static void operator delete(void* block) { CPoolMem::Instance().Free(block); }
  static void* operator new[](size_t n) { return CPoolMem::Instance().Allocate(n); }
  static void operator delete[](void* block) { CPoolMem::Instance().Free(block); }
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void*, void*) noexcept {}

  virtual void* Allocate(size_t n);  // ends the process on failure
  virtual void* TryAllocate(size_t n);
  virtual void* Reallocate(void* block, size_t n);
  virtual void FreeBlock(void* block);
  virtual CPoolMem& MemoryManager() const;
};

// Declares the class-information record and the generic standard operations of a class
// derived (directly or not) from CKelObject. Put it first in the class body; it leaves the
// access at public. CreateInstance gives null for classes that are not default-constructible,
// Clone null for non-copyable ones; CopyFrom is false and Reset does nothing for classes that
// cannot be assigned.
#define KEL_DECLARE_CLASS(Class, Base)                                                                    \
 public:                                                                                                  \
  static const CKelClassInfo& StaticClassInfo() {                                                         \
    static const CKelClassInfo info(#Class, &::kel_detail::MakeDefault<Class>, &Base::StaticClassInfo()); \
    return info;                                                                                          \
  }                                                                                                       \
  const CKelClassInfo& ClassInfo() const override { return StaticClassInfo(); }                           \
  CKelObject* CreateInstance() const override { return ::kel_detail::MakeDefault<Class>(); }              \
  CKelObject* Clone() const override { return ::kel_detail::MakeCopy<Class>(*this); }                     \
  bool CopyFrom(const CKelObject& other) override { return ::kel_detail::CopyInto<Class>(*this, other); } \
  void Reset() override { ::kel_detail::ResetToDefault<Class>(*this); }

class CKelObject : public CKelCommonBaseWithMemManager {
 public:
  static constexpr uint64_t kNullObjectFlag = 1;

  CKelObject() = default;
  CKelObject(const CKelObject&) = default;
  CKelObject& operator=(const CKelObject&) = default;
  ~CKelObject() override = default;

  static const CKelClassInfo& StaticClassInfo();

  virtual const CKelClassInfo& ClassInfo() const;
  // Same class, same null bit, same tag; classes with fields compare them too.
  virtual bool Equals(const CKelObject& other) const;
  virtual CKelObject* CreateInstance() const;
  virtual CKelObject* Clone() const;
  // Copies when other is of this class or a derived one (BeforeChange first); else false.
  virtual bool CopyFrom(const CKelObject& other);
  virtual void Reset();
  virtual void Delete();  // deletes a heap object made with new
  virtual bool IsKindOf(const CKelClassInfo& info) const;
  // Replaces out by a description of the object; limit 0 means the type's default.
  virtual void DebugText(CWString& out, int64_t limit) const;
  virtual bool ReadFrom(CKelStream& stream);
  virtual bool WriteTo(CKelStream& stream) const;
  virtual void BeforeChange();

  bool IsNullObject() const { return (objectFlags & kNullObjectFlag) != 0; }
  void SetNullObject(bool isNull);

  uint64_t objectFlags = 0;
  uint64_t objectTag = 0;

 protected:
  // The object words of both sides agree (null bit and tag).
  bool SameObjectWords(const CKelObject& other) const;
};

namespace kel_detail {

template <class T>
CKelObject* MakeDefault() {
  if constexpr (std::is_default_constructible_v<T> && !std::is_abstract_v<T>) {
    return new T();
  } else {
    return nullptr;
  }
}

template <class T>
CKelObject* MakeCopy(const T& from) {
  if constexpr (std::is_copy_constructible_v<T> && !std::is_abstract_v<T>) {
    return new T(from);
  } else {
    return nullptr;
  }
}

template <class T>
bool CopyInto(T& self, const CKelObject& other) {
  if constexpr (std::is_copy_assignable_v<T>) {
    if (&other == &self) return true;
    if (!other.IsKindOf(T::StaticClassInfo())) return false;
    const T* source = dynamic_cast<const T*>(&other);
    if (!source) return false;
    self.BeforeChange();
    self = *source;
    return true;
  } else {
    return false;
  }
}

template <class T>
void ResetToDefault(T& self) {
  if constexpr (std::is_default_constructible_v<T> && std::is_move_assignable_v<T> && !std::is_abstract_v<T>) {
    self.BeforeChange();
    self = T();
  }
}

}  // namespace kel_detail

// Base of the library's extension classes (text array, integer array, response records...).
class rg_KuoZhanDuiXiangLei : public CKelObject {
  KEL_DECLARE_CLASS(rg_KuoZhanDuiXiangLei, CKelObject)
};

// Base of the boxed scalar values.
class CKelBaseDataType : public CKelObject {
  KEL_DECLARE_CLASS(CKelBaseDataType, CKelObject)
};

// A boxed 32-bit integer.
class rg_ZhengShuLei : public CKelBaseDataType {
  KEL_DECLARE_CLASS(rg_ZhengShuLei, CKelBaseDataType)

  rg_ZhengShuLei() = default;
  explicit rg_ZhengShuLei(int v) : value(v) {}

  bool Equals(const CKelObject& other) const override;
  void DebugText(CWString& out, int64_t limit) const override;
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  int value = 0;
};

// Binary stream: byte sets as a 32-bit size and the bytes, 32- and 64-bit fields as 4 and 8
// bytes. A short read sets error -3, a failed write -4; after an error nothing more happens.
class CKelStream {
 public:
  static constexpr int kShortRead = -3;
  static constexpr int kWriteFailed = -4;

  virtual ~CKelStream() = default;

  int Error() const { return error_; }

  bool ReadBytes(void* to, size_t n);
  bool WriteBytes(const void* from, size_t n);
  bool ReadInt32(int32_t& value);
  bool WriteInt32(int32_t value);
  bool ReadInt64(int64_t& value);
  bool WriteInt64(int64_t value);
  bool ReadMem(CKelMem& bytes);
  bool WriteMem(const CKelMem& bytes);
  bool WriteMem(const void* from, size_t n);

 protected:
  // Moves exactly n bytes or reports false.
  virtual bool RawRead(void* to, size_t n) = 0;
  virtual bool RawWrite(const void* from, size_t n) = 0;

 private:
  int error_ = 0;
};

// Reference-counted inner object shared by holders. The release that brings the count to 0
// calls FinalRelease and destroys the object.
class CKelRefCounted {
 public:
  CKelRefCounted() = default;
  CKelRefCounted(const CKelRefCounted&) = delete;
  CKelRefCounted& operator=(const CKelRefCounted&) = delete;

  static void* operator new(size_t n) { return CPoolMem::Instance().Allocate(n); }
  static void operator delete(void* block) { CPoolMem::Instance().Free(block); }

  void AddRef() { refCount_.fetch_add(1, std::memory_order_relaxed); }
  void Release();
  int64_t RefCount() const { return refCount_.load(std::memory_order_acquire); }

 protected:
  virtual ~CKelRefCounted() = default;
  virtual void FinalRelease() {}

 private:
  std::atomic<int64_t> refCount_{1};
};

// Holds a reference to an inner object; copies share it, destruction releases it.
class CKelRefObject : public CKelObject {
  KEL_DECLARE_CLASS(CKelRefObject, CKelObject)

  CKelRefObject() = default;
  // Takes over the caller's reference.
  explicit CKelRefObject(CKelRefCounted* inner) : inner_(inner) {}
  CKelRefObject(const CKelRefObject& other);
  CKelRefObject(CKelRefObject&& other) noexcept;
  CKelRefObject& operator=(const CKelRefObject& other);
  CKelRefObject& operator=(CKelRefObject&& other) noexcept;
  ~CKelRefObject() override;

  bool Equals(const CKelObject& other) const override;  // same inner object

  CKelRefCounted* Inner() const { return inner_; }
  // Releases the current inner object and takes over the caller's reference to the new one.
  void Attach(CKelRefCounted* inner);

 private:
  CKelRefCounted* inner_ = nullptr;
};
