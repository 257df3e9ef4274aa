// A preference file of any content must read without a crash or hang, and what it understood must
// survive a save: reading the saved text gives the same entries, and saving again gives the same
// bytes. Edits must keep that true.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/preference_document.h"

namespace {

using lunadio::PreferenceDocument;

std::string_view withoutMark(std::string_view text) {
  constexpr std::string_view kMark = "\xEF\xBB\xBF\r\n";
  return text.starts_with(kMark) ? text.substr(kMark.size()) : text;
}

bool sameEntries(const PreferenceDocument& a, const PreferenceDocument& b) {
  const auto& x = a.entries();
  const auto& y = b.entries();
  if (x.size() != y.size()) return false;
  for (auto i = x.begin(), j = y.begin(); i != x.end(); ++i, ++j) {
    if (i->kind != j->kind || i->key != j->key || i->text != j->text) return false;
  }
  return true;
}

void checkRoundTrip(const PreferenceDocument& document, std::uint32_t flags) {
  const std::string saved = document.serialize(flags);
  const PreferenceDocument reread = PreferenceDocument::fromFileBytes(saved);
  if (!sameEntries(document, reread)) std::abort();
  // A file saved without the mark is read back as one with it (only an empty file keeps none), so
  // the bytes after the mark must match.
  if (withoutMark(reread.serialize(flags)) != withoutMark(saved)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the flags and a few edits; the rest is the file.
  const std::uint8_t control = data[0];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::uint32_t flags = control & 3u;

  PreferenceDocument document = PreferenceDocument::fromFileBytes(bytes);
  checkRoundTrip(document, flags);

  // Keys and values cut from the input itself, so edits hit existing keys too.
  const std::string_view piece = bytes.substr(0, std::min<std::size_t>(bytes.size(), 8));
  if (control & 4u) document.write(piece, "12");
  if (control & 8u) document.comment(piece);
  if (control & 16u) document.write(".wav", piece);
  if (const std::string* value = document.find(piece))
    (void)lunadio::parsePreferenceInteger(*value);
  (void)lunadio::parsePreferenceInteger(bytes);
  // Texts the format cannot hold (a key with "=", a line break, a leading ";" or "[", blanks at
  // its edges, a value with leading blanks) are the caller's misuse, not lost lines: the round trip
  // is checked only for edits the format can express.
  auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  bool keyFits = true;
  for (char c : piece) keyFits &= c != '=' && c != '\r' && c != '\n';
  if (!piece.empty()) {
    keyFits &= piece.front() != ';' && piece.front() != '[' && !isBlank(piece.front()) &&
               !isBlank(piece.back());
  }
  const bool valueFits = piece.empty() || !isBlank(piece.front());
  if ((control & 4u) && keyFits && document.find(piece) == nullptr) std::abort();
  if ((!(control & 4u) || keyFits) && (!(control & 16u) || valueFits))
    checkRoundTrip(document, flags);
  return 0;
}
