#pragma once
// The sound server's own output: PulseAudio's native protocol (PipeWire answers it too), float
// stereo at the default sink's rate, rendered in libpulse's threaded main loop. Compared with SDL
// on the same server it reaches the first sound sooner (the connection and the sink's rate are
// ready before the player asks, and the stream is made with the first sound), wakes about once a
// block while playing, and loads neither SDL nor the display libraries SDL pulls in.
//
// The server keeps at most a block and a half (some 70 ms, its sink's own latency included) of
// ours, so that a pause, a seek or a volume change is heard within 100 ms; it asks for half a
// block at a time, which is when the main loop wakes and the mixer renders straight into the
// server's shared memory.
//
// Idle: as the SDL backend (IdleTimes): the stream is corked once nothing has played for
// pauseAfter and disconnected after closeAfter, so that an idle player costs the server and the
// card nothing and its own main loop sleeps; the next play resumes or makes it again. A lost
// server (the connection failed) turns outputAvailable() false for good; the mixer then keeps
// its time without it, as long as something plays, so that the player goes on (silent).
//
// Threads: open/start/close on the device owner's thread; setActive from any thread but the main
// loop's (the mixer serialises it); the main loop's thread runs every libpulse callback: the
// connection's progress, the idle timer and the mixer's render (a resume from the cork renders
// what the server is owed at once, on setActive's thread under the lock). The main loop's lock
// guards everything marked so below; the owner thread takes it around every libpulse call.

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/soundout/backend.h"

struct pa_mainloop_api;
struct pa_stream;
struct pa_time_event;

namespace lunadio::soundout {

// Starts libpulse's main loop and begins connecting to the sound server, without waiting, so that
// reaching the server and learning the default sink's rate overlap the rest of the program's
// start. The next PulseOutput::open() takes the connection over; releasePreparedPulse() ends it
// when no output was opened. Main thread only.
void preparePulse();
void releasePreparedPulse();

struct PulseConnection;

class PulseOutput final : public Backend {
 public:
  PulseOutput();
  // Tests: other idle times than the defaults.
  explicit PulseOutput(IdleTimes idleTimes);
  ~PulseOutput() override;

  // Waits (at most 2 s) for the server and its default sink's rate; kErrNoDevice when no server
  // answers in that time.
  Result open(OutputSpec& spec) override;
  void start(std::shared_ptr<Mixer> mixer) override;
  void setActive(bool active) override;
  bool outputAvailable() const override;
  void close() override;

  // -- Test seams (any thread but the main loop's)
  OutputState streamState();
  // Streams made since open(): one with the first sound, one more for each after an idle close.
  std::uint64_t streamsMade();
  // How many times the server asked for sound and the mixer rendered it.
  std::uint64_t writes() const { return writes_.load(std::memory_order_relaxed); }

 private:
  enum class IdlePhase { None, PauseDue, CloseDue };

  static void onWritable(pa_stream* stream, std::size_t bytes, void* self);
  static void onStreamState(pa_stream* stream, void* self);
  static void onClock(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
  static void onIdleTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
  void makeStreamLocked();
  void dropStreamLocked();
  void armIdleTimerLocked(std::chrono::milliseconds after);
  void freeTimersLocked(PulseConnection& connection);
  void startSilentClockLocked();

  const IdleTimes idleTimes_{};
  std::unique_ptr<PulseConnection> connection_;  // -- owner thread; set by open, ended by close
  std::shared_ptr<Mixer> mixerOwner_;            // -- owner thread only
  std::uint32_t rateHz_ = 0;                     // -- fixed by open()
  std::uint32_t blockFrames_ = 0;                // -- fixed by open()
  Mixer* mixer_ = nullptr;                       // -- guarded by the main loop's lock
  pa_stream* stream_ = nullptr;                  // -- guarded by the main loop's lock
  pa_time_event* idleTimer_ = nullptr;           // -- guarded by the main loop's lock
  pa_time_event* clockTimer_ = nullptr;          // -- guarded by the main loop's lock
  bool silentClock_ = false;                     // -- guarded by the main loop's lock
  std::uint64_t clockDue_ = 0;                   // -- guarded by the main loop's lock
  std::vector<float> silence_;  // -- guarded by the main loop's lock; the silent clock's block
  IdlePhase idlePhase_ = IdlePhase::None;  // -- guarded by the main loop's lock
  bool wantActive_ = false;                // -- guarded by the main loop's lock
  bool corked_ = false;                    // -- guarded by the main loop's lock
  std::uint64_t streamsMade_ = 0;          // -- guarded by the main loop's lock
  std::atomic<std::uint64_t> writes_{0};   // -- written by the main loop's thread only
};

}  // namespace lunadio::soundout
