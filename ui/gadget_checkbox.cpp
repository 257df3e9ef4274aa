// Check boxes: 1 checked, 0 unchecked, -1 indeterminate (three-state boxes only; a click never
// leads there).
#include <QCheckBox>

#include "ui/events.h"
#include "ui/gadget_kind.h"
#include "ui/gadgets.h"

namespace lunadio::ui {
namespace {

class CheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void nextCheckState() override {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  }
};

class CheckBoxGadget : public GadgetKind {
 public:
  CheckBoxGadget(const GadgetContext& context, const QString& text, std::uint32_t flags)
      : GadgetKind(context, GadgetKindCode::CheckBox),
        box_(own(std::make_unique<CheckBox>(text, context.parent))) {
    box_->setTristate((flags & CheckBoxThreeState) == CheckBoxThreeState);
    QObject::connect(box_, &QCheckBox::clicked, [this] { queueGadgetEvent(EventTypeLeftClick); });
  }

  QString text() const override { return box_->text(); }
  void setText(const QString& text) override { box_->setText(text); }

  std::intptr_t state() const override {
    switch (box_->checkState()) {
      case Qt::Checked:
        return 1;
      case Qt::PartiallyChecked:
        return -1;
      default:
        return 0;
    }
  }
  void setState(std::intptr_t value) override {
    if (value == 0) {
      box_->setCheckState(Qt::Unchecked);
    } else if (value == -1 && box_->isTristate()) {
      box_->setCheckState(Qt::PartiallyChecked);
    } else {
      box_->setCheckState(Qt::Checked);
    }
  }

 private:
  CheckBox* box_;
};

}  // namespace

std::unique_ptr<GadgetKind> makeCheckBoxGadget(const GadgetContext& context, const QString& text,
                                               std::uint32_t flags) {
  return std::make_unique<CheckBoxGadget>(context, text, flags);
}

}  // namespace lunadio::ui
