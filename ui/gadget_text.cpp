// Text labels, one-line text fields and frames.
#include <QApplication>
#include <QFocusEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

#include "ui/events.h"
#include "ui/gadget_kind.h"
#include "ui/gadgets.h"

namespace lunadio::ui {
namespace {

class TextGadget : public GadgetKind {
 public:
  TextGadget(const GadgetContext& context, const QString& text, std::uint32_t flags)
      : GadgetKind(context, GadgetKindCode::Text),
        label_(own(std::make_unique<QLabel>(context.parent))) {
    label_->setTextFormat(Qt::PlainText);
    label_->setText(text);
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (flags & TextCenter) horizontal = Qt::AlignHCenter;
    if (flags & TextRight) horizontal = Qt::AlignRight;
    label_->setAlignment(horizontal | Qt::AlignTop);
    if (flags & TextBorder) label_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  }

  QString text() const override { return label_->text(); }
  void setText(const QString& text) override { label_->setText(text); }

  void setColour(int attribute, std::int32_t colour) override {
    if (attribute == 1) front_ = colour;
    if (attribute == 2) back_ = colour;
    applyColours();
  }
  std::int32_t colour(int attribute) const override {
    return attribute == 1 ? front_ : attribute == 2 ? back_ : 0;
  }

 private:
  // A text colour alone keeps the default background, painted, so the label never shows the
  // window's own colour through its text.
  void applyColours() {
    QPalette palette = QApplication::palette(label_);
    if (front_ != -1) palette.setColor(QPalette::WindowText, colourOf(front_));
    if (back_ != -1) palette.setColor(QPalette::Window, colourOf(back_));
    label_->setPalette(palette);
    label_->setAutoFillBackground(front_ != -1 || back_ != -1);
  }

  QLabel* label_;
  std::int32_t front_ = -1;
  std::int32_t back_ = -1;
};

class LineEdit : public QLineEdit {
 public:
  using QLineEdit::QLineEdit;
  std::function<void(int)> onFocus;

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    if (onFocus) onFocus(EventTypeFocus);
  }
  void focusOutEvent(QFocusEvent* event) override {
    QLineEdit::focusOutEvent(event);
    if (onFocus) onFocus(EventTypeLostFocus);
  }
};

class StringGadget : public GadgetKind {
 public:
  StringGadget(const GadgetContext& context, const QString& text, std::uint32_t flags)
      : GadgetKind(context, GadgetKindCode::String),
        edit_(own(std::make_unique<LineEdit>(context.parent))) {
    edit_->setText(text);
    edit_->setFrame(!(flags & TextBorder));
    if (flags & StringPassword) edit_->setEchoMode(QLineEdit::Password);
    if (flags & StringReadOnly) edit_->setReadOnly(true);
    if (flags & StringNumeric) {
      edit_->setValidator(
          new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit_));  // Qt parent
    }
    edit_->onFocus = [this](int type) { queueGadgetEvent(type); };
    // Only the user's edits count as a change: the program's own texts (a path shown for each
    // file a scan examines) would flood the queue.
    QObject::connect(edit_, &QLineEdit::textEdited, [this] { queueGadgetEvent(EventTypeChange); });
  }

  QString text() const override { return edit_->text(); }
  void setText(const QString& text) override { edit_->setText(text); }

  void setColour(int attribute, std::int32_t colour) override {
    if (attribute == 1) front_ = colour;
    if (attribute == 2) back_ = colour;
    QPalette palette = QApplication::palette(edit_);
    if (front_ != -1) palette.setColor(QPalette::Text, colourOf(front_));
    if (back_ != -1) palette.setColor(QPalette::Base, colourOf(back_));
    edit_->setPalette(palette);
  }
  std::int32_t colour(int attribute) const override {
    return attribute == 1 ? front_ : attribute == 2 ? back_ : 0;
  }

 private:
  LineEdit* edit_;
  std::int32_t front_ = -1;
  std::int32_t back_ = -1;
};

// Frames sit behind the gadgets they surround and let the pointer through to them.
class FrameGadget : public GadgetKind {
 public:
  FrameGadget(const GadgetContext& context, const QString& text, std::uint32_t flags)
      : GadgetKind(context, GadgetKindCode::Frame) {
    QWidget* widget;
    if (flags == 0) {
      group_ = own(std::make_unique<QGroupBox>(text, context.parent));
      widget = group_;
    } else {
      auto* frame = own(std::make_unique<QFrame>(context.parent));
      if (flags == 1) {
        frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      } else if (flags == 2) {
        frame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
      } else {
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
      }
      widget = frame;
    }
    widget->setAttribute(Qt::WA_TransparentForMouseEvents);
  }

  void created() override { widget()->lower(); }
  QString text() const override { return group_ ? group_->title() : QString(); }
  void setText(const QString& text) override {
    if (group_) group_->setTitle(text);
  }

 private:
  QGroupBox* group_ = nullptr;
};

}  // namespace

std::unique_ptr<GadgetKind> makeTextGadget(const GadgetContext& context, const QString& text,
                                           std::uint32_t flags) {
  return std::make_unique<TextGadget>(context, text, flags);
}

std::unique_ptr<GadgetKind> makeStringGadget(const GadgetContext& context, const QString& text,
                                             std::uint32_t flags) {
  return std::make_unique<StringGadget>(context, text, flags);
}

std::unique_ptr<GadgetKind> makeFrameGadget(const GadgetContext& context, const QString& text,
                                            std::uint32_t flags) {
  return std::make_unique<FrameGadget>(context, text, flags);
}

}  // namespace lunadio::ui
