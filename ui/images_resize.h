#pragma once
// Resampling of held images. Internal to ui/; pure functions on QImage, any thread.

#include <QImage>

namespace lunadio::ui {

// Separable Mitchell-Netravali cubic (B = C = 1/3) on 32-bit pixels, all four channels alike:
// support radius 2, widened by the reduction factor when shrinking, the weights of each output
// pixel normalised to 1, each pass's results rounded (+0.5) and clamped to 0..255. The vertical
// pass runs first when sourceWidth * height < sourceHeight * width. Returns Format_ARGB32.
QImage resizeCubic(const QImage& source, int width, int height);

// Nearest pixel (the pixel under each target pixel's centre); keeps the source format.
QImage resizeNearest(const QImage& source, int width, int height);

// Area-averaging stretch for pictures without alpha; keeps the source format.
QImage resizeSmoothOpaque(const QImage& source, int width, int height);

}  // namespace lunadio::ui
