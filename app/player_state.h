#pragma once
// The player's one state record. Every procedure of the player reads and writes it, on the main
// thread only; the library scan thread never touches it (it hands its rows over through posted
// work, see library_window.h).
#include <cstdint>
#include <string>

#include "core/strings.h"
#include "storage/ordered_list.h"

namespace lunadio {

// What the panel is doing; changed only by window actions, never by loading a track.
enum WindowMode : std::int32_t {
  ModeCompact = 10,
  ModeShown = 11,
  ModeHidden = 12,
  ModeModal = 14,
};

enum class EngineKind : std::uint8_t {
  None = 0,
  Sound = 15,  // WAV, Ogg Vorbis, FLAC: the audio engine, lengths and positions in frames
  Media = 16,  // MP3: the media engine, lengths and positions in 100-nanosecond units
};

// A length or position in the current engine's unit (frames, or 100 ns for media). 64-bit: a
// media position passes 2^31 after 3 min 34 s.
using TrackTime = std::int64_t;

// Where a media track's length comes from: the stream's duration, or (while the stream tells
// none) the largest position seen so far.
enum class LengthSource : std::uint8_t { Stream, LargestPosition };

struct CurrentTrack {
  std::u16string path;
  std::u16string title;
  float baseFrequencyHz = 0;  // read right after loading; 0 for media tracks
  float fadeFrequencyHz = 0;  // set by the last fade step
  EngineKind engine = EngineKind::None;
  LengthSource lengthSource = LengthSource::Stream;
};

struct WindowGeometry {
  int x = 0;  // outer position
  int y = 0;
  int innerWidth = 0;
  int innerHeight = 0;
};

// Fixed object numbers.
inline constexpr int PanelWindow = 0;
inline constexpr int FilterDialogWindow = 23;
inline constexpr int TrackNumber = 0;  // sound 0 / media player 0: the current track
inline constexpr int TrialNumber = 1;  // number 1 of each engine: the trial load
inline constexpr int TrayIconNumber = 0;
inline constexpr int CompactTimer = 1;  // every 2000 ms
inline constexpr int FrameTimer = 18;   // every 200 ms
inline constexpr int TitleFont = 17;

// Images made from the embedded pictures.
enum ImageNumber : int {
  TrayIconImage = 1,
  PauseImage = 2,  // the play/pause gadget while playing
  PlayImage = 3,   // the play/pause gadget while paused
  OpenFileImage = 4,
  CloseImage = 6,
  HideImage = 8,
  LibraryImage = 9,
};

// Custom events of the library scan.
inline constexpr int EventScanStarted = 65536;
inline constexpr int EventScanFinished = 65537;

inline constexpr std::int32_t DefaultThemeColour = rgb(40, 80, 200);

struct PlayerState {
  std::u16string currentTitle = u"Aucune musique chargée.";
  std::u16string currentPath;
  TrackTime trackLength = 0;  // 0: no track loaded, every playback action disabled
  float volumePercent = 80.0f;
  int volumeKnobX = 224;  // 80 % of the 280-pixel slider
  int playing = 1;        // 1 while the play/pause gadget shows the pause image
  std::int32_t themeColour = DefaultThemeColour;
  int windowMode = 1;  // ModeHidden once the panel exists
  std::u16string selectedTrackPath = u"NULL";
  std::u16string formatFilter = u"Formats : ";
  std::int32_t itemCounter = 1;
  // The library's two lists live with the library window (library_window.cpp), guarded there,
  // since its scan thread fills them.
  WindowGeometry savedGeometry;
  int draggingWindow = 0;
  int dragStartX = 0;
  int dragStartY = 0;
  int draggingVolume = 0;
  CurrentTrack currentTrack;
};

// The one record; main thread only.
PlayerState& playerState();

}  // namespace lunadio
