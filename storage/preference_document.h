#pragma once
// The in-memory form of a preference file: its entries in file order, parsed from the file's bytes
// and written back as one text. No file access happens here (preferences.cpp does that), so the
// parser can be tested and fuzzed on plain bytes.
//
// Text is UTF-8 bytes. Keys compare byte for byte, ignoring the case of ASCII letters. Key
// operations see only the entries before the first group header.

#include <cstdint>
#include <list>
#include <optional>
#include <string>
#include <string_view>

namespace lunadio {

// Flags of openPreferences / createPreferences.
inline constexpr std::uint32_t PreferenceNoSpaces = 1;  // "key=value" instead of "key = value"
inline constexpr std::uint32_t PreferenceGroupGap =
    2;  // an empty line before every group but the first

class PreferenceDocument {
 public:
  enum class EntryKind { Key, Comment, Group };
  struct Entry {
    EntryKind kind = EntryKind::Key;
    std::string key;   // Key only
    std::string text;  // the value, the comment text or the group name
  };
  // Whether a save starts with the byte-order mark and an empty line.
  enum class Encoding { Utf8WithMark, NoMark };

  // Reads a file's bytes: a leading EF BB BF marks UTF-8; without it the bytes are ISO-8859-1 and
  // are converted. An empty file keeps Encoding::NoMark.
  static PreferenceDocument fromFileBytes(std::string_view bytes);

  // A document for a new file (written with the mark).
  PreferenceDocument() = default;
  PreferenceDocument(PreferenceDocument&&) = default;
  PreferenceDocument& operator=(PreferenceDocument&&) = default;
  PreferenceDocument(const PreferenceDocument&) = delete;
  PreferenceDocument& operator=(const PreferenceDocument&) = delete;

  // Parses UTF-8 text and appends its entries.
  void parse(std::string_view text);

  // The whole file as it is written: the mark and CR LF (unless NoMark), then every entry and CR
  // LF. A NoMark document that holds bytes beyond ASCII gets the mark too: without it the next read
  // would take those bytes for ISO-8859-1 and double them.
  std::string serialize(std::uint32_t flags) const;

  // The value of `key`, or null.
  const std::string* find(std::string_view key) const;
  // Stores `value` under `key` (in the caller's letter case) and makes it the last written entry.
  void write(std::string_view key, std::string_view value);
  // Adds a comment after the last written entry (first when nothing was written yet).
  void comment(std::string_view text);

  const std::list<Entry>& entries() const { return entries_; }
  Encoding encoding() const { return encoding_; }

 private:
  using Iterator = std::list<Entry>::iterator;
  Iterator findKey(std::string_view key);
  // Where a new key goes: after the last entry before the first group header.
  Iterator newKeyPosition();

  std::list<Entry> entries_;
  // Unset until something is written. Element iterators of a list survive a move of the list.
  std::optional<Iterator> lastWritten_;
  Encoding encoding_ = Encoding::Utf8WithMark;
};

// Reads a value as a signed decimal 32-bit integer: leading white space, an optional sign, then
// digits up to the first non-digit; no digit gives 0; values beyond 32 bits are clamped.
std::int32_t parsePreferenceInteger(std::string_view value);

// Byte-wise equality that ignores the case of ASCII letters.
bool equalKeys(std::string_view a, std::string_view b);

}  // namespace lunadio
