#include "ui/windows_widget.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

#include "core/handoff.h"
#include "core/strings.h"
#include "ui/events.h"
#include "ui/events_internal.h"
#include "ui/ui_internal.h"

namespace lunadio::ui {
namespace {

// Sees every key press before its widget does, so that a window taking its keys gets them even
// when a button, which would take Space and the arrows itself, has the focus.
class WindowKeyRouter : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Every event passes here, work posted from other threads (ui/events.cpp) included, before
    // its receiver takes the hand-off: take it here first, or reading its type looks
    // unsynchronised.
    receiveHandoff(event);
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    auto* window = dynamic_cast<WindowWidget*>(widget->window());
    if (!window || !window->keysToWindow()) return false;
    if (qobject_cast<QLineEdit*>(widget) || qobject_cast<QAbstractScrollArea*>(widget)) {
      return false;  // text fields and lists keep their keys
    }
    const auto* press = static_cast<QKeyEvent*>(event);
    const int key = virtualKey(press->key());
    // Modifiers alone are no presses of their own: they come with the key they modify.
    if (key == 0 || key == KeyTab || press->key() == Qt::Key_Shift ||
        press->key() == Qt::Key_Control || press->key() == Qt::Key_Alt) {
      return false;
    }
    window->queueKey(
        key, modifierBits(press->modifiers()) | (press->isAutoRepeat() ? KeyAutoRepeat : 0));
    return true;
  }
};

void routeWindowKeys() {
  static QPointer<WindowKeyRouter> router;
  if (router || !qApp) return;
  router = new WindowKeyRouter(qApp);  // owned by the application object
  qApp->installEventFilter(router);
}

}  // namespace

WindowOverlay::WindowOverlay(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_TranslucentBackground);
  setFocusPolicy(Qt::NoFocus);
}

void WindowOverlay::paintEvent(QPaintEvent*) {
  if (image.isNull()) return;
  QPainter painter(this);
  painter.drawImage(0, 0, image);
}

WindowWidget::WindowWidget(ObjectNumber number, QWidget* owner, Qt::WindowFlags flags)
    : QWidget(owner, flags), number_(number) {
  lastState_ = windowState();
}

void WindowWidget::setBackground(std::int32_t colour) {
  background_ = colour;
  update();
}

QImage* WindowWidget::overlayImage() {
  if (!overlay_) {
    overlay_ = new WindowOverlay(this);  // owned by this widget
    overlay_->setGeometry(rect());
    overlay_->show();
  }
  overlay_->raise();
  if (overlay_->image.size() != size()) {
    overlay_->image = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    overlay_->image.fill(Qt::transparent);
  }
  return &overlay_->image;
}

void WindowWidget::overlayChanged() {
  if (overlay_) overlay_->update();
}

void WindowWidget::raiseOverlay() {
  if (overlay_) overlay_->raise();
}

void WindowWidget::setKeysToWindow(bool toWindow) {
  keysToWindow_ = toWindow;
  if (toWindow) routeWindowKeys();
}

void WindowWidget::queueKey(int key, std::intptr_t data) {
  if (eventsEnabled_) queueEvent(EventKeyDown, 0, number_, key, data);
}

void WindowWidget::queue(int code) {
  if (eventsEnabled_) queueEvent(code, 0, number_, 0, 0);
}

void WindowWidget::closeEvent(QCloseEvent* event) {
  // The window stays open until the program itself closes it.
  event->ignore();
  queue(EventCloseWindow);
}

void WindowWidget::resizeEvent(QResizeEvent* event) {
  if (overlay_) overlay_->setGeometry(rect());
  if (eventsEnabled_) queueSizeEvent(number_);
  QWidget::resizeEvent(event);
}

void WindowWidget::moveEvent(QMoveEvent* event) {
  queue(EventMoveWindow);
  QWidget::moveEvent(event);
}

void WindowWidget::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange) {
    queue(isActiveWindow() ? EventActivateWindow : EventDeactivateWindow);
  } else if (event->type() == QEvent::WindowStateChange) {
    const Qt::WindowStates now = windowState();
    if (now & Qt::WindowMinimized) {
      if (!(lastState_ & Qt::WindowMinimized)) queue(EventMinimizeWindow);
    } else if (now & Qt::WindowMaximized) {
      if (!(lastState_ & Qt::WindowMaximized)) queue(EventMaximizeWindow);
    } else if (lastState_ & (Qt::WindowMinimized | Qt::WindowMaximized)) {
      queue(EventRestoreWindow);
      if (eventsEnabled_) queueSizeEvent(number_);
    }
    lastState_ = now;
  }
  QWidget::changeEvent(event);
}

void WindowWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) queue(EventLeftClick);
  if (event->button() == Qt::RightButton) queue(EventRightClick);
  QWidget::mouseReleaseEvent(event);
}

void WindowWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) queue(EventLeftDoubleClick);
  QWidget::mouseDoubleClickEvent(event);
}

void WindowWidget::paintEvent(QPaintEvent* event) {
  if (background_ != -1) {
    QPainter painter(this);
    painter.fillRect(event->rect(),
                     QColor(redOf(background_), greenOf(background_), blueOf(background_)));
  }
  queue(EventRepaint);
}

}  // namespace lunadio::ui
