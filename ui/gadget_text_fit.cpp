// Texts that fit their gadgets. The application lays its gadgets out in fixed pixels for one
// font; the desktop's default font is often wider, and a label cut in the middle ("Autres
// formats audi") is worse than a slightly smaller one. So a gadget showing a text takes the font
// it was given when the text fits, else the largest smaller pixel size that fits, down to a
// floor below which the text is left to be cut rather than made unreadable.
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>
#include <functional>

#include "ui/gadget_kind.h"

namespace lunadio::ui {
namespace {

constexpr int kSmallestPixels = 8;
constexpr double kSmallestShare = 0.6;  // of the given font's size
// A group box's title starts this far in and keeps as much from the right edge.
constexpr int kGroupTitleInsetPixels = 8;

// Where the widget draws its text, or an empty size for widgets that show no fitted text.
QSize textRoom(const QWidget& widget) {
  if (const auto* button = qobject_cast<const QPushButton*>(&widget)) {
    if (!button->icon().isNull()) return {};
    const QStyle& style = *button->style();
    const int chrome = style.pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                       2 * style.pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    return button->size() - QSize(chrome, chrome);
  }
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
    if (label->wordWrap() || !label->pixmap().isNull()) return {};
    const int margin = 2 * label->margin();
    return label->contentsRect().size() - QSize(margin, margin);
  }
  if (const auto* group = qobject_cast<const QGroupBox*>(&widget)) {
    return {group->width() - 2 * kGroupTitleInsetPixels, group->height()};
  }
  return {};
}

QString shownText(const QWidget& widget) {
  if (const auto* button = qobject_cast<const QAbstractButton*>(&widget)) return button->text();
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) return label->text();
  if (const auto* group = qobject_cast<const QGroupBox*>(&widget)) return group->title();
  return {};
}

// A check box's label has no fixed place: the box needs what the style asks for the indicator, its
// spacing and margins plus the text.
bool checkBoxFits(const QCheckBox& box, const QFont& font, const QString& text) {
  QStyleOptionButton option;
  option.initFrom(&box);
  option.text = text;
  option.fontMetrics = QFontMetrics(font);
  const QSize textSize =
      box.style()
          ->itemTextRect(QFontMetrics(font), QRect(), Qt::TextShowMnemonic, false, text)
          .size();
  const QSize needed = box.style()->sizeFromContents(QStyle::CT_CheckBox, &option, textSize, &box);
  return needed.width() <= box.width();
}

bool textFits(const QFont& font, const QString& text, QSize room, bool multiLine) {
  const QFontMetrics metrics(font);
  int widest = 0;
  int lines = 0;
  for (const QString& line : text.split(u'\n')) {
    widest = std::max(widest, metrics.horizontalAdvance(QString(line).remove(u'&')));
    ++lines;
  }
  if (widest > room.width()) return false;
  return !multiLine || lines * metrics.height() <= room.height();
}

}  // namespace

int pixelSizeOf(const QFont& font) {
  if (font.pixelSize() > 0) return font.pixelSize();
  return QFontInfo(font).pixelSize();
}

QFont fittedFont(const QWidget& widget, const QFont& given) {
  const QString text = shownText(widget);
  if (text.isEmpty()) return given;
  std::function<bool(const QFont&)> fits;
  if (const auto* box = qobject_cast<const QCheckBox*>(&widget)) {
    fits = [box, &text](const QFont& font) { return checkBoxFits(*box, font, text); };
  } else {
    const QSize room = textRoom(widget);
    if (room.isEmpty()) return given;
    const bool multiLine = qobject_cast<const QLabel*>(&widget) != nullptr;
    fits = [room, multiLine, &text](const QFont& font) {
      return textFits(font, text, room, multiLine);
    };
  }
  if (fits(given)) return given;
  const int givenPixels = pixelSizeOf(given);
  const int floorPixels =
      std::max(kSmallestPixels, static_cast<int>(givenPixels * kSmallestShare + 0.5));
  QFont font = given;
  for (int pixels = givenPixels - 1; pixels >= floorPixels; --pixels) {
    font.setPixelSize(pixels);
    if (fits(font)) return font;
  }
  font.setPixelSize(std::min(givenPixels, floorPixels));
  return font;
}

}  // namespace lunadio::ui
