#pragma once
// What the last requester looked like while it was shown, for tests.

#include <QColor>
#include <QString>
#include <QStringList>

namespace lunadio::ui {

struct RequesterTrace {
  QString title;
  QString directory;  // file and folder choosers
  QString fileName;   // what the name field started with
  QStringList filters;
  int selectedFilter = -1;
  bool applicationModal = false;
  bool staysOnTop = false;
  QColor startColour;  // colour chooser
};

const RequesterTrace& lastRequesterTrace();

// Loads the toolkit's own translations for the desktop's language (button texts), if installed.
void loadRequesterTranslations();

}  // namespace lunadio::ui
