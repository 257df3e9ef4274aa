// The list with columns: a table model (gadget_list_model.h) shown by a QTreeView, which only
// asks for the rows on screen, so a list of 100,000 rows stays quick and small.
#include <QApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QTreeView>

#include "ui/events.h"
#include "ui/gadget_kind.h"
#include "ui/gadget_list_model.h"
#include "ui/gadgets.h"

namespace lunadio::ui {
namespace {

class ListView : public QTreeView {
 public:
  using QTreeView::QTreeView;
  std::function<void(int)> onEvent;

 protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) {
      dragArmed_ = true;
      pressPoint_ = event->position().toPoint();
    }
    QTreeView::mousePressEvent(event);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (dragArmed_ && (event->buttons() & Qt::LeftButton)) {
      const QPoint moved = event->position().toPoint() - pressPoint_;
      if (moved.manhattanLength() > QApplication::startDragDistance() &&
          indexAt(pressPoint_).isValid()) {
        dragArmed_ = false;
        onEvent(EventTypeDragStart);
      }
    }
    QTreeView::mouseMoveEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) {
      dragArmed_ = false;
      if (!selectionModel()->selectedRows().isEmpty() &&
          indexAt(event->position().toPoint()).isValid()) {
        onEvent(EventTypeLeftClick);
      }
    }
    if (event->button() == Qt::RightButton) {
      if (rightDoubleClick_) {
        rightDoubleClick_ = false;
      } else {
        onEvent(EventTypeRightClick);
      }
    }
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) onEvent(EventTypeLeftDoubleClick);
    if (event->button() == Qt::RightButton) {
      rightDoubleClick_ = true;
      onEvent(EventTypeRightDoubleClick);
    }
  }

 private:
  bool dragArmed_ = false;
  bool rightDoubleClick_ = false;
  QPoint pressPoint_;
};

class ListGadget : public GadgetKind {
 public:
  ListGadget(const GadgetContext& context, const QString& title, int titleWidth,
             std::uint32_t flags)
      : GadgetKind(context, GadgetKindCode::List),
        view_(own(std::make_unique<ListView>(context.parent))),
        model_(new ListModel(view_)) {  // owned by the view
    view_->setRootIsDecorated(false);
    view_->setItemsExpandable(false);
    view_->setUniformRowHeights(true);
    view_->setAllColumnsShowFocus(true);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setSelectionMode((flags & ListMultiSelect) ? QAbstractItemView::ExtendedSelection
                                                      : QAbstractItemView::SingleSelection);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->header()->setStretchLastSection(false);
    view_->header()->setSectionsMovable((flags & ListColumnDrag) != 0);
    view_->setModel(model_);
    model_->insertColumn(0, title);
    view_->setColumnWidth(0, std::max(titleWidth, 0));
    view_->onEvent = [this](int type) { queueGadgetEvent(type); };
    QObject::connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged,
                     [this] { queueGadgetEvent(EventTypeChange); });
  }

  std::intptr_t state() const override {
    model_->announce();
    const QModelIndexList selected = view_->selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& index : selected) {
      if (first == -1 || index.row() < first) first = index.row();
    }
    return first;
  }
  void setState(std::intptr_t value) override {
    model_->announce();
    view_->selectionModel()->clearSelection();
    if (value < 0 || value >= model_->count()) return;
    const QModelIndex index = model_->index(static_cast<int>(value), 0);
    view_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    view_->scrollTo(index);
  }

  int addItem(int position, const QString& text, std::intptr_t) override {
    return model_->addRow(position, text);
  }
  void addItems(std::vector<GadgetItem>& items) override { model_->appendRows(items); }
  void clearItems() override { model_->clear(); }
  int countItems() const override { return model_->count(); }

  QString itemText(int item, int column) const override {
    return item == -1 ? model_->title(column) : model_->cell(item, column);
  }
  void setItemText(int item, const QString& text, int column) override {
    if (item == -1) {
      model_->setTitle(column, text);
    } else {
      model_->setCell(item, column, text);
    }
  }
  void setItemColour(int item, int attribute, std::int32_t colour, int column) override {
    model_->setCellColour(item, attribute, colour, column);
  }
  std::int32_t itemColour(int item, int attribute, int column) const override {
    return model_->cellColour(item, attribute, column);
  }
  void setItemData(int item, std::intptr_t value) override { model_->setItemData(item, value); }
  std::intptr_t itemData(int item) const override { return model_->itemData(item); }

  void addColumn(int position, const QString& title, int width) override {
    if (position < 0 || position > model_->columns()) position = model_->columns();
    model_->insertColumn(position, title);
    view_->setColumnWidth(position, std::max(width, 0));
  }
  void setItemAttribute(int, int attribute, std::intptr_t value, int column) override {
    if (attribute == 1 && column >= 0 && column < model_->columns()) {
      view_->setColumnWidth(column, static_cast<int>(std::max<std::intptr_t>(value, 0)));
    }
  }
  std::intptr_t itemAttribute(int, int attribute, int column) const override {
    if (attribute == 1 && column >= 0 && column < model_->columns()) {
      return view_->columnWidth(column);
    }
    return 0;
  }

  void setColour(int attribute, std::int32_t colour) override {
    if (attribute == 1) front_ = colour;
    if (attribute == 2) back_ = colour;
    if (attribute != 1 && attribute != 2) return;
    QPalette palette = QApplication::palette(view_);
    if (front_ != -1) palette.setColor(QPalette::Text, colourOf(front_));
    if (back_ != -1) palette.setColor(QPalette::Base, colourOf(back_));
    view_->setPalette(palette);
    model_->setDefaultColours(front_, back_);
  }
  std::int32_t colour(int attribute) const override {
    return attribute == 1 ? front_ : attribute == 2 ? back_ : 0;
  }

 private:
  ListView* view_;
  ListModel* model_;
  std::int32_t front_ = -1;
  std::int32_t back_ = -1;
};

}  // namespace

std::unique_ptr<GadgetKind> makeListGadget(const GadgetContext& context, const QString& title,
                                           int titleWidth, std::uint32_t flags) {
  return std::make_unique<ListGadget>(context, title, titleWidth, flags);
}

}  // namespace lunadio::ui
