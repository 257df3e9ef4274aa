#include "core/strings.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace lunadio {

// The process runs in whatever C locale it was given, so lowering does not go through towlower:
// these are the letters of the Latin, Greek and Cyrillic blocks a music library meets.
char16_t lowerChar(char16_t c) {
  auto plus = [c](int offset) { return static_cast<char16_t>(c + offset); };
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? plus(32) : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return plus(0x20);
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return (c % 2 == 0) ? plus(1) : c;
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? plus(1) : c;
  if (c == 0x178) return 0xFF;
  if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) return plus(0x20);
  if (c >= 0x410 && c <= 0x42F) return plus(0x20);
  if (c >= 0x400 && c <= 0x40F) return plus(0x50);
  return c;
}

std::u16string toLower(std::u16string_view text) {
  std::u16string lowered(text);
  for (char16_t& c : lowered) c = lowerChar(c);
  return lowered;
}

int findString(std::u16string_view text, std::u16string_view pattern, int start, int mode) {
  if (text.empty() || pattern.empty()) return 0;
  if (start <= 0) start = 1;
  if (static_cast<std::size_t>(start) > text.size()) return 0;
  std::size_t found;
  if (mode & FindNoCase) {
    const std::u16string lowText = toLower(text);
    const std::u16string lowPattern = toLower(pattern);
    found = lowText.find(lowPattern, static_cast<std::size_t>(start - 1));
  } else {
    found = text.find(pattern, static_cast<std::size_t>(start - 1));
  }
  return found == std::u16string_view::npos ? 0 : static_cast<int>(found) + 1;
}

int findString(std::u16string_view text, std::u16string_view pattern) {
  return findString(text, pattern, 1, 0);
}

bool equalStrings(std::u16string_view a, std::u16string_view b) { return a == b; }

std::u16string rightPart(std::u16string_view text, int count) {
  if (count <= 0) return {};
  if (static_cast<std::size_t>(count) >= text.size()) return std::u16string(text);
  return std::u16string(text.substr(text.size() - static_cast<std::size_t>(count)));
}

std::u16string formatDouble(double value, int decimals) {
  if (std::isinf(value)) return value > 0 ? u"+Infinity" : u"-Infinity";
  if (std::isnan(value)) return u"NaN";
  if (value == 0.0) value = 0.0;  // negative zero prints as zero
  std::vector<char> buffer(700);
  if (decimals == -1) {
    int written = std::snprintf(buffer.data(), buffer.size(), "%.10f", value);
    if (written >= static_cast<int>(buffer.size())) {
      buffer.resize(static_cast<std::size_t>(written) + 1);
      std::snprintf(buffer.data(), buffer.size(), "%.10f", value);
    }
    std::string text(buffer.data());
    if (text.find('.') != std::string::npos) {
      while (!text.empty() && text.back() == '0') text.pop_back();
      if (!text.empty() && text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return toU16(text);
  }
  if (decimals < 0) decimals = 0;
  if (decimals > 512) decimals = 512;
  int written = std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, value);
  if (written >= static_cast<int>(buffer.size())) {
    buffer.resize(static_cast<std::size_t>(written) + 1);
    std::snprintf(buffer.data(), buffer.size(), "%.*f", decimals, value);
  }
  return toU16(buffer.data());
}

std::u16string padLeft(std::u16string_view text, int length, char16_t fill) {
  if (length < 0) length = 0;
  const auto width = static_cast<std::size_t>(length);
  if (text.size() >= width) return std::u16string(text.substr(0, width));
  return std::u16string(width - text.size(), fill) + std::u16string(text);
}

std::u16string getFilePart(std::u16string_view path, int mode) {
  std::size_t begin = 0;
  if (!path.empty() && path.front() == u'"') begin = 1;
  const std::size_t slash = path.find_last_of(u"/\\");
  if (slash != std::u16string_view::npos && slash + 1 > begin) begin = slash + 1;
  std::u16string_view part = path.substr(std::min(begin, path.size()));
  const std::size_t quote = part.find(u'"');
  if (quote != std::u16string_view::npos) part = part.substr(0, quote);
  if (mode & FilePartNoExtension) {
    for (std::size_t i = part.size(); i-- > 0;) {
      if (part[i] == u' ') break;
      if (part[i] == u'.') {
        if (i != part.size() - 1 && i != 0) part = part.substr(0, i);
        break;
      }
    }
  }
  return std::u16string(part);
}

std::u16string getExtensionPart(std::u16string_view path) {
  std::size_t end = path.find(u'"');
  std::u16string_view scan = path.substr(0, end == std::u16string_view::npos ? path.size() : end);
  // A leading quote is part of a quoted path, not of its text.
  if (!scan.empty() && scan.front() == u'"') scan.remove_prefix(1);
  for (std::size_t i = scan.size(); i-- > 0;) {
    const char16_t c = scan[i];
    if (c == u' ' || c == u'/' || c == u'\\') return {};
    if (c == u'.') {
      if (i == 0) return {};
      if (scan[i - 1] == u'/' || scan[i - 1] == u'\\') return {};
      return std::u16string(scan.substr(i + 1));
    }
  }
  return {};
}

std::u16string fromUtf8(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  auto escape = [&](unsigned char b) { out.push_back(static_cast<char16_t>(0xDC00 + b)); };
  while (i < n) {
    const unsigned char b0 = s[i];
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    int length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
      cp = b0 & 0x1F;
      minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      cp = b0 & 0x0F;
      minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      cp = b0 & 0x07;
      minimum = 0x10000;
    }
    bool valid = length > 0 && i + static_cast<std::size_t>(length) <= n;
    for (int k = 1; valid && k < length; ++k) {
      const unsigned char b = s[i + static_cast<std::size_t>(k)];
      if ((b & 0xC0) != 0x80) valid = false;
      cp = (cp << 6) | (b & 0x3F);
    }
    // Encoded surrogates are not valid UTF-8; treating them as bytes keeps escapes unambiguous.
    if (valid && (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) valid = false;
    if (!valid) {
      escape(b0);
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out.push_back(static_cast<char>(cp - 0xDC00));  // an escaped raw byte
      continue;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate that is no escape has no UTF-8 form
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string toU16(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<unsigned char>(c));
  return out;
}

std::u16string numberText(std::int64_t value) { return toU16(std::to_string(value)); }

}  // namespace lunadio
