// The command-line tokenizer must take any line without a crash or hang, and quoting must give
// back exactly the arguments it claims to express.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "storage/program_parameters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Bytes become UTF-16 units; most inputs then hold the interesting ones (space, quote) often.
  std::u16string line;
  line.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = data[i];
    line += b == 0xFF ? u'\x3000' : static_cast<char16_t>(b);
  }
  const std::vector<std::u16string> tokens = lunadio::tokenizeCommandLine(line);
  for (const auto& token : tokens) {
    if (token.size() > line.size()) std::abort();
  }

  // The tokens read back from their own quoting; so do arbitrary pieces of the line.
  std::u16string quoted;
  if (lunadio::quoteCommandLine(tokens, quoted) && lunadio::tokenizeCommandLine(quoted) != tokens) {
    std::abort();
  }
  std::vector<std::u16string> pieces;
  std::u16string piece;
  for (char16_t c : line) {
    if (c == u'\n') {
      pieces.push_back(piece);
      piece.clear();
    } else {
      piece += c;
    }
  }
  pieces.push_back(piece);
  if (lunadio::quoteCommandLine(pieces, quoted) && lunadio::tokenizeCommandLine(quoted) != pieces) {
    std::abort();
  }
  return 0;
}
