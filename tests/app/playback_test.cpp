// Opening tracks: the engine choice, the messages, bad files, the two engines taking turns, and
// media tracks longer than a 32-bit position can hold.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "app/dispatch.h"
#include "app/panel.h"
#include "app/playback.h"
#include "audio/sound.h"
#include "media/media.h"
#include "storage/user_folders.h"
#include "tests/app/player_test_support.h"
#include "tests/audio/support/fixtures.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/images.h"
#include "ui/requesters.h"
#include "ui/windows.h"

namespace lunadio::testing {
namespace {

struct Shown {
  QString title;
  QString text;
};

// Answers the next message box with OK and records it.
void recordNextMessage(Shown& shown) {
  RequesterAnswer answer = RequesterAnswer::pressButton(RequesterOk);
  answer.whileShown = [&shown] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    shown.title = box->windowTitle();
    shown.text = box->text();
  };
  answerNextRequester(answer);
}

const QString kUnknownType = QString::fromUtf8(
    "Lunadio ne reconnait pas le type de fichier du dernier fichier que vous avez essayé d'ouvrir. "
    "Essayez de le convertir dans un autre format, comme le MP3 ou le Wave.");

TEST(EngineChoice, ExtensionsAreFoundWithoutCaseInsideTheKnownNames) {
  const struct {
    const char16_t* extension;
    EngineKind engine;
  } cases[] = {
      {u"mp3", EngineKind::Media},  {u"MP3", EngineKind::Media}, {u"Mp3", EngineKind::Media},
      {u"mp", EngineKind::Media},   {u"wav", EngineKind::Sound}, {u"WAV", EngineKind::Sound},
      {u"FLAC", EngineKind::Sound}, {u"Ogg", EngineKind::Sound}, {u"av", EngineKind::Sound},
      {u"", EngineKind::None},      {u"m4a", EngineKind::None},  {u"aac", EngineKind::None},
      {u"flacc", EngineKind::None},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(chooseEngine(c.extension), c.engine) << toUtf8(c.extension);
  }
}

class PlaybackTest : public PlayerTest {
 protected:
  std::filesystem::path wav(const std::string& name, double seconds = 2.0) {
    const auto path = folder_ / name;
    writeFile(path, sineWav(seconds, 44100));
    return path;
  }
  void open(const std::filesystem::path& path) { openTrack(path.u16string()); }
  bool soundReachesTheDevice() {
    memoryOutput().render(2400);
    return rms(memoryOutput().render(4800)) > 0.05;
  }
};

TEST_F(PlaybackTest, UpperCaseExtensionsPlay) {
  startWith();
  const auto flac = folder_ / "Live.FLAC";
  writeFile(flac, sineFlac(1.0, 48000));
  open(flac);
  EXPECT_EQ(playerState().currentTrack.engine(), EngineKind::Sound);
  EXPECT_EQ(trackLengthUs(), kUsPerSecond);
  EXPECT_FLOAT_EQ(playerState().currentTrack.baseFrequencyHz(), 48000.0f);
  EXPECT_TRUE(soundReachesTheDevice());
  open(wav("TRACK01.WAV"));
  EXPECT_EQ(playerState().currentTrack.title(), u"TRACK01");
  EXPECT_EQ(getGadgetText(TitleGadget), u"TRACK01");
}

TEST_F(PlaybackTest, UnknownTypesAreRefusedAndThePreviousTrackPlaysOn) {
  startWith();
  open(wav("avant.wav"));
  for (const char* name : {"chanson.m4a", "sans extension"}) {
    const auto path = folder_ / name;
    writeFile(path, sineWav(0.5, 44100));
    Shown shown;
    recordNextMessage(shown);
    open(path);
    EXPECT_EQ(shown.title, "Erreur de chargement - Lunadio") << name;
    EXPECT_EQ(shown.text, kUnknownType) << name;
    EXPECT_EQ(playerState().currentTrack.title(), u"avant") << name;
    EXPECT_EQ(getGadgetText(TitleGadget), u"avant") << name;
    EXPECT_TRUE(soundReachesTheDevice()) << name;
  }
}

TEST_F(PlaybackTest, FilesThatCannotPlayGiveTheMessageAndTheTrackPlaysOn) {
  startWith();
  open(wav("avant.wav"));
  const auto empty = folder_ / "vide.wav";
  writeFile(empty, {});
  const auto truncated = folder_ / "coupé.flac";
  auto flac = sineFlac(1.0, 44100);
  flac.resize(40);
  writeFile(truncated, flac);
  const auto directory = folder_ / "dossier.flac";
  std::filesystem::create_directory(directory);
  const auto fifo = folder_ / "tube.wav";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto emptyMp3 = folder_ / "vide.mp3";
  writeFile(emptyMp3, {});
  const auto notUtf8 = folder_ / std::string("nom\xff\xfe.ogg");
  writeFile(notUtf8, {1, 2, 3, 4});
  const auto missing = folder_ / "absent.wav";
  for (const auto& path : {empty, truncated, directory, fifo, emptyMp3, notUtf8, missing}) {
    Shown shown;
    recordNextMessage(shown);
    openTrack(fromUtf8(path.string()));
    EXPECT_EQ(shown.title, "Lunadio") << path;
    EXPECT_TRUE(shown.text.contains(QString::fromUtf8("\nAdresse du fichier: ") +
                                    QString::fromStdU16String(fromUtf8(path.string())) +
                                    QString::fromUtf8("\nNom : ")))
        << path;
    EXPECT_TRUE(shown.text.startsWith(QString::fromUtf8("Lunadio ne peut pas lire ce morceau.")));
    EXPECT_EQ(playerState().currentTrack.engine(), EngineKind::Sound) << path;
    EXPECT_EQ(playerState().currentTrack.title(), u"avant") << path;
    EXPECT_TRUE(soundReachesTheDevice()) << path;
  }
}

TEST_F(PlaybackTest, AnMp3ThatFailsLeavesThePlayingMp3AndOneThatWorksNeedsNoTrialLeftOver) {
  const auto mp3 = makeMp3(folder_, "bon.mp3", 2.0);
  if (mp3.empty()) GTEST_SKIP() << "no lame encoder";
  const auto bad = folder_ / "vide.mp3";
  writeFile(bad, {});
  startWith();
  open(mp3);
  ASSERT_EQ(playerState().currentTrack.engine(), EngineKind::Media);
  EXPECT_FALSE(isMedia(TrialNumber));
  Shown shown;
  recordNextMessage(shown);
  open(bad);
  EXPECT_TRUE(shown.text.startsWith(QString::fromUtf8("Lunadio ne peut pas lire ce morceau.")));
  EXPECT_EQ(playerState().currentTrack.engine(), EngineKind::Media);
  EXPECT_EQ(playerState().currentTrack.title(), u"bon");
  EXPECT_TRUE(isMedia(TrackNumber));
  EXPECT_FALSE(isMedia(TrialNumber));
  TrackUs position = 0;
  for (int i = 0; i < 100 && position <= 0; ++i) {
    runMainLoopPass(5);
    position = playerState().currentTrack.status().position;
  }
  EXPECT_GT(position, 0);
}

TEST_F(PlaybackTest, OggDataUnderAWavNamePlaysThroughTheDecoders) {
  startWith();
  const auto path = folder_ / "faux.wav";
  std::vector<std::int16_t> tone(44100 * 2);  // one second, stereo
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 440.0 * (i / 2) / 44100));
  }
  writeFile(path, test::encodeVorbis(tone, {}));
  open(path);
  EXPECT_EQ(playerState().currentTrack.engine(), EngineKind::Sound);
  EXPECT_EQ(playerState().currentTrack.title(), u"faux");
  EXPECT_TRUE(soundReachesTheDevice());
}

TEST_F(PlaybackTest, ANewTrackPlaysWhileThePlayImageStaysAfterAPause) {
  startWith();
  open(wav("un.wav"));
  showPanel();
  postGadget(PlayPauseGadget, EventTypeLeftClick);
  ASSERT_EQ(playerState().playing, false);
  open(wav("deux.wav"));
  EXPECT_EQ(playerState().playing, false);
  EXPECT_EQ(getGadgetState(PlayPauseGadget), imageHandle(PlayImage));
  EXPECT_TRUE(soundReachesTheDevice());
}

TEST_F(PlaybackTest, TheEnginesTakeTurnsAndALongMp3KeepsItsLengthAndPosition) {
  // Four minutes: past 2^31 units of 100 ns (3 min 34.7 s).
  const auto mp3 = makeMp3(folder_, "Longue.Mp3", 240.0);
  if (mp3.empty()) GTEST_SKIP() << "no lame encoder";
  startWith();
  open(wav("son.wav"));
  open(mp3);
  const PlayerState& st = playerState();
  ASSERT_EQ(st.currentTrack.engine(), EngineKind::Media);
  EXPECT_FALSE(isSound(TrackNumber));
  EXPECT_TRUE(isMedia(TrackNumber));
  EXPECT_FALSE(isMedia(TrialNumber));
  // The stream's duration (this one tells it once playing), not the largest position seen.
  for (int i = 0; i < 400 && trackLengthUs() < kUsPerSecond * 60; ++i) runMainLoopPass(5);
  EXPECT_NEAR(static_cast<double>(trackLengthUs()), 240.0 * kUsPerSecond, 1.0 * kUsPerSecond);
  EXPECT_EQ(getGadgetText(TitleGadget), u"Longue");
  // Hidden, the loop sleeps until an event: the end, if any, is one.
  runLoopTail();
  EXPECT_EQ(loopWaitMs(), -1);
  showPanel();
  // A click at 268 of 280 goes to 3 min 49.7 s.
  postCanvas(ProgressGadget, EventTypeLeftButtonDown, 268, 5);
  constexpr TrackUs kPast32Bits = ((TrackUs{1} << 31) / 10) + 1;  // in the engine's 100-ns units
  TrackUs position = 0;
  for (int i = 0; i < 40 && position < kPast32Bits; ++i) {
    runMainLoopPass(5);
    position = playerState().currentTrack.status().position;
  }
  EXPECT_GT(position, kPast32Bits);
  EXPECT_GE(progressFillPixels(position, trackLengthUs(), 280), 267);
  const QImage bar = canvasPixels(ProgressGadget);
  EXPECT_EQ(bar.pixel(260, 4), qRgb(255, 0, 0));
  // And back to the audio engine: the media player goes.
  open(wav("retour.wav"));
  EXPECT_EQ(st.currentTrack.engine(), EngineKind::Sound);
  EXPECT_FALSE(isMedia(TrackNumber));
  EXPECT_EQ(trackLengthUs(), 2 * kUsPerSecond);
}

// Hidden, so that every pass is the event-driven one a tray player makes.
TEST_F(PlaybackTest, AShortMp3LoopsThroughItsSeamAndAnEndThatComesAnywayWakesTheLoop) {
  const auto mp3 = makeMp3(folder_, "court.mp3", 0.6);
  if (mp3.empty()) GTEST_SKIP() << "no lame encoder";
  startWith();
  open(mp3);
  ASSERT_EQ(playerState().currentTrack.engine(), EngineKind::Media);
  EXPECT_EQ(mediaLoop(TrackNumber), 1);
  // Through at least two seams: once it has started to move (a slow machine may read 0 before
  // the first buffer plays), the position never reads 0 (a stop) and goes back to the start.
  TrackUs previous = 0;
  int seams = 0;
  bool moving = false;
  for (int i = 0; i < 400 && seams < 2; ++i) {
    runMainLoopPass(5);
    const TrackUs position = playerState().currentTrack.status().position;
    moving = moving || position > 0;
    if (!moving) continue;
    ASSERT_NE(position, 0) << "pass " << i;
    if (position < previous - kUsPerSecond / 5) ++seams;
    previous = position;
  }
  EXPECT_EQ(seams, 2);
  // Looping off, the track ends: the engine's event wakes a loop that waits for events alone, and
  // the tail plays the track again.
  setMediaLoop(TrackNumber, 0);
  ASSERT_EQ(loopWaitMs(), -1);
  int event = 0;
  for (int i = 0; i < 10 && event != EventMediaEnd; ++i) {
    event = waitWindowEvent(1000);
    dispatchEvent(event);
  }
  ASSERT_EQ(event, EventMediaEnd);
  TrackUs restarted = 0;
  for (int i = 0; i < 100 && restarted <= 0; ++i) {
    runMainLoopPass(5);
    restarted = playerState().currentTrack.status().position;
  }
  EXPECT_GT(restarted, 0);
}

TEST_F(PlaybackTest, TheOpenRequesterStartsInTheMusicFolder) {
  const auto home = folder_ / "home";
  std::filesystem::create_directories(home / ".config");
  std::filesystem::create_directories(home / "Musique");
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", home.c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  const auto dirs = home / ".config" / "user-dirs.dirs";
  const struct {
    const char* contents;  // nullptr: no file
    std::filesystem::path expected;
  } cases[] = {
      {"XDG_DESKTOP_DIR=\"$HOME/Bureau\"\nXDG_MUSIC_DIR=\"$HOME/Musique\"\n", home / "Musique"},
      {"XDG_MUSIC_DIR=\"$HOME/Absent\"\n", home},
      {"# XDG_MUSIC_DIR=\"$HOME/Musique\"\n", home},
      {nullptr, home},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(dirs);
    if (c.contents) {
      std::ofstream(dirs) << c.contents;
    }
    EXPECT_EQ(musicFolder(), c.expected.u16string()) << (c.contents ? c.contents : "no file");
  }
  std::ofstream(dirs) << "XDG_MUSIC_DIR=\"" << (home / "Musique").string() << "/\"\n";
  EXPECT_EQ(musicFolder(), (home / "Musique").u16string());

  startWith();
  showPanel();
  QString startFolder;
  auto chosen = wav("choisie.wav");
  RequesterAnswer answer = RequesterAnswer::choosePaths({chosen.u16string()});
  answer.whileShown = [&] {
    if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
      startFolder = dialog->directory().absolutePath();
    }
    EXPECT_EQ(playerState().windowMode, ModeModal);
  };
  answerNextRequester(answer);
  postGadget(OpenFileGadget, EventTypeLeftClick);
  EXPECT_EQ(startFolder, QString::fromStdString((home / "Musique").string()));
  EXPECT_EQ(playerState().currentTrack.title(), u"choisie");
  EXPECT_EQ(playerState().windowMode, ModeShown);
  // A cancel opens nothing and gives the panel back.
  answerNextRequester(RequesterAnswer::cancel());
  postGadget(OpenFileGadget, EventTypeLeftClick);
  EXPECT_EQ(playerState().currentTrack.title(), u"choisie");
  EXPECT_EQ(playerState().windowMode, ModeShown);
  setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace lunadio::testing
