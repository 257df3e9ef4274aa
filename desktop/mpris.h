#pragma once
// Media keys and the desktop's media controls: the MPRIS 2 interfaces on the session bus, under
// org.mpris.MediaPlayer2.lunadio. The application publishes its state; the desktop's method calls
// come back as EventMediaControl events in ui's queue, the method in the event's type and its
// arguments in a small queue that takeMediaControlCall() empties, so the main loop handles them
// like clicks on the matching gadgets. Without a session bus nothing is registered or printed.
// Main thread only (the bus connection's own thread hands every call to it through Qt's queue).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace lunadio {

// The event code of a method call; its type is the MediaControlMethod, the other fields are 0.
inline constexpr int EventMediaControl = 65601;

enum class MediaControlMethod : int {
  Raise = 1,  // show the panel
  Play = 2,
  Pause = 3,
  PlayPause = 4,
  Stop = 5,         // the player pauses: it has no stopped state
  Seek = 6,         // by `microseconds`, relative to the current position (may be negative)
  SetPosition = 7,  // to `microseconds`, already checked to lie within the track
  SetVolume = 8,    // to `volume`, already limited to 0..1
};

struct MediaControlCall {
  MediaControlMethod method = MediaControlMethod::Raise;
  std::int64_t microseconds = 0;
  double volume = 0;
};

// Calls held for the application at most; past that the newest replaces the last held one.
inline constexpr std::size_t MediaControlQueueMax = 32;

enum class PlaybackStatus { Stopped, Playing, Paused };

struct MediaState {
  PlaybackStatus status = PlaybackStatus::Stopped;
  bool trackLoaded = false;  // CanPlay, CanPause and CanSeek
  std::u16string title;
  std::u16string path;  // the track's file, published as a file:// URL
  std::int64_t lengthUs = 0;
  std::int64_t positionUs = 0;
  double volume = 1;  // 0..1, the volume slider's value
  bool operator==(const MediaState&) const = default;
};

// Connects to the session bus ($DBUS_SESSION_BUS_ADDRESS, else $XDG_RUNTIME_DIR/bus) and
// registers the interfaces. False, silently, when there is no bus to reach. Needs the
// QCoreApplication.
bool startMediaControls();
// Unregisters and leaves the bus. Safe to call when not started.
void stopMediaControls();
// The bus name held, or empty when not registered.
std::string mediaControlsBusName();

// Publishes the application's state; every property that changed is announced with
// PropertiesChanged (the position only through Seeked, as MPRIS has it). A new path is a new
// track and gets a new track identifier.
void publishMediaState(const MediaState& state);
// Where the Position property reads the current position from when a client asks; without one it
// is the last published position. Called on the main thread, inside the event loop's dispatch.
void setMediaPositionReader(std::function<std::int64_t()> readPositionUs);
// Announces a jump of the position (after a seek from anywhere, the panel's progress bar too).
void announceSeek(std::int64_t positionUs);

// The oldest method call that arrived, if any.
std::optional<MediaControlCall> takeMediaControlCall();

}  // namespace lunadio
