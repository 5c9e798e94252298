// The text type: UTF-16 code units, zero-terminated, value semantics. A text either refers to
// a constant (literal) it never changes, or owns its characters in a byte set with a growth
// step of 254 bytes. "" and a text that was never set are the same text.
// Not thread-safe; copies are independent.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/mem.h"

class CWString;

// Borrowed characters handed to text operations: a zero-terminated pointer (null reads ""),
// a text, or a standard wide string. Must not outlive what it refers to.
class CWTextRef {
 public:
  CWTextRef(const wchar_t* chars);  // NOLINT: implicit on purpose
  CWTextRef(const wchar_t* chars, int64_t length);
  CWTextRef(const CWString& text);      // NOLINT
  CWTextRef(const std::wstring& text);  // NOLINT
  CWTextRef(std::wstring_view text);    // NOLINT

  const wchar_t* Chars() const { return chars_; }  // not zero-terminated for a view
  int64_t Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }

 private:
  const wchar_t* chars_;
  int64_t length_;
};

class CWString : public CKelObject {
  KEL_DECLARE_CLASS(CWString, CKelObject)

  static constexpr int64_t kGrowStep = 254;

  CWString();
  CWString(const wchar_t* chars);  // NOLINT: copies
  CWString(const wchar_t* chars, int64_t count);
  explicit CWString(CWTextRef chars);
  explicit CWString(const std::wstring& chars);
  CWString(const CWString& other) = default;
  CWString(CWString&& other) noexcept;
  CWString& operator=(const CWString& other) = default;
  CWString& operator=(CWString&& other) noexcept;
  CWString& operator=(const wchar_t* chars);
  ~CWString() override = default;

  // Standard operations.
  bool Equals(const CKelObject& other) const override;
  bool ReadFrom(CKelStream& stream) override;
  bool WriteTo(CKelStream& stream) const override;

  // The characters, always zero-terminated; "" when empty. Valid until the next change.
  const wchar_t* GetText() const;
  const wchar_t* c_str() const { return GetText(); }
  std::wstring_view View() const { return {GetText(), static_cast<size_t>(Length())}; }
  std::wstring ToStdString() const { return std::wstring(View()); }
  wchar_t operator[](int64_t index) const { return GetText()[index]; }

  int64_t Length() const;
  bool IsEmpty() const;
  // True while the text still refers to a constant.
  bool IsConstant() const { return constText_ != nullptr; }

  void Assign(CWTextRef chars);
  // count units from chars (zeros when chars is null); count below 1 empties the text.
  void SetChars(const wchar_t* chars, int64_t count);
  void Append(CWTextRef chars);
  void AppendChar(wchar_t unit);  // 0 changes nothing
  void AppendInteger(int value);
  void AppendInt64(int64_t value);
  void AppendFloat(float value);
  void AppendDouble(double value);
  // printf-style with a wide format ("%s" takes a wide string), independent of the thread's
  // locale; exponents have two digits at least ("1E+20").
  void Format(const wchar_t* format, ...);
  void AppendFormat(const wchar_t* format, ...);
  void FormatV(const wchar_t* format, va_list args);
  void AppendFormatV(const wchar_t* format, va_list args);
  void Clear();

  static CWString Concat(CWTextRef a, CWTextRef b);
  CWString Left(int64_t n) const;
  CWString Right(int64_t n) const;
  CWString Mid(int64_t start, int64_t count) const;

  // Index of sub or -1. fromEnd searches backwards in units 0 .. start-1 (the whole text for
  // start < 0). ignoreCase folds ASCII letters only.
  int64_t Find(CWTextRef sub, int64_t start = 0, bool ignoreCase = false, bool fromEnd = false) const;
  // Replacements are not rescanned.
  void ReplaceAll(CWTextRef oldText, CWTextRef newText, bool ignoreCase);
  // Truncates, or pads with spaces; n <= 0 empties the text.
  void SetLength(int64_t n);
  void ToLowerAscii();
  void TrimRight();  // units <= 32
  bool StartsWithIgnoreCase(CWTextRef prefix) const;

  // Searches fold ASCII case.
  static CWString Between(CWTextRef text, CWTextRef left, CWTextRef right);
  static CWString LeftOf(CWTextRef text, CWTextRef marker, int64_t start);
  static CWString LeftOfLast(CWTextRef text, CWTextRef marker);
  static CWString RightOf(CWTextRef text, CWTextRef marker);
  static CWString RightOfLast(CWTextRef text, CWTextRef marker);

  // Direct writing: room for n units plus the terminating zero, the old units kept (new ones
  // zero). ReleaseBuffer sets the length to n units, or to the first zero when n < 0.
  wchar_t* GetBufferSetLength(int64_t n);
  void ReleaseBuffer(int64_t n = -1);

  // Copies a referenced constant into owned storage before an in-place change.
  void MakeOwned();

  CWString& operator+=(CWTextRef chars) {
    Append(chars);
    return *this;
  }
  CWString& operator+=(wchar_t unit) {
    AppendChar(unit);
    return *this;
  }

  // Compares the characters only; Equals also compares the object words.
  friend bool operator==(const CWString& a, const CWString& b) { return a.View() == b.View(); }
  friend bool operator==(const CWString& a, const wchar_t* b) { return a.View() == ViewOf(b); }
  friend bool operator<(const CWString& a, const CWString& b) { return a.View() < b.View(); }

 protected:
  // For CWConstString: refer to a constant without copying.
  struct ConstTag {};
  CWString(ConstTag, const wchar_t* constant);

 private:
  static std::wstring_view ViewOf(const wchar_t* chars) {
    return chars ? std::wstring_view(chars) : std::wstring_view();
  }
  void AppendUnits(const wchar_t* chars, int64_t count);

  const wchar_t* constText_ = nullptr;
  CKelMem store_{kGrowStep};
};

CWString operator+(const CWString& a, CWTextRef b);

// A text referring to a literal (or other constant that outlives it) without copying.
class CWConstString : public CWString {
  KEL_DECLARE_CLASS(CWConstString, CWString)

  CWConstString() : CWString() {}
  explicit CWConstString(const wchar_t* constant) : CWString(ConstTag{}, constant) {}
};
