#pragma once
// Helpers of the library window and settings tests: a scratch directory that is also the current
// directory (the settings file lives there), a started user interface, answers for the
// requesters that record what they showed, and steps run one by one inside a window's own loop.

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/library_window_testing.h"
#include "app/player_state.h"
#include "core/strings.h"
#include "storage/preferences.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/test_seams.h"
#include "ui/ui_runtime.h"
#include "ui/windows.h"

namespace lunadio::testing {

// A scratch directory, made the current directory for the test's length.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lunadio-library-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // The path with a trailing "/", as the folder chooser gives it.
  std::string folder() const { return path_ + "/"; }
  std::string file(const std::string& relative) const { return path_ + "/" + relative; }

  // Makes the file and its directories; `bytes` gives its size (the content is zeros).
  void makeFile(const std::string& relative, std::int64_t bytes = 0) const {
    const std::string path = file(relative);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::ftruncate(fd, bytes), 0);
    ::close(fd);
  }
  void makeDirectory(const std::string& relative) const {
    std::filesystem::create_directories(file(relative));
  }
  void makeLink(const std::string& relative, const std::string& target) const {
    ASSERT_EQ(::symlink(target.c_str(), file(relative).c_str()), 0) << relative;
  }
  void write(const std::string& relative, const std::string& bytes) const {
    std::ofstream(file(relative), std::ios::binary) << bytes;
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(file(relative), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  bool exists(const std::string& relative) const {
    return std::filesystem::exists(std::filesystem::symlink_status(file(relative)));
  }

 private:
  std::string path_;
  std::filesystem::path previous_;
};

inline std::u16string u16(const std::string& utf8) { return fromUtf8(utf8); }

// What a message box showed; filled while it is on screen.
struct ShownMessage {
  bool shown = false;
  QString title;
  QString text;
};

// Answers the next requester with OK and records the message box it was.
inline std::shared_ptr<ShownMessage> expectMessage(std::function<void()> alsoWhileShown = {}) {
  auto seen = std::make_shared<ShownMessage>();
  RequesterAnswer answer = RequesterAnswer::pressButton(RequesterOk);
  answer.whileShown = [seen, alsoWhileShown] {
    seen->shown = true;
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      seen->title = box->windowTitle();
      seen->text = box->text();
    }
    if (alsoWhileShown) alsoWhileShown();
  };
  answerNextRequester(std::move(answer));
  return seen;
}

inline QString qt(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Calls `then` from the event loop once what was posted before this call has been delivered and
// taken from the queue by whatever loop the program runs: the events a step queued have been
// handled, however slow the machine (a sanitizer build, say). Gives up waiting after 5 s.
inline void whenEventsHandled(std::function<void()> then) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [poll, giveUp, then = std::move(then)] {
    if (ui::eventsWaiting() && std::chrono::steady_clock::now() < giveUp) {
      QTimer::singleShot(5, [poll] { (*poll)(); });
      return;
    }
    const auto run = then;
    *poll = nullptr;  // ends the cycle of references
    run();
  };
  // Posted work runs in order: when this marker runs, every event posted before it is queued.
  ui::runOnMainLoop([poll] { (*poll)(); });
}

// Runs the steps one after another inside whatever loop the main thread is in, each a little
// after the previous one has had its effect: its events handled, then `gapMs` for what they set
// off (a redraw, a timer).
inline void runSteps(std::vector<std::function<void()>> steps, int gapMs = 30) {
  auto remaining = std::make_shared<std::vector<std::function<void()>>>(std::move(steps));
  auto index = std::make_shared<std::size_t>(0);
  auto next = std::make_shared<std::function<void()>>();
  *next = [remaining, index, next, gapMs] {
    if (*index >= remaining->size()) {
      *next = nullptr;  // ends the cycle of references
      return;
    }
    (*remaining)[(*index)++]();
    whenEventsHandled([next, gapMs] {
      QTimer::singleShot(gapMs, [next] {
        if (*next) (*next)();
      });
    });
  };
  QTimer::singleShot(gapMs, [next] { (*next)(); });
}

// A gadget click as the window layer queues it.
inline void click(ObjectNumber gadget, int type = EventTypeLeftClick) {
  postEvent(EventGadget, 0, gadget, type, 0);
}

// The visible top-level window with that title, or null.
inline QWidget* windowTitled(const QString& title) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->isVisible() && top->windowTitle() == title) return top;
  }
  return nullptr;
}

class AppUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(startUserInterface());
    drainEvents();
    playerState() = PlayerState{};
  }
  void TearDown() override {
    setLibraryScanObserver({});
    clearRequesterAnswers();
    closePreferences();
    freeGadget(ObjectAll);
    closeWindow(ObjectAll);
    drainEvents();
  }
  static void drainEvents() {
    while (windowEvent() != 0) {
    }
  }
  ScratchDirectory scratch;
};

}  // namespace lunadio::testing
