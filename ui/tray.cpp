#include "ui/tray.h"

#include "core/no_throw.h"

#include <QAbstractEventDispatcher>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <memory>

#include "ui/tray_internal.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace ui {
namespace {

constexpr int kTrayGrowthStep = 16;
constexpr std::intptr_t kFirstTrayToken = 0x60000000;

struct TrayRecord {
  std::intptr_t token = 0;  // non-zero while the icon exists
  std::intptr_t ownerWindowHandle = 0;
  std::unique_ptr<QSystemTrayIcon> icon;

  bool isLive() const { return token != 0; }
};

class TrayLibrary {
 public:
  static TrayLibrary& instance() {
    static TrayLibrary library;
    return library;
  }

  ObjectTable<TrayRecord>& table() { return table_; }
  std::intptr_t nextToken() { return nextToken_++; }

  void deliver(ObjectNumber icon, std::intptr_t ownerWindowHandle, int type) {
    const ObjectNumber window = windowNumberOfHandle(ownerWindowHandle);
    if (sink_) {
      sink_(EventSysTray, icon, window, type);
    } else {
      queueEvent(EventSysTray, icon, window, type, 0);
      // As a posted message would: a wait that is blocked in the dispatcher returns to look at
      // the queue.
      if (auto* dispatcher = QAbstractEventDispatcher::instance()) dispatcher->wakeUp();
    }
  }

  void setSink(TrayEventSink sink) { sink_ = std::move(sink); }

  // Icons still shown when the program's statics are torn down outlive the application object;
  // deleting them then would reach into a platform integration that is gone.
  ~TrayLibrary() {
    if (QCoreApplication::instance()) return;
    for (ObjectNumber id : table_.liveIds()) static_cast<void>(table_.lookup(id)->icon.release());
  }

 private:
  TrayLibrary() : table_(kTrayGrowthStep, [this](ObjectNumber number) { freeOne(number); }) {}

  void freeOne(ObjectNumber number) {
    if (TrayRecord* record = table_.lookup(number)) {
      if (record->icon) record->icon->hide();
    }
    table_.release(number);
  }

  // -- main thread only
  ObjectTable<TrayRecord> table_;
  TrayEventSink sink_;
  std::intptr_t nextToken_ = kFirstTrayToken;
};

// The desktop reports clicks, not presses; a double click arrives after the click of its first
// press, which keeps the 0-then-2 order. Middle clicks are not tray events of this system.
int eventTypeFor(QSystemTrayIcon::ActivationReason reason) {
  switch (reason) {
    case QSystemTrayIcon::Trigger:
      return TrayLeftPress;
    case QSystemTrayIcon::Context:
      return TrayRightPress;
    case QSystemTrayIcon::DoubleClick:
      return TrayLeftDoubleClick;
    default:
      return -1;
  }
}

QIcon placeholderIcon() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(40, 80, 200));
  painter.drawRoundedRect(2, 2, 28, 28, 6, 6);
  return QIcon(pixmap);
}

QIcon iconFromImage(std::intptr_t imageHandle) {
  // The image's own alpha channel gives the icon's transparency, so no separate mask is needed.
  const QImage pixels = imagePixelsForHandle(imageHandle);
  if (pixels.isNull()) return placeholderIcon();
  return QIcon(QPixmap::fromImage(pixels));
}

// Cut to the first `limit` UTF-16 units without leaving half a surrogate pair.
QString cutText(std::u16string_view text, std::size_t limit) {
  std::size_t length = std::min(text.size(), limit);
  if (length < text.size() && length > 0 && QChar::isHighSurrogate(text[length - 1])) --length;
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(length));
}

}  // namespace

QSystemTrayIcon* trayIconObject(ObjectNumber number) {
  const TrayRecord* record = TrayLibrary::instance().table().lookup(number);
  return record ? record->icon.get() : nullptr;
}

void setTrayEventSink(TrayEventSink sink) { TrayLibrary::instance().setSink(std::move(sink)); }

}  // namespace ui

std::intptr_t addSysTrayIcon(ObjectNumber number, std::intptr_t ownerWindowHandle,
                             std::intptr_t imageHandle) {
  return noThrow(0, [&]() -> std::intptr_t {
    auto& library = ui::TrayLibrary::instance();
    const auto allocation = library.table().allocate(number);
    if (!allocation.record) return 0;
    if (ownerWindowHandle == 0) {
      library.table().release(allocation.id);
      return 0;
    }
    ui::TrayRecord& record = *allocation.record;
    record.token = library.nextToken();
    record.ownerWindowHandle = ownerWindowHandle;
    record.icon = std::make_unique<QSystemTrayIcon>(ui::iconFromImage(imageHandle));
    const ObjectNumber id = allocation.id;
    QObject::connect(record.icon.get(), &QSystemTrayIcon::activated,
                     [id, ownerWindowHandle](QSystemTrayIcon::ActivationReason reason) {
                       const int type = ui::eventTypeFor(reason);
                       if (type >= 0)
                         ui::TrayLibrary::instance().deliver(id, ownerWindowHandle, type);
                     });
    // Shown even while no notification area exists, so the icon appears when one starts later;
    // the offscreen platform never gets one.
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) record.icon->show();
    return number == ObjectAny ? id : record.token;
  });
}

int sysTrayIconToolTip(ObjectNumber number, std::u16string_view text) {
  return noThrow(0, [&]() -> int {
    ui::TrayRecord* record = ui::TrayLibrary::instance().table().lookup(number);
    if (!record || text.empty()) return 0;
    record->icon->setToolTip(ui::cutText(text, TrayToolTipMaxChars));
    return 1;
  });
}

void removeSysTrayIcon(ObjectNumber number) {
  noThrow([&] {
    auto& table = ui::TrayLibrary::instance().table();
    if (number == ObjectAll) {
      table.freeAll();
    } else if (ui::TrayRecord* record = table.lookup(number)) {
      if (record->icon) record->icon->hide();
      table.release(number);
    }
  });
}

bool isSysTrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

}  // namespace lunadio
