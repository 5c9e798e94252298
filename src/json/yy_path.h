// Path lookup below the root of a reader, with what the lookups learnt kept for the next
// ones: the members of big objects are sorted once, and a walk through an array goes on from
// the element read last. A caller's loop over every entry of a large answer therefore stays
// close to linear instead of quadratic. The values must not change while the index lives.
// Internal to the JSON library; one index per reader, same thread.
#pragma once

#include <yyjson.h>

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/text.h"

class YyPathIndex {
 public:
  // A path beginning with "/" is a JSON Pointer ("~0", "~1"; array indexes "0" or up to 19
  // digits without a leading zero); any other path is one member name of root.
  yyjson_mut_val* Resolve(yyjson_mut_val* root, CWTextRef path);
  // The first member of that exact name; null for a non-object or a missing name.
  yyjson_mut_val* Member(yyjson_mut_val* object, std::string_view name);
  // Element index of an array; null outside it.
  yyjson_mut_val* Element(yyjson_mut_val* array, size_t index);
  // Forgets everything (the values are about to change or go).
  void Clear();

 private:
  using Entry = std::pair<std::string_view, yyjson_mut_val*>;
  struct SortedObject {
    yyjson_mut_val* object;
    std::vector<Entry> members;  // by name; equal names in document order
  };

  std::vector<SortedObject> objects_;
  yyjson_mut_val* cursorArray_ = nullptr;
  size_t cursorIndex_ = 0;
  yyjson_mut_val* cursorValue_ = nullptr;
};
