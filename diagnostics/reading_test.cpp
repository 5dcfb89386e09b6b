// The reading must see every group as the converter does: the same groups
// converted, in the same order, with the same forms, and the same groups
// dissolved for an unclosed quote. Checked against the converter itself on
// generated expressions.

#include "diagnostics/reading.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "conversion/boolfuncs.h"

namespace boolconv::diagnostics {
namespace {

// Each converted group's forms, rebuilt from the words and roles the reading
// gives them; a nested group is written "X".
class FormsReader : public Reader {
 public:
  void ConvertedGroup(std::span<const Word> words, bool /*whole_expression*/) override {
    // The first term is bare when "or" follows it, even an "or" left out.
    const bool or_follows =
        words[1].role != Role::kOperand && words[1].operator_word == OperatorKind::kOr;
    Text operator_form = u"(" + Text(words[0].read);
    Text sign_form = (or_follows ? u"(" : u"(+") + Text(words[0].read);
    const Word* pending = nullptr;
    for (const Word& word : words.subspan(1)) {
      if (word.role != Role::kOperand) {
        pending = &word;
        continue;
      }
      const OperatorKind kind = pending ? pending->operator_word : OperatorKind::kAnd;
      operator_form += pending ? u" " + Text(pending->read) + u" " : Text(u" AND ");
      sign_form += kind == OperatorKind::kOr ? u" " : kind == OperatorKind::kNot ? u" -" : u" +";
      operator_form += word.read;
      sign_form += word.read;
      pending = nullptr;
    }
    forms.push_back({operator_form + u")", sign_form + u")"});
  }
  void Unclosed(const UnclosedQuote& /*quote*/) override {}
  void QuoteDissolved() override { ++dissolved; }

  std::vector<std::pair<Text, Text>> forms;
  size_t dissolved = 0;
};

// The converter's placeholders ("12X") as the reading writes them ("X").
Text WithoutRowNumbers(const Text& form) {
  Text out;
  for (size_t i = 0; i < form.size(); ++i) {
    if (form[i] >= u'0' && form[i] <= u'9') continue;
    out += form[i];
  }
  return out;
}

TEST(ReadingTest, AgreesWithTheConverter) {
  // No digits: the converter's placeholders are the only ones in its forms.
  const Text pieces[] = {u"a",          u"bb",    u"or",   u"OR",        u"Or",          u"and",
                         u"AND",        u"not",   u"NoT",  u" and not ", u" or not ",    u"\"",
                         u" ",          u" ",     u" ",    u"  ",        u"(",           u"(",
                         u")",          u")",     u"()",   u"\t",        Text(1, u'\0'), u"\u00E9",
                         u"\U0001F600", u"[x y]", u"x\"y", u"\n"};
  const Text long_spaces(1100, u' ');
  std::mt19937 random(7);
  BoolFuncs engine;
  size_t converted_groups = 0;
  for (int round = 0; round < 20000; ++round) {
    Text input;
    const int length = static_cast<int>(random() % 30);
    for (int i = 0; i < length; ++i) input += pieces[random() % std::size(pieces)];
    if (round % 97 == 0) input.insert(random() % (input.size() + 1), long_spaces);
    if (round % 89 == 0)
      input.insert(random() % (input.size() + 1), Text(12, u'(') + Text(12, u')'));

    std::vector<Text> warnings;
    ScopedWarningHandler record(
        [&](const Text&, const Text& prompt, int32_t) { warnings.push_back(prompt); });
    Text operator_form, sign_form;
    bool failed = false;
    try {
      engine.ConvertBoolean(input, operator_form, sign_form);
    } catch (const Error&) {
      failed = true;
    }
    FormsReader reader;
    const Outcome outcome = ReadExpression(input, reader);
    ASSERT_EQ(outcome == Outcome::kUnmatchedClose, failed) << ToUtf8(input);
    if (failed) continue;
    const std::vector<GroupRow> rows = engine.GroupTable();
    ASSERT_EQ(reader.forms.size(), rows.size()) << ToUtf8(input);
    for (size_t i = 0; i < rows.size(); ++i) {
      EXPECT_EQ(reader.forms[i].first, WithoutRowNumbers(rows[i].operator_form)) << ToUtf8(input);
      EXPECT_EQ(reader.forms[i].second, WithoutRowNumbers(rows[i].sign_form)) << ToUtf8(input);
    }
    EXPECT_EQ(reader.dissolved, warnings.size()) << ToUtf8(input);
    converted_groups += rows.size();
  }
  EXPECT_GT(converted_groups, 10000u);  // the generator reaches the converting paths
}

}  // namespace
}  // namespace boolconv::diagnostics
