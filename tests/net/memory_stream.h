// A binary stream over a byte string, for serialisation round trips.
#pragma once

#include <cstring>
#include <string>

#include "runtime/object.h"

class MemoryStream : public CKelStream {
 public:
  std::string bytes;
  size_t readPos = 0;

 protected:
  bool RawRead(void* to, size_t n) override {
    if (bytes.size() - readPos < n) return false;
    memcpy(to, bytes.data() + readPos, n);
    readPos += n;
    return true;
  }
  bool RawWrite(const void* from, size_t n) override {
    bytes.append(static_cast<const char*>(from), n);
    return true;
  }
};
