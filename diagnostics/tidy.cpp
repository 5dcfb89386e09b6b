#include <algorithm>
#include <string>
#include <vector>

#include "diagnostics/characters.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/reading.h"
#include "diagnostics/syntax.h"
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

// Whether a word of `text` may begin with a sign: without one, and without
// operators to write in capitals, Tidy needs no reading of the groups.
bool MayHoldSignPrefix(std::u16string_view text) {
  for (size_t at = 0; at < text.size(); ++at) {
    if (IsSign(text[at]) && (at == 0 || text[at - 1] == u' ' || text[at - 1] == u'(')) return true;
  }
  return false;
}

// Collects what Tidy changes in converted groups: operators not all in
// capitals, and words that begin with a sign.
class OperatorFinder : public Reader {
 public:
  explicit OperatorFinder(std::u16string_view text) : text_(text) {}

  void ConvertedGroup(std::span<const Word> words, bool /*whole_expression*/) override {
    for (size_t i = 0; i < words.size(); ++i) {
      const Word& word = words[i];
      const SignRepair sign = SignRepairOf(text_, words, i);
      if (sign != SignRepair::kNone) signs_.push_back({word.start, sign});
      if (word.role != Role::kOperator) continue;
      const LetterCase letter_case = CaseOf(text_.substr(word.start, word.end - word.start));
      cases_.Note(letter_case);
      if (letter_case != LetterCase::kUpper) lowered_.push_back(word);
    }
  }
  void Unclosed(const UnclosedQuote& /*quote*/) override {}

  // The operators to write in capitals: none where lower-case ones stand
  // out among capitals, as Check notes them.
  std::vector<Word> ToCapitalize() const {
    return cases_.LowercaseStandsOut() ? std::vector<Word>() : lowered_;
  }
  struct Sign {
    size_t at;
    SignRepair repair;
  };
  std::vector<Sign> Signs() const {
    std::vector<Sign> signs = signs_;
    std::sort(signs.begin(), signs.end(), [](const Sign& a, const Sign& b) { return a.at < b.at; });
    return signs;
  }

 private:
  std::u16string_view text_;
  std::vector<Word> lowered_;
  std::vector<Sign> signs_;
  OperatorCases cases_;
};

}  // namespace
}  // namespace diagnostics

TidyResult Tidy(std::u16string_view expression, const TidyOptions& options) {
  using namespace diagnostics;
  TidyResult result{Text(expression), {}, {}};
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

  for (const SingleQuoted& phrase : FindSingleQuoted(text)) {
    std::string message = "Replaced the single quotes around ";
    AppendQuote(message, expression.substr(phrase.open, phrase.close + 1 - phrase.open));
    message += " with double quotes.";
    text[phrase.open] = kStraightQuote;
    text[phrase.close] = kStraightQuote;
    Add(repairs, "single-quote", Severity::kInfo, std::move(message), phrase.open,
        phrase.close + 1);
  }

  // Which words act as operators follows from the cleaned text: a line
  // break that joined "OR" to a word hid it until now.
  OperatorFinder finder(text);
  if (options.capitalize_operators || MayHoldSignPrefix(text)) ReadExpression(text, finder);
  if (options.capitalize_operators) {
    for (const Word& word : finder.ToCapitalize()) {
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

  // Sign prefixes, the only changes of length, last: the text is copied
  // once with each of them replaced, and the shifts noted in units for now.
  const std::vector<OperatorFinder::Sign> signs = finder.Signs();
  if (!signs.empty()) {
    constexpr std::u16string_view kNot = u"NOT ";
    Text signed_text;
    signed_text.reserve(text.size() + kNot.size() * signs.size());
    size_t copied = 0;
    ptrdiff_t longer = 0;
    for (const OperatorFinder::Sign& sign : signs) {
      signed_text.append(text, copied, sign.at - copied);
      const size_t start = signed_text.size();
      const std::u16string_view word = WordAfter(text, sign.at);
      std::string message = "Replaced the sign that begins ";
      AppendQuote(message, word);
      if (sign.repair == SignRepair::kNot) {
        signed_text += kNot;
        longer += static_cast<ptrdiff_t>(kNot.size()) - 1;
        message += " with NOT, which excludes the word here.";
      } else {
        longer -= 1;
        message += ": words are required without it.";
      }
      result.shifts.push_back({start, signed_text.size(), longer});
      Add(repairs, "sign-prefix", Severity::kInfo, std::move(message), sign.at, sign.at + 1);
      copied = sign.at + 1;
    }
    signed_text.append(text, copied);
    text = std::move(signed_text);
    // The shifts in code points of the result.
    size_t unit = 0;
    size_t code_points = 0;
    for (TidyResult::Shift& shift : result.shifts) {
      for (size_t* place : {&shift.start, &shift.end}) {
        for (; unit < *place; ++code_points) unit += CodePointAt(text, unit).units;
        *place = code_points;
      }
    }
  }
  diagnostics::Finish(expression, repairs);
  return result;
}

size_t TidyResult::InputPosition(size_t position) const {
  // The last shift that begins at or before `position`.
  const auto after =
      std::upper_bound(shifts.begin(), shifts.end(), position,
                       [](size_t at, const Shift& shift) { return at < shift.start; });
  if (after == shifts.begin()) return position;
  const Shift& shift = *(after - 1);
  if (position < shift.end) {
    // Inside the text that replaced the sign: the sign itself.
    const ptrdiff_t before = after - 1 == shifts.begin() ? 0 : (after - 2)->longer;
    return static_cast<size_t>(static_cast<ptrdiff_t>(shift.start) - before);
  }
  return static_cast<size_t>(static_cast<ptrdiff_t>(position) - shift.longer);
}

void TidyResult::MapToInput(std::vector<Diagnostic>& found) const {
  if (shifts.empty()) return;
  for (Diagnostic& d : found) {
    const size_t last = InputPosition(d.end - 1);
    d.start = InputPosition(d.start);
    d.end = last + 1;
  }
}

}  // namespace boolconv
