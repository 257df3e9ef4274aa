// Which Qt platform the program asks for at start.
#include "ui/ui_runtime_internal.h"

#include <gtest/gtest.h>

namespace lunadio::ui {
namespace {

TEST(UiRuntime, WaylandWithXWaylandRunsOnX11UnlessTheUserChose) {
  const struct {
    DisplayEnvironment environment;
    PlatformChoice expected;
  } cases[] = {
      {{false, true, true}, PlatformChoice::X11},
      {{true, true, true}, PlatformChoice::AsGiven},    // the user's choice stands
      {{false, false, true}, PlatformChoice::AsGiven},  // Wayland only
      {{false, true, false}, PlatformChoice::AsGiven},  // X11 only
      {{false, false, false}, PlatformChoice::NoDisplay},
      {{true, false, false}, PlatformChoice::AsGiven},  // offscreen, for example
  };
  for (const auto& c : cases) {
    EXPECT_EQ(choosePlatform(c.environment), c.expected)
        << c.environment.platformChosen << c.environment.x11 << c.environment.wayland;
  }
}

}  // namespace
}  // namespace lunadio::ui
