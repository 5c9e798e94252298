// Views on values of a mutable yyjson document: the array builder only points at a value of
// a document it does not own; the object builder owns a document of its own. The JSON readers
// hold their values through these and write arrays and objects back as text with them.
// An object belongs to the thread that uses it; a view must not outlive the document it
// refers to.
#pragma once

#include <yyjson.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "runtime/text.h"

struct YyMutDocFree {
  void operator()(yyjson_mut_doc* document) const { yyjson_mut_doc_free(document); }
};
using YyMutDocPtr = std::unique_ptr<yyjson_mut_doc, YyMutDocFree>;

class rg_JSONGouZaoShuZuLei_yy : public CKelObject {
  KEL_DECLARE_CLASS(rg_JSONGouZaoShuZuLei_yy, CKelObject)

  rg_JSONGouZaoShuZuLei_yy() = default;
  // Copies share the viewed document.
  rg_JSONGouZaoShuZuLei_yy(const rg_JSONGouZaoShuZuLei_yy&) = default;
  rg_JSONGouZaoShuZuLei_yy& operator=(const rg_JSONGouZaoShuZuLei_yy&) = default;
  ~rg_JSONGouZaoShuZuLei_yy() override = default;

  // Points the view at a value of a document; either argument null detaches it.
  void Attach(yyjson_mut_doc* document, yyjson_mut_val* viewed);
  // Turns the viewed value into null; false when detached.
  bool SetNull();
  // The viewed array or object as compact JSON; "" for anything else.
  CWString WriteJson() const;

  bool IsAttached() const { return value != nullptr; }

  yyjson_mut_doc* valueDocument = nullptr;  // not owned
  yyjson_mut_val* value = nullptr;
};

class rg_JSONGouZaoDuiXiangLei_yy : public rg_JSONGouZaoShuZuLei_yy {
  KEL_DECLARE_CLASS(rg_JSONGouZaoDuiXiangLei_yy, rg_JSONGouZaoShuZuLei_yy)

  rg_JSONGouZaoDuiXiangLei_yy() = default;
  // A copy owns a deep copy of the other's array or object (see CopyFrom).
  rg_JSONGouZaoDuiXiangLei_yy(const rg_JSONGouZaoDuiXiangLei_yy& other);
  rg_JSONGouZaoDuiXiangLei_yy& operator=(const rg_JSONGouZaoDuiXiangLei_yy& other);
  rg_JSONGouZaoDuiXiangLei_yy(rg_JSONGouZaoDuiXiangLei_yy&& other) noexcept;
  rg_JSONGouZaoDuiXiangLei_yy& operator=(rg_JSONGouZaoDuiXiangLei_yy&& other) noexcept;
  ~rg_JSONGouZaoDuiXiangLei_yy() override = default;

  using CKelObject::CopyFrom;
  // Replaces the own document by a deep copy of an array or object value; any other value
  // (or a failed copy) leaves the builder empty. False then.
  bool CopyFrom(yyjson_mut_doc* document, yyjson_mut_val* source);
  // Read UTF-8 JSON (standard JSON, no extensions) into a new own document viewed at its
  // root. On failure the builder is empty and yyjson's read error is kept.
  bool Read(const char* utf8, size_t size);
  // The same, reading in place: YYJSON_PADDING_SIZE zero bytes must follow the data.
  bool ReadInPlace(char* paddedUtf8, size_t size);
  // Frees the own document and detaches.
  void Clear();

  yyjson_mut_doc* OwnDocument() const { return ownDocument_.get(); }

  int readErrorCode = 0;  // yyjson read error of the last read, 0 after success
  CWString readErrorMessage;

 private:
  bool ReadWith(char* utf8, size_t size, yyjson_read_flag flags);

  YyMutDocPtr ownDocument_;
};
