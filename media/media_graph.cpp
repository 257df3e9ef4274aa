#include "media/media_graph.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <utility>

#include "core/handoff.h"
#include "core/no_throw.h"

namespace lunadio {

// Written on the main thread before the pipeline first leaves NULL (published with
// publishHandoff), then read by the streaming threads; only the atomics change later.
struct StreamingShared {
  ObjectNumber owner = 0;
  GstElement* pipeline = nullptr;  // not a reference: the pipeline outlives every streaming call
  std::atomic<bool> loop{false};
  // Counts the flushing seeks: a next pass queued before one of them is not sent after it, so it
  // cannot undo a seek or a stop made meanwhile.
  std::atomic<std::uint64_t> flushes{0};
  // The end of stream does not wait on the bus: the bus filter records it here before it calls
  // the end callback, so the main thread, woken by that callback, finds it at once (a message
  // passed on would reach the bus's queue only after the callback has returned).
  std::atomic<guint32> endSeqnum{0};  // written before endCount
  std::atomic<std::uint64_t> endCount{0};
  // The output gap watch of tests: written by the streaming thread that feeds the output.
  std::atomic<gint64> lastEndNs{-1};
  std::atomic<gint64> largestGapNs{0};
  // Fixed after open(): the block's owner, for the calls queued on GStreamer's thread pool.
  std::weak_ptr<StreamingShared> self;
};

namespace {

std::mutex endCallbackMutex;
// -- guarded by endCallbackMutex; called under it, so that a replacement waits for a call underway
MediaEndCallback endCallback;

void announceEnd(ObjectNumber owner) {
  std::lock_guard<std::mutex> lock(endCallbackMutex);
  if (endCallback) endCallback(owner);
}

// playbin flags: audio (0x2) and software volume (0x10). No video or subtitle branch is built, so
// no window is ever made; the volume stays inside this process instead of changing the sound
// server's per-stream level, which servers remember across runs.
constexpr guint kAudioOnlyFlags = 0x2 | 0x10;

constexpr MediaTime kNanosecondsPerUnit = 100;
// How long a position read from the pipeline is extrapolated before it is asked again. The player
// polls every 5 ms; a position query walks into the output element and costs far more than the
// rest of a poll.
constexpr std::chrono::milliseconds kPositionQueryInterval{20};
// A looping graph's reading that falls this far below the last one is the next pass (a stalled
// pipeline only lags by a few milliseconds).
constexpr MediaTime kLoopWrapSlack = kMediaUnitsPerSecond / 10;

// Seek flags of a looping graph's passes: each pass is a segment that ends in SEGMENT_DONE instead
// of an end of stream, and the next pass is a non-flushing seek back to 0 queued behind it, so
// the sink plays on without a gap.
constexpr auto kLoopSeekFlags =
    static_cast<GstSeekFlags>(GST_SEEK_FLAG_SEGMENT | GST_SEEK_FLAG_ACCURATE);

// The end of a pass: the stream's duration, which leaves out an MP3's padding where its header
// gives it; the end of the stream when the duration is not known.
std::pair<GstSeekType, gint64> passEnd(GstElement* pipeline) {
  gint64 end = -1;
  if (gst_element_query_duration(pipeline, GST_FORMAT_TIME, &end) && end > 0) {
    return {GST_SEEK_TYPE_SET, end};
  }
  return {GST_SEEK_TYPE_NONE, -1};
}

// What a call queued on GStreamer's thread pool carries: the graph's block and its flush count
// when the call was queued.
struct QueuedPass {
  std::shared_ptr<StreamingShared> shared;
  std::uint64_t flushes = 0;
};

// False when a flushing seek came after the call was queued.
bool stillCurrent(gpointer data) {
  const auto* queued = static_cast<const QueuedPass*>(data);
  receiveHandoff(data);  // GLib's thread pool carried it here
  receiveHandoff(queued->shared.get());
  const bool current = queued->shared->flushes.load(std::memory_order_acquire) == queued->flushes;
  publishHandoff(queued->shared.get());
  return current;
}

void seekNextPass(GstElement* pipeline, gpointer data) {
  if (!stillCurrent(data)) return;
  const auto [stopType, stop] = passEnd(pipeline);
  gst_element_send_event(pipeline, gst_event_new_seek(1.0, GST_FORMAT_TIME, kLoopSeekFlags,
                                                      GST_SEEK_TYPE_SET, 0, stopType, stop));
}

void endLastPass(GstElement* pipeline, gpointer data) {
  if (!stillCurrent(data)) return;
  // A non-flushing seek to the end, without the segment flag: the empty segment there ends the
  // stream behind what the pass has sent, so the pass plays to its end and then ends as usual.
  gint64 end = -1;
  if (!gst_element_query_duration(pipeline, GST_FORMAT_TIME, &end) || end <= 0) {
    end = std::numeric_limits<gint64>::max() / 2;
  }
  gst_element_send_event(pipeline, gst_event_new_seek(1.0, GST_FORMAT_TIME, GST_SEEK_FLAG_ACCURATE,
                                                      GST_SEEK_TYPE_SET, static_cast<guint64>(end),
                                                      GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE));
}

// A pass has been read to its end (the sound of its end is still on the way to the sink). Seeks
// and events may not be sent from the streaming thread that posted the message: GStreamer's own
// thread pool sends them. Runs on the streaming thread; `self` is the block's own owner.
void continuePass(const std::shared_ptr<StreamingShared>& self) {
  if (!self) return;
  const bool loop = self->loop.load(std::memory_order_relaxed);
  auto queued =
      std::make_unique<QueuedPass>(QueuedPass{self, self->flushes.load(std::memory_order_acquire)});
  // The pool owns the call's data from here and frees it through the notify.
  publishHandoff(queued.get());
  gst_element_call_async(self->pipeline, loop ? &seekNextPass : &endLastPass, queued.release(),
                         [](gpointer data) {
                           receiveHandoff(data);
                           const std::unique_ptr<QueuedPass> owned(static_cast<QueuedPass*>(data));
                         });
}

// Runs on whichever thread posts a message. Keeps only what the engine reads, so a bus that
// nobody pops while a track plays on does not grow, and announces the end of a track at once.
// It reads only the graph's StreamingShared block.
GstBusSyncReply keepUsefulMessages(GstBus*, GstMessage* message, gpointer data) noexcept {
  return noThrow(GST_BUS_PASS, [message, data] {
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_EOS: {
        auto* shared = static_cast<StreamingShared*>(data);
        receiveHandoff(shared);
        shared->endSeqnum.store(gst_message_get_seqnum(message), std::memory_order_relaxed);
        shared->endCount.fetch_add(1, std::memory_order_release);
        const ObjectNumber owner = shared->owner;
        publishHandoff(shared);  // not touched below; the graph's destructor may follow
        announceEnd(owner);
        return GST_BUS_DROP;
      }
      case GST_MESSAGE_SEGMENT_DONE: {
        auto* shared = static_cast<StreamingShared*>(data);
        receiveHandoff(shared);
        continuePass(shared->self.lock());
        publishHandoff(shared);
        return GST_BUS_DROP;
      }
      case GST_MESSAGE_ERROR:
      case GST_MESSAGE_ASYNC_DONE:
      case GST_MESSAGE_CLOCK_LOST:
        publishHandoff(message);  // the main thread pops and frees it
        return GST_BUS_PASS;
      default:
        return GST_BUS_DROP;
    }
  });
}

GstClockTime toNanoseconds(MediaTime position) {
  constexpr MediaTime kLimit = std::numeric_limits<std::int64_t>::max() / kNanosecondsPerUnit;
  if (position <= 0) return 0;
  return static_cast<GstClockTime>(position < kLimit ? position : kLimit) * kNanosecondsPerUnit;
}

}  // namespace

void setGraphEndCallback(MediaEndCallback callback) {
  std::lock_guard<std::mutex> lock(endCallbackMutex);
  endCallback = std::move(callback);
}

std::unique_ptr<MediaGraph> MediaGraph::open(const std::string& pathBytes,
                                             std::chrono::milliseconds prerollLimit,
                                             ObjectNumber owner) {
  if (pathBytes.empty() || pathBytes.find('\0') != std::string::npos) return nullptr;
  // Only regular files: opening a FIFO would block the main thread inside the state change until
  // a writer came, and devices or folders never hold a track.
  struct stat info {};
  if (::stat(pathBytes.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  GError* rawError = nullptr;
  gst::CharPtr uri(gst_filename_to_uri(pathBytes.c_str(), &rawError));
  gst::ErrorPtr error(rawError);
  if (!uri) return nullptr;

  std::unique_ptr<MediaGraph> graph(new MediaGraph());
  graph->shared_ = std::make_shared<StreamingShared>();
  graph->shared_->self = graph->shared_;
  graph->shared_->owner = owner;
  GstElement* playbin = gst_element_factory_make("playbin", nullptr);
  if (!playbin) return nullptr;
  graph->pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(playbin)));
  graph->shared_->pipeline = graph->pipeline_.get();
  publishHandoff(graph->shared_.get());
  graph->sink_ = gst::makeAudioSink();
  if (!graph->sink_.element) return nullptr;
  g_object_set(playbin, "flags", kAudioOnlyFlags, "uri", uri.get(), "audio-sink",
               graph->sink_.element.get(), nullptr);

  graph->bus_.reset(gst_element_get_bus(playbin));
  gst_bus_set_sync_handler(graph->bus_.get(), &keepUsefulMessages, graph->shared_.get(), nullptr);
  gst::PadPtr sinkPad(gst_element_get_static_pad(graph->sink_.element.get(), "sink"));
  graph->balance_ = std::make_unique<BalanceFilter>(sinkPad.get());

  if (!graph->preroll(prerollLimit)) return nullptr;
  gint audioStreams = 0;
  g_object_get(playbin, "n-audio", &audioStreams, nullptr);
  if (audioStreams <= 0) return nullptr;
  graph->output_ = gst::outputOf(graph->sink_);
  graph->renderer_ = gst::renderingElement(graph->sink_);
  return graph;
}

MediaGraph::~MediaGraph() {
  // NULL joins every streaming thread, so nothing can be inside the balance probe afterwards.
  if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
  balance_.reset();
  if (bus_) gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
  // Nothing runs on a streaming thread any more: the shared block can go (after the members
  // above, whatever the declaration order).
  if (shared_) receiveHandoff(shared_.get());
  shared_.reset();
}

bool MediaGraph::preroll(std::chrono::milliseconds limit) {
  const GstStateChangeReturn change = gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);
  if (change == GST_STATE_CHANGE_FAILURE) return false;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const auto wanted = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE);
  while (change == GST_STATE_CHANGE_ASYNC) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::nanoseconds::zero()) return false;
    const auto leftNs = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    gst::MessagePtr message(
        gst_bus_timed_pop_filtered(bus_.get(), static_cast<GstClockTime>(leftNs), wanted));
    if (!message) return false;  // the preroll did not finish in time
    if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) return false;
    if (GST_MESSAGE_SRC(message.get()) == GST_OBJECT(pipeline_.get())) break;
  }
  // An error may have been posted next to a preroll that still completed.
  gst::MessagePtr error(gst_bus_pop_filtered(bus_.get(), GST_MESSAGE_ERROR));
  return error == nullptr;
}

void MediaGraph::readBus(std::optional<guint32> flushSeqnum) {
  if (failed_) return;
  // The end of stream, as the bus filter recorded it. When several came since the last read, the
  // latest one's number stands for them all.
  if (const std::uint64_t ends = shared_->endCount.load(std::memory_order_acquire);
      ends != endsSeen_) {
    endsSeen_ = ends;
    const guint32 seqnum = shared_->endSeqnum.load(std::memory_order_relaxed);
    if ((!flushSeqnum || seqnum == *flushSeqnum) && state_ == GraphState::Running) ended_ = true;
  }
  while (gst::MessagePtr message{gst_bus_pop(bus_.get())}) {
    switch (GST_MESSAGE_TYPE(message.get())) {
      case GST_MESSAGE_ERROR:
        fail();
        return;
      case GST_MESSAGE_ASYNC_DONE:
        seekPending_ = false;
        break;
      case GST_MESSAGE_CLOCK_LOST:
        // The clock's provider went away: a pause and a restart make the pipeline pick another.
        if (state_ == GraphState::Running) {
          gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);
          gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
        }
        break;
      default:
        break;
    }
  }
}

void MediaGraph::fail() {
  failed_ = true;
  ended_ = false;
  // Gives back the file and the audio output at once; the player stays until it is freed.
  gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
}

void MediaGraph::setPipelineState(GstState target) {
  if (gst_element_set_state(pipeline_.get(), target) == GST_STATE_CHANGE_FAILURE) fail();
}

void MediaGraph::run() {
  readBus();
  if (failed_) return;
  state_ = GraphState::Running;
  atStart_ = false;
  anchorPosition_ = -1;
  setPipelineState(GST_STATE_PLAYING);
}

void MediaGraph::awaitRunning(std::chrono::milliseconds limit) {
  if (failed_ || state_ != GraphState::Running) return;
  const auto limitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
  // Only waits on the state change: the bus stays for the next readBus.
  if (gst_element_get_state(pipeline_.get(), nullptr, nullptr,
                            static_cast<GstClockTime>(limitNs)) == GST_STATE_CHANGE_FAILURE) {
    fail();
  }
}

void MediaGraph::pause() {
  readBus();
  if (failed_) return;
  state_ = GraphState::Paused;
  anchorPosition_ = -1;
  setPipelineState(GST_STATE_PAUSED);
}

void MediaGraph::stop() {
  readBus();
  if (failed_) return;
  if (state_ == GraphState::Stopped && atStart_) return;  // already prerolled at 0
  state_ = GraphState::Stopped;
  setPipelineState(GST_STATE_PAUSED);
  if (failed_) return;
  flushTo(0);
  atStart_ = true;
}

void MediaGraph::seek(MediaTime position) {
  readBus();
  if (failed_) return;
  flushTo(position < 0 ? 0 : position);
  atStart_ = false;
}

void MediaGraph::flushTo(MediaTime position) {
  // Whatever the bus holds from before the seek is read by the ordinary rules first, so that
  // only what the flush itself leaves is read with the flush's.
  readBus();
  if (failed_) return;
  shared_->flushes.fetch_add(1, std::memory_order_release);
  // A looping graph's passes are segments (see kLoopSeekFlags); a pass that started as a plain
  // stream ends with an end of stream, and the player starts the next one with such a seek.
  segmentPasses_ = loops();
  const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE |
                                               (segmentPasses_ ? GST_SEEK_FLAG_SEGMENT : 0));
  const auto [stopType, stop] =
      segmentPasses_ ? passEnd(pipeline_.get()) : std::pair{GST_SEEK_TYPE_NONE, gint64{-1}};
  GstEvent* seek = gst_event_new_seek(1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                                      toNanoseconds(position), stopType, stop);
  const guint32 seqnum = gst_event_get_seqnum(seek);
  ended_ = false;
  lastPosition_ = position;
  anchorPosition_ = -1;
  seekPending_ = true;
  // The flush has gone through the whole pipeline once this returns (seek errors are ignored:
  // the graph then stays where it was).
  gst_element_send_event(pipeline_.get(), seek);
  // An end of stream posted before the flush belongs to the old position: drop it. One that
  // carries this seek's number is the new segment ending at once (a seek past the end).
  readBus(seqnum);
}

GraphStatus MediaGraph::status() {
  readBus();
  if (failed_) return {GraphStatus::Kind::Failed, 0};
  GstState current = GST_STATE_VOID_PENDING;
  GstState pending = GST_STATE_VOID_PENDING;
  if (gst_element_get_state(pipeline_.get(), &current, &pending, 0) == GST_STATE_CHANGE_FAILURE) {
    fail();
    return {GraphStatus::Kind::Failed, 0};
  }
  switch (state_) {
    case GraphState::Stopped:
      return {GraphStatus::Kind::Stopped, 0};
    case GraphState::Paused:
      return {GraphStatus::Kind::Paused, 0};
    case GraphState::Running:
      break;
  }
  if (ended_) return {GraphStatus::Kind::Ended, 0};
  // A seek whose completion message was missed is over once the pipeline is settled again.
  if (seekPending_ && current == GST_STATE_PLAYING && pending == GST_STATE_VOID_PENDING) {
    seekPending_ = false;
  }
  // While a flushing seek prerolls, or when the pipeline cannot answer, the last known position
  // stands in. A running track never reads 0: the player takes 0 for "ended" and restarts it.
  if (!seekPending_) {
    const auto now = std::chrono::steady_clock::now();
    if (anchorPosition_ >= 0 && now - anchorTime_ < kPositionQueryInterval) {
      const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - anchorTime_);
      lastPosition_ =
          std::max(lastPosition_, anchorPosition_ + elapsed.count() / kNanosecondsPerUnit);
    } else if (const MediaTime position = queryPosition(); position >= 0) {
      anchorPosition_ = position;
      anchorTime_ = now;
      if (segmentPasses_ && position + kLoopWrapSlack < lastPosition_) {
        // The next pass of a loop has begun: positions start again from its beginning.
        lastPosition_ = position;
      } else {
        // Extrapolation may have run a few milliseconds ahead of a pipeline that stalled; hold
        // the reading rather than step back.
        lastPosition_ = std::max(lastPosition_, position);
      }
    }
  }
  if (lastPosition_ < 1) lastPosition_ = 1;
  return {GraphStatus::Kind::Running, lastPosition_};
}

MediaTime MediaGraph::queryDuration() {
  if (failed_) return 0;
  gint64 nanoseconds = -1;
  if (!gst_element_query_duration(pipeline_.get(), GST_FORMAT_TIME, &nanoseconds)) return 0;
  if (nanoseconds <= 0) return 0;
  return nanoseconds / kNanosecondsPerUnit;
}

MediaTime MediaGraph::queryPosition() {
  if (failed_) return -1;
  if (!positionQuery_) positionQuery_.reset(gst_query_new_position(GST_FORMAT_TIME));
  GstElement* source = renderer_ ? renderer_.get() : pipeline_.get();
  if (!gst_element_query(source, positionQuery_.get())) return -1;
  gint64 nanoseconds = -1;
  GstFormat format = GST_FORMAT_UNDEFINED;
  gst_query_parse_position(positionQuery_.get(), &format, &nanoseconds);
  if (format != GST_FORMAT_TIME) return -1;
  if (nanoseconds < 0) return -1;
  return nanoseconds / kNanosecondsPerUnit;
}

void MediaGraph::setVolume(HundredthsDb attenuation) {
  if (failed_) return;
  g_object_set(pipeline_.get(), "volume", hundredthsDbToGain(attenuation), nullptr);
}

namespace {

// A buffer about to reach the output: how far its start in running time lies past the end of the
// one before. Buffers outside their segment are dropped by the output and count for nothing.
GstPadProbeReturn watchOutputGap(GstPad* pad, GstPadProbeInfo* info, gpointer data) noexcept {
  return noThrow(GST_PAD_PROBE_OK, [&] {
    auto* shared = static_cast<StreamingShared*>(data);
    receiveHandoff(shared);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    gst::EventPtr sticky(gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0));
    if (!buffer || !sticky || !GST_BUFFER_PTS_IS_VALID(buffer) ||
        !GST_BUFFER_DURATION_IS_VALID(buffer)) {
      return GST_PAD_PROBE_OK;
    }
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(sticky.get(), &segment);
    guint64 start = 0;
    guint64 stop = 0;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (!gst_segment_clip(segment, GST_FORMAT_TIME, pts, pts + GST_BUFFER_DURATION(buffer), &start,
                          &stop)) {
      return GST_PAD_PROBE_OK;
    }
    const auto startNs =
        static_cast<gint64>(gst_segment_to_running_time(segment, GST_FORMAT_TIME, start));
    const auto endNs =
        static_cast<gint64>(gst_segment_to_running_time(segment, GST_FORMAT_TIME, stop));
    const gint64 previousEnd = shared->lastEndNs.exchange(endNs, std::memory_order_relaxed);
    if (previousEnd >= 0 && startNs - previousEnd > shared->largestGapNs.load()) {
      shared->largestGapNs.store(startNs - previousEnd, std::memory_order_relaxed);
    }
    publishHandoff(shared);
    return GST_PAD_PROBE_OK;
  });
}

}  // namespace

MediaTime MediaGraph::largestOutputGap() {
  if (gapProbeId_ == 0 && sink_.element) {
    gst::PadPtr pad(gst_element_get_static_pad(sink_.element.get(), "sink"));
    if (pad) {
      gapProbeId_ = gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, &watchOutputGap,
                                      shared_.get(), nullptr);
    }
    return 0;
  }
  return shared_->largestGapNs.load(std::memory_order_relaxed) / kNanosecondsPerUnit;
}

void MediaGraph::setLoop(bool loop) {
  shared_->loop.store(loop, std::memory_order_relaxed);
  // A graph prerolled by its load plays its first pass as a plain stream: the next play seeks to
  // the start first, so that the pass is a segment and loops.
  if (loop && !segmentPasses_ && state_ == GraphState::Stopped) atStart_ = false;
}

bool MediaGraph::loops() const { return shared_->loop.load(std::memory_order_relaxed); }

void MediaGraph::setBalance(HundredthsDb balance) {
  if (balance_) balance_->set(balance);
}

}  // namespace lunadio
