#include "app/settings.h"

#include <array>
#include <string_view>

#include "app/player_state.h"
#include "app/pump.h"
#include "storage/directory.h"
#include "storage/preferences.h"
#include "ui/events.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

struct FormatKey {
  std::u16string_view key;
  int filterDefault;  // when building the filter from a file without the key
  ObjectNumber box;   // its check box in the dialog
  std::u16string_view filterText;
};

// In the order of the file and of the filter text. The dialog ticks a box whose key is missing.
constexpr std::array<FormatKey, 5> kFormatKeys{{
    {u".wav", 1, 11, u".wav , "},
    {u".ogg", 1, 12, u".ogg , "},
    {u".mp3", 0, 14, u".mp3 , "},
    {u".m4a", 0, 15, u".m4a , "},
    {u".*", 0, 16, u".* , "},
}};
constexpr int kDialogDefault = 1;

enum DialogGadget : ObjectNumber {
  WaveBox = 11,
  OggBox = 12,
  OtherFormatsBox = 13,
  Mp3Box = 14,
  M4aBox = 15,
  EveryFileBox = 16,
  FormatFrame = 17,
  SupportedFrame = 18,
  OtherFrame = 19,
  WordFrame = 20,
  WordBox = 21,
  WordField = 22,
  ApplyButton = 24,
};

constexpr std::u16string_view kSettingsComment = u"Fichier des préférences de Lunadio";
constexpr std::u16string_view kFirstUseMessage =
    u"Erreur d'accés au fichier de préférences. Si c'est votre premiére utilisation, cela est "
    u"normal. Le fichier a simplement été créé.";

void createSettingsFile() {
  createPreferences(settingsFilePath());
  preferenceComment(kSettingsComment);
  for (const FormatKey& format : kFormatKeys) {
    writePreferenceInteger(format.key, format.filterDefault);
  }
}

void createDialogGadgets() {
  createCheckBoxGadget(WaveBox, 60, 50, 120, 25, u"Son Wave (*.wav)");
  createCheckBoxGadget(OggBox, 60, 80, 130, 20, u"Ogg Vorbis (*.ogg)");
  createCheckBoxGadget(OtherFormatsBox, 60, 130, 140, 20, u"Autres formats audio",
                       CheckBoxThreeState);
  createCheckBoxGadget(Mp3Box, 70, 150, 120, 20, u"Son MP3 (.mp3)");
  createCheckBoxGadget(M4aBox, 70, 170, 150, 20, u"Bande son M4A (.m4a)");
  createCheckBoxGadget(EveryFileBox, 60, 190, 160, 30, u"Tous les fichiers");
  createFrameGadget(FormatFrame, 30, 10, 210, 220, u"Filtres par format");
  createFrameGadget(SupportedFrame, 50, 30, 180, 80, u"Formats supportés");
  createFrameGadget(OtherFrame, 50, 110, 180, 110, u"Autres");
  createFrameGadget(WordFrame, 250, 10, 260, 80, u"Filtres par mots");
  createCheckBoxGadget(WordBox, 260, 30, 240, 25, u"Uniquement les fichiers contenant un mot");
  createStringGadget(WordField, 270, 60, 230, 20, u"Lequel ?");
  setGadgetAccessibility(WordField, GadgetRole::Own, u"Mot recherché");  // for screen readers
  createButtonGadget(ApplyButton, 400, 200, 100, 25, u"Appliquer");
}

}  // namespace

std::u16string settingsFilePath() { return currentDirectory() + u"preferences.con"; }

void loadFormatFilter() {
  std::u16string& filter = playerState().formatFilter;
  filter.clear();
  // A missing file leaves every read at its default.
  openPreferences(settingsFilePath());
  for (const FormatKey& format : kFormatKeys) {
    if (readPreferenceInteger(format.key, format.filterDefault) == 1) filter += format.filterText;
  }
}

void applyFormatSwitches(const FormatSwitches& switches) {
  const std::array<int, 5> values{switches.wave, switches.oggVorbis, switches.mp3, switches.m4a,
                                  switches.everyFile};
  for (std::size_t i = 0; i < kFormatKeys.size(); ++i) {
    writePreferenceInteger(kFormatKeys[i].key, values[i] == 1 ? 1 : 0);
  }
  // Opening the file again closes the edited one first, which writes it.
  loadFormatFilter();
}

void openSearchFilterDialog(int x, int y, int width, int height) {
  if (openPreferences(settingsFilePath()) == 0) {
    // The new file reaches the disk when it is next closed.
    createSettingsFile();
    messageRequester(u"Lunadio", kFirstUseMessage, MessageOk);
    return;
  }
  if (openWindow(FilterDialogWindow, x, y, width, height, u"Filtres de recherche",
                 WindowTitleBar | WindowSystemMenu | WindowTool | WindowScreenCentered) == 0) {
    return;
  }
  createDialogGadgets();
  // The word filter is shown but does nothing yet.
  if (getGadgetState(WordBox) != 1) disableGadget(WordField, 1);
  for (const FormatKey& format : kFormatKeys) {
    if (readPreferenceInteger(format.key, kDialogDefault) == 1) setGadgetState(format.box, 1);
  }

  for (;;) {
    const int code = waitPlayerEvent(-1);
    if (code == EventGadget && eventObject() == OtherFormatsBox) {
      const int tick = getGadgetState(OtherFormatsBox) == 1 ? 1 : 0;
      setGadgetState(Mp3Box, tick);
      setGadgetState(M4aBox, tick);
    } else if (code == EventGadget && eventObject() == ApplyButton) {
      auto ticked = [](ObjectNumber box) { return getGadgetState(box) == 1 ? 1 : 0; };
      applyFormatSwitches(FormatSwitches{ticked(WaveBox), ticked(OggBox), ticked(Mp3Box),
                                         ticked(M4aBox), ticked(EveryFileBox)});
      closeWindow(FilterDialogWindow);
      return;
    } else if (code == EventCloseWindow) {
      closeWindow(FilterDialogWindow);
      // Nothing was written since the file was opened, so nothing is saved.
      closePreferences();
      return;
    }
  }
}

}  // namespace lunadio
