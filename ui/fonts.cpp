#include "ui/fonts.h"

#include "core/no_throw.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QString>

#include <cmath>
#include <memory>
#include <unordered_map>

#include "ui/fonts_internal.h"
#include "ui/ui_internal.h"

namespace lunadio {
namespace ui {
namespace {

constexpr int kFontGrowthStep = 16;
constexpr int kDefaultDpi = 96;
// Far above static numbers, dynamic identifiers and image handles.
constexpr FontHandle kFirstFontHandle = 0x50000000;

struct FontRecord {
  FontHandle handle = 0;  // non-zero while the font exists
  std::unique_ptr<QFont> font;

  bool isLive() const { return handle != 0; }
};

class FontLibrary {
 public:
  static FontLibrary& instance() {
    static FontLibrary library;
    return library;
  }

  ObjectTable<FontRecord>& table() { return table_; }

  FontHandle add(FontRecord& record, ObjectNumber number) {
    record.handle = nextHandle_++;
    numbersByHandle_[record.handle] = number;
    return record.handle;
  }

  const QFont* find(FontHandle handle) const {
    const auto it = numbersByHandle_.find(handle);
    if (it == numbersByHandle_.end()) return nullptr;
    const FontRecord* record = table_.lookup(it->second);
    return record ? record->font.get() : nullptr;
  }

  void freeOne(ObjectNumber number) {
    if (FontRecord* record = table_.lookup(number)) numbersByHandle_.erase(record->handle);
    table_.release(number);
  }

  // -- main thread only
  int dpi = kDefaultDpi;
  bool dpiKnown = false;  // read from a screen, or set

 private:
  FontLibrary() : table_(kFontGrowthStep, [this](ObjectNumber number) { freeOne(number); }) {}

  ObjectTable<FontRecord> table_;
  std::unordered_map<FontHandle, ObjectNumber> numbersByHandle_;
  FontHandle nextHandle_ = kFirstFontHandle;
};

QString familyOrFallback(std::u16string_view face) {
  const QString wanted = QString::fromUtf16(face.data(), static_cast<qsizetype>(face.size()));
  if (!wanted.isEmpty() && QFontDatabase::hasFamily(wanted)) return wanted;
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

}  // namespace

void readDisplayDpi() {
  const QScreen* screen = qobject_cast<QGuiApplication*>(QCoreApplication::instance())
                              ? QGuiApplication::primaryScreen()
                              : nullptr;
  const double dpi = screen ? screen->logicalDotsPerInchY() : 0.0;
  auto& library = FontLibrary::instance();
  library.dpi = dpi >= 1.0 ? static_cast<int>(std::lround(dpi)) : kDefaultDpi;
  library.dpiKnown = screen != nullptr;
}

void setDisplayDpi(int dpi) {
  auto& library = FontLibrary::instance();
  library.dpi = dpi > 0 ? dpi : kDefaultDpi;
  library.dpiKnown = true;
}

const QFont* fontForHandle(std::intptr_t handle) { return FontLibrary::instance().find(handle); }

}  // namespace ui

int displayDpi() { return ui::FontLibrary::instance().dpi; }

int fontPixelHeight(int sizePoints) {
  // round(points x dpi / 72), halves away from zero, in 64 bits so no size overflows.
  const std::int64_t product = std::int64_t{sizePoints} * displayDpi();
  const std::int64_t rounded = (2 * (product < 0 ? -product : product) + 72) / 144;
  return static_cast<int>(product < 0 ? -rounded : rounded);
}

FontHandle loadFont(ObjectNumber number, std::u16string_view face, int sizePoints, int flags) {
  return noThrow(0, [&]() -> FontHandle {
    auto& library = ui::FontLibrary::instance();
    const auto allocation = library.table().allocate(number);
    if (!allocation.record) return 0;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
      library.table().release(allocation.id);
      return 0;
    }
    // A start routine that ran before the application object could not ask the screen yet.
    if (!library.dpiKnown) ui::readDisplayDpi();
    auto font = std::make_unique<QFont>(ui::familyOrFallback(face));
    const int pixels = fontPixelHeight(sizePoints);
    if (pixels >= 1) font->setPixelSize(pixels);
    font->setWeight((flags & FontBold) ? QFont::Bold : QFont::Normal);
    font->setItalic(flags & FontItalic);
    font->setUnderline(flags & FontUnderline);
    font->setStrikeOut(flags & FontStrikeOut);
    if (flags & FontHighQuality) font->setStyleStrategy(QFont::PreferAntialias);

    ui::FontRecord& record = *allocation.record;
    record.font = std::move(font);
    const FontHandle handle = library.add(record, allocation.id);
    return number == ObjectAny ? allocation.id : handle;
  });
}

FontHandle fontHandle(ObjectNumber number) {
  const ui::FontRecord* record = ui::FontLibrary::instance().table().lookup(number);
  return record ? record->handle : 0;
}

void freeFont(ObjectNumber number) {
  noThrow([&] {
    auto& library = ui::FontLibrary::instance();
    if (number == ObjectAll) {
      library.table().freeAll();
    } else if (library.table().isObject(number)) {
      library.freeOne(number);
    }
  });
}

}  // namespace lunadio
