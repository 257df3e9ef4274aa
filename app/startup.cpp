#include "app/startup.h"

#include <optional>
#include <span>
#include <string_view>
#include <utility>

#include "app/media_engine.h"
#include "app/panel.h"
#include "app/playback.h"
#include "app/player_state.h"
#include "assets/embedded_assets.h"
#include "audio/sound_device.h"
#include "core/lifecycle.h"
#include "media/media.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/images.h"
#include "ui/requesters.h"
#include "ui/tray.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

struct Picture {
  int number;
  std::span<const std::uint8_t> (*bytes)();
  int width;  // IgnoreValue: kept at its own size
  int height;
  std::u16string_view name;  // what a screen reader says for the gadget showing it
  std::span<const std::uint8_t> (*detailBytes)();  // drawn at twice the shown size
};

// In the order they are made, with the size each gadget shows them at.
constexpr Picture kPictures[] = {
    {OpenFileImage, openFileImageData, 20, 15, u"Ouvrir un fichier", openFileImageData2x},
    {CloseImage, closeImageData, IgnoreValue, IgnoreValue, u"Fermer", closeImageData2x},
    {HideImage, hideImageData, 20, 20, u"Masquer", hideImageData2x},
    {LibraryImage, libraryImageData, 20, 20, u"Bibliothèque", libraryImageData2x},
    {PauseImage, pauseImageData, 30, 30, u"Pause", pauseImageData2x},
    {PlayImage, playImageData, 30, 30, u"Lecture", playImageData2x},
};

void createTrayImage() {
  const std::span<const std::uint8_t> icon = trayIconData();
  if (catchImage(TrayIconImage, icon.data(), icon.size())) return;
  // A build without the pictures has nothing to decode: the tray shows its placeholder icon.
  if (icon.empty()) return;
  messageRequester(u"Erreur", u"L'icone ne peut etre chargée ! Ne réduisez pas Lunadio.",
                   MessageOk);
}

void createPictures() {
  for (const Picture& picture : kPictures) {
    const std::span<const std::uint8_t> bytes = picture.bytes();
    // Pictures that do not decode are not reported: their gadgets show nothing.
    if (!catchImage(picture.number, bytes.data(), bytes.size())) continue;
    resizeImage(picture.number, picture.width, picture.height, 0);
    setImageName(picture.number, picture.name);
    const std::span<const std::uint8_t> detail = picture.detailBytes();
    setImageDetail(picture.number, detail.data(), detail.size());
  }
}

// The record as the player starts, keeping a command-line track that already sounds.
void resetState() {
  PlayerState& st = playerState();
  PlayerState fresh;
  fresh.startTrackResult = st.startTrackResult;
  // A failed track leaves the panel as it starts; its path and title come back with its message.
  if (st.startTrackResult == TrackOpenResult::Opened) {
    fresh.currentPath = std::move(st.currentPath);
    fresh.currentTitle = std::move(st.currentTitle);
    fresh.currentTrack = std::move(st.currentTrack);
  }
  st = std::move(fresh);
  loadFont(TitleFont, u"Segoe UI Semilight", 11, FontHighQuality);
}

void openPanel() {
  PlayerState& st = playerState();
  // Made invisible and centred: the panel appears only through its first fade.
  openWindow(PanelWindow, 11, 10, PanelWidth, PanelHeight, u"Lunadio",
             WindowBorderless | WindowScreenCentered | WindowInvisible);
  // Keys pressed on the panel come to the player whichever gadget has the focus.
  setWindowKeys(PanelWindow, WindowKeys::ToWindow);
  setWindowColor(PanelWindow, st.themeColour);
  setWindowTitle(PanelWindow, u"Lunadio");
  addSysTrayIcon(TrayIconNumber, windowHandle(PanelWindow), imageHandle(TrayIconImage));
  sysTrayIconToolTip(TrayIconNumber, u"Lunadio. Lire de la musique.");
  buildMainGadgets();
  st.savedGeometry = {windowX(PanelWindow), windowY(PanelWindow), windowWidth(PanelWindow),
                      windowHeight(PanelWindow)};
  hideWindow(PanelWindow, 1);
  st.windowMode = ModeHidden;
  addWindowTimer(PanelWindow, CompactTimer, 2000);
  addWindowTimer(PanelWindow, FrameTimer, 200);
  drawWindowFrame(PanelWindow);
}

}  // namespace

namespace {
PlayerState& st() { return playerState(); }
}  // namespace

StartResult startPlayer(const std::u16string& startTrack) {
  createTrayImage();
  // The picture decoder, then Ogg Vorbis before FLAC (the order they are probed in).
  runStartSequence(StartStage::Application);
  if (!initSound() || !mediaEngineWorks()) {
    messageRequester(u"Erreur",
                     u"Chef, on peut pas initialiser le systéme de son!! Vérifiez vos pilotes "
                     u"audio et votre systéme de sonorisation.",
                     MessageOk);
    return StartResult::NoSoundSystem;
  }
  // GStreamer's thread only queues a wake-up; the pump hands the end to the track.
  setMediaEndHandler([](ObjectNumber number) { postEvent(EventMediaEnd, 0, number, 0, 0); });
  createPictures();
  resetState();
  openPanel();
  if (const std::optional<TrackOpenResult> early = std::exchange(st().startTrackResult, {})) {
    if (*early != TrackOpenResult::Opened) {
      st().currentPath = startTrack;
      st().currentTitle = getFilePart(startTrack, FilePartNoExtension);
    }
    showOpenResult(*early);
  } else if (!startTrack.empty()) {
    openTrack(startTrack);
  }
  return StartResult::Running;
}

void startTrackEarly(const std::u16string& startTrack, std::optional<TrackOpenResult> earlyTrack) {
  PlayerState& st = playerState();
  st = PlayerState{};
  const EngineKind engine =
      startTrack.empty() ? EngineKind::None : chooseEngine(getExtensionPart(startTrack));
  if (engine == EngineKind::None) return;
  // Where no executable opened it (the tests), the same way as the executable's. The entry is
  // called, never taken by address: an address would bind the media engine when this module loads.
  if (!earlyTrack && engine == EngineKind::Sound) earlyTrack = startCommandLineSound(startTrack);
  if (!earlyTrack && engine == EngineKind::Media && useMediaEngine()) {
    earlyTrack = startCommandLineMedia(
        startTrack, [](const char16_t* path, std::size_t length, int volume, int settleMs) {
          return lunadioStartMediaTrack(path, length, volume, settleMs);
        });
  }
  // An engine that cannot start is reported in its place, with no window.
  if (!earlyTrack) return;
  st.startTrackResult = earlyTrack;
  if (*earlyTrack != TrackOpenResult::Opened) return;
  st.currentPath = startTrack;
  st.currentTitle = getFilePart(startTrack, FilePartNoExtension);
  if (engine == EngineKind::Sound) {
    st.currentTrack.adoptSoundTrack(startTrack);
  } else {
    st.currentTrack.adoptMediaTrack(startTrack);
  }
}

void shutdownLibraries() {
  // Before the libraries end: no end of a track may post into a queue that is going away.
  setMediaEndHandler({});
  runEndSequence();
}

}  // namespace lunadio
