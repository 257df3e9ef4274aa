#include "platform/soundout/sdl_output.h"

#include <SDL.h>
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>

#include "core/no_throw.h"
#include "platform/soundout/internal/mixer.h"

namespace lunadio::soundout {
namespace {

// SDL's entry points, looked up once in the library loaded at the first use. Null when SDL is not
// installed. Never unloaded: SDL's own threads may outlive the last output.
struct SdlApi {
  decltype(&::SDL_SetHint) setHint = nullptr;
  decltype(&::SDL_InitSubSystem) initSubSystem = nullptr;
  decltype(&::SDL_QuitSubSystem) quitSubSystem = nullptr;
  decltype(&::SDL_TLSCleanup) tlsCleanup = nullptr;
  decltype(&::SDL_GetDefaultAudioInfo) getDefaultAudioInfo = nullptr;
  decltype(&::SDL_free) free = nullptr;
  decltype(&::SDL_OpenAudioDevice) openAudioDevice = nullptr;
  decltype(&::SDL_PauseAudioDevice) pauseAudioDevice = nullptr;
  decltype(&::SDL_CloseAudioDevice) closeAudioDevice = nullptr;
};

template <typename Function>
bool lookUp(void* library, const char* name, Function& function) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  return function != nullptr;
}

const SdlApi* loadSdl() {
  void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  static SdlApi api;
  const bool complete = lookUp(library, "SDL_SetHint", api.setHint) &&
                        lookUp(library, "SDL_InitSubSystem", api.initSubSystem) &&
                        lookUp(library, "SDL_QuitSubSystem", api.quitSubSystem) &&
                        lookUp(library, "SDL_TLSCleanup", api.tlsCleanup) &&
                        lookUp(library, "SDL_GetDefaultAudioInfo", api.getDefaultAudioInfo) &&
                        lookUp(library, "SDL_free", api.free) &&
                        lookUp(library, "SDL_OpenAudioDevice", api.openAudioDevice) &&
                        lookUp(library, "SDL_PauseAudioDevice", api.pauseAudioDevice) &&
                        lookUp(library, "SDL_CloseAudioDevice", api.closeAudioDevice);
  return complete ? &api : nullptr;
}

// Any thread: the first call loads (a function-local static is made once, whoever asks first).
const SdlApi* sdl() {
  static const SdlApi* const api = loadSdl();
  return api;
}

// The preparation's thread and what it found. The thread writes `started` before it ends; the
// main thread reads it only after joining it.
struct Preparation {
  std::thread thread;    // -- main thread only
  bool started = false;  // -- the preparation thread, then (after the join) the main thread
};

Preparation& preparation() {
  static Preparation instance;
  return instance;
}

// Waits for the preparation, if one runs; true when it left SDL's audio started, a reference the
// caller now owns.
bool takePreparedSdlAudio() {
  Preparation& p = preparation();
  if (!p.thread.joinable()) return false;
  p.thread.join();
  return std::exchange(p.started, false);
}

bool initSdlAudio() {
  const SdlApi* api = sdl();
  if (!api) return false;
  // SDL's own SIGINT/SIGTERM handlers would turn the signals into events nobody reads, and the
  // program would no longer end when the session or a user asks it to.
  api->setHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  return api->initSubSystem(SDL_INIT_AUDIO) == 0;
}

}  // namespace

void prepareSdlAudio() {
  noThrow([] {
    Preparation& p = preparation();
    if (p.thread.joinable()) return;
    p.thread = std::thread([&p] {
      p.started = initSdlAudio();
      // SDL keeps per-thread data (its error text) for every thread that calls it; this thread
      // is not one of SDL's own, so it frees its own before it ends.
      if (const SdlApi* api = sdl()) api->tlsCleanup();
    });
  });
}

void releasePreparedSdlAudio() {
  if (takePreparedSdlAudio()) sdl()->quitSubSystem(SDL_INIT_AUDIO);
}

// The rate of the default output when the backend can name it (the sound server's default sink,
// say): that it answers means sound can play there. Unset where the backend cannot tell.
std::optional<int> sdlDefaultOutputRateHz() {
  const SdlApi* api = sdl();
  if (!api) return std::nullopt;
  SDL_AudioSpec preferred{};
  char* name = nullptr;
  if (api->getDefaultAudioInfo(&name, &preferred, 0) != 0) return std::nullopt;
  api->free(name);
  if (preferred.freq < static_cast<int>(kMinRateHz) ||
      preferred.freq > static_cast<int>(kMaxRateHz) || preferred.channels == 0) {
    return std::nullopt;
  }
  return preferred.freq;
}

SdlOutput::~SdlOutput() { close(); }

bool SdlOutput::openDeviceLocked(const std::lock_guard<std::mutex>&, bool allowRateChange) {
  SDL_AudioSpec wanted{};
  wanted.freq =
      allowRateChange ? defaultOutputRateHz_().value_or(48000) : static_cast<int>(rateHz_);
  wanted.format = AUDIO_F32SYS;
  wanted.channels = 2;
  wanted.samples =
      allowRateChange ? blockFramesFor(static_cast<std::uint32_t>(wanted.freq)) : blockFrames_;
  wanted.callback = &SdlOutput::callback;
  wanted.userdata = this;
  SDL_AudioSpec obtained{};
  // Once the mixer runs at a rate, later opens keep it and let SDL convert.
  const int changes =
      allowRateChange ? SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_SAMPLES_CHANGE : 0;
  deviceId_ = sdl()->openAudioDevice(nullptr, 0, &wanted, &obtained, changes);
  if (deviceId_ == 0) return false;
  if (obtained.format != AUDIO_F32SYS || obtained.channels != 2 ||
      obtained.freq < static_cast<int>(kMinRateHz) ||
      obtained.freq > static_cast<int>(kMaxRateHz)) {
    sdl()->closeAudioDevice(deviceId_);
    deviceId_ = 0;
    return false;
  }
  rateHz_ = static_cast<std::uint32_t>(obtained.freq);
  blockFrames_ = obtained.samples;
  paused_ = true;  // SDL opens devices paused
  ++deviceOpens_;
  return true;
}

Result SdlOutput::open(OutputSpec& spec) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool prepared = takePreparedSdlAudio();
    const bool started = initSdlAudio();
    // Our own reference holds the subsystem from here; the preparation's is no longer needed.
    if (prepared) sdl()->quitSubSystem(SDL_INIT_AUDIO);
    if (!started) return kErrNoDevice;
    subsystemStarted_ = true;
    stopping_ = false;
    deviceOpens_ = 0;
    // A device opened now would play silence until the first sound, and that sound would then wait
    // behind the block being played and the server's buffer (two blocks, some 70 ms). Where the
    // backend names its default output, that is proof enough that sound can play: the device
    // opens with the first sound, which is then heard at once. Elsewhere opening it is the test.
    if (const std::optional<int> rateHz = defaultOutputRateHz_()) {
      rateHz_ = static_cast<std::uint32_t>(*rateHz);
      blockFrames_ = blockFramesFor(static_cast<std::uint32_t>(*rateHz));
      paused_ = true;
    } else if (!openDeviceLocked(lock, true)) {
      sdl()->quitSubSystem(SDL_INIT_AUDIO);
      subsystemStarted_ = false;
      return kErrNoDevice;
    }
    spec.rateHz = rateHz_;
    spec.blockFrames = blockFrames_;
  }
  const bool started = noThrow(false, [this] {
    idleCloser_ = std::thread([this] { closeIdleDevices(); });
    return true;
  });
  if (!started) {
    close();
    return kErrNoDevice;
  }
  return kOk;
}

void SdlOutput::start(std::shared_ptr<Mixer> mixer) {
  mixer_.store(mixer.get(), std::memory_order_release);
  mixerOwner_ = std::move(mixer);
}

void SdlOutput::setActive(bool active) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_ || !subsystemStarted_) return;
  wantActive_ = active;
  ++changes_;
  if (active) {
    if (deviceId_ == 0) openDeviceLocked(lock, false);
    if (deviceId_ != 0 && paused_) {
      sdl()->pauseAudioDevice(deviceId_, 0);
      paused_ = false;
    }
  }
  changed_.notify_all();
}

void SdlOutput::closeIdleDevices() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (wantActive_ || deviceId_ == 0) {
      changed_.wait(lock);
      continue;
    }
    const std::uint64_t seen = changes_;
    const auto changed = [&] { return stopping_ || changes_ != seen; };
    // Nothing plays: pause once the fade-out tails of the last buffers have played, then close.
    if (changed_.wait_for(lock, idleTimes_.pauseAfter, changed)) continue;
    if (!paused_) {
      sdl()->pauseAudioDevice(deviceId_, 1);
      paused_ = true;
    }
    if (changed_.wait_for(lock, idleTimes_.closeAfter - idleTimes_.pauseAfter, changed)) continue;
    sdl()->closeAudioDevice(deviceId_);  // returns once the callback thread has ended
    deviceId_ = 0;
  }
}

void SdlOutput::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (idleCloser_.joinable()) idleCloser_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (deviceId_ != 0) {
    sdl()->closeAudioDevice(deviceId_);
    deviceId_ = 0;
  }
  mixer_.store(nullptr, std::memory_order_release);
  mixerOwner_.reset();
  if (subsystemStarted_) {
    sdl()->quitSubSystem(SDL_INIT_AUDIO);
    subsystemStarted_ = false;
  }
}

SdlDeviceState SdlOutput::deviceState() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (deviceId_ == 0) return SdlDeviceState::Closed;
  return paused_ ? SdlDeviceState::Paused : SdlDeviceState::Running;
}

std::uint64_t SdlOutput::deviceOpens() {
  std::lock_guard<std::mutex> lock(mutex_);
  return deviceOpens_;
}

void SdlOutput::callback(void* self, std::uint8_t* stream, int bytes) {
  auto* output = static_cast<SdlOutput*>(self);
  output->callbackBlocks_.fetch_add(1, std::memory_order_relaxed);
  const std::size_t frames = static_cast<std::size_t>(bytes) / (2 * sizeof(float));
  Mixer* mixer = output->mixer_.load(std::memory_order_acquire);
  if (!mixer) {
    std::memset(stream, 0, static_cast<std::size_t>(bytes));
    return;
  }
  mixer->render(reinterpret_cast<float*>(stream), frames);
}

}  // namespace lunadio::soundout
