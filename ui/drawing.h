#pragma once
// Drawing boxes, rounded boxes, lines and linear gradients into a canvas gadget, a window's client
// area or an image. Each thread has its own drawing context, which lives from startDrawing() to
// stopDrawing() and starts with front colour -1 (opaque white), back colour 0xFF000000 (opaque
// black), mode 0 and a horizontal gradient across the output. Canvases and windows are main-thread
// objects, so in practice drawing into them happens on the main thread.
//
// Colours are red + 256 green + 65536 blue, alpha in the top byte. Outputs are opaque: the alpha
// byte takes part in the gradient blend but every drawn pixel is written fully opaque.
// Coordinates are relative to the output's top-left corner; whatever falls outside is clipped.

#include <cstdint>

#include "core/object_table.h"

namespace lunadio {

using DrawingTarget = std::intptr_t;
using Colour = std::int32_t;

// drawingMode() bit: every filled pixel takes its colour from the current gradient.
inline constexpr int DrawingModeGradient = 64;

// A target for a canvas gadget's backing image; 0 when the number is not a live canvas.
DrawingTarget canvasOutput(ObjectNumber gadget);
// A target for a window's client area (an overlay kept until drawn over); 0 for no window.
DrawingTarget windowOutput(ObjectNumber window);
// A target for a live image's pixels; 0 for no image.
DrawingTarget imageOutput(ObjectNumber image);

// Makes the target current for this thread (ending any drawing still open on it) and returns
// non-zero; 0 when it cannot start, after which every drawing call does nothing.
DrawingTarget startDrawing(DrawingTarget target);
// Ends drawing; a canvas or window then shows what was drawn.
void stopDrawing();

void frontColor(Colour colour);
void backColor(Colour colour);
void drawingMode(int mode);
// The gradient line: 0 at or before (x1, y1), 1 at or beyond (x2, y2), pixels projected onto it.
void linearGradient(int x1, int y1, int x2, int y2);

// A negative width or height draws from the other side.
void drawBox(int x, int y, int width, int height);
void drawBox(int x, int y, int width, int height, Colour colour);
// Each corner radius is cut to half of the box's size in its direction.
void drawRoundBox(int x, int y, int width, int height, int radiusX, int radiusY);
void drawRoundBox(int x, int y, int width, int height, int radiusX, int radiusY, Colour colour);
// Both end points included.
void drawLine(int x1, int y1, int x2, int y2);
void drawLine(int x1, int y1, int x2, int y2, Colour colour);

// Size of the current output, 0 when no drawing is open.
int outputWidth();
int outputHeight();

}  // namespace lunadio
