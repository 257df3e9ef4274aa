#include "ui/gadget_kind.h"

#include <QColor>

#include "core/strings.h"
#include "ui/events.h"
#include "ui/gadgets_internal.h"
#include "ui/ui_internal.h"

namespace lunadio::ui {

GadgetKind::GadgetKind(const GadgetContext& context, GadgetKindCode code)
    : context_(context), code_(code) {}

GadgetKind::~GadgetKind() = default;

void GadgetKind::addItems(std::vector<GadgetItem>& items) {
  for (GadgetItem& item : items) {
    const QString text =
        QString::fromUtf16(item.text.data(), static_cast<qsizetype>(item.text.size()));
    const int row = addItem(-1, text, 0);
    if (row < 0) continue;
    if (item.frontColour != -1) setItemColour(row, 1, item.frontColour, -1);
    if (item.backColour != -1) setItemColour(row, 2, item.backColour, -1);
    setItemData(row, item.data);
  }
}

void GadgetKind::setGivenFont(const QFont& font) {
  givenFont_ = font;
  fitText();
}

void GadgetKind::fitText() {
  QWidget* target = surface();
  if (!target) return;
  if (!givenFont_) givenFont_ = target->font();
  const QFont font = fittedFont(*target, *givenFont_);
  if (font != target->font()) target->setFont(font);
}

void GadgetKind::queueGadgetEvent(int type) const {
  queueEvent(EventGadget, context_.gadget, context_.window, type, 0);
}

namespace {
std::function<QImage(std::intptr_t)>& imageLookup() {
  static std::function<QImage(std::intptr_t)> lookup;  // -- main thread only
  return lookup;
}
}  // namespace

QImage gadgetImagePixels(std::intptr_t image) {
  const auto& lookup = imageLookup();
  return lookup ? lookup(image) : imagePixelsForHandle(image);
}

void overrideGadgetImageLookup(std::function<QImage(std::intptr_t)> lookup) {
  imageLookup() = std::move(lookup);
}

QColor colourOf(std::int32_t colour) {
  return QColor(redOf(colour), greenOf(colour), blueOf(colour));
}

}  // namespace lunadio::ui
