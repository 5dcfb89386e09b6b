// Deterministic input generators for the benchmarks: the input shapes whose
// cost we track, and short everyday expressions for the command-line tool.
//
// Every generated text is ASCII, so its length in characters, in UTF-16
// units (what the engine sees) and in UTF-8 bytes (what the tool reads) is
// the same number. Sizes below are in those units.

#ifndef BOOLCONV_BENCH_SHAPES_H_
#define BOOLCONV_BENCH_SHAPES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "textfuncs/funclib.h"

namespace boolconv::bench {

enum class Shape {
  kRealistic,        // ~3 KB strategies side by side
  kFlatGroup,        // (w w w ... w)
  kSideBySide,       // (a b) (c d) ...
  kNestedConverted,  // ((...((a b) c) ...) z)
  kDissolvedChain,   // (((...(a)...)))
  kLongPhrase,       // "w w w ... w"
  kUnclosedQuote,    // "w w w ... w   (never closed: the warning path)
  kSpaceAndNotRuns,  // a<spaces>b and not and not ... c
};

struct ShapeInfo {
  Shape shape;
  std::string_view name;  // file and benchmark name
  std::string_view description;
};

inline constexpr std::array<ShapeInfo, 8> kShapes = {{
    {Shape::kRealistic, "1_realistic", "realistic strategies side by side"},
    {Shape::kFlatGroup, "2_flat_group", "one flat group of many words"},
    {Shape::kSideBySide, "3_side_by_side", "many small groups side by side"},
    {Shape::kNestedConverted, "4_nested_converted", "nested converted groups"},
    {Shape::kDissolvedChain, "5_dissolved_chain", "chain of dissolved groups"},
    {Shape::kLongPhrase, "6_long_phrase", "one long quoted phrase"},
    {Shape::kUnclosedQuote, "7_unclosed_quote", "unclosed quote, then many words"},
    {Shape::kSpaceAndNotRuns, "8_space_and_not_runs", "long runs of spaces and of \"and not\""},
}};

// Builds `shape` in at most `units` characters, as close to that as whole
// pieces of the shape allow. Tiny sizes still give one smallest instance.
std::string MakeShape(Shape shape, size_t units);

// One literature-search strategy of about 3,000 characters: 60 parentheses
// nested up to 4 deep, quoted phrases, "and not", operators in mixed case.
std::string RealisticStrategy();

// `depth` groups each holding only the next one, around the single word "a".
std::string DissolvedChain(size_t depth);

// Writes `count` typical one-line strategies of about 150 characters, one
// per line, to `out`. The same count always gives the same lines.
void WriteTypicalLines(std::ostream& out, size_t count);

// Writes one line of at least `units` characters: the same strategies side
// by side.
void WriteTypicalLine(std::ostream& out, size_t units);

// Widens ASCII text to the engine's UTF-16.
Text ToText(std::string_view ascii);

}  // namespace boolconv::bench

#endif  // BOOLCONV_BENCH_SHAPES_H_
