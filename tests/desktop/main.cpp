// One user interface for every desktop test, on the offscreen platform: the channel and the
// media controls post into its event queue.
#include <cstdlib>

#include <gtest/gtest.h>

#include "ui/ui_runtime.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
  if (!lunadio::startUserInterface()) return 1;
  const int result = RUN_ALL_TESTS();
  lunadio::endUserInterface();
  return result;
}
