// Second starts reaching the running player: a track is opened as a command-line track is, a
// show request acts as a tray press on a hidden panel only, and a desktop without a tray gets
// the panel at start.
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>

#include "app/desktop_link.h"
#include "app/dispatch.h"
#include "app/fades.h"
#include "app/hand_over.h"
#include "app/panel.h"
#include "core/instance_guard.h"
#include "desktop/instance_channel.h"
#include "desktop/mpris.h"
#include "tests/app/player_test_support.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/images.h"
#include "ui/requesters.h"
#include "ui/test_seams.h"
#include "ui/tray.h"
#include "ui/windows.h"

namespace lunadio::testing {
namespace {

class DesktopLinkTest : public PlayerTest {
 protected:
  void SetUp() override {
    PlayerTest::SetUp();
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) oldRuntimeDir_ = old;
    const std::string runtime = (folder_ / "runtime").string();
    ::mkdir(runtime.c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // The media controls stay off the desktop's own bus.
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus != nullptr) oldBus_ = bus;
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  void TearDown() override {
    stopInstanceChannel();
    stopMediaControls();
    if (oldRuntimeDir_.empty()) {
      ::unsetenv("XDG_RUNTIME_DIR");
    } else {
      ::setenv("XDG_RUNTIME_DIR", oldRuntimeDir_.c_str(), 1);
    }
    if (!oldBus_.empty()) ::setenv("DBUS_SESSION_BUS_ADDRESS", oldBus_.c_str(), 1);
    PlayerTest::TearDown();
  }

  // A second start's hand-over, while the player's loop runs as it does between events.
  void secondStart(const InstanceRequest& request) {
    std::atomic<bool> done{false};
    ForwardResult result{};
    std::thread second([&] {
      result = forwardToRunningInstance(currentProgramName(), request, 2000);
      done = true;
    });
    while (!done) runMainLoopPass(5);
    second.join();
    settle();
    EXPECT_EQ(result, ForwardResult::Acknowledged);
  }

  std::string oldRuntimeDir_;
  std::string oldBus_;
};

TEST_F(DesktopLinkTest, ForwardedTrackPlaysAsACommandLineTrackWithTheModeKept) {
  startWith();
  ASSERT_TRUE(startInstanceChannel(currentProgramName()));
  const auto path = folder_ / "Deuxième départ.wav";
  writeFile(path, sineWav(2.0, 44100));

  secondStart({InstanceRequestKind::OpenTrack, path.u16string()});
  const PlayerState& st = playerState();
  EXPECT_EQ(st.currentTrack.path(), path.u16string());
  EXPECT_EQ(trackLengthUs(), 2 * kUsPerSecond);
  EXPECT_EQ(getGadgetText(TitleGadget), u"Deuxième départ");
  EXPECT_EQ(st.windowMode, ModeHidden);
  EXPECT_FALSE(ui::windowShown(PanelWindow));
  memoryOutput().render(4800);
  EXPECT_GT(rms(memoryOutput().render(4800)), 0.1);

  // On a shown panel too, the panel stays as it is.
  showPanel();
  const auto other = folder_ / "autre.wav";
  writeFile(other, sineWav(1.0, 22050));
  secondStart({InstanceRequestKind::OpenTrack, other.u16string()});
  EXPECT_EQ(st.currentTrack.path(), other.u16string());
  EXPECT_EQ(st.windowMode, ModeShown);
  EXPECT_TRUE(ui::windowShown(PanelWindow));
}

// The nested loops wait through the same pump as the main pass: a second start is played while
// they run, not after. The strip shows the new title; the panel's other gadgets, which the strip
// freed, are rebuilt from the record when it grows back.
TEST_F(DesktopLinkTest, ASecondStartIsServedInsideTheStripAndAFade) {
  const struct {
    const char* loop;
    FadeStep step;
    std::function<void()> enter;
    std::function<void()> leave;  // ends the loop once the track is heard
  } loops[] = {
      {"strip", FadeStep::CompactPass,
       [this] {
         pointerAway();
         postTimer(CompactTimer);
       },
       [this] { pointerAtPanel(150, 30); }},
      {"fade", FadeStep::WindowAlpha, [this] { postTray(); }, {}},
  };
  for (const auto& c : loops) {
    SCOPED_TRACE(c.loop);
    startWith();
    ASSERT_TRUE(startInstanceChannel(currentProgramName()));
    showPanel();
    const auto path = folder_ / (std::string(c.loop) + ".wav");
    writeFile(path, sineWav(2.0, 44100));
    std::thread second;
    std::atomic<bool> sent{false};
    bool heardInside = false;
    std::u16string titleInside;
    setFadeStepObserver([&](FadeStep step, int) {
      if (step != c.step) return;
      if (!sent.exchange(true)) {
        second = std::thread([&] {
          forwardToRunningInstance(currentProgramName(),
                                   {InstanceRequestKind::OpenTrack, path.u16string()}, 2000);
        });
        return;
      }
      if (heardInside || playerState().currentTrack.path() != path.u16string()) return;
      heardInside = true;
      titleInside = getGadgetText(TitleGadget);
      if (c.leave) c.leave();
    });
    c.enter();
    setFadeStepObserver({});
    if (second.joinable()) second.join();
    EXPECT_TRUE(heardInside);
    EXPECT_EQ(titleInside, std::u16string(path.stem().u16string()));
    // Rebuilt from the record: the new title, and the image of a playing track.
    settle();
    if (playerState().gadgetOwner == GadgetOwner::Panel) {
      EXPECT_EQ(getGadgetText(TitleGadget), titleInside);
      EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PauseImage));
    }
    stopInstanceChannel();
    TearDown();
    SetUp();
  }
}

TEST_F(DesktopLinkTest, ASecondStartWithAnEmptyParameterOpensAndShowsNothing) {
  startWith();
  ASSERT_TRUE(startInstanceChannel(currentProgramName()));
  int messages = 0;
  RequesterAnswer answer = RequesterAnswer::pressButton(RequesterOk);
  answer.whileShown = [&] { ++messages; };
  answerNextRequester(answer);
  char program[] = "lunadio";
  char empty[] = "";
  char* argv[] = {program, empty, nullptr};
  handOverToRunningInstance(2, argv);
  for (int i = 0; i < 20; ++i) runMainLoopPass(5);
  clearRequesterAnswers();
  EXPECT_EQ(messages, 0);
  EXPECT_FALSE(trackLoaded());
  EXPECT_EQ(playerState().windowMode, ModeHidden);
}

TEST_F(DesktopLinkTest, ShowRequestBringsBackAHiddenPanelOnly) {
  startWith();
  ASSERT_TRUE(startInstanceChannel(currentProgramName()));
  secondStart({InstanceRequestKind::ShowPanel, {}});
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_TRUE(ui::windowShown(PanelWindow));
  // A tray press would hide it now; a second start leaves it shown.
  secondStart({InstanceRequestKind::ShowPanel, {}});
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_TRUE(ui::windowShown(PanelWindow));
}

TEST_F(DesktopLinkTest, WithoutATrayThePanelShowsAtStart) {
  if (isSysTrayAvailable()) GTEST_SKIP() << "this platform has a tray";
  startWith();
  startDesktopLink();
  settle();
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_TRUE(ui::windowShown(PanelWindow));
}

}  // namespace
}  // namespace lunadio::testing
