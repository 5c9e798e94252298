// The COM bridge: creation, argument letters, by-reference parameters, result conversions and
// result codes, against the platform's script objects and a recording IDispatch of our own.
#include <gtest/gtest.h>

#include <objbase.h>
#include <oleauto.h>

#include <string>
#include <vector>

#include "../runtime/test_print.h"
#include "regex/com_object.h"

namespace {

constexpr int kGetOrMethod = 0;
constexpr int kPut = 1;
constexpr int kMethodOrGet = 2;

enum : DISPID { kRecord = 1, kTwice = 2, kRename = 3, kTake = 4, kAnswer = 5 };

struct Member {
  const wchar_t* name;
  DISPID id;
};
const Member kMembers[] = {
    {L"Record", kRecord}, {L"Twice", kTwice}, {L"Rename", kRename}, {L"Take", kTake}, {L"Answer", kAnswer}};

// Type information for the members with by-reference parameters:
//   Twice([in,out] long*), Rename([in,out] BSTR*), Take([in,out] VARIANT*), Answer() -> long,
//   Record(varargs).
ComPtr<ITypeInfo> MakeTypeInfo() {
  ComPtr<ITypeInfo> made;
  ComPtr<ICreateTypeLib2> library;
  if (FAILED(CreateTypeLib2(SYS_WIN64, L"bridge_fake.tlb", library.Address()))) return made;
  const GUID libraryId = {0x6b1f3a10, 0x51c2, 0x4d7e, {0x9a, 0x11, 0x2f, 0x3c, 0x4d, 0x5e, 0x6f, 0x70}};
  const GUID interfaceId = {0x6b1f3a11, 0x51c2, 0x4d7e, {0x9a, 0x11, 0x2f, 0x3c, 0x4d, 0x5e, 0x6f, 0x70}};
  library->SetGuid(libraryId);
  ComPtr<ICreateTypeInfo> info;
  if (FAILED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"IFake"), TKIND_DISPATCH, info.Address()))) return made;
  info->SetGuid(interfaceId);
  ComPtr<ITypeLib> standard;
  ComPtr<ITypeInfo> dispatchInfo;
  HREFTYPE dispatchRef = 0;
  if (FAILED(LoadRegTypeLib(IID_StdOle, 2, 0, LOCALE_NEUTRAL, standard.Address())) ||
      FAILED(standard->GetTypeInfoOfGuid(IID_IDispatch, dispatchInfo.Address())) ||
      FAILED(info->AddRefTypeInfo(dispatchInfo.Get(), &dispatchRef)) || FAILED(info->AddImplType(0, dispatchRef))) {
    return made;
  }
  struct Function {
    DISPID id;
    const wchar_t* name;
    VARTYPE pointee;  // VT_EMPTY: no parameter
    VARTYPE result;
    SHORT optional;
  };
  const Function functions[] = {{kTwice, L"Twice", VT_I4, VT_VOID, 0},
                                {kRename, L"Rename", VT_BSTR, VT_VOID, 0},
                                {kTake, L"Take", VT_VARIANT, VT_VOID, 0},
                                {kAnswer, L"Answer", VT_EMPTY, VT_I4, 0},
                                {kRecord, L"Record", VT_EMPTY, VT_VARIANT, -1}};
  UINT index = 0;
  for (const Function& function : functions) {
    TYPEDESC pointee{};
    pointee.vt = function.pointee;
    ELEMDESC parameter{};
    parameter.tdesc.vt = VT_PTR;
    parameter.tdesc.lptdesc = &pointee;
    parameter.paramdesc.wParamFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT;
    FUNCDESC description{};
    description.memid = function.id;
    description.funckind = FUNC_DISPATCH;
    description.invkind = INVOKE_FUNC;
    description.callconv = CC_STDCALL;
    description.cParams = function.pointee == VT_EMPTY ? 0 : 1;
    description.cParamsOpt = function.optional;
    description.lprgelemdescParam = function.pointee == VT_EMPTY ? nullptr : &parameter;
    description.elemdescFunc.tdesc.vt = function.result;
    if (FAILED(info->AddFuncDesc(index, &description))) return made;
    LPOLESTR names[2] = {const_cast<LPOLESTR>(function.name), const_cast<LPOLESTR>(L"value")};
    if (FAILED(info->SetFuncAndParamNames(index, names, function.pointee == VT_EMPTY ? 1 : 2))) return made;
    ++index;
  }
  if (FAILED(info->LayOut())) return made;
  info->QueryInterface(IID_ITypeInfo, made.VoidAddress());
  return made;
}

// Records what Invoke receives; members answer with result and fail with failure.
class FakeDispatch : public IDispatch {
 public:
  explicit FakeDispatch(bool typed) {
    if (typed) typeInfo_ = MakeTypeInfo();
    VariantInit(&result);
  }
  ~FakeDispatch() {
    VariantClear(&result);
    for (VARIANT& value : received) VariantClear(&value);
  }
  bool HasTypeInfo() const { return static_cast<bool>(typeInfo_); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_IDispatch) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = typeInfo_ ? 1 : 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
    if (!typeInfo_) {
      *out = nullptr;
      return E_NOTIMPL;
    }
    typeInfo_->AddRef();
    *out = typeInfo_.Get();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (const Member& member : kMembers) {
        if (_wcsicmp(member.name, names[i]) == 0) ids[i] = member.id;
      }
      if (ids[i] == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flagsGiven, DISPPARAMS* params, VARIANT* out,
                                   EXCEPINFO* exception, UINT*) override {
    member = id;
    flags = flagsGiven;
    namedCount = params->cNamedArgs;
    namedId = params->cNamedArgs ? params->rgdispidNamedArgs[0] : 0;
    for (VARIANT& value : received) VariantClear(&value);
    received.assign(params->cArgs, VARIANT{});
    for (UINT i = 0; i < params->cArgs; ++i) {
      VariantInit(&received[i]);
      VariantCopy(&received[i], &params->rgvarg[i]);
    }
    if (failure == DISP_E_EXCEPTION && exception) {
      exception->bstrDescription = SysAllocString(L"raised");
      exception->scode = E_FAIL;
    }
    if (FAILED(failure)) return failure;
    VARIANT& first = params->rgvarg[0];
    if (id == kTwice && first.vt == (VT_BYREF | VT_I4)) *first.plVal *= 2;
    if (id == kRename && first.vt == (VT_BYREF | VT_BSTR)) {
      SysFreeString(*first.pbstrVal);
      *first.pbstrVal = SysAllocString(L"renamed");
    }
    if (id == kTake && first.vt == (VT_BYREF | VT_VARIANT)) {
      VariantClear(first.pvarVal);
      first.pvarVal->vt = VT_I4;
      first.pvarVal->lVal = 42;
    }
    if (out) VariantCopy(out, &result);
    return S_OK;
  }

  LONG refs = 1;
  DISPID member = 0;
  WORD flags = 0;
  UINT namedCount = 0;
  DISPID namedId = 0;
  std::vector<VARIANT> received;  // as Invoke got them: last argument first
  VARIANT result;
  HRESULT failure = S_OK;

 private:
  ComPtr<ITypeInfo> typeInfo_;
};

// An object that is no IDispatch.
class PlainUnknown : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown) {
      *out = this;
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
  LONG refs = 1;
};

class ComBridge : public testing::Test {
 protected:
  ComInit com_{COINIT_APARTMENTTHREADED};
};

TEST_F(ComBridge, CreatesByProgIdAndClassId) {
  CKelComObject object;
  EXPECT_TRUE(object.CreateObject(L" \t VBScript.RegExp"));
  EXPECT_EQ(object.lastError, 0);
  EXPECT_TRUE(object.HasObject());

  CLSID classId;
  ASSERT_EQ(CLSIDFromProgID(L"VBScript.RegExp", &classId), S_OK);
  wchar_t text[64] = {};
  ASSERT_GT(StringFromGUID2(classId, text, 64), 0);
  CKelComObject byId;
  EXPECT_TRUE(byId.CreateObject(text, L"ignored for class ids"));
  EXPECT_TRUE(byId.Call(kPut, L"Pattern", "S", L"x"));
}

TEST_F(ComBridge, CreatesFromATypeLibrary) {
  CKelComObject object;
  ASSERT_TRUE(object.CreateObject(L"RegExp", L"vbscript.dll\\3"));
  EXPECT_TRUE(object.Call(kPut, L"Pattern", "S", L"y"));
  EXPECT_EQ(object.CallForText(kGetOrMethod, L"Pattern", ""), L"y");
}

TEST_F(ComBridge, FailedCreationKeepsTheObjectHeld) {
  CKelComObject object;
  ASSERT_TRUE(object.CreateObject(L"VBScript.RegExp"));
  IUnknown* held = object.Interface();
  EXPECT_FALSE(object.CreateObject(L"No.Such.ProgId.Anywhere"));
  EXPECT_EQ(object.lastError, ComResult::kOtherFailure);
  EXPECT_FALSE(object.CreateObject(L"   "));
  EXPECT_FALSE(object.CreateObject(L"{not-a-class-id}"));
  EXPECT_FALSE(object.CreateObject(L"{00000000-0000-0000-0000-0000000000AB}"));
  EXPECT_EQ(object.Interface(), held);
}

TEST_F(ComBridge, ResultCodesOfTheCallSteps) {
  CKelComObject empty;
  EXPECT_FALSE(empty.Call(kGetOrMethod, L"Count", ""));
  EXPECT_EQ(empty.lastError, ComResult::kNoObject);

  PlainUnknown plain;
  CKelComObject notDispatch(&plain);
  EXPECT_FALSE(notDispatch.Call(kGetOrMethod, L"Count", ""));
  EXPECT_EQ(notDispatch.lastError, ComResult::kNoDispatch);

  CKelComObject regex;
  ASSERT_TRUE(regex.CreateObject(L"VBScript.RegExp"));
  EXPECT_FALSE(regex.Call(kGetOrMethod, L"NoSuchMember", ""));
  EXPECT_EQ(regex.lastError, ComResult::kUnknownMember);
  EXPECT_FALSE(regex.Call(kGetOrMethod, L"", ""));
  EXPECT_EQ(regex.lastError, ComResult::kUnknownMember);
  EXPECT_FALSE(regex.Call(kPut, L"IgnoreCase", "BB", true, true));
  EXPECT_EQ(regex.lastError, ComResult::kBadArgumentCount);
  EXPECT_FALSE(regex.Call(kPut, L"IgnoreCase", "z", 1));
  EXPECT_EQ(regex.lastError, ComResult::kBadArgumentType);
  EXPECT_FALSE(regex.Call(kPut, L"Pattern", "S", 12));
  EXPECT_EQ(regex.lastError, ComResult::kBadArgumentType);
  EXPECT_FALSE(regex.Call(kPut, L"Pattern", "SS", L"a"));
  EXPECT_EQ(regex.lastError, ComResult::kBadArgumentCount);
  EXPECT_FALSE(regex.Call(7, L"Pattern", ""));
  EXPECT_EQ(regex.lastError, ComResult::kOtherFailure);

  ASSERT_TRUE(regex.Call(kPut, L"Pattern", "S", L"("));
  CKelComVariant subject(L"text");
  EXPECT_FALSE(regex.CallForObject(kMethodOrGet, L"Execute", "C", subject).HasObject());
  EXPECT_EQ(regex.lastError, ComResult::kException);

  ASSERT_TRUE(regex.Call(kPut, L"Pattern", "S", L"ab"));
  EXPECT_FALSE(regex.CallForObject(kGetOrMethod, L"Pattern", "").HasObject());
  EXPECT_EQ(regex.lastError, ComResult::kResultNotConvertible);
  EXPECT_EQ(regex.CallForText(kGetOrMethod, L"Pattern", ""), L"ab");
  EXPECT_EQ(regex.lastError, 0);
}

TEST_F(ComBridge, ResultConversions) {
  CKelComObject regex;
  ASSERT_TRUE(regex.CreateObject(L"VBScript.RegExp"));
  ASSERT_TRUE(regex.Call(kPut, L"IgnoreCase", "B", true));
  EXPECT_EQ(regex.CallForInteger(kGetOrMethod, L"IgnoreCase", ""), -1);
  ASSERT_TRUE(regex.Call(kPut, L"IgnoreCase", "B", false));
  EXPECT_EQ(regex.CallForInteger(kGetOrMethod, L"ignorecase", ""), 0);
  ASSERT_TRUE(regex.Call(kPut, L"Pattern", "S", L"not a number"));
  EXPECT_EQ(regex.CallForInteger(kGetOrMethod, L"Pattern", ""), 0);
  EXPECT_EQ(regex.lastError, ComResult::kResultNotConvertible);
  ASSERT_TRUE(regex.Call(kPut, L"Pattern", "S", L"\\d"));
  CKelComVariant subject(L"a1b22");
  CKelComObject matches = regex.CallForObject(kMethodOrGet, L"Execute", "C", subject);
  ASSERT_TRUE(matches.HasObject());
  EXPECT_EQ(matches.CallForInteger(kGetOrMethod, L"Count", ""), 1) << "Global is off";
}

TEST_F(ComBridge, LettersBecomeVariantTypes) {
  FakeDispatch fake(false);
  CKelComObject object(&fake);
  CWString text(L"文本");
  CKelComVariant variant(L"in a variant");
  rg_ZhengShuLei boxed(-7);
  CKelComObject inner(&fake);
  int pointee = 0;
  ASSERT_TRUE(object.Call(kMethodOrGet, L"Record", "bscnlMprFfBSCCCCS", -2, -300, 0xFFFE, 70000, 1LL << 40, int64_t{5},
                          &pointee, int64_t{-1}, 1.5f, 2.25, true, text, variant, boxed, inner,
                          CWString(L"text object"), L"literal"))
      << object.lastError;
  EXPECT_EQ(fake.member, kRecord);
  EXPECT_EQ(fake.flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
  ASSERT_EQ(fake.received.size(), 17u);
  // IDispatch has them last to first.
  auto at = [&](size_t i) -> const VARIANT& { return fake.received[16 - i]; };
  EXPECT_EQ(at(0).vt, VT_I1);
  EXPECT_EQ(at(0).cVal, -2);
  EXPECT_EQ(at(1).vt, VT_I2);
  EXPECT_EQ(at(1).iVal, -300);
  EXPECT_EQ(at(2).vt, VT_UI2);
  EXPECT_EQ(at(2).uiVal, 0xFFFE);
  EXPECT_EQ(at(3).vt, VT_I4);
  EXPECT_EQ(at(3).lVal, 70000);
  EXPECT_EQ(at(4).vt, VT_I8);
  EXPECT_EQ(at(4).llVal, 1LL << 40);
  EXPECT_EQ(at(5).vt, VT_I8);
  EXPECT_EQ(at(6).vt, VT_I8);
  EXPECT_EQ(at(6).llVal, reinterpret_cast<intptr_t>(&pointee));
  EXPECT_EQ(at(7).llVal, -1);
  EXPECT_EQ(at(8).vt, VT_R4);
  EXPECT_EQ(at(8).fltVal, 1.5f);
  EXPECT_EQ(at(9).vt, VT_R8);
  EXPECT_EQ(at(9).dblVal, 2.25);
  EXPECT_EQ(at(10).vt, VT_BOOL);
  EXPECT_EQ(at(10).boolVal, VARIANT_TRUE);
  EXPECT_EQ(at(11).vt, VT_BSTR);
  EXPECT_STREQ(at(11).bstrVal, L"文本");
  EXPECT_EQ(at(12).vt, VT_BSTR);
  EXPECT_STREQ(at(12).bstrVal, L"in a variant");
  EXPECT_EQ(at(13).vt, VT_I4);
  EXPECT_EQ(at(13).lVal, -7);
  EXPECT_EQ(at(14).vt, VT_DISPATCH);
  EXPECT_EQ(at(14).pdispVal, static_cast<IDispatch*>(&fake));
  EXPECT_EQ(at(15).vt, VT_BSTR);
  EXPECT_STREQ(at(15).bstrVal, L"text object");
  EXPECT_STREQ(at(16).bstrVal, L"literal");
}

TEST_F(ComBridge, NullObjectPassesEmpty) {
  FakeDispatch fake(false);
  CKelComObject object(&fake);
  CKelComVariant absent(L"ignored");
  absent.SetNullObject(true);
  CKelComObject none;
  ASSERT_TRUE(object.Call(kGetOrMethod, L"Record", "CC", absent, none));
  ASSERT_EQ(fake.received.size(), 2u);
  EXPECT_EQ(fake.received[0].vt, VT_EMPTY);
  EXPECT_EQ(fake.received[1].vt, VT_EMPTY);
  EXPECT_EQ(fake.flags, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
}

TEST_F(ComBridge, PropertyPutNamesItsValue) {
  FakeDispatch fake(false);
  CKelComObject object(&fake);
  ASSERT_TRUE(object.Call(kPut, L"Record", "n", 5));
  EXPECT_EQ(fake.flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(fake.namedCount, 1u);
  EXPECT_EQ(fake.namedId, DISPID_PROPERTYPUT);
}

TEST_F(ComBridge, InvokeFailuresMapToCodes) {
  FakeDispatch fake(false);
  CKelComObject object(&fake);
  const struct {
    HRESULT hr;
    int32_t code;
  } cases[] = {{DISP_E_BADPARAMCOUNT, -4},
               {DISP_E_BADVARTYPE, -5},
               {DISP_E_EXCEPTION, -6},
               {DISP_E_MEMBERNOTFOUND, -7},
               {DISP_E_NONAMEDARGS, -8},
               {DISP_E_OVERFLOW, -9},
               {DISP_E_PARAMNOTFOUND, -10},
               {DISP_E_TYPEMISMATCH, -11},
               {DISP_E_PARAMNOTOPTIONAL, -12},
               {E_OUTOFMEMORY, -14},
               {E_FAIL, -14}};
  for (const auto& c : cases) {
    fake.failure = c.hr;
    EXPECT_EQ(object.CallForInteger(kGetOrMethod, L"Record", "n", 1), 0);
    EXPECT_EQ(object.lastError, c.code) << std::hex << c.hr;
  }
  fake.failure = S_OK;
  fake.result.vt = VT_I4;
  fake.result.lVal = 99;
  EXPECT_EQ(object.CallForInteger(kGetOrMethod, L"Record", "n", 1), 99);
  EXPECT_EQ(object.lastError, 0);
}

TEST_F(ComBridge, ResultKinds) {
  FakeDispatch fake(false);
  CKelComObject object(&fake);
  fake.result.vt = VT_BSTR;
  fake.result.bstrVal = SysAllocString(L"123");
  EXPECT_EQ(object.CallForInteger(kGetOrMethod, L"Record", ""), 123);
  EXPECT_EQ(object.CallForText(kGetOrMethod, L"Record", ""), L"123");
  VariantClear(&fake.result);
  fake.result.vt = VT_R8;
  fake.result.dblVal = 1e300;
  EXPECT_EQ(object.CallForInteger(kGetOrMethod, L"Record", ""), 0);
  EXPECT_EQ(object.lastError, ComResult::kResultNotConvertible);
  VariantClear(&fake.result);
  fake.result.vt = VT_DISPATCH;
  fake.result.pdispVal = &fake;
  fake.AddRef();
  CKelComObject returned = object.CallForObject(kGetOrMethod, L"Record", "");
  EXPECT_TRUE(returned.HasObject());
  EXPECT_TRUE(returned.Equals(object));
  VariantClear(&fake.result);
  fake.result.vt = VT_NULL;
  EXPECT_EQ(object.CallForText(kGetOrMethod, L"Record", ""), L"");
  EXPECT_EQ(object.lastError, ComResult::kResultNotConvertible);
}

TEST_F(ComBridge, ByReferenceParametersCopyBack) {
  FakeDispatch fake(true);
  ASSERT_TRUE(fake.HasTypeInfo()) << "no type information could be built";
  CKelComObject object(&fake);

  rg_ZhengShuLei boxed(21);
  ASSERT_TRUE(object.Call(kMethodOrGet, L"Twice", "C", boxed)) << object.lastError;
  EXPECT_EQ(fake.member, kTwice);
  EXPECT_EQ(fake.flags, DISPATCH_METHOD);
  EXPECT_EQ(boxed.value, 42);

  int plain = 5;
  ASSERT_TRUE(object.Call(kMethodOrGet, L"Twice", "n", plain));
  EXPECT_EQ(plain, 5) << "basic values are passed as copies";

  ASSERT_TRUE(object.Call(kMethodOrGet, L"Twice", "S", L"8")) << "converted to the declared long";

  CWString name(L"old");
  ASSERT_TRUE(object.Call(kMethodOrGet, L"Rename", "S", name));
  EXPECT_EQ(name, L"renamed");
  const CWString constant(L"kept");
  ASSERT_TRUE(object.Call(kMethodOrGet, L"Rename", "S", constant));
  EXPECT_EQ(constant, L"kept");

  CKelComVariant variant(L"before");
  ASSERT_TRUE(object.Call(kMethodOrGet, L"Take", "C", variant));
  EXPECT_EQ(variant.Get().vt, VT_I4);
  EXPECT_EQ(variant.Get().lVal, 42);

  EXPECT_FALSE(object.Call(kMethodOrGet, L"Twice", "S", L"not a number"));
  EXPECT_EQ(object.lastError, ComResult::kTypeMismatch);
  EXPECT_FALSE(object.Call(kMethodOrGet, L"Twice", "nn", 1, 2));
  EXPECT_EQ(object.lastError, ComResult::kBadArgumentCount);
  EXPECT_TRUE(object.Call(kMethodOrGet, L"Record", "nnnn", 1, 2, 3, 4)) << "a variable argument count";
  EXPECT_FALSE(object.Call(kPut, L"Answer", "n", 1));
  EXPECT_EQ(object.lastError, ComResult::kUnknownMember) << "no put form";
  EXPECT_FALSE(object.Call(kGetOrMethod, L"Missing", ""));
  EXPECT_EQ(object.lastError, ComResult::kUnknownMember);
}

TEST_F(ComBridge, ObjectsShareAndCompareByIdentity) {
  FakeDispatch fake(false);
  {
    CKelComObject a(&fake);
    EXPECT_EQ(fake.refs, 2);
    CKelComObject b(a);
    EXPECT_EQ(fake.refs, 3);
    EXPECT_TRUE(a.Equals(b));
    CKelComObject other;
    ASSERT_TRUE(other.CreateObject(L"VBScript.RegExp"));
    EXPECT_FALSE(a.Equals(other));
    EXPECT_FALSE(a.Equals(CKelComObject()));
    EXPECT_TRUE(CKelComObject().Equals(CKelComObject()));
    b = other;
    EXPECT_EQ(fake.refs, 2);
    CKelComObject moved(std::move(a));
    EXPECT_EQ(fake.refs, 2);
    EXPECT_FALSE(a.HasObject());
  }
  EXPECT_EQ(fake.refs, 1);
}

TEST_F(ComBridge, VariantsCopyAndCompare) {
  CKelComVariant text(L"abc");
  CKelComVariant copy(text);
  EXPECT_NE(copy.Get().bstrVal, text.Get().bstrVal) << "a deep copy";
  EXPECT_TRUE(copy.Equals(text));
  copy.SetText(L"abd");
  EXPECT_FALSE(copy.Equals(text));
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 3;
  CKelComVariant three(number);
  VARIANT real;
  VariantInit(&real);
  real.vt = VT_R8;
  real.dblVal = 3.0;
  EXPECT_TRUE(three.Equals(CKelComVariant(real)));
  EXPECT_TRUE(CKelComVariant().Equals(CKelComVariant()));
  CKelComVariant moved(std::move(copy));
  EXPECT_EQ(copy.Get().vt, VT_EMPTY);
  EXPECT_STREQ(moved.Get().bstrVal, L"abd");
  moved.Clear();
  EXPECT_EQ(moved.Get().vt, VT_EMPTY);
}

}  // namespace
