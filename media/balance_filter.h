#pragma once
// Balance of a player: a buffer probe on the output's sink pad that scales the left or the right
// channel of interleaved stereo. The probe is attached only while the balance is not centred, so
// a centred player (the usual case) pays nothing.
// Internal to media/. set() and destruction run on the main thread; the probe runs on GStreamer's
// streaming thread and reads only the atomic gains. Destroy a filter only once its pipeline is in
// the NULL state: then no probe call is in flight.

#include <gst/gst.h>

#include <atomic>

#include "media/gst_ptr.h"
#include "media/media_volume.h"

namespace lunadio {

class BalanceFilter {
 public:
  explicit BalanceFilter(GstPad* pad);  // takes a reference of its own
  ~BalanceFilter();
  BalanceFilter(const BalanceFilter&) = delete;
  BalanceFilter& operator=(const BalanceFilter&) = delete;

  void set(HundredthsDb balance);

 private:
  static GstPadProbeReturn onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self);
  static GstPadProbeReturn scaleBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self);

  // -- fixed after construction
  gst::PadPtr pad_;
  // -- main thread only
  gulong probeId_ = 0;
  // -- written on the main thread, read by the streaming thread
  std::atomic<float> leftGain_{1.0f};
  std::atomic<float> rightGain_{1.0f};
};

}  // namespace lunadio
