#pragma once
// The panel (window 0): its gadgets, the themed pieces drawn into them and the colour chooser.
// Main thread only. Gadget numbers are shared by every window, so whoever reuses 0..19 (the
// library window, the compact strip) has the panel's gadgets rebuilt with buildMainGadgets(); the
// show...() procedures touch only the gadgets the panel holds at the time (playerState().
// gadgetOwner), so the player's state can change under any window.

#include <cstdint>

#include "app/player_state.h"

namespace lunadio {

// Gadget numbers of the panel.
enum PanelGadget : int {
  PlayPauseGadget = 0,
  OpenFileGadget = 1,
  TitleGadget = 2,
  HideGadget = 3,
  CloseGadget = 4,
  VolumeGadget = 5,
  ColourGadget = 6,
  LibraryGadget = 7,
  FirstFramePiece = 8,
  LastFramePiece = 18,
  ProgressGadget = 19,
};

// Frame pieces carry this gadget data; the dispatch knows them by it.
inline constexpr std::intptr_t FramePieceData = 1;

inline constexpr std::int32_t TitleTextColour = rgb(255, 240, 210);
inline constexpr int PanelWidth = 300;
inline constexpr int PanelHeight = 155;
inline constexpr int kPanelSliderWidth = 280;  // the volume canvas

// Creates every gadget of the panel in window 0 and paints them; the panel holds the gadget
// numbers again.
void buildMainGadgets();
// The title text (gadget 2) and the empty progress bar (canvas 19) at their panel places; the
// compact strip keeps only these two.
void createTitleGadget();
void createProgressGadget();

// Canvas 5 with the knob at volumeKnobX (or at an end when the knob is clamped there).
enum class KnobPlace { AtX, LeftEnd, RightEnd };
void drawVolumeSlider(KnobPlace place = KnobPlace::AtX);

// Canvas 19 filled to position / length of its width, in a gradient mirrored about its middle.
void drawProgressBar(TrackUs position, TrackUs length);
// The loop's redraw, where the panel or the strip shows the bar: draws only when the fill would
// differ from what the canvas shows.
void refreshProgressBar(const TrackStatus& status);
// The fill in pixels that drawProgressBar() gives, clamped to the canvas.
int progressFillPixels(TrackUs position, TrackUs length, int canvasWidth);

// The state record shown on whichever of the panel's gadgets it holds now: the title (panel and
// strip), the play/pause image and the volume slider (panel only).
void showTitle();
void showPlayPauseImage();
void showVolumeSlider(KnobPlace place = KnobPlace::AtX);

// The red frame lines on the window's drawing overlay; the overlay is not kept across window
// changes, so this runs on every timer and size event.
void drawWindowFrame(int window);

// The colour requester, then the theme applied to the window, the title, the slider and the frame.
void chooseThemeColour();

}  // namespace lunadio
