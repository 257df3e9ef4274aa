// Stand-ins for the image and font lookups until the images and fonts module is linked in; the
// real definitions take precedence over these weak ones.
#include "ui/ui_internal.h"

namespace lunadio::ui {

__attribute__((weak)) QImage imagePixelsForHandle(std::intptr_t) { return {}; }
__attribute__((weak)) const QFont* fontForHandle(std::intptr_t) { return nullptr; }

}  // namespace lunadio::ui
