#include "ui/windows.h"

#include "core/no_throw.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include <map>
#include <memory>
#include <optional>
#include <unordered_map>

#include "core/strings.h"
#include "ui/events.h"
#include "ui/events_internal.h"
#include "ui/gadget_kind.h"
#include "ui/gadgets_internal.h"
#include "ui/ui_internal.h"
#include "ui/windows_internal.h"
#include "ui/windows_widget.h"

namespace lunadio::ui {
namespace {

struct WindowRecord {
  NativeHandle handle = 0;  // non-zero while the window exists
  std::unique_ptr<WindowWidget> widget;
  std::uint32_t flags = 0;
  ObjectNumber owner = -1;
  std::map<int, std::unique_ptr<QTimer>> timers;  // by timer id
  bool isLive() const { return handle != 0; }
};

void closeWindowNow(ObjectNumber window);

// -- main thread only
struct WindowState {
  ObjectTable<WindowRecord> table{16, [](ObjectNumber n) { closeWindowNow(n); }};
  std::unordered_map<NativeHandle, ObjectNumber> byHandle;
  NativeHandle nextHandle = 0x10000;
};

WindowState& state() {
  static WindowState instance;
  return instance;
}

WindowRecord* find(ObjectNumber window) {
  if (!onMainThread()) return nullptr;
  return state().table.lookup(window);
}

QString toQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

Qt::WindowFlags qtFlags(std::uint32_t flags) {
  Qt::WindowFlags q = (flags & WindowTool) ? Qt::Tool : Qt::Window;
  if (flags & WindowBorderless) return q | Qt::FramelessWindowHint;
  q |= Qt::CustomizeWindowHint;
  if (flags & (WindowTitleBar | WindowTool)) q |= Qt::WindowTitleHint;
  if (flags & WindowSystemMenu) q |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  if (flags & WindowMinimizeGadget) q |= Qt::WindowMinimizeButtonHint;
  if (flags & WindowMaximizeGadget) q |= Qt::WindowMaximizeButtonHint;
  return q;
}

QRect screenArea(const QWidget* widget) {
  QScreen* screen = widget->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void centre(WindowRecord& record, std::uint32_t flags) {
  WindowWidget& w = *record.widget;
  QRect area;
  if ((flags & WindowWindowCentered) && record.owner != -1) {
    if (WindowRecord* owner = state().table.lookup(record.owner)) {
      area = owner->widget->frameGeometry();
    }
  }
  if (area.isNull() && (flags & (WindowScreenCentered | WindowWindowCentered))) {
    area = screenArea(&w);
  }
  if (area.isNull()) return;
  const QSize outer = w.frameGeometry().size();
  w.move(area.x() + (area.width() - outer.width()) / 2,
         area.y() + (area.height() - outer.height()) / 2);
}

void showInState(WindowRecord& record, bool activate) {
  WindowWidget& w = *record.widget;
  w.setAttribute(Qt::WA_ShowWithoutActivating, !activate);
  if (w.windowState() & Qt::WindowMinimized) {
    w.showMinimized();
  } else if (w.windowState() & Qt::WindowMaximized) {
    w.showMaximized();
  } else {
    w.show();
  }
}

// The pointer in client coordinates, when it lies inside; the right and bottom edges are outside.
std::optional<QPoint> pointerInClientArea(const QWidget& widget) {
  const QPoint p = widget.mapFromGlobal(QCursor::pos());
  if (p.x() < 0 || p.y() < 0 || p.x() >= widget.width() || p.y() >= widget.height()) return {};
  return p;
}

void activateOwner(const WindowRecord& record) {
  if (record.owner == -1) return;
  if (WindowRecord* owner = state().table.lookup(record.owner)) {
    if (owner->widget->isVisible()) owner->widget->activateWindow();
  }
}

void closeWindowNow(ObjectNumber window) {
  WindowState& s = state();
  WindowRecord* record = s.table.lookup(window);
  if (!record) {
    s.table.release(window);
    return;
  }
  // Owned windows are Qt children of this one: close them through the table first.
  for (ObjectNumber other : s.table.liveIds()) {
    WindowRecord* candidate = s.table.lookup(other);
    if (candidate && candidate->owner == window) closeWindowNow(other);
  }
  windowClosing(window);
  dropEvents(EventPattern{-1, -1, window, -1});
  record->timers.clear();
  activateOwner(*record);
  s.byHandle.erase(record->handle);
  std::unique_ptr<WindowWidget> widget = std::move(record->widget);
  s.table.release(window);
  widget.reset();
}

}  // namespace

NativeHandle newNativeHandle() { return state().nextHandle++; }

ObjectNumber windowNumberOfHandle(NativeHandle handle) {
  const auto& byHandle = state().byHandle;
  auto it = byHandle.find(handle);
  return it == byHandle.end() ? -1 : it->second;
}

ObjectNumber windowNumberOfWidget(const QWidget* widget) {
  for (; widget; widget = widget->parentWidget()) {
    if (auto* window = dynamic_cast<const WindowWidget*>(widget)) return window->number();
  }
  return -1;
}

void raiseWindowOverlay(ObjectNumber window) {
  if (WindowRecord* record = find(window)) record->widget->raiseOverlay();
}

QWidget* windowWidget(ObjectNumber window) {
  WindowRecord* record = find(window);
  return record ? record->widget.get() : nullptr;
}

QImage* windowOverlayImage(ObjectNumber window) {
  WindowRecord* record = find(window);
  return record ? record->widget->overlayImage() : nullptr;
}

void windowOverlayChanged(ObjectNumber window) {
  if (WindowRecord* record = find(window)) record->widget->overlayChanged();
}

void freeAllWindows() {
  if (onMainThread()) state().table.freeAll();
}

}  // namespace lunadio::ui

namespace lunadio {

using ui::find;
using ui::WindowRecord;

std::intptr_t openWindow(ObjectNumber window, int x, int y, int innerWidth, int innerHeight,
                         std::u16string_view title, std::uint32_t flags, NativeHandle parent) {
  return noThrow(0, [&]() -> std::intptr_t {
    if (!ui::onMainThread()) return 0;
    ui::WindowState& s = ui::state();
    if (innerWidth < 0) innerWidth = 0;
    if (innerHeight < 0) innerHeight = 0;
    if ((flags &
         ~(WindowScreenCentered | WindowWindowCentered | WindowNoGadgets | WindowInvisible)) == 0) {
      flags |= WindowTitleBar;
    }
    const ObjectNumber owner = parent != 0 ? ui::windowNumberOfHandle(parent) : -1;
    // Allocating may close the window that held the number: that also drops its owned windows,
    // so the owner is looked up again afterwards.
    auto [record, id] = s.table.allocate(window);
    if (!record) return 0;
    WindowRecord* ownerRecord = owner != -1 ? s.table.lookup(owner) : nullptr;

    ui::installGadgetAccessibility();  // before Qt makes the window's interface
    record->widget = std::make_unique<ui::WindowWidget>(
        id, ownerRecord ? ownerRecord->widget.get() : nullptr, ui::qtFlags(flags));
    record->handle = s.nextHandle++;
    record->flags = flags;
    record->owner = ownerRecord ? owner : -1;
    s.byHandle[record->handle] = id;

    ui::WindowWidget& w = *record->widget;
    w.setWindowTitle(ui::toQString(title));
    w.resize(innerWidth, innerHeight);
    if (!(flags & WindowSizeGadget)) w.setFixedSize(innerWidth, innerHeight);
    if (flags & (WindowScreenCentered | WindowWindowCentered)) {
      ui::centre(*record, flags);
    } else if (x != IgnoreValue && y != IgnoreValue) {
      w.move(x, y);
    }
    if (flags & WindowMaximize) w.setWindowState(Qt::WindowMaximized);
    if (flags & WindowMinimize) w.setWindowState(Qt::WindowMinimized);
    if (!(flags & WindowInvisible)) ui::showInState(*record, !(flags & WindowNoActivate));
    if (!(flags & WindowNoGadgets)) ui::setCurrentGadgetListWindow(id);
    w.enableEvents();
    return window == ObjectAny ? id : record->handle;
  });
}

void closeWindow(ObjectNumber window) {
  noThrow([&] {
    if (!ui::onMainThread()) return;
    if (window == ObjectAll) {
      ui::freeAllWindows();
      return;
    }
    if (find(window)) ui::closeWindowNow(window);
  });
}

bool isWindow(ObjectNumber window) { return find(window) != nullptr; }

NativeHandle windowHandle(ObjectNumber window) {
  WindowRecord* record = find(window);
  return record ? record->handle : 0;
}

void setWindowTitle(ObjectNumber window, std::u16string_view title) {
  noThrow([&] {
    if (WindowRecord* record = find(window)) record->widget->setWindowTitle(ui::toQString(title));
  });
}

void setWindowColor(ObjectNumber window, std::int32_t colour) {
  WindowRecord* record = find(window);
  if (!record || record->widget->background() == colour) return;
  record->widget->setBackground(colour);
}

int windowX(ObjectNumber window) {
  WindowRecord* record = find(window);
  return record ? record->widget->frameGeometry().x() : 0;
}

int windowY(ObjectNumber window) {
  WindowRecord* record = find(window);
  return record ? record->widget->frameGeometry().y() : 0;
}

int windowWidth(ObjectNumber window, WindowMeasure measure) {
  WindowRecord* record = find(window);
  if (!record) return 0;
  return measure == WindowMeasure::Inner ? record->widget->width()
                                         : record->widget->frameGeometry().width();
}

int windowHeight(ObjectNumber window, WindowMeasure measure) {
  WindowRecord* record = find(window);
  if (!record) return 0;
  return measure == WindowMeasure::Inner ? record->widget->height()
                                         : record->widget->frameGeometry().height();
}

void setWindowKeys(ObjectNumber window, WindowKeys keys) {
  noThrow([&] {
    if (WindowRecord* record = find(window)) {
      record->widget->setKeysToWindow(keys == WindowKeys::ToWindow);
    }
  });
}

void hideWindow(ObjectNumber window, int hide, std::uint32_t flags) {
  noThrow([&] {
    WindowRecord* record = find(window);
    if (!record) return;
    if (hide != 0) {
      record->widget->hide();
      ui::activateOwner(*record);
      return;
    }
    if (flags & (WindowScreenCentered | WindowWindowCentered)) ui::centre(*record, flags);
    ui::showInState(*record, !(flags & WindowNoActivate));
  });
}

void resizeWindow(ObjectNumber window, int x, int y, int innerWidth, int innerHeight) {
  noThrow([&] {
    WindowRecord* record = find(window);
    if (!record) return;
    ui::WindowWidget& w = *record->widget;
    if (w.windowState() & Qt::WindowMaximized) w.showNormal();
    const QRect frame = w.frameGeometry();
    const int width = innerWidth == IgnoreValue ? w.width() : std::max(innerWidth, 0);
    const int height = innerHeight == IgnoreValue ? w.height() : std::max(innerHeight, 0);
    if (width != w.width() || height != w.height()) {
      if (!(record->flags & WindowSizeGadget)) w.setFixedSize(width, height);
      w.resize(width, height);
    }
    const int left = x == IgnoreValue ? frame.x() : x;
    const int top = y == IgnoreValue ? frame.y() : y;
    if (left != frame.x() || top != frame.y()) w.move(left, top);
  });
}

int windowMouseX(ObjectNumber window) {
  WindowRecord* record = find(window);
  if (!record) return -1;
  const std::optional<QPoint> p = ui::pointerInClientArea(*record->widget);
  return p ? p->x() : -1;
}

int windowMouseY(ObjectNumber window) {
  WindowRecord* record = find(window);
  if (!record) return -1;
  const std::optional<QPoint> p = ui::pointerInClientArea(*record->widget);
  return p ? p->y() : -1;
}

void setWindowAlpha(NativeHandle handle, int alpha) {
  if (!ui::onMainThread()) return;
  WindowRecord* record = find(ui::windowNumberOfHandle(handle));
  if (!record) return;
  record->widget->setWindowOpacity(std::clamp(alpha, 0, 255) / 255.0);
  // Fades set the alpha step by step without waiting in the dispatcher, which is where the
  // display connection is flushed otherwise: send each step to the display now.
  if (record->widget->isVisible()) QGuiApplication::sync();
}

void addWindowTimer(ObjectNumber window, int timerId, int intervalMs) {
  noThrow([&] {
    WindowRecord* record = find(window);
    if (!record) return;
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(std::max(intervalMs, 1));
    // Windows are looked up by number, so a timer that outlives its window's record finds nothing.
    QObject::connect(timer.get(), &QTimer::timeout,
                     [window, timerId] { ui::queueEvent(EventTimer, timerId, window, 0, 0); });
    timer->start();
    record->timers[timerId] = std::move(timer);
  });
}

void removeWindowTimer(ObjectNumber window, int timerId) {
  noThrow([&] {
    if (WindowRecord* record = find(window)) record->timers.erase(timerId);
  });
}

}  // namespace lunadio
