#include <algorithm>
#include <string>
#include <vector>

#include "diagnostics/characters.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/reading.h"
#include "textfuncs/funclib.h"

namespace boolconv {
namespace diagnostics {
namespace {

constexpr char16_t kStraightQuote = u'"';

char16_t UpperAscii(char16_t unit) {
  return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

// Collects the operators of converted groups that are not all in capitals.
class OperatorFinder : public Reader {
 public:
  explicit OperatorFinder(std::u16string_view text) : text_(text) {}

  void ConvertedGroup(std::span<const Word> words, bool /*whole_expression*/) override {
    for (const Word& word : words) {
      if (word.role != Role::kOperator) continue;
      const std::u16string_view typed = text_.substr(word.start, word.end - word.start);
      if (std::any_of(typed.begin(), typed.end(),
                      [](char16_t unit) { return unit != UpperAscii(unit); })) {
        lowered_.push_back(word);
      }
    }
  }
  void Unclosed(const UnclosedQuote& /*quote*/) override {}

  const std::vector<Word>& lowered() const { return lowered_; }

 private:
  std::u16string_view text_;
  std::vector<Word> lowered_;
};

}  // namespace
}  // namespace diagnostics

TidyResult Tidy(std::u16string_view expression, const TidyOptions& options) {
  using namespace diagnostics;
  TidyResult result{Text(expression), {}};
  Text& text = result.expression;
  std::vector<Diagnostic>& repairs = result.repairs;

  for (const HiddenRun& run : FindHiddenRuns(expression)) {
    std::fill(text.begin() + static_cast<ptrdiff_t>(run.start),
              text.begin() + static_cast<ptrdiff_t>(run.end), u' ');
    Add(repairs, codes::kJoinedWords, Severity::kInfo,
        "Replaced " + DescribeSeparators(expression.substr(run.start, run.end - run.start)) +
            Placement(run) + " with a space.",
        run.start, run.end);
  }
  for (size_t at = 0; at < expression.size(); ++at) {
    if (!IsTypographicQuote(expression[at])) continue;
    text[at] = kStraightQuote;
    Add(repairs, codes::kTypographicQuote, Severity::kInfo,
        "Replaced the typographic quotation mark " + ToUtf8(Text(1, expression[at])) +
            " with the straight double quote \".",
        at, at + 1);
  }

  // Which words act as operators follows from the cleaned text: a line
  // break that joined "OR" to a word hid it until now.
  if (options.capitalize_operators) {
    OperatorFinder finder(text);
    ReadExpression(text, finder);
    for (const Word& word : finder.lowered()) {
      const Text typed = text.substr(word.start, word.end - word.start);
      std::transform(text.begin() + static_cast<ptrdiff_t>(word.start),
                     text.begin() + static_cast<ptrdiff_t>(word.end),
                     text.begin() + static_cast<ptrdiff_t>(word.start), UpperAscii);
      Add(repairs, codes::kLowercaseOperator, Severity::kInfo,
          "Wrote the operator " + Quote(typed) + " in capitals.", word.start, word.end);
    }
  }
  diagnostics::Finish(expression, repairs);
  return result;
}

}  // namespace boolconv
