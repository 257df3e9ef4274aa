#pragma once
// The rows of a list gadget. Rows are added to storage at once but shown to the view in batches
// (announced), so that a scan adding thousands of rows costs one view update per batch.
// Main thread only.

#include <QAbstractTableModel>
#include <QColor>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "ui/gadgets.h"

namespace lunadio::ui {

class ListModel : public QAbstractTableModel {
 public:
  explicit ListModel(QObject* parent) : QAbstractTableModel(parent) {}

  // -- storage, by item index (announced or not)
  int count() const { return static_cast<int>(rows_.size()); }
  // position < 0 or beyond the end appends; returns the new item's index.
  int addRow(int position, const QString& text);
  // Appends rows with their colours (every column) and data; one view update for all of them.
  void appendRows(std::vector<GadgetItem>& items);
  void clear();
  // One cell; the empty text for a cell the item never had.
  QString cell(int item, int column) const;
  void setCell(int item, int column, const QString& text);
  // attribute 1 = text, 2 = background; -1 = default. item -1 = every item, column -1 = every
  // column. Nothing happens to items outside the list.
  void setCellColour(int item, int attribute, std::int32_t colour, int column);
  std::int32_t cellColour(int item, int attribute, int column) const;
  void setItemData(int item, std::intptr_t value);
  std::intptr_t itemData(int item) const;

  // -- columns
  int columns() const { return static_cast<int>(titles_.size()); }
  void insertColumn(int position, const QString& title);
  QString title(int column) const;
  void setTitle(int column, const QString& title);

  // The colours of cells that have none of their own (-1 = the view's).
  void setDefaultColours(std::int32_t front, std::int32_t back);

  // Shows the rows added since the last call to the view.
  void announce();

  // -- QAbstractTableModel
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  struct Row {
    // The cells joined by line feeds, the way they were given: one string per row keeps a
    // large list small.
    QString text;
    std::intptr_t data = 0;
    // Two words per column (text, background), colour + 1, 0 = default; made on first colour.
    std::unique_ptr<std::uint32_t[]> colours;
  };

  void scheduleAnnounce();
  void changedRows(int first, int last);
  void growColourArrays(int position);

  std::vector<Row> rows_;
  std::vector<QString> titles_;
  int announced_ = 0;
  bool announceScheduled_ = false;
  std::int32_t defaultFront_ = -1;
  std::int32_t defaultBack_ = -1;
};

}  // namespace lunadio::ui
