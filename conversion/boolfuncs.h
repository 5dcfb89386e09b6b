// BoolFuncs: converts a Boolean search expression into two renderings.
//
//   operator form: every group in parentheses, "AND" written out between
//                  terms side by side, "and not"/"or not" collapsed to "NOT":
//                  «a b or c» -> «(a AND b or c)»
//   sign form:     within a group a term after "or" is bare, a term after
//                  "not" gets "-", every other term "+":
//                  «a b or c» -> «(+a +b c)»
//
// The step-by-step procedures below define every result: input ->
// NormalizeBoolean -> the group walk (ExpandGroups, which converts each group
// as its ")" is reached, as ConvertGroup does) -> expansion of the converted
// groups into the two outputs. Convert and ConvertBoolean give exactly the
// same results in one pass over the input; ConvertBooleanReference runs the
// steps one by one.
//
// Usage:
//   boolconv::BoolFuncs engine;
//   boolconv::Conversion result = engine.Convert("a b or c");  // UTF-8
//   // result.operator_form == "(a AND b or c)", result.sign_form == "(+a +b c)"
//
//   boolconv::Text op, sign;                                   // UTF-16
//   engine.ConvertBoolean(u"a b or c", op, sign);

#ifndef BOOLCONV_CONVERSION_BOOLFUNCS_H_
#define BOOLCONV_CONVERSION_BOOLFUNCS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "textfuncs/funclib.h"

namespace boolconv {

// What ConvertGroup returns in both outputs for a group it leaves alone.
inline constexpr char16_t kSkipMarker[] = u"***SKIP***";

// Raised by ExpandGroups (and so ConvertBoolean) for a ")" that closes no
// group, as in «a)) or ((b».
inline constexpr int32_t kUnmatchedCloseError = 1001;
inline constexpr char16_t kUnmatchedCloseDescription[] =
    u"A closing parenthesis \")\" has no opening parenthesis \"(\" before it.";

// Raised by Convert for input that is not valid UTF-8. The description names
// the first byte of the first invalid sequence, counted from 1: "Not valid
// UTF-8: invalid byte sequence at byte 3."
inline constexpr int32_t kInvalidUtf8Error = 1002;

// True when `token`, with ASCII letters lower-cased, is exactly "and", "or"
// or "not". Surrounding spaces or quotes make it an ordinary word.
bool IsOperator(const Text& token);

// Brings raw input into the one shape the walk expects: parentheses counted
// equal, spaced on their outer side only, space runs shortened, "()" removed,
// " and not " and " or not " (any case) collapsed to " NOT ", the whole
// wrapped in "(...)". Blank input (after trimming spaces) comes back trimmed
// and unwrapped. Never fails.
Text NormalizeBoolean(Text text);

// Converts one group, "(" content ")", whose content holds no parenthesis,
// into its operator form and sign form, each wrapped in parentheses. A group
// of fewer than two non-blank words, or one whose double quotes do not pair
// up (warned about by GetTokens), gives kSkipMarker in both outputs.
void ConvertGroup(Text group, Text& operator_form, Text& sign_form);

// One row of the group table: a converted group, in the order groups closed.
struct GroupRow {
  Text placeholder;    // the row number and a filler "X", e.g. «12X»
  Text operator_form;  // may hold placeholders of the groups nested in it
  Text sign_form;
};

// How much of a conversion's warnings Convert keeps. An unclosed quote deep
// in a nest warns once for each group around it, each prompt quoting its
// whole group, so their text can grow with the square of the input: the
// first prompt is kept in full, later ones while there are fewer than
// kMostKeptWarnings and their text stays within kMostKeptWarningBytes, and
// the rest are only counted.
inline constexpr size_t kMostKeptWarnings = 64;
inline constexpr size_t kMostKeptWarningBytes = size_t{1} << 20;

// The result of a conversion in UTF-8.
struct Conversion {
  std::string operator_form;
  std::string sign_form;
  std::vector<std::string> warnings;  // the prompts of the first tokenizer warnings, in order
  size_t warnings_dropped = 0;        // how many warnings came after those kept
};

// The conversion engine. One object serves any number of conversions, one at
// a time; no result depends on an earlier conversion. Not thread-safe: use
// one object per thread. Movable, not copyable.
class BoolFuncs {
 public:
  BoolFuncs();
  ~BoolFuncs();
  BoolFuncs(BoolFuncs&&) noexcept;
  BoolFuncs& operator=(BoolFuncs&&) noexcept;

  // Converts UTF-8 `utf8` into `result`; the warnings are collected into
  // result.warnings (as many as kMostKeptWarnings allows; the rest counted
  // in result.warnings_dropped) instead of being shown. Throws boolconv::Error for input
  // that is not valid UTF-8 (kInvalidUtf8Error) and on a ")" that closes no
  // group; result's forms are then left unchanged and its warnings hold the
  // ones given before the failure. Reusing `result` reuses its memory.
  void Convert(std::string_view utf8, Conversion& result);
  Conversion Convert(std::string_view utf8);

  // Converts `input` into `operator_form` and `sign_form`; warnings go to the
  // calling thread's warning handler. An empty or blank input gives its
  // trimmed self in both. Throws boolconv::Error on a ")" that closes no
  // group; both outputs are then left unchanged.
  void ConvertBoolean(Text input, Text& operator_form, Text& sign_form);

  // ConvertBoolean done step by step: NormalizeBoolean, then ExpandGroups.
  // Same results and warnings, several times slower; the yardstick the
  // one-pass conversion is checked against.
  void ConvertBooleanReference(Text input, Text& operator_form, Text& sign_form);

  // Walks normalized `working_text`, converting each group innermost first,
  // then expands the converted groups: `working_text` becomes the operator
  // form, `sign_form` the sign form. Empties the group table first. Throws
  // boolconv::Error on a ")" that closes no group; both texts are then left
  // unchanged and the group table empty.
  void ExpandGroups(Text& working_text, Text& sign_form);

  // A copy of the groups converted by the last conversion, in closing order;
  // empty after a failed one.
  std::vector<GroupRow> GroupTable() const;

  struct Store;  // opaque: the converted groups and reusable work lists

 private:
  std::unique_ptr<Store> store_;
};

}  // namespace boolconv

#endif  // BOOLCONV_CONVERSION_BOOLFUNCS_H_
