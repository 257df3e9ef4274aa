#include "app/track_start.h"

#include <sys/stat.h>

#include "audio/decoders/sound_decoder.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "audio/sound_loader.h"
#include "core/strings.h"

namespace lunadio {
namespace {

bool isRegularFile(const std::u16string& path) {
  struct stat info {};
  return ::stat(toUtf8(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

EngineKind chooseEngine(std::u16string_view extension) {
  if (findString(u".mp3", extension, 1, FindNoCase) > 0) return EngineKind::Media;
  if (findString(u".ogg .wav .flac", extension, 1, FindNoCase) > 0) return EngineKind::Sound;
  return EngineKind::None;
}

TrackOpenResult startSoundTrack(const std::u16string& path, int volumePercent) {
  // Opening a FIFO for reading would wait for a writer with the panel frozen.
  if (!isRegularFile(path)) return TrackOpenResult::NotRegularFile;
  // The loader shares the trial's decode with the real load, so the file is decoded once.
  if (!loadSound(kTrialSoundNumber, path)) return TrackOpenResult::TrialRefused;
  if (!loadSound(kTrackSoundNumber, path)) return TrackOpenResult::DecoderFailed;
  // At the slider's volume from its first sample, not at full level.
  playSound(kTrackSoundNumber, PlayLooped, volumePercent);
  return TrackOpenResult::Opened;
}

std::optional<TrackOpenResult> startCommandLineSound(const std::u16string& path) {
  useVorbisDecoder();
  useFlacDecoder();
  if (!initSound()) return std::nullopt;
  return startSoundTrack(path, static_cast<int>(kStartVolumePercent));
}

std::optional<TrackOpenResult> startCommandLineMedia(const std::u16string& path,
                                                     StartMediaTrackEntry startMediaTrack,
                                                     int settleMs) {
  if (!initSound()) return std::nullopt;
  switch (
      startMediaTrack(path.data(), path.size(), static_cast<int>(kStartVolumePercent), settleMs)) {
    case 1:
      return TrackOpenResult::Opened;
    case -1:
      return TrackOpenResult::MediaGraphFailed;
    default:
      return std::nullopt;
  }
}

}  // namespace lunadio
