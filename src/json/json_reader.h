// Readers of the cloud drives' JSON answers on yyjson: a parsed document whose values are
// read as texts by path (rg_JSONDuiXiangLei_n), and an array view read by index
// (rg_JSONShuZuLei_n). Paths beginning with "/" are JSON Pointers; any other path is one
// member name of the root. Nothing throws: a failed parse leaves an empty reader.
// A reader belongs to the thread that uses it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "json/json_builder.h"
#include "json/yy_path.h"
#include "runtime/mem.h"
#include "runtime/text.h"

class rg_JSONShuZuLei_n;

class rg_JSONDuiXiangLei_n : public CKelObject {
  KEL_DECLARE_CLASS(rg_JSONDuiXiangLei_n, CKelObject)

  rg_JSONDuiXiangLei_n() = default;
  // A copy owns a deep copy of the document (an array or object root); a copy of a view
  // taken with GetArray views the same array.
  rg_JSONDuiXiangLei_n(const rg_JSONDuiXiangLei_n& other);
  rg_JSONDuiXiangLei_n& operator=(const rg_JSONDuiXiangLei_n& other);
  // The moved-from reader is left empty.
  rg_JSONDuiXiangLei_n(rg_JSONDuiXiangLei_n&& other) noexcept;
  rg_JSONDuiXiangLei_n& operator=(rg_JSONDuiXiangLei_n&& other) noexcept;
  ~rg_JSONDuiXiangLei_n() override = default;

  // Standard JSON text. An empty text fails with code 1, "input data is NULL".
  bool Parse(CWTextRef text);
  // UTF-8 bytes as they came (one terminating zero byte at the end is not part of them).
  bool Parse(const CKelMem& utf8);
  bool ParseUtf8(const char* utf8, size_t size);

  // The value at the path as text (see YyValueText); "" when the path does not resolve.
  CWString GetText(CWTextRef path) const;
  // True when the path names a value of any type, null included.
  bool HasPath(CWTextRef path) const;
  // True, with value set, when the path names a JSON integer (no fraction, no exponent) that
  // fits a signed 64-bit number.
  bool GetInteger(CWTextRef path, int64_t& value) const;
  // True when the path names a JSON string.
  bool IsText(CWTextRef path) const;
  // Members of an object or elements of an array at the path; 0 for anything else.
  int64_t GetCount(CWTextRef path) const;
  // Points view at the array at the path; view depends on this document and must not
  // outlive it or be this object. False (view emptied) when the path names no array.
  bool GetArray(CWTextRef path, rg_JSONShuZuLei_n& view) const;

  int readErrorCode = 0;  // yyjson read error of the last parse, 0 after success
  CWString readErrorMessage;

 protected:
  yyjson_mut_val* Root() const { return root.value; }
  // The element at index of the array root; null outside the array.
  yyjson_mut_val* ElementAt(int64_t index) const;

 private:
  bool TakeParse(bool parsed);
  void SetRoot(yyjson_mut_doc* viewedDocument, yyjson_mut_val* value);
  void CopyReader(const rg_JSONDuiXiangLei_n& other);

  rg_JSONGouZaoDuiXiangLei_yy document;  // owns what Parse read
  rg_JSONGouZaoShuZuLei_yy root;         // the document's root, or a value of another reader
  mutable YyPathIndex index_;            // what lookups below root have learnt
};

class rg_JSONShuZuLei_n : public rg_JSONDuiXiangLei_n {
  KEL_DECLARE_CLASS(rg_JSONShuZuLei_n, rg_JSONDuiXiangLei_n)

  rg_JSONShuZuLei_n() = default;

  // Element index (0-based) as text by the rules of GetText; "" outside the array.
  // Reading the elements in order costs one step each.
  CWString GetTextAt(int64_t index) const;
  // Elements of the viewed array; 0 when the view holds no array.
  int64_t Count() const;
};
