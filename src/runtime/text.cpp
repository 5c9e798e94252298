#include "runtime/text.h"

CWTextRef::CWTextRef(const wchar_t* c) : chars_(c ? c : L""), length_(0) {}
CWTextRef::CWTextRef(const wchar_t* c, int64_t n) : chars_(c ? c : L""), length_(n) {}
CWTextRef::CWTextRef(const CWString& t) : chars_(t.GetText()), length_(t.Length()) {}
CWTextRef::CWTextRef(const std::wstring& t) : chars_(t.c_str()), length_(static_cast<int64_t>(t.size())) {}
CWTextRef::CWTextRef(std::wstring_view t) : chars_(t.data()), length_(static_cast<int64_t>(t.size())) {}
CWString::CWString() {}
CWString::CWString(const wchar_t*) {}
CWString::CWString(const wchar_t*, int64_t) {}
CWString::CWString(CWTextRef) {}
CWString::CWString(const std::wstring&) {}
CWString::CWString(CWString&& o) noexcept : CKelObject(o) {}
CWString& CWString::operator=(CWString&&) noexcept { return *this; }
CWString& CWString::operator=(const wchar_t*) { return *this; }
CWString::CWString(ConstTag, const wchar_t* c) : constText_(c) {}
bool CWString::Equals(const CKelObject&) const { return false; }
bool CWString::ReadFrom(CKelStream&) { return false; }
bool CWString::WriteTo(CKelStream&) const { return false; }
const wchar_t* CWString::GetText() const { return L""; }
int64_t CWString::Length() const { return 0; }
bool CWString::IsEmpty() const { return true; }
void CWString::Assign(CWTextRef) {}
void CWString::SetChars(const wchar_t*, int64_t) {}
void CWString::Append(CWTextRef) {}
void CWString::AppendChar(wchar_t) {}
void CWString::AppendInteger(int) {}
void CWString::AppendInt64(int64_t) {}
void CWString::AppendFloat(float) {}
void CWString::AppendDouble(double) {}
void CWString::Format(const wchar_t*, ...) {}
void CWString::AppendFormat(const wchar_t*, ...) {}
void CWString::FormatV(const wchar_t*, va_list) {}
void CWString::AppendFormatV(const wchar_t*, va_list) {}
void CWString::Clear() {}
CWString CWString::Concat(CWTextRef, CWTextRef) { return {}; }
CWString CWString::Left(int64_t) const { return {}; }
CWString CWString::Right(int64_t) const { return {}; }
CWString CWString::Mid(int64_t, int64_t) const { return {}; }
int64_t CWString::Find(CWTextRef, int64_t, bool, bool) const { return -1; }
void CWString::ReplaceAll(CWTextRef, CWTextRef, bool) {}
void CWString::SetLength(int64_t) {}
void CWString::ToLowerAscii() {}
void CWString::TrimRight() {}
bool CWString::StartsWithIgnoreCase(CWTextRef) const { return false; }
CWString CWString::Between(CWTextRef, CWTextRef, CWTextRef) { return {}; }
CWString CWString::LeftOf(CWTextRef, CWTextRef, int64_t) { return {}; }
CWString CWString::LeftOfLast(CWTextRef, CWTextRef) { return {}; }
CWString CWString::RightOf(CWTextRef, CWTextRef) { return {}; }
CWString CWString::RightOfLast(CWTextRef, CWTextRef) { return {}; }
wchar_t* CWString::GetBufferSetLength(int64_t) { return nullptr; }
void CWString::ReleaseBuffer(int64_t) {}
void CWString::MakeOwned() {}
void CWString::AppendUnits(const wchar_t*, int64_t) {}
CWString operator+(const CWString& a, CWTextRef) { return a; }
