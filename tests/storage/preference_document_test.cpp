#include "storage/preference_document.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace lunadio {
namespace {

using Kind = PreferenceDocument::EntryKind;

struct Expected {
  Kind kind;
  std::string key;
  std::string text;
  bool operator==(const Expected&) const = default;
};

std::vector<Expected> entriesOf(const PreferenceDocument& document) {
  std::vector<Expected> out;
  for (const auto& e : document.entries()) out.push_back({e.kind, e.key, e.text});
  return out;
}

std::vector<Expected> parsed(const std::string& text) {
  PreferenceDocument document;
  document.parse(text);
  return entriesOf(document);
}

struct ParseCase {
  const char* name;
  std::string text;
  std::vector<Expected> entries;
};

TEST(PreferenceParser, ReadsEachKindOfLine) {
  const std::vector<ParseCase> cases = {
      {"comment drops one space",
       "; Fichier\r\n;  two\r\n;none",
       {{Kind::Comment, "", "Fichier"}, {Kind::Comment, "", " two"}, {Kind::Comment, "", "none"}}},
      {"group up to bracket",
       "[main] ignored\r\n[open",
       {{Kind::Group, "", "main"}, {Kind::Group, "", "open"}}},
      {"key trims blanks, value keeps trailing",
       " \t.wav \t=  \t1  \r\n",
       {{Kind::Key, ".wav", "1  "}}},
      {"no spaces", ".ogg=0", {{Kind::Key, ".ogg", "0"}}},
      {"leading equals is an empty key", "= v", {{Kind::Key, "", "v"}}},
      {"key without equals gets an empty value",
       "bare\r\nlast",
       {{Kind::Key, "bare", ""}, {Kind::Key, "last", ""}}},
      {"value holds later equals", "a = b = c", {{Kind::Key, "a", "b = c"}}},
      {"blank and blank-only lines vanish",
       "\r\n\r\n   \r\n\t\na=1\n\n\rb=2\r",
       {{Kind::Key, "a", "1"}, {Kind::Key, "b", "2"}}},
      {"bare CR and LF end lines",
       "a=1\rb=2\nc=3",
       {{Kind::Key, "a", "1"}, {Kind::Key, "b", "2"}, {Kind::Key, "c", "3"}}},
      {"trailing blanks only", "a=1\r\n  \t", {{Kind::Key, "a", "1"}}},
      {"zero bytes are data",
       std::string("k\0y=v\0", 6),
       {{Kind::Key, std::string("k\0y", 3), std::string("v\0", 2)}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parsed(c.text), c.entries) << c.name;
}

TEST(PreferenceParser, MarkSelectsUtf8AndItsAbsenceIso88591) {
  auto marked = PreferenceDocument::fromFileBytes("\xEF\xBB\xBF\r\nnom = \xC3\xA9t\xC3\xA9\r\n");
  EXPECT_EQ(entriesOf(marked), (std::vector<Expected>{{Kind::Key, "nom", "\xC3\xA9t\xC3\xA9"}}));
  auto latin = PreferenceDocument::fromFileBytes("nom = \xE9t\xE9\xFF\r\n");
  EXPECT_EQ(entriesOf(latin),
            (std::vector<Expected>{{Kind::Key, "nom", "\xC3\xA9t\xC3\xA9\xC3\xBF"}}));
  // UTF-8 without the mark is still taken byte by byte.
  auto unmarked = PreferenceDocument::fromFileBytes("a=\xC3\xA9");
  EXPECT_EQ(unmarked.find("a") ? *unmarked.find("a") : "", "\xC3\x83\xC2\xA9");
  EXPECT_EQ(latin.encoding(), PreferenceDocument::Encoding::Utf8WithMark);
  EXPECT_EQ(PreferenceDocument::fromFileBytes("").encoding(), PreferenceDocument::Encoding::NoMark);
}

TEST(PreferenceParser, IntegersStopAtTheFirstNonDigit) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"abc", 0},
      {"  -12ab", -12},
      {"+7", 7},
      {"", 0},
      {"\t\r\n 42", 42},
      {"- 3", 0},
      {"0012", 12},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-99999999999999999999", INT_MIN},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(parsePreferenceInteger(text), value) << text;
}

TEST(PreferenceKeys, MatchIgnoringAsciiCaseOnlyBeforeTheFirstGroup) {
  PreferenceDocument document;
  document.parse(".WAV = 1\r\n.Ogg=2\r\n\xC3\x89t\xC3\xA9 = 3\r\n[section]\r\nhidden = 4\r\n");
  EXPECT_EQ(*document.find(".wav"), "1");
  EXPECT_EQ(*document.find(".oGG"), "2");
  EXPECT_EQ(document.find("\xC3\xA9t\xC3\xA9"), nullptr) << "only ASCII letters fold";
  EXPECT_NE(document.find("\xC3\x89T\xC3\xA9"), nullptr);
  EXPECT_EQ(document.find("hidden"), nullptr);
}

TEST(PreferenceEdits, NewKeysGoBeforeTheFirstGroupAndKeepWriteCase) {
  PreferenceDocument document;
  document.parse("; c\r\n.WAV = 1\r\n[g]\r\nhidden = 4\r\n");
  document.write(".wav", "0");
  document.write("hidden", "5");
  EXPECT_EQ(entriesOf(document), (std::vector<Expected>{{Kind::Comment, "", "c"},
                                                        {Kind::Key, ".wav", "0"},
                                                        {Kind::Key, "hidden", "5"},
                                                        {Kind::Group, "", "g"},
                                                        {Kind::Key, "hidden", "4"}}));
  PreferenceDocument grouped;
  grouped.parse("[g]\r\nx=1");
  grouped.write("y", "2");
  EXPECT_EQ(entriesOf(grouped).front(), (Expected{Kind::Key, "y", "2"}));
}

TEST(PreferenceEdits, CommentsFollowTheLastWrittenEntry) {
  PreferenceDocument document;
  document.parse("a=1\r\nb=2\r\n");
  document.comment("first");  // nothing written yet: goes first
  document.write("a", "9");
  document.comment("after a");
  document.comment("after that");
  EXPECT_EQ(entriesOf(document), (std::vector<Expected>{{Kind::Comment, "", "first"},
                                                        {Kind::Key, "a", "9"},
                                                        {Kind::Comment, "", "after a"},
                                                        {Kind::Comment, "", "after that"},
                                                        {Kind::Key, "b", "2"}}));
}

TEST(PreferenceEdits, LineBreaksInWrittenTextCannotSplitALine) {
  PreferenceDocument document;
  document.write("k", "1\r\n[evil]");
  document.comment("x\ny");
  auto reread = PreferenceDocument::fromFileBytes(document.serialize(0));
  ASSERT_EQ(reread.entries().size(), 2u);
  EXPECT_NE(reread.find("k"), nullptr);
}

TEST(PreferenceWriter, WritesMarkCrLfSeparatorsAndGroupGaps) {
  PreferenceDocument document;
  document.parse("[a]\r\nx=1\r\n[b]\r\n");
  document.comment("c");
  document.write("k", "v");
  EXPECT_EQ(document.serialize(0), "\xEF\xBB\xBF\r\n; c\r\nk = v\r\n[a]\r\nx = 1\r\n[b]\r\n");
  EXPECT_EQ(document.serialize(PreferenceNoSpaces | PreferenceGroupGap),
            "\xEF\xBB\xBF\r\n; c\r\nk=v\r\n[a]\r\nx=1\r\n\r\n[b]\r\n");
}

TEST(PreferenceWriter, UnmarkedFileGetsTheMarkOnlyWhenItWouldNeedIt) {
  auto empty = PreferenceDocument::fromFileBytes("");
  EXPECT_EQ(empty.serialize(0), "");
  empty.write(".wav", "1");
  EXPECT_EQ(empty.serialize(0), ".wav = 1\r\n");
  empty.write("nom", "\xC3\xA9");
  const std::string text = empty.serialize(0);
  EXPECT_EQ(text.substr(0, 5), "\xEF\xBB\xBF\r\n");
  EXPECT_EQ(*PreferenceDocument::fromFileBytes(text).find("nom"), "\xC3\xA9");
}

TEST(PreferenceWriter, SavedTextReadsBackToTheSameEntries) {
  const std::string original =
      "  ; note\r\n[never closed\r\n\r\n=empty key\r\nbare\r\n k \t= v  \r\n;\r\n[g]x\n a = b=c";
  auto first = PreferenceDocument::fromFileBytes(original);
  auto second = PreferenceDocument::fromFileBytes(first.serialize(0));
  EXPECT_EQ(entriesOf(first), entriesOf(second));
}

}  // namespace
}  // namespace lunadio
