#include "engine/safe_names.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

bool IsReservedDeviceName(std::wstring_view part) {
  // The platform ignores everything from the first dot and trailing spaces before it.
  std::wstring base(part.substr(0, part.find(L'.')));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" || base == L"CONOUT$") {
    return true;
  }
  if (base.size() == 4 && (base.starts_with(L"COM") || base.starts_with(L"LPT"))) {
    const wchar_t n = base[3];
    return (n >= L'1' && n <= L'9') || n == L'\u00B9' || n == L'\u00B2' || n == L'\u00B3';
  }
  return false;
}

bool IsForbidden(wchar_t c) {
  return c < 32 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' || c == L'*';
}

// One path part made safe; "" when the part is to be left out.
std::wstring SafePart(std::wstring_view part) {
  if (part.empty() || part == L".") return {};
  std::wstring safe;
  for (wchar_t c : part) safe.push_back(IsForbidden(c) ? L'_' : c);
  // The platform drops trailing dots and spaces, which would turn ".." into a step upwards.
  while (!safe.empty() && (safe.back() == L'.' || safe.back() == L' ')) safe.pop_back();
  if (safe.empty()) return L"_";
  if (IsReservedDeviceName(safe)) safe.insert(0, 1, L'_');
  return safe;
}

}  // namespace

CWString SafeRelativeName(CWTextRef name) {
  const std::wstring_view text(name.Chars(), static_cast<size_t>(name.Length()));
  std::wstring out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(L"\\/", start);
    if (end == std::wstring_view::npos) end = text.size();
    const std::wstring part = SafePart(text.substr(start, end - start));
    if (!part.empty()) {
      if (!out.empty()) out.push_back(L'\\');
      out += part;
    }
    start = end + 1;
  }
  return CWString(out);
}

CWString SaveName(CWTextRef name) {
  CWString safe = SafeRelativeName(name);
  if (safe.IsEmpty()) safe = L"test.rar";
  return safe;
}

bool SavePathsClash(const rg_WenBenShuZuLei& names, CWString* clash) {
  // Every file's path, and every folder on the way to it; folders may repeat, nothing else
  // may meet anything.
  std::vector<std::pair<std::wstring, bool>> paths;  // path, is a file
  for (int64_t i = 0; i < names.Count(); ++i) {
    const std::wstring path = SaveName(names.Get(i)).ToStdString();
    for (size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
      paths.emplace_back(path.substr(0, at), false);
    }
    paths.emplace_back(path, true);
  }
  const auto compare = [](const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE);
  };
  std::sort(paths.begin(), paths.end(),
            [&](const auto& a, const auto& b) { return compare(a.first, b.first) == CSTR_LESS_THAN; });
  for (size_t i = 1; i < paths.size(); ++i) {
    const bool same = compare(paths[i - 1].first, paths[i].first) == CSTR_EQUAL;
    if (same && (paths[i - 1].second || paths[i].second)) {
      if (clash) *clash = CWString(paths[i].first.c_str());
      return true;
    }
  }
  return false;
}
