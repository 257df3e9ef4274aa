#include "storage/preferences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/lifecycle.h"
#include "core/strings.h"
#include "storage/preferences_testing.h"
#include "storage/storage_lifecycle.h"
#include "temp_dir.h"

namespace lunadio {
namespace {

constexpr const char* kMark = "\xEF\xBB\xBF\r\n";

class PreferenceFile : public ::testing::Test {
 protected:
  void TearDown() override {
    failPreferenceSavesAfterBytes(-1);
    closePreferences();
  }
  std::u16string path(const std::string& name = "preferences.con") const {
    return fromUtf8(dir.file(name));
  }
  ino_t inode(const std::string& name) const {
    struct stat info {};
    ::stat(dir.file(name).c_str(), &info);
    return info.st_ino;
  }
  test::TempDir dir;
};

TEST_F(PreferenceFile, FirstUseWritesCommentThenKeysInWriteOrder) {
  ASSERT_EQ(openPreferences(path()), 0);
  ASSERT_NE(createPreferences(path()), 0);
  EXPECT_EQ(dir.read("preferences.con"), "") << "created empty at once";
  preferenceComment(u"Fichier des préférences de Lunadio");
  writePreferenceInteger(u".wav", 1);
  writePreferenceInteger(u".ogg", 1);
  writePreferenceInteger(u".mp3", 0);
  writePreferenceInteger(u".m4a", 0);
  writePreferenceInteger(u".*", 0);
  closePreferences();
  EXPECT_EQ(dir.read("preferences.con"),
            std::string(kMark) +
                "; Fichier des pr\xC3\xA9\x66\xC3\xA9rences de Lunadio\r\n"
                ".wav = 1\r\n.ogg = 1\r\n.mp3 = 0\r\n.m4a = 0\r\n.* = 0\r\n");
}

TEST_F(PreferenceFile, UnchangedFileIsNotRewritten) {
  const std::string content = std::string(kMark) + ".wav = 1\r\n";
  dir.write("preferences.con", content);
  const ino_t before = inode("preferences.con");
  ASSERT_NE(openPreferences(path()), 0);
  EXPECT_EQ(readPreferenceInteger(u".WAV", 7), 1);
  closePreferences();
  EXPECT_EQ(inode("preferences.con"), before);

  ASSERT_NE(openPreferences(path()), 0);
  writePreferenceInteger(u".wav", 1);  // the same value still counts as a change
  closePreferences();
  EXPECT_EQ(dir.read("preferences.con"), content);
  EXPECT_NE(inode("preferences.con"), before);
}

TEST_F(PreferenceFile, ReadsFallBackToDefaultsOnlyForMissingKeys) {
  dir.write("p", std::string(kMark) + "letters = abc\r\nneg =  -12xyz\r\n[g]\r\nlater = 5\r\n");
  ASSERT_NE(openPreferences(path("p")), 0);
  EXPECT_EQ(readPreferenceInteger(u"letters", 9), 0);
  EXPECT_EQ(readPreferenceInteger(u"neg", 9), -12);
  EXPECT_EQ(readPreferenceInteger(u"missing", 9), 9);
  EXPECT_EQ(readPreferenceInteger(u"later", 9), 9);
  EXPECT_EQ(readPreferenceString(u"neg", u"d"), u"-12xyz");
}

TEST_F(PreferenceFile, Latin1FileIsSavedAsUtf8WithTheMark) {
  dir.write("p", "nom = caf\xE9\r\nn = 1\r\n");
  ASSERT_NE(openPreferences(path("p")), 0);
  EXPECT_EQ(readPreferenceString(u"nom", u""), u"café");
  writePreferenceInteger(u"n", 2);
  closePreferences();
  EXPECT_EQ(dir.read("p"), std::string(kMark) + "nom = caf\xC3\xA9\r\nn = 2\r\n");
}

TEST_F(PreferenceFile, EmptyFileStaysWithoutTheMark) {
  dir.write("p", "");
  ASSERT_NE(openPreferences(path("p")), 0);
  writePreferenceInteger(u".wav", 1);
  closePreferences();
  EXPECT_EQ(dir.read("p"), ".wav = 1\r\n");
}

TEST_F(PreferenceFile, MissingFileCollectsWritesAndCreatesItAtClose) {
  EXPECT_EQ(openPreferences(path()), 0);
  EXPECT_EQ(readPreferenceInteger(u".wav", 1), 1);
  writePreferenceInteger(u".mp3", 0);
  EXPECT_EQ(readPreferenceInteger(u".mp3", 5), 0);
  EXPECT_FALSE(dir.exists("preferences.con"));
  closePreferences();
  EXPECT_EQ(dir.read("preferences.con"), std::string(kMark) + ".mp3 = 0\r\n");
}

TEST_F(PreferenceFile, NothingOpenMeansDefaultsAndNoEffect) {
  closePreferences();
  writePreferenceInteger(u"k", 1);
  preferenceComment(u"c");
  EXPECT_EQ(readPreferenceInteger(u"k", 3), 3);
  closePreferences();
  EXPECT_EQ(dir.entryCount(), 0u);
}

TEST_F(PreferenceFile, OpeningAnotherFileSavesTheFirst) {
  dir.write("a", std::string(kMark));
  dir.write("b", std::string(kMark) + "x = 1\r\n");
  ASSERT_NE(openPreferences(path("a")), 0);
  writePreferenceInteger(u"k", 4);
  ASSERT_NE(openPreferences(path("b")), 0);
  EXPECT_EQ(dir.read("a"), std::string(kMark) + "k = 4\r\n");
  EXPECT_EQ(readPreferenceInteger(u"k", -1), -1);
  EXPECT_EQ(readPreferenceInteger(u"x", -1), 1);
  ASSERT_NE(createPreferences(path("b")), 0);
  EXPECT_EQ(dir.read("b"), "") << "create truncates";
}

TEST_F(PreferenceFile, FailedSaveLeavesTheOldFileWholeAndNoLeftovers) {
  const std::string content = std::string(kMark) + ".wav = 1\r\n.ogg = 1\r\n";
  dir.write("preferences.con", content);
  for (std::int64_t cut : {0, 3, 12}) {
    ASSERT_NE(openPreferences(path()), 0);
    writePreferenceInteger(u".wav", 0);
    writePreferenceInteger(u"new", 123456);
    failPreferenceSavesAfterBytes(cut);
    closePreferences();
    failPreferenceSavesAfterBytes(-1);
    EXPECT_EQ(dir.read("preferences.con"), content) << cut;
    EXPECT_EQ(dir.entryCount(), 1u) << "the partial file was removed";
  }
}

TEST_F(PreferenceFile, SaveKeepsPermissionsAndReplacesALinksTarget) {
  std::filesystem::create_directory(dir.file("real"));
  dir.write("real/p", std::string(kMark) + "a = 1\r\n");
  ::chmod(dir.file("real/p").c_str(), 0640);
  std::filesystem::create_symlink("real/p", dir.file("link"));
  ASSERT_NE(openPreferences(path("link")), 0);
  writePreferenceInteger(u"a", 2);
  closePreferences();
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
  EXPECT_EQ(dir.read("real/p"), std::string(kMark) + "a = 2\r\n");
  struct stat info {};
  ::stat(dir.file("real/p").c_str(), &info);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(PreferenceFile, DirectoryIsNoSettingsFileAndIsNeverReplaced) {
  std::filesystem::create_directory(dir.file("d"));
  EXPECT_EQ(openPreferences(path("d")), 0);
  writePreferenceInteger(u"k", 1);
  closePreferences();
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("d")));
  EXPECT_EQ(createPreferences(path("d")), 0);
  // A zero unit must not shorten the path to another file's name.
  EXPECT_EQ(createPreferences(path("cut") + std::u16string(u"\0x", 2)), 0);
  EXPECT_FALSE(dir.exists("cut"));
}

TEST_F(PreferenceFile, ReadOnlyFileIsReadAndItsChangesDiscarded) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write any file";
  const std::string content = std::string(kMark) + "a = 1\r\n";
  dir.write("p", content);
  ::chmod(dir.file("p").c_str(), 0444);
  ASSERT_NE(openPreferences(path("p")), 0);
  EXPECT_EQ(readPreferenceInteger(u"a", 0), 1);
  writePreferenceInteger(u"a", 2);
  closePreferences();
  EXPECT_EQ(dir.read("p"), content);
}

TEST_F(PreferenceFile, WritableFileInLockedDirectoryIsStillSaved) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write any directory";
  std::filesystem::create_directory(dir.file("locked"));
  dir.write("locked/p", std::string(kMark) + "a = 1\r\n");
  ::chmod(dir.file("locked").c_str(), 0555);  // no temporary file can be made beside it
  ASSERT_NE(openPreferences(path("locked/p")), 0);
  writePreferenceInteger(u"a", 2);
  closePreferences();
  EXPECT_EQ(dir.read("locked/p"), std::string(kMark) + "a = 2\r\n");
}

TEST_F(PreferenceFile, ProgramEndSavesPendingChanges) {
  clearLifecycle();
  registerStorageLifecycle();
  ASSERT_EQ(openPreferences(path()), 0);
  writePreferenceInteger(u".ogg", 0);
  runEndSequence();
  clearLifecycle();
  EXPECT_EQ(dir.read("preferences.con"), std::string(kMark) + ".ogg = 0\r\n");
}

}  // namespace
}  // namespace lunadio
