// Canvases: a backing image the drawing module paints into, shown as is, and every pointer and
// keyboard action turned into an EventGadget carrying a snapshot of the pointer and keys.
#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <array>

#include "ui/event_queue.h"
#include "ui/events.h"
#include "ui/events_internal.h"
#include "ui/gadget_kind.h"
#include "ui/gadgets.h"
#include "ui/gadgets_internal.h"

namespace lunadio::ui {

int virtualKey(int qtKey) {
  if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)) {
    return qtKey;
  }
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return 112 + (qtKey - Qt::Key_F1);
  switch (qtKey) {
    case Qt::Key_Backspace:
      return KeyBackspace;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return KeyTab;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return KeyReturn;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    case Qt::Key_Pause:
      return 19;
    case Qt::Key_CapsLock:
      return 20;
    case Qt::Key_Escape:
      return KeyEscape;
    case Qt::Key_Space:
      return KeySpace;
    case Qt::Key_PageUp:
      return KeyPageUp;
    case Qt::Key_PageDown:
      return KeyPageDown;
    case Qt::Key_End:
      return KeyEnd;
    case Qt::Key_Home:
      return KeyHome;
    case Qt::Key_Left:
      return KeyLeft;
    case Qt::Key_Up:
      return KeyUp;
    case Qt::Key_Right:
      return KeyRight;
    case Qt::Key_Down:
      return KeyDown;
    case Qt::Key_Insert:
      return KeyInsert;
    case Qt::Key_Delete:
      return KeyDelete;
    default:
      return 0;
  }
}

int modifierBits(Qt::KeyboardModifiers modifiers) {
  return ((modifiers & Qt::ShiftModifier) ? 1 : 0) | ((modifiers & Qt::AltModifier) ? 2 : 0) |
         ((modifiers & Qt::ControlModifier) ? 4 : 0);
}

namespace {

constexpr int kCustomCursor = 11;
constexpr int kWheelUnitsPerNotch = 120;

Qt::CursorShape cursorShape(int index) {
  static constexpr std::array<Qt::CursorShape, 11> shapes = {
      Qt::ArrowCursor,   Qt::CrossCursor,     Qt::IBeamCursor,    Qt::PointingHandCursor,
      Qt::WaitCursor,    Qt::ForbiddenCursor, Qt::SizeAllCursor,  Qt::SizeHorCursor,
      Qt::SizeVerCursor, Qt::SizeFDiagCursor, Qt::SizeBDiagCursor};
  return index >= 0 && index < static_cast<int>(shapes.size())
             ? shapes[static_cast<std::size_t>(index)]
             : Qt::ArrowCursor;
}

int buttonBits(Qt::MouseButtons buttons) {
  return ((buttons & Qt::LeftButton) ? 1 : 0) | ((buttons & Qt::RightButton) ? 2 : 0) |
         ((buttons & Qt::MiddleButton) ? 4 : 0);
}

class CanvasWidget : public QFrame {
 public:
  CanvasWidget(QWidget* parent, ObjectNumber gadget, ObjectNumber window, std::uint32_t flags)
      : QFrame(parent), gadget_(gadget), window_(window) {
    confineMouse = (flags & CanvasClipMouse) != 0;
    setMouseTracking(true);
    setFocusPolicy((flags & CanvasKeyboard) ? Qt::StrongFocus : Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (flags & CanvasBorder) setFrameStyle(QFrame::Panel | QFrame::Sunken);
  }

  QImage image;
  bool confineMouse = false;
  int cursorIndex = 0;
  std::intptr_t customCursor = 0;

  // The backing image follows the drawable area; what fits of the old picture is kept.
  void fitImage() {
    const QSize size = contentsRect().size().expandedTo(QSize(1, 1));
    if (image.size() == size) return;
    QImage fresh(size, QImage::Format_RGB32);
    fresh.fill(Qt::white);
    if (!image.isNull()) {
      QPainter painter(&fresh);
      painter.drawImage(0, 0, image);
    }
    image = std::move(fresh);
  }

  void applyCursor() {
    if (cursorIndex == kCustomCursor) {
      const QImage pixels = gadgetImagePixels(customCursor);
      setCursor(pixels.isNull() ? QCursor(Qt::BlankCursor) : QCursor(QPixmap::fromImage(pixels)));
    } else {
      setCursor(cursorShape(cursorIndex));
    }
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), image);
    painter.end();
    QFrame::paintEvent(event);
  }
  void resizeEvent(QResizeEvent* event) override {
    QFrame::resizeEvent(event);
    fitImage();
  }

  void enterEvent(QEnterEvent* event) override {
    send(EventTypeMouseEnter, toLocal(event->position().toPoint()));
    QFrame::enterEvent(event);
  }
  void leaveEvent(QEvent* event) override {
    send(EventTypeMouseLeave, toLocal(mapFromGlobal(QCursor::pos())));
    QFrame::leaveEvent(event);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    QPoint point = event->position().toPoint();
    if (captured_ && confineMouse) point = confine(event->globalPosition().toPoint(), point);
    send(EventTypeMouseMove, toLocal(point));
  }
  void mousePressEvent(QMouseEvent* event) override { press(event, false); }
  void mouseDoubleClickEvent(QMouseEvent* event) override { press(event, true); }
  void mouseReleaseEvent(QMouseEvent* event) override {
    const QPoint local = toLocal(event->position().toPoint());
    const bool inside = rect().contains(event->position().toPoint());
    switch (event->button()) {
      case Qt::LeftButton:
        send(EventTypeLeftButtonUp, local);
        if (inside && captured_) send(EventTypeLeftClick, local);
        break;
      case Qt::RightButton:
        send(EventTypeRightButtonUp, local);
        if (inside && captured_) send(EventTypeRightClick, local);
        break;
      case Qt::MiddleButton:
        send(EventTypeMiddleButtonUp, local);
        break;
      default:
        break;
    }
    if (!(event->buttons() & (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton))) {
      captured_ = false;
    }
  }
  void wheelEvent(QWheelEvent* event) override {
    wheelUnits_ += event->angleDelta().y();
    const int notches = wheelUnits_ / kWheelUnitsPerNotch;
    if (notches == 0) return;
    wheelUnits_ -= notches * kWheelUnitsPerNotch;
    send(EventTypeMouseWheel, toLocal(event->position().toPoint()), notches);
  }
  void keyPressEvent(QKeyEvent* event) override {
    const QPoint local = toLocal(mapFromGlobal(QCursor::pos()));
    send(EventTypeKeyDown, local, 0, virtualKey(event->key()));
    for (QChar c : event->text()) {
      if (c.unicode() >= 32) send(EventTypeInput, local, 0, 0, c.unicode());
    }
  }
  void keyReleaseEvent(QKeyEvent* event) override {
    send(EventTypeKeyUp, toLocal(mapFromGlobal(QCursor::pos())), 0, virtualKey(event->key()));
  }
  void focusInEvent(QFocusEvent* event) override {
    send(EventTypeFocusGained, toLocal(mapFromGlobal(QCursor::pos())));
    QFrame::focusInEvent(event);
  }
  void focusOutEvent(QFocusEvent* event) override {
    send(EventTypeFocusLost, toLocal(mapFromGlobal(QCursor::pos())));
    QFrame::focusOutEvent(event);
  }

 private:
  QPoint toLocal(QPoint widgetPoint) const { return widgetPoint - contentsRect().topLeft(); }

  void press(QMouseEvent* event, bool doubleClick) {
    const QPoint local = toLocal(event->position().toPoint());
    // Qt grabs the pointer for the widget under a press until every button is up.
    captured_ = true;
    switch (event->button()) {
      case Qt::LeftButton:
        send(EventTypeLeftButtonDown, local);
        if (doubleClick) send(EventTypeLeftDoubleClick, local);
        break;
      case Qt::RightButton:
        send(EventTypeRightButtonDown, local);
        if (doubleClick) send(EventTypeRightDoubleClick, local);
        break;
      case Qt::MiddleButton:
        send(EventTypeMiddleButtonDown, local);
        break;
      default:
        break;
    }
  }

  // Pulls the pointer back inside while a button is held; desktops that do not let programs
  // move the pointer just report the clamped position.
  QPoint confine(QPoint global, QPoint widgetPoint) {
    const QRect area = rect();
    const QPoint clamped(std::clamp(widgetPoint.x(), area.left(), area.right()),
                         std::clamp(widgetPoint.y(), area.top(), area.bottom()));
    if (clamped != widgetPoint) QCursor::setPos(global + (clamped - widgetPoint));
    return clamped;
  }

  void send(int type, QPoint local, int notches = 0, int key = 0, int character = 0) {
    CanvasSnapshot snapshot;
    snapshot.mouseX = local.x();
    snapshot.mouseY = local.y();
    snapshot.buttons = buttonBits(QApplication::mouseButtons());
    snapshot.wheelNotches = notches;
    snapshot.modifiers = modifierBits(QApplication::keyboardModifiers());
    snapshot.key = key;
    snapshot.character = character;
    queueCanvasEvent(gadget_, window_, type, snapshot);
  }

  ObjectNumber gadget_;
  ObjectNumber window_;
  bool captured_ = false;
  int wheelUnits_ = 0;
};

class CanvasGadget : public GadgetKind {
 public:
  CanvasGadget(const GadgetContext& context, std::uint32_t flags)
      : GadgetKind(context, GadgetKindCode::Canvas),
        canvas_(own(std::make_unique<CanvasWidget>(context.parent, context.gadget, context.window,
                                                   flags))) {}

  void created() override { canvas_->fitImage(); }
  void resized() override { canvas_->fitImage(); }
  QImage* backingImage() override { return &canvas_->image; }
  void backingImageChanged() override { canvas_->update(); }

  std::intptr_t attribute(int attribute) const override {
    switch (attribute) {
      case 1:
        return reinterpret_cast<std::intptr_t>(&canvas_->image);
      case 7:
        return canvas_->cursorIndex == kCustomCursor ? -1 : canvas_->cursorIndex;
      case 10:
        return canvas_->confineMouse ? 1 : 0;
      case 11:
        return canvas_->customCursor;
      default:
        break;
    }
    // The pointer and key attributes belong to the event being handled, and only to this
    // canvas's events.
    const QueuedEvent& event = currentEvent();
    if (event.code != EventGadget || event.object != number() || !event.hasSnapshot) return 0;
    const CanvasSnapshot& s = event.snapshot;
    switch (attribute) {
      case 2:
        return s.mouseX;
      case 3:
        return s.mouseY;
      case 4:
        return s.buttons;
      case 5:
        return s.wheelNotches;
      case 6:
        return s.modifiers;
      case 8:
        return s.key;
      case 9:
        return s.character;
      default:
        return 0;
    }
  }

  void setAttribute(int attribute, std::intptr_t value) override {
    switch (attribute) {
      case 1: {
        const QImage pixels = gadgetImagePixels(value);
        if (pixels.isNull()) return;
        QPainter painter(&canvas_->image);
        painter.drawImage(0, 0, pixels);
        painter.end();
        canvas_->update();
        return;
      }
      case 7:
        canvas_->cursorIndex = static_cast<int>(value);
        canvas_->applyCursor();
        return;
      case 10:
        canvas_->confineMouse = value != 0;
        return;
      case 11:
        canvas_->customCursor = value;
        canvas_->cursorIndex = kCustomCursor;
        canvas_->applyCursor();
        return;
      default:
        return;
    }
  }

 private:
  CanvasWidget* canvas_;
};

}  // namespace

std::unique_ptr<GadgetKind> makeCanvasGadget(const GadgetContext& context, std::uint32_t flags) {
  return std::make_unique<CanvasGadget>(context, flags);
}

}  // namespace lunadio::ui
