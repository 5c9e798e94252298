#include "json/json_tx.h"

#include <rapidjson/document.h>
#include <rapidjson/pointer.h>

#include <cstring>
#include <cwchar>
#include <utility>

#include "json/utf8_buffer.h"
#include "runtime/convert.h"

namespace {

using Value = rapidjson::Value;
using Pointer = rapidjson::Pointer;

// A raw zero unit is never valid JSON, but RapidJSON's memory stream takes it for the end.
bool HasZeroUnit(CWTextRef text) {
  return text.Length() > 0 && std::wmemchr(text.Chars(), L'\0', static_cast<size_t>(text.Length())) != nullptr;
}

}  // namespace

// A 64 KiB-chunk memory pool and a parse stack starting at 1 KiB: RapidJSON's defaults.
struct rg_JSONLei_TX::Document {
  rapidjson::Document value;
};

rg_JSONLei_TX::rg_JSONLei_TX() = default;

rg_JSONLei_TX::rg_JSONLei_TX(const rg_JSONLei_TX& other) : CKelObject(other) {}

rg_JSONLei_TX& rg_JSONLei_TX::operator=(const rg_JSONLei_TX& other) {
  if (this != &other) {
    CKelObject::operator=(other);
    document_.reset();
  }
  return *this;
}

rg_JSONLei_TX::rg_JSONLei_TX(rg_JSONLei_TX&& other) noexcept
    : CKelObject(other), document_(std::move(other.document_)) {}

rg_JSONLei_TX& rg_JSONLei_TX::operator=(rg_JSONLei_TX&& other) noexcept {
  if (this != &other) {
    CKelObject::operator=(other);
    document_ = std::move(other.document_);
  }
  return *this;
}

rg_JSONLei_TX::~rg_JSONLei_TX() = default;

bool rg_JSONLei_TX::Parse(CWTextRef text) {
  document_.reset();
  if (HasZeroUnit(text)) return false;
  Utf8Buffer utf8(text);
  if (!utf8.IsValid()) return false;
  auto parsed = std::make_unique<Document>();
  parsed->value.Parse<rapidjson::kParseIterativeFlag>(utf8.Data(), utf8.Size());
  if (parsed->value.HasParseError()) return false;
  document_ = std::move(parsed);
  return true;
}

bool rg_JSONLei_TX::HasPath(CWTextRef path) const {
  if (!document_) return false;
  const Value& top = document_->value;
  const wchar_t* slash =
      path.Length() > 0 ? std::wmemchr(path.Chars(), L'/', static_cast<size_t>(path.Length())) : nullptr;
  if (!slash) {
    Utf8Buffer name(path);
    if (!name.IsValid() || !top.IsObject()) return false;
    return top.FindMember(Value(rapidjson::StringRef(name.Data(), name.Size()))) != top.MemberEnd();
  }
  Utf8Buffer utf8(path);
  if (!utf8.IsValid()) return false;
  const Pointer pointer(utf8.Data(), utf8.Size());
  if (!pointer.IsValid() || pointer.GetTokenCount() == 0) return false;
  // The parent's tokens, borrowed from the full pointer.
  const Pointer parentPointer(pointer.GetTokens(), pointer.GetTokenCount() - 1);
  const Value* parent = parentPointer.Get(top);
  if (!parent || !parent->IsObject()) return false;
  const Pointer::Token& last = pointer.GetTokens()[pointer.GetTokenCount() - 1];
  return parent->FindMember(Value(rapidjson::StringRef(last.name, last.length))) != parent->MemberEnd();
}

CWString rg_JSONLei_TX::GetText(CWTextRef path) const {
  if (!document_) return CWString();
  Utf8Buffer utf8(path);
  if (!utf8.IsValid()) return CWString();
  const Pointer pointer(utf8.Data(), utf8.Size());
  if (!pointer.IsValid()) return CWString();
  const Value* found = pointer.Get(document_->value);
  if (!found || !found->IsString()) return CWString();
  const char* chars = found->GetString();
  const size_t length = found->GetStringLength();
  const void* zero = std::memchr(chars, 0, length);
  return Utf8ToText(chars, zero ? static_cast<size_t>(static_cast<const char*>(zero) - chars) : length, false);
}
