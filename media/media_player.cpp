// The media table and the media engine's procedural interface. Main thread only.

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "core/lifecycle.h"
#include "core/no_throw.h"
#include "core/strings.h"
#include "media/gst_runtime.h"
#include "media/media.h"
#include "media/media_graph.h"
#include "media/media_internal.h"

namespace lunadio {
namespace {

constexpr int kMediaGrowthStep = 16;
// A file that has not prerolled by then is treated as unplayable.
constexpr std::chrono::milliseconds kPrerollLimit{3000};
// A pipeline that failed (its output went away, say) is built again when the player asks it to
// play, but not more often than this: the player asks on every pass of its loop.
constexpr std::chrono::milliseconds kRebuildInterval{1000};

struct MediaPlayer {
  std::unique_ptr<MediaGraph> graph;  // the live-object field: set exactly while the player exists
  MediaState state = MediaStopped;
  std::u16string fileName;
  // What setMediaVolume last asked for, for a rebuilt pipeline.
  HundredthsDb volume = 0;
  HundredthsDb balance = 0;
  bool loop = false;
  ObjectNumber number = 0;  // the number or dynamic identifier the player is known by
  std::chrono::steady_clock::time_point lastRebuild{};

  bool isLive() const { return graph != nullptr; }
};

// -- main thread only. Its existence is the flag that the engine has started.
std::optional<ObjectTable<MediaPlayer>> mediaTable;

// The start check runs in a child process that prepareMedia forks: GStreamer's registry (a
// description of every plugin, about 2.5 MB once read) then stays out of this process until the
// first file is loaded. -- main thread only
pid_t checkingChild = -1;
// GStreamer's start in this process, run ahead by prepareMediaPlayback. The thread calls only
// GStreamer, which serialises its own start; the main thread joins it before its own first
// GStreamer call. -- main thread only
std::thread preparation;
// GStreamer has started in this process. -- main thread only
bool gstreamerStarted = false;

void joinPreparation() {
  if (preparation.joinable()) preparation.join();
}

// The forked check's answer: true or false, or nothing when it could not answer (it died, hung or
// was never made), for the check to run here as it would have without the child.
std::optional<bool> childCheckResult() {
  if (checkingChild < 0) return std::nullopt;
  return awaitMediaCheckAnswer(std::exchange(checkingChild, -1));
}

bool checkHere() {
  joinPreparation();
  gstreamerStarted = gst::startGstreamer();
  return gstreamerStarted && gst::sinkDescriptionParses();
}

// Before the first GStreamer call of this process that the check did not make.
bool startGstreamerHere() {
  joinPreparation();
  if (!gstreamerStarted) gstreamerStarted = gst::startGstreamer();
  return gstreamerStarted;
}
// -- main thread only
bool lastLoadSilent = false;

MediaPlayer* findPlayer(ObjectNumber number) {
  return mediaTable ? mediaTable->lookup(number) : nullptr;
}

std::unique_ptr<MediaGraph> openGraph(std::u16string_view path, ObjectNumber number) {
  auto graph = MediaGraph::open(toUtf8(path), kPrerollLimit, number);
  if (graph && graph->output() != MediaOutput::Custom) {
    lastLoadSilent = graph->output() == MediaOutput::Silent;
  }
  return graph;
}

// Replaces a failed pipeline by a new one for the same file, with the same volume and balance.
// The player keeps its old (failed) pipeline when the file cannot be prerolled again.
void rebuildFailedGraph(MediaPlayer& player) {
  const auto now = std::chrono::steady_clock::now();
  if (now - player.lastRebuild < kRebuildInterval) return;
  player.lastRebuild = now;
  auto graph = openGraph(player.fileName, player.number);
  if (!graph) return;
  graph->setVolume(player.volume);
  graph->setBalance(player.balance);
  graph->setLoop(player.loop);
  player.graph = std::move(graph);
}

std::int64_t loadPlayer(ObjectNumber number, std::u16string_view path);

void freeOnePlayer(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  if (!player) return;
  // No rewind first: the NULL state stops everything, and a flush would only cost time.
  player->graph.reset();  // streaming threads are joined here
  player->fileName.clear();
  mediaTable->release(number);
}

}  // namespace

// Every entry below that can allocate or start GStreamer's threads runs through noThrow: nothing
// thrown leaves the engine, the operation's failure value comes back instead.

void prepareMedia() {
  noThrow([] {
    if (mediaTable || gstreamerStarted || checkingChild >= 0 || preparation.joinable()) return;
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t child = ::fork();
    if (child == 0) {
      // The child: the check and nothing else; _exit, so that nothing of the parent's (its atexit
      // routines, its buffers) runs here.
      ::_exit(lunadioCheckMedia());
    }
    checkingChild = child;  // -1 when there is no child: initMedia checks here
  });
}

void prepareMediaPlayback() {
  noThrow([] {
    if (gstreamerStarted || preparation.joinable()) return;
    preparation = std::thread([] { noThrow([] { gst::startGstreamer(); }); });
  });
}

void adoptMediaCheck(int childPid) {
  noThrow([&] {
    if (mediaTable || gstreamerStarted || checkingChild >= 0 || childPid < 0) return;
    checkingChild = childPid;
  });
}

int initMedia() {
  return noThrow(0, [] {
    if (mediaTable) return 1;
    const std::optional<bool> checked = childCheckResult();
    if (!(checked ? *checked : checkHere())) return 0;
    mediaTable.emplace(kMediaGrowthStep, [](ObjectNumber number) { freeOnePlayer(number); });
    return 1;
  });
}

void endMedia() {
  noThrow([] {
    childCheckResult();  // no child is left behind
    joinPreparation();
    if (!mediaTable) return;
    mediaTable->freeAll();
    mediaTable.reset();
    lastLoadSilent = false;
    // GStreamer itself stays initialised: gst_deinit cannot be undone, and a later initMedia in
    // the same process must work.
  });
}

void playMediaLooped(ObjectNumber number, int volume) {
  noThrow([&] {
    resizeMedia(number, 10, 10, 0, 0);
    // Turned on before the first pass plays, so that every seam is seamless.
    setMediaLoop(number, 1);
    setMediaVolume(number, volume, 0);
    playMedia(number, 0);
  });
}

std::int64_t loadMedia(ObjectNumber number, std::u16string_view path) {
  return noThrow(std::int64_t{0}, [&] { return loadPlayer(number, path); });
}

namespace {

std::int64_t loadPlayer(ObjectNumber number, std::u16string_view path) {
  if (!mediaTable || !startGstreamerHere()) return 0;
  const auto allocation = mediaTable->allocate(number);
  if (!allocation.record) return 0;
  if (path.empty()) {
    mediaTable->release(allocation.id);
    return 0;
  }
  auto graph = openGraph(path, allocation.id);
  // allocate() may have freed an old player under this number; the record is the same one.
  MediaPlayer* player = allocation.record;
  if (!graph) {
    mediaTable->release(allocation.id);
    return 0;
  }
  player->graph = std::move(graph);
  player->state = MediaStopped;
  player->fileName = std::u16string(path);
  player->number = allocation.id;
  player->loop = false;
  return number == ObjectAny ? static_cast<std::int64_t>(allocation.id) : 1;
}

}  // namespace

void freeMedia(ObjectNumber number) {
  noThrow([number] {
    if (!mediaTable) return;
    if (number == ObjectAll) {
      mediaTable->freeAll();
      return;
    }
    freeOnePlayer(number);
  });
}

int isMedia(ObjectNumber number) { return findPlayer(number) ? 1 : 0; }

int playMedia(ObjectNumber number, std::intptr_t ownerWindow) {
  return noThrow(0, [&] {
    MediaPlayer* player = findPlayer(number);
    if (!player || ownerWindow == -1) return 0;
    // No video branch exists, so the owner window has nothing to hold.
    if (player->graph->failed()) rebuildFailedGraph(*player);
    player->graph->stop();
    player->graph->run();
    if (player->graph->failed()) return 0;
    player->state = MediaPlaying;
    return 1;
  });
}

void awaitMediaPlaying(ObjectNumber number, std::chrono::milliseconds limit) {
  MediaPlayer* player = findPlayer(number);
  if (player && player->state == MediaPlaying) player->graph->awaitRunning(limit);
}

void stopMedia(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  if (!player) return;
  player->graph->stop();
  player->state = MediaStopped;
}

void pauseMedia(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  if (!player || player->state != MediaPlaying) return;
  player->graph->pause();
  player->state = MediaPaused;
}

void resumeMedia(ObjectNumber number) {
  noThrow([number] {
    MediaPlayer* player = findPlayer(number);
    if (!player || player->state != MediaPaused) return;
    player->graph->run();
    player->state = MediaPlaying;
  });
}

MediaTime mediaStatus(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  if (!player) return 0;
  const GraphStatus status = player->graph->status();
  switch (status.kind) {
    case GraphStatus::Kind::Paused:
      return -1;
    case GraphStatus::Kind::Running:
      return status.position;
    case GraphStatus::Kind::Ended:
      if (player->loop) {
        // The loop was asked for too late to queue this seam (see setMediaLoop): start again
        // here, with a short gap, rather than read as the end.
        player->graph->stop();
        player->graph->run();
        if (!player->graph->failed()) return 1;
      }
      stopMedia(number);
      return 0;
    case GraphStatus::Kind::Failed:
    case GraphStatus::Kind::Stopped:
      break;
  }
  return 0;
}

MediaTime mediaLength(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  return player ? player->graph->queryDuration() : 0;
}

void setMediaLoop(ObjectNumber number, int loop) {
  MediaPlayer* player = findPlayer(number);
  if (!player) return;
  player->loop = loop != 0;
  player->graph->setLoop(player->loop);
}

int mediaLoop(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  return player && player->loop ? 1 : 0;
}

void setMediaEndCallback(MediaEndCallback callback) {
  noThrow([&callback] { setGraphEndCallback(std::move(callback)); });
}

void seekMedia(ObjectNumber number, MediaTime position) {
  MediaPlayer* player = findPlayer(number);
  if (!player) return;
  // A paused player stays paused at the new position (status -1) instead of reading as stopped,
  // which would make the player restart the track from its beginning.
  player->graph->seek(position);
}

void setMediaVolume(ObjectNumber number, int volume, int balance) {
  const HundredthsDb attenuation = volumePercentToHundredthsDb(volume);
  MediaPlayer* player = findPlayer(number);
  if (!player) return;
  player->volume = attenuation;
  player->balance = mediaBalanceHundredthsDb(balance);
  player->graph->setVolume(player->volume);
  player->graph->setBalance(player->balance);
}

int resizeMedia(ObjectNumber number, int, int, int, int) { return findPlayer(number) ? -1 : 0; }

int mediaWidth(ObjectNumber number) { return findPlayer(number) ? -1 : 0; }

int mediaHeight(ObjectNumber number) { return findPlayer(number) ? -1 : 0; }

MediaOutput mediaOutput(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  return player ? player->graph->output() : MediaOutput::None;
}

int mediaOutputIsSilent() { return lastLoadSilent ? 1 : 0; }

void registerMediaLifecycle() {
  addEndRoutine(EndStage::Media, "media players", [] { endMedia(); });
}

// -- internal inspection

std::optional<MediaState> mediaPlayerState(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  if (!player) return std::nullopt;
  return player->state;
}

MediaTime mediaPipelinePosition(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  return player ? player->graph->queryPosition() : -1;
}

MediaTime mediaLargestOutputGap(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  return player ? player->graph->largestOutputGap() : -1;
}

std::u16string mediaFileName(ObjectNumber number) {
  MediaPlayer* player = findPlayer(number);
  return player ? player->fileName : std::u16string();
}

}  // namespace lunadio

extern "C" __attribute__((visibility("default"))) int lunadioCheckMedia() {
  return lunadio::noThrow(
             false,
             [] { return lunadio::gst::startGstreamer() && lunadio::gst::sinkDescriptionParses(); })
             ? 0
             : 1;
}

extern "C" __attribute__((visibility("default"))) void lunadioPrepareMediaPlayback() {
  lunadio::prepareMediaPlayback();
}

extern "C" __attribute__((visibility("default"))) int lunadioStartMediaTrack(const char16_t* path,
                                                                             std::size_t length,
                                                                             int volume,
                                                                             int settleMs) {
  return lunadio::noThrow(0, [&] {
    if (!lunadio::initMedia()) return 0;
    if (!lunadio::loadMedia(0, std::u16string_view(path, length))) return -1;
    lunadio::playMediaLooped(0, volume);
    if (settleMs > 0) lunadio::awaitMediaPlaying(0, std::chrono::milliseconds(settleMs));
    return 1;
  });
}
