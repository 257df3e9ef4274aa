#include "core/instance_guard.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace lunadio {
namespace {

class InstanceGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lunadio-guard-XXXXXX";
    directory_ = mkdtemp(pattern);
    setenv("XDG_RUNTIME_DIR", directory_.c_str(), 1);
  }
  void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }
  std::string directory_;
};

// flock is per open file description, so a second guard in the same process sees the first.
TEST_F(InstanceGuardTest, SecondGuardSeesTheFirstUntilItEnds) {
  {
    InstanceGuard first("/usr/bin/lunadio");
    EXPECT_FALSE(first.anotherInstanceRuns());
    EXPECT_EQ(first.lockPath(), directory_ + "/lunadio.lock");
    InstanceGuard second("lunadio");
    EXPECT_TRUE(second.anotherInstanceRuns());
    InstanceGuard otherProgram("lunadio-dev");
    EXPECT_FALSE(otherProgram.anotherInstanceRuns());
  }
  InstanceGuard again("lunadio");
  EXPECT_FALSE(again.anotherInstanceRuns());
}

TEST_F(InstanceGuardTest, ACrashedHolderNeverBlocksTheNextStart) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstanceGuard held("crashy");
    std::abort();
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  InstanceGuard next("crashy");
  EXPECT_FALSE(next.anotherInstanceRuns());
}

}  // namespace
}  // namespace lunadio
