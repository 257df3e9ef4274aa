#pragma once
// Keeps the media-control signals a client of the bus receives.

#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <vector>

namespace lunadio::testing {

class SignalRecorder : public QObject {
  Q_OBJECT

 public:
  struct Change {
    QString interface;
    QVariantMap properties;
  };
  std::vector<Change> changes;
  std::vector<qlonglong> seeks;

 public Q_SLOTS:
  void propertiesChanged(const QString& interface, const QVariantMap& properties,
                         const QStringList&) {
    changes.push_back({interface, properties});
  }
  void seeked(qlonglong position) { seeks.push_back(position); }
};

}  // namespace lunadio::testing
