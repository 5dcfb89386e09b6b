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

// A suggested rewrite this long or longer is described instead of spelled out.
constexpr size_t kLongestSuggestion = 100;
// Terms listed by name in a message; more are summed up with "…".
constexpr size_t kTermsNamed = 3;

std::string Utf8(std::u16string_view text) { return ToUtf8(Text(text)); }

std::string Capitalized(std::string text) {
  if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 32);
  return text;
}

bool StartsPlural(const std::string& description) {
  return description.rfind("a ", 0) != 0 && description.rfind("an ", 0) != 0;
}

// ---------------------------------------------------------------------------
// Characters that look like spaces or quotes but are not.

std::string JoinedWordsMessage(std::u16string_view text, const HiddenRun& run) {
  const std::u16string_view separators = text.substr(run.start, run.end - run.start);
  const std::string what = DescribeSeparators(separators);
  const bool plural = StartsPlural(what);
  const Text word = Text(run.before) + Text(separators) + Text(run.after);
  std::string message = Capitalized(what) + Placement(run) +
                        (plural ? " are not spaces, so " : " is not a space, so ");
  if (!run.before.empty() && !run.after.empty()) {
    message += "they are read as one word, " + Quote(word);
  } else if (!run.before.empty() || !run.after.empty()) {
    message +=
        std::string(plural ? "they are" : "it is") + " read as part of the word " + Quote(word);
  } else {
    message += std::string(plural ? "they are" : "it is") + " read as a word of its own";
  }
  const bool before_operator = OperatorWord(run.before) != OperatorKind::kNone;
  const bool after_operator = OperatorWord(run.after) != OperatorKind::kNone;
  if (before_operator && after_operator) {
    message +=
        ", and neither " + Quote(run.before) + " nor " + Quote(run.after) + " acts as an operator";
  } else if (before_operator || after_operator) {
    message +=
        ", and " + Quote(before_operator ? run.before : run.after) + " does not act as an operator";
  }
  return message + (plural ? ". Replace them with a space." : ". Replace it with a space.");
}

void CheckCharacters(std::u16string_view text, std::vector<Diagnostic>& out) {
  for (const HiddenRun& run : FindHiddenRuns(text)) {
    Add(out, codes::kJoinedWords, Severity::kWarning, JoinedWordsMessage(text, run), run.start,
        run.end);
  }
  for (size_t at = 0; at < text.size(); ++at) {
    if (!IsTypographicQuote(text[at])) continue;
    Add(out, codes::kTypographicQuote, Severity::kWarning,
        "The typographic quotation mark " + Utf8(text.substr(at, 1)) +
            " does not make a phrase: it stays part of the word " + Quote(WordAround(text, at)) +
            ", and the words it encloses are searched one by one. Type the straight double "
            "quote \" instead.",
        at, at + 1);
  }
}

// ---------------------------------------------------------------------------
// Parentheses: which the normalization pairs with parentheses it adds.

enum class ParenSource { kTyped, kWrapper, kAdded };

void CheckParentheses(std::u16string_view text, std::vector<Diagnostic>& out) {
  const size_t opens = static_cast<size_t>(std::count(text.begin(), text.end(), u'('));
  const size_t closes = static_cast<size_t>(std::count(text.begin(), text.end(), u')'));
  if (opens == 0 && closes == 0) return;
  // The normalization puts the missing "(" in front and the missing ")" at
  // the end, then wraps everything in one more pair; the walk pairs them
  // from the left. The open ones are, from the bottom, the wrapping "(",
  // the added ones, and then only typed ones, whose positions are kept.
  size_t open_added = 1 + (closes > opens ? closes - opens : 0);  // the wrapping "(" first
  std::vector<size_t> open_typed;
  auto close = [&](ParenSource source, size_t at) {
    ParenSource opened = ParenSource::kTyped;
    size_t opened_at = 0;
    if (!open_typed.empty()) {
      opened_at = open_typed.back();
      open_typed.pop_back();
    } else {
      opened = --open_added == 0 ? ParenSource::kWrapper : ParenSource::kAdded;
    }
    if (source == ParenSource::kTyped && opened == ParenSource::kAdded) {
      Add(out, codes::kUnbalancedParentheses, Severity::kWarning,
          "This \")\" has no \"(\" before it, so a \"(\" is added at the start of the expression "
          "and its group begins there. Add the \"(\" where the group begins, or remove this "
          "\")\".",
          at, at + 1);
    } else if (source == ParenSource::kTyped && opened == ParenSource::kWrapper) {
      Add(out, codes::kUnbalancedParentheses, Severity::kWarning,
          "This \")\" has no \"(\" before it, so it closes the whole expression early: what "
          "follows it is not converted, and its AND, OR and NOT stay as typed. Add the \"(\" "
          "where its group begins, or remove this \")\".",
          at, at + 1);
    } else if (opened == ParenSource::kTyped && source != ParenSource::kTyped) {
      Add(out, codes::kUnbalancedParentheses, Severity::kWarning,
          source == ParenSource::kAdded
              ? "This \"(\" is never closed, so a \")\" is added at the end of the expression "
                "and its group runs to the end. Add the \")\" where the group ends, or remove "
                "this \"(\"."
              : "This \"(\" is never closed, so its group runs to the end of the expression. Add "
                "the \")\" where the group ends, or remove this \"(\".",
          opened_at, opened_at + 1);
    }
  };
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == u'(') {
      open_typed.push_back(at);
    } else if (text[at] == u')') {
      if (open_typed.empty() && open_added == 0) {
        Add(out, codes::kUnmatchedClose, Severity::kError,
            "This \")\" has no \"(\" before it, so the expression cannot be converted. Remove "
            "it, or add the \"(\" it should close.",
            at, at + 1);
        return;  // the conversion stops here
      }
      close(ParenSource::kTyped, at);
    }
  }
  for (size_t i = opens > closes ? opens - closes : 0; i > 0; --i) close(ParenSource::kAdded, 0);
  close(ParenSource::kWrapper, 0);
}

// ---------------------------------------------------------------------------
// Groups, as the converter reads them.

std::string_view OperatorName(OperatorKind kind) {
  switch (kind) {
    case OperatorKind::kAnd:
      return "AND";
    case OperatorKind::kOr:
      return "OR";
    case OperatorKind::kNot:
      return "NOT";
    case OperatorKind::kNone:
      break;
  }
  return "";
}

enum class LetterCase { kLower, kUpper, kMixed };

LetterCase CaseOf(std::u16string_view text) {
  bool lower = false;
  bool upper = false;
  for (const char16_t unit : text) {
    lower |= unit >= u'a' && unit <= u'z';
    upper |= unit >= u'A' && unit <= u'Z';
  }
  return lower == upper ? LetterCase::kMixed : lower ? LetterCase::kLower : LetterCase::kUpper;
}

class GroupChecker : public Reader {
 public:
  GroupChecker(std::u16string_view text, std::vector<Diagnostic>& out) : text_(text), out_(out) {}

  void ConvertedGroup(std::span<const Word> words, bool whole_expression) override {
    const std::string_view where = whole_expression ? "the expression" : "its group";
    const Word& first = words.front();
    if (first.operator_word != OperatorKind::kNone) {
      Add(out_, codes::kLeadingOperator, Severity::kWarning,
          Said(first) + " starts " + std::string(where) +
              ", so it is not read as an operator but as a word to search for (\"+" +
              Utf8(TextOf(first)) + "\" in the sign form). Put a term before it, or remove it.",
          first.start, first.end);
    }
    bool has_or = false;
    bool has_and = false;
    for (size_t i = 1; i < words.size(); ++i) {
      const Word& word = words[i];
      const Word& previous = words[i - 1];
      if (word.role == Role::kOperand && word.operator_word != OperatorKind::kNone &&
          previous.role == Role::kOperator) {
        Add(out_, codes::kOperatorAsOperand, Severity::kWarning,
            Said(word) + " follows the operator " + Said(previous) +
                ", so it is not read as an operator but as a word to search for. Remove one of "
                "the two.",
            word.start, word.end);
      }
      if (word.role == Role::kOperator) {
        has_or |= word.operator_word == OperatorKind::kOr;
        has_and |= word.operator_word == OperatorKind::kAnd;
        NoteOperatorCase(words, i);
      }
      has_and |= word.role == Role::kOperand && previous.role == Role::kOperand;  // implied AND
    }
    const Word& last = words.back();
    if (last.role == Role::kDroppedOperator) {
      Add(out_, codes::kTrailingOperator, Severity::kWarning,
          Said(last) + " ends " + std::string(where) +
              " with nothing after it to join, so it is left out of both forms. Add the term it "
              "should apply to, or remove it.",
          last.start, last.end);
    }
    // Where a pasted mark or a spaced field tag splits or joins words, the
    // grouping changes once it is mended: its own warning comes first.
    const bool split_tag = SpacedBrackets(words);
    if (has_or && has_and && !split_tag && !HasPastedMarks(words)) MixedAndOr(words);
  }

  void Unclosed(const UnclosedQuote& quote) override {
    const size_t enclosing = quote.groups_lost - 1;
    std::string lost;
    if (quote.expression_lost && enclosing == 0) {
      lost = "the expression is not converted: its AND, OR and NOT stay as typed";
    } else if (enclosing == 0) {
      lost =
          "its group loses its parentheses and is not converted: its AND, OR and NOT stay as "
          "typed";
    } else {
      lost = quote.expression_lost ? "its group and every group around it"
             : enclosing == 1
                 ? "its group and the group around it"
                 : "its group and the " + std::to_string(enclosing) + " groups around it";
      lost +=
          " lose their parentheses and are not converted: their AND, OR and NOT stay as typed, "
          "and the converter warns once for each";
    }
    Add(out_, codes::kUnclosedQuote, Severity::kWarning,
        "The double quote " + Placed(quote.quote) + " never closes, so " + lost +
            ". Add the closing quote, or remove this one.",
        quote.quote, quote.quote + 1);
  }

  // Lower-case operators draw a note only where the expression otherwise
  // writes its operators in capitals: one written all in lower case, or in
  // mixed ways, means them all.
  void Finish() {
    if (operator_cases_.mixed > 0 || operator_cases_.lower > operator_cases_.upper) return;
    for (const LowercaseOperator& noted : lowercase_operators_) {
      const std::u16string_view phrase =
          text_.substr(noted.phrase_start, noted.phrase_end - noted.phrase_start);
      const bool phrase_shown =
          noted.phrase_start != noted.word.start && phrase.find(u'"') == std::u16string_view::npos;
      Add(out_, codes::kLowercaseOperator, Severity::kInfo,
          Said(noted.word) + " acts as the operator " +
              std::string(OperatorName(noted.word.operator_word)) +
              ", although this expression writes its other operators in capitals. " +
              (phrase_shown
                   ? "If " + Quote(phrase) + " is meant as a phrase, put it in double quotes."
                   : std::string("If it belongs to a phrase, put the phrase in double quotes.")),
          noted.word.start, noted.word.end);
    }
  }

 private:
  std::u16string_view TextOf(const Word& word) const {
    return text_.substr(word.start, word.end - word.start);
  }
  std::string Said(const Word& word) const { return Quote(TextOf(word)); }

  bool HasPastedMarks(std::span<const Word> words) const {
    return std::any_of(words.begin(), words.end(), [&](const Word& word) {
      const std::u16string_view typed = TextOf(word);
      return !word.nested_group && std::any_of(typed.begin(), typed.end(), [](char16_t unit) {
        return IsHiddenSeparator(unit) || IsTypographicQuote(unit);
      });
    });
  }

  // "before "Tai"", "after "failure"" or "here": where a quote stands.
  std::string Placed(size_t at) const {
    const std::u16string_view after = WordAfter(text_, at + 1);
    if (!after.empty()) return "before " + Quote(after);
    const std::u16string_view before = WordBefore(text_, at);
    if (!before.empty()) return "after " + Quote(before);
    return "here";
  }

  void NoteOperatorCase(std::span<const Word> words, size_t i) {
    const Word& word = words[i];
    switch (CaseOf(TextOf(word))) {
      case LetterCase::kUpper:
        ++operator_cases_.upper;
        return;
      case LetterCase::kMixed:
        ++operator_cases_.mixed;
        return;
      case LetterCase::kLower:
        ++operator_cases_.lower;
        break;
    }
    // A lower-case operator between two plain words may be part of a phrase
    // the user meant, as in "do not resuscitate". Whether it is noted at all
    // is known at the end, so only its place is kept for now.
    const Word& before = words[i - 1];
    const Word& after = words[i + 1];
    const bool plain_neighbours = !before.nested_group && !after.nested_group;
    lowercase_operators_.push_back({word, plain_neighbours ? before.start : word.start,
                                    plain_neighbours ? after.end : word.end});
  }

  // Sign-form terms are bare (optional) after "or", and the first one is
  // bare when "or" follows it; mixing in AND leaves those optional beside
  // required ones. Grouping each run of OR-ed terms keeps them together.
  void MixedAndOr(std::span<const Word> words) {
    auto or_at = [&](size_t i) {
      return i < words.size() && words[i].role == Role::kOperator &&
             words[i].operator_word == OperatorKind::kOr;
    };
    std::vector<const Word*> optional;
    std::u16string suggestion;
    std::u16string first_run;
    size_t run_start = 0;
    bool in_run = false;
    for (size_t i = 0; i < words.size(); ++i) {
      const Word& word = words[i];
      if (!suggestion.empty()) suggestion += u' ';
      if (word.role != Role::kOperand) {
        suggestion += TextOf(word);
        continue;
      }
      const bool or_before = i > 0 && or_at(i - 1);
      const bool or_after = or_at(i + 1);
      if (or_before || (i == 0 && or_after)) optional.push_back(&word);
      if (!in_run && or_after) {
        in_run = true;
        run_start = suggestion.size();
        suggestion += u'(';
      }
      suggestion += TextOf(word);
      if (in_run && !or_after) {
        in_run = false;
        suggestion += u')';
        if (first_run.empty()) first_run = suggestion.substr(run_start);
      }
    }
    if (first_run.empty()) return;
    std::string named;
    for (size_t i = 0; i < optional.size() && i < kTermsNamed; ++i) {
      if (i > 0) named += i + 1 == optional.size() ? " and " : ", ";
      named += Said(*optional[i]);
    }
    if (optional.size() > kTermsNamed) named += ", …";
    std::string message = "This group mixes AND and OR without parentheses, so in the sign form " +
                          named + (optional.size() == 1 ? " becomes" : " become") +
                          " optional. To keep the OR-ed terms as alternatives of which one is "
                          "required, ";
    if (suggestion.size() < kLongestSuggestion) {
      message += "write " + Quote(suggestion, kLongestSuggestion);
    } else {
      message += "put each run of them in parentheses, as in " + Quote(first_run);
    }
    Add(out_, codes::kMixedAndOr, Severity::kWarning, message, words.front().start,
        words.back().end);
  }

  // A field tag such as "[MeSH Terms]" split over words at its space.
  // Returns whether there was one.
  bool SpacedBrackets(std::span<const Word> words) {
    bool found = false;
    size_t open_at = 0;
    const Word* open_word = nullptr;
    for (const Word& word : words) {
      if (word.nested_group) {
        open_word = nullptr;
        continue;
      }
      for (size_t at = word.start; at < word.end; ++at) {
        if (text_[at] == u'[') {
          open_at = at;
          open_word = &word;
        } else if (text_[at] == u']' && open_word != nullptr) {
          if (open_word != &word) {
            found = true;
            const std::u16string_view tag = text_.substr(open_at, at + 1 - open_at);
            Add(out_, codes::kSpacedBracket, Severity::kWarning,
                "The field tag " + Quote(tag) +
                    " holds a space, so the converter splits it into separate words to search "
                    "for. Write the tag without spaces.",
                open_at, at + 1);
          }
          open_word = nullptr;
        }
      }
    }
    return found;
  }

  std::u16string_view text_;
  std::vector<Diagnostic>& out_;
  // A lower-case operator, and the phrase it may belong to (the words on
  // either side, where they are plain words; else just the operator).
  struct LowercaseOperator {
    Word word;
    size_t phrase_start;
    size_t phrase_end;
  };
  std::vector<LowercaseOperator> lowercase_operators_;
  struct {
    size_t lower = 0;
    size_t upper = 0;
    size_t mixed = 0;
  } operator_cases_;
};

}  // namespace
}  // namespace diagnostics

std::string_view SeverityName(Severity severity) {
  switch (severity) {
    case Severity::kError:
      return "error";
    case Severity::kWarning:
      return "warning";
    case Severity::kInfo:
      break;
  }
  return "info";
}

std::vector<Diagnostic> Check(std::u16string_view expression) {
  using namespace diagnostics;
  std::vector<Diagnostic> found;
  CheckCharacters(expression, found);
  CheckParentheses(expression, found);
  GroupChecker groups(expression, found);
  if (ReadExpression(expression, groups) == Outcome::kConverted) groups.Finish();
  diagnostics::Finish(expression, found);
  return found;
}

}  // namespace boolconv
