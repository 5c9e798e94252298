// The byte set: a growable byte buffer with value semantics, its storage from the pool memory
// manager. Growth goes in growStep granules (see GrowTo in mem.cpp). Not thread-safe.
#pragma once

#include <cstdint>

#include "runtime/object.h"

class CKelMem : public CKelObject {
  KEL_DECLARE_CLASS(CKelMem, CKelObject)

  static constexpr int64_t kDefaultGrowStep = 64;

  CKelMem() = default;
  explicit CKelMem(int64_t growStep) : growStep_(growStep) {}
  CKelMem(const void* bytes, int64_t n);
  CKelMem(const CKelMem& other);
  CKelMem(CKelMem&& other) noexcept;
  CKelMem& operator=(const CKelMem& other);
  CKelMem& operator=(CKelMem&& other) noexcept;
  ~CKelMem() override;

  // Standard operations.
  bool Equals(const CKelObject& other) const override;
  void DebugText(CWString& out, int64_t limit) const override;  // limit 0: 1024, < 0: none
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  const unsigned char* Data() const { return data_; }
  unsigned char* Data() { return data_; }
  int64_t Size() const { return size_; }
  int64_t Capacity() const { return capacity_; }
  void SetGrowStep(int64_t step) { growStep_ = step; }
  bool IsEmpty() const { return size_ == 0; }

  // Size n by the growth rule; 0 frees the storage. New bytes are not initialised.
  void SetSize(int64_t n);
  void SetSizeZeroed(int64_t n);
  // A null source appends n zero bytes.
  void AppendBytes(const void* bytes, int64_t n);
  // count is clipped to the end; n 0 removes, count 0 inserts.
  void ReplaceRange(int64_t offset, int64_t count, const void* bytes, int64_t n);
  // A negative offset removes count bytes from the end.
  void RemoveRange(int64_t offset, int64_t count);
  // True only when every byte was written; false for an empty path or a failed open.
  bool WriteToFile(const CWString& path) const;
  void Clear();

  // Same bytes (the object words are not compared).
  bool SameBytes(const CKelMem& other) const;
  bool operator==(const CKelMem& other) const { return Equals(other); }

 private:
  void FreeStorage();

  unsigned char* data_ = nullptr;
  int64_t capacity_ = 0;
  int64_t size_ = 0;
  int64_t growStep_ = kDefaultGrowStep;
};

// A binary stream over a byte set: writes append, reads go forward from the start.
class CKelMemStream : public CKelStream {
 public:
  explicit CKelMemStream(CKelMem& bytes) : bytes_(bytes) {}

  int64_t ReadPosition() const { return readPosition_; }

 protected:
  bool RawRead(void* to, size_t n) override;
  bool RawWrite(const void* from, size_t n) override;

 private:
  CKelMem& bytes_;
  int64_t readPosition_ = 0;
};
