#pragma once
// The preference file: one settings file open per process, read whole when opened, changed in
// memory and written back whole when closed. See preference_document.h for the format.
//
// Contract:
//   openPreferences / createPreferences close (and so save) the file that was open first.
//   Reads on a file that failed to open return their defaults; writes are still collected and
//   closePreferences creates the file. A file that could only be opened for reading is read
//   normally and its changes are discarded at close.
//   A save writes the new text to a temporary file beside the old one, flushes it to the disk and
//   renames it over the old file, so a save that fails half-way leaves the old file whole.
// Threads: meant for the main thread; every call takes one mutex, so a stray call from another
// thread is safe too.

#include <cstdint>
#include <string>
#include <string_view>

#include "storage/preference_document.h"

namespace lunadio {

// Opens an existing file; returns non-zero when it exists and opens, 0 otherwise.
std::int32_t openPreferences(std::u16string_view path, std::uint32_t flags = 0);
// Creates the file empty (truncating an existing one); returns non-zero, or 0 when it cannot.
std::int32_t createPreferences(std::u16string_view path, std::uint32_t flags = 0);
// Saves when modified, then forgets the file.
void closePreferences();

// The key's value as a signed decimal integer, or `defaultValue` when the key is absent.
std::int32_t readPreferenceInteger(std::u16string_view key, std::int32_t defaultValue);
// The key's value as text, or `defaultValue` when the key is absent.
std::u16string readPreferenceString(std::u16string_view key, std::u16string_view defaultValue);
void writePreferenceInteger(std::u16string_view key, std::int32_t value);
void writePreferenceString(std::u16string_view key, std::u16string_view value);
void preferenceComment(std::u16string_view text);

}  // namespace lunadio
