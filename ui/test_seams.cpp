#include "ui/test_seams.h"

#include <QSystemTrayIcon>
#include <QWidget>

#include <utility>

#include "ui/events_internal.h"
#include "ui/tray_internal.h"
#include "ui/ui_internal.h"

namespace lunadio::ui {

QImage windowPixels(ObjectNumber window) {
  QWidget* widget = windowWidget(window);
  return widget ? widget->grab().toImage() : QImage();
}

QImage canvasPixels(ObjectNumber gadget) {
  const QImage* image = canvasBackingImage(gadget);
  return image ? image->copy() : QImage();
}

bool windowShown(ObjectNumber window) {
  const QWidget* widget = windowWidget(window);
  return widget && widget->isVisible();
}

double windowOpacity(ObjectNumber window) {
  const QWidget* widget = windowWidget(window);
  return widget ? widget->windowOpacity() : 0.0;
}

QString toolTipAt(ObjectNumber window, int x, int y) {
  QWidget* top = windowWidget(window);
  if (!top) return {};
  // Qt hands a tooltip request on to the parent when a widget has none, up to the window.
  for (const QWidget* w = top->childAt(x, y); w && w != top; w = w->parentWidget()) {
    if (!w->toolTip().isEmpty()) return w->toolTip();
  }
  return top->toolTip();
}

std::optional<QString> trayToolTip(ObjectNumber icon) {
  const QSystemTrayIcon* tray = trayIconObject(icon);
  if (!tray) return std::nullopt;
  return tray->toolTip();
}

void queueCanvasPointerEvent(ObjectNumber gadget, ObjectNumber window, int type, int x, int y) {
  CanvasSnapshot snapshot;
  snapshot.mouseX = x;
  snapshot.mouseY = y;
  queueCanvasEvent(gadget, window, type, snapshot);
}

bool eventsWaiting() { return !eventQueue().empty(); }

bool runOnMainLoop(std::function<void()> work) { return postToMainThread(std::move(work)); }

}  // namespace lunadio::ui
