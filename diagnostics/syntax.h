// Internal to the diagnostics: the syntax of the databases that searchers
// copy their strategies from (proximity operators, field codes, ranges,
// sign prefixes, single-quoted phrases, operators glued to quotes), which
// the converter reads as ordinary words, and where a missing double quote
// most likely is.
//
// Every function here looks at each unit of the text, or each word of a
// converted group, a bounded number of times.

#ifndef BOOLCONV_DIAGNOSTICS_SYNTAX_H_
#define BOOLCONV_DIAGNOSTICS_SYNTAX_H_

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "diagnostics/reading.h"

namespace boolconv::diagnostics {

// Reports proximity operators, field codes, spaced field tags, ranges,
// sign prefixes and "or not" among the words of one converted group (as
// the reading gives them). Returns whether it reported any: then the
// group's words are not what the searcher meant, and advice on how to
// group them would rest on the wrong words.
bool CheckGroupSyntax(std::u16string_view text, std::span<const Word> words,
                      std::vector<Diagnostic>& out);

// Whether `unit` is a sign some databases write before a word: "+", "-",
// an en or em dash, or a minus sign.
bool IsSign(char16_t unit);

// What Tidy makes of word `i` of a converted group where it begins with a
// sign: "+asthma" loses its "+" (words are required without it), and
// "-pediatric" after a term becomes "NOT pediatric". A sign before a
// digit, or a "-" that follows an operator or starts its group, is left.
enum class SignRepair { kNone, kDropPlus, kNot };
SignRepair SignRepairOf(std::u16string_view text, std::span<const Word> words, size_t i);

// A phrase in single quotes: `open` and `close` are the places of its
// quotes, straight or typographic, around two or more words.
struct SingleQuoted {
  size_t open;
  size_t close;
};
// The single-quoted phrases of `text`, in order. An apostrophe inside or
// at the end of a word (Crohn's, patients') opens none.
std::vector<SingleQuoted> FindSingleQuoted(std::u16string_view text);

// Reports each single-quoted phrase and each operator word glued to a
// double quote. Adds to `marked` the places of what it reports, in order.
void CheckTextSyntax(std::u16string_view text, const std::vector<SingleQuoted>& single_quoted,
                     std::vector<Diagnostic>& out, std::vector<size_t>& marked);

// The double quotes that most likely miss their partner. Pairing the quotes
// of `text` in order, a missing quote shows as "phrases" that no searcher
// writes, such as «[tiab] OR » or « AND (»; the quotes returned are those
// whose removal leaves the least weight of such phrases plus quotes
// removed, when that is less than the pairing as typed weighs. Empty when
// the pairing as typed is as plausible as any, or when the best reading
// removes more than a few quotes (then the text is no strategy with a
// missing quote, and the converter's own findings tell more).
struct StrayQuote {
  size_t at;                       // the quote
  std::u16string_view wrong_text;  // an implausible phrase the pairing as typed makes from it on
};
std::vector<StrayQuote> FindStrayQuotes(std::u16string_view text);

// How an expression writes its operators: lower-case ones stand out (and
// may belong to a phrase) only where it otherwise writes them in capitals.
enum class LetterCase { kLower, kUpper, kMixed };
LetterCase CaseOf(std::u16string_view text);
struct OperatorCases {
  size_t lower = 0;
  size_t upper = 0;
  size_t mixed = 0;

  void Note(LetterCase letter_case);
  bool LowercaseStandsOut() const { return mixed == 0 && lower <= upper; }
};

}  // namespace boolconv::diagnostics

#endif  // BOOLCONV_DIAGNOSTICS_SYNTAX_H_
