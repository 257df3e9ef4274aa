#include <cstdlib>
#include <new>

#include "core/no_throw.h"
#include "platform/soundout/backend.h"
#include "platform/soundout/internal/default_output.h"
#include "platform/soundout/internal/mixer.h"
#include "platform/soundout/pulse_output.h"
#include "platform/soundout/sdl_output.h"
#include "platform/soundout/sound_output.h"

namespace lunadio::soundout {

Result createSoundDevice(std::shared_ptr<Backend> backend, std::unique_ptr<SoundDevice>& device) {
  device.reset();
  if (!backend) return kErrNoDevice;
  OutputSpec spec;
  if (backend->open(spec) != kOk) return kErrNoDevice;
  if (spec.rateHz < kMinRateHz || spec.rateHz > kMaxRateHz || spec.blockFrames == 0) {
    backend->close();
    return kErrNoDevice;
  }
  const Result made = noThrow(kErrOutOfMemory, [&] {
    auto mixer = std::make_shared<Mixer>(spec.rateHz, spec.blockFrames);
    std::unique_ptr<SoundDevice> opened(new SoundDevice());
    opened->mixer_ = mixer;
    opened->backend_ = backend;
    mixer->setActivityHook([raw = backend.get()](bool active) { raw->setActive(active); });
    backend->start(std::move(mixer));
    device = std::move(opened);
    return kOk;
  });
  if (made != kOk) backend->close();
  return made;
}

namespace {

// Tests and headless runs name one of SDL's drivers (dummy, disk); anyone naming a driver wants
// SDL's choice, not the sound server's.
bool sdlAsked() { return std::getenv("SDL_AUDIODRIVER") != nullptr; }

}  // namespace

Result createDefaultSoundDevice(const std::function<std::shared_ptr<Backend>()>& fallback,
                                std::unique_ptr<SoundDevice>& device) {
  return noThrow(kErrOutOfMemory, [&] {
    // The sound server serves PipeWire desktops too (through its PulseAudio service); SDL covers
    // the rest (ALSA alone, JACK).
    if (!sdlAsked() && createSoundDevice(std::make_shared<PulseOutput>(), device) == kOk) {
      return kOk;
    }
    return createSoundDevice(fallback(), device);
  });
}

Result createDefaultSoundDevice(std::unique_ptr<SoundDevice>& device) {
  return createDefaultSoundDevice([] { return std::make_shared<SdlOutput>(); }, device);
}

void prepareDefaultSoundDevice() {
  if (sdlAsked()) {
    prepareSdlAudio();
  } else {
    preparePulse();
  }
}

void releasePreparedDefaultSoundDevice() {
  releasePreparedSdlAudio();
  releasePreparedPulse();
}

SoundDevice::~SoundDevice() {
  // Buffers may outlive the device: they keep the mixer, but nothing renders them any more.
  mixer_->setActivityHook({});
  backend_->close();
}

Result SoundDevice::setCooperativeLevel(std::uintptr_t, std::uint32_t) { return kOk; }

std::uint32_t SoundDevice::outputRateHz() const { return mixer_->outputRateHz(); }
std::uint32_t SoundDevice::blockFrames() const { return mixer_->blockFrames(); }
MixerStats SoundDevice::stats() const { return mixer_->stats(); }
std::int64_t SoundDevice::markPlayStart() { return mixer_->markPlayStart(); }

Result SoundDevice::createBuffer(const BufferDesc& desc, std::unique_ptr<SoundBuffer>& buffer) {
  buffer.reset();
  const Result made = noThrow(kErrOutOfMemory, [&]() -> Result {
    auto voice = std::make_unique<Voice>();
    voice->flags = desc.flags;
    if (desc.flags & kBufferPrimary) {
      if (desc.format || desc.bufferBytes != 0) return kErrInvalidParam;
      if (!backend_->outputAvailable()) return kErrNoDevice;
      voice->primary = true;
      buffer.reset(new SoundBuffer(mixer_, std::move(voice)));
      return kOk;
    }
    if (!desc.format) return kErrInvalidParam;
    const std::optional<SampleKind> kind = playableKind(*desc.format);
    if (!kind) return kErrBadFormat;
    const WaveFormat& format = *desc.format;
    if (desc.bufferBytes < format.blockAlign || desc.bufferBytes > kMaxBufferBytes) {
      return kErrInvalidParam;
    }
    std::shared_ptr<SampleMemory> memory = desc.memory;
    if (memory) {
      if (memory->bytes() < desc.bufferBytes) return kErrInvalidParam;
    } else {
      memory = SampleMemory::allocate(desc.bufferBytes);
      if (!memory) return kErrOutOfMemory;
    }
    voice->memory = std::move(memory);
    voice->format = format;
    voice->layout.kind = *kind;
    voice->layout.channels = format.channels;
    voice->layout.blockAlign = format.blockAlign;
    voice->layout.matrix = downmixMatrix(format);
    voice->bufferBytes = desc.bufferBytes;
    voice->frames = desc.bufferBytes / format.blockAlign;
    Voice& linked = *voice;
    buffer.reset(new SoundBuffer(mixer_, std::move(voice)));
    Mixer::Guard guard(mixer_->mutex());
    mixer_->link(guard, linked);
    return kOk;
  });
  if (made != kOk) buffer.reset();
  return made;
}

Result SoundDevice::duplicateBuffer(const SoundBuffer& original,
                                    std::unique_ptr<SoundBuffer>& copy) {
  copy.reset();
  const Voice& source = *original.voice_;
  if (source.primary || original.mixer_ != mixer_) return kErrInvalidCall;
  const Result made = noThrow(kErrOutOfMemory, [&] {
    auto voice = std::make_unique<Voice>();
    voice->memory = source.memory;
    voice->format = source.format;
    voice->layout = source.layout;
    voice->flags = source.flags;
    voice->bufferBytes = source.bufferBytes;
    voice->frames = source.frames;
    Voice& linked = *voice;
    copy.reset(new SoundBuffer(mixer_, std::move(voice)));
    Mixer::Guard guard(mixer_->mutex());
    linked.volume = source.volume;
    linked.pan = source.pan;
    linked.frequencyHz = source.frequencyHz;
    mixer_->setGains(guard, linked);
    mixer_->link(guard, linked);
    return kOk;
  });
  if (made != kOk) copy.reset();
  return made;
}

Result createPcm16Buffer(SoundDevice& device, int channels, std::uint32_t rateHz,
                         std::shared_ptr<SampleMemory> memory,
                         std::unique_ptr<SoundBuffer>& buffer) {
  if (!memory) return kErrInvalidParam;
  const WaveFormat format = pcm16Format(channels, rateHz);
  BufferDesc desc;
  desc.flags = kSoundBufferFlags;
  desc.bufferBytes = static_cast<std::uint32_t>(memory->bytes());
  desc.format = &format;
  desc.memory = std::move(memory);
  return device.createBuffer(desc, buffer);
}

}  // namespace lunadio::soundout
