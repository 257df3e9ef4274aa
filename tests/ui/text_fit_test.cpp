// The player's texts at the desktop's default font, measured against their gadgets by the
// widgets' own size hints, at the font the layout was made for and at a wider one.
#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "core/strings.h"
#include "ui/ui_internal.h"
#include "ui_test_support.h"

namespace lunadio::testing {
namespace {

enum class Kind { Button, CheckBox, Text, Frame };

struct Placed {
  Kind kind;
  int width;
  int height;
  std::u16string_view text;
};

// Geometry and texts of the panel, the library window and the filter dialog, as the player makes
// them (the type line with its longest text).
constexpr Placed kPlaced[] = {
    {Kind::Button, 70, 25, u"Couleur"},
    {Kind::Button, 100, 25, u"Parcourir"},
    {Kind::Button, 100, 25, u"Filtres"},
    {Kind::Button, 130, 35, u"Jouer"},
    {Kind::Button, 210, 35, u"Ajouter a mes morceaux favoris"},
    {Kind::Button, 100, 25, u"Appliquer"},
    {Kind::Frame, 680, 55, u"Adresse de scan"},
    {Kind::Frame, 320, 80, u"Informations"},
    {Kind::Frame, 210, 220, u"Filtres par format"},
    {Kind::Frame, 180, 80, u"Formats supportés"},
    {Kind::Frame, 180, 110, u"Autres"},
    {Kind::Frame, 260, 80, u"Filtres par mots"},
    {Kind::Text, 680, 40, u"Lunadio - Bibliothéque"},
    {Kind::Text, 300, 20, u"Titre : [No Selection]"},
    {Kind::Text, 230, 20, u"Type : Son compressé mp3"},
    {Kind::Text, 180, 20, u"Taille : [No Selection]"},
    {Kind::Text, 270, 20, u"Lunadio. Lire de la musique."},
    {Kind::CheckBox, 120, 25, u"Son Wave (*.wav)"},
    {Kind::CheckBox, 130, 20, u"Ogg Vorbis (*.ogg)"},
    {Kind::CheckBox, 140, 20, u"Autres formats audio"},
    {Kind::CheckBox, 120, 20, u"Son MP3 (.mp3)"},
    {Kind::CheckBox, 150, 20, u"Bande son M4A (.m4a)"},
    {Kind::CheckBox, 160, 30, u"Tous les fichiers"},
    {Kind::CheckBox, 240, 25, u"Uniquement les fichiers contenant un mot"},
};

QWidget* onlyChild(ObjectNumber window) {
  const auto children =
      ui::windowWidget(window)->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  return children.isEmpty() ? nullptr : children.front();
}

void create(const Placed& p) {
  switch (p.kind) {
    case Kind::Button:
      createButtonGadget(1, 0, 0, p.width, p.height, p.text);
      break;
    case Kind::CheckBox:
      createCheckBoxGadget(1, 0, 0, p.width, p.height, p.text);
      break;
    case Kind::Text:
      createTextGadget(1, 0, 0, p.width, p.height, p.text);
      break;
    case Kind::Frame:
      createFrameGadget(1, 0, 0, p.width, p.height, p.text);
      break;
  }
}

// What the widget needs to show its whole text, by the style's own measure.
int neededWidth(const Placed& p, QWidget& widget) {
  if (p.kind == Kind::Button) {
    // A button's size hint has a minimum width of its own; its text and margins are what count.
    const QStyle& style = *widget.style();
    return widget.fontMetrics().horizontalAdvance(static_cast<QPushButton&>(widget).text()) +
           style.pixelMetric(QStyle::PM_ButtonMargin, nullptr, &widget) +
           2 * style.pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &widget);
  }
  if (p.kind == Kind::Frame) {
    return widget.fontMetrics().horizontalAdvance(static_cast<QGroupBox&>(widget).title()) + 16;
  }
  // A fresh widget with the gadget's font: the size hint the style gives for the whole text.
  if (p.kind == Kind::CheckBox) {
    QCheckBox probe(static_cast<QCheckBox&>(widget).text());
    probe.setFont(widget.font());
    return probe.sizeHint().width();
  }
  QLabel probe(static_cast<QLabel&>(widget).text());
  probe.setFont(widget.font());
  return probe.sizeHint().width();
}

class TextFitTest : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    desktopFont_ = QApplication::font();
  }
  void TearDown() override {
    QApplication::setFont(desktopFont_);
    UiTest::TearDown();
  }
  QFont desktopFont_;
};

TEST_F(TextFitTest, EveryTextFitsItsGadgetAtANarrowAndAWideDesktopFont) {
  for (const int desktopPixels : {12, 15}) {
    QFont desktop = desktopFont_;
    desktop.setPixelSize(desktopPixels);
    QApplication::setFont(desktop);
    int shrunk = 0;
    for (const Placed& p : kPlaced) {
      SCOPED_TRACE(toUtf8(p.text) + " at " + std::to_string(desktopPixels) + " px");
      ASSERT_NE(openWindow(0, 0, 0, p.width + 20, p.height + 20, u"w", WindowBorderless), 0);
      create(p);
      QWidget* widget = onlyChild(0);
      ASSERT_NE(widget, nullptr);
      EXPECT_LE(neededWidth(p, *widget), p.width);
      const int pixels = QFontInfo(widget->font()).pixelSize();
      EXPECT_LE(pixels, desktopPixels);
      EXPECT_GE(pixels, desktopPixels * 6 / 10);
      if (pixels < desktopPixels) ++shrunk;
      // The geometry stays as laid out.
      EXPECT_EQ(widget->size(), QSize(p.width, p.height));
      closeWindow(0);
    }
    EXPECT_GT(shrunk, 0);
  }
}

TEST_F(TextFitTest, ANewTextOrSizeFitsAgainFromTheGivenFont) {
  QFont given = desktopFont_;
  given.setPixelSize(15);
  QApplication::setFont(given);
  ASSERT_NE(openWindow(0, 0, 0, 300, 60, u"w", WindowBorderless), 0);
  createCheckBoxGadget(1, 0, 0, 140, 20, u"Autres formats audio");
  QWidget* box = onlyChild(0);
  const int fitted = QFontInfo(box->font()).pixelSize();
  EXPECT_LT(fitted, 15);
  setGadgetText(1, u"Tous");  // short: back to the given size
  EXPECT_EQ(QFontInfo(box->font()).pixelSize(), 15);
  setGadgetText(1, u"Autres formats audio");
  EXPECT_EQ(QFontInfo(box->font()).pixelSize(), fitted);
  resizeGadget(1, IgnoreValue, IgnoreValue, 280, IgnoreValue);
  EXPECT_EQ(QFontInfo(box->font()).pixelSize(), 15);
  // A text no size can fit stops at the floor and is cut, never unreadable.
  resizeGadget(1, IgnoreValue, IgnoreValue, 30, IgnoreValue);
  EXPECT_EQ(QFontInfo(box->font()).pixelSize(), 9);
}

}  // namespace
}  // namespace lunadio::testing
