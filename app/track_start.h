#pragma once
// What a track needs before the interface exists: which engine plays a file, how an open can
// fail, and the audio engine's open itself. The player's start opens a command-line WAV, Ogg
// Vorbis or FLAC track through this before the display, the fonts or the media engine are even
// loaded; the track object (app/track.h) then takes the playing sound over. Main thread only.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lunadio {

enum class EngineKind : std::uint8_t {
  None = 0,
  Sound = 15,  // WAV, Ogg Vorbis, FLAC: the audio engine, counting in frames
  Media = 16,  // MP3: the media engine, counting in 100-nanosecond units
};

// The engine for a file extension (without its dot): the extension is looked for, without case,
// inside ".mp3" and then inside ".ogg .wav .flac", so any piece of those names chooses it.
EngineKind chooseEngine(std::u16string_view extension);

// Why a file did not become the current track. Every failure but UnknownType leaves the previous
// track as it was, except a failed media load, which loses a media track that was playing (the
// engine frees number 0 before it knows whether the new file loads).
enum class TrackOpenResult {
  Opened,
  UnknownType,     // no engine plays this extension
  NotRegularFile,  // a directory, a FIFO, a device or nothing at all
  TrialRefused,    // the trial load into number 1 failed
  DecoderFailed,   // the trial passed but the real load did not
  MediaGraphFailed,
};

// The slider's place before the settings are read.
constexpr float kStartVolumePercent = 80.0f;

// The audio engine's fixed numbers: the track, and the trial load of a file that is to replace it.
constexpr std::int32_t kTrackSoundNumber = 0;
constexpr std::int32_t kTrialSoundNumber = 1;

// Loads `path` into sound 0 through the trial load in sound 1 and starts it looping at
// `volumePercent`; on failure sound 0 is as it was. The audio engine must be started.
TrackOpenResult startSoundTrack(const std::u16string& path, int volumePercent);

// The command-line track's whole way to the sink: the decoders, the audio engine's start and
// startSoundTrack() at the start volume. Nothing when the engine cannot start: the player reports
// that once its interface is up.
std::optional<TrackOpenResult> startCommandLineSound(const std::u16string& path);

// The media engine's start of a track (lunadioStartMediaTrack, media/media.h): 1 playing, -1 the
// file does not load, 0 the engine cannot start.
using StartMediaTrackEntry = int (*)(const char16_t* path, std::size_t length, int volume,
                                     int settleMs);
// The command-line MP3's way to the sink: the audio engine's start (the player needs it whatever
// plays), then `startMediaTrack` at the start volume, and a wait of at most `settleMs` until its
// pipeline runs. Nothing when an engine cannot start.
std::optional<TrackOpenResult> startCommandLineMedia(const std::u16string& path,
                                                     StartMediaTrackEntry startMediaTrack,
                                                     int settleMs = 0);

}  // namespace lunadio
