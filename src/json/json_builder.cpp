#include "json/json_builder.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "json/yy_text.h"
#include "runtime/convert.h"

namespace {

bool IsContainer(yyjson_mut_val* value) { return yyjson_mut_is_arr(value) || yyjson_mut_is_obj(value); }

}  // namespace

void rg_JSONGouZaoShuZuLei_yy::Attach(yyjson_mut_doc* document, yyjson_mut_val* viewed) {
  if (!document || !viewed) {
    valueDocument = nullptr;
    value = nullptr;
    return;
  }
  valueDocument = document;
  value = viewed;
}

bool rg_JSONGouZaoShuZuLei_yy::SetNull() { return yyjson_mut_set_null(value); }

CWString rg_JSONGouZaoShuZuLei_yy::WriteJson() const {
  if (!IsContainer(value)) return CWString();
  YyWrittenText written(value);
  return written.ToText();
}

rg_JSONGouZaoDuiXiangLei_yy::rg_JSONGouZaoDuiXiangLei_yy(const rg_JSONGouZaoDuiXiangLei_yy& other)
    : rg_JSONGouZaoShuZuLei_yy() {
  objectFlags = other.objectFlags;
  objectTag = other.objectTag;
  readErrorCode = other.readErrorCode;
  readErrorMessage = other.readErrorMessage;
  CopyFrom(other.valueDocument, other.value);
}

rg_JSONGouZaoDuiXiangLei_yy& rg_JSONGouZaoDuiXiangLei_yy::operator=(const rg_JSONGouZaoDuiXiangLei_yy& other) {
  if (this == &other) return *this;
  objectFlags = other.objectFlags;
  objectTag = other.objectTag;
  CopyFrom(other.valueDocument, other.value);
  readErrorCode = other.readErrorCode;
  readErrorMessage = other.readErrorMessage;
  return *this;
}

rg_JSONGouZaoDuiXiangLei_yy::rg_JSONGouZaoDuiXiangLei_yy(rg_JSONGouZaoDuiXiangLei_yy&& other) noexcept
    : rg_JSONGouZaoShuZuLei_yy(other),
      readErrorCode(other.readErrorCode),
      readErrorMessage(std::move(other.readErrorMessage)),
      ownDocument_(std::move(other.ownDocument_)) {
  other.Attach(nullptr, nullptr);
}

rg_JSONGouZaoDuiXiangLei_yy& rg_JSONGouZaoDuiXiangLei_yy::operator=(rg_JSONGouZaoDuiXiangLei_yy&& other) noexcept {
  if (this == &other) return *this;
  rg_JSONGouZaoShuZuLei_yy::operator=(other);
  readErrorCode = other.readErrorCode;
  readErrorMessage = std::move(other.readErrorMessage);
  ownDocument_ = std::move(other.ownDocument_);
  other.Attach(nullptr, nullptr);
  return *this;
}

bool rg_JSONGouZaoDuiXiangLei_yy::CopyFrom(yyjson_mut_doc* document, yyjson_mut_val* source) {
  // Written out and read back: both directions are iterative in yyjson, whereas its
  // value-to-value copy recurses once per nesting level.
  if (!document || !IsContainer(source)) {
    Clear();
    return false;
  }
  YyWrittenText written(source);
  if (!written.Data()) {
    Clear();
    return false;
  }
  // The source may live in the own document: the text is complete before it is replaced.
  return Read(written.Data(), written.Size());
}

bool rg_JSONGouZaoDuiXiangLei_yy::Read(const char* utf8, size_t size) {
  // Without the in-place flag yyjson only reads the data.
  return ReadWith(const_cast<char*>(utf8), size, YYJSON_READ_NOFLAG);
}

bool rg_JSONGouZaoDuiXiangLei_yy::ReadInPlace(char* paddedUtf8, size_t size) {
  return ReadWith(paddedUtf8, size, YYJSON_READ_INSITU);
}

bool rg_JSONGouZaoDuiXiangLei_yy::ReadWith(char* utf8, size_t size, yyjson_read_flag flags) {
  Clear();
  yyjson_read_err error{};
  yyjson_doc* read = yyjson_read_opts(utf8, size, flags, nullptr, &error);
  if (!read) {
    readErrorCode = static_cast<int>(error.code);
    readErrorMessage = Utf8CharsToText(error.msg);
    return false;
  }
  YyMutDocPtr copy(yyjson_doc_mut_copy(read, nullptr));
  yyjson_doc_free(read);
  if (!copy) {
    readErrorCode = static_cast<int>(YYJSON_READ_ERROR_MEMORY_ALLOCATION);
    readErrorMessage = L"memory allocation failed";
    return false;
  }
  readErrorCode = 0;
  readErrorMessage.Clear();
  ownDocument_ = std::move(copy);
  Attach(ownDocument_.get(), yyjson_mut_doc_get_root(ownDocument_.get()));
  return true;
}

void rg_JSONGouZaoDuiXiangLei_yy::Clear() {
  Attach(nullptr, nullptr);
  ownDocument_.reset();
}
