#pragma once
// The player's one state record. Every procedure of the player reads and writes it, on the main
// thread only; no other thread touches it (the library scan hands its rows over as posted data,
// see library_scan.h). What the player remembers between two calls lives here and nowhere else.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/track.h"
#include "core/strings.h"

namespace lunadio {

// What the panel is doing; changed only by window actions, never by loading a track.
enum WindowMode : std::int32_t {
  ModeStarting = 1,  // before the panel exists
  ModeCompact = 10,
  ModeShown = 11,
  ModeHidden = 12,
  ModeModal = 14,
};

// Gadget numbers are one namespace for every window: whoever holds them now. A request served
// while another window holds them changes the sound and this record, never those gadgets; the
// panel shows the change when buildMainGadgets() rebuilds it.
enum class GadgetOwner : std::uint8_t {
  Panel,        // every gadget of the panel
  Strip,        // the compact strip: only the title and the progress bar
  OtherWindow,  // the library window (and the filter dialog it opens)
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

// Posted from the media engine's thread when the media track has played to its end; the pump
// hands it to the track, whatever loop is waiting.
inline constexpr int EventMediaEnd = 65540;

inline constexpr std::int32_t DefaultThemeColour = rgb(40, 80, 200);

// The panel's fades report each step to this, after the step's change and before its wait.
enum class FadeStep { WindowAlpha, Sound, Shrink, CompactPass, Grow };
using FadeStepObserver = std::function<void(FadeStep step, int value)>;

// The library window's steps of a scan, for its observer.
enum class LibraryScanStep {
  Started,   // the window shows the progress bar
  Finished,  // every row of the scan is in the list (the bar reads 100)
  Idle,      // the window takes clicks again
};

class ScanJob;

// What the library keeps between two openings of its window.
struct LibraryState {
  // The full paths of the list's rows: element r is row r. They outlive the window until the next
  // scan.
  std::vector<std::u16string> trackPaths;
  std::shared_ptr<ScanJob> scan;  // the running scan, or null
  std::intptr_t lastGeneration = 0;
  int lastScanThread = 0;
  std::function<void(LibraryScanStep)> observer;
};

struct PlayerState {
  std::u16string currentTitle = u"Aucune musique chargée.";
  std::u16string currentPath;  // the track being opened or played
  float volumePercent = kStartVolumePercent;
  int volumeKnobX = 224;  // 80 % of the 280-pixel slider
  bool playing = true;    // while the play/pause gadget shows the pause image
  std::int32_t themeColour = DefaultThemeColour;
  WindowMode windowMode = ModeStarting;
  GadgetOwner gadgetOwner = GadgetOwner::Panel;
  std::u16string selectedTrackPath = u"NULL";
  std::u16string formatFilter = u"Formats : ";
  std::int32_t itemCounter = 1;
  LibraryState library;
  WindowGeometry savedGeometry;
  bool draggingWindow = false;
  int dragStartX = 0;
  int dragStartY = 0;
  bool draggingVolume = false;
  Track currentTrack;

  // A command-line track loaded before the panel existed, whose result the start shows.
  std::optional<TrackOpenResult> startTrackResult;

  // -- the pump's
  bool servingRequests = false;  // a request is being handled: the pump serves no other meanwhile
  bool panelShowRequested = false;  // a request to show the panel, for the main pass to carry out
  std::int64_t announcedPositionUs = 0;  // the last position the media controls were told

  // -- what the panel's canvases show
  int shownFillPixels = -1;  // the bar's fill; -1: unknown (a new canvas, a new colour)

  FadeStepObserver fadeStepObserver;  // a test seam; empty in the player
};

// The one record; main thread only.
PlayerState& playerState();

// A track is loaded: every playback action is enabled.
inline bool trackLoaded() { return playerState().currentTrack.loaded(); }

}  // namespace lunadio
