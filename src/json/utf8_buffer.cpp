#include "json/utf8_buffer.h"

#include <cstring>

#include "runtime/convert.h"
#include "runtime/pool_mem.h"

Utf8Buffer::Utf8Buffer(CWTextRef text) {
  const auto units = static_cast<size_t>(text.Length());
  const size_t length = units == 0 ? 0 : kelutf::Utf8LengthFromUtf16(text.Chars(), units);
  if (length + kPadding <= kInlineSize) {
    data_ = inline_;
  } else {
    // A reply of any size must not end the process: a failed block fails the read instead.
    heap_ = static_cast<char*>(CPoolMem::Instance().TryAllocate(length + kPadding));
    if (!heap_) return;
    data_ = heap_;
  }
  size_ = length == 0 ? 0 : kelutf::ConvertUtf16ToUtf8Lossy(text.Chars(), units, data_);
  std::memset(data_ + size_, 0, kPadding);
}

Utf8Buffer::~Utf8Buffer() {
  if (heap_) CPoolMem::Instance().Free(heap_);
}
