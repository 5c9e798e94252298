// Looks at a regular expression of the script engine's language (ECMAScript-like) without
// running it. Pure functions, any thread.
#pragma once

#include <string_view>

// True when some match of the pattern may be empty: an alternative made only of optional
// parts, assertions (^ $ \b \B lookaheads) or back-references. A pattern it cannot read
// (unbalanced parentheses) also counts as true.
bool PatternCanMatchEmpty(std::wstring_view pattern);
