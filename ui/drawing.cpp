#include "ui/drawing.h"

#include "core/no_throw.h"

#include "ui/drawing_raster.h"
#include "ui/images_library.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace {

// A target packs its kind above the 32 bits of the object number, so it is never 0.
enum class OutputKind : std::int64_t { Canvas = 1, Window = 2, Image = 3 };

DrawingTarget makeTarget(OutputKind kind, ObjectNumber number) {
  return static_cast<DrawingTarget>(static_cast<std::int64_t>(kind) << 32 |
                                    static_cast<std::uint32_t>(number));
}
OutputKind kindOf(DrawingTarget target) { return static_cast<OutputKind>(target >> 32); }
ObjectNumber numberOf(DrawingTarget target) {
  return static_cast<ObjectNumber>(static_cast<std::uint32_t>(target & 0xFFFFFFFF));
}

// The pixels behind a target, looked up again at every call so that a canvas remade or freed
// between two drawing calls is never written through a stale pointer.
QImage* outputImage(DrawingTarget target) {
  switch (kindOf(target)) {
    case OutputKind::Canvas:
      return ui::canvasBackingImage(numberOf(target));
    case OutputKind::Window:
      return ui::windowOverlayImage(numberOf(target));
    case OutputKind::Image: {
      ui::ImageRecord* record = ui::ImageLibrary::instance().table().lookup(numberOf(target));
      return record ? &record->pixels : nullptr;
    }
  }
  return nullptr;
}

struct DrawingContext {
  DrawingTarget target = 0;  // 0 while no drawing is open
  std::uint32_t front = 0xFFFFFFFFu;
  std::uint32_t back = 0xFF000000u;
  int mode = 0;
  ui::GradientLine gradient;
};

// -- each thread its own
thread_local DrawingContext context;

ui::Fill fillWith(std::uint32_t colour) {
  ui::Fill fill;
  fill.gradient = (context.mode & DrawingModeGradient) != 0;
  fill.colour = colour;
  fill.back = context.back;
  fill.front = context.front;
  fill.line = context.gradient;
  return fill;
}

QImage* currentImage() { return context.target ? outputImage(context.target) : nullptr; }

}  // namespace

DrawingTarget canvasOutput(ObjectNumber gadget) {
  return ui::canvasBackingImage(gadget) ? makeTarget(OutputKind::Canvas, gadget) : 0;
}

DrawingTarget windowOutput(ObjectNumber window) {
  return ui::windowOverlayImage(window) ? makeTarget(OutputKind::Window, window) : 0;
}

DrawingTarget imageOutput(ObjectNumber image) {
  return ui::ImageLibrary::instance().table().isObject(image) ? makeTarget(OutputKind::Image, image)
                                                              : 0;
}

DrawingTarget startDrawing(DrawingTarget target) {
  return noThrow(0, [&]() -> DrawingTarget {
    if (context.target) stopDrawing();
    context = DrawingContext{};
    const QImage* image = target ? outputImage(target) : nullptr;
    if (!image || image->isNull()) return 0;
    context.target = target;
    context.gradient = {0, 0, image->width(), 0};
    return target;
  });
}

void stopDrawing() {
  noThrow([&] {
    const DrawingTarget target = context.target;
    context = DrawingContext{};
    if (!target) return;
    if (kindOf(target) == OutputKind::Canvas) ui::canvasImageChanged(numberOf(target));
    if (kindOf(target) == OutputKind::Window) ui::windowOverlayChanged(numberOf(target));
  });
}

void frontColor(Colour colour) {
  if (context.target) context.front = static_cast<std::uint32_t>(colour);
}

void backColor(Colour colour) {
  if (context.target) context.back = static_cast<std::uint32_t>(colour);
}

void drawingMode(int mode) {
  if (context.target) context.mode = mode;
}

void linearGradient(int x1, int y1, int x2, int y2) {
  if (context.target) context.gradient = {x1, y1, x2, y2};
}

void drawBox(int x, int y, int width, int height) {
  drawBox(x, y, width, height, static_cast<Colour>(context.front));
}

void drawBox(int x, int y, int width, int height, Colour colour) {
  if (QImage* image = currentImage()) {
    ui::fillBox(*image, x, y, width, height, fillWith(static_cast<std::uint32_t>(colour)));
  }
}

void drawRoundBox(int x, int y, int width, int height, int radiusX, int radiusY) {
  drawRoundBox(x, y, width, height, radiusX, radiusY, static_cast<Colour>(context.front));
}

void drawRoundBox(int x, int y, int width, int height, int radiusX, int radiusY, Colour colour) {
  if (QImage* image = currentImage()) {
    ui::fillRoundBox(*image, x, y, width, height, radiusX, radiusY,
                     fillWith(static_cast<std::uint32_t>(colour)));
  }
}

void drawLine(int x1, int y1, int x2, int y2) {
  drawLine(x1, y1, x2, y2, static_cast<Colour>(context.front));
}

void drawLine(int x1, int y1, int x2, int y2, Colour colour) {
  if (QImage* image = currentImage()) {
    ui::strokeLine(*image, x1, y1, x2, y2, static_cast<std::uint32_t>(colour));
  }
}

int outputWidth() {
  const QImage* image = currentImage();
  return image ? image->width() : 0;
}

int outputHeight() {
  const QImage* image = currentImage();
  return image ? image->height() : 0;
}

}  // namespace lunadio
