#include "json/json_reader.h"

#include <cstdint>
#include <utility>

#include "json/utf8_buffer.h"
#include "json/yy_text.h"

rg_JSONDuiXiangLei_n::rg_JSONDuiXiangLei_n(const rg_JSONDuiXiangLei_n& other) : CKelObject(other) { CopyReader(other); }

rg_JSONDuiXiangLei_n& rg_JSONDuiXiangLei_n::operator=(const rg_JSONDuiXiangLei_n& other) {
  if (this != &other) {
    CKelObject::operator=(other);
    CopyReader(other);
  }
  return *this;
}

rg_JSONDuiXiangLei_n::rg_JSONDuiXiangLei_n(rg_JSONDuiXiangLei_n&& other) noexcept : CKelObject(other) {
  *this = std::move(other);
}

rg_JSONDuiXiangLei_n& rg_JSONDuiXiangLei_n::operator=(rg_JSONDuiXiangLei_n&& other) noexcept {
  if (this == &other) return *this;
  CKelObject::operator=(other);
  // The document object moves, the yyjson document it owns stays where it is.
  document = std::move(other.document);
  readErrorCode = other.readErrorCode;
  readErrorMessage = std::move(other.readErrorMessage);
  SetRoot(other.root.valueDocument, other.root.value);
  other.readErrorCode = 0;
  other.SetRoot(nullptr, nullptr);
  return *this;
}

void rg_JSONDuiXiangLei_n::CopyReader(const rg_JSONDuiXiangLei_n& other) {
  const bool ownRoot = other.root.valueDocument != nullptr && other.root.valueDocument == other.document.OwnDocument();
  document = other.document;
  readErrorCode = other.readErrorCode;
  readErrorMessage = other.readErrorMessage;
  if (ownRoot) {
    SetRoot(document.valueDocument, document.value);
  } else {
    SetRoot(other.root.valueDocument, other.root.value);
  }
}

void rg_JSONDuiXiangLei_n::SetRoot(yyjson_mut_doc* viewedDocument, yyjson_mut_val* value) {
  root.Attach(viewedDocument, value);
  index_.Clear();
}

bool rg_JSONDuiXiangLei_n::TakeParse(bool parsed) {
  readErrorCode = document.readErrorCode;
  readErrorMessage = document.readErrorMessage;
  SetRoot(document.valueDocument, document.value);
  return parsed;
}

bool rg_JSONDuiXiangLei_n::Parse(CWTextRef text) {
  if (text.IsEmpty()) return ParseUtf8(nullptr, 0);
  Utf8Buffer utf8(text);
  if (!utf8.IsValid()) {
    document.Clear();
    document.readErrorCode = static_cast<int>(YYJSON_READ_ERROR_MEMORY_ALLOCATION);
    document.readErrorMessage = L"memory allocation failed";
    return TakeParse(false);
  }
  return TakeParse(document.ReadInPlace(utf8.Data(), utf8.Size()));
}

bool rg_JSONDuiXiangLei_n::Parse(const CKelMem& utf8) {
  auto size = static_cast<size_t>(utf8.Size());
  const auto* bytes = reinterpret_cast<const char*>(utf8.Data());
  if (size > 0 && bytes[size - 1] == 0) --size;
  return ParseUtf8(bytes, size);
}

bool rg_JSONDuiXiangLei_n::ParseUtf8(const char* utf8, size_t size) {
  if (!utf8 || size == 0) {
    document.Clear();
    document.readErrorCode = static_cast<int>(YYJSON_READ_ERROR_INVALID_PARAMETER);
    document.readErrorMessage = L"input data is NULL";
    return TakeParse(false);
  }
  return TakeParse(document.Read(utf8, size));
}

CWString rg_JSONDuiXiangLei_n::GetText(CWTextRef path) const { return YyValueText(index_.Resolve(Root(), path)); }

bool rg_JSONDuiXiangLei_n::HasPath(CWTextRef path) const { return index_.Resolve(Root(), path) != nullptr; }

bool rg_JSONDuiXiangLei_n::GetInteger(CWTextRef path, int64_t& value) const {
  yyjson_mut_val* found = index_.Resolve(Root(), path);
  if (yyjson_mut_is_sint(found)) {
    value = yyjson_mut_get_sint(found);
    return true;
  }
  if (yyjson_mut_is_uint(found) && yyjson_mut_get_uint(found) <= static_cast<uint64_t>(INT64_MAX)) {
    value = static_cast<int64_t>(yyjson_mut_get_uint(found));
    return true;
  }
  return false;
}

bool rg_JSONDuiXiangLei_n::IsText(CWTextRef path) const { return yyjson_mut_is_str(index_.Resolve(Root(), path)); }

int64_t rg_JSONDuiXiangLei_n::GetCount(CWTextRef path) const {
  yyjson_mut_val* value = index_.Resolve(Root(), path);
  if (yyjson_mut_is_arr(value) || yyjson_mut_is_obj(value)) {
    return static_cast<int64_t>(yyjson_mut_get_len(value));
  }
  return 0;
}

bool rg_JSONDuiXiangLei_n::GetArray(CWTextRef path, rg_JSONShuZuLei_n& view) const {
  if (&view == this) return false;
  yyjson_mut_val* value = index_.Resolve(Root(), path);
  view.document.Clear();
  view.readErrorCode = 0;
  view.readErrorMessage.Clear();
  if (!yyjson_mut_is_arr(value)) {
    view.SetRoot(nullptr, nullptr);
    return false;
  }
  view.SetRoot(root.valueDocument, value);
  return true;
}

yyjson_mut_val* rg_JSONDuiXiangLei_n::ElementAt(int64_t index) const {
  if (index < 0) return nullptr;
  return index_.Element(Root(), static_cast<size_t>(index));
}

CWString rg_JSONShuZuLei_n::GetTextAt(int64_t index) const { return YyValueText(ElementAt(index)); }

int64_t rg_JSONShuZuLei_n::Count() const {
  yyjson_mut_val* array = Root();
  return yyjson_mut_is_arr(array) ? static_cast<int64_t>(yyjson_mut_get_len(array)) : 0;
}
