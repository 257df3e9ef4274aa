#pragma once
// Directory listings: the entries of one directory, one at a time, in the order the file system
// gives them (nothing sorted, nothing skipped: "." and ".." come as directories). A listing is a
// numbered object (core/object_table.h) of the directory table.
//
// Contract:
//   examineDirectory(n, dir, pattern) -> while (nextDirectoryEntry(n)) { name / size / type } ->
//   finishDirectory(n). examineDirectory already reads the first matching entry; a directory that
//   exists but has no match is an empty listing (success, and nextDirectoryEntry returns 0 at
//   once); a missing or unreadable directory fails with 0 and leaves no listing under n. Every
//   other call on a number without a listing returns 0 or "" and changes nothing.
// Threads: any thread. The table and every listing are guarded by one mutex, held for the length
//   of one call (the reads up to the next matching entry), so the main thread's listing 1 and the
//   scan thread's listing 2 can be used at the same time. A number must not be shared by two
//   threads at once: one listing is one walk.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/object_table.h"

namespace lunadio {

inline constexpr std::int32_t EntryFile = 1;
inline constexpr std::int32_t EntryDirectory = 2;

// Lists `directory` ("" is the current directory; with or without a trailing "/") under `number`
// (ObjectAny for a dynamic identifier). The pattern ("" reads as "*.*") may use "*" and "?" and
// ignores letter case; "*.*" matches every name. Returns non-zero on success (the dynamic
// identifier for ObjectAny), 0 on failure. A listing already under `number` is closed first.
std::int32_t examineDirectory(ObjectNumber number, std::u16string_view directory,
                              std::u16string_view pattern = u"*.*");

// Makes the next entry current: 1 when there is one, 0 at the end (and from then on).
std::int32_t nextDirectoryEntry(ObjectNumber number);

// The current entry's name without any path.
std::u16string directoryEntryName(ObjectNumber number);
// The current entry's size in bytes (0 for a directory).
std::int64_t directoryEntrySize(ObjectNumber number);
// EntryFile or EntryDirectory; a symbolic link has the type of what it points to.
std::int32_t directoryEntryType(ObjectNumber number);
// 1 when the current entry is a symbolic link (a walker may skip linked directories to stay out
// of cycles), else 0.
std::int32_t directoryEntryIsLink(ObjectNumber number);

// Closes the listing (ObjectAll: every listing).
void finishDirectory(ObjectNumber number);
// Program end: closes every listing.
void endDirectories();

// The process's current directory, ending with "/" ("" when it cannot be read).
std::u16string currentDirectory();

}  // namespace lunadio
