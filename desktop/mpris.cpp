#include "desktop/mpris.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <memory>

#include "core/no_throw.h"
#include "desktop/mpris_adaptors.h"
#include "ui/events.h"

namespace lunadio {
namespace {

constexpr char kConnectionName[] = "lunadio-media-controls";
constexpr char kBusName[] = "org.mpris.MediaPlayer2.lunadio";
constexpr char kNoTrack[] = "/org/mpris/MediaPlayer2/TrackList/NoTrack";

struct MediaControlsState {
  // -- main thread only
  bool connected = false;
  std::string busName;
  std::unique_ptr<QObject> exported;       // carries both adaptors
  desktop::MprisPlayer* player = nullptr;  // owned by `exported`
  MediaState published;
  unsigned trackNumber = 0;  // grows with every new path
  std::deque<MediaControlCall> calls;
  std::function<std::int64_t()> readPosition;
};

MediaControlsState& state() {
  static MediaControlsState instance;
  return instance;
}

bool onMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

// The address libdbus would use, without its X11 autolaunch: a desktop with no bus gets none
// started behind its back.
QString sessionBusAddress() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return QString::fromLocal8Bit(address);
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  if (runtimeDir == nullptr || *runtimeDir == '\0') return {};
  const std::string socketPath = std::string(runtimeDir) + "/bus";
  struct stat info {};
  if (::stat(socketPath.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return {};
  return QStringLiteral("unix:path=") + QString::fromLocal8Bit(socketPath.c_str());
}

QDBusConnection connection() { return QDBusConnection(QString::fromLatin1(kConnectionName)); }

QString qtText(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QDBusObjectPath trackId(const MediaControlsState& s) {
  if (!s.published.trackLoaded) return QDBusObjectPath(QString::fromLatin1(kNoTrack));
  return QDBusObjectPath(QStringLiteral("/org/mpris/MediaPlayer2/lunadio/track/") +
                         QString::number(s.trackNumber));
}

QString statusText(PlaybackStatus status) {
  switch (status) {
    case PlaybackStatus::Playing:
      return QStringLiteral("Playing");
    case PlaybackStatus::Paused:
      return QStringLiteral("Paused");
    case PlaybackStatus::Stopped:
      break;
  }
  return QStringLiteral("Stopped");
}

QVariantMap metadataOf(const MediaControlsState& s) {
  QVariantMap metadata;
  metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId(s)));
  if (!s.published.trackLoaded) return metadata;
  metadata.insert(QStringLiteral("mpris:length"),
                  QVariant::fromValue(qlonglong{s.published.lengthUs}));
  metadata.insert(QStringLiteral("xesam:title"), qtText(s.published.title));
  if (!s.published.path.empty()) {
    metadata.insert(QStringLiteral("xesam:url"),
                    QUrl::fromLocalFile(qtText(s.published.path)).toString(QUrl::FullyEncoded));
  }
  return metadata;
}

void queueCall(const MediaControlCall& call) {
  std::deque<MediaControlCall>& calls = state().calls;
  if (calls.size() >= MediaControlQueueMax) {
    calls.back() = call;
    return;
  }
  calls.push_back(call);
  postEvent(EventMediaControl, 0, 0, static_cast<int>(call.method), 0);
}

void queueMethod(MediaControlMethod method) { queueCall({method, 0, 0}); }

void announceChanged(const QVariantMap& changed) {
  if (changed.isEmpty()) return;
  QDBusMessage signal = QDBusMessage::createSignal(
      QString::fromLatin1(desktop::kMprisObjectPath),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("PropertiesChanged"));
  signal << QString::fromLatin1(desktop::kPlayerInterface) << changed << QStringList();
  connection().send(signal);
}

}  // namespace

namespace desktop {

QStringList MprisRoot::supportedMimeTypes() const {
  return {QStringLiteral("audio/x-wav"),        QStringLiteral("audio/wav"),
          QStringLiteral("audio/vnd.wave"),     QStringLiteral("audio/ogg"),
          QStringLiteral("audio/x-vorbis+ogg"), QStringLiteral("audio/vorbis"),
          QStringLiteral("audio/flac"),         QStringLiteral("audio/x-flac"),
          QStringLiteral("audio/mpeg"),         QStringLiteral("audio/mp3")};
}

void MprisRoot::Raise() { queueMethod(MediaControlMethod::Raise); }

QString MprisPlayer::playbackStatus() const { return statusText(state().published.status); }
QVariantMap MprisPlayer::metadata() const { return metadataOf(state()); }
double MprisPlayer::volume() const { return state().published.volume; }
qlonglong MprisPlayer::position() const {
  const MediaControlsState& s = state();
  if (s.readPosition && s.published.trackLoaded) {
    return noThrow(qlonglong{s.published.positionUs}, [&] { return qlonglong{s.readPosition()}; });
  }
  return s.published.positionUs;
}
bool MprisPlayer::trackLoaded() const { return state().published.trackLoaded; }

void MprisPlayer::setVolume(double volume) {
  if (std::isnan(volume)) return;
  queueCall({MediaControlMethod::SetVolume, 0, std::clamp(volume, 0.0, 1.0)});
}

// Without a track there is nothing to play, pause or seek, as CanPlay and its kin say.
void MprisPlayer::Play() {
  if (trackLoaded()) queueMethod(MediaControlMethod::Play);
}
void MprisPlayer::Pause() {
  if (trackLoaded()) queueMethod(MediaControlMethod::Pause);
}
void MprisPlayer::PlayPause() {
  if (trackLoaded()) queueMethod(MediaControlMethod::PlayPause);
}
void MprisPlayer::Stop() {
  if (trackLoaded()) queueMethod(MediaControlMethod::Stop);
}
void MprisPlayer::Seek(qlonglong offset) {
  if (trackLoaded() && offset != 0) queueCall({MediaControlMethod::Seek, offset, 0});
}
void MprisPlayer::SetPosition(const QDBusObjectPath& track, qlonglong position) {
  // A call meant for an earlier track, or outside this one, is ignored.
  const MediaControlsState& s = state();
  if (!trackLoaded() || track != trackId(s) || position < 0 || position > s.published.lengthUs) {
    return;
  }
  queueCall({MediaControlMethod::SetPosition, position, 0});
}

}  // namespace desktop

bool startMediaControls() {
  if (!onMainThread()) return false;
  stopMediaControls();
  return noThrow(false, [] {
    const QString address = sessionBusAddress();
    if (address.isEmpty()) return false;
    MediaControlsState& s = state();
    QDBusConnection bus =
        QDBusConnection::connectToBus(address, QString::fromLatin1(kConnectionName));
    s.connected = true;
    if (!bus.isConnected()) {
      stopMediaControls();
      return false;
    }
    auto exported = std::make_unique<QObject>();
    new desktop::MprisRoot(exported.get());  // adaptors are owned by their object
    s.player = new desktop::MprisPlayer(exported.get());
    if (!bus.registerObject(QString::fromLatin1(desktop::kMprisObjectPath), exported.get())) {
      s.player = nullptr;
      stopMediaControls();
      return false;
    }
    s.exported = std::move(exported);
    // A name already held (another program under our name) leaves the per-process form MPRIS
    // allows for a second instance.
    QString name = QString::fromLatin1(kBusName);
    if (!bus.registerService(name)) {
      name += QStringLiteral(".instance") + QString::number(::getpid());
      if (!bus.registerService(name)) {
        stopMediaControls();
        return false;
      }
    }
    s.busName = name.toStdString();
    return true;
  });
}

void stopMediaControls() {
  if (!onMainThread()) return;
  MediaControlsState& s = state();
  if (!s.connected) return;
  noThrow([&] {
    QDBusConnection bus = connection();
    if (!s.busName.empty()) bus.unregisterService(QString::fromStdString(s.busName));
    if (s.exported) bus.unregisterObject(QString::fromLatin1(desktop::kMprisObjectPath));
  });
  s.player = nullptr;
  s.exported.reset();
  s.busName.clear();
  s.calls.clear();
  s.published = MediaState{};
  s.connected = false;
  QDBusConnection::disconnectFromBus(QString::fromLatin1(kConnectionName));
}

std::string mediaControlsBusName() { return state().busName; }

void publishMediaState(const MediaState& next) {
  if (!onMainThread()) return;
  MediaControlsState& s = state();
  const MediaState previous = s.published;
  const bool newTrack = next.trackLoaded && (!previous.trackLoaded || next.path != previous.path);
  if (newTrack) ++s.trackNumber;
  s.published = next;
  if (s.busName.empty()) return;
  noThrow([&] {
    QVariantMap changed;
    if (next.status != previous.status) {
      changed.insert(QStringLiteral("PlaybackStatus"), statusText(next.status));
    }
    if (newTrack || next.trackLoaded != previous.trackLoaded || next.title != previous.title ||
        next.lengthUs != previous.lengthUs) {
      changed.insert(QStringLiteral("Metadata"), metadataOf(s));
    }
    if (next.volume != previous.volume) changed.insert(QStringLiteral("Volume"), next.volume);
    if (next.trackLoaded != previous.trackLoaded) {
      for (const char* name : {"CanPlay", "CanPause", "CanSeek"}) {
        changed.insert(QString::fromLatin1(name), next.trackLoaded);
      }
    }
    announceChanged(changed);
  });
}

void setMediaPositionReader(std::function<std::int64_t()> readPositionUs) {
  state().readPosition = std::move(readPositionUs);
}

void announceSeek(std::int64_t positionUs) {
  if (!onMainThread()) return;
  MediaControlsState& s = state();
  s.published.positionUs = positionUs;
  if (s.player != nullptr && !s.busName.empty())
    noThrow([&] { emit s.player->Seeked(positionUs); });
}

std::optional<MediaControlCall> takeMediaControlCall() {
  std::deque<MediaControlCall>& calls = state().calls;
  if (calls.empty()) return std::nullopt;
  const MediaControlCall call = calls.front();
  calls.pop_front();
  return call;
}

}  // namespace lunadio
