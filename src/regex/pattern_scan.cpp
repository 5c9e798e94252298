#include "regex/pattern_scan.h"

#include <cstddef>
#include <cwctype>
#include <vector>

namespace {

bool IsHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }
bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// One group level: whether an alternative ended that may be empty, and whether every term
// of the current alternative may be empty.
struct Level {
  bool lookahead = false;
  bool emptyAlternative = false;
  bool emptySoFar = true;
};

// Reads a quantifier at pos; minimum is its smallest repeat count. False (pos unchanged)
// when no quantifier stands there; a "{" that does not form one is a literal.
bool ReadQuantifier(std::wstring_view p, size_t& pos, unsigned long& minimum) {
  if (pos >= p.size()) return false;
  const wchar_t c = p[pos];
  size_t next = pos + 1;
  if (c == L'?' || c == L'*') {
    minimum = 0;
  } else if (c == L'+') {
    minimum = 1;
  } else if (c == L'{') {
    size_t digits = next;
    unsigned long count = 0;
    while (digits < p.size() && IsDigit(p[digits])) {
      count = count > 100000 ? count : count * 10 + static_cast<unsigned long>(p[digits] - L'0');
      ++digits;
    }
    if (digits == next) return false;
    size_t end = digits;
    if (end < p.size() && p[end] == L',') {
      ++end;
      while (end < p.size() && IsDigit(p[end])) ++end;
    }
    if (end >= p.size() || p[end] != L'}') return false;
    minimum = count;
    next = end + 1;
  } else {
    return false;
  }
  if (next < p.size() && p[next] == L'?') ++next;  // lazy form
  pos = next;
  return true;
}

// Skips an escape starting at the backslash; tells whether it matches without consuming.
size_t SkipEscape(std::wstring_view p, size_t pos, bool& zeroWidth) {
  zeroWidth = false;
  size_t next = pos + 1;
  if (next >= p.size()) {
    zeroWidth = true;  // a pattern cut after its backslash is not one we can judge
    return next;
  }
  const wchar_t c = p[next++];
  if (c == L'b' || c == L'B' || (c >= L'1' && c <= L'9')) {
    zeroWidth = true;  // boundaries, and back-references to groups that may be empty
    while (c != L'b' && c != L'B' && next < p.size() && IsDigit(p[next])) ++next;
  } else if (c == L'x' && next + 1 < p.size() && IsHex(p[next]) && IsHex(p[next + 1])) {
    next += 2;
  } else if (c == L'u' && next + 3 < p.size() && IsHex(p[next]) && IsHex(p[next + 1]) && IsHex(p[next + 2]) &&
             IsHex(p[next + 3])) {
    next += 4;
  } else if (c == L'c' && next < p.size() && std::iswalpha(p[next])) {
    ++next;
  }
  return next;
}

// Skips a bracket set starting at "["; "[]" is an empty set, as in the engine's language.
size_t SkipSet(std::wstring_view p, size_t pos) {
  size_t next = pos + 1;
  if (next < p.size() && p[next] == L'^') ++next;
  while (next < p.size() && p[next] != L']') {
    next += p[next] == L'\\' ? 2 : 1;
  }
  return next + 1;
}

}  // namespace

bool PatternCanMatchEmpty(std::wstring_view p) {
  std::vector<Level> levels(1);
  size_t pos = 0;
  while (pos < p.size()) {
    const wchar_t c = p[pos];
    if (c == L'|') {
      Level& level = levels.back();
      level.emptyAlternative = level.emptyAlternative || level.emptySoFar;
      level.emptySoFar = true;
      ++pos;
      continue;
    }
    if (c == L'(') {
      Level opened;
      pos += 1;
      if (pos + 1 < p.size() && p[pos] == L'?') {
        opened.lookahead = p[pos + 1] == L'=' || p[pos + 1] == L'!';
        pos += 2;  // "(?:", "(?=" or "(?!"
      }
      levels.push_back(opened);
      continue;
    }
    bool atomEmpty = false;
    if (c == L')') {
      if (levels.size() == 1) return true;
      const Level closed = levels.back();
      levels.pop_back();
      atomEmpty = closed.lookahead || closed.emptyAlternative || closed.emptySoFar;
      ++pos;
    } else if (c == L'\\') {
      pos = SkipEscape(p, pos, atomEmpty);
    } else if (c == L'[') {
      pos = SkipSet(p, pos);
    } else {
      atomEmpty = c == L'^' || c == L'$';
      ++pos;
    }
    unsigned long minimum = 1;
    if (ReadQuantifier(p, pos, minimum) && minimum == 0) atomEmpty = true;
    Level& level = levels.back();
    level.emptySoFar = level.emptySoFar && atomEmpty;
  }
  if (levels.size() != 1) return true;
  return levels.back().emptyAlternative || levels.back().emptySoFar;
}
