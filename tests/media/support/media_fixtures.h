#pragma once
// Audio fixtures for the media tests: tone WAV files written here and MP3 files made from them by
// the `lame` encoder, in a temporary folder that lives as long as the test process.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lunadio::testing {

struct ToneSegment {
  double seconds = 0;
  double hertz = 0;
};

inline constexpr int kFixtureRate = 44100;

// The process's fixture folder (made on first use, removed at exit).
const std::string& fixtureDir();

// Writes a 16-bit stereo WAV of the segments in turn at `amplitude` (0..1 of full scale).
void writeToneWav(const std::string& path, const std::vector<ToneSegment>& segments,
                  double amplitude = 0.5);

// Encodes the segments with `lame` at 128 kbit/s into `mp3Path`, unless that file exists.
void makeMp3(const std::string& mp3Path, const std::vector<ToneSegment>& segments);
// `name`.mp3 in the fixture folder, made once by makeMp3.
std::string mp3Fixture(const std::string& name, const std::vector<ToneSegment>& segments);

// Writes `bytes` to `name` in the fixture folder and returns its path.
std::string writeFixtureFile(const std::string& name, const std::string& bytes);

// Polls `condition` every 5 ms until it holds or `limit` passes; returns the last result.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

// A raw capture of what a player plays: 16-bit little-endian stereo.
struct Capture {
  std::vector<std::int16_t> samples;  // interleaved left, right
  std::size_t frames() const { return samples.size() / 2; }
};
// The launch description that writes the capture to `path` at real-time pace. filesink empties
// its file on every flush, so a capture holds what was played since the last seek or stop.
std::string captureSinkDescription(const std::string& path);
Capture readCapture(const std::string& path);

// Root mean square of one channel (0 left, 1 right) over frames [first, first + count).
double channelRms(const Capture& capture, int channel, std::size_t first, std::size_t count);
// The tone's frequency in hertz from the zero crossings of the left channel over the frames.
double toneHertz(const Capture& capture, std::size_t first, std::size_t count);

}  // namespace lunadio::testing
