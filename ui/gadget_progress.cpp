// Progress bars: a range, a position, and a busy mode (state -1) with no position.
#include <QApplication>
#include <QProgressBar>

#include "ui/gadget_kind.h"

namespace lunadio::ui {
namespace {

class ProgressBarGadget : public GadgetKind {
 public:
  ProgressBarGadget(const GadgetContext& context, int minimum, int maximum)
      : GadgetKind(context, GadgetKindCode::ProgressBar),
        bar_(own(std::make_unique<QProgressBar>(context.parent))),
        minimum_(minimum),
        maximum_(std::max(minimum, maximum)) {
    bar_->setTextVisible(false);
    bar_->setRange(minimum_, maximum_);
    bar_->setValue(minimum_);
  }

  std::intptr_t state() const override { return busy_ ? -1 : bar_->value(); }
  void setState(std::intptr_t value) override {
    if (value == -1) {
      if (busy_) return;
      busy_ = true;
      bar_->setRange(0, 0);  // Qt's busy animation
      return;
    }
    if (busy_) {
      busy_ = false;
      bar_->setRange(minimum_, maximum_);
    }
    bar_->setValue(static_cast<int>(std::clamp<std::intptr_t>(value, minimum_, maximum_)));
  }

  std::intptr_t attribute(int attribute) const override {
    return attribute == 1 ? minimum_ : attribute == 2 ? maximum_ : 0;
  }
  void setAttribute(int attribute, std::intptr_t value) override {
    if (attribute == 1) minimum_ = static_cast<int>(value);
    if (attribute == 2) maximum_ = static_cast<int>(value);
    if (attribute != 1 && attribute != 2) return;
    if (maximum_ < minimum_) maximum_ = minimum_;
    if (busy_) return;
    // A position outside the new range is pulled to its nearest end, not reset.
    const int position = bar_->value();
    bar_->setRange(minimum_, maximum_);
    bar_->setValue(std::clamp(position, minimum_, maximum_));
  }

  void setColour(int attribute, std::int32_t colour) override {
    if (attribute == 1) barColour_ = colour;
    if (attribute == 2) back_ = colour;
    QPalette palette = QApplication::palette(bar_);
    if (barColour_ != -1) palette.setColor(QPalette::Highlight, colourOf(barColour_));
    if (back_ != -1) {
      palette.setColor(QPalette::Base, colourOf(back_));
      palette.setColor(QPalette::Window, colourOf(back_));
    }
    bar_->setPalette(palette);
  }
  std::int32_t colour(int attribute) const override {
    return attribute == 1 ? barColour_ : attribute == 2 ? back_ : 0;
  }

 private:
  QProgressBar* bar_;
  int minimum_;
  int maximum_;
  bool busy_ = false;
  std::int32_t barColour_ = -1;
  std::int32_t back_ = -1;
};

}  // namespace

std::unique_ptr<GadgetKind> makeProgressBarGadget(const GadgetContext& context, int minimum,
                                                  int maximum, std::uint32_t) {
  return std::make_unique<ProgressBarGadget>(context, minimum, maximum);
}

}  // namespace lunadio::ui
