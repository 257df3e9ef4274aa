#include "app/launch.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/hand_over.h"
#include "audio/sound_device.h"
#include "core/instance_guard.h"
#include "core/strings.h"
#include "storage/program_parameters.h"

#ifndef LUNADIO_MODULE_DIR
#error "LUNADIO_MODULE_DIR: the modules' folder relative to the executable's"
#endif

namespace lunadio {
namespace {

// How long the player module's loading waits for a command-line MP3's pipeline to run. A slow
// device only delays the tray icon this much.
constexpr int kMediaSettleLimitMs = 300;

std::filesystem::path moduleFolder() {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  return executable.parent_path() / LUNADIO_MODULE_DIR;
}

// Loads a module for the rest of the process and finds one of its entries; nullptr (said on
// standard error) when either fails. Modules are never unloaded: Qt and GStreamer keep threads,
// atexit routines and type registrations that point into them until the process ends.
void* moduleEntry(const char* file, const char* entry, int flags, bool quiet = false) {
  const std::string path = (moduleFolder() / file).string();
  void* module = ::dlopen(path.c_str(), flags);
  if (!module) {
    if (!quiet) std::fprintf(stderr, "lunadio: %s\n", ::dlerror());
    return nullptr;
  }
  void* address = ::dlsym(module, entry);
  if (!address) std::fprintf(stderr, "lunadio: %s: no %s\n", path.c_str(), entry);
  return address;
}

// The media module's symbols are the player module's too: it goes into the global scope, where
// the player module's calls into it are bound at their first use. Loaded at most once.
// -- main thread only
PrepareMediaPlaybackEntry mediaModulePreparation = nullptr;

bool loadMediaModule() {
  if (!mediaModulePreparation) {
    mediaModulePreparation = reinterpret_cast<PrepareMediaPlaybackEntry>(
        moduleEntry(kMediaModuleFile, kPrepareMediaPlaybackEntry, RTLD_NOW | RTLD_GLOBAL));
  }
  return mediaModulePreparation != nullptr;
}

// The player module is bound lazily, so that it loads without the media module, which comes at
// the first MP3 (app/media_engine.h). Where lazy binding is refused (LD_BIND_NOW in the
// environment), the media module comes first.
RunPlayerEntry loadPlayerModule() {
  if (void* entry = moduleEntry(kPlayerModuleFile, kRunPlayerEntry, RTLD_LAZY | RTLD_LOCAL,
                                /*quiet=*/true)) {
    return reinterpret_cast<RunPlayerEntry>(entry);
  }
  if (!loadMediaModule()) return nullptr;
  return reinterpret_cast<RunPlayerEntry>(
      moduleEntry(kPlayerModuleFile, kRunPlayerEntry, RTLD_LAZY | RTLD_LOCAL));
}

// The media check runs in a child forked now, while this process has no other thread whose
// locks the child could inherit held; GStreamer (its registry alone is some 2.5 MB) then stays
// out of the player until its first MP3. -1 when no child could be made: the player checks in
// its own process.
int forkMediaCheck() {
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t child = ::fork();
  if (child != 0) return child;
  // The child: the check and nothing else; _exit, so that nothing of the parent's (its atexit
  // routines, its buffers) runs here. 2: no answer, the player checks again itself.
  const auto check = reinterpret_cast<CheckMediaEntry>(
      moduleEntry(kMediaModuleFile, kCheckMediaEntry, RTLD_NOW | RTLD_LOCAL));
  ::_exit(check ? check() : 2);
}

}  // namespace

int launchLunadio(int argc, char** argv) {
  // A second start only hands its track over: it takes the guard before starting anything, so
  // that neither the display, the sound server, the player's modules nor GStreamer's registry
  // delay the hand-over or take the processor from the running player while it opens the track.
  InstanceGuard guard(currentProgramName());
  if (guard.anotherInstanceRuns()) {
    handOverToRunningInstance(argc, argv);
    return 0;
  }
  setProgramArguments(argc, argv);
  LaunchedStart start{argc, argv};
  // Exactly one non-empty parameter names the track to open; with two or more nothing is opened.
  if (countProgramParameters() == 1) start.track = nextProgramParameter();
  const EngineKind engine =
      start.track.empty() ? EngineKind::None : chooseEngine(getExtensionPart(start.track));
  // An MP3 to play at once starts GStreamer in this process, which then needs no check.
  if (engine != EngineKind::Media) start.mediaCheckPid = forkMediaCheck();
  // Reaching the sound server takes as long as loading the decoders' and the output's own
  // libraries; it begins on a thread of its own and is joined by the audio engine's start.
  prepareSound();
  // The track's way to the sink waits for nothing a person sees, nor for the libraries that
  // show it: it sounds while they load.
  if (engine == EngineKind::Sound) start.earlyTrack = startCommandLineSound(start.track);
  // A command-line MP3 prerolls and plays before the player module loads, which waits until its
  // pipeline runs: the module's loading holds the dynamic loader (which GStreamer needs for its
  // plugins) and both processors, and the sink's start behind it was heard some 30 ms later.
  // GStreamer's start begins on a thread of its own as soon as the media module is loaded, beside
  // the audio engine's.
  if (engine == EngineKind::Media) {
    if (!loadMediaModule()) return 1;
    mediaModulePreparation();
    const auto startMediaTrack = reinterpret_cast<StartMediaTrackEntry>(
        moduleEntry(kMediaModuleFile, kStartMediaTrackEntry, RTLD_NOW | RTLD_GLOBAL));
    if (startMediaTrack) {
      start.earlyTrack = startCommandLineMedia(start.track, startMediaTrack, kMediaSettleLimitMs);
    }
  }
  const RunPlayerEntry runPlayer = loadPlayerModule();
  if (!runPlayer) return 1;
  start.loadMediaModule = &loadMediaModule;
  start.mediaModuleLoaded = mediaModulePreparation != nullptr;
  return runPlayer(start);
}

}  // namespace lunadio
