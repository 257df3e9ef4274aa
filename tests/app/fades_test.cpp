// The fades and the compact strip, with their real waits: the window's alpha steps, the sound's
// volume and frequency steps read back from the sound controls, the strip's shrink and grow.
#include <chrono>
#include <cmath>
#include <vector>

#include "app/dispatch.h"
#include "app/fades.h"
#include "app/panel.h"
#include "app/playback.h"
#include "audio/sound.h"
#include "media/media.h"
#include "tests/app/player_test_support.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/images.h"
#include "ui/test_seams.h"
#include "ui/windows.h"

namespace lunadio::testing {
namespace {

// Frequency 0 asks for the buffer's own rate, which is what the control then reads back.
int readBackFrequency(int percent, int loadedHz) {
  return percent == 0 ? loadedHz : nearestInt(static_cast<double>(loadedHz) * percent / 100);
}

struct SoundStep {
  int percent;
  int frequencyHz;
  std::int32_t volumeHundredthsDb;
};

class FadesTest : public PlayerTest {
 protected:
  void startWithWav(int rateHz, double seconds = 10.0) {
    const auto path = folder_ / "fondu.wav";
    writeFile(path, sineWav(seconds, rateHz));
    startWith(path.u16string());
  }
  // The strip's gadgets: only the title and the bar exist.
  static std::vector<int> liveGadgets() {
    std::vector<int> live;
    for (int n = 0; n <= 19; ++n) {
      if (isGadget(n)) live.push_back(n);
    }
    return live;
  }
};

TEST_F(FadesTest, WindowFadesStepEveryAlphaAndDropWhatArrivesMeanwhile) {
  startWith();
  std::vector<int> alphas;
  setFadeStepObserver([&](FadeStep step, int value) {
    if (step != FadeStep::WindowAlpha) return;
    alphas.push_back(value);
    // A click on the close image in the middle of the fade is dropped with the rest.
    if (value == 128) postEvent(EventGadget, PanelWindow, CloseGadget, EventTypeLeftClick, 0);
  });
  showPanel();
  ASSERT_EQ(alphas.size(), 255u);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(alphas[i], i + 1);
  settle();
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_TRUE(ui::windowShown(PanelWindow));
  EXPECT_DOUBLE_EQ(ui::windowOpacity(PanelWindow), 1.0);

  alphas.clear();
  postGadget(HideGadget, EventTypeLeftClick);
  ASSERT_EQ(alphas.size(), 255u);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(alphas[i], 255 - i);
  EXPECT_EQ(playerState().windowMode, ModeHidden);
  EXPECT_FALSE(ui::windowShown(PanelWindow));
  // In a modal mode the window is only shown.
  alphas.clear();
  playerState().windowMode = ModeModal;
  fadeWindow(PanelWindow);
  EXPECT_TRUE(alphas.empty());
  EXPECT_TRUE(ui::windowShown(PanelWindow));
  EXPECT_EQ(playerState().windowMode, ModeModal);
}

TEST_F(FadesTest, SoundFadesStepVolumeAndSpeedTogetherRoundedToEven) {
  startWithWav(22050);
  // What sounds freed by earlier tests of this process still have to play out.
  memoryOutput().render(48000);
  playerState().volumePercent = 75.0f;
  std::vector<SoundStep> steps;
  std::vector<float> heard;
  setFadeStepObserver([&](FadeStep step, int value) {
    if (step != FadeStep::Sound) return;
    steps.push_back({value, getSoundFrequency(TrackNumber), trackVolumeHundredthsDb()});
    const std::vector<float> block = memoryOutput().render(480);
    heard.insert(heard.end(), block.begin(), block.end());
  });
  showPanel();
  steps.clear();
  postGadget(CloseGadget, EventTypeLeftClick);
  ASSERT_EQ(steps.size(), 51u);
  for (int k = 0; k < 51; ++k) {
    const int percent = 100 - 2 * k;
    ASSERT_EQ(steps[k].percent, percent);
    EXPECT_EQ(steps[k].frequencyHz, readBackFrequency(percent, 22050)) << percent;
    EXPECT_EQ(steps[k].volumeHundredthsDb, attenuationFor(nearestInt(75.0 * percent / 100)))
        << percent;
  }
  // Ties go to the even neighbour: 75 % of 2 is 1.5 -> 2, of 6 is 4.5 -> 4.
  EXPECT_EQ(steps[49].volumeHundredthsDb, attenuationFor(2));
  EXPECT_EQ(steps[47].volumeHundredthsDb, attenuationFor(4));
  EXPECT_EQ(playerState().currentTrack.fadeFrequencyHz(), 0.0f);
  EXPECT_EQ(playerState().playing, false);
  EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PlayImage));
  EXPECT_EQ(playerState().windowMode, ModeHidden);
  memoryOutput().render(480);
  EXPECT_EQ(rms(memoryOutput().render(4800)), 0.0);

  steps.clear();
  postTray();
  ASSERT_EQ(steps.size(), 35u);
  for (int k = 0; k < 34; ++k) {
    const int percent = 3 * k;
    ASSERT_EQ(steps[k].percent, percent);
    EXPECT_EQ(steps[k].frequencyHz, readBackFrequency(percent, 22050)) << percent;
    EXPECT_EQ(steps[k].volumeHundredthsDb, attenuationFor(nearestInt(75.0 * percent / 100)))
        << percent;
  }
  EXPECT_EQ(steps[1].frequencyHz, 662);   // 661.5
  EXPECT_EQ(steps[3].frequencyHz, 1984);  // 1984.5
  EXPECT_EQ(steps[34].percent, 100);
  EXPECT_EQ(getSoundFrequency(TrackNumber), 22050);
  EXPECT_EQ(trackVolumeHundredthsDb(), attenuationFor(75));
  EXPECT_EQ(playerState().playing, true);
  EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PauseImage));
  EXPECT_GT(rms(memoryOutput().render(4800)), 0.05);

  // The speed ramp is heard as a glide: no sample jumps as a click would.
  ASSERT_FALSE(heard.empty());
  float largestJump = 0;
  for (std::size_t i = 2; i < heard.size(); i += 2) {
    largestJump = std::max(largestJump, std::abs(heard[i] - heard[i - 2]));
  }
  EXPECT_LT(largestJump, 0.1f);
}

TEST_F(FadesTest, ThePanelShrinksToTheStripAndGrowsBackRebuilt) {
  startWithWav(44100);
  showPanel();
  // With the pointer on the panel the timer does nothing.
  postTimer(CompactTimer);
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_EQ(windowHeight(PanelWindow), PanelHeight);

  const WindowGeometry saved = playerState().savedGeometry;
  std::vector<int> shrink;
  std::vector<int> grow;
  int passes = 0;
  double stripAlpha = 0;
  std::vector<int> stripGadgets;
  int titleY = -1;
  int barY = -1;
  int modeInLoop = 0;
  QRgb barPixel = 0;
  setFadeStepObserver([&](FadeStep step, int value) {
    if (step == FadeStep::Shrink) shrink.push_back(value);
    if (step == FadeStep::Grow) grow.push_back(value);
    if (step != FadeStep::CompactPass) return;
    memoryOutput().render(4800);  // the track moves on while compact
    if (++passes == 5) {
      stripAlpha = ui::windowOpacity(PanelWindow);
      stripGadgets = liveGadgets();
      titleY = gadgetY(TitleGadget);
      barY = gadgetY(ProgressGadget);
      modeInLoop = value;
      barPixel = canvasPixels(ProgressGadget).pixel(2, 4);
      pointerAtPanel(150, 30);
    }
  });
  pointerAway();
  postTimer(CompactTimer);

  ASSERT_EQ(shrink.size(), 96u);
  EXPECT_EQ(shrink.front(), 155);
  EXPECT_EQ(shrink.back(), 60);
  EXPECT_EQ(passes, 5);
  EXPECT_NEAR(stripAlpha, 200 / 255.0, 0.01);
  EXPECT_EQ(stripGadgets, (std::vector<int>{TitleGadget, ProgressGadget}));
  EXPECT_EQ(titleY, 10);
  EXPECT_EQ(barY, 30);
  EXPECT_EQ(modeInLoop, ModeCompact);
  EXPECT_EQ(barPixel, qRgb(255, 0, 0));
  ASSERT_FALSE(grow.empty());
  EXPECT_EQ(grow.front(), 60);
  EXPECT_EQ(grow[1], 63);
  EXPECT_EQ(grow.back(), 155);

  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_EQ(windowX(PanelWindow), saved.x);
  EXPECT_EQ(windowY(PanelWindow), saved.y);
  EXPECT_EQ(windowWidth(PanelWindow), saved.innerWidth);
  EXPECT_EQ(windowHeight(PanelWindow), saved.innerHeight);
  EXPECT_DOUBLE_EQ(ui::windowOpacity(PanelWindow), 1.0);
  EXPECT_EQ(liveGadgets().size(), 20u);
  EXPECT_EQ(gadgetY(TitleGadget), 50);
  EXPECT_EQ(gadgetY(ProgressGadget), 70);
  EXPECT_EQ(getGadgetData(FirstFramePiece), 1);
}

TEST_F(FadesTest, TheTrayHidesTheStripAndThePanelReadsShownWhileHidden) {
  startWith();
  showPanel();
  int passes = 0;
  std::vector<int> modes;
  setFadeStepObserver([&](FadeStep step, int value) {
    if (step != FadeStep::CompactPass) return;
    modes.push_back(value);
    ++passes;
    if (passes == 2) postEvent(EventSysTray, PanelWindow, TrayIconNumber, 0, 0);
    if (passes == 40) pointerAtPanel(150, 30);
  });
  pointerAway();
  postTimer(CompactTimer);
  ASSERT_EQ(passes, 40);
  EXPECT_EQ(modes.front(), ModeCompact);
  EXPECT_EQ(modes.back(), ModeHidden);
  // Grown back and rebuilt, but still hidden.
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_FALSE(ui::windowShown(PanelWindow));
  EXPECT_EQ(windowHeight(PanelWindow), PanelHeight);
  // The next tray press shows it and fades it out again.
  setFadeStepObserver({});
  postTray();
  EXPECT_EQ(playerState().windowMode, ModeHidden);
  EXPECT_FALSE(ui::windowShown(PanelWindow));
}

TEST_F(FadesTest, AMediaTrackLoopsWhileCompactAndFadesByVolumeOnly) {
  const auto mp3 = makeMp3(folder_, "courte.mp3", 1.0);
  if (mp3.empty()) GTEST_SKIP() << "no lame encoder";
  startWith(mp3.u16string());
  ASSERT_EQ(playerState().currentTrack.engine(), EngineKind::Media);
  showPanel();
  TrackUs largest = 0;
  bool restarted = false;
  const auto begin = std::chrono::steady_clock::now();
  setFadeStepObserver([&](FadeStep step, int) {
    if (step != FadeStep::CompactPass) return;
    const TrackUs position = playerState().currentTrack.status().position;
    if (position > largest) largest = position;
    if (position > 0 && largest > kUsPerSecond / 2 && position < largest - kUsPerSecond / 2) {
      restarted = true;
    }
    if (restarted || std::chrono::steady_clock::now() - begin > std::chrono::seconds(6)) {
      pointerAtPanel(150, 30);
    }
  });
  pointerAway();
  postTimer(CompactTimer);
  EXPECT_TRUE(restarted);
  EXPECT_EQ(playerState().windowMode, ModeShown);

  std::vector<int> percents;
  setFadeStepObserver([&](FadeStep step, int value) {
    if (step == FadeStep::Sound) percents.push_back(value);
  });
  pointerAtPanel(150, 100);
  postGadget(CloseGadget, EventTypeLeftClick);
  EXPECT_EQ(percents.size(), 51u);
  EXPECT_EQ(mediaStatus(TrackNumber), -1);
  EXPECT_EQ(playerState().currentTrack.fadeFrequencyHz(), 0.0f);
  EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PlayImage));
}

}  // namespace
}  // namespace lunadio::testing
