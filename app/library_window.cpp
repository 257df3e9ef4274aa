#include "app/library_window.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/library_scan.h"
#include "app/library_window_testing.h"
#include "app/player_state.h"
#include "app/pump.h"
#include "app/settings.h"
#include "core/strings.h"
#include "storage/directory.h"
#include "ui/events.h"
#include "ui/fonts.h"
#include "ui/gadgets.h"
#include "ui/requesters.h"
#include "ui/windows.h"

namespace lunadio {
namespace {

enum LibraryGadget : ObjectNumber {
  BrowseButton = 0,
  PathField = LibraryPathField,
  TitleText = 2,
  TrackList = LibraryTrackList,
  PlayButton = 4,
  FiltersButton = 5,
  FavouritesButton = 6,
  InformationFrame = 7,
  TitleInfo = 8,
  TypeInfo = 9,
  SizeInfo = 10,
  ProgressBar = LibraryProgressBar,
};

enum LibraryFont : ObjectNumber {
  PathFont = 0,
  HeadingFont = 1,
  PlayFont = 2,
  ListFont = 3,
};

constexpr ObjectNumber TopDirectoryListing = 1;

// Posted by the closing window behind everything the scan thread posted.
constexpr int EventScanFence = 65538;

// Bounds for waiting on a scan that was asked to stop: it polls the request at every entry, so
// only a file system that hangs in one call can make it late.
constexpr int kScanStopTimeoutMs = 5000;
constexpr int kFenceTimeoutMs = 2000;
constexpr int kFullBarMs = 500;

constexpr std::u16string_view kNothingToPlay =
    u"Vous n'avez sélectionné aucune musique à lire. Veuillez utiliser le bouton 'Parcourir' pour "
    u"définir un répertoire a scanner";

LibraryState& library() { return playerState().library; }

std::optional<std::u16string> trackPathAt(std::int32_t row) {
  const std::vector<std::u16string>& paths = library().trackPaths;
  if (row < 0 || static_cast<std::size_t>(row) >= paths.size()) return std::nullopt;
  return paths[static_cast<std::size_t>(row)];
}

// A batch of the scan on the window: the paths first, so a row the list shows always has its path.
void applyBatch(ScanBatch&& batch) {
  std::vector<std::u16string>& paths = library().trackPaths;
  paths.insert(paths.end(), std::make_move_iterator(batch.paths.begin()),
               std::make_move_iterator(batch.paths.end()));
  if (!batch.rows.empty()) addGadgetItems(TrackList, std::move(batch.rows));
  if (!batch.examinedPath.empty()) setGadgetText(PathField, batch.examinedPath);
  setGadgetState(ProgressBar, batch.progressPercent);
}

void applyScanBatches() {
  LibraryState& s = library();
  if (!s.scan) return;
  for (ScanBatch& batch : s.scan->takeBatches()) applyBatch(std::move(batch));
}

void notify(LibraryScanStep step) {
  if (library().observer) library().observer(step);
}

void loadLibraryFonts() {
  loadFont(PathFont, u"Segoe UI Semilight", 11, FontBold | FontHighQuality);
  loadFont(HeadingFont, u"Segoe UI Semilight", 20, FontBold | FontHighQuality);
  loadFont(PlayFont, u"Segoe UI Semilight", 18, 0);
  loadFont(ListFont, u"Leelawadee UI", 10, FontBold | FontHighQuality);
}

void createLibraryGadgets() {
  createButtonGadget(BrowseButton, 580, 70, 100, 25, u"Parcourir");
  createProgressBarGadget(ProgressBar, 20, 70, 440, 25, 0, 100, ProgressBarSmooth);
  setGadgetState(ProgressBar, 30);
  hideGadget(ProgressBar, 1);
  createStringGadget(PathField, 20, 70, 440, 25, u"Définissez un répertoire a scanner >>>");
  setGadgetColor(PathField, 1, rgb(0, 128, 192));
  setGadgetFont(PathField, fontHandle(PathFont));
  createFrameGadget(ObjectAny, 10, 50, 680, 55, u"Adresse de scan");
  createTextGadget(TitleText, 10, 0, 680, 40, u"Lunadio - Bibliothéque");
  setGadgetColor(TitleText, 1, rgb(0, 100, 210));
  setGadgetFont(TitleText, fontHandle(HeadingFont));
  createListIconGadget(TrackList, 10, 110, 680, 310, u"Titre", 100, ListFullRowSelect);
  setGadgetItemAttribute(TrackList, 0, 1, gadgetWidth(TrackList) - 145, 0);
  setGadgetFont(TrackList, fontHandle(ListFont));
  setGadgetColor(TrackList, 1, rgb(0, 128, 192));
  addGadgetColumn(TrackList, 2, u"Taille (Mo)", 140);
  setGadgetColor(TrackList, 2, rgb(240, 240, 240));
  createButtonGadget(PlayButton, 560, 480, 130, 35, u"Jouer");
  setGadgetFont(PlayButton, fontHandle(PlayFont));
  createButtonGadget(FiltersButton, 470, 70, 100, 25, u"Filtres");
  createButtonGadget(FavouritesButton, 340, 480, 210, 35, u"Ajouter a mes morceaux favoris");
  createFrameGadget(InformationFrame, 10, 430, 320, 80, u"Informations");
  createTextGadget(TitleInfo, 20, 450, 300, 20, u"Titre : [No Selection]");
  createTextGadget(TypeInfo, 20, 470, 230, 20, u"Type : [No Selection]");
  createTextGadget(SizeInfo, 20, 490, 180, 20, u"Taille : [No Selection]");
  // Named for screen readers; the others are named by their texts.
  setGadgetAccessibility(PathField, GadgetRole::Own, u"Dossier à scanner");
  setGadgetAccessibility(ProgressBar, GadgetRole::Own, u"Progression du scan");
  setGadgetAccessibility(TrackList, GadgetRole::Own, u"Morceaux trouvés");
}

// Stops the running scan and waits for its thread, so that nothing it does overlaps what the
// caller does next. Its rows already handed over stay; its events are ignored by generation.
void stopScan() {
  LibraryState& s = library();
  if (!s.scan) return;
  s.scan->requestStop();
  if (s.scan->waitUntilEnded(kScanStopTimeoutMs)) {
    playerState().itemCounter = s.scan->nextItemCounter();
  }
  // A thread that did not end in time keeps its own reference to the job; whatever it still
  // hands over is dropped with the window's gadgets or ignored by generation.
  s.scan.reset();
}

void clearTracks() {
  library().trackPaths.clear();
  clearGadgetItems(TrackList);
}

// Lists the top directory here and leaves its subdirectories to a new scan thread.
void scanTopDirectory(const std::u16string& directory) {
  LibraryState& s = library();
  PlayerState& player = playerState();
  player.itemCounter = 1;
  const FormatMatcher matcher(player.formatFilter);
  std::vector<std::u16string> subdirectories;
  RowBatch rows;
  std::u16string lastExamined;
  if (examineDirectory(TopDirectoryListing, directory, u"*.*") != 0) {
    walkEntries(
        TopDirectoryListing, directory, RowLevel::TopDirectory, matcher, player.itemCounter, rows,
        [&](std::u16string path) { subdirectories.push_back(std::move(path)); },
        [&](const std::u16string& path) {
          lastExamined = path;
          return true;
        });
  }
  finishDirectory(TopDirectoryListing);
  // The field ends on the last entry examined, as if it had shown each one.
  if (!lastExamined.empty()) setGadgetText(PathField, lastExamined);
  ScanBatch top = rows.take();
  top.progressPercent = getGadgetState(ProgressBar);
  applyBatch(std::move(top));

  auto job = std::make_shared<ScanJob>(player.formatFilter, ++s.lastGeneration, player.itemCounter);
  job->markVisited(directory);
  for (std::u16string& path : subdirectories) job->addPendingDirectory(std::move(path));
  if (job->start(job) != 0) {
    s.lastScanThread = job->thread();
    s.scan = std::move(job);
  }
}

struct HeldEvent {
  int code;
  ObjectNumber window;
  ObjectNumber object;
  int type;
  std::intptr_t data;
};

enum class Meeting { Keep, Drop, Stop };

// Runs the event loop for at most `ms` without acting on anything. `meet` says for each event
// whether it is kept (to be queued again later, in order), dropped, or ends the wait.
template <class Meet>
std::vector<HeldEvent> holdEvents(int ms, Meet&& meet) {
  std::vector<HeldEvent> held;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    const int code = waitPlayerEvent(static_cast<int>(left.count()));
    if (code == 0) continue;
    const Meeting meeting = meet(code);
    if (meeting == Meeting::Stop) break;
    if (meeting == Meeting::Keep) {
      held.push_back({code, eventWindow(), eventObject(), eventType(), eventData()});
    }
  }
  return held;
}

void queueAgain(const std::vector<HeldEvent>& held, ObjectNumber closedWindow) {
  for (const HeldEvent& e : held) {
    if (e.window != closedWindow) postEvent(e.code, e.window, e.object, e.type, e.data);
  }
}

// Lets everything the ended scan threads posted reach the queue and drops it; the other events
// met on the way are returned.
std::vector<HeldEvent> dropScanEvents() {
  const std::intptr_t token = library().lastGeneration;
  if (!postEvent(EventScanFence, 0, 0, 0, token)) return {};
  return holdEvents(kFenceTimeoutMs, [token](int code) {
    if (code == EventScanFence && eventData() == token) return Meeting::Stop;
    const bool fromScan = code == EventScanStarted || code == EventScanRows ||
                          code == EventScanFinished || code == EventScanFence;
    return fromScan ? Meeting::Drop : Meeting::Keep;
  });
}

// Ends the window: the scan first, so no row, text or event of it outlives the window's gadgets.
void closeLibraryWindow(ObjectNumber window, bool scanned) {
  stopScan();
  std::vector<HeldEvent> held;
  if (scanned) held = dropScanEvents();
  closeWindow(window);
  queueAgain(held, window);
}

void onScanStarted() {
  disableGadget(BrowseButton, 1);
  disableGadget(FiltersButton, 1);
  hideGadget(PathField, 1);
  hideGadget(ProgressBar, 0);
  notify(LibraryScanStep::Started);
}

void onScanFinished() {
  LibraryState& s = library();
  // Every row the thread handed over before it posted this.
  applyScanBatches();
  setGadgetState(ProgressBar, 100);
  if (s.scan) {
    // Posting this was the thread's last act: the wait is short.
    if (s.scan->waitUntilEnded(kScanStopTimeoutMs)) {
      playerState().itemCounter = s.scan->nextItemCounter();
    }
    s.scan.reset();
  }
  notify(LibraryScanStep::Finished);
  dropQueuedEvents();
  // The full bar stays for half a second. The window still repaints meanwhile; what the user does
  // in that time is handled afterwards.
  queueAgain(holdEvents(kFullBarMs, [](int) { return Meeting::Keep; }), -1);
  disableGadget(BrowseButton, 0);
  disableGadget(FiltersButton, 0);
  hideGadget(PathField, 0);
  hideGadget(ProgressBar, 1);
  notify(LibraryScanStep::Idle);
}

void showDetails(std::int32_t row) {
  const std::u16string name = getGadgetItemText(TrackList, row, 0);
  setGadgetText(TitleInfo, u"Titre : " + name);
  setGadgetText(TypeInfo, typeText(name));
  setGadgetText(SizeInfo, u"Taille : " + getGadgetItemText(TrackList, row, 1));
}

void showInformation(std::int32_t row) {
  const std::optional<std::u16string> path = trackPathAt(row);
  if (!path) return;
  const std::u16string name = getGadgetItemText(TrackList, row, 0);
  messageRequester(u"Lunadio - Informations",
                   u"Titre du morceau : " + name + u"\nFormat : " + rightPart(name, 4) +
                       u"\nRépertoire : " + *path,
                   MessageOk);
}

}  // namespace

LibraryChoice openLibraryWindow() {
  loadLibraryFonts();
  const std::intptr_t window = openWindow(ObjectAny, 0, 0, 700, 520, u"Lunadio",
                                          WindowTitleBar | WindowSystemMenu | WindowScreenCentered);
  if (window == 0) return {};
  const auto libraryWindow = static_cast<ObjectNumber>(window);
  // From here the gadget numbers are the library's: the panel's are rebuilt when it closes.
  playerState().gadgetOwner = GadgetOwner::OtherWindow;
  createLibraryGadgets();
  loadFormatFilter();

  LibraryState& s = library();
  std::u16string directory;  // the last one chosen
  bool scanned = false;
  auto rescan = [&] {
    stopScan();
    clearTracks();
    scanned = true;
    scanTopDirectory(directory);
  };
  auto current = [&s] { return s.scan && eventData() == s.scan->generation(); };

  for (;;) {
    const int code = waitPlayerEvent(-1);
    if (code == EventScanStarted) {
      if (current()) onScanStarted();
    } else if (code == EventScanRows) {
      if (current()) applyScanBatches();
    } else if (code == EventScanFinished) {
      if (current()) onScanFinished();
    } else if (code == EventCloseWindow) {
      closeLibraryWindow(libraryWindow, scanned);
      return {};
    } else if (code == EventGadget) {
      switch (eventObject()) {
        case BrowseButton:
          directory = pathRequester(u"Sélectionnez le répertoire a scanner", u"");
          setGadgetText(PathField, directory);
          rescan();
          break;
        case PlayButton: {
          const std::int32_t row = countGadgetItems(TrackList) == 0
                                       ? -1
                                       : static_cast<std::int32_t>(getGadgetState(TrackList));
          // A row must be chosen: with none, there is nothing to hand to the panel.
          const std::optional<std::u16string> path = trackPathAt(row);
          if (!path) {
            messageRequester(u"Lunadio", kNothingToPlay, MessageOk);
            break;
          }
          stopScan();
          playerState().selectedTrackPath = *path;
          clearTracks();
          closeLibraryWindow(libraryWindow, scanned);
          return {LibraryOutcome::Play, *path};
        }
        case FiltersButton:
          stopScan();
          openSearchFilterDialog(0, 0, 520, 240);
          rescan();
          break;
        case TrackList: {
          const auto row = static_cast<std::int32_t>(getGadgetState(TrackList));
          if (row < 0) break;  // a click that left no row selected
          if (eventType() == EventTypeLeftDoubleClick) {
            showInformation(row);
          } else {
            showDetails(row);
          }
          break;
        }
        default:
          break;  // the favourites button and the other gadgets do nothing
      }
    }
  }
}

void setLibraryScanObserver(std::function<void(LibraryScanStep)> observer) {
  library().observer = std::move(observer);
}

int lastLibraryScanThread() { return library().lastScanThread; }

std::int32_t libraryTrackPathCount() {
  return static_cast<std::int32_t>(library().trackPaths.size());
}

}  // namespace lunadio
