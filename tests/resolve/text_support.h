// Program texts and text arrays as standard wide strings, which GoogleTest compares and prints.
#pragma once

#include <string>
#include <vector>

#include "runtime/arrays.h"
#include "runtime/text.h"

inline std::wstring Std(const CWString& text) { return text.ToStdString(); }

inline std::vector<std::wstring> Items(const rg_WenBenShuZuLei& list) {
  std::vector<std::wstring> items;
  for (int64_t i = 0; i < list.Count(); ++i) items.push_back(list.Get(i).ToStdString());
  return items;
}
