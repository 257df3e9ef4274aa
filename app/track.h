#pragma once
// The current track: one object over the two engines. WAV, Ogg Vorbis and FLAC are decoded whole
// into sound 0 of the audio engine and loop there; MP3 plays in media player 0 of the media engine
// and starts again at its end. Number 1 of each engine only ever holds the trial load of a file
// that is to replace number 0.
//
// Everything outside this file speaks one vocabulary and one unit (microseconds); which engine
// plays, how each counts time, how a media stream's length is found and how its end is seen live
// here and nowhere else. Main thread only.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/track_start.h"

namespace lunadio {

enum class TrackPhase : std::uint8_t { Playing, Paused, Ended };

// Microseconds from the track's start. 64-bit: a 100-ns count passes 2^31 after 3 min 34 s.
using TrackUs = std::int64_t;

struct TrackStatus {
  TrackPhase phase = TrackPhase::Ended;
  TrackUs position = 0;
  TrackUs length = 0;  // 0 while no track is loaded
};

class Track {
 public:
  // Loads `path` through its engine's trial and real load and starts it playing (looped) at
  // `volumePercent`; on failure nothing but what TrackOpenResult says has changed.
  TrackOpenResult open(const std::u16string& path, int volumePercent);
  // Takes over the track startSoundTrack() has just opened and started in sound 0.
  void adoptSoundTrack(const std::u16string& path);
  // Takes over the media track just loaded into player 0 and started by playMediaLooped().
  void adoptMediaTrack(const std::u16string& path);

  bool loaded() const { return engine_ != EngineKind::None; }
  const std::u16string& path() const { return path_; }
  const std::u16string& title() const { return title_; }

  void pause();
  void resume();
  // Clamped into the track; nothing without a track.
  void seek(TrackUs position);
  void setVolume(int volumePercent);
  // `percent` of the loaded speed (0..100). Only the audio engine changes speed; a media track
  // keeps playing at its own.
  void setSpeed(int percent);

  // Reads the engine once. A media track found stopped at its end is started again (the engine
  // loops it seamlessly; this is the rule for a stream that ends anyway), and while its stream
  // tells no length the largest position seen stands in for it.
  TrackStatus status();
  // The status as the last status() read it, without asking the engine.
  const TrackStatus& lastStatus() const { return last_; }

  // -- what the state record keeps of it
  EngineKind engine() const { return engine_; }
  float baseFrequencyHz() const { return baseFrequencyHz_; }  // 0 for a media track
  float fadeFrequencyHz() const { return fadeFrequencyHz_; }

 private:
  enum class LengthSource : std::uint8_t { Stream, LargestPosition };

  TrackOpenResult openMedia(const std::u16string& path, int volumePercent);
  // What every open ends with: `path` is the track, playing from its start.
  void startedAtTheTop(const std::u16string& path);
  void forget();
  TrackUs toUs(std::int64_t engineTime) const;
  std::int64_t fromUs(TrackUs time) const;
  void refreshMediaLength(std::int64_t position);

  std::u16string path_;
  std::u16string title_;
  EngineKind engine_ = EngineKind::None;
  float baseFrequencyHz_ = 0;
  float fadeFrequencyHz_ = 0;
  bool paused_ = false;
  bool mediaMoved_ = false;  // the media track has read a position past 0 since it (re)started
  std::int64_t engineLength_ = 0;  // frames or 100-ns units
  LengthSource lengthSource_ = LengthSource::Stream;
  std::chrono::steady_clock::time_point lastLengthQuery_;
  TrackStatus last_;
};

}  // namespace lunadio
