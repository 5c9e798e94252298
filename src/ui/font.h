// Font descriptions: "face, points, bold, italic, underline, strike-out, rotation" (comma
// separated, trimmed, missing fields keep the default GUI font's values). Stateless; any
// thread (the resulting fonts are used on the window's thread).
#pragma once

#include <windows.h>

#include "runtime/text.h"
#include "runtime/win_handles.h"

// The default GUI font with default character set, proof quality and default pitch.
LOGFONTW DefaultLogFont();
// Height for a size in points at the screen's vertical resolution: -(dpi * points / 72).
int PointsToFontHeight(int points);
// The font record a description gives, starting from DefaultLogFont().
LOGFONTW ParseFontDescription(CWTextRef description);
// The toolkit's default control font: the default GUI font at 9 points.
UniqueFont CreateDefaultControlFont();
