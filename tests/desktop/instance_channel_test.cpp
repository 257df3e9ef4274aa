#include "desktop/instance_channel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/strings.h"
#include "desktop/instance_wire.h"
#include "tests/desktop/desktop_test_support.h"

namespace lunadio {
namespace {

using desktop::WireState;
using testing::countCode;
using testing::pumpFor;
using testing::pumpUntil;
using testing::pumpWhile;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kProgram[] = "lunadio-channel-test";

InstanceRequest openTrack(std::u16string path) {
  return {InstanceRequestKind::OpenTrack, std::move(path)};
}
const InstanceRequest kShowPanel{InstanceRequestKind::ShowPanel, {}};

TEST(InstanceWireTest, RequestsRoundTrip) {
  const std::vector<InstanceRequest> requests = {
      kShowPanel, openTrack(u"/home/moi/Musique/été.flac"),
      openTrack(u"/tmp/two\nlines and spaces.ogg"),
      openTrack(fromUtf8("/tmp/latin1-\xe9t\xe9.wav")),  // bytes that are not UTF-8
  };
  for (const InstanceRequest& request : requests) {
    const std::string bytes = desktop::encodeInstanceRequest(request);
    const desktop::WireParse parsed = desktop::parseInstanceRequest(bytes);
    ASSERT_EQ(parsed.state, WireState::Complete) << toUtf8(request.path);
    EXPECT_EQ(parsed.request, request);
    // Every shorter prefix still waits for more.
    for (std::size_t length = 0; length < bytes.size(); ++length) {
      EXPECT_EQ(desktop::parseInstanceRequest(bytes.substr(0, length)).state,
                WireState::Incomplete);
    }
  }
}

TEST(InstanceWireTest, MalformedRequestsAreRefused) {
  using namespace std::string_literals;
  const std::string longPath = "/" + std::string(InstanceRequestMaxBytes, 'a');
  const struct {
    std::string bytes;
    WireState state;
  } cases[] = {
      {"GET / HTTP/1.1\r\n", WireState::Invalid},
      {"\0"s, WireState::Invalid},
      {"lunadio\0"s, WireState::Invalid},
      {"lunadio1 open relative.ogg\0"s, WireState::Invalid},
      {"lunadio1 open \0"s, WireState::Invalid},
      {"lunadio1 open /\0"s, WireState::Invalid},
      {"lunadio1 shower\0"s, WireState::Invalid},
      {"lunadio1 play /a.ogg\0"s, WireState::Invalid},
      {"lunadio1 open " + longPath, WireState::Invalid},
      {"lunadio1 open " + longPath + '\0', WireState::Invalid},
      {"lunadio1 show\0trailing bytes are ignored"s, WireState::Complete},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(desktop::parseInstanceRequest(c.bytes).state, c.state) << c.bytes.substr(0, 40);
  }
}

// A private runtime directory per test, and the channel stopped after each.
class InstanceChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lunadio-runtime-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    runtimeDir_ = pattern;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) oldRuntimeDir_ = old;
    ::setenv("XDG_RUNTIME_DIR", runtimeDir_.c_str(), 1);
    while (takeInstanceRequest()) {
    }
  }
  void TearDown() override {
    stopInstanceChannel();
    pumpFor(10);
    if (oldRuntimeDir_.empty()) {
      ::unsetenv("XDG_RUNTIME_DIR");
    } else {
      ::setenv("XDG_RUNTIME_DIR", oldRuntimeDir_.c_str(), 1);
    }
    fs::remove_all(runtimeDir_);
  }

  static std::vector<InstanceRequest> takeAll() {
    std::vector<InstanceRequest> taken;
    while (auto request = takeInstanceRequest()) taken.push_back(*request);
    return taken;
  }

  std::string runtimeDir_;
  std::string oldRuntimeDir_;
};

// A raw client socket, for the clients that do not behave.
int connectRaw(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, std::string_view bytes) {
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

// Reads what the server wrote so far into `received`; true once it has closed its side (a
// connection still in the backlog when the listener goes is reset instead).
bool readUntilClosed(int fd, std::string& received) {
  char buffer[16];
  ssize_t count;
  while ((count = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
    received.append(buffer, count);
  return count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
}

TEST_F(InstanceChannelTest, SocketOnlyItsUserCanReach) {
  ASSERT_TRUE(startInstanceChannel(kProgram));
  const std::string path = instanceChannelPath(kProgram);
  EXPECT_EQ(path, runtimeDir_ + "/" + kProgram + "/instance");
  struct stat info {};
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::lstat(fs::path(path).parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  stopInstanceChannel();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(forwardToRunningInstance(kProgram, kShowPanel), ForwardResult::NoInstance);
}

TEST_F(InstanceChannelTest, DirectoryThatIsNotPrivateIsMadeSoOrAvoided) {
  // Ours but open to everyone: closed down to 0700.
  const std::string dir = runtimeDir_ + "/" + kProgram;
  ASSERT_EQ(::mkdir(dir.c_str(), 0777), 0);
  ::chmod(dir.c_str(), 0777);
  ASSERT_FALSE(instanceChannelPath(kProgram).empty());
  struct stat info {};
  ASSERT_EQ(::stat(dir.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // A symbolic link planted under our name is never followed.
  fs::remove(dir);
  fs::create_directory_symlink("/tmp", dir);
  const std::string path = instanceChannelPath(kProgram);
  EXPECT_EQ(path.rfind("/tmp/" + std::string(kProgram) + "-", 0), 0u) << path;
  fs::remove(dir);
  fs::remove_all(fs::path(path).parent_path());
}

TEST_F(InstanceChannelTest, StaleSocketOfACrashedInstanceIsReplaced) {
  const std::string path = instanceChannelPath(kProgram);
  {
    // Bound and closed without unlinking, as a killed process leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  EXPECT_EQ(forwardToRunningInstance(kProgram, kShowPanel), ForwardResult::NoInstance);
  ASSERT_TRUE(startInstanceChannel(kProgram));
  ForwardResult result{};
  pumpWhile([&] { result = forwardToRunningInstance(kProgram, kShowPanel); });
  EXPECT_EQ(result, ForwardResult::Acknowledged);
}

TEST_F(InstanceChannelTest, EachRequestArrivesWholeAsOneEvent) {
  ASSERT_TRUE(startInstanceChannel(kProgram));
  const std::u16string oddName = fromUtf8("/tmp/un\xe9t\xe9\nà deux lignes.ogg");
  const std::u16string cwd = fromUtf8(fs::current_path().string());
  const struct {
    InstanceRequest sent;
    InstanceRequest received;
  } cases[] = {
      {openTrack(u"/srv/musique/a.wav"), openTrack(u"/srv/musique/a.wav")},
      {kShowPanel, kShowPanel},
      {openTrack(oddName), openTrack(oddName)},
      {openTrack(u"relative/b.mp3"), openTrack(cwd + u"/relative/b.mp3")},
  };
  for (const auto& c : cases) {
    ForwardResult result{};
    const auto events = pumpWhile([&] { result = forwardToRunningInstance(kProgram, c.sent); });
    EXPECT_EQ(result, ForwardResult::Acknowledged);
    EXPECT_EQ(countCode(events, EventInstanceRequest), 1);
    EXPECT_EQ(takeAll(), std::vector<InstanceRequest>{c.received});
  }
}

TEST_F(InstanceChannelTest, WaitingRequestsAreCoalesced) {
  ASSERT_TRUE(startInstanceChannel(kProgram));
  // Not taken in between: the newest track replaces a waiting one, a waiting show covers a new
  // one, and each held request has its one event.
  const auto events = pumpWhile([&] {
    forwardToRunningInstance(kProgram, openTrack(u"/a.ogg"));
    forwardToRunningInstance(kProgram, kShowPanel);
    forwardToRunningInstance(kProgram, openTrack(u"/b.ogg"));
    forwardToRunningInstance(kProgram, kShowPanel);
    forwardToRunningInstance(kProgram, openTrack(u"/c.ogg"));
  });
  EXPECT_EQ(countCode(events, EventInstanceRequest), 2);
  EXPECT_EQ(takeAll(), (std::vector<InstanceRequest>{kShowPanel, openTrack(u"/c.ogg")}));
}

TEST_F(InstanceChannelTest, ClientReturnsOnTimeWhenNobodyAnswers) {
  // No server: refused at once.
  auto start = Clock::now();
  EXPECT_EQ(forwardToRunningInstance(kProgram, kShowPanel), ForwardResult::NoInstance);
  // Bounds against a hang, not speed checks: how long these take is the benchmarks' business.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));

  // A server whose loop does not run: the client gives up at its deadline, and the request is
  // still handled once the loop gets to it.
  ASSERT_TRUE(startInstanceChannel(kProgram));
  start = Clock::now();
  EXPECT_EQ(forwardToRunningInstance(kProgram, openTrack(u"/a.ogg"), 100),
            ForwardResult::Unanswered);
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(90));
  EXPECT_LT(waited, std::chrono::seconds(3));
  pumpUntil([] { return false; }, 100);
  EXPECT_EQ(takeAll(), std::vector<InstanceRequest>{openTrack(u"/a.ogg")});

  // A path no request can hold is not cut: it is not sent at all.
  const std::u16string huge = u"/" + std::u16string(InstanceRequestMaxBytes, u'x');
  EXPECT_EQ(forwardToRunningInstance(kProgram, openTrack(huge)), ForwardResult::Refused);
}

TEST_F(InstanceChannelTest, HostileClientsLeaveTheLoopResponsive) {
  ASSERT_TRUE(startInstanceChannel(kProgram));
  const std::string path = instanceChannelPath(kProgram);

  // One connects and stalls, one sends garbage and stalls, one sends 10 MB.
  const int stalled = connectRaw(path);
  const int garbage = connectRaw(path);
  ASSERT_GE(stalled, 0);
  ASSERT_GE(garbage, 0);
  ASSERT_GT(::send(garbage, "\x01\x02garbage\n", 10, MSG_NOSIGNAL), 0);
  std::atomic<std::size_t> bigSent{0};
  std::thread big([&] {
    const int fd = connectRaw(path);
    if (fd < 0) return;
    const std::string block(64 * 1024, 'a');
    std::string head = "lunadio1 open /";
    ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    while (bigSent < 10u * 1024 * 1024) {
      const ssize_t count = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
      if (count <= 0) break;
      bigSent += static_cast<std::size_t>(count);
    }
    ::close(fd);
  });

  // Meanwhile a proper request goes through, well within the client's time.
  ForwardResult result{};
  pumpWhile([&] { result = forwardToRunningInstance(kProgram, openTrack(u"/ok.flac"), 500); });
  EXPECT_EQ(result, ForwardResult::Acknowledged);
  pumpUntil([&] { return false; }, 200);
  big.join();
  EXPECT_LT(bigSent.load(), 10u * 1024 * 1024) << "the server read the whole 10 MB";

  // The stalled client is dropped after its time; so is the garbage.
  pumpFor(1200);
  char byte;
  EXPECT_EQ(::recv(stalled, &byte, 1, MSG_DONTWAIT), 0);
  EXPECT_EQ(::recv(garbage, &byte, 1, MSG_DONTWAIT), 0);
  ::close(stalled);
  ::close(garbage);
  EXPECT_EQ(takeAll(), std::vector<InstanceRequest>{openTrack(u"/ok.flac")});
}

TEST_F(InstanceChannelTest, FloodIsCoalescedAndBounded) {
  ASSERT_TRUE(startInstanceChannel(kProgram));
  std::atomic<int> acknowledged{0};
  std::u16string lastAcknowledged;
  const auto events = pumpWhile([&] {
    const auto end = Clock::now() + std::chrono::milliseconds(1500);
    for (int i = 0; i < 1000 && Clock::now() < end; ++i) {
      const std::u16string path = u"/flood/" + numberText(i) + u".ogg";
      if (forwardToRunningInstance(kProgram, openTrack(path)) == ForwardResult::Acknowledged) {
        ++acknowledged;
        lastAcknowledged = path;
      }
    }
  });
  EXPECT_GT(acknowledged.load(), 100);
  // Nothing taken during the flood: one request waits, the newest, with its one event.
  EXPECT_EQ(countCode(events, EventInstanceRequest), 1);
  EXPECT_EQ(takeAll(), std::vector<InstanceRequest>{openTrack(lastAcknowledged)});

  // After the flood a request is served as before.
  ForwardResult result{};
  const auto later = pumpWhile([&] { result = forwardToRunningInstance(kProgram, kShowPanel); });
  EXPECT_EQ(result, ForwardResult::Acknowledged);
  EXPECT_EQ(countCode(later, EventInstanceRequest), 1);
  EXPECT_EQ(takeAll(), std::vector<InstanceRequest>{kShowPanel});
}

TEST_F(InstanceChannelTest, PathTheSocketAddressCannotHoldMeansNoChannel) {
  // The runtime directory grown so that the socket's path is `length` bytes long.
  const std::size_t room = sizeof(sockaddr_un::sun_path);
  const std::size_t fixed = runtimeDir_.size() + 2 + std::strlen(kProgram) + 9;  // "/instance"
  const auto runtimeFor = [&](std::size_t length) {
    const std::string dir = runtimeDir_ + "/" + std::string(length - fixed, 'r');
    fs::create_directories(dir);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    return dir;
  };
  // The longest that fits with its NUL works end to end.
  runtimeFor(room - 1);
  ASSERT_TRUE(startInstanceChannel(kProgram));
  EXPECT_EQ(instanceChannelPath(kProgram).size(), room - 1);
  ForwardResult result{};
  pumpWhile([&] { result = forwardToRunningInstance(kProgram, kShowPanel); });
  EXPECT_EQ(result, ForwardResult::Acknowledged);
  // One byte more would be cut short by the kernel: no channel, and no directory left for it.
  const std::string tooLong = runtimeFor(room);
  EXPECT_FALSE(startInstanceChannel(kProgram));
  EXPECT_FALSE(instanceChannelListening());
  EXPECT_EQ(instanceChannelPath(kProgram), "");
  EXPECT_FALSE(fs::exists(tooLong + "/" + kProgram));
  EXPECT_EQ(forwardToRunningInstance(kProgram, kShowPanel), ForwardResult::NoInstance);
}

TEST_F(InstanceChannelTest, LiveSocketIsNeverTakenOver) {
  const std::string path = instanceChannelPath(kProgram);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  const int other = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::bind(other, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(other, 4), 0);
  EXPECT_FALSE(startInstanceChannel(kProgram));
  // Still the other's: a client reaches it.
  const int client = connectRaw(path);
  EXPECT_GE(::accept4(other, nullptr, nullptr, SOCK_CLOEXEC), 0);
  ::close(client);
  ::close(other);
}

TEST_F(InstanceChannelTest, ClientsThatHangUpEarlyNeverReadOrSendSlowly) {
  using namespace std::string_literals;
  ASSERT_TRUE(startInstanceChannel(kProgram));
  const std::string path = instanceChannelPath(kProgram);
  std::vector<int> silent;
  const auto events = pumpWhile([&] {
    int fd = connectRaw(path);  // half a request, then gone: nothing is held for it
    sendAll(fd, "lunadio1 open /half.ogg");
    ::close(fd);
    // A whole request and gone before the answer: held, and the answer to a closed socket
    // must not raise SIGPIPE here.
    fd = connectRaw(path);
    sendAll(fd, "lunadio1 open /gone.ogg\0"s);
    ::close(fd);
    // More than are served at once, sending and never reading nor hanging up.
    for (int i = 0; i < 12; ++i) {
      silent.push_back(connectRaw(path));
      sendAll(silent.back(), "lunadio1 show\0"s);
    }
    // One byte per wake-up, answered whole.
    fd = connectRaw(path);
    for (const char byte : "lunadio1 show"s + '\0') {
      sendAll(fd, std::string_view(&byte, 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Well before any idle second: a server that kept answered clients until they hang up would
    // still be holding the silent ones, and this one would wait in the backlog for their drop.
    timeval limit{0, 900'000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char answer[8]{};
    EXPECT_EQ(::recv(fd, answer, sizeof answer, MSG_WAITALL), 3);
    EXPECT_STREQ(answer, "ok\n");
    ::close(fd);
  });
  EXPECT_EQ(countCode(events, EventInstanceRequest), 2);
  EXPECT_EQ(takeAll(), (std::vector<InstanceRequest>{openTrack(u"/gone.ogg"), kShowPanel}));
  for (const int fd : silent) {
    std::string answer;
    EXPECT_TRUE(readUntilClosed(fd, answer));
    EXPECT_EQ(answer, "ok\n");
    ::close(fd);
  }
}

TEST_F(InstanceChannelTest, ManyClientsAtOnceAreAllAnswered) {
  ASSERT_TRUE(startInstanceChannel(kProgram));
  std::atomic<int> acknowledged{0};
  pumpWhile([&] {
    std::vector<std::thread> clients;
    for (int i = 0; i < 40; ++i) {
      clients.emplace_back([&] {
        if (forwardToRunningInstance(kProgram, kShowPanel, 5000) == ForwardResult::Acknowledged) {
          ++acknowledged;
        }
      });
    }
    for (std::thread& client : clients) client.join();
  });
  EXPECT_EQ(acknowledged.load(), 40);
  EXPECT_EQ(takeAll(), std::vector<InstanceRequest>{kShowPanel});
}

TEST_F(InstanceChannelTest, StopClosesEveryConnectionAndLeaksNoDescriptor) {
  const auto openDescriptors = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  };
  const auto before = openDescriptors();
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(startInstanceChannel(kProgram));
    const std::string path = instanceChannelPath(kProgram);
    pumpWhile([&] { forwardToRunningInstance(kProgram, kShowPanel); });
    // Eight served and stalled, one of them with half a request, and one in the backlog.
    std::vector<int> clients;
    for (int i = 0; i < 9; ++i) clients.push_back(connectRaw(path));
    sendAll(clients[0], "lunadio1 open /ha");
    pumpFor(50);
    stopInstanceChannel();
    EXPECT_FALSE(fs::exists(path));
    for (const int fd : clients) {
      std::string received;
      EXPECT_TRUE(readUntilClosed(fd, received));  // at once, not after an idle second
      ::close(fd);
    }
  }
  EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
}  // namespace lunadio
