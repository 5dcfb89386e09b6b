// Internal to the diagnostics: how ConvertBoolean reads an expression, with
// every word traced back to where it stands in the expression as typed.
//
// The reading repeats the converter's steps on a copy that remembers the
// origin of each unit: the spacing and "and not" passes of the
// normalization, the walk over groups, the tokenizer's phrases, and the
// rules that make a group convert or dissolve. It reports each converted
// group's words with the role the converter gives them, and each double
// quote that makes groups dissolve. Positions are UTF-16 unit offsets into
// the expression.

#ifndef BOOLCONV_DIAGNOSTICS_READING_H_
#define BOOLCONV_DIAGNOSTICS_READING_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace boolconv::diagnostics {

enum class OperatorKind : uint8_t { kNone, kAnd, kOr, kNot };

// What the converter makes of a word of a converted group.
enum class Role : uint8_t {
  kOperand,          // a term: written as typed, with a sign in the sign form
  kOperator,         // joins the term after it to the group
  kDroppedOperator,  // an operator word ending its group: left out of both forms
};

// One word of a converted group.
struct Word {
  size_t start;  // in the expression; for a nested converted group, its whole
  size_t end;    // span, parentheses included as far as the user typed them
  bool nested_group;
  // and/or/not in any letter case (after "and not" and "or not" became NOT),
  // whatever its role.
  OperatorKind operator_word;
  Role role;
  // The word as the converter reads it (a nested group reads "X"); valid
  // during the Reader call only.
  std::u16string_view read;
  size_t read_start;  // where `read` stands in the walk's own copy
  size_t read_end;
};

// A double quote that never closes within its group, which therefore
// dissolves, and with it every enclosing group whose quotes no longer pair.
struct UnclosedQuote {
  size_t quote;          // position of the quote
  size_t groups_lost;    // groups that dissolve because of it, its own included
  bool expression_lost;  // the outermost of them is the whole expression
};

// Receives what the reading finds, in the order the converter meets it.
class Reader {
 public:
  virtual ~Reader() = default;
  // A group that converts, with its words in order (at least two);
  // `whole_expression` for the pair the normalization wraps around it all.
  virtual void ConvertedGroup(std::span<const Word> words, bool whole_expression) = 0;
  virtual void Unclosed(const UnclosedQuote& quote) = 0;
  // A group that dissolves because its quotes do not pair up; the converter
  // warns about each such group.
  virtual void QuoteDissolved() {}
};

enum class Outcome {
  kBlank,           // nothing to convert: spaces or U+0000 only
  kConverted,       // the conversion completes
  kUnmatchedClose,  // a ")" closes no group: the conversion fails, nothing is reported
};

// Reads `expression` as ConvertBoolean does, reporting to `reader`. Linear in
// time and memory, however deep groups nest and dissolve.
Outcome ReadExpression(std::u16string_view expression, Reader& reader);

// The operator word `text` stands for, in any ASCII letter case.
OperatorKind OperatorWord(std::u16string_view text);

}  // namespace boolconv::diagnostics

#endif  // BOOLCONV_DIAGNOSTICS_READING_H_
