#include "runtime/arrays.h"

CMStringArray::CMStringArray(const CMStringArray&) {}
CMStringArray::CMStringArray(CMStringArray&&) noexcept {}
CMStringArray& CMStringArray::operator=(const CMStringArray&) { return *this; }
CMStringArray& CMStringArray::operator=(CMStringArray&&) noexcept { return *this; }
CMStringArray::~CMStringArray() {}
const wchar_t* CMStringArray::At(int64_t) const { return L""; }
void CMStringArray::Add(const wchar_t*, int64_t) {}
void CMStringArray::Clear() {}
void CMStringArray::CopyElementsFrom(const CMStringArray&) {}
bool rg_WenBenShuZuLei::Equals(const CKelObject&) const { return false; }
void rg_WenBenShuZuLei::DebugText(CWString&, int64_t) const {}
bool rg_WenBenShuZuLei::ReadFrom(CKelStream&) { return false; }
bool rg_WenBenShuZuLei::WriteTo(CKelStream&) const { return false; }
CWString rg_WenBenShuZuLei::Get(int64_t) const { return {}; }
const wchar_t* rg_WenBenShuZuLei::GetText(int64_t) const { return L""; }
void rg_WenBenShuZuLei::Add(CWTextRef) {}
int64_t rg_WenBenShuZuLei::Split(CWTextRef, CWTextRef, bool, bool) { return 0; }
int64_t rg_WenBenShuZuLei::SplitByText(CWTextRef, CWTextRef) { return 0; }
bool rg_ZhengShuShuZuLei::Equals(const CKelObject&) const { return false; }
bool rg_ZhengShuShuZuLei::ReadFrom(CKelStream&) { return false; }
bool rg_ZhengShuShuZuLei::WriteTo(CKelStream&) const { return false; }
int rg_ZhengShuShuZuLei::Get(int64_t) const { return 0; }
void rg_ZhengShuShuZuLei::Set(int64_t, int) {}
void rg_ZhengShuShuZuLei::Add(int) {}
CKelObjectArray::CKelObjectArray(const CKelObjectArray& o) : CKelObject(o) {}
CKelObjectArray::CKelObjectArray(CKelObjectArray&& o) noexcept : CKelObject(o) {}
CKelObjectArray& CKelObjectArray::operator=(const CKelObjectArray&) { return *this; }
CKelObjectArray& CKelObjectArray::operator=(CKelObjectArray&&) noexcept { return *this; }
CKelObjectArray::~CKelObjectArray() {}
bool CKelObjectArray::Equals(const CKelObject&) const { return false; }
void CKelObjectArray::DebugText(CWString&, int64_t) const {}
CKelObject* CKelObjectArray::Get(int64_t) const { return nullptr; }
void CKelObjectArray::Add(CKelObject*) {}
void CKelObjectArray::Clear() {}
void CKelObjectArray::CloneElementsFrom(const CKelObjectArray&) {}
