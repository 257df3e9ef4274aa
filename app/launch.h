#pragma once
// The program is two pieces. The executable holds what the first sound needs (the instance
// guard, the parameters, the audio engine with its decoders and output); the player itself (the
// interface on Qt, the media engine on GStreamer, the desktop links) is a module it loads once
// the command-line track already plays, so that loading the interface's libraries (some 20 ms of
// the start, more than the rest of the way to the sink) never delays the sound. The media engine
// is a module of its own, which the start's media check loads alone.
//
// What the executable hands the player module, and the modules' entries (looked up by name).

#include <optional>
#include <string>

#include "app/track_start.h"

namespace lunadio {

struct LaunchedStart {
  int argc = 0;
  char** argv = nullptr;
  // The one command-line parameter, or empty.
  std::u16string track;
  // How opening `track` went when the executable opened it already (its engine started); unset
  // when the player is to open it.
  std::optional<TrackOpenResult> earlyTrack;
  // The process checking the media engine's start, forked before any thread existed; -1 for none.
  int mediaCheckPid = -1;
  // Loads the media module into the process (once; later calls only answer); true when it is
  // there. Null where the media engine is linked in (the tests).
  bool (*loadMediaModule)() = nullptr;
  // The executable has loaded the media module already (for a command-line MP3).
  bool mediaModuleLoaded = false;
};

// The player module: runs the player once the executable holds the instance guard; returns the
// process exit code.
using RunPlayerEntry = int (*)(const LaunchedStart& start);
inline constexpr char kRunPlayerEntry[] = "lunadioRunPlayer";
// The media module: starts GStreamer and checks it can play; 0 when it can, 1 when it cannot.
using CheckMediaEntry = int (*)();
inline constexpr char kCheckMediaEntry[] = "lunadioCheckMedia";
// The media module: begins GStreamer's start on a thread of its own (prepareMediaPlayback).
using PrepareMediaPlaybackEntry = void (*)();
inline constexpr char kPrepareMediaPlaybackEntry[] = "lunadioPrepareMediaPlayback";
// The media module: a StartMediaTrackEntry (app/track_start.h).
inline constexpr char kStartMediaTrackEntry[] = "lunadioStartMediaTrack";

// The executable's whole run: the guard, the command-line track, then the player module's entry.
// Returns the process exit code (0 on every normal path, a second instance included; 1 when a
// module cannot be loaded).
int launchLunadio(int argc, char** argv);

inline constexpr char kPlayerModuleFile[] = "lunadio-player.so";
inline constexpr char kMediaModuleFile[] = "lunadio-media.so";

}  // namespace lunadio
