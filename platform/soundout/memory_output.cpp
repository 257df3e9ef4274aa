#include "platform/soundout/memory_output.h"

#include <algorithm>

#include "platform/soundout/internal/mixer.h"

namespace lunadio::soundout {

MemoryOutput::MemoryOutput(MemoryOutputOptions options) : options_(options) {}

Result MemoryOutput::open(OutputSpec& spec) {
  if (options_.refuseOpen) return kErrNoDevice;
  spec.rateHz = options_.rateHz;
  spec.blockFrames = options_.blockFrames;
  return kOk;
}

void MemoryOutput::start(std::shared_ptr<Mixer> mixer) {
  std::lock_guard<std::mutex> guard(mutex_);
  mixer_ = std::move(mixer);
}

void MemoryOutput::setActive(bool active) {
  std::lock_guard<std::mutex> guard(mutex_);
  active_ = active;
}

bool MemoryOutput::active() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return active_;
}

void MemoryOutput::close() {
  std::lock_guard<std::mutex> guard(mutex_);
  mixer_.reset();
  active_ = false;
}

void MemoryOutput::renderInto(float* stereo, std::size_t frames) {
  std::shared_ptr<Mixer> mixer;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    mixer = mixer_;
  }
  if (!mixer) {
    std::fill(stereo, stereo + 2 * frames, 0.0f);
    return;
  }
  // Blocks of the device's own size, as a real backend would ask for them.
  for (std::size_t done = 0; done < frames;) {
    const std::size_t step = std::min<std::size_t>(options_.blockFrames, frames - done);
    mixer->render(stereo + 2 * done, step);
    done += step;
  }
}

std::vector<float> MemoryOutput::render(std::size_t frames) {
  std::vector<float> stereo(2 * frames);
  renderInto(stereo.data(), frames);
  return stereo;
}

}  // namespace lunadio::soundout
