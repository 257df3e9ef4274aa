// Start and end routines of the images, fonts, drawing, tray and requester modules.

#include "core/lifecycle.h"
#include "ui/fonts.h"
#include "ui/fonts_internal.h"
#include "ui/images.h"
#include "ui/images_library.h"
#include "ui/requesters_internal.h"
#include "ui/tray.h"

namespace lunadio {

void registerUiGfxLifecycle() {
  addStartRoutine(StartStage::Fonts, "display dpi and fonts", [] {
    ui::readDisplayDpi();
    return true;
  });
  addStartRoutine(StartStage::Images, "images and the bitmap reader", [] {
    ui::ImageLibrary::instance();
    return true;
  });
  addStartRoutine(StartStage::Requesters, "requester translations", [] {
    ui::loadRequesterTranslations();
    return true;
  });
  // Tray icons go before the windows that own them; images and fonts after everything that
  // shows them.
  addEndRoutine(EndStage::Tray, "tray icons", [] { removeSysTrayIcon(ObjectAll); });
  addEndRoutine(EndStage::Images, "images", [] { freeImage(ObjectAll); });
  addEndRoutine(EndStage::Fonts, "fonts", [] { freeFont(ObjectAll); });
}

}  // namespace lunadio
