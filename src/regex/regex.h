// Regular expressions over the platform's script engine ("VBScript.RegExp") through the COM
// bridge: letters match without regard to case, "^" and "$" match at every line, all
// matches are found from left to right, "." stops at a line feed.
// An object belongs to the thread that made it: construction initialises COM for that
// thread (single-threaded apartment), destruction uninitialises it again.
#pragma once

#include <cstdint>

#include "regex/com_object.h"
#include "runtime/text.h"
#include "runtime/win_handles.h"

class rg_ZhengZeLei_n : public CKelObject {
  KEL_DECLARE_CLASS(rg_ZhengZeLei_n, CKelObject)

  rg_ZhengZeLei_n() = default;
  rg_ZhengZeLei_n(const rg_ZhengZeLei_n&) = delete;
  rg_ZhengZeLei_n& operator=(const rg_ZhengZeLei_n&) = delete;
  ~rg_ZhengZeLei_n() override;

  // Runs pattern over text with a new engine object. True when the engine gave a match
  // collection (also an empty one); false when any step failed (a rejected pattern, no
  // engine), the last bridge code then being in lastError of regExp or matches.
  bool Execute(CWTextRef pattern, CWTextRef text);
  // Matches of the last Execute; 0 without a collection.
  int32_t MatchCount();
  // The whole first (leftmost) match of the last Execute; "" when there is none.
  CWString FirstMatchText();

 private:
  ComInit comInit_{COINIT_APARTMENTTHREADED};  // first in, last out

 public:
  CKelComObject regExp;    // the engine object of the last Execute
  CKelComObject matches;   // its match collection
  CKelComVariant subject;  // the searched text
};
