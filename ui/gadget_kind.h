#pragma once
// One gadget = one kind object that owns its Qt widget. A kind overrides the operations it
// supports; every other operation falls back to the documented default here (do nothing, read
// 0 or the empty text), so the generic code never checks what a kind can do.
// Main thread only, as every gadget operation is.

#include <QFont>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>

#include "core/object_table.h"
#include "ui/gadgets.h"

namespace lunadio::ui {

enum class GadgetKindCode : int {
  Button = 1,
  String = 2,
  Text = 3,
  CheckBox = 4,
  Frame = 7,
  Image = 9,
  List = 12,
  ProgressBar = 14,
  ImageButton = 19,
  Canvas = 33,
};

struct GadgetContext {
  ObjectNumber gadget = 0;  // number or dynamic identifier
  ObjectNumber window = 0;  // the window whose client area holds it
  QWidget* parent = nullptr;
};

class GadgetKind {
 public:
  GadgetKind(const GadgetContext& context, GadgetKindCode code);
  virtual ~GadgetKind();
  GadgetKind(const GadgetKind&) = delete;
  GadgetKind& operator=(const GadgetKind&) = delete;

  GadgetKindCode code() const { return code_; }
  ObjectNumber number() const { return context_.gadget; }
  ObjectNumber window() const { return context_.window; }
  QWidget* widget() const { return widget_.get(); }

  // Called once the widget has its geometry and font; a kind may adjust itself (the image gadget
  // fits its image).
  virtual void created() {}
  // After resizeGadget() changed the size (the canvas remakes its backing image).
  virtual void resized() {}

  virtual QString text() const { return {}; }
  virtual void setText(const QString&) {}
  virtual std::intptr_t state() const { return 0; }
  virtual void setState(std::intptr_t) {}
  // attribute 1 = text colour, 2 = background colour; -1 = the default colour.
  virtual void setColour(int, std::int32_t) {}
  virtual std::int32_t colour(int) const { return 0; }
  virtual std::intptr_t attribute(int) const { return 0; }
  virtual void setAttribute(int, std::intptr_t) {}

  virtual int addItem(int /*position*/, const QString&, std::intptr_t /*image*/) { return -1; }
  // Rows appended in order; the default goes through the one-row operations.
  virtual void addItems(std::vector<GadgetItem>& items);
  virtual void clearItems() {}
  virtual int countItems() const { return 0; }
  virtual QString itemText(int /*item*/, int /*column*/) const { return {}; }
  virtual void setItemText(int, const QString&, int) {}
  virtual void setItemColour(int, int, std::int32_t, int) {}
  virtual std::int32_t itemColour(int, int, int) const { return 0; }
  virtual void setItemData(int, std::intptr_t) {}
  virtual std::intptr_t itemData(int) const { return 0; }
  virtual void addColumn(int, const QString&, int) {}
  virtual void setItemAttribute(int, int, std::intptr_t, int) {}
  virtual std::intptr_t itemAttribute(int, int, int) const { return 0; }

  // The canvas's backing image, or null for every other kind.
  virtual QImage* backingImage() { return nullptr; }
  virtual void backingImageChanged() {}

  // The widget that takes fonts, colours and the tooltip (the list's view, for example).
  virtual QWidget* surface() const { return widget(); }

  // The font the gadget was given (the gadget list's, or setGadgetFont's); the text shown may use
  // a smaller size of it so that it fits (fittedFont). fitText() is called again whenever the
  // text, the font or the size changes.
  void setGivenFont(const QFont& font);
  void fitText();

 protected:
  // Takes ownership of the kind's widget, made as a child of the gadget list's window.
  template <class W>
  W* own(std::unique_ptr<W> widget) {
    W* raw = widget.get();
    widget_ = std::move(widget);
    return raw;
  }
  QWidget* parentWidget() const { return context_.parent; }
  void queueGadgetEvent(int type) const;

 private:
  GadgetContext context_;
  GadgetKindCode code_;
  std::unique_ptr<QWidget> widget_;
  std::optional<QFont> givenFont_;  // unset: the font the surface had when first fitted
};

// Screen readers' view of a gadget's widget (gadget_accessible.cpp).
void installGadgetAccessibility();
void describeGadget(QWidget& widget, ObjectNumber gadget, ObjectNumber window, GadgetRole role,
                    const QString& name);
void setAccessibleValue(QWidget& widget, int percent);

// The given font, or a smaller pixel size of it, with which the widget's text fits the place
// where the widget draws it.
QFont fittedFont(const QWidget& widget, const QFont& given);
// A font's size in pixels, whether it was set in points or pixels.
int pixelSizeOf(const QFont& font);

// QColor of a colour value red + 256 * green + 65536 * blue.
QColor colourOf(std::int32_t colour);

// Factories: each returns null when the widget cannot be made.
std::unique_ptr<GadgetKind> makeButtonGadget(const GadgetContext&, const QString& text,
                                             std::uint32_t flags);
std::unique_ptr<GadgetKind> makeImageButtonGadget(const GadgetContext&, std::intptr_t image,
                                                  std::uint32_t flags);
std::unique_ptr<GadgetKind> makeTextGadget(const GadgetContext&, const QString& text,
                                           std::uint32_t flags);
std::unique_ptr<GadgetKind> makeStringGadget(const GadgetContext&, const QString& text,
                                             std::uint32_t flags);
std::unique_ptr<GadgetKind> makeCheckBoxGadget(const GadgetContext&, const QString& text,
                                               std::uint32_t flags);
std::unique_ptr<GadgetKind> makeFrameGadget(const GadgetContext&, const QString& text,
                                            std::uint32_t flags);
std::unique_ptr<GadgetKind> makeImageGadget(const GadgetContext&, std::intptr_t image,
                                            std::uint32_t flags);
std::unique_ptr<GadgetKind> makeProgressBarGadget(const GadgetContext&, int minimum, int maximum,
                                                  std::uint32_t flags);
std::unique_ptr<GadgetKind> makeListGadget(const GadgetContext&, const QString& title,
                                           int titleWidth, std::uint32_t flags);
std::unique_ptr<GadgetKind> makeCanvasGadget(const GadgetContext&, std::uint32_t flags);

}  // namespace lunadio::ui
