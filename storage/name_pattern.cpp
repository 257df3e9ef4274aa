#include "storage/name_pattern.h"

#include "core/strings.h"

namespace lunadio {
namespace {

// Iterative wildcard match with one backtrack point: linear in practice, never exponential.
bool globMatch(std::u16string_view pattern, std::u16string_view name) {
  std::size_t p = 0, n = 0;
  std::size_t starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == lowerChar(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace

NamePattern::NamePattern(std::u16string_view pattern) : lowered_(toLower(pattern)) {
  everything_ = lowered_.find_first_not_of(u'*') == std::u16string::npos || lowered_ == u"*.*";
  dotStarTail_ = lowered_.size() >= 2 && lowered_.ends_with(u".*");
}

bool NamePattern::matches(std::u16string_view name) const {
  if (everything_) return true;
  if (globMatch(lowered_, name)) return true;
  return dotStarTail_ &&
         globMatch(std::u16string_view(lowered_).substr(0, lowered_.size() - 2), name);
}

}  // namespace lunadio
