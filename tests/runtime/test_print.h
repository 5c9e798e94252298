// Readable GoogleTest failure output for runtime values.
#pragma once

#include <ostream>

#include "runtime/convert.h"
#include "runtime/mem.h"
#include "runtime/text.h"

inline void PrintTo(const CWString& text, std::ostream* os) {
  CKelMem utf8 = TextToUtf8(text, false, false);
  *os << '"' << std::string(reinterpret_cast<const char*>(utf8.Data()), static_cast<size_t>(utf8.Size())) << '"';
}

inline void PrintTo(const CWConstString& text, std::ostream* os) { PrintTo(static_cast<const CWString&>(text), os); }
