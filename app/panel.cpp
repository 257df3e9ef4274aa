#include "app/panel.h"

#include <algorithm>

#include "ui/drawing.h"
#include "ui/fonts.h"
#include "ui/gadgets.h"
#include "ui/images.h"
#include "ui/requesters.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

struct Box {
  int number, x, y, width, height;
};

// The coloured frame around the controls, in creation order.
constexpr Box kFramePieces[] = {
    {8, 0, 0, 300, 10},     {9, 80, 10, 90, 30},    {10, 0, 10, 10, 160},  {11, 80, 120, 190, 30},
    {12, 10, 145, 290, 20}, {13, 290, 10, 10, 140}, {14, 10, 30, 280, 20}, {15, 10, 60, 280, 10},
    {16, 10, 80, 280, 10},  {17, 10, 110, 280, 10}, {18, 40, 10, 10, 20},
};

constexpr std::int32_t kGroove = rgb(255, 50, 60);
constexpr std::int32_t kKnob = rgb(150, 0, 0);
constexpr std::int32_t kBarBack = rgb(225, 100, 100);
constexpr std::int32_t kBarFront = rgb(255, 0, 0);
constexpr std::int32_t kBarEdge = rgb(240, 240, 255);
constexpr std::int32_t kFrameLine = rgb(255, 0, 0);

void paintFramePiece(int number) {
  const std::int32_t theme = playerState().themeColour;
  if (!startDrawing(canvasOutput(number))) return;
  backColor(theme);
  frontColor(theme);
  drawBox(0, 0, gadgetWidth(number), gadgetHeight(number));
  stopDrawing();
}

void paintEmptyProgressBar() {
  const std::int32_t theme = playerState().themeColour;
  if (!startDrawing(canvasOutput(ProgressGadget))) return;
  const int w = outputWidth();
  const int h = outputHeight();
  drawBox(0, 0, w, h, theme);
  drawRoundBox(0, 0, w, h, 3, 2, kBarEdge);
  drawRoundBox(1, 1, w - 2, h - 2, 3, 2, theme);
  stopDrawing();
  playerState().shownFillPixels = -1;
}

}  // namespace

void createTitleGadget() {
  const PlayerState& st = playerState();
  createTextGadget(TitleGadget, 10, 50, 270, 20, st.currentTitle);
  setGadgetFont(TitleGadget, fontHandle(TitleFont));
  setGadgetColor(TitleGadget, 2, st.themeColour);
  setGadgetColor(TitleGadget, 1, TitleTextColour);
}

void createProgressGadget() {
  createCanvasGadget(ProgressGadget, 10, 70, 280, 10);
  paintEmptyProgressBar();
}

void buildMainGadgets() {
  playerState().gadgetOwner = GadgetOwner::Panel;
  useGadgetList(windowHandle(PanelWindow));
  for (const Box& piece : kFramePieces) {
    createCanvasGadget(piece.number, piece.x, piece.y, piece.width, piece.height);
  }
  for (int n = FirstFramePiece; n <= LastFramePiece; ++n) {
    setGadgetData(n, FramePieceData);
    paintFramePiece(n);
  }
  const int playPauseImage = playerState().playing ? PauseImage : PlayImage;
  createImageGadget(PlayPauseGadget, 50, 10, 31, 31, imageHandle(playPauseImage));
  createImageGadget(HideGadget, 275, 130, 25, 25, imageHandle(HideImage));
  createImageGadget(CloseGadget, 270, 10, 20, 20, imageHandle(CloseImage));
  createImageGadget(LibraryGadget, 240, 10, 25, 25, imageHandle(LibraryImage));
  createTitleGadget();
  createCanvasGadget(VolumeGadget, 10, 90, 280, 20);
  drawVolumeSlider();
  createImageButtonGadget(OpenFileGadget, 10, 10, 30, 25, imageHandle(OpenFileImage));
  createButtonGadget(ColourGadget, 10, 120, 70, 25, u"Couleur");
  createProgressGadget();
  // For screen readers; the pictures are named after their images, the rest by their texts.
  for (int n = FirstFramePiece; n <= LastFramePiece; ++n) {
    setGadgetAccessibility(n, GadgetRole::Picture, u"Cadre de Lunadio");
  }
  setGadgetAccessibility(VolumeGadget, GadgetRole::Slider, u"Volume");
  setGadgetAccessibility(ProgressGadget, GadgetRole::ProgressBar, u"Position");
}

void drawVolumeSlider(KnobPlace place) {
  const PlayerState& st = playerState();
  if (!startDrawing(canvasOutput(VolumeGadget))) return;
  const int w = outputWidth();
  const int h = outputHeight();
  drawBox(0, 0, w, h, st.themeColour);
  drawBox(0, static_cast<int>(h / 2.0 - 1), w, 2, kGroove);
  int knobX = st.volumeKnobX - 4;
  if (place == KnobPlace::LeftEnd) knobX = 0;
  if (place == KnobPlace::RightEnd) knobX = w - 4;
  drawBox(knobX, 1, 4, h - 2, kKnob);
  stopDrawing();
  // The volume the knob stands for, as the slider's dispatch computes it.
  int percent = w > 0 ? static_cast<int>(st.volumeKnobX * 100.0 / w) : 0;
  if (place == KnobPlace::LeftEnd) percent = 0;
  if (place == KnobPlace::RightEnd) percent = 100;
  setGadgetAccessibleValue(VolumeGadget, percent);
}

int progressFillPixels(TrackUs position, TrackUs length, int canvasWidth) {
  if (length <= 0 || position <= 0) return 0;
  const double fill = static_cast<double>(position) / static_cast<double>(length) * canvasWidth;
  return std::clamp(static_cast<int>(fill), 0, canvasWidth);
}

void drawProgressBar(TrackUs position, TrackUs length) {
  const std::int32_t theme = playerState().themeColour;
  if (!startDrawing(canvasOutput(ProgressGadget))) return;
  const int w = outputWidth();
  const int h = outputHeight();
  const int fill = progressFillPixels(position, length, w);
  backColor(kBarBack);
  frontColor(kBarFront);
  drawRoundBox(0, 0, w, h, 3, 2, kBarBack);
  drawRoundBox(1, 1, w - 2, h - 2, 3, 2, theme);
  drawingMode(DrawingModeGradient);
  linearGradient(0, 0, 0, 4);
  drawBox(1, 1, fill, 5);
  linearGradient(0, 9, 0, 4);
  drawBox(1, 4, fill, 5);
  stopDrawing();
  playerState().shownFillPixels = fill;
  setGadgetAccessibleValue(ProgressGadget,
                           length > 0 ? static_cast<int>(position * 100 / length) : 0);
}

void refreshProgressBar(const TrackStatus& status) {
  if (playerState().gadgetOwner == GadgetOwner::OtherWindow) return;
  const int w = gadgetWidth(ProgressGadget);
  if (w <= 0) return;
  if (progressFillPixels(status.position, status.length, w) == playerState().shownFillPixels) {
    return;
  }
  drawProgressBar(status.position, status.length);
}

void showTitle() {
  if (playerState().gadgetOwner == GadgetOwner::OtherWindow) return;
  setGadgetText(TitleGadget, playerState().currentTitle);
}

void showPlayPauseImage() {
  if (playerState().gadgetOwner != GadgetOwner::Panel) return;
  setGadgetState(PlayPauseGadget, imageHandle(playerState().playing ? PauseImage : PlayImage));
}

void showVolumeSlider(KnobPlace place) {
  if (playerState().gadgetOwner != GadgetOwner::Panel) return;
  drawVolumeSlider(place);
}

void drawWindowFrame(int window) {
  const int w = windowWidth(window);
  const int h = windowHeight(window);
  if (!startDrawing(windowOutput(window))) return;
  frontColor(kFrameLine);
  drawLine(0, 0, w, 0);
  drawLine(0, 0, 0, h);
  drawLine(w - 1, 0, w - 1, h);
  drawLine(0, h - 1, w - 1, h - 1);
  drawLine(0, h - 2, w - 1, h - 2, playerState().themeColour);
  stopDrawing();
}

void chooseThemeColour() {
  PlayerState& st = playerState();
  st.windowMode = ModeModal;
  // The chooser opens at the panel's colour; a cancel keeps it (storing the cancel's -1 would
  // paint the panel in the desktop's default colour).
  const std::int32_t chosen = colorRequester(st.themeColour);
  if (chosen == ColorRequesterCancelled) {
    st.windowMode = ModeShown;
    drawWindowFrame(PanelWindow);
    return;
  }
  st.themeColour = chosen;
  setGadgetColor(TitleGadget, 2, st.themeColour);
  setGadgetColor(VolumeGadget, 2, st.themeColour);
  setWindowColor(PanelWindow, st.themeColour);
  for (int n = FirstFramePiece; n <= LastFramePiece; ++n) {
    setGadgetData(n, FramePieceData);
    gadgetToolTip(n, u"Lunadio, lecteur de musiques. \nCliquez pour déplacer");
    paintFramePiece(n);
  }
  st.shownFillPixels = -1;
  st.windowMode = ModeShown;
  drawWindowFrame(PanelWindow);
}

}  // namespace lunadio
