#pragma once
// Font seams for tests and the other ui/ modules.

#include <QFont>

#include "ui/fonts.h"

namespace lunadio::ui {

// Reads the DPI from the primary screen (the start routine calls it).
void readDisplayDpi();
// Replaces the DPI (tests).
void setDisplayDpi(int dpi);

}  // namespace lunadio::ui
