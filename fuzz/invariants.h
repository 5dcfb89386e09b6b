// What every conversion must satisfy, whichever way it was made: checked by
// the fuzz targets on each input.

#ifndef BOOLCONV_FUZZ_INVARIANTS_H_
#define BOOLCONV_FUZZ_INVARIANTS_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "conversion/boolfuncs.h"
#include "fuzz/fuzz_support.h"

namespace boolconv::fuzz {

// What the outputs hold before a conversion; a failed one must keep them.
inline constexpr char16_t kUnset[] = u"<not set>";

struct Outcome {
  int32_t error_number = 0;  // of the error thrown; the engine's are never 0
  Text operator_form = kUnset;
  Text sign_form = kUnset;
  std::vector<Warning> warnings;
  bool operator==(const Outcome&) const = default;
};

inline Outcome Convert(BoolFuncs& engine, const Text& input) {
  Outcome outcome;
  outcome.error_number = RunRecorded(outcome.warnings, [&] {
    engine.ConvertBoolean(input, outcome.operator_form, outcome.sign_form);
  });
  return outcome;
}

// Runs of units other than space and parentheses, in order.
inline std::vector<Text> Words(const Text& text) {
  auto is_break = [](char16_t unit) { return unit == u' ' || unit == u'(' || unit == u')'; };
  std::vector<Text> words;
  for (auto at = text.begin(); at != text.end();) {
    at = std::find_if_not(at, text.end(), is_break);
    const auto end = std::find_if(at, text.end(), is_break);
    if (end != at) words.emplace_back(at, end);
    at = end;
  }
  return words;
}

// True when the input's words, less operator words (which may be collapsed
// into NOT or dropped at a group's end) and blank ones (U+0000 only, which a
// group may drop), appear in the output in order. In the sign form a word
// may carry one "+" or "-" in front. The engine never reorders, splits or
// joins words; earliest matching decides a subsequence exactly.
inline bool KeepsWords(const Text& input, const Text& output, bool sign) {
  const std::vector<Text> words = Words(output);
  auto next = words.begin();
  for (const Text& want : Words(input)) {
    if (IsOperator(want) || IsBlank(want)) continue;
    next = std::find_if(next, words.end(), [&](const Text& word) {
      return word == want || (sign && word.size() == want.size() + 1 &&
                              (word[0] == u'+' || word[0] == u'-') && word.ends_with(want));
    });
    if (next == words.end()) return false;
    ++next;
  }
  return true;
}

// Places where an ASCII digit is directly followed by "X". Every engine
// placeholder («12X») holds exactly one. The engine adds no digit and no "X"
// of its own to the outputs, deletes none that the user typed (it drops only
// blank words and trailing operator words) and never brings two typed units
// together, so an output holds as many as the input exactly when no
// placeholder was left unexpanded. Words the user typed that look like
// placeholders count on both sides, so they do not disturb the check.
inline size_t DigitXPairs(const Text& text) {
  size_t pairs = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    pairs += text[i] >= u'0' && text[i] <= u'9' && text[i + 1] == u'X';
  }
  return pairs;
}

inline void CheckOutcome(const Text& input, const Outcome& outcome) {
  const Text& op = outcome.operator_form;
  const Text& sign = outcome.sign_form;
  const Text context = u"input: \"" + input + u"\"\nforms: \"" + op + u"\" \"" + sign + u"\"";
  if (outcome.error_number != 0) {
    // The one failure the engine knows: a ")" that closes no group. Without
    // any ")" typed, normalization only appends closers, so it cannot occur.
    FUZZ_CHECK(outcome.error_number == kUnmatchedCloseError, context);
    FUZZ_CHECK(input.find(u')') != Text::npos, context);
    FUZZ_CHECK(op == kUnset && sign == kUnset, context);
    return;
  }
  // Every group, typed or added, is written with both of its parentheses,
  // and both forms hold the same groups.
  FUZZ_CHECK(std::ranges::count(op, u'(') == std::ranges::count(sign, u'('), context);
  for (const bool signs : {false, true}) {
    const Text& form = signs ? sign : op;
    FUZZ_CHECK(std::ranges::count(form, u'(') == std::ranges::count(form, u')'), context);
    FUZZ_CHECK(DigitXPairs(form) == DigitXPairs(input), context);
    FUZZ_CHECK(KeepsWords(input, form, signs), context);
  }
}

}  // namespace boolconv::fuzz

#endif  // BOOLCONV_FUZZ_INVARIANTS_H_
