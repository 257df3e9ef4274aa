#pragma once
// Media players: one per loaded file, each a GStreamer playbin that renders audio only.
//
// Contract:
//   initMedia -> loadMedia(number, path) -> playMedia / pauseMedia / resumeMedia / seekMedia /
//   setMediaVolume / mediaStatus ... -> freeMedia(number or ObjectAll) -> endMedia
// Every operation runs on the main thread. The pipelines play on GStreamer's own threads; the
// engine never runs a GLib main loop: it reads each pipeline's bus when it is asked something.
// An operation on a number that names no player does nothing and returns 0 (nothing is thrown).
//
// Positions and lengths are signed 64-bit in 100-nanosecond units (10,000,000 per second).
// The audio output is the launch description in LUNADIO_MEDIA_SINK when set (read at every
// load, e.g. "fakesink sync=true"), else the sound server's pulsesink when a server answers, else
// autoaudiosink.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "core/child_process.h"
#include "core/object_table.h"

namespace lunadio {

// 100-nanosecond units.
using MediaTime = std::int64_t;
inline constexpr MediaTime kMediaUnitsPerSecond = 10'000'000;

// The player's state field.
enum MediaState : std::int32_t {
  MediaPaused = 1,
  MediaPlaying = 2,
  MediaStopped = 3,
};

// Where a player's sound goes.
enum class MediaOutput {
  None,    // no such player
  Device,  // a real audio output chosen by autoaudiosink
  Silent,  // autoaudiosink found no usable output and fell back to a fake sink: nothing is heard
  Custom,  // the launch description of LUNADIO_MEDIA_SINK
};

// Non-zero when media playback is possible (GStreamer starts, playbin and an MP3 decoder are
// present, LUNADIO_MEDIA_SINK parses when set). Later calls return the same value and do nothing;
// after a failure a later call tries again.
int initMedia();
// Begins initMedia's check at once, in a child process of its own, so that it overlaps the rest of
// the program's start and GStreamer's registry stays out of this process until the first
// loadMedia; initMedia then takes the child's answer (or waits for it, at most 5 s, then checks
// here as it would without the child). Call it before any other thread of the program could hold
// a lock of GLib's or GStreamer's (the fork copies them held). Main thread only.
void prepareMedia();
// Begins GStreamer's start in this process at once, on a thread of its own, for a file that is
// about to be loaded (the track given at start, say): the first loadMedia then finds it done
// instead of making it. Main thread only.
void prepareMediaPlayback();
// initMedia takes the answer of a check child made elsewhere (the executable forks it before
// any thread exists, with this library loaded alone), as it would take prepareMedia's. -1: none;
// initMedia checks here. Main thread only.
void adoptMediaCheck(int childPid);
// Frees every player. Without a successful initMedia it does nothing.
void endMedia();

// Builds the player for `path` and prerolls it, waiting a few seconds at most. Returns the new
// dynamic identifier for ObjectAny, 1 for a static number, 0 when the file cannot be played
// (empty path, missing, unsupported, corrupt, no audio stream): no player is left then. Loading
// into a number that holds a player frees the old player first.
std::int64_t loadMedia(ObjectNumber number, std::u16string_view path);
// Frees one player, or every player for ObjectAll.
void freeMedia(ObjectNumber number);
int isMedia(ObjectNumber number);

// Always starts from the beginning. 1 when started; 0 for no such player, ownerWindow -1, or a
// player whose pipeline has failed and could not be built again (a failed pipeline is rebuilt
// from the file at most once a second).
int playMedia(ObjectNumber number, std::intptr_t ownerWindow);
// A player just loaded, started the way a track plays: no video area, looped, at `volume`.
void playMediaLooped(ObjectNumber number, int volume);
// Waits, at most `limit`, until a player just set playing runs: its pipeline prerolled and its
// output started, the first sound on its way.
void awaitMediaPlaying(ObjectNumber number, std::chrono::milliseconds limit);
// Stops and rewinds to the start.
void stopMedia(ObjectNumber number);
// Only while playing; resumeMedia only while paused. Otherwise they do nothing.
void pauseMedia(ObjectNumber number);
void resumeMedia(ObjectNumber number);

// -1 while paused; 0 when stopped, on any error, for no such player, and once the track has
// reached its end (which also stops and rewinds the player); otherwise the current position,
// always > 0 while playing.
MediaTime mediaStatus(ObjectNumber number);
// The track's duration as the stream tells it (an MP3's header or its bitrate and size), 0 when it
// is not known or for no such player.
MediaTime mediaLength(ObjectNumber number);
// Looping: 1 makes the player play its file again from the start each time it reaches its end,
// with no gap (the next pass is queued while the current one still plays; an MP3's encoder delay
// and padding are dropped where its header gives them), 0 plays it once (the default, also after
// a load). While a looping player plays, mediaStatus goes on giving positions, back at small
// values after each seam, and never 0 or the end. Turning looping off once the current pass has
// been read to its end (shortly before it is heard to end) counts from the next pass; turning it
// on while the track plays once makes that pass's end a restart with a short gap, and the seams
// after it seamless. No such player: does nothing (setMediaLoop) or 0 (mediaLoop).
void setMediaLoop(ObjectNumber number, int loop);
int mediaLoop(ObjectNumber number);

// Called when a player's track has played to its end, with the player's number (its dynamic
// identifier for an ObjectAny player), so that the application can wake its loop instead of
// polling mediaStatus for the end. It runs on one of GStreamer's streaming threads, never the
// main thread: it must be cheap and thread-safe (post an event and return) and must not call the
// media engine. It is a wake-up, not the verdict: mediaStatus on the main thread still tells the
// end (rarely the call comes for an end that a seek made just before it cancels). A looping
// player never ends, so it never calls it. Main thread; an empty function removes it. Once
// setMediaEndCallback returns, the previous callback is not running and is never called again.
using MediaEndCallback = std::function<void(ObjectNumber number)>;
void setMediaEndCallback(MediaEndCallback callback);

// Moves to `position` (clamped at 0). A playing player plays on from there; a paused or stopped
// player stays paused or stopped there, and resumeMedia of a paused player plays from there.
void seekMedia(ObjectNumber number, MediaTime position);

// volume 0..100 (clamped) through the volume table; balance -100 (left) .. 100 (right), x 100 and
// clamped to -10000..10000 hundredths of a decibel of attenuation of the opposite channel.
void setMediaVolume(ObjectNumber number, int volume, int balance);

// No video window is ever made: 0 for no such player, -1 (refused) for a player.
int resizeMedia(ObjectNumber number, int x, int y, int width, int height);
// The video's size: 0 for no such player, -1 for every player (audio only).
int mediaWidth(ObjectNumber number);
int mediaHeight(ObjectNumber number);

// Where the player's sound goes (None for no such player).
MediaOutput mediaOutput(ObjectNumber number);
// 1 when the most recent load through autoaudiosink found no usable audio output (no sound
// server): the player then plays nothing anyone can hear. 0 otherwise, or before any load.
int mediaOutputIsSilent();

// Adds the media engine's end routine (free every player) to the program's end sequence.
// initMedia itself is called by the application at its own start, after the audio engine.
void registerMediaLifecycle();

// A media check child that has not answered by then is taken for hung (a lock copied held by the
// fork, say) and killed.
inline constexpr std::chrono::milliseconds kMediaCheckLimit{5000};
// The answer of a media check child (lunadioCheckMedia's exit code: 0 it works, 1 it does not),
// or nothing when it gave none (it died, hung, or exited otherwise). Inline, so that the player
// can take the answer without the media module loaded.
inline std::optional<bool> awaitMediaCheckAnswer(int childPid) {
  const std::optional<int> exitCode = awaitChildExit(childPid, kMediaCheckLimit);
  if (!exitCode || *exitCode > 1) return std::nullopt;
  return *exitCode == 0;
}

}  // namespace lunadio

// The check a media check child runs: starts GStreamer and checks that the sink can be made; 0
// when it can, 1 when it cannot. The child's own entry, looked up by name.
extern "C" int lunadioCheckMedia();
// prepareMediaPlayback() under a name the executable can look up.
extern "C" void lunadioPrepareMediaPlayback();
// The executable's way to an MP3 named on the command line while the player module is not loaded
// yet: the engine started (initMedia), the `length` UTF-16 units at `path` loaded into player 0
// and playing looped at `volume`; then, for at most `settleMs`, a wait until its pipeline runs.
// 1 when it plays, -1 when the file does not load, 0 when the engine cannot start.
extern "C" int lunadioStartMediaTrack(const char16_t* path, std::size_t length, int volume,
                                      int settleMs);
