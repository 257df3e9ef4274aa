#pragma once
// What an output backend does for the device (for backends only; the sound engine never sees it).
//
// Call order, all from the thread that owns the device:
//   open(spec) -> start(mixer) -> setActive(true/false)... -> close()
// Between start() and close() the backend calls mixer->render() from its own thread, one block at a
// time; close() returns only once no render call is running or will run again.
// setActive(false) means no buffer plays: a real device pauses so that an idle player costs
// nothing.

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/soundout/sound_output.h"

namespace lunadio::soundout {

struct OutputSpec {
  std::uint32_t rateHz = 0;       // the device's own rate, which the mixer renders at
  std::uint32_t blockFrames = 0;  // frames per render call the backend will usually ask for
};

// About 45 ms per block (2048 frames at 44.1 or 48 kHz; a power of two, which SDL wants). The
// sound server wakes the audio thread about once per block, so the block sets what playing costs:
// at 23 ms the wake-ups alone took 0.8 % of a core in the tray, at 46 ms half that. A pause or a
// seek waits for at most the block already made and the server's buffer of about one more, and a
// volume change ramps over 11 ms at the start of its block: each is heard within 100 ms
// (bench/player/response.sh).
inline std::uint16_t blockFramesFor(std::uint32_t rateHz) {
  std::uint32_t frames = 256;
  while (frames < 8192 && frames * 25 < rateHz) frames *= 2;
  return static_cast<std::uint16_t>(frames);
}

// When a real output that nothing plays on is paused and closed, counted from the moment nothing
// plays any more: the pause leaves time for the fade-out tails of the last buffers, the close lets
// the sound server (and the sound card) sleep.
struct IdleTimes {
  std::chrono::milliseconds pauseAfter{100};
  std::chrono::milliseconds closeAfter{3000};
};

// Where a real output's idle life stands (a test seam).
enum class OutputState { Closed, Paused, Running };

class Backend {
 public:
  virtual ~Backend() = default;
  // kOk with the output's rate and block size filled in, or kErrNoDevice when no output can
  // be opened.
  virtual Result open(OutputSpec& spec) = 0;
  virtual void start(std::shared_ptr<Mixer> mixer) = 0;
  virtual void setActive(bool /*active*/) {}
  // False once the output has gone away; the primary-buffer check then fails.
  virtual bool outputAvailable() const { return true; }
  virtual void close() = 0;
};

}  // namespace lunadio::soundout
