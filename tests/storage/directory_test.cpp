#include "storage/directory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/strings.h"
#include "storage/name_pattern.h"
#include "temp_dir.h"

namespace lunadio {
namespace {

struct Seen {
  std::int32_t type;
  std::int64_t size;
  bool operator==(const Seen&) const = default;
};

// Every entry of a listing, by name (UTF-8 bytes).
std::map<std::string, Seen> listAll(ObjectNumber number) {
  std::map<std::string, Seen> seen;
  while (nextDirectoryEntry(number)) {
    seen[toUtf8(directoryEntryName(number))] = {directoryEntryType(number),
                                                directoryEntrySize(number)};
  }
  return seen;
}

std::size_t openDescriptors() {
  std::size_t count = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
       it != std::filesystem::directory_iterator(); ++it) {
    ++count;
  }
  return count;
}

class DirectoryListing : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("a.wav", "12345");
    dir.write("B.WAV", "");
    dir.write("noext", "xy");
    std::filesystem::create_directory(dir.file("sub"));
  }
  void TearDown() override { finishDirectory(ObjectAll); }
  std::u16string root() const { return fromUtf8(dir.path()); }
  test::TempDir dir;
};

TEST_F(DirectoryListing, ListsEveryEntryWithDotsAsDirectories) {
  ASSERT_NE(examineDirectory(1, root(), u"*.*"), 0);
  const std::map<std::string, Seen> expected = {
      {".", {EntryDirectory, 0}}, {"..", {EntryDirectory, 0}}, {"a.wav", {EntryFile, 5}},
      {"B.WAV", {EntryFile, 0}},  {"noext", {EntryFile, 2}},   {"sub", {EntryDirectory, 0}},
  };
  EXPECT_EQ(listAll(1), expected);
  for (int again = 0; again < 3; ++again) EXPECT_EQ(nextDirectoryEntry(1), 0);
  EXPECT_FALSE(directoryEntryName(1).empty()) << "the last entry stays current";
}

TEST_F(DirectoryListing, TrailingSlashAndEmptyPatternChangeNothing) {
  ASSERT_NE(examineDirectory(1, root() + u"/", u""), 0);
  ASSERT_NE(examineDirectory(2, root(), u"*"), 0);
  EXPECT_EQ(listAll(1), listAll(2));
}

TEST_F(DirectoryListing, PatternIgnoresCaseAndNoMatchIsAnEmptyListing) {
  ASSERT_NE(examineDirectory(1, root(), u"*.wav"), 0);
  EXPECT_EQ(listAll(1).size(), 2u);
  ASSERT_NE(examineDirectory(1, root(), u"*.flac"), 0) << "an existing directory never fails";
  EXPECT_EQ(directoryEntryType(1), EntryFile) << "the listing is live";
  EXPECT_EQ(nextDirectoryEntry(1), 0);
  EXPECT_EQ(nextDirectoryEntry(1), 0);
  EXPECT_EQ(directoryEntryName(1), u"");
  ASSERT_NE(examineDirectory(1, u"", root() + u"/sub/*.*"), 0) << "a path inside the pattern";
  EXPECT_EQ(listAll(1).size(), 2u);
}

TEST_F(DirectoryListing, FailureLeavesNoListingUnderTheNumber) {
  const std::vector<std::u16string> unusable = {root() + u"/missing", root() + u"/a.wav",
                                                root() + u"/missing/deeper",
                                                root() + std::u16string(u"\0/sub", 5)};
  for (const auto& path : unusable) {
    ASSERT_NE(examineDirectory(3, root()), 0);
    EXPECT_EQ(examineDirectory(3, path), 0) << toUtf8(path);
    EXPECT_EQ(directoryEntryType(3), 0);
    EXPECT_EQ(nextDirectoryEntry(3), 0);
    EXPECT_EQ(directoryEntrySize(3), 0);
  }
  EXPECT_EQ(examineDirectory(ObjectAny, root() + u"/missing"), 0);
}

TEST_F(DirectoryListing, UnreadableDirectoryFails) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  ::chmod(dir.file("sub").c_str(), 0);
  EXPECT_EQ(examineDirectory(1, root() + u"/sub"), 0);
}

TEST_F(DirectoryListing, ReusingANumberClosesTheOldListing) {
  ASSERT_NE(examineDirectory(5, root()), 0);
  const std::size_t before = openDescriptors();
  for (int i = 0; i < 50; ++i) ASSERT_NE(examineDirectory(5, root()), 0);
  EXPECT_EQ(openDescriptors(), before);
  finishDirectory(5);
  EXPECT_EQ(openDescriptors(), before - 1);
  EXPECT_EQ(nextDirectoryEntry(5), 0);
}

TEST_F(DirectoryListing, DynamicListingsAreDistinctAndDieWhenFinished) {
  const ObjectNumber first = examineDirectory(ObjectAny, root());
  const ObjectNumber second = examineDirectory(ObjectAny, root() + u"/sub");
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(listAll(second).size(), 2u);
  finishDirectory(first);
  EXPECT_EQ(nextDirectoryEntry(first), 0);
  EXPECT_EQ(directoryEntryType(first), 0);
  EXPECT_EQ(directoryEntryType(second), EntryDirectory) << "the other one still lives";
  endDirectories();
  EXPECT_EQ(directoryEntryType(second), 0);
}

TEST_F(DirectoryListing, SizesBeyondFourGigabytesAndOddNamesSurvive) {
  const std::string odd = "caf\xE9 \xFF.wav";  // not UTF-8
  {
    const int fd = ::open(dir.file(odd).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 5'000'000'000LL), 0);  // sparse: costs no disk
    ::close(fd);
  }
  ASSERT_NE(examineDirectory(1, root(), u"caf*"), 0);
  ASSERT_EQ(nextDirectoryEntry(1), 1);
  EXPECT_EQ(toUtf8(directoryEntryName(1)), odd);
  EXPECT_EQ(directoryEntrySize(1), 5'000'000'000LL);
  EXPECT_EQ(nextDirectoryEntry(1), 0);
}

TEST_F(DirectoryListing, LinksTakeTheirTargetsTypeAndSayTheyAreLinks) {
  std::filesystem::create_directory_symlink("sub", dir.file("to-sub"));
  std::filesystem::create_symlink("a.wav", dir.file("to-a"));
  std::filesystem::create_symlink("nowhere", dir.file("dangling"));
  ASSERT_NE(examineDirectory(1, root(), u"*.*"), 0);
  std::map<std::string, std::pair<Seen, std::int32_t>> links;
  while (nextDirectoryEntry(1)) {
    if (directoryEntryIsLink(1)) {
      links[toUtf8(directoryEntryName(1))] = {{directoryEntryType(1), directoryEntrySize(1)}, 1};
    }
  }
  const std::map<std::string, std::pair<Seen, std::int32_t>> expected = {
      {"to-sub", {{EntryDirectory, 0}, 1}},
      {"to-a", {{EntryFile, 5}, 1}},
      {"dangling", {{EntryFile, 7}, 1}},  // the link itself: "nowhere" is 7 bytes
  };
  EXPECT_EQ(links, expected);
}

TEST_F(DirectoryListing, CurrentDirectoryEndsWithOneSlash) {
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const std::u16string here = currentDirectory();
  std::filesystem::current_path("/");
  const std::u16string top = currentDirectory();
  std::filesystem::current_path(saved);
  EXPECT_EQ(toUtf8(here), std::filesystem::canonical(dir.path()).string() + "/");
  EXPECT_EQ(top, u"/");
}

// The library scan walks listing 2 on its own thread while the main thread uses listing 1 and
// opens and closes others; under ThreadSanitizer this also checks the table's guard.
TEST_F(DirectoryListing, TwoThreadsWalkTheirOwnListingsAtOnce) {
  for (int i = 0; i < 40; ++i) dir.write("f" + std::to_string(i), std::string(i, 'x'));
  ASSERT_NE(examineDirectory(1, root()), 0);
  const auto expected = listAll(1);
  std::vector<std::map<std::string, Seen>> scanResults;
  std::thread scan([&] {
    for (int round = 0; round < 30; ++round) {
      if (examineDirectory(2, root())) scanResults.push_back(listAll(2));
      finishDirectory(2);
    }
  });
  int mainRounds = 0;
  for (int round = 0; round < 30; ++round) {
    ASSERT_NE(examineDirectory(1, root()), 0);
    EXPECT_EQ(listAll(1), expected);
    const ObjectNumber extra = examineDirectory(ObjectAny, root());
    EXPECT_NE(examineDirectory(100 + round, root()), 0) << "grows the slot array";
    finishDirectory(extra);
    ++mainRounds;
  }
  scan.join();
  EXPECT_EQ(mainRounds, 30);
  ASSERT_EQ(scanResults.size(), 30u);
  for (const auto& result : scanResults) EXPECT_EQ(result, expected);
}

TEST(NamePattern, MatchesLikeTheListingUsersExpect) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;
    bool matches;
  };
  const std::vector<Case> cases = {
      {u"*.*", u"noext", true},
      {u"*.*", u".", true},
      {u"*", u"x.y", true},
      {u"*.wav", u"A.WAV", true},
      {u"*.wav", u"a.wav.bak", false},
      {u"*.wav", u"wav", false},
      {u"?.ogg", u"a.ogg", true},
      {u"?.ogg", u"ab.ogg", false},
      {u"a*b*c", u"axxbyyc", true},
      {u"a*b*c", u"axxbyy", false},
      {u"song.*", u"song", true},
      {u"song.*", u"song.mp3", true},
      {u"**a**", u"bab", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NamePattern(c.pattern).matches(c.name), c.matches)
        << toUtf8(c.pattern) << " vs " << toUtf8(c.name);
  }
}

}  // namespace
}  // namespace lunadio
