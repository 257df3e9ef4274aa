#include "tests/app/player_test_support.h"

#include <QApplication>
#include <QCursor>

#include <unistd.h>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "app/dispatch.h"
#include "app/fades.h"
#include "app/startup.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "media/media.h"
#include "tests/audio/support/fixtures.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/test_seams.h"
#include "ui/tray.h"
#include "ui/windows.h"

namespace lunadio::testing {

double rms(const std::vector<float>& samples) {
  if (samples.empty()) return 0;
  double sum = 0;
  for (float s : samples) sum += static_cast<double>(s) * s;
  return std::sqrt(sum / samples.size());
}

namespace {

std::vector<std::int16_t> sinePcm(double seconds, int rateHz, double amplitude) {
  const auto frames = static_cast<std::size_t>(seconds * rateHz);
  std::vector<std::int16_t> pcm(frames * 2);
  for (std::size_t f = 0; f < frames; ++f) {
    const double v = amplitude * 32767 * std::sin(2 * M_PI * 440.0 * f / rateHz);
    pcm[2 * f] = pcm[2 * f + 1] = static_cast<std::int16_t>(v);
  }
  return pcm;
}

}  // namespace

std::vector<std::uint8_t> sineWav(double seconds, int rateHz, double amplitude) {
  return test::makeWav(sinePcm(seconds, rateHz, amplitude), 2, rateHz);
}

std::vector<std::uint8_t> sineFlac(double seconds, int rateHz) {
  const std::vector<std::int16_t> pcm = sinePcm(seconds, rateHz, 0.5);
  const std::vector<std::int32_t> wide(pcm.begin(), pcm.end());
  test::FlacOptions options;
  options.sampleRate = rateHz;
  return test::encodeFlac(wide, options);
}

void writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::filesystem::path makeMp3(const std::filesystem::path& folder, const std::string& name,
                              double seconds) {
  // 8 kHz mono at 8 kbit/s keeps even minutes of sound small and quick to encode.
  const int rateHz = 8000;
  const auto frames = static_cast<std::size_t>(seconds * rateHz);
  std::vector<std::int16_t> pcm(frames);
  for (std::size_t f = 0; f < frames; ++f) {
    pcm[f] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440.0 * f / rateHz));
  }
  const std::filesystem::path raw = folder / (name + ".raw");
  const std::filesystem::path mp3 = folder / name;
  {
    std::ofstream out(raw, std::ios::binary);
    out.write(reinterpret_cast<const char*>(pcm.data()),
              static_cast<std::streamsize>(pcm.size() * sizeof(std::int16_t)));
  }
  const std::string command =
      "lame --quiet -r -s 8 --bitwidth 16 --signed --little-endian -m m "
      "-b 8 '" +
      raw.string() + "' '" + mp3.string() + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0 || !std::filesystem::exists(mp3)) return {};
  return mp3;
}

std::int32_t trackVolumeHundredthsDb() { return getSoundAttenuation(TrackNumber); }

std::int32_t attenuationFor(int volumePercent) {
  return attenuationTable()[static_cast<std::size_t>(std::clamp(volumePercent, 0, 100))] - 10000;
}

void PlayerTest::SetUp() {
  char pattern[] = "/tmp/lunadio-player-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  folder_ = pattern;
  clearRequesterAnswers();
  setFadeStepObserver({});
  while (windowEvent() != 0) {
  }
}

void PlayerTest::TearDown() {
  setFadeStepObserver({});
  clearRequesterAnswers();
  freeMedia(ObjectAll);
  freeSound(ObjectAll);
  removeSysTrayIcon(ObjectAll);
  freeGadget(ObjectAll);
  closeWindow(ObjectAll);
  while (windowEvent() != 0) {
  }
  playerState() = PlayerState{};
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void PlayerTest::startWith(const std::u16string& startTrack) {
  // As the program starts: the track first, then everything a person sees.
  startTrackEarly(startTrack);
  ASSERT_EQ(startPlayer(startTrack), StartResult::Running);
  removeWindowTimer(PanelWindow, CompactTimer);
  removeWindowTimer(PanelWindow, FrameTimer);
  settle();
}

void PlayerTest::settle() {
  // Posted events reach the queue inside the wait; a few short passes take them all.
  for (int i = 0; i < 3; ++i) {
    if (runMainLoopPass(5) == LoopStep::Quit) stopped_ = true;
  }
}

void PlayerTest::postTray(int type) {
  postEvent(EventSysTray, PanelWindow, TrayIconNumber, type, 0);
  settle();
}

void PlayerTest::postGadget(int gadget, int type) {
  postEvent(EventGadget, PanelWindow, gadget, type, 0);
  settle();
}

void PlayerTest::postCanvas(int gadget, int type, int x, int y) {
  ui::queueCanvasPointerEvent(gadget, PanelWindow, type, x, y);
  settle();
}

void PlayerTest::postTimer(int timer) {
  postEvent(EventTimer, PanelWindow, timer, 0, 0);
  settle();
}

void PlayerTest::showPanel() {
  pointerAtPanel(150, 100);
  postTray();
  ASSERT_EQ(playerState().windowMode, ModeShown);
}

void PlayerTest::pointerAtPanel(int x, int y) {
  QCursor::setPos(windowX(PanelWindow) + x, windowY(PanelWindow) + y);
}

void PlayerTest::pointerAway() {
  QCursor::setPos(windowX(PanelWindow) - 50, windowY(PanelWindow) - 50);
}

QImage PlayerTest::panelPixels() { return ui::windowPixels(PanelWindow); }

QImage PlayerTest::canvasPixels(int gadget) { return ui::canvasPixels(gadget); }

}  // namespace lunadio::testing
