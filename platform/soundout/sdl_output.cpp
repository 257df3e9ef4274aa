#include "platform/soundout/sdl_output.h"

#include <SDL.h>

#include <cstring>

#include "platform/soundout/mixer.h"

namespace lunadio::soundout {
namespace {

// About 20 ms per callback: short enough for a quick start, long enough to ride out a busy
// machine without gaps.
Uint16 blockFramesFor(int rateHz) {
  Uint16 frames = 256;
  while (frames < 8192 && frames * 50 < rateHz) frames = static_cast<Uint16>(frames * 2);
  return frames;
}

}  // namespace

SdlOutput::~SdlOutput() { close(); }

Result SdlOutput::open(OutputSpec& spec) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return kErrNoDevice;
  subsystemStarted_ = true;

  int rateHz = 48000;
  SDL_AudioSpec preferred{};
  char* name = nullptr;
  if (SDL_GetDefaultAudioInfo(&name, &preferred, 0) == 0) {
    if (preferred.freq >= static_cast<int>(kMinRateHz) &&
        preferred.freq <= static_cast<int>(kMaxRateHz)) {
      rateHz = preferred.freq;
    }
    SDL_free(name);
  }

  SDL_AudioSpec wanted{};
  wanted.freq = rateHz;
  wanted.format = AUDIO_F32SYS;
  wanted.channels = 2;
  wanted.samples = blockFramesFor(rateHz);
  wanted.callback = &SdlOutput::callback;
  wanted.userdata = this;
  SDL_AudioSpec obtained{};
  deviceId_ = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained,
                                  SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
  if (deviceId_ == 0 || obtained.format != AUDIO_F32SYS || obtained.channels != 2) {
    close();
    return kErrNoDevice;
  }
  paused_ = true;  // SDL opens devices paused
  spec.rateHz = static_cast<std::uint32_t>(obtained.freq);
  spec.blockFrames = obtained.samples;
  return kOk;
}

void SdlOutput::start(std::shared_ptr<Mixer> mixer) {
  mixer_.store(mixer.get(), std::memory_order_release);
  mixerOwner_ = std::move(mixer);
}

void SdlOutput::setActive(bool active) {
  if (deviceId_ == 0 || active == !paused_) return;
  paused_ = !active;
  SDL_PauseAudioDevice(deviceId_, paused_ ? 1 : 0);
}

void SdlOutput::close() {
  if (deviceId_ != 0) {
    SDL_CloseAudioDevice(deviceId_);  // returns once the callback thread has ended
    deviceId_ = 0;
  }
  mixer_.store(nullptr, std::memory_order_release);
  mixerOwner_.reset();
  if (subsystemStarted_) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    subsystemStarted_ = false;
  }
}

void SdlOutput::callback(void* self, std::uint8_t* stream, int bytes) {
  auto* output = static_cast<SdlOutput*>(self);
  const std::size_t frames = static_cast<std::size_t>(bytes) / (2 * sizeof(float));
  Mixer* mixer = output->mixer_.load(std::memory_order_acquire);
  if (!mixer) {
    std::memset(stream, 0, static_cast<std::size_t>(bytes));
    return;
  }
  mixer->render(reinterpret_cast<float*>(stream), frames);
}

}  // namespace lunadio::soundout
