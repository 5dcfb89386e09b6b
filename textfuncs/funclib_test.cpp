#include "textfuncs/funclib.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <string_view>

#include "testing/rng.h"
#include "utf8.h"

namespace boolconv {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// Records every warning shown while it lives.
struct WarningRecorder {
  struct Shown {
    Text title;
    Text prompt;
    int32_t style;
  };
  std::vector<Shown> shown;
  ScopedWarningHandler scope{[this](const Text& title, const Text& prompt, int32_t style) {
    shown.push_back({title, prompt, style});
  }};
};

const Text kQuote = u"\"";

struct TokensCase {
  const char* what;
  Text text;
  Text opening;
  Text closing;
  int32_t result;
  std::vector<Text> tokens;
  size_t warnings;
};

TEST(GetTokensTest, SplitsAndJoins) {
  const TokensCase cases[] = {
      {"plain words", u"a b c", u"", u"", 3, {u"a", u"b", u"c"}, 0},
      {"two spaces give an empty token", u"a  b", u"", u"", 3, {u"a", u"", u"b"}, 0},
      {"empty text", u"", u"", u"", 0, {}, 0},
      {"one space", u" ", u"", u"", 1, {u""}, 0},
      {"leading space", u" a", u"", u"", 2, {u"", u"a"}, 0},
      {"one trailing space adds nothing", u"a ", u"", u"", 1, {u"a"}, 0},
      {"two trailing spaces", u"a  ", u"", u"", 2, {u"a", u""}, 0},
      {"quoted phrase", u"\"big cat\" dog", kQuote, u"", 2, {u"\"big cat\"", u"dog"}, 0},
      {"several phrases", u"say \"x y\" \"z\"", kQuote, u"", 3, {u"say", u"\"x y\"", u"\"z\""}, 0},
      {"spaces inside a phrase survive", u"\"a  b\" c", kQuote, u"", 2, {u"\"a  b\"", u"c"}, 0},
      {"paired quotes", u"(a b) c", u"(", u")", 2, {u"(a b)", u"c"}, 0},
      {"nested paired quotes", u"((a b) c) d", u"(", u")", 2, {u"((a b) c)", u"d"}, 0},
      {"same text as both quotes joins nothing",
       u"\"a b\" c",
       kQuote,
       kQuote,
       3,
       {u"\"a", u"b\"", u"c"},
       0},
      {"multi-unit quote counted across the join",
       u"<<a b>> c",
       u"<<",
       u">>",
       2,
       {u"<<a b>>", u"c"},
       0},
      {"space as opening quote is no quote", u"a b", u" ", u")", 2, {u"a", u"b"}, 0},
      {"unclosed phrase keeps earlier tokens", u"a \"b c", kQuote, u"", 0, {u"a"}, 1},
      {"unclosed paired quote", u"(a b c", u"(", u")", 0, {}, 1},
  };
  for (const TokensCase& c : cases) {
    SCOPED_TRACE(c.what);
    WarningRecorder recorder;
    TokenList tokens = {u"left over"};
    Text closing = c.closing;
    EXPECT_EQ(GetTokens(c.text, u" ", tokens, c.opening, false, closing), c.result);
    EXPECT_THAT(tokens, ElementsAreArray(c.tokens));
    EXPECT_EQ(recorder.shown.size(), c.warnings);
  }
}

TEST(GetTokensTest, BlankOpeningQuoteEmptiesCallersClosingQuote) {
  TokenList tokens;
  Text closing = u")";
  EXPECT_EQ(GetTokens(u"a b", u" ", tokens, u"", false, closing), 2);
  EXPECT_EQ(closing, u"");
}

TEST(GetTokensTest, QuotesMayBeItemsOfTheListBeingRefilled) {
  TokenList tokens = {u"\"", u" "};
  EXPECT_EQ(GetTokens(u"\"a b\" c", u" ", tokens, tokens[0], false, tokens[1]), 2);
  EXPECT_THAT(tokens, ElementsAre(u"\"a b\"", u"c"));
}

TEST(GetTokensTest, ShowsUnclosedQuoteAsWarning) {
  WarningRecorder recorder;
  TokenList tokens;
  Text closing;
  EXPECT_EQ(GetTokens(u"a \"b c", u" ", tokens, kQuote, false, closing), 0);
  ASSERT_EQ(recorder.shown.size(), 1u);
  EXPECT_EQ(recorder.shown[0].title, u"boolconv");
  EXPECT_EQ(recorder.shown[0].prompt,
            u"(GetTokens) Error: Invalid procedure call or argument\r\nLine:  a \"b c ");
  EXPECT_EQ(recorder.shown[0].style, 48);
}

TEST(GetTokensTest, PassOnRethrowsErrorFive) {
  WarningRecorder recorder;
  TokenList tokens;
  Text closing;
  try {
    GetTokens(u"a \"b c", u" ", tokens, kQuote, true, closing);
    FAIL() << "expected an error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), 5);
    EXPECT_EQ(error.source(), u"boolconv");
    EXPECT_EQ(error.description(), u"Invalid procedure call or argument");
    EXPECT_STREQ(error.what(), "Invalid procedure call or argument");
  }
  EXPECT_THAT(tokens, ElementsAre(u"a"));
  EXPECT_THAT(recorder.shown, IsEmpty());
}

TEST(GetTokensTest, DelimiterLengths) {
  TokenList tokens;
  Text closing;
  // A longer delimiter splits at the whole delimiter, quotes still join.
  EXPECT_EQ(GetTokens(u"a::b:c::\"d::e\"", u"::", tokens, kQuote, false, closing), 3);
  EXPECT_THAT(tokens, ElementsAre(u"a", u"b:c", u"\"d::e\""));
  // A text ending with the long delimiter gets no second one.
  EXPECT_EQ(GetTokens(u"a::", u"::", tokens, u"", false, closing), 1);
  // Self-overlapping delimiters keep every unit of the text.
  EXPECT_EQ(GetTokens(u"a:::b", u"::", tokens, u"", false, closing), 2);
  EXPECT_THAT(tokens, ElementsAre(u"a", u":b"));
  EXPECT_EQ(GetTokens(u"x::a:", u"::", tokens, u"", false, closing), 2);
  EXPECT_THAT(tokens, ElementsAre(u"x", u"a:"));
  EXPECT_EQ(GetTokens(u"a", u"aa", tokens, u"", false, closing), 1);
  EXPECT_THAT(tokens, ElementsAre(u"a"));
  // An empty delimiter is an invalid argument: shown, or passed on.
  WarningRecorder recorder;
  EXPECT_EQ(GetTokens(u"a b", u"", tokens, u"", false, closing), 0);
  ASSERT_EQ(recorder.shown.size(), 1u);
  EXPECT_EQ(recorder.shown[0].prompt,
            u"(GetTokens) Error: Invalid procedure call or argument\r\nLine: a b");
  EXPECT_THROW(GetTokens(u"a b", u"", tokens, u"", true, closing), Error);
}

TEST(WarningSeamTest, DefaultPrintsPromptToStderr) {
  ::testing::internal::CaptureStderr();
  ShowWarning(u"boolconv", u"caf\u00e9 \U0001F600");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "caf\xC3\xA9 \xF0\x9F\x98\x80\n");
}

TEST(IsBlankTest, Table) {
  const struct {
    Text text;
    bool blank;
  } cases[] = {
      {u"", true},                           // empty
      {u"   ", true},                        // spaces only
      {Text(1, u'\0'), true},                // one U+0000
      {Text(2, u'\0'), true},                // U+0000 only
      {Text(u" ") + Text(1, u'\0'), false},  // space then U+0000
      {Text(1, u'\0') + u" ", false},        // U+0000 then space
      {u"\t", false},                        // a tab is content
      {u" a ", false},                       // a word between spaces
  };
  for (const auto& c : cases) EXPECT_EQ(IsBlank(c.text), c.blank) << ToUtf8(c.text);
}

TEST(CountOccurrencesTest, Table) {
  const struct {
    Text text;
    Text sought;
    int32_t count;
  } cases[] = {
      {u"aaa", u"aa", 2},     // overlapping matches count
      {u"abcabc", u"bc", 2},  // separate matches
      {u"", u"x", 0},         // nothing in the empty text
      {u"\"\"", u"\"", 2},    // quote characters
      {u"abc", u"", 0},       // empty sought text
  };
  for (const auto& c : cases) EXPECT_EQ(CountOccurrences(c.text, c.sought), c.count);
}

TEST(StripEnclosingTest, Table) {
  const struct {
    Text text;
    Text first;
    Text second;
    Text result;
  } cases[] = {
      {u"(a b)", u"(", u")", u"a b"},  // the enclosing pair
      {u"((a))", u"(", u")", u"(a)"},  // only one level
      {u")a(", u"(", u")", u"a"},      // either end, either order
      {u"()", u"(", u")", u")"},       // too short for the second delimiter
      {u"))", u"(", u")", u""},        // both ends of the second
      {u"(", u"(", u")", u"("},        // shorter than two delimiters
      {u"", u"(", u")", u""},          // empty text
      {u"(a(", u"(", u" ", u"a"},      // blank second delimiter is skipped
      {u" a ", u" ", u"", u"a"},       // a space is an ordinary first delimiter
      {u"(a)", u"", u")", u"(a"},      // empty first delimiter removes nothing
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StripEnclosing(c.text, c.first, c.second), c.result) << ToUtf8(c.text);
  }
}

TEST(ToUtf8Test, EncodesAndReplacesLoneSurrogates) {
  EXPECT_EQ(ToUtf8(u"a\u00e9\u20ac\U0001F600"), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(ToUtf8(Text(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
}

TEST(Utf8Test, FindInvalidAgreesWithUtfcpp) {
  // Random bytes drawn mostly from the lead and continuation ranges, so
  // that every kind of sequence, whole or broken, turns up in every place.
  constexpr std::string_view kBytes =
      "a \x7F\x80\x8F\x90\x9F\xA0\xBF\xC0\xC1\xC2\xDF\xE0\xE1\xEC\xED\xEE\xEF"
      "\xF0\xF1\xF3\xF4\xF5\xFF";
  testing::Rng rng(8);
  for (int i = 0; i < 200'000; ++i) {
    std::string bytes;
    // Long ASCII stretches take the word-at-a-time path.
    if (rng.Below(4) == 0) bytes.assign(rng.Below(20), 'x');
    for (size_t n = rng.Below(8); n > 0; --n) bytes += kBytes[rng.Below(kBytes.size())];
    if (rng.Below(4) == 0) bytes.append(rng.Below(20), 'y');
    const size_t expected = utf8::find_invalid(bytes);
    ASSERT_EQ(FindInvalidUtf8(bytes), expected) << ::testing::PrintToString(bytes);
    if (expected == std::string_view::npos) {
      Text decoded;
      utf8::utf8to16(bytes.begin(), bytes.end(), std::back_inserter(decoded));
      ASSERT_EQ(FromUtf8(bytes), decoded) << ::testing::PrintToString(bytes);
      ASSERT_EQ(ToUtf8(decoded), bytes);
    }
  }
}

TEST(Utf8Test, FromUtf8ReplacesEachBadByte) {
  EXPECT_EQ(FromUtf8("a\xFF\xE2\x82z"), u"a\uFFFD\uFFFD\uFFFDz");
  EXPECT_EQ(FromUtf8("\xF0\x9D\x84\x9E"), u"\U0001D11E");
}

}  // namespace
}  // namespace boolconv
