#include "core/strings.h"

#include <gtest/gtest.h>

namespace lunadio {
namespace {

TEST(FindString, PositionsCaseAndBounds) {
  const std::u16string text = u"La Musique de nuit";
  EXPECT_EQ(findString(text, u"musique", 1, FindNoCase), 4);
  EXPECT_EQ(findString(text, u"musique", 1, 0), 0);
  EXPECT_EQ(findString(text, u"Musique"), 4);
  EXPECT_EQ(findString(text, u"u", 6, 0), 9) << "search starts at the given position";
  EXPECT_EQ(findString(text, u"L", -3, 0), 1) << "start <= 0 means 1";
  EXPECT_EQ(findString(text, u"t", 19, 0), 0) << "start beyond the end finds nothing";
  EXPECT_EQ(findString(text, u"", 1, 0), 0);
  EXPECT_EQ(findString(u"", u"a", 1, 0), 0);
  EXPECT_EQ(findString(u"ÉTÉ", u"été", 1, FindNoCase), 1) << "accented capitals lower too";
  EXPECT_EQ(findString(u"ŒUVRE Ÿ", u"ÿ", 1, FindNoCase), 7);
}

TEST(FormatDouble, DefaultTrimsAndFixedClamps) {
  EXPECT_EQ(formatDouble(0.25), u"0.25");
  EXPECT_EQ(formatDouble(3.0), u"3");
  EXPECT_EQ(formatDouble(1.5), u"1.5");
  EXPECT_EQ(formatDouble(-0.0), u"0");
  EXPECT_EQ(formatDouble(-0.0, 2), u"0.00");
  EXPECT_EQ(formatDouble(1.0 / 0.0), u"+Infinity");
  EXPECT_EQ(formatDouble(-1.0 / 0.0), u"-Infinity");
  EXPECT_EQ(formatDouble(0.0 / 0.0), u"NaN");
  EXPECT_EQ(formatDouble(2.345, 1), u"2.3");
  EXPECT_EQ(formatDouble(7.6, -3), u"8") << "negative decimals other than -1 clamp to 0";
  EXPECT_EQ(formatDouble(1.0, 600).size(), 2u + 512u);
  EXPECT_EQ(formatDouble(1e300).substr(0, 4), u"1000") << "a long integer part is not cut";
}

TEST(StringParts, RightPartAndPadLeft) {
  EXPECT_EQ(rightPart(u"abcdef", 2), u"ef");
  EXPECT_EQ(rightPart(u"abc", -1), u"");
  EXPECT_EQ(rightPart(u"abc", 10), u"abc");
  EXPECT_EQ(padLeft(u"7", 3, u'0'), u"007");
  EXPECT_EQ(padLeft(u"42", 4), u"  42");
  EXPECT_EQ(padLeft(u"abcdef", 3), u"abc") << "a longer text keeps its first characters";
  EXPECT_EQ(padLeft(u"abc", -2), u"");
}

TEST(StringParts, FileAndExtensionParts) {
  EXPECT_EQ(getFilePart(u"/home/a/b.c.flac"), u"b.c.flac");
  EXPECT_EQ(getFilePart(u"/home/a/b.c.flac", FilePartNoExtension), u"b.c");
  EXPECT_EQ(getFilePart(u"C:\\Musique\\chanson.ogg", FilePartNoExtension), u"chanson");
  EXPECT_EQ(getFilePart(u"\"/x/y.wav\" suite"), u"y.wav");
  EXPECT_EQ(getFilePart(u"/x/.cache", FilePartNoExtension), u".cache") << "a leading dot stays";
  EXPECT_EQ(getFilePart(u"/x/fin.", FilePartNoExtension), u"fin.") << "a final dot stays";
  EXPECT_EQ(getFilePart(u"/x/a.b c", FilePartNoExtension), u"a.b c") << "a space stops the scan";

  EXPECT_EQ(getExtensionPart(u"/home/a/chanson.FLAC"), u"FLAC");
  EXPECT_EQ(getExtensionPart(u"/home/dossier.v2/chanson"), u"");
  EXPECT_EQ(getExtensionPart(u"/home/a/.bashrc"), u"");
  EXPECT_EQ(getExtensionPart(u".wav"), u"");
  EXPECT_EQ(getExtensionPart(u"/a/b.mp3\" x"), u"mp3");
  EXPECT_EQ(getExtensionPart(u"/a/ma chanson"), u"");
}

TEST(Utf8Edge, RoundTripsValidAndInvalidBytes) {
  const std::string french = "Musique/Été à Noël 🎵.flac";
  EXPECT_EQ(toUtf8(fromUtf8(french)), french);
  EXPECT_EQ(fromUtf8("é"), u"é");
  EXPECT_EQ(fromUtf8("🎵").size(), 2u);

  // Latin-1 names, truncated sequences, overlong forms and encoded surrogates all survive.
  for (const std::string& raw :
       {std::string("caf\xE9.wav"), std::string("\xC3"), std::string("\xC0\xAF"),
        std::string("\xED\xA0\x80x"), std::string("\xFF\xFE\x80"), std::string("a\0b", 3)}) {
    const std::u16string wide = fromUtf8(raw);
    EXPECT_EQ(toUtf8(wide), raw);
  }
  EXPECT_EQ(fromUtf8("caf\xE9")[3], char16_t(0xDCE9));
}

TEST(Colours, RgbPacksRedLowest) {
  EXPECT_EQ(rgb(1, 2, 3), 1 + 2 * 256 + 3 * 65536);
  EXPECT_EQ(redOf(rgb(10, 20, 30)), 10);
  EXPECT_EQ(greenOf(rgb(10, 20, 30)), 20);
  EXPECT_EQ(blueOf(rgb(10, 20, 30)), 30);
}

}  // namespace
}  // namespace lunadio
