#pragma once
// What an output backend does for the device (for backends only; the sound engine never sees it).
//
// Call order, all from the thread that owns the device:
//   open(spec) -> start(mixer) -> setActive(true/false)... -> close()
// Between start() and close() the backend calls mixer->render() from its own thread, one block at a
// time; close() returns only once no render call is running or will run again.
// setActive(false) means no buffer plays: a real device pauses so that an idle player costs
// nothing.

#include <cstdint>
#include <memory>

#include "platform/soundout/sound_output.h"

namespace lunadio::soundout {

struct OutputSpec {
  std::uint32_t rateHz = 0;       // the device's own rate, which the mixer renders at
  std::uint32_t blockFrames = 0;  // frames per render call the backend will usually ask for
};

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
