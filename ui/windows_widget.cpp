#include "ui/windows_widget.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

#include "core/strings.h"
#include "ui/events.h"
#include "ui/events_internal.h"
#include "ui/ui_internal.h"

namespace lunadio::ui {

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
