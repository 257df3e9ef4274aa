#pragma once
// The player in-process: the libraries started once per test process on the offscreen platform,
// a memory sound device that renders on demand, media players on a fake sink, and a fixture that
// starts the player, drives its loop with the events a person would cause, and tears it down.

#include <gtest/gtest.h>

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/player_state.h"
#include "platform/soundout/memory_output.h"

namespace lunadio::testing {

// The engines' fixed numbers: the current track, and the trial load of the next one.
inline constexpr std::int32_t TrackNumber = 0;
inline constexpr std::int32_t TrialNumber = 1;
inline constexpr TrackUs kUsPerSecond = 1'000'000;

// The current track's length as the panel's last read gives it.
inline TrackUs trackLengthUs() { return playerState().currentTrack.lastStatus().length; }

// The device every sound of the process plays on.
soundout::MemoryOutput& memoryOutput();

// Root mean square of interleaved samples.
double rms(const std::vector<float>& samples);

// Files the tests open, written on the fly.
std::vector<std::uint8_t> sineWav(double seconds, int rateHz, double amplitude = 0.5);
std::vector<std::uint8_t> sineFlac(double seconds, int rateHz);
void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
// An MP3 made by the lame encoder; empty path when the encoder is missing.
std::filesystem::path makeMp3(const std::filesystem::path& folder, const std::string& name,
                              double seconds);

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the player as with that one command-line parameter; the real timers are stopped so
  // that only the events a test posts happen.
  void startWith(const std::u16string& startTrack = u"");

  // One loop pass per posted event, plus passes until nothing more is queued.
  void settle();
  void postTray(int type = 0);
  void postGadget(int gadget, int type);
  // A canvas event with the pointer at (x, y) on the canvas.
  void postCanvas(int gadget, int type, int x, int y);
  void postTimer(int timer);
  // Tray press from hidden: the panel fades in (and the track fades in when there is one).
  void showPanel();

  // Puts the pointer at window coordinates of the panel, or well outside it.
  void pointerAtPanel(int x, int y);
  void pointerAway();

  // What the panel shows, as the desktop would draw it.
  QImage panelPixels();
  // The pixels of a canvas gadget.
  QImage canvasPixels(int gadget);

  std::filesystem::path folder_;
  bool stopped_ = false;
};

// The sound buffer's attenuation of sound 0, hundredths of a dB.
std::int32_t trackVolumeHundredthsDb();
// What setSoundVolume(volume) makes of a volume.
std::int32_t attenuationFor(int volumePercent);

}  // namespace lunadio::testing
