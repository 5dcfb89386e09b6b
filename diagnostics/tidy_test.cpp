#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/diagnostics.h"

namespace boolconv {
namespace {

struct TidyCase {
  Text input;
  bool capitals;
  Text tidied;
  std::vector<std::string> repairs;  // codes, in order
};

TEST(TidyTest, RepairsPastedText) {
  const TidyCase cases[] = {
      // a multi-line paste: every line break becomes a space
      {u"(asthma OR wheez*) AND\r\n(child* OR adolescen*) NOT\nadult*",
       false,
       u"(asthma OR wheez*) AND  (child* OR adolescen*) NOT adult*",
       {"joined-words", "joined-words"}},
      // tabs, no-break, ideographic and zero-width spaces, and a byte-order mark
      {u"\uFEFFa\tb\u00A0c\u3000d\u200Be",
       false,
       u" a b c d e",
       {"joined-words", "joined-words", "joined-words", "joined-words", "joined-words"}},
      // quotes from a word processor become straight quotes
      {u"\u201Cheart failure\u201D OR \u00ABcardiac failure\u00BB",
       false,
       u"\"heart failure\" OR \"cardiac failure\"",
       {"typographic-quote", "typographic-quote", "typographic-quote", "typographic-quote"}},
      // capitals only where the word acts as an operator
      {u"not a and b or not c or",
       true,
       u"not a AND b OR NOT c or",
       {"lowercase-operator", "lowercase-operator"}},
      // an OR that a line break hid acts as an operator once the break is a space
      {u"a\nor b", true, u"a OR b", {"joined-words", "lowercase-operator"}},
      // without the option, operator words keep their letter case
      {u"a or b", false, u"a or b", {}},
      // nothing to mend
      {u"(a OR b) AND \"c d\"", true, u"(a OR b) AND \"c d\"", {}},
      // a conversion that fails has no operators to write in capitals
      {u"a or b)) or ((c", true, u"a or b)) or ((c", {}},
      // a lower-case operator among capitals may belong to a phrase: it stays
      {u"(do not resuscitate OR DNR)", true, u"(do not resuscitate OR DNR)", {}},
      {u"(nursing or care) AND home*", true, u"(nursing or care) AND home*", {}},
      // a control character from an export joins words like a line break
      {u"asthma\x01OR wheeze", false, u"asthma OR wheeze", {"joined-words"}},
      // single-quoted phrases, straight and typographic, become phrases
      {u"('heart attack' OR \u2018myocardial infarction\u2019)",
       false,
       u"(\"heart attack\" OR \"myocardial infarction\")",
       {"single-quote", "single-quote"}},
      {u"'heart attack'/exp", false, u"\"heart attack\"/exp", {"single-quote"}},
      // apostrophes and one quoted word are no phrase
      {u"Crohn's disease OR patients' views OR 'asthma'/exp",
       false,
       u"Crohn's disease OR patients' views OR 'asthma'/exp",
       {}},
      // a sign that begins a word becomes the operator it means
      {u"asthma -pediatric", false, u"asthma NOT pediatric", {"sign-prefix"}},
      {u"asthma \u2013adult \u2212child",
       false,
       u"asthma NOT adult NOT child",
       {"sign-prefix", "sign-prefix"}},
      {u"+asthma +child*", false, u"asthma child*", {"sign-prefix", "sign-prefix"}},
      // a lone "+" goes only where its group keeps two words: here the group
      // would dissolve, and a second tidy would read "-" anew (found by the
      // fuzzer)
      {u"a (+(()) -) b", false, u"a (+(()) -) b", {}},
      {u"a (+ x -) b", false, u"a ( x -) b", {"sign-prefix"}},
      {std::u16string(u"a (+\0\0(()) -) b", 15),
       false,
       std::u16string(u"a (+\0\0(()) -) b", 15),
       {}},
      // a signed operator word is a search word; without its sign it would
      // become an operator
      {u"x +or y -AND z", true, u"x +or y -AND z", {}},
      // a lone sign before a group is the operator for the whole group
      {u"asthma -(adult OR elderly)", false, u"asthma NOT (adult OR elderly)", {"sign-prefix"}},
      // after a number a dash may end a range, and inside a tag it is part of it
      {u"yr=2010 -Current", false, u"yr=2010 -Current", {}},
      {u"x[Date - Publication]", false, u"x[Date - Publication]", {}},
      // but not after an operator, at the start of a group, before a digit or inside a word
      {u"(-x OR y) OR -z covid-19 -1", false, u"(-x OR y) OR -z covid-19 -1", {}},
  };
  for (const TidyCase& c : cases) {
    const TidyResult result = Tidy(c.input, {.capitalize_operators = c.capitals});
    EXPECT_EQ(result.expression, c.tidied) << ToUtf8(c.input);
    std::vector<std::string> codes;
    for (const Diagnostic& repair : result.repairs) {
      codes.push_back(repair.code);
      EXPECT_EQ(repair.severity, Severity::kInfo);
    }
    EXPECT_EQ(codes, c.repairs) << ToUtf8(c.input);
    // Tidying again changes nothing, and leaves nothing Tidy would mend.
    const TidyResult again = Tidy(result.expression, {.capitalize_operators = c.capitals});
    EXPECT_EQ(again.expression, result.expression);
    EXPECT_TRUE(again.repairs.empty()) << ToUtf8(c.input);
    for (const Diagnostic& left : Check(result.expression)) {
      EXPECT_NE(left.code, "joined-words") << ToUtf8(c.input);
      EXPECT_NE(left.code, "typographic-quote") << ToUtf8(c.input);
    }
  }
}

// A group that dissolves inside a phrase joins it: its operators are words
// of the phrase, and keep their letter case.
TEST(TidyTest, CapitalsFollowPhrasesAcrossGroups) {
  const TidyCase cases[] = {
      {u"(x \"y (a or b\" c) or z)", true, u"(x \"y (a or b\" c) OR z)", {"lowercase-operator"}},
      {u"(x \"y (a or b c) d\" or z)",
       true,
       u"(x \"y (a OR b c) d\" OR z)",
       {"lowercase-operator", "lowercase-operator"}},
  };
  for (const TidyCase& c : cases) {
    const TidyResult result = Tidy(c.input, {.capitalize_operators = c.capitals});
    EXPECT_EQ(result.expression, c.tidied) << ToUtf8(c.input);
    std::vector<std::string> codes;
    for (const Diagnostic& repair : result.repairs) codes.push_back(repair.code);
    EXPECT_EQ(codes, c.repairs) << ToUtf8(c.input);
  }
}

TEST(TidyTest, RepairMessagesAndSpans) {
  const TidyResult result = Tidy(u"\U0001F600 and\r\n\u201Cx y\u201D or z -w", {true});
  ASSERT_EQ(result.repairs.size(), 6u);
  // spans in code points of the input: the emoji counts once
  EXPECT_EQ(result.repairs[0].message, "Wrote the operator \"and\" in capitals.");
  EXPECT_EQ(result.repairs[0].start, 2u);
  EXPECT_EQ(result.repairs[1].start, 5u);
  EXPECT_EQ(result.repairs[1].end, 7u);
  EXPECT_EQ(result.repairs[1].message,
            "Replaced a line break between \"and\" and \"\u201Cx\" with a space.");
  EXPECT_EQ(result.repairs[2].message,
            "Replaced the typographic quotation mark \u201C with the straight double quote \".");
  EXPECT_EQ(result.repairs[4].message, "Wrote the operator \"or\" in capitals.");
  EXPECT_EQ(result.repairs[4].start, 13u);
  EXPECT_EQ(result.repairs[5].message,
            "Replaced the sign that begins \"-w\" with NOT, which excludes the word here.");
  EXPECT_EQ(result.repairs[5].start, 18u);
  EXPECT_EQ(result.expression, u"\U0001F600 AND  \"x y\" OR z NOT w");
}

// Positions in the tidied text map back to the input across the signs
// that changed its length; inside "NOT " they map to the sign.
TEST(TidyTest, InputPositionsAcrossSigns) {
  const TidyResult result = Tidy(u"a -b -c \U0001F600 +d");  // "a NOT b NOT c 😀 d"
  EXPECT_EQ(result.expression, u"a NOT b NOT c \U0001F600 d");
  const struct {
    size_t tidied;
    size_t input;
  } cases[] = {{0, 0}, {2, 2}, {4, 2}, {6, 3}, {9, 5}, {12, 6}, {14, 8}, {16, 11}};
  for (const auto& c : cases) EXPECT_EQ(result.InputPosition(c.tidied), c.input) << c.tidied;

  // Check's findings in the tidied text, moved to the input: the quote
  // stands at 5 in "a -b \"x", at 8 in "a NOT b \"x".
  const TidyResult quoted = Tidy(u"a -b \"x");
  std::vector<Diagnostic> found = Check(quoted.expression);
  quoted.MapToInput(found);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].code, "unclosed-quote");
  EXPECT_EQ(found[0].start, 5u);
  EXPECT_EQ(found[0].end, 6u);
}

}  // namespace
}  // namespace boolconv
