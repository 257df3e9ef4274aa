// Buttons and image buttons: a click queues type 0.
#include <QPushButton>

#include "ui/events.h"
#include "ui/gadget_kind.h"
#include "ui/gadgets_internal.h"
#include "ui/ui_internal.h"

namespace lunadio::ui {
namespace {

class ButtonGadget : public GadgetKind {
 public:
  ButtonGadget(const GadgetContext& context, GadgetKindCode code)
      : GadgetKind(context, code), button_(own(std::make_unique<QPushButton>(context.parent))) {
    QObject::connect(button_, &QPushButton::clicked,
                     [this] { queueGadgetEvent(EventTypeLeftClick); });
  }

  QString text() const override { return button_->text(); }
  void setText(const QString& text) override { button_->setText(text); }

  void setImage(std::intptr_t image) {
    if (const QString name = imageNameForHandle(image); !name.isEmpty()) {
      button_->setAccessibleName(name);
    }
    const QImage pixels = gadgetImagePixels(image);
    if (pixels.isNull()) {
      button_->setIcon(QIcon());
      return;
    }
    QIcon icon(QPixmap::fromImage(pixels));
    // The finer drawing, which the icon picks on a screen of two device pixels per pixel.
    const QPixmap fine = imagePixmapForHandle(image, 2.0);
    if (fine.devicePixelRatio() > 1.0) icon.addPixmap(fine);
    button_->setIcon(icon);
    button_->setIconSize(pixels.size());
  }

 private:
  QPushButton* button_;
};

}  // namespace

std::unique_ptr<GadgetKind> makeButtonGadget(const GadgetContext& context, const QString& text,
                                             std::uint32_t flags) {
  auto gadget = std::make_unique<ButtonGadget>(context, GadgetKindCode::Button);
  gadget->setText(text);
  // The platform's default-button style bit.
  if (flags & 0x1) static_cast<QPushButton*>(gadget->widget())->setDefault(true);
  return gadget;
}

std::unique_ptr<GadgetKind> makeImageButtonGadget(const GadgetContext& context, std::intptr_t image,
                                                  std::uint32_t) {
  auto gadget = std::make_unique<ButtonGadget>(context, GadgetKindCode::ImageButton);
  gadget->setImage(image);
  return gadget;
}

}  // namespace lunadio::ui
