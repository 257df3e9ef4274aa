#include "media/media_graph.h"

#include <sys/stat.h>

#include <algorithm>
#include <limits>

#include "core/no_throw.h"

namespace lunadio {
namespace {

// playbin flags: audio (0x2) and software volume (0x10). No video or subtitle branch is built, so
// no window is ever made; the volume stays inside this process instead of changing the sound
// server's per-stream level, which servers remember across runs.
constexpr guint kAudioOnlyFlags = 0x2 | 0x10;

constexpr MediaTime kNanosecondsPerUnit = 100;
// How long a position read from the pipeline is extrapolated before it is asked again. The player
// polls every 5 ms; a position query walks into the output element and costs far more than the
// rest of a poll.
constexpr std::chrono::milliseconds kPositionQueryInterval{20};

// Runs on whichever thread posts a message. Keeps only what the engine reads, so a bus that
// nobody pops while a track plays on does not grow. It holds no state of its own.
GstBusSyncReply keepUsefulMessages(GstBus*, GstMessage* message, gpointer) noexcept {
  return noThrow(GST_BUS_PASS, [message] {
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_ERROR:
      case GST_MESSAGE_EOS:
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

std::unique_ptr<MediaGraph> MediaGraph::open(const std::string& pathBytes,
                                             std::chrono::milliseconds prerollLimit) {
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
  GstElement* playbin = gst_element_factory_make("playbin", nullptr);
  if (!playbin) return nullptr;
  graph->pipeline_.reset(GST_ELEMENT(gst_object_ref_sink(playbin)));
  graph->sink_ = gst::makeAudioSink();
  if (!graph->sink_.element) return nullptr;
  g_object_set(playbin, "flags", kAudioOnlyFlags, "uri", uri.get(), "audio-sink",
               graph->sink_.element.get(), nullptr);

  graph->bus_.reset(gst_element_get_bus(playbin));
  gst_bus_set_sync_handler(graph->bus_.get(), &keepUsefulMessages, nullptr, nullptr);
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
  while (gst::MessagePtr message{gst_bus_pop(bus_.get())}) {
    switch (GST_MESSAGE_TYPE(message.get())) {
      case GST_MESSAGE_ERROR:
        fail();
        return;
      case GST_MESSAGE_EOS:
        if (flushSeqnum && gst_message_get_seqnum(message.get()) != *flushSeqnum) break;
        if (state_ == GraphState::Running) ended_ = true;
        break;
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
  GstEvent* seek = gst_event_new_seek(
      1.0, GST_FORMAT_TIME, static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
      GST_SEEK_TYPE_SET, toNanoseconds(position), GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
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
      // Extrapolation may have run a few milliseconds ahead of a pipeline that stalled; hold the
      // reading rather than step back.
      lastPosition_ = std::max(lastPosition_, position);
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

void MediaGraph::setBalance(HundredthsDb balance) {
  if (balance_) balance_->set(balance);
}

}  // namespace lunadio
