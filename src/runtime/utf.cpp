// UTF-8 <-> UTF-16 with exact lengths. One decoder and one encoder serve counting, validating
// and best-effort conversion, so a length always matches what the conversion writes.
#include <cstdint>
#include <cstring>

#include "runtime/convert.h"

namespace kelutf {
namespace {

constexpr size_t kInvalid = static_cast<size_t>(-1);
constexpr char16_t kReplacement = 0xFFFD;

inline bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
inline bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// UTF-16 -> UTF-8. Writes only with kWrite; with kValidate a lone surrogate gives kInvalid,
// otherwise it is encoded as U+FFFD.
template <bool kWrite, bool kValidate>
size_t Encode(const wchar_t* in, size_t n, char* out) {
  size_t i = 0;
  size_t o = 0;
  while (i < n) {
    if (i + 4 <= n) {
      uint64_t four;
      memcpy(&four, in + i, sizeof four);
      if ((four & 0xFF80FF80FF80FF80ull) == 0) {
        if constexpr (kWrite) {
          out[o] = static_cast<char>(in[i]);
          out[o + 1] = static_cast<char>(in[i + 1]);
          out[o + 2] = static_cast<char>(in[i + 2]);
          out[o + 3] = static_cast<char>(in[i + 3]);
        }
        i += 4;
        o += 4;
        continue;
      }
    }
    const char16_t c = static_cast<char16_t>(in[i]);
    if (c < 0x80) {
      if constexpr (kWrite) out[o] = static_cast<char>(c);
      ++i;
      ++o;
      continue;
    }
    if (c < 0x800) {
      if constexpr (kWrite) {
        out[o] = static_cast<char>(0xC0 | (c >> 6));
        out[o + 1] = static_cast<char>(0x80 | (c & 0x3F));
      }
      ++i;
      o += 2;
      continue;
    }
    uint32_t cp = c;
    if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(static_cast<char16_t>(in[i + 1]))) {
      cp = 0x10000 + ((static_cast<uint32_t>(c) - 0xD800) << 10) + (static_cast<uint32_t>(in[i + 1]) - 0xDC00);
      if constexpr (kWrite) {
        out[o] = static_cast<char>(0xF0 | (cp >> 18));
        out[o + 1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out[o + 2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[o + 3] = static_cast<char>(0x80 | (cp & 0x3F));
      }
      i += 2;
      o += 4;
      continue;
    }
    if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      if constexpr (kValidate) return kInvalid;
      cp = kReplacement;
    }
    if constexpr (kWrite) {
      out[o] = static_cast<char>(0xE0 | (cp >> 12));
      out[o + 1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out[o + 2] = static_cast<char>(0x80 | (cp & 0x3F));
    }
    ++i;
    o += 3;
  }
  return o;
}

// UTF-8 -> UTF-16. With kValidate any ill-formed sequence gives kInvalid; otherwise each
// maximal ill-formed subpart becomes one U+FFFD.
template <bool kWrite, bool kValidate>
size_t Decode(const char* in8, size_t n, wchar_t* out) {
  const auto* in = reinterpret_cast<const unsigned char*>(in8);
  size_t i = 0;
  size_t o = 0;
  while (i < n) {
    if (i + 8 <= n) {
      uint64_t eight;
      memcpy(&eight, in + i, sizeof eight);
      if ((eight & 0x8080808080808080ull) == 0) {
        if constexpr (kWrite) {
          for (size_t k = 0; k < 8; ++k) out[o + k] = static_cast<wchar_t>(in[i + k]);
        }
        i += 8;
        o += 8;
        continue;
      }
    }
    const unsigned char b = in[i];
    if (b < 0x80) {
      if constexpr (kWrite) out[o] = static_cast<wchar_t>(b);
      ++i;
      ++o;
      continue;
    }
    size_t need = 0;
    unsigned char lower = 0x80;
    unsigned char upper = 0xBF;
    uint32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lower = 0xA0;
      if (b == 0xED) upper = 0x9F;  // no encoded surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      cp = b & 0x07;
      if (b == 0xF0) lower = 0x90;
      if (b == 0xF4) upper = 0x8F;  // nothing above U+10FFFF
    }
    ++i;
    bool ok = need > 0;
    for (size_t k = 0; ok && k < need; ++k) {
      if (i >= n || in[i] < lower || in[i] > upper) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (in[i] & 0x3F);
      ++i;
      lower = 0x80;
      upper = 0xBF;
    }
    if (!ok) {
      if constexpr (kValidate) return kInvalid;
      if constexpr (kWrite) out[o] = static_cast<wchar_t>(kReplacement);
      ++o;
      continue;
    }
    if (cp >= 0x10000) {
      if constexpr (kWrite) {
        out[o] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        out[o + 1] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
      }
      o += 2;
    } else {
      if constexpr (kWrite) out[o] = static_cast<wchar_t>(cp);
      ++o;
    }
  }
  return o;
}

}  // namespace

size_t Utf8LengthFromUtf16(const wchar_t* in, size_t n) { return Encode<false, false>(in, n, nullptr); }

size_t Utf16LengthFromUtf8(const char* in, size_t n) { return Decode<false, false>(in, n, nullptr); }

bool ValidateUtf8(const char* in, size_t n) { return Decode<false, true>(in, n, nullptr) != kInvalid; }

bool ValidateUtf16(const wchar_t* in, size_t n) { return Encode<false, true>(in, n, nullptr) != kInvalid; }

size_t ConvertUtf16ToUtf8(const wchar_t* in, size_t n, char* out) {
  const size_t written = Encode<true, true>(in, n, out);
  return written == kInvalid ? 0 : written;
}

size_t ConvertUtf8ToUtf16(const char* in, size_t n, wchar_t* out) {
  const size_t written = Decode<true, true>(in, n, out);
  return written == kInvalid ? 0 : written;
}

size_t ConvertUtf16ToUtf8Lossy(const wchar_t* in, size_t n, char* out) { return Encode<true, false>(in, n, out); }

size_t ConvertUtf8ToUtf16Lossy(const char* in, size_t n, wchar_t* out) { return Decode<true, false>(in, n, out); }

}  // namespace kelutf
