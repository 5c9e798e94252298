// The runtime's exception: a 32-bit code and a description text. The program's operations
// report failures through their results; only the top-level runner catches this type.
#pragma once

#include <cstdint>

#include "runtime/text.h"

class CKelException {
 public:
  CKelException(int32_t code, const CWString& description) : code_(code), description_(description) {}

  int32_t Code() const { return code_; }
  const CWString& Description() const { return description_; }

 private:
  int32_t code_;
  CWString description_;
};
