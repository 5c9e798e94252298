// The UTF-8 form of a text, followed by zero padding so that readers may work in place.
// Short texts stay in a buffer inside the object; longer ones take one heap block of the exact
// size. Internal to the JSON library.
#pragma once

#include <cstddef>

#include "runtime/text.h"

class Utf8Buffer {
 public:
  static constexpr size_t kPadding = 4;  // at least yyjson's YYJSON_PADDING_SIZE
  static constexpr size_t kInlineSize = 512;

  // Units that are not valid UTF-16 (lone surrogates) become U+FFFD.
  explicit Utf8Buffer(CWTextRef text);
  Utf8Buffer(const Utf8Buffer&) = delete;
  Utf8Buffer& operator=(const Utf8Buffer&) = delete;
  ~Utf8Buffer();

  // False when the heap block could not be had; Data() is then null.
  bool IsValid() const { return data_ != nullptr; }
  char* Data() { return data_; }
  const char* Data() const { return data_; }
  size_t Size() const { return size_; }

 private:
  char inline_[kInlineSize];
  char* heap_ = nullptr;
  char* data_ = nullptr;
  size_t size_ = 0;
};
