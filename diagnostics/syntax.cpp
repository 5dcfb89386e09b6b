#include "diagnostics/syntax.h"

#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "diagnostics/characters.h"

namespace boolconv::diagnostics {
namespace {

// Longest word that may be a proximity operator or a field code: longer
// words are neither, and are not read letter by letter.
constexpr size_t kLongestOperator = 12;
constexpr size_t kLongestFieldCode = 24;
// Words a single-quoted phrase may hold: an opening quote whose partner is
// further away opens none.
constexpr size_t kMostQuotedWords = 8;

constexpr char16_t kDoubleQuote = u'"';

bool IsLetter(char16_t unit) { return (unit | 0x20) >= u'a' && (unit | 0x20) <= u'z'; }
bool IsLower(char16_t unit) { return unit >= u'a' && unit <= u'z'; }
bool IsDash(char16_t unit) { return unit == u'-' || unit == u'\u2013' || unit == u'\u2014'; }

bool AllDigits(std::u16string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsAsciiDigit);
}

bool Equals(std::u16string_view text, std::string_view word) {
  return text.size() == word.size() && std::equal(word.begin(), word.end(), text.begin());
}

// N or W and a distance of 1 to kLongestNear words, as EBSCO writes its
// proximity operators; "N95" (a mask) and "N0" (a tumour stage) are terms.
constexpr int kLongestNear = 25;
bool IsNearOperator(std::u16string_view word) {
  if (word.size() < 2 || word.size() > 3 || (word[0] != u'N' && word[0] != u'W') ||
      !AllDigits(word.substr(1))) {
    return false;
  }
  int distance = 0;
  for (const char16_t digit : word.substr(1)) distance = 10 * distance + (digit - u'0');
  return distance >= 1 && distance <= kLongestNear;
}

// A tumour stage such as "T1" or "M0", which stands beside "N1" in
// staging and makes it no proximity operator.
bool IsStage(std::u16string_view word) {
  return word.size() >= 2 && (word[0] == u'T' || word[0] == u'M') && IsAsciiDigit(word[1]);
}

// Which database writes a proximity operator `word`, or empty when it is
// none. Bare NEAR and NEXT count in capitals only ("near infrared", "next
// generation"), and N with digits with a capital N ("n3" may be a term).
std::string_view ProximityConvention(std::u16string_view word) {
  if (word.size() > kLongestOperator || word.empty()) return {};
  // Each convention begins with one of these.
  const char16_t first = LowerAscii(word[0]);
  if (first != u'a' && first != u'n' && first != u'w' && first != u'~' && first != u'p') return {};
  if (EqualsFolded(word, "adj") || (StartsWithFolded(word, "adj") && AllDigits(word.substr(3)))) {
    return "Ovid's adjacency operator";
  }
  if ((StartsWithFolded(word, "near/") && AllDigits(word.substr(5))) || Equals(word, "NEAR") ||
      Equals(word, "NEXT") || (StartsWithFolded(word, "next/") && AllDigits(word.substr(5)))) {
    return "a proximity operator of Web of Science, Embase.com and the Cochrane Library";
  }
  if (IsNearOperator(word)) return "EBSCO's proximity operator";
  if (word.size() >= 2 && word[0] == u'~' && AllDigits(word.substr(1))) {
    return "a proximity search";
  }
  if ((StartsWithFolded(word, "w/") && AllDigits(word.substr(2))) ||
      (StartsWithFolded(word, "pre/") && AllDigits(word.substr(4)))) {
    return "Scopus's proximity operator";
  }
  return {};
}

// Field codes that Scopus writes in lower case as well.
constexpr std::array<std::string_view, 14> kLowercaseFieldCodes = {
    "title-abs-key", "title-abs", "title",    "abs",      "key",      "authkey", "indexterms",
    "doctype",       "pubyear",   "subjarea", "language", "srctitle", "affil",   "all"};

// Two-letter field codes that EBSCO writes before a group or a phrase,
// with a space between.
constexpr std::array<std::string_view, 14> kSpacedFieldCodes = {
    "TI", "AB", "SU", "MH", "MM", "MJ", "TX", "KW", "AU", "SO", "PT", "LA", "DE", "TW"};

bool IsSpacedFieldCode(std::u16string_view word) {
  if (word.size() != 2) return false;
  return std::any_of(kSpacedFieldCodes.begin(), kSpacedFieldCodes.end(),
                     [&](std::string_view code) { return Equals(word, code); });
}

// A Scopus field code or limit, in any letter case; these stand before "("
// with or without a space.
constexpr std::array<std::string_view, 2> kLimits = {"limit-to", "exclude"};
constexpr size_t LongestOf(std::span<const std::string_view> codes) {
  size_t longest = 0;
  for (const std::string_view code : codes) longest = std::max(longest, code.size());
  return longest;
}
constexpr size_t kLongestKnownCode = std::max(LongestOf(kLowercaseFieldCodes), LongestOf(kLimits));
// Which lengths and first letters the codes have: most words are rejected by
// these alone.
struct CodeStarts {
  std::array<std::array<bool, 26>, kLongestKnownCode + 1> known{};
  constexpr CodeStarts() {
    for (const std::string_view code : kLowercaseFieldCodes)
      known[code.size()][code[0] - 'a'] = true;
    for (const std::string_view code : kLimits) known[code.size()][code[0] - 'a'] = true;
  }
  bool MayBe(std::u16string_view word) const {
    const char16_t first = LowerAscii(word[0]);
    return first >= u'a' && first <= u'z' && known[word.size()][first - u'a'];
  }
};
constexpr CodeStarts kCodeStarts;
bool IsKnownFieldCode(std::u16string_view word) {
  if (word.empty() || word.size() > kLongestKnownCode || !kCodeStarts.MayBe(word)) return false;
  std::array<char, kLongestKnownCode> folded;
  for (size_t k = 0; k < word.size(); ++k) {
    const char16_t unit = LowerAscii(word[k]);
    if (unit >= 0x80) return false;
    folded[k] = static_cast<char>(unit);
  }
  const std::string_view name(folded.data(), word.size());
  return std::find(kLowercaseFieldCodes.begin(), kLowercaseFieldCodes.end(), name) !=
             kLowercaseFieldCodes.end() ||
         std::find(kLimits.begin(), kLimits.end(), name) != kLimits.end();
}

// A field code as databases write one before "(" or "=": a code that
// Scopus or EBSCO knows (in any letter case), or letters, digits and
// hyphens ending in "=" (TS=, PY=). Other words in capitals glued to "("
// are terms as often as codes ("HIV(PrEP OR ...)").
bool IsFieldCode(std::u16string_view word) {
  if (word.size() < 2 || word.size() > kLongestFieldCode || !IsLetter(word[0])) return false;
  const bool equals = word.back() == u'=';
  const std::u16string_view name = equals ? word.substr(0, word.size() - 1) : word;
  if (name.empty()) return false;
  for (const char16_t unit : name) {
    if (!IsLetter(unit) && !IsAsciiDigit(unit) && unit != u'-' && unit != u'_') return false;
  }
  if (OperatorWord(name) != OperatorKind::kNone) return false;
  return equals || IsKnownFieldCode(name) || IsSpacedFieldCode(name);
}

// Whether a word begins a number (a year or a date), as the ends of a
// range do, perhaps inside a phrase.
bool BeginsNumber(std::u16string_view word) {
  const size_t first = !word.empty() && word[0] == kDoubleQuote ? 1 : 0;
  return first < word.size() && IsAsciiDigit(word[first]);
}

bool IsQuote(char16_t unit) {
  return unit == kDoubleQuote || unit == u'\'' || unit == u'\u2018' || unit == u'\u2019';
}

bool IsSingleOpen(char16_t unit) { return unit == u'\'' || unit == u'\u2018'; }
bool IsSingleClose(char16_t unit) { return unit == u'\'' || unit == u'\u2019'; }
bool IsWordUnit(char16_t unit) {
  return IsLetter(unit) || IsAsciiDigit(unit) || unit == u'*' || unit == u'?' || unit >= 0x80;
}

class GroupSyntax {
 public:
  GroupSyntax(std::u16string_view text, std::span<const Word> words, std::vector<Diagnostic>& out)
      : text_(text), words_(words), out_(out) {}

  bool Check() {
    for (size_t i = 0; i < words_.size(); ++i) {
      const Word& word = words_[i];
      if (word.role == Role::kOperator && word.operator_word == OperatorKind::kNot &&
          LowerAscii(text_[word.start]) == u'o') {
        OrNot(i);
      }
      if (word.role != Role::kOperand || word.nested_group) continue;
      const std::u16string_view typed = TextOf(word);
      const bool between_terms = Operand(i - 1) && Operand(i + 1);
      if (between_terms && !IsStage(TextOf(words_[i - 1])) && !IsStage(TextOf(words_[i + 1]))) {
        const std::string_view convention = ProximityConvention(typed);
        if (!convention.empty()) Proximity(i, convention);
      }
      if (Range(i, between_terms)) continue;
      FieldCode(i);
      TermSuffix(i);
      GluedProximity(i);
      SpacedTag(i);
      SignPrefix(i);
    }
    return found_;
  }

 private:
  std::u16string_view TextOf(const Word& word) const {
    return text_.substr(word.start, word.end - word.start);
  }
  // Whether the first unit after the spaces from `at` on is "(".
  bool FollowedByOpen(size_t at) const {
    const size_t next = text_.find_first_not_of(u' ', at);
    return next != std::u16string_view::npos && text_[next] == u'(';
  }
  // Whether word `i` stands inside a field tag that holds spaces, as the
  // "-" of "[Date - Publication]": the word before it opens a "[" that it
  // does not close. Only that word's last units are read.
  bool InsideTag(size_t i) const {
    if (i == 0 || words_[i - 1].nested_group) return false;
    const std::u16string_view before = TextOf(words_[i - 1]);
    const std::u16string_view tail =
        before.substr(before.size() - std::min(before.size(), kLongestFieldCode));
    const size_t open = tail.rfind(u'[');
    return open != std::u16string_view::npos && tail.find(u']', open) == std::u16string_view::npos;
  }
  bool Operand(size_t i) const { return i < words_.size() && words_[i].role == Role::kOperand; }
  bool OperatorBefore(size_t i, OperatorKind kind) const {
    return i > 0 && words_[i - 1].role == Role::kOperator && words_[i - 1].operator_word == kind;
  }

  // The sign the sign form gives word `i`: "+" (required), "-" (after
  // NOT) or none (an alternative, after OR or first before one).
  std::u16string_view SignOf(size_t i) const {
    if (OperatorBefore(i, OperatorKind::kNot)) return u"-";
    const bool optional = OperatorBefore(i, OperatorKind::kOr) ||
                          (i == 0 && words_.size() > 1 && words_[1].role != Role::kOperand &&
                           words_[1].operator_word == OperatorKind::kOr);
    return optional ? u"" : u"+";
  }

  // Word `i` as the sign form writes it, `shown` after its sign, quoted.
  std::string Signed(size_t i, std::u16string_view shown) const {
    std::u16string signed_text(SignOf(i));
    signed_text += shown;
    return Quote(signed_text);
  }

  void Report(std::string_view code, std::string message, size_t start, size_t end) {
    Add(out_, code, Severity::kWarning, std::move(message), start, end);
    found_ = true;
  }

  void Proximity(size_t i, std::string_view convention) {
    const Word& word = words_[i];
    const std::u16string_view before = TextOf(words_[i - 1]);
    const std::u16string_view after = TextOf(words_[i + 1]);
    std::string message = Quote(TextOf(word)) + " is " + std::string(convention) +
                          ", but these forms have no proximity: it becomes a search word of its "
                          "own (" +
                          Signed(i, TextOf(word)) + " in the sign form). ";
    std::u16string joined(before);
    joined += u" AND ";
    joined += after;
    // A phrase is offered only for one plain word on either side: beside
    // words next to them ("heart failure adj3 exercise") or phrases, the
    // terms the searcher meant are longer than the words around the
    // operator. Phrases begin and end with their quotes; only those ends
    // are read.
    auto plain = [&](size_t k, std::u16string_view term) {
      return !words_[k].nested_group && !IsQuote(term.front()) && !IsQuote(term.back());
    };
    const bool single_words = !Operand(i - 2) && !Operand(i + 2);
    if (single_words && plain(i - 1, before) && plain(i + 1, after)) {
      std::u16string phrase = u"\"";
      phrase += before;
      phrase += u' ';
      phrase += after;
      phrase += u'"';
      message += "Write the terms as a phrase, " + Quote(phrase) +
                 " (stricter), or join them with AND, " + Quote(joined) + " (looser).";
    } else {
      message +=
          "Join the terms on either side with AND (looser), or write them as one phrase in "
          "double quotes (stricter).";
    }
    Report("proximity-operator", std::move(message), word.start, word.end);
  }

  // "heart failure"~3: a proximity glued to the end of a phrase.
  void GluedProximity(size_t i) {
    const Word& word = words_[i];
    const std::u16string_view typed = TextOf(word);
    size_t digits = 0;
    while (digits < typed.size() && digits < kLongestOperator &&
           IsAsciiDigit(typed[typed.size() - 1 - digits])) {
      ++digits;
    }
    if (digits == 0 || typed.size() < digits + 3) return;
    const size_t tilde = typed.size() - 1 - digits;
    if (typed[tilde] != u'~' || typed[tilde - 1] != kDoubleQuote) return;
    const std::u16string_view phrase = typed.substr(0, tilde);
    std::string message = Quote(typed.substr(tilde)) +
                          " after the phrase asks for its words near each other (a proximity "
                          "search), but these forms have no proximity: it stays glued to the "
                          "phrase, " +
                          Signed(i, typed) +
                          " in the sign form. Remove it to search the exact phrase " +
                          Quote(phrase) + " (stricter), or join its words with AND (looser).";
    Report("proximity-operator", std::move(message), word.start + tilde, word.end);
  }

  bool Range(size_t i, bool between_terms) {
    const Word& word = words_[i];
    const std::u16string_view typed = TextOf(word);
    // A range is a dash that begins a word, or a word of one unit.
    if (!IsDash(typed[0]) && typed.size() != 1) return false;
    // "2010 -2020": a dash glued to the second end.
    if (i > 0 && Operand(i - 1) && typed.size() >= 2 && IsDash(typed[0]) &&
        IsAsciiDigit(typed[1]) && BeginsNumber(TextOf(words_[i - 1]))) {
      Report("range",
             Quote(typed.substr(0, 1)) + " between " + Quote(TextOf(words_[i - 1])) + " and " +
                 Quote(typed.substr(1)) +
                 " makes a range in the database's syntax, but here it is part of the word " +
                 Quote(typed) + " (" + Signed(i, typed) +
                 " in the sign form). These forms have no ranges: leave the range out, and set "
                 "it in the database itself.",
             word.start, word.start + 1);
      return true;
    }
    if (!between_terms || word.end - word.start != 1 || InsideTag(i)) return false;
    const char16_t unit = text_[word.start];
    const bool colon = unit == u':';
    const bool dash = IsDash(unit);
    if (!colon &&
        !(dash && BeginsNumber(TextOf(words_[i - 1])) && BeginsNumber(TextOf(words_[i + 1])))) {
      return false;
    }
    Report("range",
           Quote(TextOf(word)) + " between " + Quote(TextOf(words_[i - 1])) + " and " +
               Quote(TextOf(words_[i + 1])) +
               " makes a range in the database's syntax, as in a range of dates, but here it "
               "becomes a search word of its own (" +
               Signed(i, TextOf(word)) +
               " in the sign form) and both ends are required as words. These forms have no "
               "ranges: leave the range out, and set it in the database itself.",
           word.start, word.end);
    return true;
  }

  void FieldCode(size_t i) {
    const Word& word = words_[i];
    const std::u16string_view typed = TextOf(word);
    const bool glued_open = word.end < text_.size() && text_[word.end] == u'(';
    // A group after it may be one that dissolves ("TI ( asthma )"), so the
    // typed text is what tells.
    // "ALL" (a leukaemia as often as a field) counts only glued to "(".
    const bool spaced_code =
        IsSpacedFieldCode(typed) || (IsKnownFieldCode(typed) && !EqualsFolded(typed, "all"));
    const bool next_is_group_or_phrase =
        i + 1 < words_.size() &&
        (words_[i + 1].nested_group || text_[words_[i + 1].start] == kDoubleQuote ||
         (spaced_code && FollowedByOpen(word.end)));
    // EBSCO's "TI asthma": a code in capitals that begins a run of words. In
    // a list of alternatives ("PT OR physiotherap*") the same letters are a
    // term.
    const bool begins_run =
        IsSpacedFieldCode(typed) && Operand(i + 1) && !(i > 0 && Operand(i - 1));
    const bool prefix = ((glued_open || typed.back() == u'=') && IsFieldCode(typed)) ||
                        (word.end < text_.size() && text_[word.end] == u' ' && spaced_code &&
                         (next_is_group_or_phrase || begins_run));
    if (prefix && i + 1 < words_.size()) {
      const std::string_view what = words_[i + 1].nested_group ? "group" : "term";
      std::string message =
          "The field code " + Quote(typed) + " stands apart from the " + std::string(what) +
          " after it here: the conversion makes it a search word of its own (" + Signed(i, typed) +
          " in the sign form), and no field applies to the " + std::string(what) + ".";
      if (OperatorBefore(i, OperatorKind::kNot)) {
        message += " The NOT before it now excludes only " + Quote(typed) + ", and the " +
                   std::string(what) + " after it is required.";
      } else if (OperatorBefore(i, OperatorKind::kOr)) {
        message += " The OR before it now offers " + Quote(typed) + " as the alternative.";
      }
      message += " These forms know no fields: remove " + Quote(typed);
      if (OperatorBefore(i, OperatorKind::kNot)) {
        message += ", so that the NOT applies to the " + std::string(what);
      }
      message += ", and set the field in the database itself.";
      Report("field-code", std::move(message), word.start, word.end);
      return;
    }
    if (GluedPrefix(i)) return;
    const bool suffix = word.start > 0 && text_[word.start - 1] == u')' && typed.size() >= 2 &&
                        typed.size() <= kLongestFieldCode &&
                        (typed[0] == u'.' || typed[0] == u':' || typed[0] == u'/') &&
                        IsLetter(typed[1]);
    if (suffix) {
      Report("field-code",
             "The field suffix " + Quote(typed) +
                 " glued to the \")\" before it becomes a search word of its own (" +
                 Signed(i, typed) +
                 " in the sign form), required beside the group it was meant to limit. These "
                 "forms know no fields: remove it, and set the field in the database itself.",
             word.start, word.end);
    }
  }

  // "TS=asthma": a field code and "=" glued to the term, which stays part
  // of the word. Only the word's first units are read. Returns whether it
  // reported one.
  bool GluedPrefix(size_t i) {
    const Word& word = words_[i];
    const std::u16string_view typed = TextOf(word);
    const size_t equals = typed.substr(0, kLongestFieldCode).find(u'=');
    if (equals == std::u16string_view::npos || equals + 1 >= typed.size() ||
        !IsFieldCode(typed.substr(0, equals + 1))) {
      return false;
    }
    for (const char16_t unit : typed.substr(0, equals)) {
      if (IsLower(unit)) return false;  // "a=b" is no field
    }
    const std::u16string_view code = typed.substr(0, equals + 1);
    const std::u16string_view term = typed.substr(equals + 1);
    Report("field-code",
           "The field code " + Quote(code) + " glued to " + Quote(term) +
               " stays part of the word: the conversion searches " + Quote(typed) + " as typed (" +
               Signed(i, typed) + " in the sign form), not " + Quote(term) +
               " in a field. These forms know no fields: remove " + Quote(code) +
               ", and set the field in the database itself.",
           word.start, word.start + equals + 1);
    return true;
  }

  // A field suffix glued to a term, which stays part of the word: Ovid's
  // "asthma*.tw.", "Asthma/" (a subject heading), Embase's
  // "'asthma'/exp" and "asthma:ti,ab". Only the word's last units are read.
  void TermSuffix(size_t i) {
    const Word& word = words_[i];
    const std::u16string_view typed = TextOf(word);
    const size_t tail_start = typed.size() - std::min(typed.size(), kLongestFieldCode);
    const std::u16string_view tail = typed.substr(tail_start);
    auto field_letters = [](std::u16string_view part) {
      size_t letters = 0;
      for (const char16_t unit : part) {
        if (IsLower(unit)) {
          ++letters;
        } else if (unit != u',') {
          return false;
        }
      }
      return letters >= 2;
    };
    const char16_t last = tail.back();
    // Every suffix ends in "." or holds ":" or "/".
    if (last != u'.' && std::none_of(tail.begin(), tail.end(),
                                     [](char16_t unit) { return unit == u':' || unit == u'/'; })) {
      return;
    }
    size_t suffix = std::u16string_view::npos;  // where the suffix begins in `tail`
    if (last == u'.' && tail.size() >= 4) {
      const size_t dot = tail.rfind(u'.', tail.size() - 2);
      if (dot != std::u16string_view::npos && dot > 0 &&
          field_letters(tail.substr(dot + 1, tail.size() - dot - 2))) {
        suffix = dot;
      }
    } else if (last == u'/' && tail.size() >= 3 && IsLetter(tail[tail.size() - 2])) {
      suffix = tail.size() - 1;  // a subject heading: "Asthma/"
    } else {
      const size_t mark = tail.find_last_of(u":/");
      if (mark != std::u16string_view::npos && mark > 0 &&
          tail.find(u'[') == std::u16string_view::npos) {
        const std::u16string_view field = tail.substr(mark + 1);
        const bool embase_link = tail[mark] == u'/' && (Equals(field, "exp") ||
                                                        Equals(field, "de") || Equals(field, "mj"));
        if ((tail[mark] == u':' && field_letters(field)) || embase_link) suffix = mark;
      }
    }
    if (suffix == std::u16string_view::npos || tail_start + suffix == 0) return;
    const size_t start = word.start + tail_start + suffix;
    const std::u16string_view code = text_.substr(start, word.end - start);
    const std::u16string_view term = typed.substr(0, tail_start + suffix);
    std::string message = "The field suffix " + Quote(code) + " glued to " + Quote(term) +
                          " stays part of the word: the conversion searches " + Quote(typed) +
                          " as typed (" + Signed(i, typed) + " in the sign form), not " +
                          Quote(term) + " in a field.";
    if (i > 0 && !words_[i - 1].nested_group && EqualsFolded(TextOf(words_[i - 1]), "exp")) {
      message += " The \"exp\" before it is a search word of its own too.";
    }
    message += " These forms know no fields: remove " + Quote(code) +
               ", and set the field in the database itself.";
    Report("field-code", std::move(message), start, word.end);
  }

  // trial [pt]: a complete field tag as a word of its own.
  void SpacedTag(size_t i) {
    const Word& word = words_[i];
    const std::u16string_view typed = TextOf(word);
    if (i == 0 || !Operand(i - 1) || typed.size() < 3 || typed.size() > kLongestFieldCode ||
        typed.front() != u'[' || typed.back() != u']' || text_[word.start - 1] != u' ') {
      return;
    }
    const std::u16string_view term = TextOf(words_[i - 1]);
    std::u16string glued(term);
    glued += typed;
    std::string message = "The field tag " + Quote(typed) + " is separated from " + Quote(term) +
                          " by a space, so the conversion makes it a search word of its own (" +
                          Signed(i, typed) + " in the sign form) and it tags nothing.";
    if (!words_[i - 1].nested_group)
      message += " Write it glued to its term: " + Quote(glued) + ".";
    Report("spaced-field-tag", std::move(message), word.start, word.end);
  }

  void SignPrefix(size_t i) {
    const Word& word = words_[i];
    const std::u16string_view typed = TextOf(word);
    if (!IsSign(typed[0]) || InsideTag(i)) return;
    const bool lone = typed.size() == 1;
    if (lone ? !Operand(i + 1) : IsAsciiDigit(typed[1]) || IsSign(typed[1])) return;
    const bool plus = typed[0] == u'+';
    const std::string_view does = plus ? "requires" : "excludes";
    const std::string shown = Signed(i, typed);
    std::string message;
    if (lone) {
      message = "The " + Quote(typed) + " before " + Quote(TextOf(words_[i + 1])) + " " +
                std::string(does) +
                " what follows it in many databases, but here it is a word of its own (" + shown +
                " in the sign form).";
    } else {
      message = Quote(typed) + " begins with " + Quote(typed.substr(0, 1)) + ", which " +
                std::string(does) + " a word in many databases, but here it is part of the word";
      message += !SignOf(i).empty() ? ", and the sign form adds its own sign: " + shown + "."
                                    : ": the sign form writes it bare, " + shown +
                                          ", while the operator form searches it as a word.";
    }
    const SignRepair repair = SignRepairOf(text_, words_, i);
    if (plus) {
      message += lone ? " Remove it: words are required without it."
                      : " Words are required without it: write " + Quote(typed.substr(1)) + ".";
    } else if (repair == SignRepair::kNot) {
      std::u16string excluded = u"NOT ";
      excluded += lone ? TextOf(words_[i + 1]) : typed.substr(1);
      message += " To exclude it, write " + Quote(excluded) + ".";
    } else {
      message +=
          " To exclude it, write NOT before it after the terms it is excluded from, or "
          "remove the sign.";
    }
    Report("sign-prefix", std::move(message), word.start, word.start + 1);
  }

  void OrNot(size_t i) {
    const Word& word = words_[i];
    const std::u16string_view typed = TextOf(word);
    std::string message = Quote(typed) +
                          " is read as NOT (the converter turns \"or not\" into NOT), so the OR "
                          "is dropped";
    if (Operand(i + 1))
      message += ": " + Quote(TextOf(words_[i + 1])) + " is excluded, not offered";
    message += ". Write NOT alone to exclude it, or OR alone to search it as an alternative.";
    Report("or-not", std::move(message), word.start, word.end);
  }

  std::u16string_view text_;
  std::span<const Word> words_;
  std::vector<Diagnostic>& out_;
  bool found_ = false;
};

// Whether the text between two double quotes paired as typed is something
// no searcher puts in a phrase: it begins or ends with a space, or begins
// with what ends a term ("]", ")", ":", ",") or ends with "(".
bool Implausible(std::u16string_view phrase) {
  if (phrase.empty()) return false;
  const char16_t first = phrase.front();
  const char16_t last = phrase.back();
  return first == u' ' || last == u' ' || first == u'[' || first == u']' || first == u')' ||
         first == u':' || first == u',' || last == u'(';
}

// How implausible a phrase is, for weighing pairings: 0 when plausible;
// kImplausible, and one more when it also runs across a parenthesis or an
// operator in capitals (« cardiac failure) AND (exercise OR », which is the
// text between two groups, not a phrase).
constexpr size_t kImplausible = 2;
// The most quotes taken for missing their partner in one expression.
constexpr size_t kMostStrayQuotes = 8;
size_t ImplausibleCost(std::u16string_view phrase) {
  if (!Implausible(phrase)) return 0;
  const bool crosses = phrase.find_first_of(u"()") != std::u16string_view::npos ||
                       phrase.find(u" AND ") != std::u16string_view::npos ||
                       phrase.find(u" OR ") != std::u16string_view::npos ||
                       phrase.find(u" NOT ") != std::u16string_view::npos;
  return kImplausible + (crosses ? 1 : 0);
}

// " or not ", as the converter looks for it: in any letter case.
constexpr std::u16string_view kOrNot = u" or not ";
bool OrNotAt(std::u16string_view text, size_t at) {
  if (at + kOrNot.size() > text.size()) return false;
  for (size_t k = 0; k < kOrNot.size(); ++k) {
    if (LowerAscii(text[at + k]) != kOrNot[k]) return false;
  }
  return true;
}

bool EndsOperatorWord(std::u16string_view text, size_t at) {
  return at >= text.size() || text[at] == u' ' || text[at] == u'(' || text[at] == u')' ||
         text[at] == kDoubleQuote;
}

// The length of the operator word at `at` ("AND", "OR", "NOT" in any
// letter case) that ends where a word ends, or 0.
size_t OperatorAt(std::u16string_view text, size_t at) {
  for (const size_t length : {size_t{2}, size_t{3}}) {
    if (at + length <= text.size() &&
        OperatorWord(text.substr(at, length)) != OperatorKind::kNone &&
        EndsOperatorWord(text, at + length)) {
      return length;
    }
  }
  return 0;
}

}  // namespace

bool IsSign(char16_t unit) {
  return unit == u'-' || unit == u'+' || unit == u'\u2013' || unit == u'\u2014' ||
         unit == u'\u2212';
}

SignRepair SignRepairOf(std::u16string_view text, std::span<const Word> words, size_t i) {
  const Word& word = words[i];
  if (word.role != Role::kOperand || word.nested_group) return SignRepair::kNone;
  const char16_t sign = text[word.start];
  if (!IsSign(sign)) return SignRepair::kNone;
  auto operand = [&](size_t k) { return k < words.size() && words[k].role == Role::kOperand; };
  // A sign followed only by U+0000 stands alone too: the converter reads
  // such units as blank, so without the sign the word would vanish.
  const std::u16string_view after_sign = text.substr(word.start + 1, word.end - word.start - 1);
  if (std::all_of(after_sign.begin(), after_sign.end(), [](char16_t unit) { return unit == 0; })) {
    if (!operand(i + 1)) return SignRepair::kNone;  // a lone sign before a term or group
    // A lone "+" is a word of its group: without it, a group of two words
    // would keep one and dissolve, and the text would read differently
    // (and tidy differently a second time).
    // Counted only up to three, from the group's start: each lone "+" is an
    // operand itself, so many of them stop the count early, and the checks
    // of a group stay linear.
    if (sign == u'+') {
      size_t operands = 0;
      for (size_t k = 0; k < words.size() && operands < 3; ++k) operands += operand(k);
      if (operands < 3) return SignRepair::kNone;
    }
  } else {
    const char16_t next = text[word.start + 1];
    if (IsAsciiDigit(next) || IsSign(next)) return SignRepair::kNone;
    // "+or" is searched as a word; without its sign it would be an operator
    // (found by the fuzzer).
    if (OperatorWord(after_sign) != OperatorKind::kNone) return SignRepair::kNone;
  }
  if (i > 0 && !words[i - 1].nested_group) {
    // After a number the sign may end a range ("yr=2010 -Current"); after
    // an open "[" it stands inside a field tag.
    const std::u16string_view before =
        text.substr(words[i - 1].start, words[i - 1].end - words[i - 1].start);
    const std::u16string_view tail =
        before.substr(before.size() - std::min(before.size(), kLongestFieldCode));
    const size_t open = tail.rfind(u'[');
    if (IsAsciiDigit(before.back()) ||
        (open != std::u16string_view::npos && tail.find(u']', open) == std::u16string_view::npos)) {
      return SignRepair::kNone;
    }
  }
  if (sign == u'+') return SignRepair::kDropPlus;
  return operand(i - 1) ? SignRepair::kNot : SignRepair::kNone;
}

bool CheckGroupSyntax(std::u16string_view text, std::span<const Word> words,
                      std::vector<Diagnostic>& out) {
  return GroupSyntax(text, words, out).Check();
}

std::vector<SingleQuoted> FindSingleQuoted(std::u16string_view text) {
  std::vector<SingleQuoted> found;
  auto separates = [](char16_t unit) { return unit == u' ' || unit == u'(' || unit == u')'; };
  auto word_end = [&](size_t at) {
    while (at < text.size() && !separates(text[at])) ++at;
    return at;
  };
  // The place of the quote that closes a phrase in the word [start, end):
  // after a letter or digit, at its end or before an Embase suffix such as
  // "/exp" or ":ti,ab".
  auto closing = [&](size_t start, size_t end) -> size_t {
    for (size_t at = start + 1; at < end; ++at) {
      if (!IsSingleClose(text[at]) || !IsWordUnit(text[at - 1])) continue;
      if (at + 1 == end || text[at + 1] == u'/' || text[at + 1] == u':') return at;
    }
    return std::u16string_view::npos;
  };
  size_t at = 0;
  while (at < text.size()) {
    // Only a word that begins with a single quote may open a phrase: the
    // search goes from one single quote to the next.
    while (at < text.size() && !(IsSingleOpen(text[at]) && (at == 0 || separates(text[at - 1])))) {
      ++at;
    }
    if (at >= text.size()) break;
    const size_t start = at;
    const size_t end = word_end(start);
    at = end;
    if (!IsSingleOpen(text[start]) || end - start < 2 || !IsWordUnit(text[start + 1]) ||
        closing(start, end) != std::u16string_view::npos ||
        text.substr(start, end - start).find(kDoubleQuote) != std::u16string_view::npos) {
      continue;
    }
    // Later words on the same stretch between parentheses, up to the one
    // whose quote closes the phrase.
    size_t next = end;
    for (size_t words = 1; words < kMostQuotedWords; ++words) {
      if (next >= text.size() || text[next] != u' ') break;
      while (next < text.size() && text[next] == u' ') ++next;
      if (next >= text.size() || separates(text[next]) || IsSingleOpen(text[next])) break;
      const size_t later_end = word_end(next);
      const std::u16string_view later = text.substr(next, later_end - next);
      if (later.find(kDoubleQuote) != std::u16string_view::npos) break;
      const size_t close = closing(next, later_end);
      if (close != std::u16string_view::npos) {
        found.push_back({start, close});
        at = later_end;
        break;
      }
      next = later_end;
    }
  }
  return found;
}

void CheckTextSyntax(std::u16string_view text, const std::vector<SingleQuoted>& single_quoted,
                     std::vector<Diagnostic>& out, std::vector<size_t>& marked) {
  for (const SingleQuoted& phrase : single_quoted) {
    const std::u16string_view quoted = text.substr(phrase.open, phrase.close + 1 - phrase.open);
    std::u16string doubled(quoted);
    doubled.front() = kDoubleQuote;
    doubled.back() = kDoubleQuote;
    Add(out, "single-quote", Severity::kWarning,
        "The single quotes around " + Quote(quoted) +
            " make no phrase here (some databases write phrases so): each word is searched on "
            "its own, with the quote as part of it. Use double quotes: " +
            Quote(doubled) + ".",
        phrase.open, phrase.close + 1);
    marked.push_back(phrase.open);
  }
  // Operator words glued to a double quote. Which quotes close a phrase
  // follows from counting them, as the tokenizer pairs them.
  bool inside = false;
  size_t reported_end = 0;
  auto report = [&](size_t start, size_t length) {
    if (start < reported_end) return;
    reported_end = start + length;
    const std::u16string_view op = text.substr(start, length);
    Add(out, "glued-operator", Severity::kWarning,
        "The operator " + Quote(op) +
            " touches a double quote with no space between, so it is not read as an operator "
            "but as part of one word with the phrase. Put a space on each side of " +
            Quote(op) + ".",
        start, start + length);
    marked.push_back(start);
  };
  for (size_t at = text.find(kDoubleQuote); at < text.size(); ++at) {
    if (!inside) {
      // Outside a phrase only the next quote matters.
      at = text.find(kDoubleQuote, at);
      if (at == std::u16string_view::npos) break;
    }
    if (inside && text[at] == u' ' && OrNotAt(text, at)) {
      // The converter turns " or not " into " NOT " inside phrases too.
      const std::u16string_view typed = text.substr(at + 1, kOrNot.size() - 2);
      Add(out, "or-not", Severity::kWarning,
          "Inside this phrase, " + Quote(typed) +
              " becomes NOT all the same (the converter turns \"or not\" into NOT wherever it "
              "stands), so the phrase searched is not the one typed. Leave \"or not\" out of "
              "the phrase.",
          at + 1, at + kOrNot.size() - 1);
      continue;
    }
    if (text[at] != kDoubleQuote) continue;
    if (inside) {
      // A closing quote, then an operator word.
      const size_t length = OperatorAt(text, at + 1);
      if (length > 0) report(at + 1, length);
    } else {
      // An operator word, then an opening quote.
      for (const size_t length : {size_t{2}, size_t{3}}) {
        if (at < length) continue;
        const size_t start = at - length;
        // A field tag or a group may end the term before it: "[tiab]OR".
        const bool begins_word = start == 0 || text[start - 1] == u' ' || text[start - 1] == u'(' ||
                                 text[start - 1] == kDoubleQuote || text[start - 1] == u']' ||
                                 text[start - 1] == u')';
        if (begins_word && OperatorWord(text.substr(start, length)) != OperatorKind::kNone) {
          report(start, length);
        }
      }
    }
    inside = !inside;
  }
  std::sort(marked.begin(), marked.end());
}

std::vector<StrayQuote> FindStrayQuotes(std::u16string_view text) {
  // Most texts pair their quotes plausibly as typed: one look at each
  // phrase tells, with nothing kept.
  {
    size_t open = std::u16string_view::npos;
    bool plausible = true;
    for (size_t at = text.find(kDoubleQuote); at != std::u16string_view::npos && plausible;
         at = text.find(kDoubleQuote, at + 1)) {
      if (open == std::u16string_view::npos) {
        open = at;
      } else {
        plausible = !Implausible(text.substr(open + 1, at - open - 1));
        open = std::u16string_view::npos;
      }
    }
    if (plausible && open == std::u16string_view::npos) return {};
  }
  std::vector<size_t> quotes;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == kDoubleQuote) quotes.push_back(at);
  }
  const size_t count = quotes.size();
  if (count < 2) return {};
  auto phrase = [&](size_t i) { return text.substr(quotes[i] + 1, quotes[i + 1] - quotes[i] - 1); };
  // The cost of pairing quote i with quote i + 1.
  std::vector<size_t> bad(count, 0);
  for (size_t i = 0; i + 1 < count; ++i) bad[i] = ImplausibleCost(phrase(i));
  // An implausible phrase costs at least twice what a quote left out does:
  // two quotes missing far apart make as few as two such phrases between
  // them, or one across groups, and leaving those two quotes out must be
  // the better reading; a single implausible phrase within a group
  // ("heart failure ") is no reason to leave out both its quotes.
  constexpr size_t kLeftOut = 1;
  // The pairing as typed: 0 with 1, 2 with 3, ...; an odd last one stays open.
  size_t as_typed = (count % 2) * kLeftOut;
  for (size_t i = 0; i + 1 < count; i += 2) as_typed += bad[i];
  if (as_typed == 0) return {};
  // cost[i]: the least cost of the quotes from i on, each paired with the
  // next or left out.
  std::vector<size_t> cost(count + 1, 0);
  std::vector<bool> leave_out(count, false);
  for (size_t i = count; i-- > 0;) {
    const size_t left_out = kLeftOut + cost[i + 1];
    const size_t paired = i + 1 < count ? bad[i] + cost[i + 2] : left_out + 1;
    leave_out[i] = left_out < paired;
    cost[i] = std::min(left_out, paired);
  }
  if (cost[0] >= as_typed) return {};
  // A searcher misses a quote or two; where the best reading leaves out
  // many, the text is no strategy with missing quotes (phrases that span
  // groups pair as the converter pairs them, not as counted here), and the
  // converter's own findings are the ones to trust.
  size_t left_out = 0;
  for (size_t i = 0; i < count;) {
    if (leave_out[i]) {
      if (++left_out > kMostStrayQuotes) return {};
      ++i;
    } else {
      i += 2;
    }
  }
  std::vector<StrayQuote> strays;
  for (size_t i = 0; i < count;) {
    if (!leave_out[i]) {
      i += 2;
      continue;
    }
    // What this quote pairs with as typed, from the first implausible
    // phrase of that pairing at or after it.
    size_t shown = i % 2 == 0 ? i : i - 1;
    while (shown + 1 < count && !bad[shown]) shown += 2;
    strays.push_back({quotes[i], shown + 1 < count ? phrase(shown) : std::u16string_view()});
    ++i;
  }
  return strays;
}

LetterCase CaseOf(std::u16string_view text) {
  bool lower = false;
  bool upper = false;
  for (const char16_t unit : text) {
    lower |= unit >= u'a' && unit <= u'z';
    upper |= unit >= u'A' && unit <= u'Z';
  }
  return lower == upper ? LetterCase::kMixed : lower ? LetterCase::kLower : LetterCase::kUpper;
}

void OperatorCases::Note(LetterCase letter_case) {
  switch (letter_case) {
    case LetterCase::kUpper:
      ++upper;
      return;
    case LetterCase::kMixed:
      ++mixed;
      return;
    case LetterCase::kLower:
      ++lower;
      return;
  }
}

}  // namespace boolconv::diagnostics
