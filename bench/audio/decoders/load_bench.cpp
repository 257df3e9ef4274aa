// audio_load_bench [work folder]
// Makes a 5-minute 44.1 kHz stereo test signal, encodes it with the flac and oggenc tools (and a
// 60-minute FLAC and WAV with sox), and prints, measured in this run:
//   - a whole decode (DecodeMode::Whole) of the FLAC and Ogg Vorbis files against `flac -d` and
//     `oggdec` decoding the same files to /dev/null (target: at most 1.1x);
//   - the time from the loadSound call to its return, whole against progressive (the program's
//     own mode: the first second decoded or read, the rest on a worker), for the 5-minute FLAC, Ogg
//     and WAV and the 60-minute FLAC and WAV (main-thread time of the load; target under 50 ms),
//     and how long the worker takes to finish;
//   - the second load of an unchanged file against the first (target: under 5%);
//   - the peak memory of a whole FLAC load against file + PCM (target: at most 1.3x);
//   - the memory of one streamed sound, for the 5-minute file and for a 10-second one.
// Memory figures come from child processes of this program (one load each), so nothing else the
// benchmark holds counts in them.
//
// audio_load_bench --decode RUNS FILE...
// Only the whole decode of each given .flac or .ogg file against `flac -d` or `oggdec` to
// /dev/null, RUNS times each, alternating; one TSV line per run on stdout:
//   file  tool  ours_wall_s  ours_cpu_s  tool_wall_s  tool_cpu_s
// (bench/player/run.sh uses it on its test files; bench/player/report.sh takes the medians).
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "audio/decoders/sound_decoder.h"
#include "audio/internal/progressive_decode.h"
#include "audio/internal/sound_buffers.h"
#include "audio/internal/sound_record.h"
#include "audio/sound.h"
#include "audio/sound_device.h"
#include "audio/sound_loader.h"
#include "core/strings.h"
#include "platform/soundout/memory_output.h"

extern char** environ;

namespace {

using namespace lunadio;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr std::size_t kFrames = 5 * 60 * kRate;

void startSound() {
  std::freopen("/dev/null", "w", stdout);  // the loader's report lines
  setSoundServiceOpener([](std::unique_ptr<soundout::SoundDevice>& device) {
    return soundout::createSoundDevice(std::make_shared<soundout::MemoryOutput>(), device);
  });
  useVorbisDecoder();
  useFlacDecoder();
  if (!initSound()) {
    std::fprintf(stderr, "no sound device\n");
    std::exit(1);
  }
}

// Something like music for the encoders: a few drifting tones, a beat and some noise.
void writeSignal(const std::string& path) {
  std::vector<std::int16_t> pcm(kFrames * 2);
  std::uint32_t noise = 12345;
  for (std::size_t f = 0; f < kFrames; ++f) {
    const double t = static_cast<double>(f) / kRate;
    const double beat = std::exp(-8.0 * std::fmod(t, 0.5));
    for (int c = 0; c < 2; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double v = 0.25 * std::sin(2 * M_PI * (220.0 + 3.0 * std::sin(t / 7)) * t + c) +
                       0.15 * std::sin(2 * M_PI * (330.0 + 110.0 * c) * t) +
                       0.2 * beat * std::sin(2 * M_PI * 60.0 * t) +
                       0.05 * (static_cast<double>(noise >> 8) / 16777216.0 - 0.5);
      pcm[2 * f + static_cast<std::size_t>(c)] = static_cast<std::int16_t>(std::lround(v * 32767));
    }
  }
  std::ofstream out(path, std::ios::binary);
  const auto put32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  const auto put16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const auto bytes = static_cast<std::uint32_t>(pcm.size() * 2);
  out.write("RIFF", 4);
  put32(36 + bytes);
  out.write("WAVEfmt ", 8);
  put32(16);
  put16(1);
  put16(2);
  put32(kRate);
  put32(kRate * 4);
  put16(4);
  put16(16);
  out.write("data", 4);
  put32(bytes);
  out.write(reinterpret_cast<const char*>(pcm.data()), bytes);
}

int run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double secondsOf(const std::function<void()>& work) {
  const auto start = Clock::now();
  work();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double cpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall and processor time of one run; `who` is RUSAGE_SELF for work done here, RUSAGE_CHILDREN
// for a tool run as a child.
struct Timing {
  double wall = 1e9;
  double cpu = 1e9;
};

Timing timed(int who, const std::function<void()>& work) {
  const double cpuBefore = cpuSeconds(who);
  const double wall = secondsOf(work);
  return {wall, cpuSeconds(who) - cpuBefore};
}

// Runs ours and the tool's alternately and keeps the best of each: the runs least disturbed by
// the rest of the machine, under the same conditions for both.
std::pair<Timing, Timing> compare(int runs, const std::function<void()>& ours,
                                  const std::function<void()>& tool) {
  Timing bestOurs, bestTool;
  for (int i = 0; i < runs; ++i) {
    const Timing a = timed(RUSAGE_SELF, ours);
    const Timing b = timed(RUSAGE_CHILDREN, tool);
    bestOurs = {std::min(bestOurs.wall, a.wall), std::min(bestOurs.cpu, a.cpu)};
    bestTool = {std::min(bestTool.wall, b.wall), std::min(bestTool.cpu, b.cpu)};
  }
  return {bestOurs, bestTool};
}

long statusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

// Waits until the sound's decode, if it is still going on, has finished.
void waitForDecode(ObjectNumber number) {
  SoundRecord* record = soundTable()->lookup(number);
  if (record && record->decode) {
    soundout::BufferCaps caps;
    record->buffer->getCaps(caps);
    record->decode->waitUntilDecoded(caps.bufferBytes, std::chrono::minutes(5));
  }
}

// Child modes: print kilobytes.
int childPeak(const std::string& path) {
  startSound();
  const long before = statusKb("VmRSS:");
  if (!loadSound(0, fromUtf8(path))) return 1;
  waitForDecode(0);
  std::fprintf(stderr, "%ld\n", statusKb("VmHWM:") - before);
  return 0;
}

int childStreamed(const std::string& path) {
  startSound();
  constexpr int kSounds = 8;
  const long before = statusKb("VmRSS:");
  for (int i = 0; i < kSounds; ++i) {
    if (!loadSound(i, fromUtf8(path), LoadStreamed)) return 1;
    playSound(i, PlayLooped);
  }
  std::fprintf(stderr, "%ld\n", (statusKb("VmRSS:") - before) / kSounds);
  freeSound(ObjectAll);
  return 0;
}

long childKb(const std::string& self, const std::string& mode, const std::string& path) {
  const std::string text = [&] {
    const std::string out = path + "." + mode + ".kb";
    run({"sh", "-c", "'" + self + "' " + mode + " '" + path + "' 2> '" + out + "'"});
    std::ifstream in(out);
    std::string t((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(out.c_str());
    return t;
  }();
  return std::atol(text.c_str());
}

double fileMb(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return static_cast<double>(info.st_size) / 1e6;
}

// The tool that decodes `path` whole to /dev/null, by its extension; empty when there is none.
std::vector<std::string> referenceDecode(const std::string& path) {
  if (path.ends_with(".flac")) return {"flac", "-d", "-s", "-f", "-o", "/dev/null", path};
  if (path.ends_with(".ogg")) return {"oggdec", "-Q", "-o", "/dev/null", path};
  return {};
}

int decodeRuns(int runs, const std::vector<std::string>& paths) {
  std::FILE* tsv = fdopen(dup(STDOUT_FILENO), "w");  // startSound silences stdout
  if (!tsv) return 1;
  startSound();
  setDecodeModeForTests(DecodeMode::Whole);
  for (const std::string& path : paths) {
    const auto tool = referenceDecode(path);
    if (tool.empty()) {
      std::fprintf(stderr, "%s: neither .flac nor .ogg\n", path.c_str());
      return 1;
    }
    for (int i = 0; i < runs; ++i) {
      // Each load decodes: the sound the previous one made is freed first, so nothing is shared.
      const Timing ours = timed(RUSAGE_SELF, [&] {
        freeSound(0);
        if (!loadSound(0, fromUtf8(path))) std::exit(2);
      });
      freeSound(0);
      const Timing theirs = timed(RUSAGE_CHILDREN, [&] { run(tool); });
      std::fprintf(tsv, "%s\t%s\t%.4f\t%.4f\t%.4f\t%.4f\n",
                   path.substr(path.rfind('/') + 1).c_str(),
                   (tool[0] == "flac" ? "flac -d" : tool[0]).c_str(), ours.wall, ours.cpu,
                   theirs.wall, theirs.cpu);
      std::fflush(tsv);
    }
  }
  std::fclose(tsv);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "--decode") {
    return decodeRuns(std::max(1, std::atoi(argv[2])), {argv + 3, argv + argc});
  }
  if (argc == 3 && std::string(argv[1]) == "--peak") return childPeak(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "--streamed") return childStreamed(argv[2]);
  const std::string selfPath = [&] {
    char buffer[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  }();
  const std::string folder =
      argc > 1 ? argv[1] : "/tmp/lunadio-load-bench-" + std::to_string(getpid());
  run({"mkdir", "-p", folder});
  const std::string wav = folder + "/signal.wav", flac = folder + "/signal.flac",
                    ogg = folder + "/signal.ogg", shortWav = folder + "/short.wav",
                    shortFlac = folder + "/short.flac";
  writeSignal(wav);
  if (run({"flac", "-s", "-f", "-5", "-o", flac, wav}) != 0 ||
      run({"oggenc", "-Q", "-q", "4", "-o", ogg, wav}) != 0) {
    std::fprintf(stderr, "flac and oggenc are needed\n");
    return 1;
  }
  run({"sox", wav, shortWav, "trim", "0", "10"});
  run({"flac", "-s", "-f", "-o", shortFlac, shortWav});
  const double pcmMb = kFrames * 4 / 1e6;
  std::fprintf(stderr,
               "test signal: 5 min 44.1 kHz stereo, PCM %.1f MB, FLAC %.1f MB, Ogg %.1f MB\n",
               pcmMb, fileMb(flac), fileMb(ogg));

  startSound();
  constexpr int kRuns = 5;
  setDecodeModeForTests(DecodeMode::Whole);
  // Each load decodes: the sound made by the previous one is freed first, so nothing is shared.
  const auto wholeLoad = [&](const std::string& path) {
    return [&, path] {
      freeSound(0);
      if (!loadSound(0, fromUtf8(path))) std::exit(2);
    };
  };
  const auto report = [](const char* what, const char* tool, const std::pair<Timing, Timing>& t) {
    std::fprintf(
        stderr,
        "whole load, %s: loadSound %.3f s (cpu %.3f s), %s %.3f s (cpu %.3f s): ratio %.2fx "
        "wall, %.2fx cpu (target <= 1.1x)\n",
        what, t.first.wall, t.first.cpu, tool, t.second.wall, t.second.cpu,
        t.first.wall / t.second.wall, t.first.cpu / t.second.cpu);
  };
  report("FLAC", "flac -d", compare(kRuns, wholeLoad(flac), [&] {
           run({"flac", "-d", "-s", "-f", "-o", "/dev/null", flac});
         }));
  report("Ogg Vorbis", "oggdec", compare(kRuns, wholeLoad(ogg), [&] {
           run({"oggdec", "-Q", "-o", "/dev/null", ogg});
         }));

  // Load call to return, whole against progressive, alternating; medians.
  const std::string longFlac = folder + "/long.flac", longWav = folder + "/long.wav";
  if (run({"sox", wav, longFlac, "repeat", "11"}) != 0 ||
      run({"sox", wav, longWav, "repeat", "11"}) != 0) {
    std::fprintf(stderr, "sox is needed for the 60-minute file\n");
    return 1;
  }
  struct ReturnTimes {
    std::vector<double> whole, progressive, finished;
  };
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
  };
  for (const auto& [name, path, runs] :
       {std::tuple<const char*, std::string, int>{"5-min FLAC", flac, kRuns},
        {"5-min Ogg Vorbis", ogg, kRuns},
        {"5-min WAV", wav, kRuns},
        {"60-min FLAC", longFlac, 3},
        {"60-min WAV", longWav, 3}}) {
    ReturnTimes times;
    for (int i = 0; i < runs; ++i) {
      freeSound(ObjectAll);
      setDecodeModeForTests(DecodeMode::Whole);
      times.whole.push_back(secondsOf([&] { loadSound(0, fromUtf8(path)); }));
      freeSound(ObjectAll);
      setDecodeModeForTests(DecodeMode::Progressive);
      const auto start = Clock::now();
      times.progressive.push_back(secondsOf([&] { loadSound(0, fromUtf8(path)); }));
      waitForDecode(0);
      times.finished.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::fprintf(stderr,
                 "loadSound call to return, %s (median of %d): whole %.1f ms, progressive %.1f "
                 "ms (%.1fx faster; the worker ends %.1f ms after the call)%s\n",
                 name, runs, 1e3 * median(times.whole), 1e3 * median(times.progressive),
                 median(times.whole) / median(times.progressive), 1e3 * median(times.finished),
                 std::string(name).starts_with("60-min")
                     ? ": main-thread time of the load (target < 50 ms)"
                     : "");
  }
  freeSound(ObjectAll);
  setDecodeModeForTests(DecodeMode::Progressive);

  for (const std::string& path : {flac, ogg}) {
    freeSound(ObjectAll);
    const double trial = secondsOf([&] { loadSound(1, fromUtf8(path)); });
    const double real = secondsOf([&] { loadSound(0, fromUtf8(path)); });
    std::fprintf(stderr,
                 "second load of %s: %.6f s after %.3f s, %.3f%% of the first (target < 5%%)\n",
                 path.substr(path.rfind('.') + 1).c_str(), real, trial, 100 * real / trial);
  }
  freeSound(ObjectAll);

  const long peakKb = childKb(selfPath, "--peak", flac);
  const double fileAndPcmMb = fileMb(flac) + pcmMb;
  std::fprintf(stderr,
               "peak memory of the FLAC load: %.1f MB for file + PCM %.1f MB, ratio %.2fx (target "
               "<= 1.3x)\n",
               peakKb * 1.024e-3, fileAndPcmMb, peakKb * 1.024e-3 / fileAndPcmMb);
  const long streamedLongKb = childKb(selfPath, "--streamed", flac);
  const long streamedShortKb = childKb(selfPath, "--streamed", shortFlac);
  std::fprintf(
      stderr,
      "memory per streamed sound (ring %u KB + decoder): 5-min FLAC %ld KB, 10-s FLAC %ld KB\n",
      65536u / 1024, streamedLongKb, streamedShortKb);
  if (argc <= 1) run({"rm", "-rf", folder});
  return 0;
}
