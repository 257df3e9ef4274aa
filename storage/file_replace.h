#pragma once
// Replacing a file's whole content without ever leaving it half-written (storage internal).

#include <string>
#include <string_view>

namespace lunadio {

enum class ReplaceResult { Replaced, Failed };

// Writes `bytes` to a new file beside `path`, flushes it to the disk and renames it over `path`,
// so `path` holds either its old content or the new one, never a mix. An existing file keeps its
// permissions; a symbolic link is followed and its target replaced. When the directory refuses a
// new file but `inPlaceFd` (an open, writable descriptor of `path`, or -1) is given, the content is
// rewritten through it instead, since losing the save would be worse.
ReplaceResult replaceFileContents(const std::string& path, std::string_view bytes, int inPlaceFd);

}  // namespace lunadio
