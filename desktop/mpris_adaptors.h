#pragma once
// The two MPRIS interfaces as Qt D-Bus adaptors of one object. They read the published state and
// hand every call to the functions of mpris.cpp; they hold no state of their own. Private to
// lunadio_desktop.

#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QStringList>
#include <QVariantMap>

namespace lunadio::desktop {

inline constexpr char kMprisObjectPath[] = "/org/mpris/MediaPlayer2";
inline constexpr char kRootInterface[] = "org.mpris.MediaPlayer2";
inline constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";

class MprisRoot : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ canQuit)
  Q_PROPERTY(bool CanRaise READ canRaise)
  Q_PROPERTY(bool HasTrackList READ hasTrackList)
  Q_PROPERTY(QString Identity READ identity)
  Q_PROPERTY(QString DesktopEntry READ desktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

 public:
  explicit MprisRoot(QObject* parent) : QDBusAbstractAdaptor(parent) {}
  bool canQuit() const { return false; }
  bool canRaise() const { return true; }
  bool hasTrackList() const { return false; }
  QString identity() const { return QStringLiteral("Lunadio"); }
  QString desktopEntry() const { return QStringLiteral("lunadio"); }
  QStringList supportedUriSchemes() const { return {}; }
  QStringList supportedMimeTypes() const;

 public Q_SLOTS:
  void Raise();
  void Quit() {}  // CanQuit is false: the player ends only through its own confirmation
};

class MprisPlayer : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
  Q_PROPERTY(QString LoopStatus READ loopStatus WRITE setLoopStatus)
  Q_PROPERTY(double Rate READ rate WRITE setRate)
  Q_PROPERTY(bool Shuffle READ shuffle WRITE setShuffle)
  Q_PROPERTY(QVariantMap Metadata READ metadata)
  Q_PROPERTY(double Volume READ volume WRITE setVolume)
  Q_PROPERTY(qlonglong Position READ position)
  Q_PROPERTY(double MinimumRate READ rate)
  Q_PROPERTY(double MaximumRate READ rate)
  Q_PROPERTY(bool CanGoNext READ canGoNext)
  Q_PROPERTY(bool CanGoPrevious READ canGoNext)
  Q_PROPERTY(bool CanPlay READ trackLoaded)
  Q_PROPERTY(bool CanPause READ trackLoaded)
  Q_PROPERTY(bool CanSeek READ trackLoaded)
  Q_PROPERTY(bool CanControl READ canControl)

 public:
  explicit MprisPlayer(QObject* parent) : QDBusAbstractAdaptor(parent) {}
  QString playbackStatus() const;
  // Every track loops; a request for another mode changes nothing.
  QString loopStatus() const { return QStringLiteral("Track"); }
  void setLoopStatus(const QString&) {}
  double rate() const { return 1.0; }
  void setRate(double) {}
  bool shuffle() const { return false; }
  void setShuffle(bool) {}
  QVariantMap metadata() const;
  double volume() const;
  void setVolume(double volume);
  qlonglong position() const;
  bool canGoNext() const { return false; }
  bool trackLoaded() const;
  bool canControl() const { return true; }

 public Q_SLOTS:
  void Next() {}
  void Previous() {}
  void Play();
  void Pause();
  void PlayPause();
  void Stop();
  void Seek(qlonglong Offset);
  void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position);
  void OpenUri(const QString&) {}  // no URI scheme is offered

 Q_SIGNALS:
  void Seeked(qlonglong Position);
};

}  // namespace lunadio::desktop
