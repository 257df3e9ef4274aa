#include "tests/media/support/media_fixtures.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace lunadio::testing {
namespace {

struct FixtureFolder {
  std::string path;
  FixtureFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lunadio-media-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~FixtureFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

void putLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

const std::string& fixtureDir() {
  static FixtureFolder folder;
  return folder.path;
}

void writeToneWav(const std::string& path, const std::vector<ToneSegment>& segments,
                  double amplitude) {
  std::string pcm;
  double phase = 0;  // carried across segments so a change of tone does not click
  for (const ToneSegment& segment : segments) {
    const auto frames = static_cast<std::size_t>(segment.seconds * kFixtureRate);
    for (std::size_t i = 0; i < frames; ++i) {
      const auto sample =
          static_cast<std::int16_t>(std::lround(std::sin(phase) * amplitude * 32767));
      putLe(pcm, static_cast<std::uint16_t>(sample), 2);
      putLe(pcm, static_cast<std::uint16_t>(sample), 2);
      phase += 2 * M_PI * segment.hertz / kFixtureRate;
    }
  }
  std::string file = "RIFF";
  putLe(file, static_cast<std::uint32_t>(36 + pcm.size()), 4);
  file += "WAVEfmt ";
  putLe(file, 16, 4);
  putLe(file, 1, 2);  // PCM
  putLe(file, 2, 2);  // channels
  putLe(file, kFixtureRate, 4);
  putLe(file, kFixtureRate * 4, 4);
  putLe(file, 4, 2);
  putLe(file, 16, 2);
  file += "data";
  putLe(file, static_cast<std::uint32_t>(pcm.size()), 4);
  file += pcm;
  std::ofstream(path, std::ios::binary) << file;
}

void makeMp3(const std::string& mp3, const std::vector<ToneSegment>& segments) {
  if (std::filesystem::exists(mp3)) return;
  const std::string wav = mp3 + ".wav";
  writeToneWav(wav, segments);
  const char* argv[] = {"lame", "--quiet", "-b", "128", wav.c_str(), mp3.c_str(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "lame", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    throw std::runtime_error("cannot start lame");
  }
  int status = 0;
  waitpid(child, &status, 0);
  std::filesystem::remove(wav);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("lame failed");
}

std::string mp3Fixture(const std::string& name, const std::vector<ToneSegment>& segments) {
  const std::string mp3 = fixtureDir() + "/" + name + ".mp3";
  makeMp3(mp3, segments);
  return mp3;
}

std::string writeFixtureFile(const std::string& name, const std::string& bytes) {
  const std::string path = fixtureDir() + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string captureSinkDescription(const std::string& path) {
  std::filesystem::remove(path);
  return "audioconvert ! audio/x-raw,format=S16LE,channels=2 ! filesink location=\"" + path +
         "\" sync=true";
}

Capture readCapture(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Capture capture;
  capture.samples.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < capture.samples.size(); ++i) {
    const auto low = static_cast<unsigned char>(bytes[2 * i]);
    const auto high = static_cast<unsigned char>(bytes[2 * i + 1]);
    capture.samples[i] = static_cast<std::int16_t>(low | (high << 8));
  }
  return capture;
}

double channelRms(const Capture& capture, int channel, std::size_t first, std::size_t count) {
  const std::size_t end = std::min(capture.frames(), first + count);
  if (first >= end) return 0;
  double sum = 0;
  for (std::size_t i = first; i < end; ++i) {
    const double value = capture.samples[2 * i + static_cast<std::size_t>(channel)];
    sum += value * value;
  }
  return std::sqrt(sum / static_cast<double>(end - first));
}

double toneHertz(const Capture& capture, std::size_t first, std::size_t count) {
  const std::size_t end = std::min(capture.frames(), first + count);
  if (first + 1 >= end) return 0;
  int crossings = 0;
  for (std::size_t i = first + 1; i < end; ++i) {
    const bool before = capture.samples[2 * (i - 1)] < 0;
    const bool now = capture.samples[2 * i] < 0;
    if (before != now) ++crossings;
  }
  return crossings / 2.0 * kFixtureRate / static_cast<double>(end - first);
}

}  // namespace lunadio::testing
