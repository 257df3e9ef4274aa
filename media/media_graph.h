#pragma once
// One file's playback pipeline: a playbin that renders audio only, prerolled when it is opened,
// and driven like a graph with three states of its own (stopped, paused, running).
//
// Contract: open() -> run() / pause() / stop() / seek() / status() ... -> destruction (NULL state).
// Main thread only. GStreamer's streaming threads never touch this object: the bus filter keeps
// no state and the balance probe reads only atomics. The bus is read by status() and by the
// control operations, never by a main loop.
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
  static std::unique_ptr<MediaGraph> open(const std::string& pathBytes,
                                          std::chrono::milliseconds prerollLimit);
  ~MediaGraph();
  MediaGraph(const MediaGraph&) = delete;
  MediaGraph& operator=(const MediaGraph&) = delete;

  void run();
  void pause();
  // Back to the start and stopped.
  void stop();
  // Flushing seek; the graph keeps its state.
  void seek(MediaTime position);
  GraphStatus status();

  void setVolume(HundredthsDb attenuation);
  void setBalance(HundredthsDb balance);

  GraphState state() const { return state_; }
  bool failed() const { return failed_; }
  MediaOutput output() const { return output_; }
  // The pipeline's own position (for tests and diagnostics); -1 when it cannot be read.
  MediaTime queryPosition();
  // The stream's duration as the pipeline knows it; 0 when it does not (yet).
  MediaTime queryDuration();

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
  // True while the pipeline sits prerolled at 0 and has not run since.
  bool atStart_ = true;
  // True from a flushing seek until the pipeline has prerolled at its target.
  bool seekPending_ = false;
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
