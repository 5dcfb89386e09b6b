#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.h"

namespace boolconv {
namespace {

// A diagnostic as tests name it: code and span in code points.
struct Found {
  std::string code;
  size_t start;
  size_t end;
  bool operator==(const Found&) const = default;
};

void PrintTo(const Found& found, std::ostream* os) {
  *os << found.code << " [" << found.start << ", " << found.end << ")";
}

std::vector<Found> Codes(const std::vector<Diagnostic>& diagnostics) {
  std::vector<Found> found;
  for (const Diagnostic& d : diagnostics) found.push_back({d.code, d.start, d.end});
  return found;
}

struct CheckCase {
  Text input;
  std::vector<Found> expected;
};

// The pastes a searcher makes, one or more rows per code. Spans are in code
// points of the input.
TEST(CheckTest, FindsEachCodeAtItsSpan) {
  const CheckCase cases[] = {
      // a line break after an operator word, and one that joins NOT to a word
      {u"(asthma OR wheez*) AND\n(child* OR adolescen*) NOT\nadult*",
       {{"joined-words", 22, 23}, {"joined-words", 49, 50}}},
      // line breaks inside a group glue each OR to the word before it
      {u"(asthma\nOR wheez*\r\nOR bronchospasm)",
       {{"joined-words", 7, 8}, {"joined-words", 17, 19}}},
      // a tab, a no-break space, an ideographic space, a zero-width space
      {u"a\tb c\u00A0d e\u3000f g\u200Bh",
       {{"joined-words", 1, 2},
        {"joined-words", 5, 6},
        {"joined-words", 9, 10},
        {"joined-words", 13, 14}}},
      // a byte-order mark in front, and a line break standing between spaces
      {u"\uFEFFa b \n c", {{"joined-words", 0, 1}, {"joined-words", 5, 6}}},
      // quotes from a word processor make no phrase
      {u"(\u201Cheart failure\u201D OR \u201Ecardiac failure\u201F)",
       {{"typographic-quote", 1, 2},
        {"typographic-quote", 15, 16},
        {"typographic-quote", 20, 21},
        {"typographic-quote", 36, 37}}},
      // a quote that never closes, at the top and inside a group
      {u"\"a b\" \"c d", {{"unclosed-quote", 6, 7}}},
      {u"(x y) AND (\"tai chi OR z)", {{"unclosed-quote", 11, 12}}},
      // a stray ")" fails the conversion; the first one closed the expression early
      {u"a)) or ((b", {{"unbalanced-parentheses", 1, 2}, {"unmatched-close", 2, 3}}},
      // closers with no opener get one at the start
      {u"a OR b) OR c) AND d",
       {{"unbalanced-parentheses", 6, 7}, {"unbalanced-parentheses", 12, 13}}},
      // an opener never closed gets a ")" at the end
      {u"(a OR b) AND (c OR d", {{"unbalanced-parentheses", 13, 14}}},
      // a ")" that closes the whole expression early, and the "(" after it
      {u"a) or (b", {{"unbalanced-parentheses", 1, 2}, {"unbalanced-parentheses", 6, 7}}},
      // operator words where no operator can stand
      {u"NOT animals[mh]", {{"leading-operator", 0, 3}}},
      {u"asthma NOT", {{"trailing-operator", 7, 10}}},
      {u"(a OR) AND b", {{"trailing-operator", 3, 5}}},
      {u"a and or b", {{"operator-as-operand", 6, 8}}},
      // a second "and not" loses the space the first one took
      {u"x and not and not y", {{"operator-as-operand", 10, 13}}},
      // OR-ed terms beside an AND, written or implied
      {u"telehealth OR telemedicine AND heart failure", {{"mixed-and-or", 0, 44}}},
      {u"(a b OR c) NOT d", {{"mixed-and-or", 1, 9}}},
      // a lower-case "not" among capital operators
      {u"(do not resuscitate OR DNR)", {{"lowercase-operator", 4, 7}}},
      {u"(a and not b) OR c", {{"lowercase-operator", 3, 10}}},
      // field tags with a space in them
      {u"\"heart failure\"[MeSH Terms]", {{"spaced-bracket", 15, 27}}},
      {u"asthma[MeSH Major Topic] OR x", {{"spaced-bracket", 6, 24}}},
      // positions count code points: the emoji takes one, not two units
      {u"\U0001F600 a NOT", {{"trailing-operator", 4, 7}}},
  };
  for (const CheckCase& c : cases) {
    EXPECT_EQ(Codes(Check(c.input)), c.expected) << ToUtf8(c.input);
  }
}

// What the converter reads as meant draws nothing.
TEST(CheckTest, CleanExpressionsDrawNothing) {
  const Text clean[] = {
      u"",
      u"   ",
      u"((a b) or (c d)) e",
      u"(asthma OR wheez*) AND (child* OR adolescen*) NOT adult*",
      u"\"heart failure\"[mh] OR \"cardiac failure\"[tiab]",
      u"a and not b",
      u"do not resuscitate or dnr",  // all in lower case: the words mean operators
      u"(a OR b) AND \"x (y) z\"",
      u"\u00E9t\u00E9 AND \U0001F600",
  };
  for (const Text& input : clean)
    EXPECT_EQ(Codes(Check(input)), std::vector<Found>()) << ToUtf8(input);
}

// Severities and messages, which name the text and say what to do.
TEST(CheckTest, Messages) {
  const struct {
    Text input;
    std::string code;
    Severity severity;
    std::string message;
  } cases[] = {
      {u"a)) or ((b", "unmatched-close", Severity::kError,
       "This \")\" has no \"(\" before it, so the expression cannot be converted. Remove it, or "
       "add the \"(\" it should close."},
      {u"x AND\ny", "joined-words", Severity::kWarning,
       "A line break between \"AND\" and \"y\" is not a space, so they are read as one word, "
       "\"AND⏎y\", and \"AND\" does not act as an operator. Replace it with a space."},
      {u"a\t\tb", "joined-words", Severity::kWarning,
       "2 tabs between \"a\" and \"b\" are not spaces, so they are read as one word, \"a⇥⇥b\". "
       "Replace them with a space."},
      {u"(a OR \"Tai Ji[mh]) AND (b c)", "unclosed-quote", Severity::kWarning,
       "The double quote before \"Tai\" never closes, so its group and every group around it "
       "lose their parentheses and are not converted: their AND, OR and NOT stay as typed, and "
       "the converter warns once for each. Add the closing quote, or remove this one."},
      {u"telehealth OR telemedicine AND heart failure", "mixed-and-or", Severity::kWarning,
       "This group mixes AND and OR without parentheses, so in the sign form \"telehealth\" and "
       "\"telemedicine\" become optional. Words next to each other belong together, as databases "
       "read them. Databases disagree on how to read it: PubMed reads left to right, "
       "\"(telehealth OR telemedicine) AND (heart failure)\"; most others bind AND before OR, "
       "\"telehealth OR (telemedicine AND (heart failure))\". Write the parentheses of the one "
       "you mean."},
      {u"(nursing home* or care home* or long term care)", "mixed-and-or", Severity::kWarning,
       "This group mixes OR with words written next to each other, which the conversion joins "
       "with AND, so in the sign form \"care\" and \"long\" become optional. Words next to each "
       "other belong together, as databases read them: write \"(nursing home*) or (care home*) "
       "or (long term care)\", or put each run of words in double quotes to search it as a "
       "phrase."},
      {u"diabetes OR NOT insulin", "or-not", Severity::kWarning,
       "\"OR NOT\" is read as NOT (the converter turns \"or not\" into NOT), so the OR is "
       "dropped: \"insulin\" is excluded, not offered. Write NOT alone to exclude it, or OR "
       "alone to search it as an alternative."},
      {u"(do not resuscitate OR DNR)", "lowercase-operator", Severity::kInfo,
       "\"not\" acts as the operator NOT, although this expression writes its other operators in "
       "capitals. If \"do not resuscitate\" is meant as a phrase, put it in double quotes."},
      {u"\"heart failure\"[MeSH Terms]", "spaced-bracket", Severity::kWarning,
       "The field tag \"[MeSH Terms]\" holds a space, so the converter splits it into separate "
       "words to search for. Write the tag without spaces."},
  };
  for (const auto& c : cases) {
    const std::vector<Diagnostic> found = Check(c.input);
    const auto with_code = std::find_if(found.begin(), found.end(),
                                        [&](const Diagnostic& d) { return d.code == c.code; });
    ASSERT_NE(with_code, found.end()) << ToUtf8(c.input);
    EXPECT_EQ(with_code->severity, c.severity) << ToUtf8(c.input);
    EXPECT_EQ(with_code->message, c.message);
  }
}

// One stray quote in a long strategy: one diagnostic, at the quote, naming
// the groups it costs.
TEST(CheckTest, StrayQuoteInLongStrategy) {
  const Text block =
      u"(\"randomized controlled trial\"[pt] OR \"controlled clinical trial\"[pt] OR "
      u"randomized[tiab] OR placebo[tiab] OR \"clinical trials as topic\"[mesh:noexp] OR "
      u"randomly[tiab] OR trial[ti]) NOT (animals[mh] NOT humans[mh]) AND ";
  Text strategy;
  for (int i = 0; i < 10; ++i) strategy += block;
  strategy += u"((\"tai chi\"[tiab] OR \"Tai Ji[mh] OR qigong[tiab]) AND (falls[mh] OR balance))";
  const size_t quote = strategy.find(u"\"Tai");
  ASSERT_EQ(strategy[quote], u'"');
  ASSERT_GT(strategy.size(), 2000u);
  const std::vector<Diagnostic> found = Check(strategy);
  ASSERT_EQ(Codes(found), (std::vector<Found>{{"unclosed-quote", quote, quote + 1}}));
  EXPECT_NE(found[0].message.find("before \"Tai\" never closes, so its group and every group "),
            std::string::npos);
}

Text Repeated(std::u16string_view piece, size_t count, std::u16string_view tail = {}) {
  Text text;
  for (size_t i = 0; i < count; ++i) text += piece;
  for (size_t i = 0; i < count; ++i) text += tail;
  return text;
}

// Groups nested in phrases, and groups dissolving inside the phrases of the
// groups around them, read as the converter reads them; nested groups report
// innermost first, and the list is in order all the same.
TEST(CheckTest, NestedGroupsAndPhrases) {
  const CheckCase cases[] = {
      // a field tag in a group that a phrase spans: reported once
      {u"(b \"a (x [y z] w) d\" e)", {{"spaced-bracket", 9, 14}}},
      // a field tag begun in the nested group and ended after it
      {u"(a \"b (c [x) d\" y] e)", {{"spaced-bracket", 9, 18}}},
      // a tab in the nested group keeps the mixing of AND and OR around it quiet
      {u"(a OR b c \"d (e\tf g) h\")", {{"joined-words", 15, 16}}},
      {u"(x \"y (a OR b c) d\" e OR f g)", {{"mixed-and-or", 1, 28}, {"mixed-and-or", 7, 15}}},
      // groups dissolving inside phrases, three deep: the converter finds the quote
      // before "t" unclosed, but paired as typed the quotes make phrases that end
      // or begin with a space, "q (r " and " v) w": leaving out three quotes
      // makes every phrase plausible
      {u"(p \"q (r \"s (t u\" v) w\" x) y\" z)",
       {{"unclosed-quote", 3, 4}, {"unclosed-quote", 22, 23}, {"unclosed-quote", 28, 29}}},
      // phrases that span groups pair within each group, as the converter pairs
      // them: with no quote unclosed, none is taken for a mistake
      {u"(a \"b (c \"d (e f) g\" h) i\" j OR k l)", {{"mixed-and-or", 1, 35}}},
      {u"(NOT a (NOT b (NOT c d)))",
       {{"leading-operator", 1, 4}, {"leading-operator", 8, 11}, {"leading-operator", 15, 18}}},
      // a ")" closing the whole expression, then a "(" it leaves open and one closed at the end
      {u"a) (b (c",
       {{"unbalanced-parentheses", 1, 2},
        {"unbalanced-parentheses", 3, 4},
        {"unbalanced-parentheses", 6, 7}}},
  };
  for (const CheckCase& c : cases) {
    EXPECT_EQ(Codes(Check(c.input)), c.expected) << ToUtf8(c.input);
  }
}

// Typographic quotes name the word they stand in, which ends at a space, a
// parenthesis or a hidden separator, however many quotes it holds.
TEST(CheckTest, TypographicQuotesNameTheirWord) {
  const struct {
    Text input;
    std::vector<std::string> words;  // quoted, one per quote
  } cases[] = {
      {u"\u201Cx\u201Cy\u201Cz", {"\"“x“y“z\"", "\"“x“y“z\"", "\"“x“y“z\""}},
      {u"\u201Ca\t\u201Cb (c\u201D)", {"\"“a\"", "\"“b\"", "\"c”\""}},
  };
  for (const auto& c : cases) {
    const std::vector<Diagnostic> found = Check(c.input);
    std::vector<std::string> words;
    for (const Diagnostic& d : found) {
      if (d.code != "typographic-quote") continue;
      const size_t at = d.message.find("part of the word ") + 17;
      words.push_back(d.message.substr(at, d.message.find(", and the words") - at));
    }
    EXPECT_EQ(words, c.words) << ToUtf8(c.input);
  }
}

// A group of any size makes a message of bounded size: the rewrite it
// suggests is written out below 100 characters; longer, its first run of
// words next to each other is shown, cut like any quoted text at 40
// characters, and never inside a character.
TEST(CheckTest, MixedAndOrSuggestionIsCut) {
  const std::string smile = "\U0001F600";
  auto times = [](const std::string& piece, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += piece;
    return text;
  };
  const struct {
    Text input;
    std::string suggestion;
  } cases[] = {
      {Repeated(u"t", 90) + u" OR b c", "write \"" + times("t", 90) + " OR (b c)\""},
      {Repeated(u"t", 91) + u" OR b c", "as in \"(b c)\""},
      {u"(y OR " + Repeated(u"x", 100000) + u" z)", "as in \"(" + times("x", 38) + "…\""},
      {u"(y OR a" + Repeated(u"\U0001F600", 50) + u" z)", "as in \"(a" + times(smile, 37) + "…\""},
  };
  for (const auto& c : cases) {
    const std::vector<Diagnostic> found = Check(c.input);
    ASSERT_EQ(found.size(), 1u);
    const std::string& message = found[0].message;
    EXPECT_EQ(found[0].code, "mixed-and-or");
    EXPECT_NE(message.find(c.suggestion), std::string::npos) << message;
    EXPECT_LT(message.size(), 700u);
  }
  // Each of a thousand nested groups mixes AND and OR.
  const std::vector<Diagnostic> nested = Check(Repeated(u"(a or b c ", 1000, u")"));
  ASSERT_EQ(nested.size(), 1000u);
  for (const Diagnostic& d : nested) EXPECT_LT(d.message.size(), 400u);
}

// Any text: no exception, spans inside it, sorted, the same every time.
TEST(CheckTest, PropertiesOnRandomText) {
  const Text pieces[] = {u"a",
                         u"Word",
                         u" ",
                         u"  ",
                         u"(",
                         u")",
                         u"\"",
                         u"and",
                         u"OR",
                         u"Not",
                         u"\n",
                         u"\r\n",
                         u"\t",
                         u"\u00A0",
                         u"\u201C",
                         u"\u201D",
                         u"[",
                         u"]",
                         u"[x y]",
                         u"\u200B",
                         Text(1, u'\0'),
                         u"\U0001F600",
                         Text(1, char16_t{0xD800}),
                         u"1X",
                         u"and not",
                         u"or not"};
  std::mt19937 random(20261207);
  for (int round = 0; round < 3000; ++round) {
    Text input;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) input += pieces[random() % std::size(pieces)];
    size_t code_points = 0;
    for (size_t i = 0; i < input.size(); ++i) {
      const bool pair = input[i] >= 0xD800 && input[i] <= 0xDBFF && i + 1 < input.size() &&
                        input[i + 1] >= 0xDC00 && input[i + 1] <= 0xDFFF;
      i += pair;
      ++code_points;
    }
    const std::vector<Diagnostic> found = Check(input);
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_LT(found[i].start, found[i].end) << ToUtf8(input);
      EXPECT_LE(found[i].end, code_points) << ToUtf8(input);
      EXPECT_FALSE(found[i].message.empty());
      if (i > 0) {
        EXPECT_LE(found[i - 1].start, found[i].start) << ToUtf8(input);
      }
    }
    EXPECT_EQ(Check(input), found);
  }
}

}  // namespace
}  // namespace boolconv
