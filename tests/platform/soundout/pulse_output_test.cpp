// The sound server's backend against a real server of the test's own (a null sink, recorded through
// its monitor), and the default output's fallback when no server answers.
#include <gtest/gtest.h>
#include <pulse/simple.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/soundout/internal/default_output.h"
#include "platform/soundout/memory_output.h"
#include "platform/soundout/pulse_output.h"
#include "tests/platform/soundout/output_fixture.h"

extern char** environ;

namespace lunadio::soundout {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using testing::within;

bool onPath(const std::string& command) {
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "";
  while (!rest.empty()) {
    const std::size_t colon = rest.find(':');
    const std::string dir = rest.substr(0, colon);
    if (access((dir + "/" + command).c_str(), X_OK) == 0) return true;
    rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
  }
  return false;
}

std::string temporaryDirectory() {
  std::string name = (std::filesystem::temp_directory_path() / "lunadio-pulse-XXXXXX").string();
  return mkdtemp(name.data()) ? name : std::string();
}

// A PulseAudio daemon with a 44.1 kHz null sink, its socket in a directory of its own;
// PULSE_SERVER points this process at it.
class PulseServer {
 public:
  PulseServer() : dir_(temporaryDirectory()) {
    if (dir_.empty()) return;
    const std::string socket = dir_ + "/native";
    std::vector<std::string> args = {
        "pulseaudio",
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--disallow-exit",
        "--use-pid-file=no",
        "--log-target=file:" + dir_ + "/log",
        "-L",
        "module-null-sink sink_name=nullsink rate=44100",
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + socket};
    std::vector<std::string> env = {"HOME=" + dir_, "XDG_RUNTIME_DIR=" + dir_,
                                    "PULSE_RUNTIME_PATH=" + dir_ + "/run",
                                    std::string("PATH=") + std::getenv("PATH")};
    std::vector<char*> argv, envp;
    for (std::string& arg : args) argv.push_back(arg.data());
    for (std::string& var : env) envp.push_back(var.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    if (posix_spawnp(&pid_, "pulseaudio", nullptr, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = 0;
      return;
    }
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    up_ = within(milliseconds(10000), [&] {
      pa_simple* probe = pa_simple_new(nullptr, "probe", PA_STREAM_RECORD, "nullsink.monitor",
                                       "probe", &recordSpec, nullptr, nullptr, nullptr);
      if (probe) pa_simple_free(probe);
      return probe != nullptr;
    });
  }
  ~PulseServer() {
    stop();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  bool up() const { return up_; }
  void stop() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

  static constexpr pa_sample_spec recordSpec{PA_SAMPLE_FLOAT32NE, 44100, 2};

 private:
  std::string dir_;
  pid_t pid_ = 0;
  bool up_ = false;
};

// Records the sink's monitor until told to stop, noting whether anything but silence came by.
class MonitorRecorder {
 public:
  MonitorRecorder() {
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = 44100 / 50 * 8;
    stream_ = pa_simple_new(nullptr, "recorder", PA_STREAM_RECORD, "nullsink.monitor", "monitor",
                            &PulseServer::recordSpec, nullptr, &attributes, nullptr);
    if (!stream_) return;
    thread_ = std::thread([this] {
      std::vector<float> block(44100 / 50 * 2);
      while (!stop_.load() &&
             pa_simple_read(stream_, block.data(), block.size() * sizeof(float), nullptr) == 0) {
        for (float sample : block) {
          if (sample != 0.0f) heard_.store(true);
        }
      }
    });
  }
  ~MonitorRecorder() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    if (stream_) pa_simple_free(stream_);
  }
  bool recording() const { return stream_ != nullptr; }
  bool heard() const { return heard_.load(); }
  void forget() { heard_.store(false); }

 private:
  pa_simple* stream_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> heard_{false};
};

TEST(PulseOutput, PlaysOnTheServersSinkCorksWhenIdleClosesAfterSilenceAndNoticesTheServerGo) {
  if (!onPath("pulseaudio")) GTEST_SKIP() << "pulseaudio is not installed";
  PulseServer server;
  ASSERT_TRUE(server.up());
  MonitorRecorder recorder;
  ASSERT_TRUE(recorder.recording());

  auto output = std::make_shared<PulseOutput>(IdleTimes{milliseconds(40), milliseconds(800)});
  std::unique_ptr<SoundDevice> device;
  ASSERT_EQ(createSoundDevice(output, device), kOk);
  EXPECT_EQ(device->outputRateHz(), 44100u) << "the mixer runs at the sink's rate";
  EXPECT_TRUE(output->outputAvailable());
  EXPECT_EQ(output->streamState(), OutputState::Closed) << "no stream ahead of the first sound";
  std::unique_ptr<SoundBuffer> buffer;
  ASSERT_EQ(
      createPcm16Buffer(*device, 2, 44100,
                        SampleMemory::adopt(std::vector<std::int16_t>(2 * 4410, 3000)), buffer),
      kOk);

  ASSERT_EQ(buffer->play(PlayMode::Looping), kOk);
  EXPECT_EQ(output->streamState(), OutputState::Running);
  EXPECT_TRUE(within(milliseconds(5000), [&] { return output->writes() > 3; }));
  EXPECT_GT(device->stats().blocks, 0u);
  EXPECT_TRUE(within(milliseconds(5000), [&] { return recorder.heard(); }))
      << "the mixed sound reached the sink";

  ASSERT_EQ(buffer->stop(), kOk);
  ASSERT_TRUE(
      within(milliseconds(5000), [&] { return output->streamState() == OutputState::Paused; }));
  std::this_thread::sleep_for(milliseconds(100));
  recorder.forget();
  ASSERT_EQ(buffer->play(PlayMode::Looping), kOk);
  EXPECT_EQ(output->streamState(), OutputState::Running);
  EXPECT_TRUE(within(milliseconds(5000), [&] { return recorder.heard(); }))
      << "a play while corked is heard";
  EXPECT_EQ(output->streamsMade(), 1u) << "resumed, not made again";

  ASSERT_EQ(buffer->stop(), kOk);
  EXPECT_TRUE(
      within(milliseconds(5000), [&] { return output->streamState() != OutputState::Running; }));
  const std::uint64_t corkedAt = output->writes();
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_LE(output->writes(), corkedAt + 1) << "a corked stream asks for nothing";
  EXPECT_TRUE(
      within(milliseconds(5000), [&] { return output->streamState() == OutputState::Closed; }));

  ASSERT_EQ(buffer->play(PlayMode::Looping), kOk);
  EXPECT_EQ(output->streamState(), OutputState::Running) << "the play itself makes a new stream";
  EXPECT_EQ(output->streamsMade(), 2u);
  const std::uint64_t reopenedAt = output->writes();
  EXPECT_TRUE(within(milliseconds(5000), [&] { return output->writes() > reopenedAt + 3; }));

  server.stop();
  EXPECT_TRUE(within(milliseconds(5000), [&] { return !output->outputAvailable(); }));
  const std::uint64_t blocksAtLoss = device->stats().blocks;
  EXPECT_TRUE(within(milliseconds(5000), [&] { return device->stats().blocks > blocksAtLoss + 3; }))
      << "the mixer keeps its time without a server";
  device.reset();  // closes without a server
  EXPECT_EQ(buffer->stop(), kOk);
}

// Listens on a socket and never answers: a server that hangs.
int silentListener(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof(address.sun_path) - 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST(DefaultOutput, FallsBackSoonWhenNoServerAnswers) {
  unsetenv("SDL_AUDIODRIVER");
  const std::string dir = temporaryDirectory();
  ASSERT_FALSE(dir.empty());
  const int listener = silentListener(dir + "/hangs");
  ASSERT_GE(listener, 0);
  struct Case {
    const char* name;
    std::string server;
    milliseconds bound;
  };
  const Case cases[] = {
      {"no socket", "unix:" + dir + "/missing", milliseconds(1000)},
      {"a server that never answers", "unix:" + dir + "/hangs", milliseconds(3000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setenv("PULSE_SERVER", c.server.c_str(), 1);
    int fallbacks = 0;
    const auto fallback = [&] {
      ++fallbacks;
      return std::static_pointer_cast<Backend>(std::make_shared<MemoryOutput>());
    };
    const auto started = Clock::now();
    prepareDefaultSoundDevice();
    std::unique_ptr<SoundDevice> device;
    EXPECT_EQ(createDefaultSoundDevice(fallback, device), kOk);
    EXPECT_LT(Clock::now() - started, c.bound);
    EXPECT_EQ(fallbacks, 1);
    releasePreparedDefaultSoundDevice();
  }
  close(listener);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace lunadio::soundout
