#include "desktop/desktop_lifecycle.h"

#include "core/lifecycle.h"
#include "desktop/instance_channel.h"
#include "desktop/mpris.h"

namespace lunadio {

void registerDesktopLifecycle() {
  addEndRoutine(EndStage::Tray, "media controls", [] {
    setMediaPositionReader({});
    stopMediaControls();
  });
  addEndRoutine(EndStage::Tray, "running-instance channel", stopInstanceChannel);
}

}  // namespace lunadio
