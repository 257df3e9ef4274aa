// The engine's internal headers stay the engine's: no source above the libraries (app/, ui/,
// media/) includes audio/internal/ or platform/soundout/internal/. The headers themselves refuse a
// target that does not define their access macro; this walk also catches an include that a
// #ifdef hides from that check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace lunadio {
namespace {

TEST(InternalHeaders, NoSourceAboveTheLibrariesIncludesThem) {
  const std::filesystem::path root = LUNADIO_SOURCE_DIR;
  const std::regex internalInclude(
      R"(^\s*#\s*include\s*["<](audio/internal/|platform/soundout/internal/)[^">]*[">])");
  std::vector<std::string> offenders;
  std::size_t sources = 0;
  for (const char* folder : {"app", "ui", "media"}) {
    if (!std::filesystem::exists(root / folder)) continue;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
      const auto extension = entry.path().extension();
      if (extension != ".cpp" && extension != ".h") continue;
      ++sources;
      std::ifstream in(entry.path());
      std::string line;
      while (std::getline(in, line)) {
        if (std::regex_search(line, internalInclude)) {
          offenders.push_back(entry.path().string() + ": " + line);
        }
      }
    }
  }
  EXPECT_GT(sources, 0u) << "the walk found the sources";
  EXPECT_TRUE(offenders.empty()) << ::testing::PrintToString(offenders);
}

}  // namespace
}  // namespace lunadio
