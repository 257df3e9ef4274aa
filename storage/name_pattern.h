#pragma once
// Name patterns of directory listings: "*" matches any run of characters, "?" one character, the
// comparison ignores letter case, and "*.*" matches every name (also names without a dot), as
// users of the listing expect.

#include <string>
#include <string_view>

namespace lunadio {

class NamePattern {
 public:
  explicit NamePattern(std::u16string_view pattern);
  bool matchesEverything() const { return everything_; }
  bool matches(std::u16string_view name) const;

 private:
  bool everything_ = false;
  std::u16string lowered_;
  // "x.*" also matches "x": the ".*" tail may stand for no extension at all.
  bool dotStarTail_ = false;
};

}  // namespace lunadio
