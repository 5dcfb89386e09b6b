// Internal to the diagnostics: how a converted group that mixes AND and OR
// reads under the conventions databases follow. PubMed reads left to
// right; most databases bind AND (and NOT) before OR; Scopus binds OR
// before AND. Words written next to each other stay together under all of
// them, as one unit.

#ifndef BOOLCONV_DIAGNOSTICS_READINGS_H_
#define BOOLCONV_DIAGNOSTICS_READINGS_H_

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/reading.h"

namespace boolconv::diagnostics {

// A group's operands as units (each run of words written next to each
// other is one, in parentheses when it holds several) and the operators
// written between them.
struct GroupUnits {
  static constexpr size_t kNoRun = std::numeric_limits<size_t>::max();
  std::vector<std::u16string> units;
  std::vector<OperatorKind> joins;              // between unit k and unit k + 1
  std::vector<std::u16string_view> join_texts;  // those operators as typed
  bool explicit_and = false;                    // an AND or a NOT is written
  bool explicit_or = false;
  bool runs = false;          // some unit holds several words
  bool too_long = false;      // more units than are spelled out
  size_t first_run = kNoRun;  // the first unit of several words
};

// The units of a converted group's `words` in `text`. Beyond a few units,
// or words longer than `longest` units, the units are not all built
// (`too_long`), so that the cost stays in the number of words.
GroupUnits UnitsOf(std::u16string_view text, std::span<const Word> words, size_t longest);

enum class Convention {
  kAsTyped,      // the units joined by their operators, with no parentheses added
  kLeftToRight,  // each operator applies to everything before it
  kAndFirst,     // AND and NOT bind before OR
  kOrFirst,      // OR binds before AND and NOT
};

// The group written under `convention`, every grouping in parentheses.
std::u16string ReadAs(const GroupUnits& group, Convention convention);

}  // namespace boolconv::diagnostics

#endif  // BOOLCONV_DIAGNOSTICS_READINGS_H_
