// Start-up: what a person sees and hears right after starting the player.
#include <QApplication>
#include <QMessageBox>

#include "app/panel.h"
#include "app/startup.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "tests/app/player_test_support.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/test_seams.h"
#include "ui/windows.h"

namespace lunadio::testing {
namespace {

using StartupTest = PlayerTest;

TEST_F(StartupTest, WithoutParametersOnlyTheTrayIconShows) {
  startWith();
  const PlayerState& st = playerState();
  EXPECT_EQ(st.windowMode, ModeHidden);
  EXPECT_EQ(trackLengthUs(), 0);
  EXPECT_EQ(st.currentTrack.engine(), EngineKind::None);
  ASSERT_TRUE(isWindow(PanelWindow));
  EXPECT_FALSE(ui::windowShown(PanelWindow));
  EXPECT_EQ(ui::trayToolTip(TrayIconNumber), QString::fromUtf8("Lunadio. Lire de la musique."));
  // The panel is built, centred, and its size is what the strip grows back to.
  EXPECT_EQ(windowWidth(PanelWindow), PanelWidth);
  EXPECT_EQ(windowHeight(PanelWindow), PanelHeight);
  EXPECT_EQ(st.savedGeometry.x, windowX(PanelWindow));
  EXPECT_EQ(st.savedGeometry.y, windowY(PanelWindow));
  EXPECT_EQ(st.savedGeometry.innerWidth, PanelWidth);
  EXPECT_EQ(st.savedGeometry.innerHeight, PanelHeight);
  EXPECT_EQ(getGadgetText(TitleGadget), u"Aucune musique chargée.");
}

TEST_F(StartupTest, OneTrackParameterPlaysAtOnceWhileThePanelStaysHidden) {
  const auto path = folder_ / "Première écoute.flac";
  writeFile(path, sineFlac(2.0, 44100));
  startWith(path.u16string());
  const PlayerState& st = playerState();
  EXPECT_EQ(st.currentTrack.engine(), EngineKind::Sound);
  EXPECT_EQ(trackLengthUs(), 2 * kUsPerSecond);
  EXPECT_EQ(st.windowMode, ModeHidden);
  EXPECT_FALSE(ui::windowShown(PanelWindow));
  EXPECT_EQ(getGadgetText(TitleGadget), u"Première écoute");
  EXPECT_EQ(ui::trayToolTip(TrayIconNumber),
            QString::fromUtf8("Lunadio. Lecture de Première écoute"));
  memoryOutput().render(4800);
  EXPECT_GT(rms(memoryOutput().render(4800)), 0.1);
  // The slider's 80 %, not full level.
  EXPECT_EQ(trackVolumeHundredthsDb(), attenuationFor(80));
}

// The command-line track sounds before the display's start; what it shows waits for the panel.
TEST_F(StartupTest, TheStartTrackSoundsBeforeThePanelAndItsMessageWaitsForIt) {
  const auto good = folder_ / "tôt.wav";
  writeFile(good, sineWav(2.0, 44100));
  const auto bad = folder_ / "abîmé.wav";
  writeFile(bad, {'R', 'I', 'F', 'F'});
  const struct {
    std::filesystem::path path;
    bool sounds;
  } cases[] = {{good, true}, {bad, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.string());
    startTrackEarly(c.path.u16string());
    EXPECT_FALSE(isWindow(PanelWindow));
    memoryOutput().render(4800);
    EXPECT_EQ(rms(memoryOutput().render(4800)) > 0.1, c.sounds);
    int messages = 0;
    bool panelWasThere = false;
    RequesterAnswer answer = RequesterAnswer::pressButton(RequesterOk);
    answer.whileShown = [&] {
      ++messages;
      panelWasThere = isWindow(PanelWindow);
    };
    answerNextRequester(answer);
    ASSERT_EQ(startPlayer(c.path.u16string()), StartResult::Running);
    clearRequesterAnswers();
    EXPECT_EQ(messages, c.sounds ? 0 : 1);
    EXPECT_EQ(panelWasThere, !c.sounds);
    EXPECT_EQ(getGadgetText(TitleGadget), c.sounds ? u"tôt" : u"Aucune musique chargée.");
    TearDown();
    SetUp();
  }
}

TEST_F(StartupTest, WithoutASoundDeviceOnlyTheMessageShows) {
  resetSoundDeviceForTests();
  setSoundServiceOpener([](std::unique_ptr<soundout::SoundDevice>& device) {
    soundout::MemoryOutputOptions refusing;
    refusing.refuseOpen = true;
    return soundout::createSoundDevice(std::make_shared<soundout::MemoryOutput>(refusing), device);
  });
  QString title;
  QString text;
  RequesterAnswer answer = RequesterAnswer::pressButton(RequesterOk);
  answer.whileShown = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
  };
  answerNextRequester(answer);
  EXPECT_EQ(startPlayer(u""), StartResult::NoSoundSystem);
  EXPECT_EQ(title, "Erreur");
  EXPECT_EQ(text, QString::fromUtf8("Chef, on peut pas initialiser le systéme de son!! Vérifiez "
                                    "vos pilotes audio et votre systéme de sonorisation."));
  EXPECT_FALSE(isWindow(PanelWindow));
  EXPECT_EQ(ui::trayToolTip(TrayIconNumber), std::nullopt);
  // The device of the other tests again.
  resetSoundDeviceForTests();
  setSoundServiceOpener([](std::unique_ptr<soundout::SoundDevice>& device) {
    return soundout::createSoundDevice(
        std::shared_ptr<soundout::MemoryOutput>(&memoryOutput(), [](auto*) {}), device);
  });
}

}  // namespace
}  // namespace lunadio::testing
