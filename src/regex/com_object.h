// The generic COM Automation bridge: an owned VARIANT value (CKelComVariant) and a counted
// reference to a COM object (CKelComObject) whose members are called by name through
// IDispatch, with arguments described by one letter each:
//   b VT_I1, s VT_I2, c VT_UI2, n VT_I4, l M p r VT_I8, F VT_R4, f VT_R8, B VT_BOOL,
//   S a text as VT_BSTR, C a runtime object (a CKelComVariant passes its value, a
//   CKelComObject its interface, a text its characters, a boxed integer its number, a null
//   object VT_EMPTY).
// Invoke kinds: 0 property get or method, 1 property put (or put by reference), 2 method or
// property get. Every call leaves its result code in lastError (see ComResult).
// Objects belong to the thread (COM apartment) that made them; COM must be initialised there.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "runtime/text.h"
#include "runtime/win_handles.h"

// Result codes of the bridge.
namespace ComResult {
constexpr int32_t kOk = 0;
constexpr int32_t kNoObject = -1;
constexpr int32_t kNoDispatch = -2;
constexpr int32_t kNoTypeInfo = -3;  // not given: members without type information are bound by name
constexpr int32_t kBadArgumentCount = -4;
constexpr int32_t kBadArgumentType = -5;
constexpr int32_t kException = -6;
constexpr int32_t kUnknownMember = -7;
constexpr int32_t kNoNamedArguments = -8;
constexpr int32_t kOverflow = -9;
constexpr int32_t kParameterNotFound = -10;
constexpr int32_t kTypeMismatch = -11;
constexpr int32_t kParameterMissing = -12;
constexpr int32_t kResultNotConvertible = -13;
constexpr int32_t kOtherFailure = -14;
}  // namespace ComResult

class CKelComVariant : public CKelObject {
  KEL_DECLARE_CLASS(CKelComVariant, CKelObject)

  CKelComVariant();
  explicit CKelComVariant(CWTextRef text);       // a VT_BSTR copy
  explicit CKelComVariant(const VARIANT& from);  // VariantCopy; VT_EMPTY when that fails
  CKelComVariant(const CKelComVariant& other);
  CKelComVariant(CKelComVariant&& other) noexcept;
  CKelComVariant& operator=(const CKelComVariant& other);
  CKelComVariant& operator=(CKelComVariant&& other) noexcept;
  ~CKelComVariant() override;

  // Same object words and VarCmp (user-default locale) reporting equal.
  bool Equals(const CKelObject& other) const override;

  const VARIANT& Get() const { return value_; }
  void Assign(const VARIANT& from);
  // Takes the value over; from is left VT_EMPTY.
  void TakeOver(VARIANT& from);
  void SetText(CWTextRef text);
  void Clear();

 private:
  VARIANT value_;
};

// One argument of a bridge call, borrowed for the call. Non-const texts and runtime objects
// receive the new value of a by-reference parameter after the call.
class CKelComArg {
 public:
  enum class Kind { Integer, Real, Text, Object };

  template <class T>
  requires(!std::is_same_v<std::remove_cvref_t<T>, CKelComArg>) CKelComArg(T&& value) {  // NOLINT: implicit on purpose
    using U = std::remove_cvref_t<T>;
    constexpr bool writable = std::is_lvalue_reference_v<T> && !std::is_const_v<std::remove_reference_t<T>>;
    if constexpr (std::is_base_of_v<CWString, U>) {
      kind_ = Kind::Text;
      chars_ = value.GetText();
      length_ = value.Length();
      if constexpr (writable) text_ = &value;
    } else if constexpr (std::is_base_of_v<CKelObject, U>) {
      kind_ = Kind::Object;
      object_ = &value;
      if constexpr (writable) writableObject_ = &value;
    } else if constexpr (std::is_same_v<U, bool>) {
      kind_ = Kind::Integer;
      integer_ = value ? 1 : 0;
    } else if constexpr (std::is_integral_v<U> || std::is_enum_v<U>) {
      kind_ = Kind::Integer;
      integer_ = static_cast<int64_t>(value);
    } else if constexpr (std::is_floating_point_v<U>) {
      kind_ = Kind::Real;
      real_ = static_cast<double>(value);
    } else if constexpr (std::is_convertible_v<T, CWTextRef>) {
      const CWTextRef text(value);
      kind_ = Kind::Text;
      chars_ = text.Chars();
      length_ = text.Length();
    } else if constexpr (std::is_pointer_v<U> || std::is_null_pointer_v<U>) {
      kind_ = Kind::Integer;
      integer_ = static_cast<int64_t>(reinterpret_cast<intptr_t>(value));
    } else {
      static_assert(std::is_void_v<T>, "no bridge letter passes this type");
    }
  }

  Kind GetKind() const { return kind_; }
  int64_t Integer() const { return integer_; }
  double Real() const { return real_; }
  CWTextRef Text() const { return CWTextRef(chars_, length_); }
  const CKelObject* Object() const { return object_; }
  CWString* WritableText() const { return text_; }
  CKelObject* WritableObject() const { return writableObject_; }

 private:
  Kind kind_ = Kind::Integer;
  int64_t integer_ = 0;
  double real_ = 0;
  const wchar_t* chars_ = nullptr;
  int64_t length_ = 0;
  CWString* text_ = nullptr;
  const CKelObject* object_ = nullptr;
  CKelObject* writableObject_ = nullptr;
};

class CKelComObject : public CKelObject {
  KEL_DECLARE_CLASS(CKelComObject, CKelObject)

  CKelComObject() = default;
  // Adds a reference to unknown (null makes an empty object).
  explicit CKelComObject(IUnknown* unknown);
  CKelComObject(const CKelComObject& other);  // adds a reference
  CKelComObject(CKelComObject&& other) noexcept;
  CKelComObject& operator=(const CKelComObject& other);
  CKelComObject& operator=(CKelComObject&& other) noexcept;
  ~CKelComObject() override = default;

  // Same object words and, when both hold objects, the same COM identity.
  bool Equals(const CKelObject& other) const override;

  // A new instance of the class named by a ProgID or by a class id in braces; with a type
  // library file, a ProgID-less class name is first looked up in that library (a path with a
  // backslash is also registered). The object is put into its running state.
  bool CreateObject(CWTextRef name, CWTextRef typeLibraryFile = CWTextRef(L""));

  template <class... Args>
  bool Call(int invokeKind, CWTextRef memberName, const char* letters, Args&&... args) {
    const std::array<CKelComArg, sizeof...(Args)> list{CKelComArg(std::forward<Args>(args))...};
    return CallMember(invokeKind, memberName, letters, list.data(), list.size(), nullptr);
  }
  // The result converted to VT_I4; 0 on failure (-13 when only the conversion failed).
  template <class... Args>
  int32_t CallForInteger(int invokeKind, CWTextRef memberName, const char* letters, Args&&... args) {
    const std::array<CKelComArg, sizeof...(Args)> list{CKelComArg(std::forward<Args>(args))...};
    return IntegerResult(invokeKind, memberName, letters, list.data(), list.size());
  }
  // The result converted to VT_BSTR; "" on failure.
  template <class... Args>
  CWString CallForText(int invokeKind, CWTextRef memberName, const char* letters, Args&&... args) {
    const std::array<CKelComArg, sizeof...(Args)> list{CKelComArg(std::forward<Args>(args))...};
    return TextResult(invokeKind, memberName, letters, list.data(), list.size());
  }
  // The result's interface (VT_UNKNOWN); an empty object on failure.
  template <class... Args>
  CKelComObject CallForObject(int invokeKind, CWTextRef memberName, const char* letters, Args&&... args) {
    const std::array<CKelComArg, sizeof...(Args)> list{CKelComArg(std::forward<Args>(args))...};
    return ObjectResult(invokeKind, memberName, letters, list.data(), list.size());
  }

  // The call behind the templates: count arguments described by letters.
  bool CallMember(int invokeKind, CWTextRef memberName, const char* letters, const CKelComArg* args, size_t count,
                  VARIANT* result);

  bool HasObject() const { return static_cast<bool>(unknown_); }
  IUnknown* Interface() const { return unknown_.Get(); }
  // Holds unknown (adding a reference) instead of the current object.
  void SetInterface(IUnknown* unknown);
  // Releases the held object.
  void Clear() { unknown_.Reset(); }

  int32_t lastError = ComResult::kOk;

 private:
  int32_t IntegerResult(int invokeKind, CWTextRef memberName, const char* letters, const CKelComArg* args,
                        size_t count);
  CWString TextResult(int invokeKind, CWTextRef memberName, const char* letters, const CKelComArg* args, size_t count);
  CKelComObject ObjectResult(int invokeKind, CWTextRef memberName, const char* letters, const CKelComArg* args,
                             size_t count);

  ComPtr<IUnknown> unknown_;
};
