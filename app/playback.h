#pragma once
// The current track, whichever engine holds it: number 0 of the audio engine (WAV, Ogg Vorbis,
// FLAC, decoded whole and played looped) or of the media engine (MP3, restarted at its end).
// Number 1 of each engine only ever holds a trial load. Main thread only.
//
// Every operation does nothing (trackPosition() gives 0) while no engine holds a track.

#include <string>
#include <string_view>

#include "app/player_state.h"

namespace lunadio {

// The engine for a file extension (without its dot): the extension is looked for, without case,
// inside ".mp3" and then inside ".ogg .wav .flac", so any piece of those names chooses it.
EngineKind chooseEngine(std::u16string_view extension);

// Opens playerState().currentPath: trial load, real load, play, title and tray tooltip. Shows
// the player's message when the file cannot be played; the previous track then plays on.
void openTrack();

// The open-file requester, starting in the user's music folder, then openTrack().
void openFileFromRequester();
// XDG_MUSIC_DIR from user-dirs.dirs when that folder exists, else $HOME (UTF-16, no trailing /).
std::u16string musicFolder();

// Frames for a sound, 100-ns units for a media track: -1 while a media track is paused, 0 once
// it has stopped at its end.
TrackTime trackPosition();
void seekTrack(TrackTime position);
void pauseTrack();
void resumeTrack();
void setTrackVolume(int volumePercent);
// Sounds only: a media track keeps its speed.
void setTrackFrequency(int frequencyHz);

// The loop's media step: a media track that reads position 0 has ended and starts again;
// otherwise its length is raised to the largest position seen (when the stream told none, or
// told too little).
void updateMediaTrack(TrackTime position);

// volumePercent as the engines take it: rounded to nearest, ties to even.
int nearestInt(double value);

}  // namespace lunadio
