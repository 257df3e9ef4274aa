#pragma once
// Helpers shared by the windows and gadgets tests.

#include <gtest/gtest.h>

#include <vector>

#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/ui_runtime.h"
#include "ui/windows.h"

namespace lunadio::testing {

struct SeenEvent {
  int code;
  ObjectNumber object;
  ObjectNumber window;
  int type;
  bool operator==(const SeenEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const SeenEvent& e) {
  return out << "{" << e.code << ", " << e.object << ", " << e.window << ", " << e.type << "}";
}

// Takes every event that is queued or arrives without waiting.
inline std::vector<SeenEvent> takeEvents() {
  std::vector<SeenEvent> seen;
  while (int code = windowEvent()) {
    seen.push_back({code, eventObject(), eventWindow(), eventType()});
  }
  return seen;
}

// The gadget events of one gadget, in order.
inline std::vector<int> gadgetTypes(const std::vector<SeenEvent>& events, ObjectNumber gadget) {
  std::vector<int> types;
  for (const auto& e : events) {
    if (e.code == EventGadget && e.object == gadget) types.push_back(e.type);
  }
  return types;
}

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startUserInterface());
    takeEvents();
  }
  void TearDown() override {
    freeGadget(ObjectAll);
    closeWindow(ObjectAll);
    takeEvents();
  }
};

}  // namespace lunadio::testing
