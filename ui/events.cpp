#include "ui/events.h"

#include "core/no_throw.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <memory>
#include <mutex>

#include "core/handoff.h"
#include "ui/events_internal.h"
#include "ui/ui_internal.h"

namespace lunadio::ui {
namespace {

const QEvent::Type kPostedWorkEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class PostedWork : public QEvent {
 public:
  explicit PostedWork(std::function<void()> work)
      : QEvent(kPostedWorkEvent), work_(std::move(work)) {}
  void run() { work_(); }

 private:
  std::function<void()> work_;
};

// Lives on the main thread; Qt delivers the events posted to it in posting order, which keeps
// the order of postEvent() calls and wakes a dispatcher that sleeps in waitWindowEvent().
class MainThreadReceiver : public QObject {
 public:
  bool event(QEvent* event) override {
    receiveHandoff(event);  // posted from another thread through Qt's queue
    if (event->type() == kPostedWorkEvent) {
      static_cast<PostedWork*>(event)->run();
      return true;
    }
    return QObject::event(event);
  }
};

struct EventState {
  // -- main thread only
  EventQueue queue;
  QueuedEvent current;
  std::unique_ptr<QTimer> waitTimer;
  bool waitTimedOut = false;

  // Posting threads read the receiver under this lock so that it cannot vanish mid-post.
  std::mutex receiverMutex;
  std::unique_ptr<MainThreadReceiver> receiver;  // -- guarded by receiverMutex
};

EventState& state() {
  static EventState instance;
  return instance;
}

bool takeNext() {
  EventState& s = state();
  if (!s.queue.pop(s.current)) return false;
  return true;
}

}  // namespace

bool onMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

EventQueue& eventQueue() { return state().queue; }
const QueuedEvent& currentEvent() { return state().current; }

void startEventDelivery() {
  if (!onMainThread()) return;
  EventState& s = state();
  {
    std::lock_guard lock(s.receiverMutex);
    if (!s.receiver) s.receiver = std::make_unique<MainThreadReceiver>();
  }
  if (!s.waitTimer) {
    s.waitTimer = std::make_unique<QTimer>();
    s.waitTimer->setSingleShot(true);
    s.waitTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(s.waitTimer.get(), &QTimer::timeout, [] { state().waitTimedOut = true; });
  }
}

void stopEventDelivery() {
  EventState& s = state();
  std::unique_ptr<MainThreadReceiver> receiver;
  {
    std::lock_guard lock(s.receiverMutex);
    receiver = std::move(s.receiver);
  }
  if (receiver) QCoreApplication::removePostedEvents(receiver.get());
  s.waitTimer.reset();
  s.queue.clear();
  s.current = QueuedEvent{};
}

bool postToMainThread(std::function<void()> work) {
  EventState& s = state();
  std::lock_guard lock(s.receiverMutex);
  if (!s.receiver) return false;
  auto* posted = new PostedWork(std::move(work));  // Qt takes ownership
  publishHandoff(posted);
  QCoreApplication::postEvent(s.receiver.get(), posted);
  return true;
}

void queueEvent(int code, ObjectNumber object, ObjectNumber window, int type, std::intptr_t data) {
  QueuedEvent event{code, object, window, type, data, false, {}};
  if (!onMainThread()) {
    postToMainThread([event] { state().queue.push(event); });
    return;
  }
  state().queue.push(event);
}

void queueCanvasEvent(ObjectNumber gadget, ObjectNumber window, int type,
                      const CanvasSnapshot& snapshot) {
  const bool keyStroke =
      type == EventTypeKeyDown || type == EventTypeKeyUp || type == EventTypeInput;
  state().queue.push(QueuedEvent{EventGadget, gadget, window, type, 0, true, snapshot, !keyStroke});
}

void queueSizeEvent(ObjectNumber window) {
  state().queue.replaceAndPush(EventPattern{EventSizeWindow, -1, window, -1},
                               QueuedEvent{EventSizeWindow, 0, window, 0, 0, false, {}});
}

void dropEvents(const EventPattern& pattern) { state().queue.remove(pattern); }

}  // namespace lunadio::ui

namespace lunadio {

using ui::state;

int waitWindowEvent(int timeoutMs) {
  return noThrow(0, [&]() -> int {
    if (!ui::onMainThread()) return 0;
    ui::EventState& s = state();
    if (ui::takeNext()) return s.current.code;

    if (timeoutMs == 0) {
      QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else if (timeoutMs < 0) {
      while (s.queue.empty()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } else {
      ui::startEventDelivery();
      s.waitTimedOut = false;
      s.waitTimer->start(timeoutMs);
      // Each round sleeps in the dispatcher until something arrives; the timer ends the wait. The
      // clock is checked too: while posted work keeps the dispatcher busy, its timers wait.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
      while (s.queue.empty() && !s.waitTimedOut && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
      }
      s.waitTimer->stop();
    }
    // Objects whose deletion Qt deferred are freed here, since no exec() loop runs.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ui::takeNext() ? s.current.code : 0;
  });
}

ObjectNumber eventObject() { return state().current.object; }
int eventType() { return state().current.type; }
ObjectNumber eventWindow() { return state().current.window; }
std::intptr_t eventData() { return state().current.data; }

bool postEvent(int code, ObjectNumber window, ObjectNumber object, int type, std::intptr_t data) {
  return noThrow(false, [&]() -> bool {
    const ui::QueuedEvent event{code, object, window, type, data, false, {}};
    return ui::postToMainThread([event] { state().queue.push(event); });
  });
}

}  // namespace lunadio
