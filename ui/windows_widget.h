#pragma once
// The Qt side of a window: a top-level widget whose client area holds the gadgets, turns its
// desktop events into the program's events, paints its colour and carries the drawing overlay.
// Main thread only.

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <cstdint>

#include "core/object_table.h"

namespace lunadio::ui {

// Transparent to the pointer and painted above every gadget, so what the program draws on the
// window stays visible over its children.
class WindowOverlay : public QWidget {
 public:
  explicit WindowOverlay(QWidget* parent);
  QImage image;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class WindowWidget : public QWidget {
 public:
  WindowWidget(ObjectNumber number, QWidget* owner, Qt::WindowFlags flags);

  ObjectNumber number() const { return number_; }
  // Set once creation has finished, so that the geometry changes of creation queue nothing.
  void enableEvents() { eventsEnabled_ = true; }
  // -1 = the desktop's default.
  void setBackground(std::int32_t colour);
  // See WindowKeys (ui/windows.h).
  void setKeysToWindow(bool toWindow);
  bool keysToWindow() const { return keysToWindow_; }
  void queueKey(int key, std::intptr_t data);
  std::int32_t background() const { return background_; }

  // Made at the client size on first use; remade (cleared) when the client size changes.
  QImage* overlayImage();
  void overlayChanged();
  void raiseOverlay();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void queue(int code);

  ObjectNumber number_;
  bool eventsEnabled_ = false;
  bool keysToWindow_ = false;
  std::int32_t background_ = -1;
  Qt::WindowStates lastState_;
  QPointer<WindowOverlay> overlay_;
};

}  // namespace lunadio::ui
