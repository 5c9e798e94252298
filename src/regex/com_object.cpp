#include "regex/com_object.h"

#include <ole2.h>
#include <oleauto.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

namespace {

// The argument VARIANTs of one call, in call order; all cleared at the end.
class VariantList {
 public:
  explicit VariantList(size_t count) : values_(count) {
    for (VARIANT& value : values_) VariantInit(&value);
  }
  VariantList(const VariantList&) = delete;
  VariantList& operator=(const VariantList&) = delete;
  ~VariantList() {
    for (VARIANT& value : values_) VariantClear(&value);
  }
  VARIANT& operator[](size_t i) { return values_[i]; }

 private:
  std::vector<VARIANT> values_;
};

// A result VARIANT, cleared at the end.
class ResultVariant {
 public:
  ResultVariant() { VariantInit(&value_); }
  ResultVariant(const ResultVariant&) = delete;
  ResultVariant& operator=(const ResultVariant&) = delete;
  ~ResultVariant() { VariantClear(&value_); }
  VARIANT* Get() { return &value_; }

 private:
  VARIANT value_;
};

// The texts a failing member leaves in EXCEPINFO, freed at the end.
class ExceptionInfo {
 public:
  ExceptionInfo() { std::memset(&info_, 0, sizeof info_); }
  ExceptionInfo(const ExceptionInfo&) = delete;
  ExceptionInfo& operator=(const ExceptionInfo&) = delete;
  ~ExceptionInfo() {
    if (info_.pfnDeferredFillIn) info_.pfnDeferredFillIn(&info_);
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
  }
  EXCEPINFO* Get() { return &info_; }

 private:
  EXCEPINFO info_;
};

// What ITypeComp::Bind handed out, given back at the end.
class BoundMember {
 public:
  BoundMember() { bound_.lpfuncdesc = nullptr; }
  BoundMember(const BoundMember&) = delete;
  BoundMember& operator=(const BoundMember&) = delete;
  ~BoundMember() { Reset(); }

  // True when name binds to a function or variable for the given kind.
  bool Bind(ITypeComp* comp, const wchar_t* name, ULONG hash, WORD kind) {
    Reset();
    DESCKIND found = DESCKIND_NONE;
    if (FAILED(comp->Bind(const_cast<LPOLESTR>(name), hash, kind, info_.Address(), &found, &bound_))) {
      found = DESCKIND_NONE;
    }
    kind_ = found;
    if (kind_ == DESCKIND_FUNCDESC || kind_ == DESCKIND_VARDESC) return true;
    Reset();
    return false;
  }
  const FUNCDESC* Function() const { return kind_ == DESCKIND_FUNCDESC ? bound_.lpfuncdesc : nullptr; }
  const VARDESC* Variable() const { return kind_ == DESCKIND_VARDESC ? bound_.lpvardesc : nullptr; }

 private:
  void Reset() {
    switch (kind_) {
      case DESCKIND_FUNCDESC:
        if (info_) info_->ReleaseFuncDesc(bound_.lpfuncdesc);
        break;
      case DESCKIND_VARDESC:
      case DESCKIND_IMPLICITAPPOBJ:
        if (info_) info_->ReleaseVarDesc(bound_.lpvardesc);
        break;
      case DESCKIND_TYPECOMP:
        if (bound_.lptcomp) bound_.lptcomp->Release();
        break;
      default:
        break;
    }
    kind_ = DESCKIND_NONE;
    bound_.lpfuncdesc = nullptr;
    info_.Reset();
  }

  ComPtr<ITypeInfo> info_;
  DESCKIND kind_ = DESCKIND_NONE;
  BINDPTR bound_;
};

// How one member is called: its id, the Invoke flags and, when type information told us,
// its parameters.
struct MemberCall {
  DISPID id = DISPID_UNKNOWN;
  WORD flags = 0;
  bool typed = false;
  size_t paramCount = 0;
  bool variableCount = false;
  std::vector<VARTYPE> declared;  // per parameter: VT_BYREF | type for by-reference ones
};

// The Invoke kinds to try, in order, for each invoke kind of the bridge.
struct KindOrder {
  INVOKEKIND kinds[2];
};

bool KindsFor(int invokeKind, KindOrder& order) {
  switch (invokeKind) {
    case 0:
      order = {{INVOKE_PROPERTYGET, INVOKE_FUNC}};
      return true;
    case 1:
      order = {{INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF}};
      return true;
    case 2:
      order = {{INVOKE_FUNC, INVOKE_PROPERTYGET}};
      return true;
    default:
      return false;
  }
}

WORD FlagsOf(INVOKEKIND kind) {
  switch (kind) {
    case INVOKE_PROPERTYGET:
      return DISPATCH_PROPERTYGET;
    case INVOKE_PROPERTYPUT:
      return DISPATCH_PROPERTYPUT;
    case INVOKE_PROPERTYPUTREF:
      return DISPATCH_PROPERTYPUTREF;
    default:
      return DISPATCH_METHOD;
  }
}

// Types a by-reference parameter may point at, for which we can keep the value.
bool IsPlainType(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_ERROR:
      return true;
    default:
      return false;
  }
}

// The declared type of one parameter: VT_BYREF | pointee for a by-reference one.
VARTYPE DeclaredType(const TYPEDESC& type) {
  if (type.vt == VT_PTR && type.lptdesc && IsPlainType(type.lptdesc->vt)) {
    return static_cast<VARTYPE>(VT_BYREF | type.lptdesc->vt);
  }
  return type.vt;
}

int32_t CodeOf(HRESULT hr) {
  switch (hr) {
    case DISP_E_BADPARAMCOUNT:
      return ComResult::kBadArgumentCount;
    case DISP_E_BADVARTYPE:
      return ComResult::kBadArgumentType;
    case DISP_E_EXCEPTION:
      return ComResult::kException;
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME:
      return ComResult::kUnknownMember;
    case DISP_E_NONAMEDARGS:
      return ComResult::kNoNamedArguments;
    case DISP_E_OVERFLOW:
      return ComResult::kOverflow;
    case DISP_E_PARAMNOTFOUND:
      return ComResult::kParameterNotFound;
    case DISP_E_TYPEMISMATCH:
      return ComResult::kTypeMismatch;
    case DISP_E_PARAMNOTOPTIONAL:
      return ComResult::kParameterMissing;
    default:
      return ComResult::kOtherFailure;
  }
}

// Binds through the type information; false with code when the object has it but the name
// does not bind. Objects without usable type information are left to late binding.
bool BindTyped(IDispatch* dispatch, const CWString& name, int invokeKind, MemberCall& call, bool& haveTypeInfo,
               int32_t& code) {
  haveTypeInfo = false;
  ComPtr<ITypeInfo> info;
  if (FAILED(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Address())) || !info) return true;
  ComPtr<ITypeComp> comp;
  if (FAILED(info->GetTypeComp(comp.Address())) || !comp) return true;
  haveTypeInfo = true;

  KindOrder order{};
  if (!KindsFor(invokeKind, order)) {
    code = ComResult::kOtherFailure;
    return false;
  }
  const ULONG hash = LHashValOfNameSys(SYS_WIN64, LOCALE_USER_DEFAULT, name.GetText());
  for (INVOKEKIND kind : order.kinds) {
    BoundMember member;
    if (!member.Bind(comp.Get(), name.GetText(), hash, static_cast<WORD>(kind))) continue;
    call.typed = true;
    if (const FUNCDESC* function = member.Function()) {
      call.id = function->memid;
      call.flags = FlagsOf(function->invkind);
      call.variableCount = function->cParamsOpt == -1;
      for (SHORT i = 0; i < function->cParams; ++i) {
        const ELEMDESC& parameter = function->lprgelemdescParam[i];
        // The return value and the locale of a vtable method are not passed by callers.
        if (parameter.paramdesc.wParamFlags & (PARAMFLAG_FRETVAL | PARAMFLAG_FLCID)) continue;
        call.declared.push_back(DeclaredType(parameter.tdesc));
      }
      call.paramCount = call.declared.size();
    } else {
      const VARDESC* variable = member.Variable();
      call.id = variable->memid;
      const bool put = kind == INVOKE_PROPERTYPUT || kind == INVOKE_PROPERTYPUTREF;
      call.flags = FlagsOf(kind);
      call.paramCount = put ? 1 : 0;
      if (put) call.declared.push_back(DeclaredType(variable->elemdescVar.tdesc));
    }
    return true;
  }
  code = ComResult::kUnknownMember;
  return false;
}

bool BindLate(IDispatch* dispatch, const CWString& name, int invokeKind, MemberCall& call, int32_t& code) {
  LPOLESTR names[1] = {const_cast<LPOLESTR>(name.GetText())};
  if (FAILED(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &call.id))) {
    code = ComResult::kUnknownMember;
    return false;
  }
  switch (invokeKind) {
    case 0:
    case 2:
      call.flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
      return true;
    case 1:
      call.flags = DISPATCH_PROPERTYPUT;
      return true;
    default:
      code = ComResult::kOtherFailure;
      return false;
  }
}

bool SetBstr(VARIANT& out, CWTextRef text) {
  out.bstrVal = SysAllocStringLen(text.Chars(), static_cast<UINT>(text.Length()));
  if (!out.bstrVal) return false;
  out.vt = VT_BSTR;
  return true;
}

// A number by its letter.
bool SetNumber(VARIANT& out, char letter, const CKelComArg& arg) {
  const bool real = arg.GetKind() == CKelComArg::Kind::Real;
  const int64_t integer = real ? static_cast<int64_t>(arg.Real()) : arg.Integer();
  const double number = real ? arg.Real() : static_cast<double>(arg.Integer());
  switch (letter) {
    case 'b':
      out.vt = VT_I1;
      out.cVal = static_cast<CHAR>(integer);
      return true;
    case 's':
      out.vt = VT_I2;
      out.iVal = static_cast<SHORT>(integer);
      return true;
    case 'c':
      out.vt = VT_UI2;
      out.uiVal = static_cast<USHORT>(integer);
      return true;
    case 'n':
      out.vt = VT_I4;
      out.lVal = static_cast<LONG>(integer);
      return true;
    case 'l':
    case 'M':
    case 'p':
    case 'r':
      out.vt = VT_I8;
      out.llVal = integer;
      return true;
    case 'F':
      out.vt = VT_R4;
      out.fltVal = static_cast<float>(number);
      return true;
    case 'f':
      out.vt = VT_R8;
      out.dblVal = number;
      return true;
    case 'B':
      out.vt = VT_BOOL;
      out.boolVal = (real ? number != 0 : integer != 0) ? VARIANT_TRUE : VARIANT_FALSE;
      return true;
    default:
      return false;
  }
}

// A runtime object by its class; declared tells whether the member wants IUnknown.
bool SetObject(VARIANT& out, const CKelObject& object, VARTYPE declared) {
  if (object.IsNullObject()) return true;  // VT_EMPTY
  if (const auto* variant = dynamic_cast<const CKelComVariant*>(&object)) {
    return SUCCEEDED(VariantCopy(&out, const_cast<VARIANT*>(&variant->Get())));
  }
  if (const auto* com = dynamic_cast<const CKelComObject*>(&object)) {
    IUnknown* unknown = com->Interface();
    if (!unknown) return true;  // VT_EMPTY
    if ((declared & VT_TYPEMASK) != VT_UNKNOWN) {
      IDispatch* dispatch = nullptr;
      if (SUCCEEDED(unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) && dispatch) {
        out.vt = VT_DISPATCH;
        out.pdispVal = dispatch;
        return true;
      }
    }
    unknown->AddRef();
    out.vt = VT_UNKNOWN;
    out.punkVal = unknown;
    return true;
  }
  if (const auto* text = dynamic_cast<const CWString*>(&object)) return SetBstr(out, *text);
  if (const auto* boxed = dynamic_cast<const rg_ZhengShuLei*>(&object)) {
    out.vt = VT_I4;
    out.lVal = boxed->value;
    return true;
  }
  return false;
}

bool SetArgument(VARIANT& out, char letter, const CKelComArg& arg, VARTYPE declared) {
  using Kind = CKelComArg::Kind;
  switch (letter) {
    case 'S':
      return arg.GetKind() == Kind::Text && SetBstr(out, arg.Text());
    case 'C':
      if (arg.GetKind() == Kind::Text) return SetBstr(out, arg.Text());
      return arg.GetKind() == Kind::Object && SetObject(out, *arg.Object(), declared);
    default:
      if (arg.GetKind() != Kind::Integer && arg.GetKind() != Kind::Real) return false;
      return SetNumber(out, letter, arg);
  }
}

// Gives a by-reference parameter's new value back to the runtime object it came from.
void CopyBack(const CKelComArg& arg, VARIANT& value) {
  if (CWString* text = arg.WritableText()) {
    if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
      text->SetChars(value.bstrVal, static_cast<int64_t>(SysStringLen(value.bstrVal)));
    }
    return;
  }
  CKelObject* object = arg.WritableObject();
  if (!object) return;
  if (auto* variant = dynamic_cast<CKelComVariant*>(object)) {
    variant->Assign(value);
  } else if (auto* com = dynamic_cast<CKelComObject*>(object)) {
    if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_UNKNOWN))) com->SetInterface(value.punkVal);
  } else if (auto* boxed = dynamic_cast<rg_ZhengShuLei*>(object)) {
    if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_I4))) boxed->value = value.lVal;
  } else if (auto* text = dynamic_cast<CWString*>(object)) {
    if (SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR))) {
      text->SetChars(value.bstrVal, static_cast<int64_t>(SysStringLen(value.bstrVal)));
    }
  }
}

CWString TrimmedName(CWTextRef name) {
  int64_t start = 0;
  while (start < name.Length() && name.Chars()[start] <= L' ') ++start;
  return CWString(name.Chars() + start, name.Length() - start);
}

ComPtr<IUnknown> CreateFromTypeLibrary(const CWString& className, CWTextRef typeLibraryFile) {
  ComPtr<IUnknown> created;
  const CWString file(typeLibraryFile);
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(file.GetText(), REGKIND_NONE, library.Address())) || !library) return created;
  if (std::wcschr(file.GetText(), L'\\')) RegisterTypeLib(library.Get(), const_cast<OLECHAR*>(file.GetText()), nullptr);
  CWString searched(className);  // FindName may rewrite the name's case
  constexpr USHORT kMaxFound = 8;
  ITypeInfo* found[kMaxFound] = {};
  MEMBERID ids[kMaxFound] = {};
  USHORT count = kMaxFound;
  if (FAILED(library->FindName(searched.GetBufferSetLength(searched.Length()), 0, found, ids, &count))) {
    return created;
  }
  for (USHORT i = 0; i < count; ++i) {
    ComPtr<ITypeInfo> info(found[i]);
    TYPEATTR* attributes = nullptr;
    if (created || FAILED(info->GetTypeAttr(&attributes)) || !attributes) continue;
    const bool isClass = attributes->typekind == TKIND_COCLASS;
    info->ReleaseTypeAttr(attributes);
    if (isClass) info->CreateInstance(nullptr, IID_IUnknown, created.VoidAddress());
  }
  return created;
}

}  // namespace

// ---- CKelComVariant ----

CKelComVariant::CKelComVariant() { VariantInit(&value_); }

CKelComVariant::CKelComVariant(CWTextRef text) {
  VariantInit(&value_);
  SetText(text);
}

CKelComVariant::CKelComVariant(const VARIANT& from) {
  VariantInit(&value_);
  Assign(from);
}

CKelComVariant::CKelComVariant(const CKelComVariant& other) : CKelObject(other) {
  VariantInit(&value_);
  Assign(other.value_);
}

CKelComVariant::CKelComVariant(CKelComVariant&& other) noexcept : CKelObject(other) {
  VariantInit(&value_);
  TakeOver(other.value_);
}

CKelComVariant& CKelComVariant::operator=(const CKelComVariant& other) {
  if (this != &other) {
    CKelObject::operator=(other);
    Assign(other.value_);
  }
  return *this;
}

CKelComVariant& CKelComVariant::operator=(CKelComVariant&& other) noexcept {
  if (this != &other) {
    CKelObject::operator=(other);
    TakeOver(other.value_);
  }
  return *this;
}

CKelComVariant::~CKelComVariant() { VariantClear(&value_); }

bool CKelComVariant::Equals(const CKelObject& other) const {
  if (!CKelObject::Equals(other)) return false;
  const auto& variant = static_cast<const CKelComVariant&>(other);
  return VarCmp(const_cast<VARIANT*>(&value_), const_cast<VARIANT*>(&variant.value_), LOCALE_USER_DEFAULT, 0) ==
         static_cast<HRESULT>(VARCMP_EQ);
}

void CKelComVariant::Assign(const VARIANT& from) {
  if (&from == &value_) return;
  VARIANT copy;
  VariantInit(&copy);
  VariantCopy(&copy, const_cast<VARIANT*>(&from));
  TakeOver(copy);
}

void CKelComVariant::TakeOver(VARIANT& from) {
  if (&from == &value_) return;
  VariantClear(&value_);
  value_ = from;
  VariantInit(&from);
}

void CKelComVariant::SetText(CWTextRef text) {
  VARIANT made;
  VariantInit(&made);
  SetBstr(made, text);
  TakeOver(made);
}

void CKelComVariant::Clear() { VariantClear(&value_); }

// ---- CKelComObject ----

CKelComObject::CKelComObject(IUnknown* unknown) { SetInterface(unknown); }

CKelComObject::CKelComObject(const CKelComObject& other) : CKelObject(other), lastError(other.lastError) {
  SetInterface(other.unknown_.Get());
}

CKelComObject::CKelComObject(CKelComObject&& other) noexcept
    : CKelObject(other), lastError(other.lastError), unknown_(std::move(other.unknown_)) {}

CKelComObject& CKelComObject::operator=(const CKelComObject& other) {
  if (this != &other) {
    CKelObject::operator=(other);
    lastError = other.lastError;
    SetInterface(other.unknown_.Get());
  }
  return *this;
}

CKelComObject& CKelComObject::operator=(CKelComObject&& other) noexcept {
  if (this != &other) {
    CKelObject::operator=(other);
    lastError = other.lastError;
    unknown_ = std::move(other.unknown_);
  }
  return *this;
}

bool CKelComObject::Equals(const CKelObject& other) const {
  if (!CKelObject::Equals(other)) return false;
  const auto& com = static_cast<const CKelComObject&>(other);
  if (!unknown_ || !com.unknown_) return !unknown_ && !com.unknown_;
  ComPtr<IUnknown> mine;
  ComPtr<IUnknown> theirs;
  if (FAILED(unknown_->QueryInterface(IID_IUnknown, mine.VoidAddress())) ||
      FAILED(com.unknown_->QueryInterface(IID_IUnknown, theirs.VoidAddress()))) {
    return false;
  }
  return mine.Get() == theirs.Get();
}

void CKelComObject::SetInterface(IUnknown* unknown) {
  if (unknown) unknown->AddRef();
  unknown_.Reset(unknown);
}

bool CKelComObject::CreateObject(CWTextRef name, CWTextRef typeLibraryFile) {
  const CWString className = TrimmedName(name);
  ComPtr<IUnknown> created;
  if (className[0] != L'{' && !typeLibraryFile.IsEmpty()) {
    created = CreateFromTypeLibrary(className, typeLibraryFile);
  }
  if (!created) {
    lastError = ComResult::kOtherFailure;
    if (className.IsEmpty()) return false;
    CLSID classId;
    const HRESULT found = className[0] == L'{' ? CLSIDFromString(className.GetText(), &classId)
                                               : CLSIDFromProgID(className.GetText(), &classId);
    if (FAILED(found)) return false;
    constexpr DWORD kLocal = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;
    HRESULT made =
        CoCreateInstance(classId, nullptr, kLocal | CLSCTX_REMOTE_SERVER, IID_IUnknown, created.VoidAddress());
    if (made == E_INVALIDARG) {
      made = CoCreateInstance(classId, nullptr, kLocal, IID_IUnknown, created.VoidAddress());
    }
    if (FAILED(made) || !created) return false;
  }
  if (FAILED(OleRun(created.Get()))) {
    lastError = ComResult::kOtherFailure;
    return false;
  }
  unknown_ = std::move(created);
  lastError = ComResult::kOk;
  return true;
}

bool CKelComObject::CallMember(int invokeKind, CWTextRef memberName, const char* letters, const CKelComArg* args,
                               size_t count, VARIANT* result) {
  if (!unknown_) {
    lastError = ComResult::kNoObject;
    return false;
  }
  ComPtr<IDispatch> dispatch;
  if (FAILED(unknown_->QueryInterface(IID_IDispatch, dispatch.VoidAddress())) || !dispatch) {
    lastError = ComResult::kNoDispatch;
    return false;
  }
  const CWString name(memberName);
  if (name.IsEmpty()) {
    lastError = ComResult::kUnknownMember;
    return false;
  }
  MemberCall call;
  bool haveTypeInfo = false;
  int32_t code = ComResult::kOk;
  if (!BindTyped(dispatch.Get(), name, invokeKind, call, haveTypeInfo, code) ||
      (!haveTypeInfo && !BindLate(dispatch.Get(), name, invokeKind, call, code))) {
    lastError = code;
    return false;
  }

  const size_t letterCount = letters ? std::strlen(letters) : 0;
  if (letterCount != count || (call.typed && count > call.paramCount && !call.variableCount)) {
    lastError = ComResult::kBadArgumentCount;
    return false;
  }

  // The values in call order; by-reference parameters point into them.
  VariantList values(count);
  VariantList passed(count);
  std::vector<bool> byReference(count, false);
  for (size_t i = 0; i < count; ++i) {
    const VARTYPE declared = i < call.declared.size() ? call.declared[i] : static_cast<VARTYPE>(VT_VARIANT);
    if (!SetArgument(values[i], letters[i], args[i], declared)) {
      lastError = ComResult::kBadArgumentType;
      return false;
    }
    const VARTYPE target = static_cast<VARTYPE>(declared & VT_TYPEMASK);
    if ((declared & VT_BYREF) == 0) continue;
    byReference[i] = true;
    if (target == VT_VARIANT) {
      passed[i].vt = VT_BYREF | VT_VARIANT;
      passed[i].pvarVal = &values[i];
      continue;
    }
    if (FAILED(VariantChangeType(&values[i], &values[i], 0, target))) {
      lastError = ComResult::kTypeMismatch;
      return false;
    }
    passed[i].vt = static_cast<VARTYPE>(VT_BYREF | target);
    passed[i].byref =
        target == VT_DECIMAL ? static_cast<void*>(&values[i].decVal) : static_cast<void*>(&values[i].llVal);
  }

  // IDispatch takes the arguments last to first; by-value ones are moved over.
  std::vector<VARIANT> reversed(count);
  for (size_t i = 0; i < count; ++i) {
    VARIANT& source = byReference[i] ? passed[i] : values[i];
    reversed[count - 1 - i] = source;
    if (!byReference[i]) VariantInit(&source);
  }
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params{};
  params.rgvarg = reversed.data();
  params.cArgs = static_cast<UINT>(count);
  if (call.flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  ExceptionInfo exception;
  UINT argumentError = 0;
  const HRESULT invoked = dispatch->Invoke(call.id, IID_NULL, LOCALE_USER_DEFAULT, call.flags, &params, result,
                                           exception.Get(), &argumentError);
  // By-value arguments go back into values so that they are cleared with them.
  for (size_t i = 0; i < count; ++i) {
    if (!byReference[i]) values[i] = reversed[count - 1 - i];
  }
  if (FAILED(invoked)) {
    lastError = CodeOf(invoked);
    return false;
  }
  for (size_t i = 0; i < count; ++i) {
    if (byReference[i]) CopyBack(args[i], values[i]);
  }
  lastError = ComResult::kOk;
  return true;
}

int32_t CKelComObject::IntegerResult(int invokeKind, CWTextRef memberName, const char* letters, const CKelComArg* args,
                                     size_t count) {
  ResultVariant result;
  if (!CallMember(invokeKind, memberName, letters, args, count, result.Get())) return 0;
  if (FAILED(VariantChangeType(result.Get(), result.Get(), 0, VT_I4))) {
    lastError = ComResult::kResultNotConvertible;
    return 0;
  }
  return result.Get()->lVal;
}

CWString CKelComObject::TextResult(int invokeKind, CWTextRef memberName, const char* letters, const CKelComArg* args,
                                   size_t count) {
  ResultVariant result;
  if (!CallMember(invokeKind, memberName, letters, args, count, result.Get())) return CWString();
  if (FAILED(VariantChangeType(result.Get(), result.Get(), 0, VT_BSTR))) {
    lastError = ComResult::kResultNotConvertible;
    return CWString();
  }
  const BSTR text = result.Get()->bstrVal;
  return CWString(text, static_cast<int64_t>(SysStringLen(text)));
}

CKelComObject CKelComObject::ObjectResult(int invokeKind, CWTextRef memberName, const char* letters,
                                          const CKelComArg* args, size_t count) {
  ResultVariant result;
  if (!CallMember(invokeKind, memberName, letters, args, count, result.Get())) return CKelComObject();
  if (FAILED(VariantChangeType(result.Get(), result.Get(), 0, VT_UNKNOWN))) {
    lastError = ComResult::kResultNotConvertible;
    return CKelComObject();
  }
  return CKelComObject(result.Get()->punkVal);
}
