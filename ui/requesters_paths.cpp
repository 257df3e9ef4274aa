#include "ui/requesters_paths.h"

#include <QDir>
#include <QRegularExpression>

#include "storage/user_folders.h"

namespace lunadio::ui {
namespace {

QString toQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

QString homeFolder() {
  const QByteArray home = qgetenv("HOME");
  return home.isEmpty() ? QDir::homePath() : QString::fromLocal8Bit(home);
}

}  // namespace

QStringList filtersFromPattern(std::u16string_view pattern) {
  const QStringList parts = toQString(pattern).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QStringList wildcards;
    for (const QString& wildcard : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      if (!wildcard.trimmed().isEmpty()) wildcards << wildcard.trimmed();
    }
    if (wildcards.isEmpty()) continue;
    const QString label = parts[i].isEmpty() ? wildcards.join(QLatin1Char(' ')) : parts[i];
    filters << label + QStringLiteral(" (") + wildcards.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return filters;
}

int filterIndex(const QStringList& filters, const QString& selected) {
  for (qsizetype i = 0; i < filters.size(); ++i) {
    const QString& filter = filters[i];
    if (filter == selected || filter.left(filter.lastIndexOf(QStringLiteral(" ("))) == selected) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool isValidFileName(const QString& name) {
  if (name.isEmpty()) return false;
  for (const QChar c : name) {
    if (c.unicode() < 32 || QStringLiteral("\"*/:<>?\\|").contains(c)) return false;
  }
  return true;
}

DefaultFile splitDefaultFile(std::u16string_view defaultFile, int maxNameChars) {
  const QString text = toQString(defaultFile);
  const qsizetype cut =
      std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char('/')));
  DefaultFile result;
  QString name = text;
  if (cut >= 0) {
    // A folder given as the root itself keeps its separator.
    result.folder = localFolder(cut == 0 ? text.left(1) : text.left(cut));
    name = text.mid(cut + 1);
  }
  if (maxNameChars >= 0) name.truncate(maxNameChars);
  if (isValidFileName(name)) result.name = name;
  return result;
}

QString localFolder(const QString& folder) {
  static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:(?:[\\\\/]+(.*))?$"));
  const auto match = drive.match(folder);
  if (match.hasMatch()) {
    QString rest = match.captured(1);
    while (rest.endsWith(QLatin1Char('\\')) || rest.endsWith(QLatin1Char('/'))) rest.chop(1);
    const bool music = rest.compare(QStringLiteral("Musique"), Qt::CaseInsensitive) == 0 ||
                       rest.compare(QStringLiteral("Music"), Qt::CaseInsensitive) == 0;
    return music ? musicFolder() : homeFolder();
  }
  QString local = folder;
  local.replace(QLatin1Char('\\'), QLatin1Char('/'));
  return local;
}

QString musicFolder() { return toQString(lunadio::musicFolder()); }

}  // namespace lunadio::ui
