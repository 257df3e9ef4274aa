#include "storage/program_parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/strings.h"

namespace lunadio {
namespace {

struct TokenCase {
  const char16_t* line;
  std::vector<std::u16string> tokens;
};

TEST(CommandLine, TokenizerFollowsTheQuotingRules) {
  const std::vector<TokenCase> cases = {
      {u"", {}},
      {u"   ", {}},
      {u"prog", {u"prog"}},
      {u"\"C:/Program Files/lunadio\" \"/home/me/Ma musique/titre 1.ogg\"",
       {u"C:/Program Files/lunadio", u"/home/me/Ma musique/titre 1.ogg"}},
      {u"prog /home/me/Ma musique/a.wav", {u"prog", u"/home/me/Ma", u"musique/a.wav"}},
      {u"prog abc\"d e\"f", {u"prog", u"abc\"d e\"f"}},
      {u"prog \"a b\"c", {u"prog", u"a b", u"c"}},
      {u"prog \"\"", {u"prog", u""}},
      {u"prog   x    y  ", {u"prog", u"x", u"y"}},
      {u"prog a\tb", {u"prog", u"a\tb"}},
      {u"prog \"never closed", {u"prog", u"never closed"}},
      {u"prog ab\"c d", {u"prog", u"ab\"c d"}},
      {u"\"\"\"\"", {u"", u""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(tokenizeCommandLine(c.line), c.tokens) << toUtf8(c.line);
  }
}

TEST(CommandLine, QuotingRoundTripsWhatTheRulesCanExpress) {
  const std::vector<std::vector<std::u16string>> representable = {
      {u"/usr/bin/lunadio"},   {u"/opt/my apps/lunadio", u"/home/me/Ma musique/été.flac"},
      {u"prog", u"", u"x"},    {u"prog", u"a\"b c\"d"},
      {u"prog", u"tab\there"},
  };
  for (const auto& arguments : representable) {
    std::u16string line;
    EXPECT_TRUE(quoteCommandLine(arguments, line)) << toUtf8(line);
    EXPECT_EQ(tokenizeCommandLine(line), arguments) << toUtf8(line);
  }
  std::u16string line;
  EXPECT_FALSE(quoteCommandLine({u"prog", u"say \"hi\" now", u"next"}, line));
  EXPECT_FALSE(quoteCommandLine({u"prog", u"\"leading"}, line));
}

class ProgramParameters : public ::testing::Test {
 protected:
  void TearDown() override { setCommandLine(u"prog"); }
};

TEST_F(ProgramParameters, HandsOutEachParameterOnceThenEmpty) {
  setCommandLine(u"\"/usr/bin/lunadio\" one \"two words\"");
  EXPECT_EQ(countProgramParameters(), 2);
  EXPECT_EQ(nextProgramParameter(), u"one");
  EXPECT_EQ(nextProgramParameter(), u"two words");
  EXPECT_EQ(nextProgramParameter(), u"");
  EXPECT_EQ(nextProgramParameter(), u"");
  EXPECT_EQ(countProgramParameters(), 2) << "counting does not depend on the cursor";
  setCommandLine(u"lunadio");
  EXPECT_EQ(countProgramParameters(), 0);
  EXPECT_EQ(nextProgramParameter(), u"");
}

TEST_F(ProgramParameters, ArgumentVectorSurvivesReQuoting) {
  std::string program = "/opt/Lunadio app/lunadio";
  std::string track = "/home/me/Ma musique/\xC3\xA9t\xC3\xA9 \xFF.ogg";  // a byte that is not UTF-8
  std::string empty;
  char* argv[] = {program.data(), track.data(), empty.data(), nullptr};
  setProgramArguments(3, argv);
  EXPECT_EQ(countProgramParameters(), 2);
  EXPECT_EQ(toUtf8(nextProgramParameter()), track);
  EXPECT_EQ(nextProgramParameter(), u"");
  EXPECT_EQ(nextProgramParameter(), u"");
}

TEST_F(ProgramParameters, NamesWithQuotesTheRulesCannotHoldStayWhole) {
  std::string program = "lunadio";
  std::string odd = "/tmp/say \"hi";
  std::string next = "second";
  char* argv[] = {program.data(), odd.data(), next.data(), nullptr};
  setProgramArguments(3, argv);
  ASSERT_EQ(countProgramParameters(), 2);
  EXPECT_EQ(toUtf8(nextProgramParameter()), odd);
  EXPECT_EQ(nextProgramParameter(), u"second");
}

}  // namespace
}  // namespace lunadio
