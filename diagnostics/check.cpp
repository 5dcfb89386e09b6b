#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics/characters.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/reading.h"
#include "diagnostics/readings.h"
#include "diagnostics/syntax.h"
#include "textfuncs/funclib.h"

namespace boolconv {
namespace diagnostics {
namespace {

// A suggested rewrite this long or longer is described instead of spelled out.
constexpr size_t kLongestSuggestion = 100;
// Terms listed by name in a message; more are summed up with "…".
constexpr size_t kTermsNamed = 3;

std::string Utf8(std::u16string_view text) { return ToUtf8(Text(text)); }

bool StartsPlural(const std::string& description) {
  return description.rfind("a ", 0) != 0 && description.rfind("an ", 0) != 0;
}

// ---------------------------------------------------------------------------
// Characters that look like spaces or quotes but are not.

// Room for most messages about joined words, reserved up front so that
// building one allocates once.
constexpr size_t kJoinedWordsMessageSize = 192;

std::string JoinedWordsMessage(std::u16string_view text, const HiddenRun& run) {
  const std::u16string_view separators = text.substr(run.start, run.end - run.start);
  // The word they make: the words beside them run up to them.
  const size_t word_start = run.start - run.before.size();
  const std::u16string_view word = text.substr(word_start, run.end + run.after.size() - word_start);
  std::string message;
  message.reserve(kJoinedWordsMessageSize);
  message += DescribeSeparators(separators);
  const bool plural = StartsPlural(message);
  if (message[0] >= 'a' && message[0] <= 'z') message[0] = static_cast<char>(message[0] - 32);
  AppendPlacement(message, run);
  message += plural ? " are not spaces, so " : " is not a space, so ";
  const std::string_view subject = plural ? "they are" : "it is";
  if (!run.before.empty() && !run.after.empty()) {
    message += "they are read as one word, ";
    AppendQuote(message, word);
  } else if (!run.before.empty() || !run.after.empty()) {
    message += subject;
    message += " read as part of the word ";
    AppendQuote(message, word);
  } else {
    message += subject;
    message += " read as a word of its own";
  }
  const bool before_operator = OperatorWord(run.before) != OperatorKind::kNone;
  const bool after_operator = OperatorWord(run.after) != OperatorKind::kNone;
  if (before_operator && after_operator) {
    message += ", and neither ";
    AppendQuote(message, run.before);
    message += " nor ";
    AppendQuote(message, run.after);
    message += " acts as an operator";
  } else if (before_operator || after_operator) {
    message += ", and ";
    AppendQuote(message, before_operator ? run.before : run.after);
    message += " does not act as an operator";
  }
  message += plural ? ". Replace them with a space." : ". Replace it with a space.";
  return message;
}

void CheckCharacters(std::u16string_view text, std::vector<Diagnostic>& out) {
  // Quotes often come several to a word ("x" in quotes of both kinds), so
  // the word is quoted once for all of them.
  WordsInOrder words(text);
  std::u16string_view word;
  std::string quoted_word;
  auto on_quote = [&](size_t at) {
    const std::u16string_view around = words.Around(at);
    if (around.data() != word.data() || around.size() != word.size()) {
      word = around;
      quoted_word = Quote(word);
    }
    constexpr std::string_view kBefore = "The typographic quotation mark ";
    constexpr std::string_view kMiddle = " does not make a phrase: it stays part of the word ";
    constexpr std::string_view kAfter =
        ", and the words it encloses are searched one by one. Type the straight double quote \" "
        "instead.";
    std::string message;
    message.reserve(kBefore.size() + 3 + kMiddle.size() + quoted_word.size() + kAfter.size());
    message += kBefore;
    AppendUtf8(message, text[at]);
    message += kMiddle;
    message += quoted_word;
    message += kAfter;
    Add(out, codes::kTypographicQuote, Severity::kWarning, std::move(message), at, at + 1);
  };
  auto on_run = [&](const HiddenRun& run) {
    Add(out, codes::kJoinedWords, Severity::kWarning, JoinedWordsMessage(text, run), run.start,
        run.end);
  };
  ForEachPastedMark(text, on_run, on_quote);
}

// ---------------------------------------------------------------------------
// Parentheses, and what else one look at the whole expression tells.

// What one look at every unit of the expression tells the checks: how its
// parentheses pair, and whether it holds a bracket or anything but
// printable ASCII (which most expressions are all of, and no pasted mark
// is).
struct Survey {
  size_t opens = 0;
  size_t closes = 0;
  std::vector<size_t> unopened;  // each ")" with no "(" before it to close
  std::vector<size_t> unclosed;  // each "(" that no ")" after it closes
  bool may_hold_pasted_marks = false;
  bool holds_brackets = false;
  bool holds_apostrophes = false;  // "'", which may open a single-quoted phrase
};

Survey SurveyOf(std::u16string_view text) {
  Survey survey;
  // Blocks of units are first told apart four units at a time (each a
  // 16-bit lane of a 64-bit word), with no branch; only a block holding a
  // parenthesis is read unit by unit for it. "(" and ")" are the only units
  // that are ")" with their lowest bit set.
  constexpr size_t kBlock = 32;
  constexpr uint64_t kLanes = 0x0001000100010001u;
  constexpr uint64_t kHighBits = kLanes * 0x8000;
  // The high bit of each lane that is zero.
  auto zero_lanes = [](uint64_t lanes) { return (lanes - kLanes) & ~lanes & kHighBits; };
  bool pasted = false;
  bool brackets = false;
  bool apostrophes = false;
  for (size_t begin = 0; begin < text.size(); begin += kBlock) {
    const size_t size = std::min(kBlock, text.size() - begin);
    const char16_t* const block = text.data() + begin;
    uint64_t marks = 0;
    uint64_t bracket = 0;
    uint64_t apostrophe = 0;
    uint64_t parenthesis = 0;
    if (size == kBlock) {
      for (size_t k = 0; k < kBlock; k += 4) {
        uint64_t units = 0;
        std::memcpy(&units, block + k, sizeof units);
        // Below " ", or from U+007F on (the high bit, or the sum with
        // 0x8000 - 0x7F of the lower 15 bits).
        marks |= ((units - kLanes * u' ') & ~units) |
                 (((units & ~kHighBits) + kLanes * (0x8000 - 0x7F)) | units);
        bracket |= zero_lanes(units ^ (kLanes * u'[')) | zero_lanes(units ^ (kLanes * u']'));
        apostrophe |= zero_lanes(units ^ (kLanes * u'\''));
        parenthesis |= zero_lanes((units | kLanes) ^ (kLanes * u')'));
      }
      marks &= kHighBits;
    } else {
      for (size_t k = 0; k < size; ++k) {
        const char16_t unit = block[k];
        marks |= static_cast<unsigned>(MayBePastedMark(unit));
        bracket |= static_cast<unsigned>(unit == u'[' || unit == u']');
        apostrophe |= static_cast<unsigned>(unit == u'\'');
        parenthesis |= static_cast<unsigned>((unit | 1) == u')');
      }
    }
    pasted |= marks != 0;
    brackets |= bracket != 0;
    apostrophes |= apostrophe != 0;
    if (parenthesis == 0) continue;
    for (size_t k = 0; k < size; ++k) {
      const char16_t unit = block[k];
      if ((unit | 1) != u')') continue;
      const size_t at = begin + k;
      if (unit == u'(') {
        ++survey.opens;
        survey.unclosed.push_back(at);
      } else {
        ++survey.closes;
        if (survey.unclosed.empty()) {
          survey.unopened.push_back(at);
        } else {
          survey.unclosed.pop_back();
        }
      }
    }
  }
  survey.may_hold_pasted_marks = pasted;
  survey.holds_brackets = brackets;
  survey.holds_apostrophes = apostrophes;
  return survey;
}

// Which parentheses the normalization pairs with ones it adds: it puts the
// missing "(" in front and the missing ")" at the end, then wraps
// everything in one more pair, and the walk pairs them from the left.
void CheckParentheses(const Survey& survey, std::vector<Diagnostic>& out) {
  const size_t prepended = survey.closes > survey.opens ? survey.closes - survey.opens : 0;
  const size_t appended = survey.opens > survey.closes ? survey.opens - survey.closes : 0;
  // A ")" with no "(" before it closes one put in front, or else the
  // wrapping one; the next fails the conversion.
  for (size_t k = 0; k < survey.unopened.size(); ++k) {
    const size_t at = survey.unopened[k];
    if (k < prepended) {
      Add(out, codes::kUnbalancedParentheses, Severity::kWarning,
          "This \")\" has no \"(\" before it, so a \"(\" is added at the start of the expression "
          "and its group begins there. Add the \"(\" where the group begins, or remove this "
          "\")\".",
          at, at + 1);
    } else if (k == prepended) {
      Add(out, codes::kUnbalancedParentheses, Severity::kWarning,
          "This \")\" has no \"(\" before it, so it closes the whole expression early: what "
          "follows it is not converted, and its AND, OR and NOT stay as typed. Add the \"(\" "
          "where its group begins, or remove this \")\".",
          at, at + 1);
    } else {
      Add(out, codes::kUnmatchedClose, Severity::kError,
          "This \")\" has no \"(\" before it, so the expression cannot be converted. Remove "
          "it, or add the \"(\" it should close.",
          at, at + 1);
      return;  // the conversion stops here
    }
  }
  // The ")" added at the end close the last "(" never closed, and the
  // wrapping one the "(" before those.
  const std::vector<size_t>& unclosed = survey.unclosed;
  const size_t added_from = unclosed.size() - std::min(appended, unclosed.size());
  if (added_from > 0) {
    const size_t at = unclosed[added_from - 1];
    Add(out, codes::kUnbalancedParentheses, Severity::kWarning,
        "This \"(\" is never closed, so its group runs to the end of the expression. Add the "
        "\")\" where the group ends, or remove this \"(\".",
        at, at + 1);
  }
  for (size_t i = added_from; i < unclosed.size(); ++i) {
    Add(out, codes::kUnbalancedParentheses, Severity::kWarning,
        "This \"(\" is never closed, so a \")\" is added at the end of the expression and its "
        "group runs to the end. Add the \")\" where the group ends, or remove this \"(\".",
        unclosed[i], unclosed[i] + 1);
  }
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

class GroupChecker : public Reader {
 public:
  // `may_hold_marks`: whether the expression may hold a bracket or a pasted
  // mark at all; without any, no word's text needs reading for them.
  // `marked`: the places of single-quoted phrases and glued operators, in
  // order; a group holding one is not what the searcher meant either.
  GroupChecker(std::u16string_view text, bool may_hold_marks, const std::vector<size_t>& marked,
               std::vector<Diagnostic>& out)
      : text_(text), may_hold_marks_(may_hold_marks), marked_(marked), out_(out) {}

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
    bool split_tag = false;
    bool pasted = false;
    if (may_hold_marks_) {
      FindMarks(words);
      split_tag = SpacedBrackets(words);
      pasted = HasPastedMarks(words);
    }
    // So do database syntax and quotes that make no phrase.
    const bool syntax = CheckGroupSyntax(text_, words, out_);
    if (has_or && has_and && !split_tag && !pasted && !syntax && !Marked(words)) {
      MixedAndOr(words);
    }
  }

  // What the converter does about a quote that never closes is told when
  // the reading is over: a quote missing its partner earlier on is the
  // mistake to point at (see Finish).
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
    unclosed_.push_back({quote.quote, std::move(lost)});
  }

  bool AnyUnclosed() const { return !unclosed_.empty(); }

  // Reports the unclosed quotes, each with what the converter does about
  // it. Where `strays` names a quote that most likely misses its partner,
  // that quote is the mistake: it is reported once, with what the
  // converter does about the first unclosed quote after it, and those
  // after it are consequences, not reported again.
  void ReportQuotes(const std::vector<StrayQuote>& strays) {
    auto report_stray = [&](const StrayQuote& stray, const UnclosedAt* consequence) {
      std::string message =
          "The double quote " + Placed(stray.at) + " most likely misses its partner";
      if (!stray.wrong_text.empty()) {
        message += ": paired as typed, the quotes from here on make phrases such as " +
                   Quote(stray.wrong_text) + ", which no search would quote";
      }
      message += ".";
      if (consequence != nullptr) {
        message += " The converter finds the double quote " + Placed(consequence->quote) +
                   " unclosed, so " + consequence->lost + ".";
      }
      message += " Add its partner where the phrase begins or ends, or remove this one.";
      Add(out_, codes::kUnclosedQuote, Severity::kWarning, std::move(message), stray.at,
          stray.at + 1);
    };
    auto report = [&](const UnclosedAt& unclosed) {
      Add(out_, codes::kUnclosedQuote, Severity::kWarning,
          "The double quote " + Placed(unclosed.quote) + " never closes, so " + unclosed.lost +
              ". Add the closing quote, or remove this one.",
          unclosed.quote, unclosed.quote + 1);
    };
    std::sort(unclosed_.begin(), unclosed_.end(),
              [](const UnclosedAt& a, const UnclosedAt& b) { return a.quote < b.quote; });
    size_t next = 0;
    // Unclosed quotes before the first stray one are mistakes of their own.
    while (next < unclosed_.size() && (strays.empty() || unclosed_[next].quote < strays[0].at)) {
      report(unclosed_[next++]);
    }
    for (size_t k = 0; k < strays.size(); ++k) {
      const size_t until = k + 1 < strays.size() ? strays[k + 1].at : text_.size();
      const UnclosedAt* consequence = nullptr;
      for (; next < unclosed_.size() && unclosed_[next].quote < until; ++next) {
        if (consequence == nullptr) consequence = &unclosed_[next];
      }
      report_stray(strays[k], consequence);
    }
  }

  // Lower-case operators draw a note only where the expression otherwise
  // writes its operators in capitals: one written all in lower case, or in
  // mixed ways, means them all.
  void Finish() {
    if (!operator_cases_.LowercaseStandsOut()) return;
    for (const LowercaseOperator& noted : lowercase_operators_) {
      const std::u16string_view phrase =
          text_.substr(noted.phrase_start, noted.phrase_end - noted.phrase_start);
      const bool phrase_shown =
          noted.phrase_start != noted.start && phrase.find(u'"') == std::u16string_view::npos;
      Add(out_, codes::kLowercaseOperator, Severity::kInfo,
          Quote(text_.substr(noted.start, noted.end - noted.start)) + " acts as the operator " +
              std::string(OperatorName(noted.operator_word)) +
              ", although this expression writes its other operators in capitals. " +
              (phrase_shown
                   ? "If " + Quote(phrase) + " is meant as a phrase, put it in double quotes."
                   : std::string("If it belongs to a phrase, put the phrase in double quotes.")),
          noted.start, noted.end);
    }
  }

 private:
  std::u16string_view TextOf(const Word& word) const {
    return text_.substr(word.start, word.end - word.start);
  }
  std::string Said(const Word& word) const { return Quote(TextOf(word)); }

  bool HasPastedMarks(std::span<const Word> words) const {
    for (size_t i = 0; i < words.size(); ++i) {
      if (!words[i].nested_group && word_marks_[i].pasted) return true;
    }
    return false;
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
    // As read, unless the word is the NOT that "and not" or "or not" became.
    const bool as_typed = word.end - word.start == word.read.size();
    const LetterCase letter_case = CaseOf(as_typed ? word.read : TextOf(word));
    operator_cases_.Note(letter_case);
    // Once an operator is written in mixed case, no lower-case one stands
    // out, whatever follows.
    if (letter_case != LetterCase::kLower || operator_cases_.mixed > 0) return;
    // A lower-case operator between two plain words may be part of a phrase
    // the user meant, as in "do not resuscitate". Whether it is noted at all
    // is known at the end, so only its place is kept for now.
    const Word& before = words[i - 1];
    const Word& after = words[i + 1];
    const bool plain_neighbours = !before.nested_group && !after.nested_group;
    lowercase_operators_.push_back({word.start, word.end,
                                    plain_neighbours ? before.start : word.start,
                                    plain_neighbours ? after.end : word.end, word.operator_word});
  }

  // Sign-form terms are bare (optional) after "or", and the first one is
  // bare when "or" follows it; mixing in AND leaves those optional beside
  // required ones. The advice keeps what the searcher meant: words written
  // next to each other belong together, as databases read them, so each
  // run of them is one unit; where explicit AND and OR are mixed as well,
  // databases disagree on the order, and both readings are shown. The
  // rewrite is built only as far as the message can show it, so a group of
  // any size costs time in its number of words alone.
  void MixedAndOr(std::span<const Word> words) {
    auto or_at = [&](size_t i) {
      return i < words.size() && words[i].role == Role::kOperator &&
             words[i].operator_word == OperatorKind::kOr;
    };
    const Word* named[kTermsNamed] = {};
    size_t optional = 0;
    for (size_t i = 0; i < words.size(); ++i) {
      if (words[i].role != Role::kOperand) continue;
      if ((i > 0 && or_at(i - 1)) || (i == 0 && or_at(i + 1))) {
        if (optional < kTermsNamed) named[optional] = &words[i];
        ++optional;
      }
    }
    const GroupUnits group = UnitsOf(text_, words, kLongestSuggestion);
    // An example of a run in parentheses, for advice that cannot spell out
    // the whole group.
    std::string example;
    if (group.first_run != GroupUnits::kNoRun)
      example = ", as in " + Quote(group.units[group.first_run]);
    std::string terms;
    for (size_t i = 0; i < optional && i < kTermsNamed; ++i) {
      if (i > 0) terms += i + 1 == optional ? " and " : ", ";
      terms += Said(*named[i]);
    }
    if (optional > kTermsNamed) terms += ", …";
    const std::string becomes = (optional == 1 ? " becomes" : " become");
    std::string message;
    if (!group.explicit_and) {
      message =
          "This group mixes OR with words written next to each other, which the "
          "conversion joins with AND, so in the sign form " +
          terms + becomes +
          " optional. Words next to each other belong together, as databases read them: ";
      const std::u16string rewrite =
          group.too_long ? std::u16string() : ReadAs(group, Convention::kAsTyped);
      if (!group.too_long && rewrite.size() < kLongestSuggestion) {
        message += "write " + Quote(rewrite, kLongestSuggestion) +
                   ", or put each run of words in double quotes to search it as a phrase.";
      } else {
        message += "put each run of them in parentheses" + example +
                   ", or in double quotes to search it as a phrase.";
      }
    } else {
      message = "This group mixes AND and OR without parentheses, so in the sign form " + terms +
                becomes + " optional. ";
      if (group.runs)
        message += "Words next to each other belong together, as databases read them. ";
      const std::u16string in_order =
          group.too_long ? std::u16string() : ReadAs(group, Convention::kLeftToRight);
      const std::u16string and_first =
          group.too_long ? std::u16string() : ReadAs(group, Convention::kAndFirst);
      if (group.too_long || in_order.size() >= kLongestSuggestion ||
          and_first.size() >= kLongestSuggestion) {
        message +=
            "Databases disagree on the order of AND and OR (PubMed reads left to right; most "
            "others bind AND before OR): put parentheses around what belongs together" +
            example + ".";
      } else if (in_order == and_first) {
        message += "Databases read it alike, as " + Quote(in_order, kLongestSuggestion) +
                   ": write it with those parentheses.";
      } else {
        message += "Databases disagree on how to read it: PubMed reads left to right, " +
                   Quote(in_order, kLongestSuggestion) + "; most others bind AND before OR, " +
                   Quote(and_first, kLongestSuggestion) +
                   ". Write the parentheses of the one you mean.";
      }
    }
    Add(out_, codes::kMixedAndOr, Severity::kWarning, std::move(message), words.front().start,
        words.back().end);
  }

  // A field tag such as "[MeSH Terms]" split over words at its space: a "]"
  // that comes first among the brackets of a word, where a "[" came last
  // among those of an earlier word with no nested group between them.
  // Returns whether there was one.
  bool SpacedBrackets(std::span<const Word> words) {
    bool found = false;
    bool open = false;
    size_t open_at = 0;
    for (size_t i = 0; i < words.size(); ++i) {
      const Marks& marks = word_marks_[i];
      if (words[i].nested_group) {
        open = false;
        continue;
      }
      if (marks.first_bracket == kNoBracket) continue;
      if (open && text_[marks.first_bracket] == u']') {
        found = true;
        const size_t end = marks.first_bracket + 1;
        Add(out_, codes::kSpacedBracket, Severity::kWarning,
            "The field tag " + Quote(text_.substr(open_at, end - open_at)) +
                " holds a space, so the converter splits it into separate words to search "
                "for. Write the tag without spaces.",
            open_at, end);
      }
      open = text_[marks.last_bracket] == u'[';
      open_at = marks.last_bracket;
    }
    return found;
  }

  // What the checks of a group look for in the text of a word: its first
  // and last "[" or "]", and whether it holds a hidden separator or a
  // typographic quote.
  static constexpr size_t kNoBracket = std::u16string_view::npos;
  struct Marks {
    size_t first_bracket = kNoBracket;
    size_t last_bracket = kNoBracket;
    bool pasted = false;

    void Add(const Marks& later) {
      if (first_bracket == kNoBracket) first_bracket = later.first_bracket;
      if (later.last_bracket != kNoBracket) last_bracket = later.last_bracket;
      pasted |= later.pasted;
    }
  };

  // A converted group that is not yet part of an enclosing converted group:
  // the stretch from its first word to its last, and its marks. Between
  // words stand only spaces, parentheses and U+0000, which are no marks.
  struct ConvertedSpan {
    size_t start;
    size_t end;
    Marks marks;
  };

  void Scan(size_t from, size_t to, Marks& marks) const {
    for (size_t at = from; at < to; ++at) {
      const char16_t unit = text_[at];
      if (unit == u'[' || unit == u']') {
        if (marks.first_bracket == kNoBracket) marks.first_bracket = at;
        marks.last_bracket = at;
      } else if (MayBePastedMark(unit)) {
        marks.pasted |= IsHiddenSeparatorSlow(unit) || IsTypographicQuoteSlow(unit);
      }
    }
  }

  // Fills word_marks_ for `words`. A word may span converted groups (a
  // phrase around a nested group, or the nested group itself); their marks
  // were found when they converted, so each unit of the expression is read
  // once however deep the nesting.
  void FindMarks(std::span<const Word> words) {
    size_t nested = unclaimed_.size();
    while (nested > 0 && unclaimed_[nested - 1].start >= words.front().start) --nested;
    const size_t first_nested = nested;
    word_marks_.assign(words.size(), Marks{});
    Marks all;
    for (size_t i = 0; i < words.size(); ++i) {
      Marks& marks = word_marks_[i];
      size_t at = words[i].start;
      for (; nested < unclaimed_.size() && unclaimed_[nested].start < words[i].end; ++nested) {
        Scan(at, unclaimed_[nested].start, marks);
        marks.Add(unclaimed_[nested].marks);
        at = std::max(at, unclaimed_[nested].end);
      }
      Scan(at, words[i].end, marks);
      all.Add(marks);
    }
    unclaimed_.resize(first_nested);
    unclaimed_.push_back({words.front().start, words.back().end, all});
  }

  // Whether a single-quoted phrase or a glued operator stands in the group.
  bool Marked(std::span<const Word> words) const {
    const auto at = std::lower_bound(marked_.begin(), marked_.end(), words.front().start);
    return at != marked_.end() && *at < words.back().end;
  }

  std::u16string_view text_;
  bool may_hold_marks_;
  const std::vector<size_t>& marked_;
  std::vector<Diagnostic>& out_;
  struct UnclosedAt {
    size_t quote;
    std::string lost;  // what the converter does about it
  };
  std::vector<UnclosedAt> unclosed_;
  // A lower-case operator, and the phrase it may belong to (the words on
  // either side, where they are plain words; else just the operator).
  struct LowercaseOperator {
    size_t start;  // the operator
    size_t end;
    size_t phrase_start;
    size_t phrase_end;
    OperatorKind operator_word;
  };
  std::vector<LowercaseOperator> lowercase_operators_;
  // Converted groups in the order of their place in the expression.
  std::vector<ConvertedSpan> unclaimed_;
  std::vector<Marks> word_marks_;  // of the words of the group being checked
  OperatorCases operator_cases_;
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
  const Survey survey = SurveyOf(expression);
  if (survey.may_hold_pasted_marks) CheckCharacters(expression, found);
  CheckParentheses(survey, found);
  std::vector<size_t> marked;
  // Typographic single quotes are pasted marks.
  CheckTextSyntax(expression,
                  survey.holds_apostrophes || survey.may_hold_pasted_marks
                      ? FindSingleQuoted(expression)
                      : std::vector<SingleQuoted>(),
                  found, marked);
  GroupChecker groups(expression, survey.may_hold_pasted_marks || survey.holds_brackets, marked,
                      found);
  if (ReadExpression(expression, groups) == Outcome::kConverted) {
    // Quotes are weighed for a missing partner only where the converter
    // finds one unclosed: a phrase may span groups ("a (b) c"), and the
    // converter pairs quotes within each group, so without an unclosed
    // quote the pairing as typed is the converter's.
    const std::vector<StrayQuote> strays =
        groups.AnyUnclosed() ? FindStrayQuotes(expression) : std::vector<StrayQuote>();
    groups.ReportQuotes(strays);
    groups.Finish();
    // After a quote that misses its partner, phrases pair wrongly, and a
    // group holding one of them is not the group the searcher wrote: how
    // it mixes AND and OR is a consequence, not a mistake of its own.
    if (!strays.empty()) {
      const size_t first_stray = strays.front().at;
      std::vector<size_t> quotes;  // from the first stray one on
      for (size_t at = first_stray; at < expression.size(); ++at) {
        if (expression[at] == u'"') quotes.push_back(at);
      }
      std::erase_if(found, [&](const Diagnostic& d) {
        if (d.code != codes::kMixedAndOr) return false;
        const auto quote = std::lower_bound(quotes.begin(), quotes.end(), d.start);
        return quote != quotes.end() && *quote < d.end;
      });
    }
  }
  diagnostics::Finish(expression, found);
  return found;
}

}  // namespace boolconv
