// Test-only, not installed: the reading set beside the converter itself, for
// reading_test and the reading fuzz target. The two see an expression alike
// when the reading's converted groups, written out as the converter writes
// them, are the rows of the converter's group table in the same order, and
// the groups it reports dissolved for unpaired quotes are as many as the
// tokenizer's warnings.

#ifndef BOOLCONV_DIAGNOSTICS_READING_AGREEMENT_H_
#define BOOLCONV_DIAGNOSTICS_READING_AGREEMENT_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/reading.h"
#include "textfuncs/funclib.h"

namespace boolconv::diagnostics {

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

// `form` with each of the converter's placeholders ("12X") written as the
// reading writes a nested group ("X"): digits right before an "X" are left
// out. Applied to both sides, so that digits typed before an "X" go on both
// alike; the normalization spaces every parenthesis, so a placeholder never
// touches typed text.
inline Text WithoutRowNumbers(const Text& form) {
  Text out;
  size_t digits = 0;  // how many units just written are digits
  for (const char16_t unit : form) {
    if (unit == u'X') out.resize(out.size() - digits);
    digits = unit >= u'0' && unit <= u'9' ? digits + 1 : 0;
    out += unit;
  }
  return out;
}

// How the reading and the converter compare on one expression.
struct Agreement {
  Text difference;  // empty when they agree; otherwise the first difference found
  size_t converted_groups = 0;
};

// Converts `input` with `engine` (its warnings counted, not shown) and reads
// it, and compares the two.
inline Agreement CompareWithConverter(BoolFuncs& engine, const Text& input) {
  size_t warnings = 0;
  bool failed = false;
  {
    ScopedWarningHandler count([&](const Text&, const Text&, int32_t) { ++warnings; });
    Text operator_form, sign_form;
    try {
      engine.ConvertBoolean(input, operator_form, sign_form);
    } catch (const Error&) {
      failed = true;
    }
  }
  FormsReader reader;
  const bool read_fails = ReadExpression(input, reader) == Outcome::kUnmatchedClose;
  if (read_fails != failed) {
    return {failed ? u"the converter fails and the reading does not"
                   : u"the reading fails and the converter does not"};
  }
  if (failed) return {};
  auto number = [](size_t n) { return FromUtf8(std::to_string(n)); };
  const std::vector<GroupRow> rows = engine.GroupTable();
  if (reader.forms.size() != rows.size()) {
    return {u"the reading converts " + number(reader.forms.size()) + u" groups, the converter " +
            number(rows.size())};
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::pair<Text, Text> converted = {WithoutRowNumbers(rows[i].operator_form),
                                             WithoutRowNumbers(rows[i].sign_form)};
    const std::pair<Text, Text> read = {WithoutRowNumbers(reader.forms[i].first),
                                        WithoutRowNumbers(reader.forms[i].second)};
    if (read != converted) {
      return {u"group " + number(i + 1) + u" reads \"" + read.first + u"\" \"" + read.second +
              u"\", the converter writes \"" + converted.first + u"\" \"" + converted.second +
              u"\""};
    }
  }
  if (reader.dissolved != warnings) {
    return {u"the reading dissolves " + number(reader.dissolved) +
            u" groups for their quotes, the converter warns " + number(warnings) + u" times"};
  }
  return {{}, rows.size()};
}

}  // namespace boolconv::diagnostics

#endif  // BOOLCONV_DIAGNOSTICS_READING_AGREEMENT_H_
