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

// Room for most repair messages, reserved up front so that building one
// allocates once.
constexpr size_t kRepairMessageSize = 96;

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

  auto on_run = [&](const HiddenRun& run) {
    std::fill(text.begin() + static_cast<ptrdiff_t>(run.start),
              text.begin() + static_cast<ptrdiff_t>(run.end), u' ');
    std::string message;
    message.reserve(kRepairMessageSize);
    message += "Replaced ";
    message += DescribeSeparators(expression.substr(run.start, run.end - run.start));
    AppendPlacement(message, run);
    message += " with a space.";
    Add(repairs, codes::kJoinedWords, Severity::kInfo, std::move(message), run.start, run.end);
  };
  auto on_quote = [&](size_t at) {
    text[at] = kStraightQuote;
    std::string message;
    message.reserve(kRepairMessageSize);
    message += "Replaced the typographic quotation mark ";
    AppendUtf8(message, expression[at]);
    message += " with the straight double quote \".";
    Add(repairs, codes::kTypographicQuote, Severity::kInfo, std::move(message), at, at + 1);
  };
  ForEachPastedMark(expression, on_run, on_quote);

  // Which words act as operators follows from the cleaned text: a line
  // break that joined "OR" to a word hid it until now.
  if (options.capitalize_operators) {
    OperatorFinder finder(text);
    ReadExpression(text, finder);
    for (const Word& word : finder.lowered()) {
      std::string message = "Wrote the operator ";
      AppendQuote(message, std::u16string_view(text).substr(word.start, word.end - word.start));
      message += " in capitals.";
      std::transform(text.begin() + static_cast<ptrdiff_t>(word.start),
                     text.begin() + static_cast<ptrdiff_t>(word.end),
                     text.begin() + static_cast<ptrdiff_t>(word.start), UpperAscii);
      Add(repairs, codes::kLowercaseOperator, Severity::kInfo, std::move(message), word.start,
          word.end);
    }
  }
  diagnostics::Finish(expression, repairs);
  return result;
}

}  // namespace boolconv
