// The panel: its gadgets, what it draws, and what each control does when a person uses it.
#include <QApplication>
#include <QColorDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "app/dispatch.h"
#include "app/panel.h"
#include "app/playback.h"
#include "audio/sound.h"
#include "tests/app/player_test_support.h"
#include "ui/drawing.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/images.h"
#include "ui/requesters.h"
#include "ui/test_seams.h"
#include "ui/tray.h"
#include "ui/windows.h"

namespace lunadio::testing {
namespace {

QRgb rgbOf(std::int32_t colour) { return qRgb(redOf(colour), greenOf(colour), blueOf(colour)); }

class PanelTest : public PlayerTest {
 protected:
  // A 10-second sine under sound 0, the panel shown.
  void startWithTrack() {
    const auto path = folder_ / "piste.wav";
    writeFile(path, sineWav(10.0, 44100));
    startWith(path.u16string());
    ASSERT_EQ(trackLengthUs(), 10 * kUsPerSecond);
    showPanel();
  }
};

TEST_F(PanelTest, EveryGadgetSitsAtItsPlace) {
  startWith();
  const struct {
    int gadget, x, y, w, h;
  } places[] = {
      {8, 0, 0, 300, 10},     {9, 80, 10, 90, 30},    {10, 0, 10, 10, 160},  {11, 80, 120, 190, 30},
      {12, 10, 145, 290, 20}, {13, 290, 10, 10, 140}, {14, 10, 30, 280, 20}, {15, 10, 60, 280, 10},
      {16, 10, 80, 280, 10},  {17, 10, 110, 280, 10}, {18, 40, 10, 10, 20},  {2, 10, 50, 270, 20},
      {5, 10, 90, 280, 20},   {1, 10, 10, 30, 25},    {6, 10, 120, 70, 25},  {19, 10, 70, 280, 10},
  };
  for (const auto& p : places) {
    ASSERT_TRUE(isGadget(p.gadget)) << p.gadget;
    EXPECT_EQ(gadgetX(p.gadget), p.x) << p.gadget;
    EXPECT_EQ(gadgetY(p.gadget), p.y) << p.gadget;
    EXPECT_EQ(gadgetWidth(p.gadget), p.w) << p.gadget;
    EXPECT_EQ(gadgetHeight(p.gadget), p.h) << p.gadget;
    EXPECT_EQ(getGadgetData(p.gadget), p.gadget >= 8 && p.gadget <= 18 ? 1 : 0) << p.gadget;
  }
  for (int image : {0, 3, 4, 7}) EXPECT_TRUE(isGadget(image)) << image;
  EXPECT_EQ(getGadgetText(ColourGadget), u"Couleur");
  EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PauseImage));
}

TEST_F(PanelTest, ThePanelIsPaintedInTheThemeWithItsFrameSliderAndBar) {
  startWithTrack();
  const QImage panel = panelPixels();
  ASSERT_EQ(panel.width(), 300);
  const QRgb theme = rgbOf(DefaultThemeColour);
  EXPECT_EQ(panel.pixel(150, 5), theme);           // a frame piece
  EXPECT_EQ(panel.pixel(0, 70), qRgb(255, 0, 0));  // the red frame line
  EXPECT_EQ(panel.pixel(299, 70), qRgb(255, 0, 0));
  EXPECT_EQ(panel.pixel(150, 153), theme);  // the themed inner line at the bottom
  EXPECT_EQ(panel.pixel(150, 154), qRgb(255, 0, 0));
  // Slider: groove across, knob just left of x 224.
  const QImage slider = canvasPixels(VolumeGadget);
  EXPECT_EQ(slider.pixel(50, 9), qRgb(255, 50, 60));
  EXPECT_EQ(slider.pixel(221, 5), qRgb(150, 0, 0));
  EXPECT_EQ(slider.pixel(230, 5), theme);
}

TEST_F(PanelTest, TheProgressBarFillsToThePositionMirroredAboutItsMiddle) {
  startWithTrack();
  drawProgressBar(441000 / 2, 441000);
  const QImage bar = canvasPixels(ProgressGadget);
  ASSERT_EQ(bar.width(), 280);
  // The front colour on the middle row, fading to the back colour towards both edges.
  for (int x : {1, 70, 139}) {
    EXPECT_EQ(bar.pixel(x, 4), qRgb(255, 0, 0)) << x;
    for (int y : {1, 2, 3}) EXPECT_GT(qGreen(bar.pixel(x, y)), qGreen(bar.pixel(x, y + 1))) << x;
    for (int y : {5, 6, 7, 8}) EXPECT_GT(qGreen(bar.pixel(x, y)), qGreen(bar.pixel(x, y - 1))) << x;
  }
  // Filled up to trunc(0.5 x 280) = 140 from x 1, so x 141 is the theme again.
  EXPECT_EQ(bar.pixel(141, 4), rgbOf(DefaultThemeColour));
  EXPECT_EQ(progressFillPixels(-1, 10, 280), 0);
  EXPECT_EQ(progressFillPixels(20, 10, 280), 280);
  EXPECT_EQ(progressFillPixels(5, 0, 280), 0);
}

TEST_F(PanelTest, WithoutATrackThePlaybackControlsDoNothing) {
  startWith();
  showPanel();
  postGadget(PlayPauseGadget, EventTypeLeftClick);
  EXPECT_EQ(playerState().playing, true);
  EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PauseImage));
  postCanvas(ProgressGadget, EventTypeLeftButtonDown, 140, 5);
  EXPECT_FALSE(trackLoaded());
  postCanvas(VolumeGadget, EventTypeLeftButtonDown, 140, 5);
  postCanvas(VolumeGadget, EventTypeMouseMove, 140, 5);
  EXPECT_FLOAT_EQ(playerState().volumePercent, 50.0f);
  EXPECT_EQ(canvasPixels(VolumeGadget).pixel(137, 5), qRgb(150, 0, 0));
}

TEST_F(PanelTest, DraggingAFramePieceMovesTheWindowBySavedDisplacement) {
  startWith();
  showPanel();
  const int x0 = windowX(PanelWindow);
  const int y0 = windowY(PanelWindow);
  postCanvas(14, EventTypeLeftButtonDown, 5, 5);
  postCanvas(14, EventTypeMouseMove, 25, 15);
  EXPECT_EQ(windowX(PanelWindow), x0 + 20);
  EXPECT_EQ(windowY(PanelWindow), y0 + 10);
  EXPECT_EQ(playerState().savedGeometry.x, x0 + 20);
  EXPECT_EQ(playerState().savedGeometry.y, y0 + 10);
  postCanvas(14, EventTypeLeftButtonUp, 25, 15);
  postCanvas(14, EventTypeMouseMove, 60, 15);
  EXPECT_EQ(windowX(PanelWindow), x0 + 20);  // released: no more moving
  // A right click on the frame hides the panel.
  postCanvas(14, EventTypeRightClick, 60, 15);
  EXPECT_EQ(playerState().windowMode, ModeHidden);
  EXPECT_FALSE(ui::windowShown(PanelWindow));
}

TEST_F(PanelTest, AClickOnTheBarSeeksByTheDesignedWidth) {
  startWithTrack();
  postCanvas(ProgressGadget, EventTypeLeftButtonDown, 140, 5);
  EXPECT_EQ(getSoundPosition(TrackNumber), 441000 / 2);
  postCanvas(ProgressGadget, EventTypeLeftButtonDown, 28, 5);
  EXPECT_EQ(getSoundPosition(TrackNumber), 44100);
  // Only the button going down seeks.
  postCanvas(ProgressGadget, EventTypeMouseMove, 200, 5);
  EXPECT_EQ(getSoundPosition(TrackNumber), 44100);
}

TEST_F(PanelTest, TheVolumeKnobSetsTheTrackVolumeAndClampsAtItsEnds) {
  startWithTrack();
  const struct {
    int x;
    float percent;
    int knobPixel;  // a pixel of the drawn knob
  } cases[] = {{140, 50.0f, 137},  {2, 0.0f, 1},       {-10, 0.0f, 1},
               {276, 100.0f, 277}, {400, 100.0f, 277}, {3, 1.0f, 0}};
  postCanvas(VolumeGadget, EventTypeLeftButtonDown, 140, 5);
  for (const auto& c : cases) {
    postCanvas(VolumeGadget, EventTypeMouseMove, c.x, 5);
    EXPECT_FLOAT_EQ(playerState().volumePercent, c.percent) << c.x;
    EXPECT_EQ(trackVolumeHundredthsDb(), attenuationFor(static_cast<int>(c.percent))) << c.x;
    EXPECT_EQ(canvasPixels(VolumeGadget).pixel(c.knobPixel, 5), qRgb(150, 0, 0)) << c.x;
  }
  postCanvas(VolumeGadget, EventTypeLeftButtonUp, 3, 5);
  postCanvas(VolumeGadget, EventTypeMouseMove, 140, 5);
  EXPECT_FLOAT_EQ(playerState().volumePercent, 1.0f);
}

TEST_F(PanelTest, PlayPauseTogglesTheSoundAndTheImage) {
  startWithTrack();
  memoryOutput().render(4800);
  EXPECT_GT(rms(memoryOutput().render(4800)), 0.05);
  postGadget(PlayPauseGadget, EventTypeLeftClick);
  EXPECT_EQ(playerState().playing, false);
  EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PlayImage));
  memoryOutput().render(4800);
  EXPECT_EQ(rms(memoryOutput().render(4800)), 0.0);
  postGadget(PlayPauseGadget, EventTypeLeftClick);
  EXPECT_EQ(playerState().playing, true);
  EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PauseImage));
  memoryOutput().render(4800);
  EXPECT_GT(rms(memoryOutput().render(4800)), 0.05);
}

// The keyboard does what the pointer does, while the panel is shown.
TEST_F(PanelTest, ThePanelsKeysPlaySeekChangeTheVolumeAndHide) {
  startWithTrack();
  auto press = [this](int key, std::intptr_t data = 0) {
    postEvent(EventKeyDown, PanelWindow, 0, key, data);
    settle();
  };
  setSoundPosition(TrackNumber, 441000 / 2);  // 5 s into the 10-second track
  const struct {
    int key;
    std::intptr_t data;
    bool playing;
    std::int64_t frame;  // where the track stands afterwards
    float volumePercent;
  } steps[] = {
      {KeySpace, 0, false, 220500, 80.0f},
      {KeySpace, KeyAutoRepeat, false, 220500, 80.0f},  // a held Space toggles once
      {KeySpace, 0, true, -1, 80.0f},
      {KeyLeft, 0, true, 0, 80.0f},
      {KeyRight, 0, true, 220500, 80.0f},
      {KeyUp, 0, true, -1, 85.0f},
      {KeyDown, 0, true, -1, 80.0f},
      {KeyDown, 0, true, -1, 75.0f},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.key);
    press(step.key, step.data);
    EXPECT_EQ(playerState().playing, step.playing);
    EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(step.playing ? PauseImage : PlayImage));
    // Positions are read right after the key, before the track has moved on much.
    if (step.frame >= 0) {
      EXPECT_NEAR(getSoundPosition(TrackNumber), step.frame, 4410);
    }
    EXPECT_FLOAT_EQ(playerState().volumePercent, step.volumePercent);
    EXPECT_EQ(trackVolumeHundredthsDb(), attenuationFor(static_cast<int>(step.volumePercent)));
  }
  press(KeyEscape);
  EXPECT_EQ(playerState().windowMode, ModeHidden);
  // Hidden, the panel takes no keys.
  press(KeySpace);
  EXPECT_TRUE(playerState().playing);
}

TEST_F(PanelTest, TheLoopWaitsForEventsWhenNothingItShowsCanMove) {
  startWith();
  EXPECT_EQ(loopWaitMs(), -1);  // no track
  const auto path = folder_ / "piste.wav";
  writeFile(path, sineWav(2.0, 44100));
  openTrack(path.u16string());
  EXPECT_EQ(loopWaitMs(), -1);  // hidden: the engine loops the sound by itself
  showPanel();
  EXPECT_EQ(loopWaitMs(), 5);  // the bar moves
  postGadget(PlayPauseGadget, EventTypeLeftClick);
  EXPECT_EQ(loopWaitMs(), -1);  // paused
  // The bar is redrawn only when its fill changes.
  drawProgressBar(0, 1);
  // Blackened behind the panel's back, so a repaint would show.
  ASSERT_NE(startDrawing(canvasOutput(ProgressGadget)), 0);
  drawBox(0, 0, outputWidth(), outputHeight(), rgb(0, 0, 0));
  stopDrawing();
  refreshProgressBar({TrackPhase::Playing, 0, 1});
  EXPECT_EQ(canvasPixels(ProgressGadget).pixel(100, 4), qRgb(0, 0, 0));
  refreshProgressBar({TrackPhase::Playing, 1, 2});
  EXPECT_EQ(canvasPixels(ProgressGadget).pixel(100, 4), qRgb(255, 0, 0));
}

TEST_F(PanelTest, QuitAsksFirstAndOnlyYesEndsTheLoop) {
  startWith();
  showPanel();
  QString text;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  RequesterAnswer no = RequesterAnswer::pressButton(RequesterNo);
  no.whileShown = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    text = box->text();
    defaultButton = box->standardButton(box->defaultButton());
    EXPECT_EQ(playerState().windowMode, ModeModal);
  };
  answerNextRequester(no);
  postGadget(CloseGadget, EventTypeRightClick);
  EXPECT_FALSE(stopped_);
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_TRUE(text.startsWith(QString::fromUtf8("Attention ! Vous allez quitter Lunadio")));
  EXPECT_EQ(defaultButton, QMessageBox::No);
  answerNextRequester(RequesterAnswer::pressButton(RequesterYes));
  postGadget(CloseGadget, EventTypeRightClick);
  EXPECT_TRUE(stopped_);
}

TEST_F(PanelTest, AChosenColourThemesThePanelAndTheFrameGetsItsTooltip) {
  startWithTrack();
  const std::int32_t green = rgb(20, 160, 60);
  answerNextRequester(RequesterAnswer::chooseColour(green));
  postGadget(ColourGadget, EventTypeLeftClick);
  EXPECT_EQ(playerState().themeColour, green);
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_EQ(getGadgetColor(TitleGadget, 2), green);
  const QImage panel = panelPixels();
  EXPECT_EQ(panel.pixel(150, 5), rgbOf(green));
  // The bar takes the colour at its next repaint, the loop's next pass.
  EXPECT_EQ(canvasPixels(ProgressGadget).pixel(278, 5), rgbOf(green));
  EXPECT_EQ(ui::toolTipAt(PanelWindow, 150, 3),
            QString::fromUtf8("Lunadio, lecteur de musiques. \nCliquez pour déplacer"));
  // A cancelled chooser, opened at the panel's colour, keeps it.
  QColor startColour;
  RequesterAnswer cancel = RequesterAnswer::cancel();
  cancel.whileShown = [&] {
    if (auto* dialog = qobject_cast<QColorDialog*>(QApplication::activeModalWidget())) {
      startColour = dialog->currentColor();
    }
  };
  answerNextRequester(cancel);
  postGadget(ColourGadget, EventTypeLeftClick);
  EXPECT_EQ(startColour, QColor(20, 160, 60));
  EXPECT_EQ(playerState().themeColour, green);
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_EQ(panelPixels().pixel(150, 5), rgbOf(green));
}

TEST_F(PanelTest, TheLibraryButtonFadesOutAndBackWithTheGadgetsRebuilt) {
  startWith();
  showPanel();
  freeGadget(ColourGadget);  // stands for a gadget the library window took over
  // The library window runs its own loop between the two fades; close it as a person would once
  // it is on screen (an event posted earlier would be drained by the fade).
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&closer] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->isVisible() && window->width() == 700) {
        postEvent(EventCloseWindow, 0, 0, 0, 0);
        closer.stop();
      }
    }
  });
  closer.start(20);
  postGadget(LibraryGadget, EventTypeLeftClick);
  EXPECT_FALSE(closer.isActive());
  EXPECT_EQ(playerState().windowMode, ModeShown);
  EXPECT_TRUE(ui::windowShown(PanelWindow));
  EXPECT_TRUE(isGadget(ColourGadget));
  EXPECT_EQ(getGadgetData(8), 1);
}

TEST_F(PanelTest, HideAndTrayToggleThePanel) {
  startWith();
  showPanel();
  EXPECT_TRUE(ui::windowShown(PanelWindow));
  EXPECT_NEAR(ui::windowOpacity(PanelWindow), 1.0, 0.001);
  postGadget(HideGadget, EventTypeLeftClick);
  EXPECT_EQ(playerState().windowMode, ModeHidden);
  EXPECT_FALSE(ui::windowShown(PanelWindow));
  postTray(TrayRightPress);
  EXPECT_EQ(playerState().windowMode, ModeShown);
  postTray(TrayLeftDoubleClick);
  EXPECT_EQ(playerState().windowMode, ModeHidden);
}

}  // namespace
}  // namespace lunadio::testing
