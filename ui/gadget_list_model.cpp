#include "ui/gadget_list_model.h"

#include <QTimer>

#include "core/strings.h"

namespace lunadio::ui {
namespace {

QColor toColour(std::uint32_t stored) {
  const auto colour = static_cast<std::int32_t>(stored - 1);
  return QColor(redOf(colour), greenOf(colour), blueOf(colour));
}

// The `column`-th line-feed separated part of `text`.
QStringView segment(const QString& text, int column) {
  qsizetype start = 0;
  for (int i = 0; i < column; ++i) {
    const qsizetype next = text.indexOf(QChar(u'\n'), start);
    if (next < 0) return {};
    start = next + 1;
  }
  const qsizetype end = text.indexOf(QChar(u'\n'), start);
  return QStringView(text).mid(start, end < 0 ? -1 : end - start);
}

}  // namespace

int ListModel::addRow(int position, const QString& text) {
  if (position < 0 || position >= count()) {
    rows_.push_back(Row{text, 0, nullptr});
    scheduleAnnounce();
    return count() - 1;
  }
  announce();
  beginInsertRows({}, position, position);
  rows_.insert(rows_.begin() + position, Row{text, 0, nullptr});
  ++announced_;
  endInsertRows();
  return position;
}

void ListModel::appendRows(std::vector<GadgetItem>& items) {
  const std::size_t words = static_cast<std::size_t>(columns()) * 2;
  auto stored = [](std::int32_t colour) {
    return colour == -1 ? 0u : static_cast<std::uint32_t>(colour & 0xFFFFFF) + 1;
  };
  rows_.reserve(rows_.size() + items.size());
  for (GadgetItem& item : items) {
    Row row{QString::fromUtf16(item.text.data(), static_cast<qsizetype>(item.text.size())),
            item.data, nullptr};
    const std::uint32_t front = stored(item.frontColour);
    const std::uint32_t back = stored(item.backColour);
    if ((front != 0 || back != 0) && words > 0) {
      row.colours = std::make_unique<std::uint32_t[]>(words);
      for (std::size_t c = 0; c < words; c += 2) {
        row.colours[c] = front;
        row.colours[c + 1] = back;
      }
    }
    rows_.push_back(std::move(row));
  }
  scheduleAnnounce();
}

void ListModel::clear() {
  beginResetModel();
  rows_.clear();
  rows_.shrink_to_fit();
  announced_ = 0;
  endResetModel();
}

QString ListModel::cell(int item, int column) const {
  if (item < 0 || item >= count() || column < 0) return {};
  return segment(rows_[static_cast<std::size_t>(item)].text, column).toString();
}

void ListModel::setCell(int item, int column, const QString& text) {
  if (item < 0 || item >= count() || column < 0) return;
  QString& joined = rows_[static_cast<std::size_t>(item)].text;
  QStringList cells = joined.split(QChar(u'\n'));
  while (cells.size() <= column) cells.append(QString());
  // A line feed in a cell's own text would shift the cells after it.
  cells[column] = QString(text).replace(QChar(u'\n'), QChar(u' '));
  joined = cells.join(QChar(u'\n'));
  changedRows(item, item);
}

void ListModel::setCellColour(int item, int attribute, std::int32_t colour, int column) {
  if (attribute != 1 && attribute != 2) return;
  if (item < -1 || item >= count() || column < -1 || column >= columns()) return;
  const int firstItem = item == -1 ? 0 : item;
  const int lastItem = item == -1 ? count() - 1 : item;
  const int firstColumn = column == -1 ? 0 : column;
  const int lastColumn = column == -1 ? columns() - 1 : column;
  const std::uint32_t stored = colour == -1 ? 0 : static_cast<std::uint32_t>(colour & 0xFFFFFF) + 1;
  const std::size_t words = static_cast<std::size_t>(columns()) * 2;
  for (int i = firstItem; i <= lastItem; ++i) {
    Row& row = rows_[static_cast<std::size_t>(i)];
    if (!row.colours) {
      if (stored == 0) continue;
      row.colours = std::make_unique<std::uint32_t[]>(words);
    }
    for (int c = firstColumn; c <= lastColumn; ++c) {
      row.colours[static_cast<std::size_t>(c) * 2 + static_cast<std::size_t>(attribute - 1)] =
          stored;
    }
  }
  if (lastItem >= firstItem) changedRows(firstItem, lastItem);
}

std::int32_t ListModel::cellColour(int item, int attribute, int column) const {
  if (item < 0 || item >= count() || column < 0 || column >= columns()) return -1;
  if (attribute != 1 && attribute != 2) return -1;
  const Row& row = rows_[static_cast<std::size_t>(item)];
  if (!row.colours) return -1;
  const std::uint32_t stored =
      row.colours[static_cast<std::size_t>(column) * 2 + static_cast<std::size_t>(attribute - 1)];
  return stored == 0 ? -1 : static_cast<std::int32_t>(stored - 1);
}

void ListModel::setItemData(int item, std::intptr_t value) {
  if (item >= 0 && item < count()) rows_[static_cast<std::size_t>(item)].data = value;
}

std::intptr_t ListModel::itemData(int item) const {
  return item >= 0 && item < count() ? rows_[static_cast<std::size_t>(item)].data : 0;
}

void ListModel::insertColumn(int position, const QString& title) {
  if (position < 0 || position > columns()) position = columns();
  beginInsertColumns({}, position, position);
  titles_.insert(titles_.begin() + position, title);
  growColourArrays(position);
  // Cells at and after the new column move one column on.
  if (position < columns() - 1) {
    for (Row& row : rows_) {
      QStringList cells = row.text.split(QChar(u'\n'));
      if (cells.size() > position) {
        cells.insert(position, QString());
        row.text = cells.join(QChar(u'\n'));
      }
    }
  }
  endInsertColumns();
}

void ListModel::growColourArrays(int position) {
  const std::size_t oldColumns = titles_.size() - 1;
  const auto at = static_cast<std::size_t>(position);
  for (Row& row : rows_) {
    if (!row.colours) continue;
    auto grown = std::make_unique<std::uint32_t[]>((oldColumns + 1) * 2);
    for (std::size_t c = 0; c < oldColumns; ++c) {
      const std::size_t to = c < at ? c : c + 1;
      grown[to * 2] = row.colours[c * 2];
      grown[to * 2 + 1] = row.colours[c * 2 + 1];
    }
    row.colours = std::move(grown);
  }
}

QString ListModel::title(int column) const {
  return column >= 0 && column < columns() ? titles_[static_cast<std::size_t>(column)] : QString();
}

void ListModel::setTitle(int column, const QString& title) {
  if (column < 0 || column >= columns()) return;
  titles_[static_cast<std::size_t>(column)] = title;
  emit headerDataChanged(Qt::Horizontal, column, column);
}

void ListModel::setDefaultColours(std::int32_t front, std::int32_t back) {
  defaultFront_ = front;
  defaultBack_ = back;
  if (announced_ > 0) changedRows(0, announced_ - 1);
}

void ListModel::scheduleAnnounce() {
  if (announceScheduled_) return;
  announceScheduled_ = true;
  // After the batch of calls being applied now, so a burst of rows is one view update.
  QTimer::singleShot(0, this, [this] { announce(); });
}

void ListModel::announce() {
  announceScheduled_ = false;
  if (announced_ >= count()) return;
  beginInsertRows({}, announced_, count() - 1);
  announced_ = count();
  endInsertRows();
}

void ListModel::changedRows(int first, int last) {
  last = std::min(last, announced_ - 1);
  if (first > last) return;
  emit dataChanged(index(first, 0), index(last, std::max(columns() - 1, 0)));
}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : announced_;
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns();
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= announced_) return {};
  const Row& row = rows_[static_cast<std::size_t>(index.row())];
  const auto column = static_cast<std::size_t>(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return segment(row.text, index.column()).toString();
    case Qt::ForegroundRole:
    case Qt::BackgroundRole: {
      const std::size_t slot = role == Qt::ForegroundRole ? 0 : 1;
      if (row.colours && row.colours[column * 2 + slot] != 0) {
        return toColour(row.colours[column * 2 + slot]);
      }
      const std::int32_t fallback = slot == 0 ? defaultFront_ : defaultBack_;
      if (fallback != -1) return toColour(static_cast<std::uint32_t>(fallback) + 1);
      return {};
    }
    default:
      return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return title(section);
}

}  // namespace lunadio::ui
