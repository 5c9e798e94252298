#include "json/yy_text.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/convert.h"

YyWrittenText::YyWrittenText(const yyjson_mut_val* value) {
  if (!value) return;
  size_t length = 0;
  data_ = yyjson_mut_val_write_opts(value, YYJSON_WRITE_NOFLAG, nullptr, &length, nullptr);
  if (data_) size_ = length;
}

YyWrittenText::~YyWrittenText() { std::free(data_); }

CWString YyWrittenText::ToText() const { return Utf8ToText(data_, size_, false); }

CWString YyValueText(yyjson_mut_val* value) {
  switch (yyjson_mut_get_type(value)) {
    case YYJSON_TYPE_NULL:
      return CWString(L"null");
    case YYJSON_TYPE_BOOL:
      return CWString(yyjson_mut_get_bool(value) ? L"true" : L"false");
    case YYJSON_TYPE_NUM:
      switch (yyjson_mut_get_subtype(value)) {
        case YYJSON_SUBTYPE_UINT:
          return CWString(std::to_wstring(yyjson_mut_get_uint(value)));
        case YYJSON_SUBTYPE_SINT:
          return Int64ToText(yyjson_mut_get_sint(value));
        default: {
          CWString text;
          text.AppendDouble(yyjson_mut_get_real(value));
          return text;
        }
      }
    case YYJSON_TYPE_STR: {
      const char* chars = yyjson_mut_get_str(value);
      const size_t length = yyjson_mut_get_len(value);
      const void* zero = std::memchr(chars, 0, length);
      const size_t used = zero ? static_cast<size_t>(static_cast<const char*>(zero) - chars) : length;
      return Utf8ToText(chars, used, false);
    }
    case YYJSON_TYPE_ARR:
    case YYJSON_TYPE_OBJ:
      return YyWrittenText(value).ToText();
    default:
      return CWString();
  }
}
