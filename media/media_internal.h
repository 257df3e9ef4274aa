#pragma once
// Read-only views into a media player for tests and diagnostics. Not for the application.
// Main thread only.

#include <optional>
#include <string>

#include "media/media.h"

namespace lunadio {

// The player's state field; nullopt for no such player.
std::optional<MediaState> mediaPlayerState(ObjectNumber number);
// What the pipeline itself reports as its position, in 100 ns units; -1 when it cannot say.
MediaTime mediaPipelinePosition(ObjectNumber number);
// The path the player was loaded from ("" for no such player).
std::u16string mediaFileName(ObjectNumber number);

// Watches the running time of what reaches the player's output from now on: the largest stretch,
// in 100 ns units, that no buffer covers between one buffer's end and the next one's start (a
// seam's gap as any sound card plays it, whatever the output element). -1 for no such player;
// 0 on the first call.
MediaTime mediaLargestOutputGap(ObjectNumber number);

}  // namespace lunadio
