// The library window driven through its own loop: folder answers and clicks are queued, and the
// scan observer says when the list is complete.
#include "app/library_window.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "app/library_scan.h"
#include "core/threads.h"
#include "library_test_support.h"

namespace lunadio::testing {
namespace {

constexpr ObjectNumber BrowseButton = 0;
constexpr ObjectNumber TrackList = 3;
constexpr ObjectNumber PlayButton = 4;
constexpr ObjectNumber FiltersButton = 5;
constexpr ObjectNumber FavouritesButton = 6;

struct Row {
  std::u16string size;
  std::int32_t front;
  std::int32_t back;
  bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Row& row) {
  return out << "{" << toUtf8(row.size) << ", " << row.front << ", " << row.back << "}";
}

// The list's rows by name. Main thread, inside the window.
std::map<std::u16string, Row> listedRows() {
  std::map<std::u16string, Row> rows;
  for (int r = 0; r < countGadgetItems(TrackList); ++r) {
    rows[getGadgetItemText(TrackList, r, 0)] =
        Row{getGadgetItemText(TrackList, r, 1), getGadgetItemColor(TrackList, r, 1, 0),
            getGadgetItemColor(TrackList, r, 2, 1)};
  }
  return rows;
}

int rowNamed(std::u16string_view name) {
  for (int r = 0; r < countGadgetItems(TrackList); ++r) {
    if (getGadgetItemText(TrackList, r, 0) == name) return r;
  }
  return -1;
}

void chooseFolderAndScan(const std::string& folder) {
  answerNextRequester(RequesterAnswer::choosePaths({u16(folder)}));
  click(BrowseButton);
}

// Runs `atIdle` each time a scan has ended and the window takes clicks again.
void onEachIdle(std::function<void(int scan)> atIdle) {
  auto scans = std::make_shared<int>(0);
  setLibraryScanObserver([scans, atIdle](LibraryScanStep step) {
    if (step == LibraryScanStep::Idle) atIdle((*scans)++);
  });
}

// Closes the window from another thread if the test has not ended it by then.
class Watchdog {
 public:
  explicit Watchdog(std::chrono::seconds limit)
      : thread_([this, limit] {
          std::unique_lock lock(mutex_);
          if (!done_.wait_for(lock, limit, [this] { return cancelled_; })) {
            fired_ = true;
            postEvent(EventCloseWindow, 0, 0, 0, 0);
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      cancelled_ = true;
    }
    done_.notify_all();
    thread_.join();
  }
  bool fired() {
    std::lock_guard lock(mutex_);
    return fired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool cancelled_ = false;  // -- guarded by mutex_
  bool fired_ = false;      // -- guarded by mutex_
  std::thread thread_;
};

using LibraryWindowTest = AppUiTest;

TEST_F(LibraryWindowTest, ListsMatchingFilesWithSizesColoursAndDetails) {
  scratch.makeFile("outside.wav");  // beside the scanned folder: ".." must not lead here
  scratch.makeFile("root/Song.WAV");
  scratch.makeFile("root/tune.flac");
  scratch.makeFile("root/big.wav", 1'000'000);
  scratch.makeFile("root/c.ogg", 3'456'789);
  scratch.makeFile("root/d.mp3");
  scratch.makeFile("root/sub/y.wav");
  scratch.makeFile("root/sub/deeper/z.ogg", 123'456'789);
  scratch.makeFile("root/sub/deeper/also.flac");
  scratch.makeFile("root/skipped./x.wav");
  scratch.makeFile("root/sub/dots../w.ogg");
  const std::string root = scratch.file("root/");

  std::map<std::u16string, Row> rows;
  std::set<std::intptr_t> itemData;
  std::vector<std::u16string> details;
  auto information = std::make_shared<ShownMessage>();
  chooseFolderAndScan(root);
  onEachIdle([&](int) {
    rows = listedRows();
    for (int r = 0; r < countGadgetItems(TrackList); ++r) {
      itemData.insert(getGadgetItemData(TrackList, r));
    }
    runSteps({
        [&] {
          setGadgetState(TrackList, rowNamed(u"Song.WAV"));
          click(TrackList);
        },
        [&] {
          details = {getGadgetText(8), getGadgetText(9), getGadgetText(10)};
          setGadgetState(TrackList, rowNamed(u"big.wav"));
          information = expectMessage();
          click(TrackList, EventTypeLeftDoubleClick);
        },
        [&] { postEvent(EventCloseWindow, 0, 0, 0, 0); },
    });
  });
  Watchdog watchdog(std::chrono::seconds(30));
  EXPECT_EQ(openLibraryWindow().outcome, LibraryOutcome::Closed);
  EXPECT_FALSE(watchdog.fired());

  const std::int32_t wavFront = rgb(0, 128, 192), oggFront = rgb(0, 145, 110);
  const std::int32_t blueBack = rgb(230, 235, 255);
  const std::map<std::u16string, Row> expected{
      {u"Song.WAV", {u"   0 Mo", wavFront, blueBack}},  // the ending's case does not matter
      {u"big.wav", {u"   1 Mo", wavFront, blueBack}},  {u"c.ogg", {u"3.45 Mo", oggFront, blueBack}},
      {u"y.wav", {u"   0 Mo", wavFront, blueBack}},    {u"z.ogg", {u"123. Mo", oggFront, blueBack}},
  };
  EXPECT_EQ(rows, expected);
  EXPECT_EQ(itemData, (std::set<std::intptr_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(libraryTrackPathCount(), 5);  // kept after the close until the next scan
  EXPECT_EQ(details, (std::vector<std::u16string>{u"Titre : Song.WAV", u"Type : Son Wave",
                                                  u"Taille :    0 Mo"}));
  EXPECT_TRUE(information->shown);
  EXPECT_EQ(information->title, QStringLiteral("Lunadio - Informations"));
  EXPECT_EQ(information->text, QString::fromUtf8("Titre du morceau : big.wav\nFormat : .wav\n"
                                                 "Répertoire : ") +
                                   QString::fromStdString(root + "big.wav"));
}

TEST_F(LibraryWindowTest, PlayWithoutASelectedRowOnlyExplainsAndOtherClicksDoNothing) {
  scratch.makeFile("root/a.wav");
  scratch.makeFile("root/b.ogg");
  const QString nothingToPlay = QString::fromUtf8(
      "Vous n'avez sélectionné aucune musique à lire. Veuillez utiliser le bouton 'Parcourir' "
      "pour définir un répertoire a scanner");

  // First with the list still empty.
  auto emptyList = expectMessage();
  click(PlayButton);
  chooseFolderAndScan(scratch.file("root/"));
  std::shared_ptr<ShownMessage> noSelection, anyOther;
  int rowsBefore = 0, rowsAfter = 0;
  onEachIdle([&](int) {
    rowsBefore = countGadgetItems(TrackList);
    runSteps({
        [&] {
          setGadgetState(TrackList, -1);
          noSelection = expectMessage();
          click(PlayButton);
        },
        [&] {
          // A double click that reaches the list with no row selected, and the favourites.
          anyOther = expectMessage();
          click(TrackList, EventTypeLeftDoubleClick);
          click(FavouritesButton);
        },
        [&] {
          rowsAfter = countGadgetItems(TrackList);
          clearRequesterAnswers();
          postEvent(EventCloseWindow, 0, 0, 0, 0);
        },
    });
  });
  Watchdog watchdog(std::chrono::seconds(30));
  EXPECT_EQ(openLibraryWindow().outcome, LibraryOutcome::Closed);
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ(emptyList->text, nothingToPlay);
  ASSERT_TRUE(noSelection);
  EXPECT_TRUE(noSelection->shown);
  EXPECT_EQ(noSelection->title, QStringLiteral("Lunadio"));
  EXPECT_EQ(noSelection->text, nothingToPlay);
  ASSERT_TRUE(anyOther);
  EXPECT_FALSE(anyOther->shown);
  EXPECT_EQ(rowsBefore, 2);
  EXPECT_EQ(rowsAfter, 2);
  EXPECT_EQ(playerState().selectedTrackPath, u"NULL");
}

// Names that are not UTF-8 are listed, shown and handed back with their bytes unchanged.
TEST_F(LibraryWindowTest, PlayHandsBackTheChosenPathEvenWhenItIsNotUtf8) {
  const std::string directory = "d\xE9j\xE0";
  const std::string file = "caf\xE9.wav";
  scratch.makeFile("root/" + directory + "/" + file);
  scratch.makeFile("root/" + directory + "/plain.ogg");
  const std::string root = scratch.file("root/");
  std::u16string shownTitle;
  chooseFolderAndScan(root);
  onEachIdle([&](int) {
    runSteps({
        [&] {
          setGadgetState(TrackList, rowNamed(fromUtf8(file)));
          click(TrackList);
        },
        [&] {
          shownTitle = getGadgetText(8);
          click(PlayButton);
        },
    });
  });
  Watchdog watchdog(std::chrono::seconds(30));
  const LibraryChoice choice = openLibraryWindow();
  EXPECT_EQ(choice.outcome, LibraryOutcome::Play);
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ(shownTitle, u"Titre : " + fromUtf8(file));
  EXPECT_EQ(choice.path, playerState().selectedTrackPath);
  const std::string chosen = toUtf8(choice.path);
  EXPECT_EQ(chosen, root + directory + "/" + file);
  EXPECT_EQ(::access(chosen.c_str(), R_OK), 0);
  // "Jouer" clears the library's rows.
  EXPECT_EQ(libraryTrackPathCount(), 0);
}

TEST_F(LibraryWindowTest, LinkCycleEndsAndNoDirectoryIsWalkedTwice) {
  scratch.makeFile("root/a/b/song.wav");
  scratch.makeLink("root/a/b/up", "../..");    // back to root
  scratch.makeLink("root/a/b/self", ".");      // to itself
  scratch.makeLink("root/again", "a");         // a second way into a
  scratch.makeLink("root/a/gone", "missing");  // dangling
  scratch.makeFile("linked/far.ogg");
  scratch.makeLink("root/elsewhere", "../linked");  // links to directories are followed
  std::map<std::u16string, Row> rows;
  chooseFolderAndScan(scratch.file("root/"));
  onEachIdle([&](int) {
    rows = listedRows();
    postEvent(EventCloseWindow, 0, 0, 0, 0);
  });
  Watchdog watchdog(std::chrono::seconds(30));
  EXPECT_EQ(openLibraryWindow().outcome, LibraryOutcome::Closed);
  EXPECT_FALSE(watchdog.fired());
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows.count(u"song.wav"), 1u);
  EXPECT_EQ(rows.count(u"far.ogg"), 1u);
  EXPECT_EQ(libraryTrackPathCount(), 2);
}

TEST_F(LibraryWindowTest, ApplyingOnlyWaveRescansForWaveFilesOfAnyCase) {
  scratch.write("preferences.con", ".wav = 1\r\n.ogg = 1\r\n.mp3 = 1\r\n");
  for (const char* name : {"a.wav", "B.WAV", "c.ogg", "d.mp3", "e.Wav", "f.m4a"}) {
    scratch.makeFile(std::string("root/") + name);
  }
  std::vector<std::set<std::u16string>> listed;
  chooseFolderAndScan(scratch.file("root/"));
  onEachIdle([&](int scan) {
    std::set<std::u16string> names;
    for (const auto& [name, row] : listedRows()) names.insert(name);
    listed.push_back(names);
    if (scan > 0) {
      postEvent(EventCloseWindow, 0, 0, 0, 0);
      return;
    }
    runSteps({
        [&] { click(FiltersButton); },
        [&] {
          setGadgetState(11, 1);
          for (ObjectNumber box : {12, 14, 15, 16}) setGadgetState(box, 0);
          click(24);
        },
    });
  });
  Watchdog watchdog(std::chrono::seconds(30));
  EXPECT_EQ(openLibraryWindow().outcome, LibraryOutcome::Closed);
  EXPECT_FALSE(watchdog.fired());
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0],
            (std::set<std::u16string>{u"a.wav", u"B.WAV", u"c.ogg", u"d.mp3", u"e.Wav"}));
  EXPECT_EQ(playerState().formatFilter, u".wav , ");
  EXPECT_EQ(listed[1], (std::set<std::u16string>{u"a.wav", u"B.WAV", u"e.Wav"}));
}

// Closing the window in the middle of a scan stops the scan thread before the window goes; none
// of its rows, texts or events reaches what takes the gadget numbers afterwards.
TEST_F(LibraryWindowTest, ClosingDuringAScanEndsTheThreadAndNothingArrivesLater) {
  constexpr int kDirectories = 200, kFilesEach = 50;
  for (int d = 0; d < kDirectories; ++d) {
    for (int f = 0; f < kFilesEach; ++f) {
      scratch.makeFile("root/d" + std::to_string(d) + "/f" + std::to_string(f) + ".wav");
    }
  }
  bool finished = false;
  chooseFolderAndScan(scratch.file("root/"));
  setLibraryScanObserver([&](LibraryScanStep step) {
    if (step == LibraryScanStep::Started) postEvent(EventCloseWindow, 0, 0, 0, 0);
    if (step == LibraryScanStep::Finished) finished = true;
  });
  EXPECT_EQ(openLibraryWindow().outcome, LibraryOutcome::Closed);
  const int thread = lastLibraryScanThread();
  ASSERT_NE(thread, 0);
  EXPECT_FALSE(isThread(thread));
  EXPECT_FALSE(finished);
  const std::int32_t paths = libraryTrackPathCount();
  EXPECT_LT(paths, kDirectories * kFilesEach);  // it was cut short

  // The panel takes the gadget numbers back; nothing of the scan may land on them.
  ASSERT_NE(openWindow(0, 0, 0, 300, 155, u"panel", WindowBorderless), 0);
  ASSERT_NE(createListIconGadget(TrackList, 0, 0, 300, 100, u"Titre", 100), 0);
  ASSERT_NE(createStringGadget(1, 0, 0, 100, 20, u"panel text"), 0);
  std::vector<int> codes;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  while (std::chrono::steady_clock::now() < until) {
    if (const int code = waitWindowEvent(10)) codes.push_back(code);
  }
  for (int code : codes) {
    EXPECT_TRUE(code != EventScanStarted && code != EventScanFinished) << code;
  }
  EXPECT_EQ(countGadgetItems(TrackList), 0);
  EXPECT_EQ(getGadgetText(1), u"panel text");
  EXPECT_EQ(libraryTrackPathCount(), paths);
}

// The type text and the row colours follow the engine's case-blind choice of ending.
TEST(LibraryRowStyle, EndingsOfAnyCaseGetTheirTypeAndColours) {
  struct Case {
    std::u16string_view name;
    std::u16string_view type;
    std::u16string_view sameAs;  // the lower-case name whose colours it must share
  };
  const Case cases[] = {
      {u"PISTE.WAV", u"Type : Son Wave", u"piste.wav"},
      {u"Piste.Ogg", u"Type : Ogg Vorbis", u"piste.ogg"},
      {u"x.mP3", u"Type : Son compressé mp3", u"x.mp3"},
      {u"B.M4A", u"Type : Bande audio m4a", u"b.m4a"},
      {u"notes.TXT", u"Type inconnu", u"notes.txt"},
      {u"WAV", u"Type inconnu", u"wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(toUtf8(c.name));
    EXPECT_EQ(typeText(c.name), c.type);
    for (RowLevel level : {RowLevel::TopDirectory, RowLevel::Subdirectory}) {
      const RowColours got = rowColours(c.name, level);
      const RowColours want = rowColours(c.sameAs, level);
      EXPECT_EQ(got.front, want.front);
      EXPECT_EQ(got.back, want.back);
    }
  }
  EXPECT_NE(rowColours(u"PISTE.WAV", RowLevel::TopDirectory).front,
            rowColours(u"notes.txt", RowLevel::TopDirectory).front);
}

}  // namespace
}  // namespace lunadio::testing
