#pragma once
// A sound device on the memory output, started once per fuzzing process, with both decoders
// registered and the report lines sent nowhere.

namespace lunadio::fuzz {
void startSoundOnce();
}
