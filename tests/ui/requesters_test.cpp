// Requesters: the pattern and default-file rules, and each requester's result when answered
// through the test hook (the dialogs really open, offscreen).

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdlib>
#include <optional>
#include <string>

#include "ui/requesters.h"
#include "ui/requesters_internal.h"
#include "ui/requesters_paths.h"

namespace lunadio {
namespace {

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const QString& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.toLocal8Bit().constData(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(RequesterPatterns, PairsBecomeFiltersWithPatternsAsWritten) {
  struct Case {
    std::u16string pattern;
    QStringList filters;
  };
  const Case cases[] = {
      {u"Formats supportés|*.wav;*.ogg;*flac;*.mp3|Tous|*.*",
       {QStringLiteral("Formats supportés (*.wav *.ogg *flac *.mp3)"),
        QStringLiteral("Tous (*.*)")}},
      {u"Texte|*.txt|Orphan", {QStringLiteral("Texte (*.txt)")}},
      {u"|*.png; *.jpg", {QStringLiteral("*.png *.jpg (*.png *.jpg)")}},
      {u"Nothing|", {}},
      {u"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ui::filtersFromPattern(c.pattern), c.filters)
        << QString::fromStdU16String(c.pattern).toStdString();
  }
}

TEST(RequesterPatterns, DefaultFileSplitsIntoFolderAndValidName) {
  QTemporaryDir music;
  ScopedEnv musicDir("XDG_MUSIC_DIR", music.path());
  const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
  struct Case {
    std::u16string defaultFile;
    QString folder;
    QString name;
  };
  const Case cases[] = {
      {u"D:\\Musique\\", music.path(), {}},
      {u"D:\\Musique\\*.*", music.path(), {}},
      {u"d:/musique/chanson.ogg", music.path(), QStringLiteral("chanson.ogg")},
      {u"C:\\Windows\\", home, {}},
      {u"/srv/sons/piste.wav", QStringLiteral("/srv/sons"), QStringLiteral("piste.wav")},
      {u"piste.wav", {}, QStringLiteral("piste.wav")},
      {u"/a.wav", QStringLiteral("/"), QStringLiteral("a.wav")},
      {u"sons\\bad?name", QStringLiteral("sons"), {}},
      {u"sons/bad\u0001name", QStringLiteral("sons"), {}},
      {u"sons/a:b", QStringLiteral("sons"), {}},
      {u"", {}, {}},
  };
  for (const auto& c : cases) {
    const ui::DefaultFile split = ui::splitDefaultFile(c.defaultFile, 259);
    EXPECT_EQ(split.folder, c.folder) << QString::fromStdU16String(c.defaultFile).toStdString();
    EXPECT_EQ(split.name, c.name) << QString::fromStdU16String(c.defaultFile).toStdString();
  }
  EXPECT_EQ(ui::splitDefaultFile(u"abcdef", 3).name, QStringLiteral("abc"));
}

TEST(RequesterPatterns, MusicFolderFromEnvironmentThenUserDirsThenHome) {
  QTemporaryDir home;
  ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".config")));
  ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral("Musique")));
  QFile dirs(home.path() + QStringLiteral("/.config/user-dirs.dirs"));
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
  dirs.write(
      "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
      "XDG_MUSIC_DIR=\"$HOME/Musique\"\n");
  dirs.close();
  ScopedEnv homeEnv("HOME", home.path());
  ScopedEnv config("XDG_CONFIG_HOME", home.path() + QStringLiteral("/.config"));
  {
    ScopedEnv missing("XDG_MUSIC_DIR", home.path() + QStringLiteral("/nowhere"));
    EXPECT_EQ(ui::musicFolder(), home.path() + QStringLiteral("/Musique"));
  }
  {
    ScopedEnv direct("XDG_MUSIC_DIR", home.path() + QStringLiteral("/.config"));
    EXPECT_EQ(ui::musicFolder(), home.path() + QStringLiteral("/.config"));
  }
  ScopedEnv noMusic("XDG_MUSIC_DIR", QString());
  ASSERT_TRUE(QDir(home.path()).rmdir(QStringLiteral("Musique")));
  EXPECT_EQ(ui::musicFolder(), home.path());
}

class Requesters : public ::testing::Test {
 protected:
  void TearDown() override { clearRequesterAnswers(); }
};

TEST_F(Requesters, MessageResultsForEachAnswer) {
  struct Case {
    int flags;
    RequesterAnswer answer;
    int result;
  };
  const Case cases[] = {
      {0, RequesterAnswer::pressButton(RequesterOk), RequesterOk},
      {0x10, RequesterAnswer::pressButton(RequesterOk), RequesterOk},
      {0, RequesterAnswer::cancel(), RequesterOk},
      {0x134, RequesterAnswer::pressButton(RequesterYes), RequesterYes},
      {0x134, RequesterAnswer::pressButton(RequesterNo), RequesterNo},
      {0x134, RequesterAnswer::cancel(), RequesterNo},
      {0x134, RequesterAnswer::pressButton(RequesterOk), RequesterNo},
      {MessageYesNoCancel, RequesterAnswer::cancel(), RequesterCancel},
      {MessageOkCancel, RequesterAnswer::pressButton(RequesterCancel), RequesterCancel},
      {MessageAbortRetryIgnore, RequesterAnswer::pressButton(RequesterRetry), RequesterRetry},
  };
  for (const auto& c : cases) {
    answerNextRequester(c.answer);
    EXPECT_EQ(messageRequester(u"Lunadio", u"Voulez vous vraiement quitter ?", c.flags), c.result)
        << "flags " << c.flags << " answer " << c.answer.button;
  }
}

TEST_F(Requesters, QuitConfirmationShowsWarningWithNoAsDefault) {
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  RequesterAnswer answer = RequesterAnswer::pressButton(RequesterYes);
  answer.whileShown = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    defaultButton = box->standardButton(box->defaultButton());
    icon = box->icon();
  };
  answerNextRequester(answer);
  EXPECT_EQ(messageRequester(u"Lunadio", u"Attention !", 0x134), RequesterYes);
  EXPECT_EQ(defaultButton, QMessageBox::No);
  EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST_F(Requesters, ModalOverOtherWindowsAndAboveTopmostOnes) {
  QWidget topmost(nullptr, Qt::WindowStaysOnTopHint);
  topmost.show();
  bool otherWindowBlocked = false;
  RequesterAnswer answer = RequesterAnswer::pressButton(RequesterOk);
  answer.whileShown = [&] {
    QWidget* modal = QApplication::activeModalWidget();
    otherWindowBlocked = modal && modal != &topmost && modal->isModal();
  };
  answerNextRequester(answer);
  EXPECT_EQ(messageRequester(u"Erreur", u"Message", 0x10), RequesterOk);
  EXPECT_TRUE(otherWindowBlocked);
  EXPECT_TRUE(ui::lastRequesterTrace().applicationModal);
  EXPECT_TRUE(ui::lastRequesterTrace().staysOnTop);
  // The other window is as it was: shown, enabled, still on top, and nothing is modal any more.
  EXPECT_TRUE(topmost.isVisible());
  EXPECT_TRUE(topmost.isEnabled());
  EXPECT_TRUE(topmost.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(Requesters, OpenFileWithThePlayersPatternAndFolder) {
  QTemporaryDir music;
  ScopedEnv musicDir("XDG_MUSIC_DIR", music.path());
  const std::u16string pattern = u"Formats supportés|*.wav;*.ogg;*flac;*.mp3|Tous|*.*";

  answerNextRequester(RequesterAnswer::choosePaths({u"/musique/été.flac"}));
  EXPECT_EQ(openFileRequester(u"Choisissez une musique", u"D:\\Musique\\", pattern, 1),
            u"/musique/été.flac");
  const ui::RequesterTrace& trace = ui::lastRequesterTrace();
  EXPECT_EQ(trace.title, QStringLiteral("Choisissez une musique"));
  EXPECT_EQ(trace.directory, QDir(music.path()).absolutePath());
  EXPECT_EQ(trace.fileName, QString());
  EXPECT_EQ(trace.filters.size(), 2);
  EXPECT_EQ(trace.selectedFilter, 1);
  EXPECT_EQ(selectedFilePattern(), 1);

  answerNextRequester(RequesterAnswer::cancel());
  EXPECT_EQ(openFileRequester(u"Choisissez une musique", u"D:\\Musique\\", pattern, 0), u"");
}

TEST_F(Requesters, MultipleSelectionHandsOutTheOtherPathsInTurn) {
  answerNextRequester(RequesterAnswer::choosePaths({u"/m/a.wav", u"/m/b.ogg", u"/m/c.mp3"}));
  EXPECT_EQ(fileRequester(u"Plusieurs", u"", u"Tous|*.*", 0, 0, FileRequesterMultiple),
            u"/m/a.wav");
  EXPECT_EQ(nextSelectedFileName(), u"/m/b.ogg");
  EXPECT_EQ(nextSelectedFileName(), u"/m/c.mp3");
  EXPECT_EQ(nextSelectedFileName(), u"");

  answerNextRequester(RequesterAnswer::choosePaths({u"/m/saved.wav"}));
  EXPECT_EQ(fileRequester(u"Enregistrer", u"/tmp/nom.wav", u"", 0, FileRequesterSave, 0),
            u"/m/saved.wav");
  EXPECT_EQ(ui::lastRequesterTrace().fileName, QStringLiteral("nom.wav"));
  EXPECT_EQ(nextSelectedFileName(), u"");
}

TEST_F(Requesters, ColourOpensAtTheGivenOneAndACancelIsNoColour) {
  answerNextRequester(RequesterAnswer::chooseColour(0x0A141E));
  EXPECT_EQ(colorRequester(), 0x0A141E);
  EXPECT_EQ(ui::lastRequesterTrace().startColour, QColor(0, 0, 0));
  answerNextRequester(RequesterAnswer::cancel());
  EXPECT_EQ(colorRequester(0x3C5028), ColorRequesterCancelled);
  EXPECT_EQ(ui::lastRequesterTrace().startColour, QColor(0x28, 0x50, 0x3C));
}

TEST_F(Requesters, FolderEndsWithASlashAndRootStartsAtRoot) {
  answerNextRequester(RequesterAnswer::choosePaths({u"/srv/musique"}));
  EXPECT_EQ(pathRequester(u"Dossier", u"/"), u"/srv/musique/");
  EXPECT_EQ(ui::lastRequesterTrace().directory, QStringLiteral("/"));
  answerNextRequester(RequesterAnswer::choosePaths({u"/"}));
  EXPECT_EQ(pathRequester(u"Dossier", u""), u"/");
  answerNextRequester(RequesterAnswer::cancel());
  EXPECT_EQ(pathRequester(u"Dossier", u"/tmp/"), u"");
}

}  // namespace
}  // namespace lunadio
