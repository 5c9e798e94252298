// The reader of the download engine's JSON-RPC replies, on RapidJSON: parse a reply, test
// whether a member exists, read a string by JSON Pointer path ("/result/status", or the URI
// fragment form "#/result/status"). Strings stay UTF-8 inside, so no character is lost.
// Parsing is iterative: nesting depth is limited by memory, not by the stack.
// A reader belongs to the thread that uses it.
#pragma once

#include <memory>

#include "runtime/text.h"

class rg_JSONLei_TX : public CKelObject {
  KEL_DECLARE_CLASS(rg_JSONLei_TX, CKelObject)

  rg_JSONLei_TX();
  // A copy takes the object words only and starts without a document.
  rg_JSONLei_TX(const rg_JSONLei_TX& other);
  rg_JSONLei_TX& operator=(const rg_JSONLei_TX& other);
  rg_JSONLei_TX(rg_JSONLei_TX&& other) noexcept;
  rg_JSONLei_TX& operator=(rg_JSONLei_TX&& other) noexcept;
  ~rg_JSONLei_TX() override;

  // True when the whole text is one valid JSON value; it then replaces the previous document.
  // A failed parse leaves no document.
  bool Parse(CWTextRef text);
  // True when the path's parent is an object with a member of exactly the last token's name.
  // A path without "/" is a member name of the root.
  bool HasPath(CWTextRef path) const;
  // The string at the path; "" when the path does not resolve or names another kind of value.
  // A string is read up to its first zero character.
  CWString GetText(CWTextRef path) const;

 private:
  struct Document;
  std::unique_ptr<Document> document_;
};
