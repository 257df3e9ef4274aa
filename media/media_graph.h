#pragma once
// One file's playback pipeline: a playbin that renders audio only, prerolled when it is opened,
// and driven like a graph with three states of its own (stopped, paused, running).
//
// Contract: open() -> run() / pause() / stop() / seek() / status() ... -> destruction (NULL state).
// Main thread only. GStreamer's streaming threads never touch this object itself: the bus filter
// reads only the graph's StreamingShared block (fixed after open, plus atomics), the balance
// probe only its atomics. The bus is read by status() and by the control operations, never by a
// main loop.
//
// Looping: while the loop flag is set, every pass is a segment seek from 0 to the stream's
// duration (flushing when the graph seeks, stops or starts). The duration leaves out an MP3's
// padding; without the stop the padding's time would stay in the pass and a sound card would
// play it as a gap. A segment ends in SEGMENT_DONE, posted on a streaming thread when
// the pass has been read to its end (well before it has been heard); the bus filter then has
// GStreamer's thread pool queue a non-flushing seek back to 0 behind it, so the sink plays the
// next pass without a gap and no end of stream comes (the parser and decoder drop an MP3's encoder
// delay and padding where its header gives them). With the flag cleared meanwhile, an end of
// stream is queued instead and the pass ends as usual. Playing passes as segments rather than
// queuing the file again in playbin keeps clear of a deadlock in playbin between a freed pipeline
// and the next file's start.
//
// "Stopped" keeps the pipeline prerolled (GStreamer PAUSED) at its rewound position, so a restart
// at the end of a track is a state change, not a new preroll.

#include <gst/gst.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "media/balance_filter.h"
#include "media/gst_ptr.h"
#include "media/gst_runtime.h"
#include "media/media.h"
#include "media/media_volume.h"

namespace lunadio {

// Sets the callback the bus filter calls, on a streaming thread, when a pipeline posts its end of
// stream (see setMediaEndCallback in media.h). Main thread; once it returns, the old callback is
// not running and is never called again.
void setGraphEndCallback(MediaEndCallback callback);

// What GStreamer's streaming threads read of a graph. Internal to media_graph.cpp.
struct StreamingShared;

enum class GraphState { Stopped, Paused, Running };

// What status() found, in the order it is checked.
struct GraphStatus {
  enum class Kind {
    Failed,  // the pipeline reported an error, or its state cannot be read
    Stopped,
    Paused,
    Ended,    // running and the stream has reached its end
    Running,  // `position` holds the current position
  };
  Kind kind = Kind::Failed;
  MediaTime position = 0;
};

class MediaGraph {
 public:
  // Builds and prerolls the pipeline for the file (raw path bytes). Null when the file cannot be
  // played or the preroll does not finish within `prerollLimit`.
  // `owner` is the number the end callback is given.
  static std::unique_ptr<MediaGraph> open(const std::string& pathBytes,
                                          std::chrono::milliseconds prerollLimit,
                                          ObjectNumber owner);
  ~MediaGraph();
  MediaGraph(const MediaGraph&) = delete;
  MediaGraph& operator=(const MediaGraph&) = delete;

  void run();
  // Waits until the pipeline has settled in the running state that run() asked for (prerolled
  // again after its flush, its output started), at most `limit`.
  void awaitRunning(std::chrono::milliseconds limit);
  void pause();
  // Back to the start and stopped.
  void stop();
  // Flushing seek; the graph keeps its state.
  void seek(MediaTime position);
  GraphStatus status();

  void setVolume(HundredthsDb attenuation);
  void setBalance(HundredthsDb balance);
  // Plays the file again without a gap each time it ends, while set. A pass that started as a
  // plain stream (playing when the flag was set) ends with an end of stream; the next play or
  // seek starts the segment passes.
  void setLoop(bool loop);
  bool loops() const;

  GraphState state() const { return state_; }
  bool failed() const { return failed_; }
  MediaOutput output() const { return output_; }
  // The pipeline's own position (for tests and diagnostics); -1 when it cannot be read.
  MediaTime queryPosition();
  // The stream's duration as the pipeline knows it; 0 when it does not (yet).
  MediaTime queryDuration();
  // Tests: starts watching the output's running time (once), then the largest gap seen.
  MediaTime largestOutputGap();

 private:
  MediaGraph() = default;
  bool preroll(std::chrono::milliseconds limit);
  // The one reader of the bus: pops every waiting message. Errors fail the graph, end of stream
  // marks the end, completion of a state change or seek clears the pending seek, a lost clock is
  // replaced. With `flushSeqnum`, an end of stream that does not carry that seek's number was
  // posted for the position before the flush and is dropped.
  void readBus(std::optional<guint32> flushSeqnum = std::nullopt);
  void fail();
  void setPipelineState(GstState target);
  // Flushing seek to `position`; end-of-stream messages older than the flush are dropped.
  void flushTo(MediaTime position);

  // -- fixed after open(); freed after the pipeline is in the NULL state
  // Shared with the calls queued on GStreamer's thread pool, which may outlive the graph.
  std::shared_ptr<StreamingShared> shared_;
  gulong gapProbeId_ = 0;  // -- main thread
  // -- fixed after open()
  gst::ElementPtr pipeline_;
  gst::BusPtr bus_;
  gst::AudioSink sink_;
  std::unique_ptr<BalanceFilter> balance_;
  // The element that renders: asked for the position directly (null: ask the pipeline).
  gst::ElementPtr renderer_;
  // -- main thread only: one position query, reused by every poll instead of allocated anew
  gst::QueryPtr positionQuery_;
  MediaOutput output_ = MediaOutput::None;
  // -- main thread only
  GraphState state_ = GraphState::Stopped;
  bool failed_ = false;
  bool ended_ = false;
  // How many ends of stream the bus filter had recorded at the last read.
  std::uint64_t endsSeen_ = 0;
  // True while the pipeline sits prerolled at 0 and has not run since.
  bool atStart_ = true;
  // True from a flushing seek until the pipeline has prerolled at its target.
  bool seekPending_ = false;
  // True when the passes playing are segments (the last flushing seek was made while looping).
  bool segmentPasses_ = false;
  // The position to report until a flushing seek has prerolled at its target, when the pipeline
  // itself cannot answer yet; also the last position read while running.
  MediaTime lastPosition_ = 0;
  // The last position the pipeline itself gave while running undisturbed, and when. Polls that
  // follow within a few milliseconds extrapolate from it instead of querying the pipeline again;
  // any control operation clears it (-1).
  MediaTime anchorPosition_ = -1;
  std::chrono::steady_clock::time_point anchorTime_;
};

}  // namespace lunadio
