#include "regex/regex.h"

#include "regex/pattern_scan.h"

namespace {

constexpr int kGetOrMethod = 0;
constexpr int kPut = 1;
constexpr int kMethodOrGet = 2;

bool RunningOnWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Wine's engine (8.0) never returns from a global search that meets an empty match; there a
// pattern that can match empty text is searched for its first match only.
bool SearchAllMatches(CWTextRef pattern) {
  static const bool wine = RunningOnWine();
  return !wine || !PatternCanMatchEmpty(std::wstring_view(pattern.Chars(), static_cast<size_t>(pattern.Length())));
}

}  // namespace

rg_ZhengZeLei_n::~rg_ZhengZeLei_n() {
  // The interfaces go before COM does.
  matches.Clear();
  regExp.Clear();
  subject.Clear();
}

bool rg_ZhengZeLei_n::Execute(CWTextRef pattern, CWTextRef text) {
  regExp.Clear();
  regExp.lastError = ComResult::kOk;
  matches.Clear();
  matches.lastError = ComResult::kOk;
  regExp.CreateObject(L"VBScript.RegExp", L"");
  // A failed setting is not fatal by itself: Execute then reports what went wrong.
  regExp.Call(kPut, L"IgnoreCase", "B", true);
  regExp.Call(kPut, L"Multiline", "B", true);
  regExp.Call(kPut, L"Global", "B", SearchAllMatches(pattern));
  regExp.Call(kPut, L"Pattern", "S", pattern);
  subject.SetText(text);
  matches = regExp.CallForObject(kMethodOrGet, L"Execute", "C", subject);
  return matches.HasObject();
}

int32_t rg_ZhengZeLei_n::MatchCount() { return matches.CallForInteger(kGetOrMethod, L"Count", ""); }

CWString rg_ZhengZeLei_n::FirstMatchText() {
  CKelComObject first = matches.CallForObject(kGetOrMethod, L"Item", "n", 0);
  if (!first.HasObject()) return CWString();
  return first.CallForText(kGetOrMethod, L"Value", "");
}
