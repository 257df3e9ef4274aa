#pragma once
// The text rules of the file and folder choosers, apart from any dialog: the pattern syntax, the
// default-file split, which names may go into the name field and where the player's Windows-style
// folders land on this system. Internal to ui/; pure functions except musicFolder().

#include <QString>
#include <QStringList>

#include <string_view>

namespace lunadio::ui {

// "label|patterns|label|patterns" (patterns separated by ";") as dialog filters
// "label (p1 p2)"; patterns stay as written. A trailing label without patterns is dropped.
QStringList filtersFromPattern(std::u16string_view pattern);

// The position of `selected` among `filters`, whether the dialog reports it whole or, with the
// patterns hidden, by its label only; -1 when it is none of them.
int filterIndex(const QStringList& filters, const QString& selected);

struct DefaultFile {
  QString folder;  // empty: no initial folder
  QString name;    // empty: the name field starts empty
};

// Splits at the last "\" or "/": the part before is the folder, the part after the name, which is
// kept only when it is a valid file name (cut to `maxNameChars`).
DefaultFile splitDefaultFile(std::u16string_view defaultFile, int maxNameChars);

// Non-empty and free of the characters 0 to 31, '"', '*', '/', ':', '<', '>', '?', '\' and '|'.
bool isValidFileName(const QString& name);

// A folder as the player writes it, on this system: "\" becomes "/", and a drive path such as
// "D:\Musique\" stands for the user's music folder (a drive's other folders for the home folder).
QString localFolder(const QString& folder);

// XDG_MUSIC_DIR from the environment or the user-dirs file when it names a folder, else $HOME.
QString musicFolder();

}  // namespace lunadio::ui
