// Diagnostics: what a conversion will do to an expression, told with
// positions, and an opt-in tidy step for text pasted from documents.
//
// Check reads an expression the way ConvertBoolean will and lists every place
// where the conversion's rules change what the user most likely meant: a
// quote that never closes, a stray parenthesis, a line break that joins two
// words, an operator word that turns into a search word, and so on. It never
// changes a conversion: converting the same text gives the same results
// whether or not it was checked.
//
// Tidy is a separate, explicit step: it returns a cleaned copy of the
// expression (ordinary spaces and straight quotes) and the repairs it made.
//
// Usage:
//   for (const boolconv::Diagnostic& d : boolconv::Check(u"NOT animals[mh]")) {
//     // d.code == "leading-operator", d.start == 0, d.end == 3
//   }

#ifndef BOOLCONV_DIAGNOSTICS_DIAGNOSTICS_H_
#define BOOLCONV_DIAGNOSTICS_DIAGNOSTICS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "textfuncs/funclib.h"

namespace boolconv {

enum class Severity {
  kError,    // the conversion fails
  kWarning,  // the conversion changes what the expression most likely means
  kInfo,     // worth knowing; the meaning is probably kept
};

// "error", "warning" or "info".
std::string_view SeverityName(Severity severity);

// The stable codes of diagnostics. Programs may rely on them; messages may
// change wording between releases.
namespace codes {
inline constexpr std::string_view kUnclosedQuote = "unclosed-quote";
inline constexpr std::string_view kUnmatchedClose = "unmatched-close";
inline constexpr std::string_view kUnbalancedParentheses = "unbalanced-parentheses";
inline constexpr std::string_view kJoinedWords = "joined-words";
inline constexpr std::string_view kTypographicQuote = "typographic-quote";
inline constexpr std::string_view kLeadingOperator = "leading-operator";
inline constexpr std::string_view kTrailingOperator = "trailing-operator";
inline constexpr std::string_view kOperatorAsOperand = "operator-as-operand";
inline constexpr std::string_view kMixedAndOr = "mixed-and-or";
inline constexpr std::string_view kLowercaseOperator = "lowercase-operator";
inline constexpr std::string_view kSpacedBracket = "spaced-bracket";
}  // namespace codes

// One finding (or, from Tidy, one repair) about a stretch of the expression.
struct Diagnostic {
  std::string code;  // one of codes::
  Severity severity;
  std::string message;  // plain English, UTF-8: names the text and says what to do
  // The stretch, in Unicode code points of the expression as given (an
  // unpaired surrogate counts as one): 0-based, `end` exclusive.
  size_t start;
  size_t end;

  bool operator==(const Diagnostic&) const = default;
};

// Lists what ConvertBoolean will do to `expression` that the user should
// know, sorted by start (then end), one diagnostic per occurrence. Accepts
// any text, never throws anything but std::bad_alloc, and takes time and
// memory linear in the length of the expression plus the number of
// findings, however its groups nest.
//
// No message grows with the expression: one quotes at most 40 characters of
// any text it names, cut with "…", and spells out a rewrite it suggests
// only below 100 characters (mixed-and-or; a longer one is shown by its
// first run of OR-ed terms, cut at 40). The suggestion is put together only
// as far as it can be shown, so describing a group costs time in its number
// of words, not in the length of its text.
std::vector<Diagnostic> Check(std::u16string_view expression);

struct TidyOptions {
  // Also write in capitals every and/or/not that acts as an operator, so
  // that the operator form reads AND/OR/NOT.
  bool capitalize_operators = false;
};

struct TidyResult {
  Text expression;                  // the cleaned expression
  std::vector<Diagnostic> repairs;  // one per change, severity kInfo, sorted; spans in the input

  // Where a sign prefix changed the length: the stretch [start, end) of
  // `expression` (code points) that replaced one sign, and how many code
  // points longer `expression` is than the input from `end` on.
  struct Shift {
    size_t start;
    size_t end;
    ptrdiff_t longer;
  };
  std::vector<Shift> shifts;  // in order

  // The position in the input of code point `position` of `expression`; a
  // position inside the text that replaced a sign maps to that sign. Use it
  // to report Check's findings on the tidied text at their place in the
  // input.
  size_t InputPosition(size_t position) const;
  // Moves the spans of `found`, diagnostics of `expression` (such as
  // Check's), to their place in the input; a span inside text that
  // replaced a sign covers that sign.
  void MapToInput(std::vector<Diagnostic>& found) const;
};

// Cleans text pasted from documents and written for databases: every
// character that separates words to the eye but not to the converter (line
// breaks, tabs, control characters, no-break and other Unicode spaces,
// zero-width spaces, byte-order marks) becomes a space, typographic double
// quotes become '"', single quotes (straight or typographic) around a
// phrase of several words become '"', a "+" that begins a word goes, and a
// "-" (or dash or minus sign) that begins a word after a term becomes
// "NOT ". With `capitalize_operators`, operators are written in capitals,
// except lower-case ones where the expression otherwise writes its
// operators in capitals (Check notes those: they may belong to a phrase).
// Only sign prefixes change the length; `shifts` says where. Tidy of its
// own result changes nothing. Never throws anything but std::bad_alloc;
// time and memory linear as for Check.
TidyResult Tidy(std::u16string_view expression, const TidyOptions& options = {});

}  // namespace boolconv

#endif  // BOOLCONV_DIAGNOSTICS_DIAGNOSTICS_H_
