// What a screen reader is told about a gadget. Texts, buttons, check boxes and frames are named by
// their own text through Qt's interfaces; pictures and canvases, which Qt sees as plain labels
// and frames, get the role and name the application gives them, a value for the slider and bar
// roles, and a press action for the button role that acts as a left click.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QWidget>

#include "ui/events.h"
#include "ui/gadget_kind.h"
#include "ui/ui_internal.h"
#include "ui/windows_widget.h"

namespace lunadio::ui {
namespace {

// Widget properties that carry the application's choices to the interface made for the widget.
constexpr char kRoleProperty[] = "lunadioAccessibleRole";
constexpr char kValueProperty[] = "lunadioAccessibleValue";
constexpr char kGadgetProperty[] = "lunadioGadget";
constexpr char kWindowProperty[] = "lunadioWindow";

QAccessible::Role qtRole(GadgetRole role) {
  switch (role) {
    case GadgetRole::Button:
      return QAccessible::Button;
    case GadgetRole::Slider:
      return QAccessible::Slider;
    case GadgetRole::ProgressBar:
      return QAccessible::ProgressBar;
    case GadgetRole::Picture:
      return QAccessible::Graphic;
    case GadgetRole::Own:
      break;
  }
  return QAccessible::NoRole;
}

class GadgetAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  GadgetAccessible(QWidget* widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface && hasValue()) {
      return static_cast<QAccessibleValueInterface*>(this);
    }
    return QAccessibleWidget::interface_cast(type);
  }

  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value && hasValue()) {
      return QStringLiteral("%1 %").arg(widget()->property(kValueProperty).toInt());
    }
    return QAccessibleWidget::text(kind);
  }

  QStringList actionNames() const override {
    if (role() == QAccessible::Button) return {pressAction()};
    return QAccessibleWidget::actionNames();
  }

  void doAction(const QString& action) override {
    if (role() != QAccessible::Button || action != pressAction()) {
      QAccessibleWidget::doAction(action);
      return;
    }
    queueEvent(EventGadget, widget()->property(kGadgetProperty).toInt(),
               widget()->property(kWindowProperty).toInt(), EventTypeLeftClick, 0);
  }

  QVariant currentValue() const override { return widget()->property(kValueProperty); }
  void setCurrentValue(const QVariant&) override {}  // the application sets it, not the reader
  QVariant maximumValue() const override { return 100; }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  bool hasValue() const {
    return role() == QAccessible::Slider || role() == QAccessible::ProgressBar;
  }
};

// The overlay only carries what the program draws over the window's gadgets: nothing to read.
class OverlayAccessible : public QAccessibleWidget {
 public:
  explicit OverlayAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Pane) {}
  QAccessible::State state() const override {
    QAccessible::State hidden = QAccessibleWidget::state();
    hidden.invisible = true;
    return hidden;
  }
};

QAccessibleInterface* makeInterface(const QString&, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  // A program window is a plain widget, which Qt would present as a filler.
  if (auto* window = dynamic_cast<WindowWidget*>(object)) {
    return new QAccessibleWidget(window, QAccessible::Window);
  }
  if (auto* overlay = dynamic_cast<WindowOverlay*>(object)) return new OverlayAccessible(overlay);
  const QVariant role = object->property(kRoleProperty);
  if (!role.isValid()) return nullptr;
  return new GadgetAccessible(static_cast<QWidget*>(object),
                              static_cast<QAccessible::Role>(role.toInt()));
}

}  // namespace

void installGadgetAccessibility() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(makeInterface);
}

void describeGadget(QWidget& widget, ObjectNumber gadget, ObjectNumber window, GadgetRole role,
                    const QString& name) {
  installGadgetAccessibility();
  if (role != GadgetRole::Own) {
    const bool changed = widget.property(kRoleProperty).toInt() != qtRole(role);
    widget.setProperty(kRoleProperty, static_cast<int>(qtRole(role)));
    widget.setProperty(kGadgetProperty, gadget);
    widget.setProperty(kWindowProperty, window);
    if (!widget.property(kValueProperty).isValid()) widget.setProperty(kValueProperty, 0);
    // An interface made before the role was known would keep Qt's guess.
    if (changed && QAccessible::queryAccessibleInterface(&widget)) {
      QAccessible::deleteAccessibleInterface(
          QAccessible::uniqueId(QAccessible::queryAccessibleInterface(&widget)));
    }
  }
  widget.setAccessibleName(name);
}

void setAccessibleValue(QWidget& widget, int percent) {
  if (widget.property(kValueProperty).toInt() == percent) return;
  widget.setProperty(kValueProperty, percent);
  if (!QAccessible::isActive()) return;
  QAccessibleValueChangeEvent event(&widget, percent);
  QAccessible::updateAccessibility(&event);
}

}  // namespace lunadio::ui
