#pragma once
// The settings file "preferences.con" in the current directory: five format switches that decide
// which files the library scan lists, turned into playerState().formatFilter and edited in the
// "Filtres de recherche" dialog. Main thread only.

#include <string>

namespace lunadio {

// currentDirectory() + "preferences.con".
std::u16string settingsFilePath();

// Rebuilds playerState().formatFilter from the file (a missing file or key gives the defaults:
// Wave and Ogg Vorbis only). The file stays open for the dialog's writes; opening it closes, and
// so saves, the one open before.
void loadFormatFilter();

// Shows the dialog (window 23) modally and returns when it is applied or closed. When the file
// cannot be opened it is made with the defaults instead, and only the first-use message shows.
void openSearchFilterDialog(int x, int y, int width, int height);

// The writes of "Appliquer", then loadFormatFilter(), which saves them. Each switch is on when
// its value is 1. In the order of the file: Wave, Ogg Vorbis, MP3, M4A, every file.
struct FormatSwitches {
  int wave = 1;
  int oggVorbis = 1;
  int mp3 = 0;
  int m4a = 0;
  int everyFile = 0;
};
void applyFormatSwitches(const FormatSwitches& switches);

}  // namespace lunadio
