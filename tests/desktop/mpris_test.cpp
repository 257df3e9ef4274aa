#include "desktop/mpris.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QObject>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "tests/desktop/bus_daemon.h"
#include "tests/desktop/desktop_test_support.h"
#include "tests/desktop/signal_recorder.h"

namespace lunadio {
namespace {

using testing::countCode;
using testing::pumpFor;
using testing::pumpUntil;

const QString kService = QStringLiteral("org.mpris.MediaPlayer2.lunadio");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr std::int64_t kSecondUs = 1'000'000;

MediaState playingTrack() {
  MediaState state;
  state.status = PlaybackStatus::Playing;
  state.trackLoaded = true;
  state.title = u"Été indien";
  state.path = u"/home/moi/Musique/été indien.ogg";
  state.lengthUs = 180 * kSecondUs;
  state.positionUs = 3 * kSecondUs;
  state.volume = 0.5;
  return state;
}

class MediaControlsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    bus_ = std::make_unique<testing::PrivateBus>();
    ASSERT_FALSE(bus_->address().empty()) << "dbus-daemon did not start";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().c_str(), 1);
    client_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
        QString::fromStdString(bus_->address()), QStringLiteral("test-client")));
    ASSERT_TRUE(client_->isConnected());
  }
  static void TearDownTestSuite() {
    client_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("test-client"));
    bus_.reset();
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  void SetUp() override {
    if (!client_) GTEST_SKIP();
    ASSERT_TRUE(startMediaControls());
    while (takeMediaControlCall()) {
    }
    pumpFor(10);
    seen_.clear();
  }
  void TearDown() override {
    stopMediaControls();
    pumpFor(10);
  }

  // Calls a method on the player and keeps the loop going until the answer comes.
  static QDBusMessage call(const QString& interface, const QString& method,
                           const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, interface, method);
    message.setArguments(arguments);
    QDBusPendingCall pending = client_->asyncCall(message);
    keep(pumpUntil([&] { return pending.isFinished(); }));
    return pending.reply();
  }
  static QVariantMap allProperties(const QString& interface) {
    const QDBusMessage reply = call(kProperties, QStringLiteral("GetAll"), {interface});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return qdbus_cast<QVariantMap>(reply.arguments().at(0));
  }
  static QVariant property(const QString& interface, const QString& name) {
    const QDBusMessage reply = call(kProperties, QStringLiteral("Get"), {interface, name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return qdbus_cast<QDBusVariant>(reply.arguments().at(0)).variant();
  }
  static void setProperty(const QString& name, const QVariant& value) {
    call(kProperties, QStringLiteral("Set"),
         {kPlayer, name, QVariant::fromValue(QDBusVariant(value))});
  }
  static QVariantMap metadata() {
    return qdbus_cast<QVariantMap>(property(kPlayer, QStringLiteral("Metadata")));
  }
  static QString currentTrackId() {
    return qdbus_cast<QDBusObjectPath>(metadata().value(QStringLiteral("mpris:trackid"))).path();
  }

  // The events the loop took while the tests waited, since the last look.
  static void keep(const std::vector<testing::PumpedEvent>& events) {
    seen_.insert(seen_.end(), events.begin(), events.end());
  }
  static std::vector<testing::PumpedEvent> takeSeen() {
    keep(pumpFor(20));
    return std::exchange(seen_, {});
  }

  static std::vector<MediaControlCall> takeCalls() {
    std::vector<MediaControlCall> calls;
    while (auto next = takeMediaControlCall()) calls.push_back(*next);
    return calls;
  }

  static std::unique_ptr<testing::PrivateBus> bus_;
  static std::unique_ptr<QDBusConnection> client_;
  static inline std::vector<testing::PumpedEvent> seen_;
};

std::unique_ptr<testing::PrivateBus> MediaControlsTest::bus_;
std::unique_ptr<QDBusConnection> MediaControlsTest::client_;

TEST_F(MediaControlsTest, RegistersTheRootInterface) {
  EXPECT_EQ(mediaControlsBusName(), kService.toStdString());
  const QVariantMap root = allProperties(kRoot);
  EXPECT_EQ(root.value(QStringLiteral("Identity")).toString(), QStringLiteral("Lunadio"));
  EXPECT_EQ(root.value(QStringLiteral("DesktopEntry")).toString(), QStringLiteral("lunadio"));
  EXPECT_TRUE(root.value(QStringLiteral("CanRaise")).toBool());
  EXPECT_FALSE(root.value(QStringLiteral("CanQuit")).toBool());
  EXPECT_FALSE(root.value(QStringLiteral("HasTrackList")).toBool());
  EXPECT_TRUE(root.value(QStringLiteral("SupportedMimeTypes"))
                  .toStringList()
                  .contains(QStringLiteral("audio/x-vorbis+ogg")));

  call(kRoot, QStringLiteral("Raise"));
  const auto raised = takeSeen();
  EXPECT_EQ(countCode(raised, EventMediaControl), 1);
  const std::vector<MediaControlCall> calls = takeCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].method, MediaControlMethod::Raise);
}

TEST_F(MediaControlsTest, PlayerPropertiesFollowThePublishedState) {
  QVariantMap player = allProperties(kPlayer);
  EXPECT_EQ(player.value(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Stopped"));
  EXPECT_FALSE(player.value(QStringLiteral("CanPlay")).toBool());
  EXPECT_EQ(currentTrackId(), QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack"));

  publishMediaState(playingTrack());
  player = allProperties(kPlayer);
  EXPECT_EQ(player.value(QStringLiteral("PlaybackStatus")).toString(), QStringLiteral("Playing"));
  EXPECT_EQ(player.value(QStringLiteral("LoopStatus")).toString(), QStringLiteral("Track"));
  EXPECT_DOUBLE_EQ(player.value(QStringLiteral("Volume")).toDouble(), 0.5);
  EXPECT_EQ(player.value(QStringLiteral("Position")).toLongLong(), 3 * kSecondUs);
  for (const char* name : {"CanPlay", "CanPause", "CanSeek", "CanControl"}) {
    EXPECT_TRUE(player.value(QString::fromLatin1(name)).toBool()) << name;
  }
  EXPECT_FALSE(player.value(QStringLiteral("CanGoNext")).toBool());
  EXPECT_FALSE(player.value(QStringLiteral("CanGoPrevious")).toBool());

  const QVariantMap data = metadata();
  EXPECT_EQ(data.value(QStringLiteral("xesam:title")).toString(), QStringLiteral("Été indien"));
  EXPECT_EQ(data.value(QStringLiteral("xesam:url")).toString(),
            QStringLiteral("file:///home/moi/Musique/%C3%A9t%C3%A9%20indien.ogg"));
  EXPECT_EQ(data.value(QStringLiteral("mpris:length")).toLongLong(), 180 * kSecondUs);
  const QString firstTrack = currentTrackId();
  EXPECT_TRUE(firstTrack.startsWith(QStringLiteral("/org/mpris/MediaPlayer2/lunadio/track/")));

  // Another file is another track, even under the same title.
  MediaState next = playingTrack();
  next.path = u"/tmp/autre.wav";
  publishMediaState(next);
  EXPECT_NE(currentTrackId(), firstTrack);
}

TEST_F(MediaControlsTest, EveryChangeIsAnnouncedOnce) {
  testing::SignalRecorder recorder;
  ASSERT_TRUE(client_->connect(QString(), kPath, kProperties, QStringLiteral("PropertiesChanged"),
                               &recorder,
                               SLOT(propertiesChanged(QString, QVariantMap, QStringList))));
  ASSERT_TRUE(client_->connect(QString(), kPath, kPlayer, QStringLiteral("Seeked"), &recorder,
                               SLOT(seeked(qlonglong))));
  pumpFor(20);

  MediaState state = playingTrack();
  publishMediaState(state);
  pumpUntil([&] { return !recorder.changes.empty(); }, 2000);
  ASSERT_EQ(recorder.changes.size(), 1u);
  EXPECT_EQ(recorder.changes[0].interface, kPlayer);
  for (const char* name :
       {"PlaybackStatus", "Metadata", "Volume", "CanPlay", "CanPause", "CanSeek"}) {
    EXPECT_TRUE(recorder.changes[0].properties.contains(QString::fromLatin1(name))) << name;
  }

  // The same state, or only the position moving on: nothing to announce.
  publishMediaState(state);
  state.positionUs += kSecondUs;
  publishMediaState(state);
  const struct {
    void (*change)(MediaState&);
    QStringList announced;
  } cases[] = {
      {[](MediaState& s) { s.status = PlaybackStatus::Paused; }, {"PlaybackStatus"}},
      {[](MediaState& s) { s.volume = 0.75; }, {"Volume"}},
      {[](MediaState& s) { s.title = u"Autre"; }, {"Metadata"}},
      {[](MediaState& s) { s.path = u"/tmp/autre.ogg"; }, {"Metadata"}},
  };
  for (const auto& c : cases) {
    recorder.changes.clear();
    c.change(state);
    publishMediaState(state);
    pumpUntil([&] { return !recorder.changes.empty(); }, 2000);
    pumpFor(20);
    ASSERT_EQ(recorder.changes.size(), 1u) << c.announced.join(',').toStdString();
    EXPECT_EQ(recorder.changes[0].properties.keys(), c.announced);
  }

  announceSeek(42 * kSecondUs);
  pumpUntil([&] { return !recorder.seeks.empty(); }, 2000);
  EXPECT_EQ(recorder.seeks, std::vector<qlonglong>{42 * kSecondUs});
  EXPECT_EQ(property(kPlayer, QStringLiteral("Position")).toLongLong(), 42 * kSecondUs);
}

TEST_F(MediaControlsTest, MethodCallsBecomeEvents) {
  // Without a track there is nothing to play or seek.
  call(kPlayer, QStringLiteral("PlayPause"));
  call(kPlayer, QStringLiteral("Seek"), {qlonglong{kSecondUs}});
  pumpFor(20);
  EXPECT_TRUE(takeCalls().empty());

  publishMediaState(playingTrack());
  const QVariant track = QVariant::fromValue(QDBusObjectPath(currentTrackId()));
  const QVariant staleTrack = QVariant::fromValue(
      QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/lunadio/track/0")));
  const struct {
    QString method;
    QVariantList arguments;
    std::vector<MediaControlMethod> expected;
    std::int64_t microseconds;
  } cases[] = {
      {"PlayPause", {}, {MediaControlMethod::PlayPause}, 0},
      {"Play", {}, {MediaControlMethod::Play}, 0},
      {"Pause", {}, {MediaControlMethod::Pause}, 0},
      {"Stop", {}, {MediaControlMethod::Stop}, 0},
      {"Next", {}, {}, 0},
      {"Seek", {qlonglong{-5 * kSecondUs}}, {MediaControlMethod::Seek}, -5 * kSecondUs},
      {"SetPosition",
       {track, qlonglong{10 * kSecondUs}},
       {MediaControlMethod::SetPosition},
       10 * kSecondUs},
      {"SetPosition", {staleTrack, qlonglong{10 * kSecondUs}}, {}, 0},
      {"SetPosition", {track, qlonglong{181 * kSecondUs}}, {}, 0},
      {"SetPosition", {track, qlonglong{-1}}, {}, 0},
  };
  for (const auto& c : cases) {
    const QDBusMessage reply = call(kPlayer, c.method, c.arguments);
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << c.method.toStdString();
    const auto events = takeSeen();
    const std::vector<MediaControlCall> calls = takeCalls();
    ASSERT_EQ(calls.size(), c.expected.size()) << c.method.toStdString();
    EXPECT_EQ(countCode(events, EventMediaControl), int(c.expected.size()));
    if (calls.empty()) continue;
    EXPECT_EQ(calls[0].method, c.expected[0]);
    EXPECT_EQ(events[0].type, static_cast<int>(c.expected[0]));
    EXPECT_EQ(calls[0].microseconds, c.microseconds) << c.method.toStdString();
  }

  const struct {
    double asked;
    double passed;
  } volumes[] = {{0.25, 0.25}, {1.5, 1.0}, {-0.5, 0.0}};
  for (const auto& v : volumes) {
    setProperty(QStringLiteral("Volume"), v.asked);
    pumpFor(20);
    const std::vector<MediaControlCall> calls = takeCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, MediaControlMethod::SetVolume);
    EXPECT_DOUBLE_EQ(calls[0].volume, v.passed);
  }
  // The volume the desktop sees stays the application's until it publishes another.
  EXPECT_DOUBLE_EQ(property(kPlayer, QStringLiteral("Volume")).toDouble(), 0.5);
}

TEST_F(MediaControlsTest, FloodOfCallsStaysBounded) {
  publishMediaState(playingTrack());
  std::vector<QDBusPendingCall> pending;
  for (int i = 0; i < 300; ++i) {
    pending.push_back(client_->asyncCall(
        QDBusMessage::createMethodCall(kService, kPath, kPlayer, QStringLiteral("PlayPause"))));
  }
  const auto events = pumpUntil([&] {
    for (const QDBusPendingCall& p : pending) {
      if (!p.isFinished()) return false;
    }
    return true;
  });
  EXPECT_LE(countCode(events, EventMediaControl), int{MediaControlQueueMax});
  EXPECT_EQ(takeCalls().size(), MediaControlQueueMax);
}

TEST(MediaControlsWithoutBusTest, NothingRegisteredNothingPrinted) {
  const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string saved = old != nullptr ? old : "";
  char pattern[] = "/tmp/lunadio-nobus-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const char* oldRuntime = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedRuntime = oldRuntime != nullptr ? oldRuntime : "";
  ::setenv("XDG_RUNTIME_DIR", pattern, 1);

  for (const char* address : {"", "unix:path=/nonexistent/lunadio-bus"}) {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(startMediaControls()) << address;
    publishMediaState(playingTrack());
    announceSeek(kSecondUs);
    stopMediaControls();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << address;
    EXPECT_EQ(mediaControlsBusName(), "");
  }

  ::rmdir(pattern);
  if (saved.empty()) {
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  } else {
    ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
  }
  if (savedRuntime.empty()) {
    ::unsetenv("XDG_RUNTIME_DIR");
  } else {
    ::setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
  }
}

}  // namespace
}  // namespace lunadio
