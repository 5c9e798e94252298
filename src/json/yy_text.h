// yyjson values as texts of the program. Internal to the JSON library; callable from any
// thread for values that no other thread changes meanwhile.
#pragma once

#include <yyjson.h>

#include <cstddef>

#include "runtime/text.h"

// Compact JSON of a mutable value, written by yyjson; freed with the object.
class YyWrittenText {
 public:
  explicit YyWrittenText(const yyjson_mut_val* value);
  YyWrittenText(const YyWrittenText&) = delete;
  YyWrittenText& operator=(const YyWrittenText&) = delete;
  ~YyWrittenText();

  // Null when writing failed.
  const char* Data() const { return data_; }
  size_t Size() const { return size_; }
  CWString ToText() const;

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
};

// null, true/false, integers in decimal, reals as "%.15G" ("0" within 0.000001 of zero),
// strings decoded up to their first zero character, arrays and objects as compact JSON;
// "" for anything else, a raw value or a null pointer.
CWString YyValueText(yyjson_mut_val* value);
