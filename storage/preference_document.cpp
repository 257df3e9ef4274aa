#include "storage/preference_document.h"

#include <algorithm>
#include <limits>

namespace lunadio {
namespace {

constexpr std::string_view kMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isLineEnd(char c) { return c == '\r' || c == '\n'; }
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

// A line break inside a stored text would split its line in two on the next read.
std::string oneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (isLineEnd(c)) c = ' ';
  }
  return line;
}

bool hasNonAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  }
  return false;
}

}  // namespace

bool equalKeys(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

std::int32_t parsePreferenceInteger(std::string_view value) {
  std::size_t i = 0;
  while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
  std::int64_t magnitude = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    magnitude = std::min<std::int64_t>(magnitude * 10 + (value[i] - '0'), kLimit);
  }
  const std::int64_t result = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      result, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

PreferenceDocument PreferenceDocument::fromFileBytes(std::string_view bytes) {
  PreferenceDocument document;
  if (bytes.empty()) {
    document.encoding_ = Encoding::NoMark;
    return document;
  }
  if (bytes.size() >= kMark.size() && bytes.substr(0, kMark.size()) == kMark) {
    document.parse(bytes.substr(kMark.size()));
  } else {
    // Without the mark the file is taken as ISO-8859-1, even when it happens to hold UTF-8.
    document.parse(latin1ToUtf8(bytes));
  }
  return document;
}

void PreferenceDocument::parse(std::string_view text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    while (i < n && isBlank(text[i])) ++i;
    if (i >= n) break;
    const char first = text[i];
    std::size_t lineEnd = i;
    while (lineEnd < n && !isLineEnd(text[lineEnd])) ++lineEnd;

    if (first == ';') {
      std::size_t start = i + 1;
      if (start < lineEnd && text[start] == ' ') ++start;
      entries_.push_back(
          {EntryKind::Comment, {}, std::string(text.substr(start, lineEnd - start))});
    } else if (first == '[') {
      const std::size_t start = i + 1;
      std::size_t close = start;
      while (close < lineEnd && text[close] != ']') ++close;
      entries_.push_back({EntryKind::Group, {}, std::string(text.substr(start, close - start))});
    } else if (!isLineEnd(first)) {
      std::size_t keyEnd = i;
      while (keyEnd < lineEnd && text[keyEnd] != '=') ++keyEnd;
      std::size_t trimmed = keyEnd;
      while (trimmed > i && isBlank(text[trimmed - 1])) --trimmed;
      Entry entry{EntryKind::Key, std::string(text.substr(i, trimmed - i)), {}};
      if (keyEnd < lineEnd) {
        std::size_t valueStart = keyEnd + 1;
        while (valueStart < lineEnd && isBlank(text[valueStart])) ++valueStart;
        entry.text.assign(text.substr(valueStart, lineEnd - valueStart));
      }
      entries_.push_back(std::move(entry));
    }
    i = lineEnd;
    while (i < n && isLineEnd(text[i])) ++i;
  }
}

std::string PreferenceDocument::serialize(std::uint32_t flags) const {
  const std::string_view separator = (flags & PreferenceNoSpaces) ? "=" : " = ";
  std::string body;
  bool groupSeen = false;
  for (const Entry& entry : entries_) {
    switch (entry.kind) {
      case EntryKind::Comment:
        body += "; ";
        body += entry.text;
        break;
      case EntryKind::Group:
        if ((flags & PreferenceGroupGap) && groupSeen) body += kLineEnd;
        groupSeen = true;
        body += '[';
        body += entry.text;
        body += ']';
        break;
      case EntryKind::Key:
        body += entry.key;
        body += separator;
        body += entry.text;
        break;
    }
    body += kLineEnd;
  }
  if (encoding_ == Encoding::NoMark && !hasNonAscii(body)) return body;
  std::string text;
  text.reserve(kMark.size() + kLineEnd.size() + body.size());
  text += kMark;
  text += kLineEnd;
  text += body;
  return text;
}

PreferenceDocument::Iterator PreferenceDocument::findKey(std::string_view key) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->kind == EntryKind::Group) break;
    if (it->kind == EntryKind::Key && equalKeys(it->key, key)) return it;
  }
  return entries_.end();
}

const std::string* PreferenceDocument::find(std::string_view key) const {
  for (const Entry& entry : entries_) {
    if (entry.kind == EntryKind::Group) break;
    if (entry.kind == EntryKind::Key && equalKeys(entry.key, key)) return &entry.text;
  }
  return nullptr;
}

PreferenceDocument::Iterator PreferenceDocument::newKeyPosition() {
  auto it = entries_.begin();
  while (it != entries_.end() && it->kind != EntryKind::Group) ++it;
  return it;  // before the first group header, or the end
}

void PreferenceDocument::write(std::string_view key, std::string_view value) {
  auto it = findKey(key);
  if (it != entries_.end()) {
    it->key.assign(key);  // the caller's letter case
    it->text = oneLine(value);
  } else {
    it = entries_.insert(newKeyPosition(), Entry{EntryKind::Key, oneLine(key), oneLine(value)});
  }
  lastWritten_ = it;
}

void PreferenceDocument::comment(std::string_view text) {
  const auto at = lastWritten_ ? std::next(*lastWritten_) : entries_.begin();
  lastWritten_ = entries_.insert(at, Entry{EntryKind::Comment, {}, oneLine(text)});
}

}  // namespace lunadio
