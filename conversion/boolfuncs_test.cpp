#include "conversion/boolfuncs.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace boolconv {
namespace {

// Collects warning prompts while it lives.
struct WarningRecorder {
  std::vector<Text> prompts;
  ScopedWarningHandler scope{
      [this](const Text&, const Text& prompt, int32_t) { prompts.push_back(prompt); }};
};

Text Repeat(const Text& piece, size_t times) {
  Text out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

struct ConversionCase {
  Text input;
  Text operator_form;
  Text sign_form;
};

TEST(ConvertBooleanTest, WholeConversions) {
  const ConversionCase cases[] = {
      {u"a b or c", u"(a AND b or c)", u"(+a +b c)"},  // implicit AND before "or"
      // nested group after an explicit "and"
      {u"a and (b or c)", u"(a and (b or c))", u"(+a +(b c))"},
      {u"a or (b c)", u"(a or (b AND c))", u"(a (+b +c))"},  // nested group after "or"
      // groups side by side
      {u"(a b) (c d)", u"((a AND b) AND (c AND d))", u"(+(+a +b) +(+c +d))"},
      // two levels
      {u"((a b) or (c d)) e", u"(((a AND b) or (c AND d)) AND e)", u"(+((+a +b) (+c +d)) +e)"},
      {u"a and not b", u"(a NOT b)", u"(+a -b)"},  // "and not" and "OR NOT" collapse to NOT
      {u"a OR NOT b", u"(a NOT b)", u"(+a -b)"},
      {u"a and not (b)", u"(a NOT b)", u"(+a -b)"},  // a single term in parentheses dissolves
      {u"x (y", u"(x AND y)", u"(+x +y)"},           // unbalanced counts are repaired
      {u"a ) b", u"(a AND b)", u"(+a +b)"},
      {u"a(b)c", u"(a AND b AND c)", u"(+a +b +c)"},  // parentheses without spaces around them
      {u"a", u" a ", u" a "},                         // single terms come back between spaces
      {u"(a)", u"  a  ", u"  a  "},
      {u"((a b))", u"  (a AND b)  ", u"  (+a +b)  "},
      // the first group closes early: text between groups stays as typed
      {u"a) or (b", u" a  or  b ", u" a  or  b "},
      {u"()", u"  ", u"  "},
      {u") a (", u"   a   ", u"   a   "},
      {u"", u"", u""},  // blank input
      {u"    ", u"", u""},
      {Text(u" ") + Text(2, u'\0') + u" ", Text(2, u'\0'), Text(2, u'\0')},
      // words that look like placeholders are the user's words
      {u"(c d) 1XXXX e", u"((c AND d) AND 1XXXX AND e)", u"(+(+c +d) +1XXXX +e)"},
      {u"(c d) 1X e", u"((c AND d) AND 1X AND e)", u"(+(+c +d) +1X +e)"},
      {u"(c d) a1Xb", u"((c AND d) AND a1Xb)", u"(+(+c +d) +a1Xb)"},
      {u"(c d) \"1X 1XXXX\"", u"((c AND d) AND \"1X 1XXXX\")", u"(+(+c +d) +\"1X 1XXXX\")"},
      // a converted group inside a phrase is expanded in place
      {u"\"x (b c)\" y", u"(\"x (b AND c) \" AND y)", u"(+\"x (+b +c) \" +y)"},
      // groups dissolving around a phrase that swallowed a converted group
      {u"((\"x (a) y\")) z", u"(\"x  a  y\" AND z)", u"(+\"x  a  y\" +z)"},
      {u"((\"x (a b) y\")) z", u"(\"x (a AND b) y\" AND z)", u"(+\"x (+a +b) y\" +z)"},
      // case of words is kept; only the inserted AND is capitals
      {u"Cat OR dog Fish", u"(Cat OR dog AND Fish)", u"(Cat dog +Fish)"},
  };
  BoolFuncs engine;
  for (const ConversionCase& c : cases) {
    Text operator_form = u"stale";
    Text sign_form = u"stale";
    engine.ConvertBoolean(c.input, operator_form, sign_form);
    EXPECT_EQ(operator_form, c.operator_form) << "input: " << ToUtf8(c.input);
    EXPECT_EQ(sign_form, c.sign_form) << "input: " << ToUtf8(c.input);
  }
}

TEST(ConvertBooleanTest, UnmatchedCloseFailsAndLeavesOutputs) {
  BoolFuncs engine;
  Text operator_form = u"before";
  Text sign_form = u"before";
  try {
    // The group before the stray ")" converts, but leaves no row behind.
    engine.ConvertBoolean(u"(x y) a)) or ((b", operator_form, sign_form);
    FAIL() << "expected an error";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), kUnmatchedCloseError);
    EXPECT_EQ(error.source(), u"boolconv");
    EXPECT_STREQ(error.what(),
                 "A closing parenthesis \")\" has no opening parenthesis \"(\" before it.");
  }
  EXPECT_EQ(operator_form, u"before");
  EXPECT_EQ(sign_form, u"before");
  EXPECT_TRUE(engine.GroupTable().empty());
}

TEST(ConvertBooleanTest, UnclosedQuoteDissolvesGroupAndWarns) {
  WarningRecorder recorder;
  BoolFuncs engine;
  Text operator_form, sign_form;
  // The inner group's odd quote makes it dissolve; nothing typed is lost.
  engine.ConvertBoolean(u"(a b) (c \"d) e", operator_form, sign_form);
  EXPECT_EQ(operator_form, u" (a AND b)  c \"d  e ");
  ASSERT_EQ(recorder.prompts.size(), 2u);
  EXPECT_EQ(recorder.prompts[0],
            u"(GetTokens) Error: Invalid procedure call or argument\r\nLine:  c \"d ");
  // The outer group sees the dissolved text and the first group's placeholder.
  EXPECT_EQ(recorder.prompts[1],
            u"(GetTokens) Error: Invalid procedure call or argument\r\nLine:  1X  c \"d  e ");
}

TEST(ConvertBooleanTest, GroupTableHoldsConvertedGroupsOfLastConversion) {
  BoolFuncs engine;
  Text operator_form, sign_form;
  engine.ConvertBoolean(u"((a b) or (c d)) e", operator_form, sign_form);
  std::vector<GroupRow> rows = engine.GroupTable();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].placeholder, u"1X");
  EXPECT_EQ(rows[0].operator_form, u"(a AND b)");
  EXPECT_EQ(rows[1].sign_form, u"(+c +d)");
  EXPECT_EQ(rows[2].operator_form, u"(1X or 2X)");
  EXPECT_EQ(rows[2].sign_form, u"(1X 2X)");
  EXPECT_EQ(rows[3].placeholder, u"4X");
  EXPECT_EQ(rows[3].sign_form, u"(+3X +e)");

  // Dissolved groups get no row, and each conversion starts afresh.
  engine.ConvertBoolean(u"(a) (b c)", operator_form, sign_form);
  rows = engine.GroupTable();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].operator_form, u"(b AND c)");
  EXPECT_EQ(rows[1].operator_form, u"(a AND 1X)");
  EXPECT_EQ(operator_form, u"(a AND (b AND c))");
  engine.ConvertBoolean(u"a", operator_form, sign_form);
  EXPECT_TRUE(engine.GroupTable().empty());
}

TEST(ConvertBooleanTest, RowNumbersBeyondFiveDigits) {
  // 100,001 groups side by side: six-digit row numbers fit their groups.
  BoolFuncs engine;
  Text operator_form, sign_form;
  engine.ConvertBoolean(Repeat(u"(a b) ", 100000), operator_form, sign_form);
  EXPECT_EQ(engine.GroupTable().back().placeholder, u"100001X");
  EXPECT_EQ(operator_form, u"(" + Repeat(u"(a AND b) AND ", 99999) + u"(a AND b))");
  EXPECT_EQ(sign_form, u"(" + Repeat(u"+(+a +b) ", 99999) + u"+(+a +b))");
}

TEST(ConvertBooleanTest, DeepNestingConvertsWithoutRecursion) {
  // «((…((a b) c) …) z)», 100,000 levels deep.
  const size_t depth = 100000;
  const Text input = Repeat(u"(", depth) + u"a" + Repeat(u" b)", depth);
  BoolFuncs engine;
  Text operator_form, sign_form;
  engine.ConvertBoolean(input, operator_form, sign_form);
  // The user's outermost group is converted; the wrapping pair dissolves.
  EXPECT_EQ(operator_form, u" " + Repeat(u"(", depth) + u"a" + Repeat(u" AND b)", depth) + u" ");
  EXPECT_EQ(sign_form, u" " + Repeat(u"(+", depth) + u"a" + Repeat(u" +b)", depth) + u" ");
}

TEST(ConvertBooleanTest, WarningsReachTheHandlerOfTheirOwnThread) {
  // Each thread converts its own unclosed phrase many times at once with the
  // others; every warning it records must be its own, none lost, none extra.
  constexpr int kThreads = 4;
  constexpr int kConversions = 200;
  std::vector<std::vector<Text>> prompts(kThreads);
  std::vector<Text> operator_forms(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &prompts, &operator_forms] {
      const Text word = u"w" + Text(static_cast<size_t>(t) + 1, u'x');
      ScopedWarningHandler scope(
          [&](const Text&, const Text& prompt, int32_t) { prompts[t].push_back(prompt); });
      BoolFuncs engine;
      Text sign_form;
      for (int i = 0; i < kConversions; ++i) {
        engine.ConvertBoolean(word + u" \"b", operator_forms[t], sign_form);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    const Text word = u"w" + Text(static_cast<size_t>(t) + 1, u'x');
    EXPECT_EQ(operator_forms[t], u" " + word + u" \"b ");
    ASSERT_EQ(prompts[t].size(), static_cast<size_t>(kConversions)) << "thread " << t;
    for (const Text& prompt : prompts[t]) {
      EXPECT_EQ(prompt, u"(GetTokens) Error: Invalid procedure call or argument\r\nLine:  " + word +
                            u" \"b ");
    }
  }
}

// Convert keeps the first warnings' prompts in full within its budget and
// counts the rest, where ConvertBoolean shows every one. A quote deep in a
// nest warns once for each group around it, each prompt quoting its group.
TEST(ConvertTest, KeepsTheFirstWarningsAndCountsTheRest) {
  const std::string big_group(kMostKeptWarningBytes * 3 / 4, 'w');
  const struct {
    std::string input;
    size_t kept;
  } cases[] = {
      {"a \"b", 1},
      {std::string(10, '(') + "\"" + std::string(10, ')'), 11},  // each level, and the whole
      {std::string(1000, '(') + "\"" + std::string(1000, ')'), kMostKeptWarnings},
      {"(a \"" + std::string(kMostKeptWarningBytes + 5, 'x') + ")",
       1},  // the first, whatever its size
      // a second prompt past the byte budget is left out, and so is every later one
      {"((" + big_group + " \"b) " + big_group + ") \"c", 1},
  };
  BoolFuncs engine;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 40));
    WarningRecorder shown;
    Text operator_form, sign_form;
    engine.ConvertBoolean(FromUtf8(c.input), operator_form, sign_form);
    const Conversion result = engine.Convert(c.input);
    EXPECT_EQ(ToUtf8(operator_form), result.operator_form);
    ASSERT_EQ(result.warnings.size(), c.kept);
    EXPECT_EQ(result.warnings.size() + result.warnings_dropped, shown.prompts.size());
    for (size_t i = 0; i < c.kept; ++i) EXPECT_EQ(result.warnings[i], ToUtf8(shown.prompts[i]));
  }
}

TEST(NormalizeBooleanTest, Table) {
  const struct {
    Text input;
    Text normal;
  } cases[] = {
      {u"((a", u"(((a)))"},                            // missing ")" appended
      {u"a))", u"(((a)))"},                            // missing "(" prepended
      {u"a and notb", u"(a and notb)"},                // "not" must stand alone
      {u"x and not and not y", u"(x NOT and not y)"},  // matches do not overlap
      {u"a AnD NoT b Or nOt c", u"(a NOT b NOT c)"},   // any letter case
      {u"  ( a  b )  ", u"((a b))"},                   // inner spaces removed
      {u"a" + Repeat(u" ", 1024) + u"b", u"(a b)"},    // ten passes reach 1024
      {u"a" + Repeat(u" ", 1025) + u"b", u"(a  b)"},   // but not 1025
      {Repeat(u"(", 11) + Repeat(u")", 11), u"(())"},  // ten empty pairs vanish
      {Repeat(u"(", 12) + Repeat(u")", 12), u"((()))"},
      {u"a\tb", u"(a\tb)"},  // tabs are not spaces
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NormalizeBoolean(c.input), c.normal) << ToUtf8(c.input);
  }
}

TEST(ConvertGroupTest, Table) {
  const Text skip = kSkipMarker;
  const ConversionCase cases[] = {
      {u"(a b)", u"(a AND b)", u"(+a +b)"},  // implicit AND
      {u"(a b c)", u"(a AND b AND c)", u"(+a +b +c)"},
      {u"(A OR B)", u"(A OR B)", u"(A B)"},  // "or" keeps both bare
      {u"(a and b or c)", u"(a and b or c)", u"(+a +b c)"},
      {u"(a or b c)", u"(a or b AND c)", u"(a b +c)"},
      {u"(a NOT b)", u"(a NOT b)", u"(+a -b)"},                // "not" gives "-"
      {u"(not a)", u"(not AND a)", u"(+not +a)"},              // leading operator word
      {u"(a and or b)", u"(a and or AND b)", u"(+a +or +b)"},  // operator as operand
      {u"(a or)", u"(a)", u"(a)"},                             // trailing operator dropped
      {u"(a b or)", u"(a AND b)", u"(+a +b)"},
      {u"(\"big cat\" dog)", u"(\"big cat\" AND dog)", u"(+\"big cat\" +dog)"},
      {u"(a \"or\" b)", u"(a AND \"or\" AND b)", u"(+a +\"or\" +b)"},  // quoted word is no op
      {u"( a  b )", u"(a AND b)", u"(+a +b)"},                         // empty tokens dropped
      {u"(\"a  b\" c)", u"(\"a  b\" AND c)", u"(+\"a  b\" +c)"},       // phrase spaces survive
      {u"(a)", skip, skip},                                            // fewer than two terms
      {u"(\"big cat\")", skip, skip},
      {u"( )", skip, skip},
      {u"()", skip, skip},
  };
  for (const ConversionCase& c : cases) {
    Text operator_form = u"stale";
    Text sign_form = u"stale";
    ConvertGroup(c.input, operator_form, sign_form);
    EXPECT_EQ(operator_form, c.operator_form) << ToUtf8(c.input);
    EXPECT_EQ(sign_form, c.sign_form) << ToUtf8(c.input);
  }
}

TEST(IsOperatorTest, OnlyTheThreeWordsInAnyAsciiCase) {
  for (const Text word : {u"and", u"OR", u"nOt"}) EXPECT_TRUE(IsOperator(word));
  // empty, untrimmed, quoted, longer, and a non-ASCII capital that lower-cases to "i"
  for (const Text word : {u"", u" or", u"\"or\"", u"nor", u"\u0130r"}) {
    EXPECT_FALSE(IsOperator(word)) << ToUtf8(word);
  }
}

}  // namespace
}  // namespace boolconv
