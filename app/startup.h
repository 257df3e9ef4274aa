#pragma once
// The player's start-up after the libraries, the instance guard and the parameters: the tray
// image, the decoders, the sound and media engines, the pictures, the state record, the hidden
// panel with its tray icon and timers, and the command-line track. Main thread only.

#include <optional>
#include <string>

#include "app/track_start.h"

namespace lunadio {

enum class StartResult { Running, NoSoundSystem };

// `startTrack` is the one command-line parameter, or empty. NoSoundSystem: the message was
// shown and nothing else was made; the caller takes the exit path.
StartResult startPlayer(const std::u16string& startTrack);

// Before the display starts: the command-line track is loaded and plays at once (its engine
// started for it); what a person sees of it comes in startPlayer(). Clears the state record
// first. `earlyTrack`: how the executable's open of the track went when it opened it already
// (startCommandLineSound, or the media module's lunadioStartMediaTrack); an opened track then
// only becomes the current track.
void startTrackEarly(const std::u16string& startTrack,
                     std::optional<TrackOpenResult> earlyTrack = std::nullopt);

// The exit path's first half: every library's end routine in the fixed order.
void shutdownLibraries();

}  // namespace lunadio
