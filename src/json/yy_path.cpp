#include "json/yy_path.h"

#include <algorithm>
#include <string>

#include "json/utf8_buffer.h"

namespace {

// Objects with fewer members are searched member by member.
constexpr size_t kSortFrom = 64;
// More sorted objects than this and the oldest are dropped.
constexpr size_t kMaxSortedObjects = 64;

std::string_view KeyOf(yyjson_mut_val* key) { return {yyjson_mut_get_str(key), yyjson_mut_get_len(key)}; }

// "0", or 1 to 19 digits without a leading zero.
bool ParseIndex(std::string_view token, size_t& index) {
  if (token.empty() || token.size() > 19) return false;
  if (token[0] == '0') {
    index = 0;
    return token.size() == 1;
  }
  size_t value = 0;
  for (char c : token) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<size_t>(c - '0');
  }
  index = value;
  return true;
}

// The token starting at pos (after a "/") unescaped into token; false for a bad "~" escape.
bool NextToken(std::string_view path, size_t& pos, std::string& token) {
  token.clear();
  while (pos < path.size() && path[pos] != '/') {
    const char c = path[pos++];
    if (c != '~') {
      token += c;
      continue;
    }
    if (pos >= path.size()) return false;
    const char escaped = path[pos++];
    if (escaped == '0') {
      token += '~';
    } else if (escaped == '1') {
      token += '/';
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

yyjson_mut_val* YyPathIndex::Resolve(yyjson_mut_val* root, CWTextRef path) {
  if (!root) return nullptr;
  Utf8Buffer utf8(path);
  if (!utf8.IsValid()) return nullptr;
  const std::string_view text(utf8.Data(), utf8.Size());
  if (text.empty() || text[0] != '/') return Member(root, text);
  yyjson_mut_val* value = root;
  size_t pos = 0;
  std::string token;
  while (pos < text.size()) {
    ++pos;  // the "/"
    if (!NextToken(text, pos, token)) return nullptr;
    if (yyjson_mut_is_obj(value)) {
      value = Member(value, token);
    } else if (yyjson_mut_is_arr(value)) {
      size_t index = 0;
      value = ParseIndex(token, index) ? Element(value, index) : nullptr;
    } else {
      value = nullptr;
    }
    if (!value) return nullptr;
  }
  return value;
}

yyjson_mut_val* YyPathIndex::Member(yyjson_mut_val* object, std::string_view name) {
  if (!yyjson_mut_is_obj(object)) return nullptr;
  const size_t count = yyjson_mut_get_len(object);
  if (count < kSortFrom) return yyjson_mut_obj_getn(object, name.data(), name.size());

  auto found = std::find_if(objects_.begin(), objects_.end(),
                            [object](const SortedObject& sorted) { return sorted.object == object; });
  if (found == objects_.end()) {
    if (objects_.size() >= kMaxSortedObjects) objects_.erase(objects_.begin());
    SortedObject sorted{object, {}};
    sorted.members.reserve(count);
    yyjson_mut_obj_iter iter = yyjson_mut_obj_iter_with(object);
    while (yyjson_mut_val* key = yyjson_mut_obj_iter_next(&iter)) {
      sorted.members.emplace_back(KeyOf(key), yyjson_mut_obj_iter_get_val(key));
    }
    std::stable_sort(sorted.members.begin(), sorted.members.end(),
                     [](const Entry& a, const Entry& b) { return a.first < b.first; });
    objects_.push_back(std::move(sorted));
    found = objects_.end() - 1;
  }
  const std::vector<Entry>& members = found->members;
  const auto first = std::lower_bound(members.begin(), members.end(), name,
                                      [](const Entry& entry, std::string_view wanted) { return entry.first < wanted; });
  return first != members.end() && first->first == name ? first->second : nullptr;
}

yyjson_mut_val* YyPathIndex::Element(yyjson_mut_val* array, size_t index) {
  if (!yyjson_mut_is_arr(array) || index >= yyjson_mut_get_len(array)) return nullptr;
  if (array != cursorArray_ || index < cursorIndex_) {
    cursorArray_ = array;
    cursorIndex_ = 0;
    cursorValue_ = yyjson_mut_arr_get_first(array);
  }
  // Elements form a ring from the first to the last.
  while (cursorIndex_ < index) {
    cursorValue_ = cursorValue_->next;
    ++cursorIndex_;
  }
  return cursorValue_;
}

void YyPathIndex::Clear() {
  objects_.clear();
  cursorArray_ = nullptr;
  cursorIndex_ = 0;
  cursorValue_ = nullptr;
}
