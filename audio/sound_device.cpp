#include "audio/sound_device.h"

#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "core/lifecycle.h"
#include "core/no_throw.h"
#include "core/volume_curve.h"
#include "platform/soundout/multimedia_window.h"

namespace lunadio {
namespace {

// The device state of the process. -- main thread only
struct DeviceState {
  std::unique_ptr<soundout::SoundDevice> device;  // made: the engine cannot start again after a
                                                  // later step fails
  std::uintptr_t window = 0;
  std::unique_ptr<ObjectTable<SoundRecord>> table;  // exists: the device is started
  std::array<std::int32_t, 101> attenuation{};
  SoundServiceOpener opener;
};

DeviceState& deviceState() {
  static DeviceState state;
  return state;
}

void buildAttenuationTable(std::array<std::int32_t, 101>& table) { table = volumeCurveTable(); }

soundout::Result openService(std::unique_ptr<soundout::SoundDevice>& device) {
  const DeviceState& state = deviceState();
  if (state.opener) return state.opener(device);
  return soundout::createDefaultSoundDevice(device);
}

}  // namespace

namespace {

std::intptr_t initSoundBody() {
  DeviceState& state = deviceState();
  if (state.table) return reinterpret_cast<std::intptr_t>(state.table.get());
  buildAttenuationTable(state.attenuation);
  if (soundout::ensureMultimediaWindow() == 0) return 0;
  if (state.device) return 0;
  if (openService(state.device) != soundout::kOk || !state.device) {
    state.device.reset();
    return 0;
  }
  state.window = soundout::multimediaWindowHandle();
  if (state.device->setCooperativeLevel(state.window, soundout::kCooperativePriority) !=
      soundout::kOk) {
    return 0;
  }
  // Proves the output is there; the primary buffer itself is not kept.
  soundout::BufferDesc primary;
  primary.flags = soundout::kBufferPrimary;
  std::unique_ptr<soundout::SoundBuffer> primaryBuffer;
  if (state.device->createBuffer(primary, primaryBuffer) != soundout::kOk) return 0;
  state.table = std::make_unique<ObjectTable<SoundRecord>>(
      64, [](ObjectNumber number) { freeSound(number); });
  return reinterpret_cast<std::intptr_t>(state.table.get());
}

}  // namespace

std::intptr_t initSound() {
  return noThrow(std::intptr_t{0}, [] { return initSoundBody(); });
}

void prepareSound() { soundout::prepareDefaultSoundDevice(); }

void endSound() {
  soundout::releasePreparedDefaultSoundDevice();
  DeviceState& state = deviceState();
  if (!state.table) return;
  state.table->freeAll();
  state.device.reset();
}

const std::array<std::int32_t, 101>& attenuationTable() { return deviceState().attenuation; }

soundout::SoundDevice* soundDevice() { return deviceState().device.get(); }

ObjectTable<SoundRecord>* soundTable() { return deviceState().table.get(); }

std::unique_ptr<soundout::SoundBuffer> createStaticBuffer(
    const soundout::WaveFormat& format, std::uint32_t bytes,
    std::shared_ptr<soundout::SampleMemory> memory) {
  soundout::SoundDevice* device = soundDevice();
  if (!device) return nullptr;
  soundout::BufferDesc desc;
  desc.flags = soundout::kSoundBufferFlags;
  desc.bufferBytes = bytes;
  desc.format = &format;
  desc.memory = std::move(memory);
  std::unique_ptr<soundout::SoundBuffer> buffer;
  if (device->createBuffer(desc, buffer) != soundout::kOk) return nullptr;
  return buffer;
}

std::unique_ptr<soundout::SoundBuffer> createStreamBuffer(int channels, int rateHz,
                                                          std::uint32_t bytes) {
  if (channels <= 0 || channels > 0xFFFF || rateHz <= 0) return nullptr;
  const soundout::WaveFormat format = soundout::pcm16Format(static_cast<std::uint16_t>(channels),
                                                            static_cast<std::uint32_t>(rateHz));
  return createStaticBuffer(format, bytes);
}

void registerSoundLifecycle() {
  noThrow([] {
    addEndRoutine(EndStage::Sound, "free all sounds and close the sound service",
                  [] { endSound(); });
  });
}

void setSoundServiceOpener(SoundServiceOpener opener) { deviceState().opener = std::move(opener); }

void resetSoundDeviceForTests() {
  DeviceState& state = deviceState();
  if (state.table) state.table->freeAll();
  state.table.reset();
  state.device.reset();
  state.window = 0;
  state.attenuation = {};
}

}  // namespace lunadio
