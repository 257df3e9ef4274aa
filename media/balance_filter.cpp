#include "media/balance_filter.h"

#include "core/handoff.h"
#include "core/no_throw.h"

#include <gst/audio/audio.h>

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

namespace lunadio {
namespace {

template <class Sample>
void scaleFrames(guint8* data, gsize bytes, float left, float right) {
  const gsize frames = bytes / (2 * sizeof(Sample));
  for (gsize i = 0; i < frames; ++i) {
    Sample pair[2];
    std::memcpy(pair, data + i * sizeof pair, sizeof pair);  // buffers need not be aligned
    if constexpr (std::is_floating_point_v<Sample>) {
      pair[0] = static_cast<Sample>(pair[0] * left);
      pair[1] = static_cast<Sample>(pair[1] * right);
    } else {
      // Gains never exceed 1, so the products stay inside the sample range.
      pair[0] = static_cast<Sample>(static_cast<double>(pair[0]) * left);
      pair[1] = static_cast<Sample>(static_cast<double>(pair[1]) * right);
    }
    std::memcpy(data + i * sizeof pair, pair, sizeof pair);
  }
}

}  // namespace

BalanceFilter::BalanceFilter(GstPad* pad) : pad_(pad ? GST_PAD(gst_object_ref(pad)) : nullptr) {}

BalanceFilter::~BalanceFilter() {
  if (probeId_ != 0 && pad_) gst_pad_remove_probe(pad_.get(), probeId_);
  // The pipeline has stopped, so no probe call is running any more.
  receiveHandoff(this);
}

void BalanceFilter::set(HundredthsDb balance) {
  const ChannelGains gains = balanceGains(balance);
  leftGain_.store(static_cast<float>(gains.left), std::memory_order_relaxed);
  rightGain_.store(static_cast<float>(gains.right), std::memory_order_relaxed);
  publishHandoff(this);  // the pad's lock carries the filter to the streaming thread
  if (!pad_) return;
  const bool centred = gains.left == 1.0 && gains.right == 1.0;
  if (centred && probeId_ != 0) {
    gst_pad_remove_probe(pad_.get(), probeId_);
    probeId_ = 0;
  } else if (!centred && probeId_ == 0) {
    probeId_ = gst_pad_add_probe(pad_.get(), GST_PAD_PROBE_TYPE_BUFFER, &BalanceFilter::onBuffer,
                                 this, nullptr);
  }
}

GstPadProbeReturn BalanceFilter::onBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
  // A probe is a C callback on a streaming thread: nothing thrown may leave it.
  return noThrow(GST_PAD_PROBE_OK, [&] { return scaleBuffer(pad, info, self); });
}

GstPadProbeReturn BalanceFilter::scaleBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer self) {
  auto* filter = static_cast<BalanceFilter*>(self);
  receiveHandoff(filter);
  float left = filter->leftGain_.load(std::memory_order_relaxed);
  float right = filter->rightGain_.load(std::memory_order_relaxed);
  publishHandoff(filter);  // the filter is not touched below; its destructor may follow
  gst::CapsPtr caps(gst_pad_get_current_caps(pad));
  GstAudioInfo format;
  if (!caps || !gst_audio_info_from_caps(&format, caps.get())) return GST_PAD_PROBE_OK;
  if (GST_AUDIO_INFO_CHANNELS(&format) != 2 ||
      GST_AUDIO_INFO_LAYOUT(&format) != GST_AUDIO_LAYOUT_INTERLEAVED) {
    return GST_PAD_PROBE_OK;
  }
  const GstAudioFormat sampleFormat = GST_AUDIO_INFO_FORMAT(&format);
  if (sampleFormat != GST_AUDIO_FORMAT_S16 && sampleFormat != GST_AUDIO_FORMAT_S32 &&
      sampleFormat != GST_AUDIO_FORMAT_F32 && sampleFormat != GST_AUDIO_FORMAT_F64) {
    return GST_PAD_PROBE_OK;  // other layouts play unbalanced rather than garbled
  }

  // Channel 0 is the left one unless the caps say the pair is reversed.
  if (format.position[0] == GST_AUDIO_CHANNEL_POSITION_FRONT_RIGHT) std::swap(left, right);

  GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
  GST_PAD_PROBE_INFO_DATA(info) = buffer;
  GstMapInfo map;
  if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) return GST_PAD_PROBE_OK;
  switch (sampleFormat) {
    case GST_AUDIO_FORMAT_S16:
      scaleFrames<std::int16_t>(map.data, map.size, left, right);
      break;
    case GST_AUDIO_FORMAT_S32:
      scaleFrames<std::int32_t>(map.data, map.size, left, right);
      break;
    case GST_AUDIO_FORMAT_F32:
      scaleFrames<float>(map.data, map.size, left, right);
      break;
    default:
      scaleFrames<double>(map.data, map.size, left, right);
      break;
  }
  gst_buffer_unmap(buffer, &map);
  return GST_PAD_PROBE_OK;
}

}  // namespace lunadio
