#include "platform/soundout/pulse_output.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "core/handoff.h"
#include "core/no_throw.h"
#include "platform/soundout/internal/mixer.h"

namespace lunadio::soundout {

namespace {

// The main loop's lock as ThreadSanitizer should see it: the suppressions hide what libpulse does
// itself, its mutex included, so both sides of the lock mark the hand-off. One key for every
// loop: at worst that hides a race between two loops, never reports a false one.
char loopLockKey;

void lockLoop(pa_threaded_mainloop* loop) {
  pa_threaded_mainloop_lock(loop);
  receiveHandoff(&loopLockKey);
}

void unlockLoop(pa_threaded_mainloop* loop) {
  publishHandoff(&loopLockKey);
  pa_threaded_mainloop_unlock(loop);
}

void waitLoop(pa_threaded_mainloop* loop) {
  publishHandoff(&loopLockKey);
  pa_threaded_mainloop_wait(loop);
  receiveHandoff(&loopLockKey);
}

// A callback on the loop's thread runs with the lock held.
struct InLoop {
  InLoop() { receiveHandoff(&loopLockKey); }
  ~InLoop() { publishHandoff(&loopLockKey); }
  InLoop(const InLoop&) = delete;
  InLoop& operator=(const InLoop&) = delete;
};

}  // namespace

// A main loop and its connection to the server, from the first connect to the end. Everything
// written by the callbacks is guarded by the loop's lock, except `lost`, which the owner reads
// without it.
struct PulseConnection {
  enum class Phase { Connecting, Ready, Failed };

  PulseConnection() = default;
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;
  ~PulseConnection();

  pa_threaded_mainloop* loop = nullptr;  // -- fixed once made
  pa_context* context = nullptr;         // -- fixed once made; used under the loop's lock
  Phase phase = Phase::Connecting;       // -- guarded by the loop's lock
  std::uint32_t serverRateHz = 0;        // -- guarded by the loop's lock; the server's default
  std::uint32_t sinkRateHz = 0;          // -- guarded by the loop's lock; the default sink's
  bool timedOut = false;                 // -- guarded by the loop's lock
  std::atomic<bool> lost{false};         // -- set by the loop's thread once the server is gone
};

namespace {

constexpr std::size_t kFrameBytes = 2 * sizeof(float);
constexpr pa_usec_t kConnectBound = 2'000'000;  // microseconds

pa_usec_t microseconds(std::chrono::milliseconds time) {
  return static_cast<pa_usec_t>(time.count()) * 1000;
}

// The loop's thread, lock held. The sink's rate is what the mixer will run at, so that the server
// plays our blocks as they are; the server's default rate stands in when there is no default sink.
void settle(PulseConnection& connection, std::uint32_t rateHz) {
  if (connection.phase != PulseConnection::Phase::Connecting) return;
  if (connection.sinkRateHz == 0) connection.sinkRateHz = rateHz;
  connection.phase = PulseConnection::Phase::Ready;
  pa_threaded_mainloop_signal(connection.loop, 0);
}

void onSinkInfo(pa_context*, const pa_sink_info* info, int last, void* userdata) {
  const InLoop inLoop;
  auto& connection = *static_cast<PulseConnection*>(userdata);
  if (info) connection.sinkRateHz = info->sample_spec.rate;
  if (last != 0) settle(connection, connection.serverRateHz);
}

void onServerInfo(pa_context* context, const pa_server_info* info, void* userdata) {
  const InLoop inLoop;
  auto& connection = *static_cast<PulseConnection*>(userdata);
  if (!info) {
    settle(connection, 0);
    return;
  }
  connection.serverRateHz = info->sample_spec.rate;
  pa_operation* asked = nullptr;
  if (info->default_sink_name) {
    asked =
        pa_context_get_sink_info_by_name(context, info->default_sink_name, &onSinkInfo, userdata);
  }
  if (asked) {
    pa_operation_unref(asked);
  } else {
    settle(connection, connection.serverRateHz);
  }
}

void onContextState(pa_context* context, void* userdata) {
  const InLoop inLoop;
  auto& connection = *static_cast<PulseConnection*>(userdata);
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      // Asked at once, on this thread, so that the rate is known before the player asks for it.
      if (pa_operation* asked = pa_context_get_server_info(context, &onServerInfo, userdata)) {
        pa_operation_unref(asked);
      } else {
        settle(connection, 0);
      }
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      connection.phase = PulseConnection::Phase::Failed;
      connection.lost.store(true);
      pa_threaded_mainloop_signal(connection.loop, 0);
      break;
    default:
      break;
  }
}

void onDeadline(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
  const InLoop inLoop;
  auto& connection = *static_cast<PulseConnection*>(userdata);
  connection.timedOut = true;
  pa_threaded_mainloop_signal(connection.loop, 0);
}

// Owner thread. Null when libpulse cannot even begin (no memory, no server address at all).
std::unique_ptr<PulseConnection> connect() {
  return noThrow(std::unique_ptr<PulseConnection>(), [] {
    auto connection = std::make_unique<PulseConnection>();
    connection->loop = pa_threaded_mainloop_new();
    if (!connection->loop) return std::unique_ptr<PulseConnection>();
    connection->context = pa_context_new(pa_threaded_mainloop_get_api(connection->loop), "Lunadio");
    if (!connection->context) return std::unique_ptr<PulseConnection>();
    pa_context_set_state_callback(connection->context, &onContextState, connection.get());
    // No autospawn: where no server runs, another backend serves, and a server started by a
    // tray player would outlive it.
    if (pa_context_connect(connection->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
      return std::unique_ptr<PulseConnection>();
    }
    publishHandoff(&loopLockKey);  // what the loop's thread will find, made before it starts
    if (pa_threaded_mainloop_start(connection->loop) < 0) {
      return std::unique_ptr<PulseConnection>();
    }
    return connection;
  });
}

// The preparation's connection until open() takes it. -- main thread only
std::unique_ptr<PulseConnection>& prepared() {
  static std::unique_ptr<PulseConnection> connection;
  return connection;
}

}  // namespace

PulseConnection::~PulseConnection() {
  if (context) {
    lockLoop(loop);
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    unlockLoop(loop);
  }
  // Stopping joins the loop's thread: no callback runs after this.
  if (loop) pa_threaded_mainloop_stop(loop);
  receiveHandoff(&loopLockKey);
  if (context) pa_context_unref(context);
  if (loop) pa_threaded_mainloop_free(loop);
}

void preparePulse() {
  noThrow([] {
    if (!prepared()) prepared() = connect();
  });
}

void releasePreparedPulse() { prepared().reset(); }

PulseOutput::PulseOutput() = default;
PulseOutput::PulseOutput(IdleTimes idleTimes) : idleTimes_(idleTimes) {}
PulseOutput::~PulseOutput() { close(); }

Result PulseOutput::open(OutputSpec& spec) {
  close();
  std::unique_ptr<PulseConnection> connection = std::move(prepared());
  if (!connection) connection = connect();
  if (!connection) return kErrNoDevice;
  lockLoop(connection->loop);
  // libpulse has no bounded wait of its own: a timer on the loop wakes the wait at the bound.
  pa_time_event* deadline = pa_context_rttime_new(
      connection->context, pa_rtclock_now() + kConnectBound, &onDeadline, connection.get());
  while (deadline && connection->phase == PulseConnection::Phase::Connecting &&
         !connection->timedOut) {
    waitLoop(connection->loop);
  }
  if (deadline) pa_threaded_mainloop_get_api(connection->loop)->time_free(deadline);
  const std::uint32_t rateHz = connection->sinkRateHz;
  bool ready = connection->phase == PulseConnection::Phase::Ready && rateHz >= kMinRateHz &&
               rateHz <= kMaxRateHz;
  if (ready) {
    idleTimer_ = pa_context_rttime_new(connection->context, PA_USEC_INVALID, &onIdleTimer, this);
    clockTimer_ = pa_context_rttime_new(connection->context, PA_USEC_INVALID, &onClock, this);
    ready = idleTimer_ && clockTimer_ && noThrow(false, [&] {
              silence_.assign(2 * static_cast<std::size_t>(blockFramesFor(rateHz)), 0.0f);
              return true;
            });
  }
  if (!ready) freeTimersLocked(*connection);
  unlockLoop(connection->loop);
  if (!ready) return kErrNoDevice;  // the connection ends here, its loop stopped
  rateHz_ = rateHz;
  blockFrames_ = blockFramesFor(rateHz);
  spec.rateHz = rateHz_;
  spec.blockFrames = blockFrames_;
  connection_ = std::move(connection);
  return kOk;
}

void PulseOutput::start(std::shared_ptr<Mixer> mixer) {
  if (!connection_) return;
  lockLoop(connection_->loop);
  mixer_ = mixer.get();
  unlockLoop(connection_->loop);
  mixerOwner_ = std::move(mixer);
}

void PulseOutput::setActive(bool active) {
  if (!connection_) return;
  lockLoop(connection_->loop);
  wantActive_ = active;
  if (active) {
    idlePhase_ = IdlePhase::None;
    pa_context_rttime_restart(connection_->context, idleTimer_, PA_USEC_INVALID);
    if (stream_) {
      const pa_stream_state_t state = pa_stream_get_state(stream_);
      if (state != PA_STREAM_CREATING && state != PA_STREAM_READY) dropStreamLocked();
    }
    if (!stream_ && pa_context_get_state(connection_->context) == PA_CONTEXT_READY) {
      makeStreamLocked();
      if (stream_ && silentClock_) {
        silentClock_ = false;
        pa_context_rttime_restart(connection_->context, clockTimer_, PA_USEC_INVALID);
      }
    }
    if (!stream_) {
      startSilentClockLocked();
    } else if (corked_) {
      // What the server still holds was made before the pause (silence by then): dropped, so
      // that the new sound is the first thing heard. The server asks again for what it dropped;
      // what it asked for while corked is written now, behind the flush, so the buffer is whole
      // again and the stream starts even when the flush had nothing to drop.
      corked_ = false;
      if (pa_operation* flushed = pa_stream_flush(stream_, nullptr, nullptr)) {
        pa_operation_unref(flushed);
      }
      if (pa_operation* uncorked = pa_stream_cork(stream_, 0, nullptr, nullptr)) {
        pa_operation_unref(uncorked);
      }
      const std::size_t owed = pa_stream_writable_size(stream_);
      if (owed != static_cast<std::size_t>(-1) && owed > 0) onWritable(stream_, owed, this);
    }
  } else {
    idlePhase_ = IdlePhase::PauseDue;
    armIdleTimerLocked(idleTimes_.pauseAfter);
  }
  unlockLoop(connection_->loop);
}

bool PulseOutput::outputAvailable() const { return connection_ && !connection_->lost.load(); }

void PulseOutput::close() {
  if (!connection_) return;
  lockLoop(connection_->loop);
  dropStreamLocked();
  freeTimersLocked(*connection_);
  mixer_ = nullptr;
  unlockLoop(connection_->loop);
  connection_.reset();  // joins the loop's thread
  mixerOwner_.reset();
}

OutputState PulseOutput::streamState() {
  if (!connection_) return OutputState::Closed;
  lockLoop(connection_->loop);
  OutputState state = OutputState::Closed;
  if (stream_) {
    const pa_stream_state_t streamState = pa_stream_get_state(stream_);
    if (streamState == PA_STREAM_CREATING || streamState == PA_STREAM_READY) {
      state = corked_ ? OutputState::Paused : OutputState::Running;
    }
  }
  unlockLoop(connection_->loop);
  return state;
}

std::uint64_t PulseOutput::streamsMade() {
  if (!connection_) return 0;
  lockLoop(connection_->loop);
  const std::uint64_t made = streamsMade_;
  unlockLoop(connection_->loop);
  return made;
}

void PulseOutput::makeStreamLocked() {
  pa_sample_spec spec{};
  spec.format = PA_SAMPLE_FLOAT32NE;
  spec.rate = rateHz_;
  spec.channels = 2;
  pa_channel_map map{};
  pa_channel_map_init_stereo(&map);
  pa_stream* stream = pa_stream_new(connection_->context, "Lunadio", &spec, &map);
  if (!stream) return;
  pa_stream_set_write_callback(stream, &PulseOutput::onWritable, this);
  pa_stream_set_state_callback(stream, &PulseOutput::onStreamState, this);
  const auto halfBlockBytes = static_cast<std::uint32_t>(blockFrames_ / 2 * kFrameBytes);
  // With ADJUST_LATENCY the length is the whole latency, the sink's own included, and the server
  // gives the sink half of what exceeds two requests: a block and a half in all (70 ms) with
  // requests of half a block leaves the sink some 12 ms. Requests of a whole block would leave
  // it nothing, and the server would then wake every half millisecond; a longer length would
  // let a pause or a seek be heard later than 100 ms after it. The loop wakes once per request.
  // The first request is for the whole length, answered at once, which starts the stream.
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.tlength = 3 * halfBlockBytes;
  attributes.prebuf = static_cast<std::uint32_t>(-1);
  attributes.minreq = halfBlockBytes;
  attributes.fragsize = static_cast<std::uint32_t>(-1);
  if (pa_stream_connect_playback(stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr,
                                 nullptr) < 0) {
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_unref(stream);
    return;
  }
  stream_ = stream;
  corked_ = false;
  ++streamsMade_;
}

void PulseOutput::dropStreamLocked() {
  if (!stream_) return;
  pa_stream_set_write_callback(stream_, nullptr, nullptr);
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
  corked_ = false;
}

void PulseOutput::freeTimersLocked(PulseConnection& connection) {
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(connection.loop);
  if (idleTimer_) api->time_free(idleTimer_);
  if (clockTimer_) api->time_free(clockTimer_);
  idleTimer_ = nullptr;
  clockTimer_ = nullptr;
  silentClock_ = false;
}

// Without a server the player would stand still: a streamed sound would wait for its refills and
// a track would never end. The mixer keeps its time instead, a block per block's length, into
// nothing, while something plays.
void PulseOutput::startSilentClockLocked() {
  if (silentClock_) return;
  silentClock_ = true;
  clockDue_ = pa_rtclock_now();
  pa_context_rttime_restart(connection_->context, clockTimer_, clockDue_);
}

void PulseOutput::onClock(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
  const InLoop inLoop;
  auto& output = *static_cast<PulseOutput*>(self);
  const bool streamPlays =
      output.stream_ && !output.corked_ && pa_stream_get_state(output.stream_) == PA_STREAM_READY;
  if (!output.wantActive_ || streamPlays) {
    output.silentClock_ = false;  // nothing plays, or a stream plays again
    return;
  }
  if (output.mixer_) output.mixer_->render(output.silence_.data(), output.blockFrames_);
  const pa_usec_t block = output.blockFrames_ * pa_usec_t{1'000'000} / output.rateHz_;
  // After a stall (a suspended machine) the clock starts afresh rather than catching up.
  output.clockDue_ = std::max<pa_usec_t>(output.clockDue_ + block, pa_rtclock_now());
  pa_context_rttime_restart(output.connection_->context, output.clockTimer_, output.clockDue_);
}

void PulseOutput::onStreamState(pa_stream* stream, void* self) {
  const InLoop inLoop;
  auto& output = *static_cast<PulseOutput*>(self);
  const pa_stream_state_t state = pa_stream_get_state(stream);
  if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) && output.wantActive_) {
    output.startSilentClockLocked();
  }
}

void PulseOutput::armIdleTimerLocked(std::chrono::milliseconds after) {
  pa_context_rttime_restart(connection_->context, idleTimer_,
                            pa_rtclock_now() + microseconds(after));
}

void PulseOutput::onIdleTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
  const InLoop inLoop;
  auto& output = *static_cast<PulseOutput*>(self);
  pa_context_rttime_restart(output.connection_->context, output.idleTimer_, PA_USEC_INVALID);
  if (output.wantActive_) return;
  if (output.idlePhase_ == IdlePhase::PauseDue) {
    if (output.stream_ && !output.corked_) {
      if (pa_operation* corked = pa_stream_cork(output.stream_, 1, nullptr, nullptr)) {
        output.corked_ = true;
        pa_operation_unref(corked);
      }
    }
    output.idlePhase_ = IdlePhase::CloseDue;
    output.armIdleTimerLocked(output.idleTimes_.closeAfter - output.idleTimes_.pauseAfter);
  } else if (output.idlePhase_ == IdlePhase::CloseDue) {
    output.idlePhase_ = IdlePhase::None;
    output.dropStreamLocked();
  }
}

void PulseOutput::onWritable(pa_stream* stream, std::size_t bytes, void* self) {
  const InLoop inLoop;
  auto& output = *static_cast<PulseOutput*>(self);
  // A corked stream still answers the requests already on their way, with nothing: what it would
  // write is flushed at the resume anyway.
  if (output.corked_) return;
  output.writes_.fetch_add(1, std::memory_order_relaxed);
  while (bytes >= kFrameBytes) {
    void* data = nullptr;
    std::size_t granted = bytes;
    if (pa_stream_begin_write(stream, &data, &granted) < 0 || !data) return;
    granted = std::min(granted, bytes) / kFrameBytes * kFrameBytes;
    if (granted == 0) {
      pa_stream_cancel_write(stream);
      return;
    }
    if (output.mixer_) {
      output.mixer_->render(static_cast<float*>(data), granted / kFrameBytes);
    } else {
      std::memset(data, 0, granted);
    }
    if (pa_stream_write(stream, data, granted, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    bytes -= granted;
  }
}

}  // namespace lunadio::soundout
