// A process saving the settings over and over is killed at random moments: every time, the file
// it leaves is whole, either the old settings or the new ones.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "app/player_state.h"
#include "app/settings.h"
#include "storage/preference_document.h"
#include "storage/preferences.h"

#include "../storage/temp_dir.h"

#include <gtest/gtest.h>

namespace lunadio {
namespace {

constexpr FormatSwitches kOld{1, 1, 0, 0, 0};
constexpr FormatSwitches kNew{1, 0, 1, 1, 1};

std::string savedBytes(const test::TempDir& directory, const FormatSwitches& switches) {
  loadFormatFilter();
  applyFormatSwitches(switches);
  closePreferences();
  return directory.read("preferences.con");
}

[[noreturn]] void saveForever() {
  loadFormatFilter();
  for (unsigned round = 0;; ++round) applyFormatSwitches(round % 2 ? kOld : kNew);
}

TEST(SettingsKill, EveryInterruptedSaveLeavesTheOldOrTheNewFile) {
  test::TempDir directory;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(directory.path());
  const std::string newBytes = savedBytes(directory, kNew);
  const std::string oldBytes = savedBytes(directory, kOld);
  ASSERT_NE(oldBytes, newBytes);

  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> killAfterUs(0, 10000);
  constexpr int kKills = 1000;
  int sawOld = 0, sawNew = 0;
  for (int kill = 0; kill < kKills; ++kill) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) saveForever();
    std::this_thread::sleep_for(std::chrono::microseconds(killAfterUs(random)));
    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    const std::string bytes = directory.read("preferences.con");
    ASSERT_TRUE(bytes == oldBytes || bytes == newBytes) << "after kill " << kill << ": " << bytes;
    sawOld += bytes == oldBytes;
    sawNew += bytes == newBytes;
    const PreferenceDocument document = PreferenceDocument::fromFileBytes(bytes);
    ASSERT_NE(document.find(".wav"), nullptr);
  }
  // The kills landed both between and inside saves, or the test proves little.
  EXPECT_GT(sawOld, 0);
  EXPECT_GT(sawNew, 0);

  // A kill can still land between naming the new file and the rename, but a save killed while
  // writing leaves nothing: stray files in the user's directory stay rare.
  int leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
    leftovers += entry.path().filename() != "preferences.con";
  }
  RecordProperty("leftover_files", leftovers);
  EXPECT_LT(leftovers, kKills / 20);
  std::filesystem::current_path(previous);
}

}  // namespace
}  // namespace lunadio
