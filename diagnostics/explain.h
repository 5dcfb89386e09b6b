// Explain: how the conversion groups an expression, and what each form
// requires of each item, read from the same reading that Check makes.
//
// Usage:
//   const boolconv::Explanation tree = boolconv::Explain(u"(asthma OR wheez*) NOT adult*");
//   std::cout << boolconv::DrawExplanation(tree, expression);
//   // all of
//   // ├─ any of: asthma, wheez*
//   // └─ none of: adult*

#ifndef BOOLCONV_DIAGNOSTICS_EXPLAIN_H_
#define BOOLCONV_DIAGNOSTICS_EXPLAIN_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "diagnostics/history.h"

namespace boolconv {

// What the sign form makes of an item: "+" (required), bare (optional: one
// of the bare items of the group is wanted) or "-" (excluded).
enum class Presence { kRequired, kOptional, kExcluded };

// "required", "optional" or "excluded".
std::string_view PresenceName(Presence presence);

struct ExplainItem {
  enum class Kind { kWord, kPhrase, kGroup };
  Kind kind;
  Presence presence;
  // The operator before the item as the operator form writes it: "AND" for
  // words written next to each other, else as typed ("or", "NOT", "and
  // not"); empty for the first item.
  std::string joined_by;
  size_t start;  // in code points of the expression, end exclusive; a group
  size_t end;    // spans its parentheses as far as they were typed
  size_t group;  // kGroup: its index in Explanation::groups
};

struct ExplainGroup {
  size_t start = 0;
  size_t end = 0;
  std::vector<ExplainItem> items;  // at least two
  // Where the group mixes explicit AND (or NOT) with OR: its operator form
  // read left to right (PubMed), with AND before OR (most databases) and
  // with OR before AND (Scopus), each fully parenthesised (words written
  // next to each other stay together as one unit). Empty for other groups,
  // and for groups of more than eight units, which are marked as differing.
  bool mixed = false;
  std::string left_to_right;
  std::string and_first;
  std::string or_first;
  bool readings_differ = false;
};

// Groups that an unclosed double quote leaves unconverted.
struct UnconvertedGroups {
  size_t quote;           // in code points
  size_t groups;          // its own and those around it that dissolve with it
  bool whole_expression;  // the outermost of them is the whole expression
};

struct Explanation {
  std::vector<ExplainGroup> groups;  // innermost first: every group after the groups it holds
  // The group around the whole expression, when it converts. A ")" that
  // closes the expression early leaves what follows outside it: groups
  // there are listed too, but not under the root.
  size_t root = 0;
  // Whether the expression as a whole converts: false for blank text, a
  // failing conversion, and an unclosed quote that leaves the whole
  // expression unconverted.
  bool converted = false;
  // Converted groups under no other and not under the root: inside an
  // expression left unconverted, or after a ")" that closes it early.
  std::vector<size_t> outside;
  std::vector<UnconvertedGroups> unconverted;
};

// Moves the spans of `explanation`, made of a text that Tidy produced
// (`tidied`) or of a history's combined expression (`history`), to their
// place in the input, as TidyResult::MapToInput and History::MapToInput
// move diagnostics. Either may be null.
void MapToInput(Explanation& explanation, const TidyResult* tidied, const History* history);

// The structure ConvertBoolean gives `expression`. Accepts any text, never
// throws anything but std::bad_alloc, and takes time and memory linear in
// its length.
Explanation Explain(std::u16string_view expression);

// The explanation as a tree drawn with box-drawing characters, one item a
// line, in plain words ("all of", "any of", "none of"), in UTF-8. Groups
// nested deeper than kMostDrawnDepth are drawn at that indentation with
// their depth written out, so that a deep nest costs lines, not
// indentation.
inline constexpr size_t kMostDrawnDepth = 16;
std::string DrawExplanation(const Explanation& explanation, std::u16string_view expression);

}  // namespace boolconv

#endif  // BOOLCONV_DIAGNOSTICS_EXPLAIN_H_
