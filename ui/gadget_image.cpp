// Image gadgets: show an image handle, fit themselves to it, and report clicks, double clicks
// and the start of a drag.
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>

#include "ui/events.h"
#include "ui/gadget_kind.h"
#include "ui/gadgets.h"
#include "ui/gadgets_internal.h"
#include "ui/ui_internal.h"

namespace lunadio::ui {
namespace {

class ImageLabel : public QLabel {
 public:
  using QLabel::QLabel;
  std::function<void(int)> onEvent;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) {
      leftHeld_ = true;
      pressPoint_ = event->position().toPoint();
    }
    if (event->button() == Qt::RightButton) rightHeld_ = true;
    QLabel::mousePressEvent(event);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (leftHeld_ && (event->buttons() & Qt::LeftButton)) {
      const QPoint moved = event->position().toPoint() - pressPoint_;
      if (std::abs(moved.x()) > QApplication::startDragDistance() ||
          std::abs(moved.y()) > QApplication::startDragDistance()) {
        // The drag takes the press over: its release is no click.
        leftHeld_ = false;
        onEvent(EventTypeDragStart);
      }
    }
    QLabel::mouseMoveEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const bool inside = rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton && leftHeld_) {
      leftHeld_ = false;
      if (inside) onEvent(EventTypeLeftClick);
    }
    if (event->button() == Qt::RightButton && rightHeld_) {
      rightHeld_ = false;
      if (inside) onEvent(EventTypeRightClick);
    }
    QLabel::mouseReleaseEvent(event);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    // The release that ends a double click is no click of its own.
    if (event->button() == Qt::LeftButton) {
      leftHeld_ = false;
      onEvent(EventTypeLeftDoubleClick);
    }
    if (event->button() == Qt::RightButton) {
      rightHeld_ = false;
      onEvent(EventTypeRightDoubleClick);
    }
  }

 private:
  bool leftHeld_ = false;
  bool rightHeld_ = false;
  QPoint pressPoint_;
};

class ImageGadget : public GadgetKind {
 public:
  ImageGadget(const GadgetContext& context, std::intptr_t image, std::uint32_t flags)
      : GadgetKind(context, GadgetKindCode::Image),
        label_(own(std::make_unique<ImageLabel>(context.parent))),
        image_(image) {
    label_->setAlignment(Qt::AlignCenter);
    if (flags & ImageSunken) {
      label_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      label_->setLineWidth(2);
    } else if (flags & ImageBorder) {
      label_->setFrameStyle(QFrame::Box | QFrame::Plain);
      label_->setLineWidth(2);
    }
    edge_ = (flags & (ImageSunken | ImageBorder)) ? 4 : 0;
    label_->onEvent = [this](int type) { queueGadgetEvent(type); };
  }

  void created() override { show(image_); }
  std::intptr_t state() const override { return image_; }
  void setState(std::intptr_t image) override {
    image_ = image;
    show(image);
  }

 private:
  // The gadget takes the image's size (plus its edge), whatever size it was made with.
  void show(std::intptr_t image) {
    if (const QString name = imageNameForHandle(image); !name.isEmpty()) {
      describeGadget(*label_, number(), window(), GadgetRole::Button, name);
    }
    const QImage pixels = gadgetImagePixels(image);
    if (pixels.isNull()) {
      label_->setPixmap(QPixmap());
      return;
    }
    // On a screen of several device pixels per pixel, the image's finer drawing where it has one.
    QPixmap shown = imagePixmapForHandle(image, label_->devicePixelRatioF());
    if (shown.isNull()) shown = QPixmap::fromImage(pixels);  // a test's own pixels
    label_->setPixmap(shown);
    label_->resize(pixels.width() + edge_, pixels.height() + edge_);
  }

  ImageLabel* label_;
  std::intptr_t image_;
  int edge_ = 0;
};

}  // namespace

std::unique_ptr<GadgetKind> makeImageGadget(const GadgetContext& context, std::intptr_t image,
                                            std::uint32_t flags) {
  return std::make_unique<ImageGadget>(context, image, flags);
}

}  // namespace lunadio::ui
