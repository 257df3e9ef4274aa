#pragma once
// The GStreamer side of the media engine's start: the start check, the choice of audio output and
// how to tell where a built output sends its sound. Internal to media/; main thread only.

#include <gst/gst.h>

#include "media/gst_ptr.h"
#include "media/media.h"

namespace lunadio::gst {

// gst_init_check, then playbin and a decoder for MPEG-1 layer 3 audio must be present.
// True once GStreamer is usable; safe to call again.
bool startGstreamer();

// The environment variable that replaces autoaudiosink with a launch description.
inline constexpr const char* kSinkVariable = "LUNADIO_MEDIA_SINK";

// True when LUNADIO_MEDIA_SINK is unset or empty, or holds a description that parses.
bool sinkDescriptionParses();

// A new audio output for one player: the LUNADIO_MEDIA_SINK description as a bin with a ghost
// sink pad, else autoaudiosink. Null when it cannot be built.
struct AudioSink {
  ElementPtr element;
  bool custom = false;
};
AudioSink makeAudioSink();

// After the output has reached READY: Silent when autoaudiosink chose a fake sink, Device
// otherwise; Custom for a LUNADIO_MEDIA_SINK output.
MediaOutput outputOf(const AudioSink& sink);

// The element inside the output that renders (the output itself when it is not a bin), once the
// output has reached READY. Asking it for the position skips the walk through every bin above it.
ElementPtr renderingElement(const AudioSink& sink);

}  // namespace lunadio::gst
