#include "ui/gadgets.h"

#include "core/no_throw.h"

#include <QApplication>

#include <algorithm>
#include <memory>
#include <utility>

#include "ui/events.h"
#include "ui/events_internal.h"
#include "ui/gadget_kind.h"
#include "ui/gadgets_internal.h"
#include "ui/ui_internal.h"
#include "ui/windows_internal.h"

namespace lunadio::ui {
namespace {

struct GadgetRecord {
  NativeHandle handle = 0;  // non-zero while the gadget exists
  std::unique_ptr<GadgetKind> kind;
  std::intptr_t userData = 0;
  ObjectNumber window = -1;
  bool isLive() const { return handle != 0; }
};

void freeGadgetNow(ObjectNumber gadget);

struct GadgetState {
  // -- main thread only
  ObjectTable<GadgetRecord> table{50, [](ObjectNumber n) { freeGadgetNow(n); }};
  ObjectNumber listWindow = -1;  // the current gadget list
  std::intptr_t listFont = -1;   // the current gadget font handle, -1 = default
  static GadgetState& state();
};

GadgetState& GadgetState::state() {
  static GadgetState instance;
  return instance;
}

GadgetState& state() { return GadgetState::state(); }

void freeGadgetNow(ObjectNumber gadget) {
  GadgetState& s = state();
  GadgetRecord* record = s.table.lookup(gadget);
  if (record) {
    dropEvents(EventPattern{EventGadget, gadget, -1, -1});
    // The widget goes before the record is reset, while its kind can still reach its model.
    std::unique_ptr<GadgetKind> kind = std::move(record->kind);
    kind.reset();
  }
  s.table.release(gadget);
}

QString toQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string toU16(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<std::size_t>(text.size()));
}

template <class Factory>
std::intptr_t createGadget(ObjectNumber number, int x, int y, int width, int height,
                           Factory&& factory) {
  return noThrow(0, [&]() -> std::intptr_t {
    if (!onMainThread()) return 0;
    GadgetState& s = state();
    QWidget* parent = windowWidget(s.listWindow);
    if (!parent) return 0;
    const ObjectNumber window = s.listWindow;
    auto [record, id] = s.table.allocate(number);
    if (!record) return 0;
    // Freeing the old gadget of that number cannot close the window, so `parent` still stands.
    std::unique_ptr<GadgetKind> kind = factory(GadgetContext{id, window, parent});
    if (!kind || !kind->widget()) {
      s.table.release(id);
      return 0;
    }
    QWidget* widget = kind->widget();
    widget->setGeometry(x, y, std::max(width, 0), std::max(height, 0));
    if (s.listFont != -1) {
      if (const QFont* font = fontForHandle(s.listFont)) kind->surface()->setFont(*font);
    }
    kind->created();
    kind->fitText();
    installGadgetAccessibility();
    widget->show();
    raiseWindowOverlay(window);

    record->kind = std::move(kind);
    record->handle = newNativeHandle();
    record->window = window;
    record->userData = 0;
    return number == ObjectAny ? id : record->handle;
  });
}

GadgetRecord* findNow(ObjectNumber gadget) { return state().table.lookup(gadget); }

// A call that changes a gadget. Widgets live on the main thread; elsewhere it does nothing.
template <class Change>
void change(ObjectNumber gadget, Change&& apply) {
  noThrow([&] {
    if (!onMainThread()) return;
    if (GadgetRecord* record = findNow(gadget)) apply(*record);
  });
}

// A call that reads a gadget: main thread only, elsewhere the fallback.
template <class Result, class Read>
Result read(ObjectNumber gadget, Result fallback, Read&& read) {
  return noThrow(fallback, [&]() -> Result {
    if (!onMainThread()) return fallback;
    GadgetRecord* record = findNow(gadget);
    return record ? read(*record) : fallback;
  });
}

}  // namespace

void setCurrentGadgetListWindow(ObjectNumber window) { state().listWindow = window; }

void windowClosing(ObjectNumber window) {
  GadgetState& s = state();
  for (ObjectNumber gadget : s.table.liveIds()) {
    GadgetRecord* record = s.table.lookup(gadget);
    if (record && record->window == window) freeGadgetNow(gadget);
  }
  if (s.listWindow == window) s.listWindow = -1;
}

void freeAllGadgets() {
  if (!onMainThread()) return;
  state().table.freeAll();
}

QImage* canvasBackingImage(ObjectNumber gadget) {
  return read<QImage*>(gadget, nullptr, [](GadgetRecord& r) { return r.kind->backingImage(); });
}

void canvasImageChanged(ObjectNumber gadget) {
  if (!onMainThread()) return;
  if (GadgetRecord* record = findNow(gadget)) record->kind->backingImageChanged();
}

}  // namespace lunadio::ui

namespace lunadio {

using ui::GadgetRecord;
using ui::toQString;

namespace {
// The gadgets made from a label and flags differ only in their kind's factory.
using LabelledKindFactory = std::unique_ptr<ui::GadgetKind> (*)(const ui::GadgetContext&,
                                                                const QString&, std::uint32_t);
std::intptr_t createLabelledGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                   std::u16string_view text, std::uint32_t flags,
                                   LabelledKindFactory make) {
  return noThrow(0, [&]() -> std::intptr_t {
    const QString label = toQString(text);
    return ui::createGadget(gadget, x, y, width, height, [&](const ui::GadgetContext& context) {
      return make(context, label, flags);
    });
  });
}
}  // namespace

std::intptr_t createButtonGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                 std::u16string_view text, std::uint32_t flags) {
  return createLabelledGadget(gadget, x, y, width, height, text, flags, ui::makeButtonGadget);
}

std::intptr_t createImageButtonGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                      std::intptr_t image, std::uint32_t flags) {
  return ui::createGadget(gadget, x, y, width, height, [&](const ui::GadgetContext& context) {
    return ui::makeImageButtonGadget(context, image, flags);
  });
}

std::intptr_t createTextGadget(ObjectNumber gadget, int x, int y, int width, int height,
                               std::u16string_view text, std::uint32_t flags) {
  return createLabelledGadget(gadget, x, y, width, height, text, flags, ui::makeTextGadget);
}

std::intptr_t createStringGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                 std::u16string_view text, std::uint32_t flags) {
  return createLabelledGadget(gadget, x, y, width, height, text, flags, ui::makeStringGadget);
}

std::intptr_t createCheckBoxGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                   std::u16string_view text, std::uint32_t flags) {
  return createLabelledGadget(gadget, x, y, width, height, text, flags, ui::makeCheckBoxGadget);
}

std::intptr_t createFrameGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                std::u16string_view text, std::uint32_t flags) {
  return createLabelledGadget(gadget, x, y, width, height, text, flags, ui::makeFrameGadget);
}

std::intptr_t createImageGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                std::intptr_t image, std::uint32_t flags) {
  return ui::createGadget(gadget, x, y, width, height, [&](const ui::GadgetContext& context) {
    return ui::makeImageGadget(context, image, flags);
  });
}

std::intptr_t createProgressBarGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                      int minimum, int maximum, std::uint32_t flags) {
  return ui::createGadget(gadget, x, y, width, height, [&](const ui::GadgetContext& context) {
    return ui::makeProgressBarGadget(context, minimum, maximum, flags);
  });
}

std::intptr_t createListIconGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                   std::u16string_view firstColumnTitle, int firstColumnWidth,
                                   std::uint32_t flags) {
  return noThrow(0, [&]() -> std::intptr_t {
    const QString title = toQString(firstColumnTitle);
    return ui::createGadget(gadget, x, y, width, height, [&](const ui::GadgetContext& context) {
      return ui::makeListGadget(context, title, firstColumnWidth, flags);
    });
  });
}

std::intptr_t createCanvasGadget(ObjectNumber gadget, int x, int y, int width, int height,
                                 std::uint32_t flags) {
  return ui::createGadget(gadget, x, y, width, height, [&](const ui::GadgetContext& context) {
    return ui::makeCanvasGadget(context, flags);
  });
}

NativeHandle useGadgetList(NativeHandle window) {
  if (!ui::onMainThread()) return 0;
  ui::GadgetState& s = ui::state();
  const NativeHandle previous = windowHandle(s.listWindow);
  if (window != 0) {
    const ObjectNumber number = ui::windowNumberOfHandle(window);
    if (number != -1) s.listWindow = number;
  }
  return previous;
}

bool isGadget(ObjectNumber gadget) {
  return ui::read(gadget, false, [](GadgetRecord&) { return true; });
}

void freeGadget(ObjectNumber gadget) {
  noThrow([&] {
    if (!ui::onMainThread()) return;
    ui::GadgetState& s = ui::state();
    if (gadget == ObjectAll) {
      s.table.freeAll();
      return;
    }
    if (s.table.lookup(gadget)) ui::freeGadgetNow(gadget);
  });
}

void setGadgetAccessibility(ObjectNumber gadget, GadgetRole role, std::u16string_view name) {
  ui::change(gadget, [gadget, role, label = toQString(name)](GadgetRecord& r) {
    ui::describeGadget(*r.kind->surface(), gadget, r.window, role, label);
  });
}

void setGadgetAccessibleValue(ObjectNumber gadget, int percent) {
  ui::change(gadget, [percent](GadgetRecord& r) {
    ui::setAccessibleValue(*r.kind->surface(), std::clamp(percent, 0, 100));
  });
}

void setGadgetText(ObjectNumber gadget, std::u16string_view text) {
  noThrow([&] {
    ui::change(gadget, [label = toQString(text)](GadgetRecord& r) {
      r.kind->setText(label);
      r.kind->fitText();
    });
  });
}

std::u16string getGadgetText(ObjectNumber gadget) {
  return ui::read(gadget, std::u16string(),
                  [](GadgetRecord& r) { return ui::toU16(r.kind->text()); });
}

std::intptr_t getGadgetState(ObjectNumber gadget) {
  return ui::read(gadget, std::intptr_t{0}, [](GadgetRecord& r) { return r.kind->state(); });
}

void setGadgetState(ObjectNumber gadget, std::intptr_t value) {
  ui::change(gadget, [value](GadgetRecord& r) { r.kind->setState(value); });
}

void setGadgetColor(ObjectNumber gadget, int attribute, std::int32_t colour) {
  ui::change(gadget, [=](GadgetRecord& r) { r.kind->setColour(attribute, colour); });
}

std::int32_t getGadgetColor(ObjectNumber gadget, int attribute) {
  return ui::read(gadget, std::int32_t{0},
                  [attribute](GadgetRecord& r) { return r.kind->colour(attribute); });
}

void setGadgetFont(ObjectNumber gadget, std::intptr_t fontHandle) {
  if (gadget == -1) {
    if (ui::onMainThread()) ui::state().listFont = fontHandle;
    return;
  }
  ui::change(gadget, [fontHandle](GadgetRecord& r) {
    const QFont* font = fontHandle == -1 ? nullptr : ui::fontForHandle(fontHandle);
    r.kind->setGivenFont(font ? *font : QApplication::font());
  });
}

void setGadgetData(ObjectNumber gadget, std::intptr_t value) {
  ui::change(gadget, [value](GadgetRecord& r) { r.userData = value; });
}

std::intptr_t getGadgetData(ObjectNumber gadget) {
  return ui::read(gadget, std::intptr_t{0}, [](GadgetRecord& r) { return r.userData; });
}

std::intptr_t getGadgetAttribute(ObjectNumber gadget, int attribute) {
  return ui::read(gadget, std::intptr_t{0},
                  [attribute](GadgetRecord& r) { return r.kind->attribute(attribute); });
}

void setGadgetAttribute(ObjectNumber gadget, int attribute, std::intptr_t value) {
  ui::change(gadget, [=](GadgetRecord& r) { r.kind->setAttribute(attribute, value); });
}

void hideGadget(ObjectNumber gadget, int hide) {
  ui::change(gadget, [hide](GadgetRecord& r) { r.kind->widget()->setVisible(hide == 0); });
}

void disableGadget(ObjectNumber gadget, int disable) {
  ui::change(gadget, [disable](GadgetRecord& r) { r.kind->widget()->setEnabled(disable == 0); });
}

void resizeGadget(ObjectNumber gadget, int x, int y, int width, int height) {
  ui::change(gadget, [=](GadgetRecord& r) {
    QWidget* widget = r.kind->widget();
    const QRect old = widget->geometry();
    const QRect now(x == IgnoreValue ? old.x() : x, y == IgnoreValue ? old.y() : y,
                    width == IgnoreValue ? old.width() : std::max(width, 0),
                    height == IgnoreValue ? old.height() : std::max(height, 0));
    if (now == old) return;
    widget->setGeometry(now);
    if (now.size() != old.size()) {
      r.kind->resized();
      r.kind->fitText();
    }
  });
}

int gadgetX(ObjectNumber gadget) {
  return ui::read(gadget, 0, [](GadgetRecord& r) { return r.kind->widget()->x(); });
}

int gadgetY(ObjectNumber gadget) {
  return ui::read(gadget, 0, [](GadgetRecord& r) { return r.kind->widget()->y(); });
}

int gadgetWidth(ObjectNumber gadget) {
  return ui::read(gadget, 0, [](GadgetRecord& r) { return r.kind->widget()->width(); });
}

int gadgetHeight(ObjectNumber gadget) {
  return ui::read(gadget, 0, [](GadgetRecord& r) { return r.kind->widget()->height(); });
}

void gadgetToolTip(ObjectNumber gadget, std::u16string_view text) {
  noThrow([&] {
    ui::change(gadget, [tip = toQString(text)](GadgetRecord& r) {
      QWidget* surface = r.kind->surface();
      surface->setToolTip(tip);
      // A tray program's windows are seldom the active one; their tips show all the
      // same.
      surface->setAttribute(Qt::WA_AlwaysShowToolTips);
      surface->window()->setAttribute(Qt::WA_AlwaysShowToolTips);
    });
  });
}

int addGadgetItem(ObjectNumber gadget, int position, std::u16string_view text,
                  std::intptr_t image) {
  return noThrow(-1, [&]() -> int {
    if (!ui::onMainThread()) return -1;
    GadgetRecord* record = ui::findNow(gadget);
    return record ? record->kind->addItem(position, toQString(text), image) : -1;
  });
}

void addGadgetItems(ObjectNumber gadget, std::vector<GadgetItem> items) {
  if (items.empty()) return;
  ui::change(gadget, [&items](GadgetRecord& r) { r.kind->addItems(items); });
}

void clearGadgetItems(ObjectNumber gadget) {
  ui::change(gadget, [](GadgetRecord& r) { r.kind->clearItems(); });
}

int countGadgetItems(ObjectNumber gadget) {
  return ui::read(gadget, 0, [](GadgetRecord& r) { return r.kind->countItems(); });
}

std::u16string getGadgetItemText(ObjectNumber gadget, int item, int column) {
  return ui::read(gadget, std::u16string(),
                  [=](GadgetRecord& r) { return ui::toU16(r.kind->itemText(item, column)); });
}

void setGadgetItemText(ObjectNumber gadget, int item, std::u16string_view text, int column) {
  noThrow([&] {
    ui::change(gadget, [item, column, label = toQString(text)](GadgetRecord& r) {
      r.kind->setItemText(item, label, column);
    });
  });
}

void setGadgetItemColor(ObjectNumber gadget, int item, int attribute, std::int32_t colour,
                        int column) {
  ui::change(gadget,
             [=](GadgetRecord& r) { r.kind->setItemColour(item, attribute, colour, column); });
}

std::int32_t getGadgetItemColor(ObjectNumber gadget, int item, int attribute, int column) {
  return ui::read(gadget, std::int32_t{0},
                  [=](GadgetRecord& r) { return r.kind->itemColour(item, attribute, column); });
}

void setGadgetItemData(ObjectNumber gadget, int item, std::intptr_t value) {
  ui::change(gadget, [=](GadgetRecord& r) { r.kind->setItemData(item, value); });
}

std::intptr_t getGadgetItemData(ObjectNumber gadget, int item) {
  return ui::read(gadget, std::intptr_t{0},
                  [item](GadgetRecord& r) { return r.kind->itemData(item); });
}

void addGadgetColumn(ObjectNumber gadget, int position, std::u16string_view title, int width) {
  noThrow([&] {
    ui::change(gadget, [position, width, label = toQString(title)](GadgetRecord& r) {
      r.kind->addColumn(position, label, width);
    });
  });
}

void setGadgetItemAttribute(ObjectNumber gadget, int item, int attribute, std::intptr_t value,
                            int column) {
  ui::change(gadget,
             [=](GadgetRecord& r) { r.kind->setItemAttribute(item, attribute, value, column); });
}

std::intptr_t getGadgetItemAttribute(ObjectNumber gadget, int item, int attribute, int column) {
  return ui::read(gadget, std::intptr_t{0},
                  [=](GadgetRecord& r) { return r.kind->itemAttribute(item, attribute, column); });
}

}  // namespace lunadio
