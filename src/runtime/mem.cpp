#include "runtime/mem.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/text.h"

namespace {

int64_t EffectiveStep(int64_t growStep) { return growStep < 1 ? CKelMem::kDefaultGrowStep : growStep; }

}  // namespace

CKelMem::CKelMem(const void* bytes, int64_t n) { AppendBytes(bytes, n); }

CKelMem::CKelMem(const CKelMem& other) : CKelObject(other), growStep_(other.growStep_) {
  AppendBytes(other.data_, other.size_);
}

CKelMem::CKelMem(CKelMem&& other) noexcept
    : CKelObject(other),
      data_(std::exchange(other.data_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      size_(std::exchange(other.size_, 0)),
      growStep_(other.growStep_) {}

CKelMem& CKelMem::operator=(const CKelMem& other) {
  if (this != &other) {
    CKelObject::operator=(other);
    growStep_ = other.growStep_;
    SetSize(other.size_);
    if (size_ > 0) memcpy(data_, other.data_, static_cast<size_t>(size_));
  }
  return *this;
}

CKelMem& CKelMem::operator=(CKelMem&& other) noexcept {
  if (this != &other) {
    CKelObject::operator=(other);
    FreeStorage();
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    size_ = std::exchange(other.size_, 0);
    growStep_ = other.growStep_;
  }
  return *this;
}

CKelMem::~CKelMem() { FreeStorage(); }

void CKelMem::FreeStorage() {
  CPoolMem::Instance().Free(data_);
  data_ = nullptr;
  capacity_ = 0;
  size_ = 0;
}

bool CKelMem::SameBytes(const CKelMem& other) const {
  return size_ == other.size_ && (size_ == 0 || memcmp(data_, other.data_, static_cast<size_t>(size_)) == 0);
}

bool CKelMem::Equals(const CKelObject& other) const {
  if (!other.IsKindOf(StaticClassInfo()) || !SameObjectWords(other)) return false;
  return SameBytes(static_cast<const CKelMem&>(other));
}

void CKelMem::SetSize(int64_t n) {
  if (n <= 0) {
    FreeStorage();
    return;
  }
  const int64_t step = EffectiveStep(growStep_);
  // The next multiple of the step strictly above the need.
  const int64_t amount = step + n - n % step;
  if (!data_) {
    data_ = static_cast<unsigned char*>(CPoolMem::Instance().Allocate(static_cast<size_t>(amount)));
    capacity_ = amount;
  } else if (capacity_ < n || capacity_ - n > step) {
    data_ = static_cast<unsigned char*>(CPoolMem::Instance().Reallocate(data_, static_cast<size_t>(amount)));
    capacity_ = amount;
  }
  size_ = n;
}

void CKelMem::SetSizeZeroed(int64_t n) {
  SetSize(n);
  if (size_ > 0) memset(data_, 0, static_cast<size_t>(size_));
}

void CKelMem::AppendBytes(const void* bytes, int64_t n) {
  if (n <= 0) return;
  if ((n == 1 || n == 2 || n == 4 || n == 8) && size_ + n <= capacity_) {
    if (bytes) {
      memcpy(data_ + size_, bytes, static_cast<size_t>(n));
    } else {
      memset(data_ + size_, 0, static_cast<size_t>(n));
    }
    size_ += n;
    return;
  }
  ReplaceRange(size_, 0, bytes, n);
}

void CKelMem::ReplaceRange(int64_t offset, int64_t count, const void* bytes, int64_t n) {
  if (offset < 0) offset = 0;
  if (offset > size_) offset = size_;
  if (count < 0) count = 0;
  if (count > size_ - offset) count = size_ - offset;
  if (n < 0) n = 0;
  if (count == 0 && n == 0) return;

  // The source may lie inside our own storage, which a resize can move.
  CKelMem held;
  const auto* source = static_cast<const unsigned char*>(bytes);
  if (source && data_ && source < data_ + capacity_ && source + n > data_) {
    held.AppendBytes(source, n);
    source = held.data_;
  }

  const int64_t tail = size_ - offset - count;
  const int64_t newSize = size_ - count + n;
  if (newSize > size_) {
    SetSize(newSize);
    if (tail > 0) memmove(data_ + offset + n, data_ + offset + count, static_cast<size_t>(tail));
  } else {
    if (tail > 0) memmove(data_ + offset + n, data_ + offset + count, static_cast<size_t>(tail));
    SetSize(newSize);
  }
  if (n > 0) {
    if (source) {
      memcpy(data_ + offset, source, static_cast<size_t>(n));
    } else {
      memset(data_ + offset, 0, static_cast<size_t>(n));
    }
  }
}

void CKelMem::RemoveRange(int64_t offset, int64_t count) {
  if (count <= 0 || size_ == 0) return;
  if (offset < 0) {
    offset = size_ - count;
    if (offset < 0) offset = 0;
  }
  ReplaceRange(offset, count, nullptr, 0);
}

bool CKelMem::WriteToFile(const CWString& path) const {
  if (path.IsEmpty()) return false;
  FILE* file = _wfopen(path.GetText(), L"wb");
  if (!file) return false;
  size_t written = size_ > 0 ? fwrite(data_, 1, static_cast<size_t>(size_), file) : 0;
  bool closed = fclose(file) == 0;
  return closed && written == static_cast<size_t>(size_);
}

void CKelMem::Clear() { FreeStorage(); }

bool CKelMem::ReadFrom(CKelStream& stream) { return stream.ReadMem(*this); }

bool CKelMem::WriteTo(CKelStream& stream) const { return stream.WriteMem(*this); }

void CKelMem::DebugText(CWString& out, int64_t limit) const {
  if (limit == 0) limit = 1024;
  int64_t shown = size_;
  if (limit > 0 && shown > limit) shown = limit;
  if (shown < size_) {
    out.Format(L"<字节集> 总共 %d 个字节,输出了 %d 个,还有 %d 个未被输出.", static_cast<int>(size_),
               static_cast<int>(shown), static_cast<int>(size_ - shown));
  } else {
    out.Format(L"<字节集> 总共 %d 个字节:", static_cast<int>(size_));
  }
  for (int64_t line = 0; line < shown; line += 16) {
    if (line == 0) {
      out.Append(L"\r\n[00000000]:");
    } else {
      out.AppendFormat(L"\r\n[%I64X]:", static_cast<unsigned long long>(line));
    }
    const int64_t end = line + 16 < shown ? line + 16 : shown;
    for (int64_t i = line; i < end; ++i) out.AppendFormat(L" %02X", data_[i]);
    for (int64_t i = end; i < line + 16; ++i) out.Append(L"   ");
    out.Append(L" | ");
    for (int64_t i = line; i < end; ++i) {
      unsigned char c = data_[i];
      out.AppendChar(c >= 0x20 && c < 0x7F ? static_cast<wchar_t>(c) : L'.');
    }
  }
}

bool CKelMemStream::RawRead(void* to, size_t n) {
  if (static_cast<uint64_t>(bytes_.Size() - readPosition_) < n) return false;
  memcpy(to, bytes_.Data() + readPosition_, n);
  readPosition_ += static_cast<int64_t>(n);
  return true;
}

bool CKelMemStream::RawWrite(const void* from, size_t n) {
  bytes_.AppendBytes(from, static_cast<int64_t>(n));
  return true;
}
