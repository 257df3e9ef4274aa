#pragma once
// What a person can do to the current track, whether by a click on the panel, a key, a second
// start or the desktop's media controls: each verb changes the track, the state record and the
// panel's gadgets together (those only while the panel holds the gadget numbers). Main thread only.

#include <string>

#include "app/panel.h"
#include "app/track.h"

namespace lunadio {

// Opens `path` (written to currentPath and currentTitle first): trial load, real load, play,
// title and tray tooltip. Shows the player's message when the file cannot be played; the
// previous track then plays on. An empty path opens nothing and shows nothing.
TrackOpenResult openTrack(const std::u16string& path);
// openTrack() in two halves, for the command-line track that sounds before the panel exists: the
// state and the engines first, what a person sees of the result (title, tooltip, message) later.
TrackOpenResult loadTrack(const std::u16string& path);
void showOpenResult(TrackOpenResult result);

// The open-file requester, starting in the user's music folder, then openTrack().
void openFileFromRequester();

// Pauses or resumes: the engine, the `playing` flag and the play/pause image. Nothing without a
// track.
void setPlaying(bool playing);
void togglePlayPause();

// Moves the track to `position` and tells the media controls of the jump.
void seekTrackTo(TrackUs position);

// The volume slider's one rounding: the knob at `knobX` on a slider `sliderWidth` pixels wide
// gives this many percent (whole percents, towards zero; the ends give 0 and 100).
struct SliderVolume {
  float percent;
  KnobPlace place;
};
SliderVolume volumeAtKnob(int knobX, int sliderWidth);

// Sets the volume: the state record, the knob (at knobX), the slider and the track.
void setVolume(float percent, int knobX, KnobPlace place);
// The same from a percentage alone: the knob goes where that percentage puts it.
void setVolumePercent(int percent);

// volumePercent as the engines take it: rounded to nearest, ties to even.
int nearestInt(double value);

}  // namespace lunadio
