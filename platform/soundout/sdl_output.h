#pragma once
// The real output: SDL2 audio on the default device at its preferred rate, float stereo, blocks of
// about 45 ms. SDL picks PipeWire, PulseAudio, ALSA or JACK; SDL_AUDIODRIVER=dummy or disk runs
// headless. The mixer runs in SDL's audio callback. SDL itself is loaded only when this backend is
// used (the sound server's own backend serves most desktops without it, and loading SDL with the
// display libraries it pulls in costs about 10 ms of the start); without it, open() finds no
// device.
//
// Idle: the device is paused 100 ms after the last buffer stopped (time for the fade-out tails of
// the last buffers), and closed once nothing has played for 3 seconds, so that an idle player
// neither runs SDL's audio thread nor keeps the sound server's stream (and the sound card) awake.
// The next play opens it again at the same rate (SDL converts should the device have changed),
// which costs a few milliseconds of start latency. Where the backend names its default output (a
// sound server does), open() only asks for it and the device first opens with the first sound:
// a device opened earlier would already be playing silence, and the first sound would be heard
// only after it.
//
// Threads: open/start/close on the device owner's thread; setActive from any thread (the mixer
// serialises it); an idle-closer thread of our own; SDL's callback thread. mutex_ guards the SDL
// device calls and the state below it; the callback never takes it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/soundout/backend.h"

namespace lunadio::soundout {

using SdlIdleTimes = IdleTimes;
using SdlDeviceState = OutputState;

// Starts SDL's audio subsystem on a thread of its own, so that reaching the sound server (and
// its list of outputs) overlaps what the program does before it opens its output, the display's
// start above all. The next SdlOutput::open() waits for it and takes it over;
// releasePreparedSdlAudio() ends it when no output was opened. Both on the main thread, before
// and after any other SDL call of the program's: SDL itself is touched by one thread at a time.
void prepareSdlAudio();
void releasePreparedSdlAudio();

// The rate of the backend's default output, when the backend can name one.
using DefaultOutputProbe = std::optional<int> (*)();
std::optional<int> sdlDefaultOutputRateHz();

class SdlOutput final : public Backend {
 public:
  SdlOutput() = default;
  // Tests: other idle times than the defaults.
  explicit SdlOutput(SdlIdleTimes idleTimes, DefaultOutputProbe probe = sdlDefaultOutputRateHz)
      : idleTimes_(idleTimes), defaultOutputRateHz_(probe) {}
  ~SdlOutput() override;

  Result open(OutputSpec& spec) override;
  void start(std::shared_ptr<Mixer> mixer) override;
  void setActive(bool active) override;
  void close() override;

  // -- Test seams (any thread)
  SdlDeviceState deviceState();
  // How many times SDL's device was opened since open(): 1 from open() on a backend that cannot
  // name its default output (0 on one that can, until the first sound), then one more for each
  // reopen.
  std::uint64_t deviceOpens();
  // How many blocks SDL's callback has asked for.
  std::uint64_t callbackBlocks() const { return callbackBlocks_.load(std::memory_order_relaxed); }

 private:
  static void callback(void* self, std::uint8_t* stream, int bytes);
  bool openDeviceLocked(const std::lock_guard<std::mutex>&, bool allowRateChange);
  void closeIdleDevices();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint32_t deviceId_ = 0;     // -- guarded by mutex_; 0 while closed
  bool subsystemStarted_ = false;  // -- guarded by mutex_
  bool wantActive_ = false;        // -- guarded by mutex_
  bool paused_ = true;             // -- guarded by mutex_
  bool stopping_ = false;          // -- guarded by mutex_
  std::uint64_t changes_ = 0;      // -- guarded by mutex_; counts setActive calls
  std::uint32_t rateHz_ = 0;       // -- guarded by mutex_; fixed once first opened
  std::uint16_t blockFrames_ = 0;  // -- guarded by mutex_; fixed once first opened
  std::uint64_t deviceOpens_ = 0;  // -- guarded by mutex_
  const SdlIdleTimes idleTimes_{};
  const DefaultOutputProbe defaultOutputRateHz_ = sdlDefaultOutputRateHz;
  std::thread idleCloser_;                        // -- owner thread only
  std::atomic<std::uint64_t> callbackBlocks_{0};  // -- written by the callback only
  // Read by the callback; set before the device is first unpaused, cleared after it is closed.
  std::atomic<Mixer*> mixer_{nullptr};
  std::shared_ptr<Mixer> mixerOwner_;  // -- owner thread only
};

}  // namespace lunadio::soundout
