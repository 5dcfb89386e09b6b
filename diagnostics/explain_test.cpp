#include "diagnostics/explain.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/boolfuncs.h"
#include "testing/rng.h"
#include "textfuncs/funclib.h"

namespace boolconv {
namespace {

// The trees of strategies: roles, operators, nested, dissolved and
// unconverted groups, in plain words.
TEST(ExplainTest, Trees) {
  const struct {
    Text input;
    std::string tree;
  } cases[] = {
      {u"(asthma OR wheez*) NOT adult*", "all of\n├─ any of: asthma, wheez*\n└─ none of: adult*\n"},
      // words next to each other are required; the OR-ed ones optional
      {u"a b OR c", "all of\n├─ a\n├─ b\n└─ any of — optional in the sign form: c\n"},
      {u"a and not b", "all of\n├─ a\n└─ none of: b\n"},
      {u"\"heart failure\" exercise", "all of: \"heart failure\", exercise\n"},
      {u"((a b) c) OR d", "any of\n├─ all of\n│  ├─ all of: a, b\n│  └─ c\n└─ d\n"},
      // a group of one word dissolves into the group around it
      {u"(a) (b)", "all of: a, b\n"},
      {u"a OR b AND c",
       "all of\n├─ c\n├─ any of — optional in the sign form: a, b\n"
       "└─ databases read this group differently: left to right (PubMed) (a OR b) AND c; AND "
       "before OR (most) a OR (b AND c); OR before AND (Scopus) (a OR b) AND c\n"},
      {u"x (a \"b c)",
       "nothing is converted\n"
       "not converted: 2 groups around the double quote at character 6, "
       "which never closes\n"},
      // the whole expression unconverted: the groups that convert inside it
      {u"x \"y (c OR d) (e f)",
       "the expression as a whole is not converted; groups inside it are:\n"
       "any of: c, d\nall of: e, f\n"
       "not converted: the expression around the double quote at character 3, which never "
       "closes\n"},
      // with nothing required, one of the bare items is wanted
      {u"a OR b NOT c",
       "all of\n├─ any of: a, b\n├─ none of: c\n"
       "└─ databases read this group differently: left to right (PubMed) (a OR b) NOT c; AND "
       "before OR (most) a OR (b NOT c); OR before AND (Scopus) (a OR b) NOT c\n"},
      // every reading fully in parentheses
      {u"a AND b OR c AND d OR e",
       "all of\n├─ a\n├─ b\n├─ d\n├─ any of — optional in the sign form: c, e\n"
       "└─ databases read this group differently: left to right (PubMed) (((a AND b) OR c) AND "
       "d) OR e; AND before OR (most) ((a AND b) OR (c AND d)) OR e; OR before AND (Scopus) (a "
       "AND (b OR c)) AND (d OR e)\n"},
      {u"", "nothing is converted\n"},
      {u"a)) or ((b", "nothing is converted\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DrawExplanation(Explain(c.input), c.input), c.tree) << ToUtf8(c.input);
  }
}

// Spans in code points and the operators as the operator form writes them.
TEST(ExplainTest, ItemsAndSpans) {
  const Explanation tree = Explain(u"\U0001F600 or (b c) and not d");
  ASSERT_TRUE(tree.converted);
  const ExplainGroup& root = tree.groups[tree.root];
  ASSERT_EQ(root.items.size(), 3u);
  EXPECT_EQ(root.items[0].presence, Presence::kOptional);
  EXPECT_EQ(root.items[0].start, 0u);
  EXPECT_EQ(root.items[0].end, 1u);
  EXPECT_EQ(root.items[1].kind, ExplainItem::Kind::kGroup);
  EXPECT_EQ(root.items[1].joined_by, "or");
  EXPECT_EQ(root.items[1].start, 5u);
  EXPECT_EQ(root.items[1].end, 10u);
  EXPECT_EQ(root.items[2].joined_by, "and not");
  EXPECT_EQ(root.items[2].presence, Presence::kExcluded);
  EXPECT_EQ(tree.groups[root.items[1].group].items[1].joined_by, "AND");
}

// A nest 100,000 deep is drawn with its depth, not with 100,000 levels of
// indentation, and without recursion.
TEST(ExplainTest, DeepNest) {
  constexpr size_t kDepth = 100000;
  Text nest;
  for (size_t i = 0; i < kDepth; ++i) nest += u"(a ";
  nest += u"b";
  nest.append(kDepth, u')');
  const std::string tree = DrawExplanation(Explain(nest), nest);
  EXPECT_NE(tree.find("[depth 99999] all of: a, b\n"), std::string::npos);
  size_t longest_line = 0;
  for (size_t start = 0; start < tree.size();) {
    const size_t end = tree.find('\n', start);
    longest_line = std::max(longest_line, end - start);
    start = end + 1;
  }
  EXPECT_LT(longest_line, 100u);
}

// The sign form's groups, each a list of its items' signs ('+', '-' or ' ')
// and whether the item is a group, read back from the sign form text as
// the tokenizer splits it.
struct SignGroup {
  std::vector<std::pair<char, size_t>> items;  // sign, and the group it is (or kWordItem)
};
constexpr size_t kWordItem = static_cast<size_t>(-1);

// Parses the group that begins at `at` (its "("); returns its index.
size_t ParseSignGroup(std::u16string_view sign, size_t& at, std::vector<SignGroup>& groups) {
  ++at;  // "("
  SignGroup group;
  while (at < sign.size() && sign[at] != u')') {
    if (sign[at] == u' ') {
      ++at;
      continue;
    }
    char mark = ' ';
    if (sign[at] == u'+' || sign[at] == u'-') {
      mark = static_cast<char>(sign[at]);
      ++at;
    }
    if (at < sign.size() && sign[at] == u'(') {
      const size_t nested = ParseSignGroup(sign, at, groups);
      group.items.emplace_back(mark, nested);
      continue;
    }
    // A word: to a space (or a ")") with an even number of quotes.
    bool open = false;
    while (at < sign.size() && (open || (sign[at] != u' ' && sign[at] != u')'))) {
      if (sign[at] == u'"') open = !open;
      ++at;
    }
    group.items.emplace_back(mark, kWordItem);
  }
  ++at;  // ")"
  groups.push_back(std::move(group));
  return groups.size() - 1;
}

char SignOf(Presence presence) {
  return presence == Presence::kRequired ? '+' : presence == Presence::kExcluded ? '-' : ' ';
}

// Compares the explained group `g` with the sign form's group `s`.
void ExpectSameRoles(const Explanation& tree, size_t g, const std::vector<SignGroup>& signs,
                     size_t s, const Text& input) {
  const ExplainGroup& group = tree.groups[g];
  const SignGroup& sign = signs[s];
  ASSERT_EQ(group.items.size(), sign.items.size()) << ToUtf8(input);
  for (size_t k = 0; k < group.items.size(); ++k) {
    const ExplainItem& item = group.items[k];
    EXPECT_EQ(SignOf(item.presence), sign.items[k].first) << ToUtf8(input) << " item " << k;
    const bool is_group = item.kind == ExplainItem::Kind::kGroup;
    ASSERT_EQ(is_group, sign.items[k].second != kWordItem) << ToUtf8(input) << " item " << k;
    if (is_group) ExpectSameRoles(tree, item.group, signs, sign.items[k].second, input);
  }
}

// For generated expressions, the roles in the tree are the signs of the
// sign form, group for group.
TEST(ExplainTest, RolesMatchTheSignForm) {
  constexpr size_t kInputs = 100000;
  const std::array<std::u16string_view, 14> pieces = {u"a",   u"b",   u"c",   u"or",      u"OR",
                                                      u"and", u"not", u"NOT", u"and not", u"(",
                                                      u")",   u"(",   u")",   u"\"x y\""};
  testing::Rng rng(20261207);
  BoolFuncs engine;
  size_t compared = 0;
  for (size_t n = 0; n < kInputs; ++n) {
    Text input;
    for (size_t k = 0, count = 1 + rng.Below(12); k < count; ++k) {
      if (k > 0) input += u' ';
      input += rng.Pick(pieces);
    }
    const Explanation tree = Explain(input);
    if (!tree.converted || !tree.unconverted.empty()) continue;
    Text operator_form;
    Text sign_form;
    engine.ConvertBoolean(input, operator_form, sign_form);
    const size_t open = sign_form.find(u'(');
    ASSERT_NE(open, Text::npos) << ToUtf8(input);
    std::vector<SignGroup> signs;
    size_t at = open;
    const size_t root = ParseSignGroup(sign_form, at, signs);
    // A ")" that closes the expression early leaves text after the root.
    if (sign_form.find_first_not_of(u' ', at) != Text::npos) continue;
    ExpectSameRoles(tree, tree.root, signs, root, input);
    if (::testing::Test::HasFailure()) return;
    ++compared;
  }
  EXPECT_GT(compared, kInputs / 2);
}

}  // namespace
}  // namespace boolconv
