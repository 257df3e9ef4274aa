#include "core/lifecycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lunadio {
namespace {

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override { clearLifecycle(); }
  void TearDown() override { clearLifecycle(); }
  std::vector<std::string> log;
};

TEST_F(Lifecycle, RunsStagesInFixedOrderWhateverTheRegistrationOrder) {
  addStartRoutine(StartStage::Tray, "tray", [&] {
    log.push_back("tray");
    return true;
  });
  addStartRoutine(StartStage::Fonts, "fonts", [&] {
    log.push_back("fonts");
    return true;
  });
  addStartRoutine(StartStage::Application, "app", [&] {
    log.push_back("app");
    return true;
  });
  addEndRoutine(EndStage::Fonts, "fonts", [&] { log.push_back("~fonts"); });
  addEndRoutine(EndStage::Sound, "sound", [&] { log.push_back("~sound"); });

  EXPECT_TRUE(runStartSequence(StartStage::Tray));
  EXPECT_EQ(log, (std::vector<std::string>{"fonts", "tray"})) << "stops before the guard";
  EXPECT_TRUE(runStartSequence());
  runEndSequence();
  runEndSequence();
  EXPECT_EQ(log, (std::vector<std::string>{"fonts", "tray", "app", "~sound", "~fonts"}));
}

TEST_F(Lifecycle, AFailingStartStopsTheSequence) {
  addStartRoutine(StartStage::Images, "images", [&] {
    log.push_back("images");
    return false;
  });
  addStartRoutine(StartStage::Tray, "tray", [&] {
    log.push_back("tray");
    return true;
  });
  EXPECT_FALSE(runStartSequence());
  EXPECT_EQ(log, std::vector<std::string>{"images"});
}

}  // namespace
}  // namespace lunadio
