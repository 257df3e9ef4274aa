#pragma once
// A backend that renders on demand into memory: the test seam of the output service. Nothing plays
// by itself; each render() call mixes the next frames, so tests assert on exact samples.
//
// Threads: render() may run on any one thread at a time while the device is used from another
// (this is how tests stand in for the audio callback).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/soundout/backend.h"

namespace lunadio::soundout {

struct MemoryOutputOptions {
  std::uint32_t rateHz = 48000;
  std::uint32_t blockFrames = 512;
  bool refuseOpen = false;     // stands in for a machine without an output
  bool refusePrimary = false;  // opens, then fails the primary-buffer check
};

class MemoryOutput final : public Backend {
 public:
  explicit MemoryOutput(MemoryOutputOptions options = {});

  // Mixes `frames` frames of interleaved stereo float; silence before start() and after close().
  std::vector<float> render(std::size_t frames);
  void renderInto(float* stereo, std::size_t frames);
  // False while the device has no playing buffer (a real device would be paused).
  bool active() const;

  Result open(OutputSpec& spec) override;
  void start(std::shared_ptr<Mixer> mixer) override;
  void setActive(bool active) override;
  bool outputAvailable() const override { return !options_.refusePrimary; }
  void close() override;

 private:
  const MemoryOutputOptions options_;
  mutable std::mutex mutex_;
  std::shared_ptr<Mixer> mixer_;  // -- guarded by mutex_
  bool active_ = false;           // -- guarded by mutex_
};

}  // namespace lunadio::soundout
