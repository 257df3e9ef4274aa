// The settings file and the "Filtres de recherche" dialog.
#include "app/settings.h"

#include "library_test_support.h"

namespace lunadio::testing {
namespace {

const std::string kCreatedFile =
    "\xEF\xBB\xBF\r\n"
    "; Fichier des pr\xC3\xA9"
    "f\xC3\xA9rences de Lunadio\r\n"
    ".wav = 1\r\n"
    ".ogg = 1\r\n"
    ".mp3 = 0\r\n"
    ".m4a = 0\r\n"
    ".* = 0\r\n";

using SettingsTest = AppUiTest;

TEST_F(SettingsTest, FirstUseCreatesTheFileWithTheMessageAndNoDialog) {
  loadFormatFilter();
  EXPECT_EQ(playerState().formatFilter, u".wav , .ogg , ");

  bool dialogShown = false;
  auto message = expectMessage([&] { dialogShown = isWindow(FilterDialogWindow); });
  openSearchFilterDialog(0, 0, 520, 240);
  EXPECT_TRUE(message->shown);
  EXPECT_EQ(message->title, QStringLiteral("Lunadio"));
  EXPECT_EQ(message->text,
            QString::fromUtf8("Erreur d'accés au fichier de préférences. Si c'est votre premiére "
                              "utilisation, cela est normal. Le fichier a simplement été créé."));
  EXPECT_FALSE(dialogShown);
  EXPECT_FALSE(isWindow(FilterDialogWindow));

  closePreferences();  // as the program's end would
  EXPECT_EQ(scratch.read("preferences.con"), kCreatedFile);
}

TEST_F(SettingsTest, OnlyAValueOfExactlyOneTurnsASwitchOn) {
  struct Case {
    const char* file;
    std::u16string filter;
  };
  const Case cases[] = {
      {".wav = 1\r\n.ogg = 1\r\n.mp3 = 2\r\n", u".wav , .ogg , "},
      {".wav = 1\r\n.mp3 = 1\r\n.m4a = 1\r\n.* = 1\r\n", u".wav , .ogg , .mp3 , .m4a , .* , "},
      {".wav = oui\r\n.ogg = 01\r\n", u".ogg , "},
      {".WAV=0\r\n", u".ogg , "},
  };
  for (const Case& c : cases) {
    scratch.write("preferences.con", c.file);
    loadFormatFilter();
    EXPECT_EQ(playerState().formatFilter, c.filter) << c.file;
  }
}

// Box states as the dialog shows them once it is up, and what "Appliquer" leaves in the file.
TEST_F(SettingsTest, DialogTicksTheStoredSwitchesAndAppliesTheBoxes) {
  scratch.write("preferences.con", ".wav = 1\r\n.ogg = 0\r\n.mp3 = 2\r\n");
  std::vector<std::intptr_t> shown;
  bool wordFieldEnabled = true;
  runSteps({
      [&] {
        for (ObjectNumber box : {11, 12, 13, 14, 15, 16, 21}) shown.push_back(getGadgetState(box));
        QWidget* dialog = windowTitled(QStringLiteral("Filtres de recherche"));
        ASSERT_NE(dialog, nullptr);
        for (auto* field : dialog->findChildren<QLineEdit*>()) {
          if (field->text() == QStringLiteral("Lequel ?")) wordFieldEnabled = field->isEnabled();
        }
        // The word filter does nothing, ticked or not.
        setGadgetState(21, 1);
        click(21);
        setGadgetState(12, 1);
      },
      [&] { click(24); },
  });
  openSearchFilterDialog(0, 0, 520, 240);
  // .ogg 0 and .mp3 2 are off; the missing .m4a and .* keys count as ticked.
  EXPECT_EQ(shown, (std::vector<std::intptr_t>{1, 0, 0, 0, 1, 1, 0}));
  EXPECT_FALSE(wordFieldEnabled);
  EXPECT_FALSE(isWindow(FilterDialogWindow));
  EXPECT_EQ(playerState().formatFilter, u".wav , .ogg , .m4a , .* , ");
  closePreferences();
  EXPECT_EQ(scratch.read("preferences.con"),
            "\xEF\xBB\xBF\r\n.wav = 1\r\n.ogg = 1\r\n.mp3 = 0\r\n.m4a = 1\r\n.* = 1\r\n");
}

TEST_F(SettingsTest, ThreeStateBoxDrivesBothOtherFormats) {
  scratch.write("preferences.con", kCreatedFile);
  std::vector<std::intptr_t> afterTick, afterClear;
  runSteps({
      [&] {
        setGadgetState(13, 1);  // what a click on the unticked box does
        click(13);
      },
      [&] {
        afterTick = {getGadgetState(14), getGadgetState(15)};
        setGadgetState(13, 0);
        click(13);
      },
      [&] {
        afterClear = {getGadgetState(14), getGadgetState(15)};
        setGadgetState(13, 1);
        click(13);
      },
      [&] { click(24); },
  });
  openSearchFilterDialog(0, 0, 520, 240);
  EXPECT_EQ(afterTick, (std::vector<std::intptr_t>{1, 1}));
  EXPECT_EQ(afterClear, (std::vector<std::intptr_t>{0, 0}));
  EXPECT_EQ(playerState().formatFilter, u".wav , .ogg , .mp3 , .m4a , ");
}

TEST_F(SettingsTest, CloseBoxWritesNothing) {
  scratch.write("preferences.con", kCreatedFile);
  runSteps({
      [&] {
        setGadgetState(11, 0);
        setGadgetState(16, 1);
        postEvent(EventCloseWindow, FilterDialogWindow, 0, 0, 0);
      },
  });
  openSearchFilterDialog(0, 0, 520, 240);
  EXPECT_FALSE(isWindow(FilterDialogWindow));
  closePreferences();
  EXPECT_EQ(scratch.read("preferences.con"), kCreatedFile);
}

}  // namespace
}  // namespace lunadio::testing
