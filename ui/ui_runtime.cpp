#include "ui/ui_runtime.h"

#include "core/no_throw.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdlib>
#include <memory>

#include "core/lifecycle.h"
#include "ui/events_internal.h"
#include "ui/gadgets.h"
#include "ui/gadgets_internal.h"
#include "ui/ui_runtime_internal.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

struct OwnedApplication {
  int argc = 1;
  char name[8] = "lunadio";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;  // -- main thread only
  // A program that ends without its end sequence reaches here from exit(), after Qt's own
  // globals have gone: destroying the application then crashes, so it is left to the process.
  ~OwnedApplication() { static_cast<void>(app.release()); }
};

OwnedApplication& owned() {
  static OwnedApplication instance;
  return instance;
}

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// Qt destroys what is left of the program's widgets before the application goes away, whoever
// owns the application (the tests make their own).
void freeBeforeQtEnds() {
  closeWindow(ObjectAll);
  ui::stopEventDelivery();
}

}  // namespace

namespace ui {

PlatformChoice choosePlatform(const DisplayEnvironment& environment) {
  if (environment.platformChosen) return PlatformChoice::AsGiven;
  if (environment.wayland && environment.x11) return PlatformChoice::X11;
  if (!environment.wayland && !environment.x11) return PlatformChoice::NoDisplay;
  return PlatformChoice::AsGiven;
}

}  // namespace ui

bool startUserInterface() {
  return noThrow(false, [&]() -> bool {
    if (QCoreApplication::instance() == nullptr) {
      const ui::PlatformChoice choice = ui::choosePlatform(
          {isSet("QT_QPA_PLATFORM"), isSet("DISPLAY"), isSet("WAYLAND_DISPLAY")});
      // Qt ends the process when it finds no display; the program reports it instead.
      if (choice == ui::PlatformChoice::NoDisplay) return false;
      if (choice == ui::PlatformChoice::X11) setenv("QT_QPA_PLATFORM", "xcb", 1);
      OwnedApplication& o = owned();
      o.app = std::make_unique<QApplication>(o.argc, o.argv);
      // The program lives in the tray: hiding or closing its last window does not end it.
      QApplication::setQuitOnLastWindowClosed(false);
    }
    if (!ui::onMainThread()) return false;
    static bool postRoutineAdded = false;
    if (!postRoutineAdded) {
      qAddPostRoutine(freeBeforeQtEnds);
      postRoutineAdded = true;
    }
    ui::startEventDelivery();
    return true;
  });
}

void endUserInterface() {
  noThrow([&] {
    if (!ui::onMainThread()) return;
    freeBeforeQtEnds();
  });
}

void registerUiWindowsLifecycle() {
  addStartRoutine(StartStage::Platform, "display connection", [] { return startUserInterface(); });
  addEndRoutine(EndStage::Gadgets, "gadgets", [] { freeGadget(ObjectAll); });
  addEndRoutine(EndStage::Events, "windows and events", [] { endUserInterface(); });
  // Last of all, once images and fonts (which need the application) are gone.
  addEndRoutine(EndStage::Strings, "application", [] { owned().app.reset(); });
}

}  // namespace lunadio
