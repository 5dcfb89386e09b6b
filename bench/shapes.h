// Deterministic input generators for the benchmarks: the input shapes whose
// cost we track, and short everyday expressions for the command-line tool.
//
// Every text of Shape is ASCII, so its length in characters, in UTF-16
// units (what the engine sees) and in UTF-8 bytes (what the tool reads) is
// the same number. Sizes below are in those units; those of DiagnosticShape,
// which holds other characters, in UTF-16 units.

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

// Texts that draw a diagnostic every few characters, or whose diagnostics
// once took time in the square of their size: what Check and Tidy are
// measured on beside a plain conversion.
enum class DiagnosticShape {
  kTypographicQuotes,  // “x“x“x...: one long word, every other character a quote
  kNestedMixedAndOr,   // (a or b c (a or b c (...))): every group mixes AND and OR
  kUnclosedOpens,      // (((...: no "(" is ever closed
  kTabs,               // a<tab>b a<tab>b ...: a joined pair of words every 4 characters
  kTypicalLine,        // typical one-line strategies side by side, as WriteTypicalLine
  kPastedStrategies,   // strategies pasted from a word processor: a finding every ~20
  kNestedPhrases,      // (b "a (b "a (... d" e) d" e): phrases around converted groups
  kDissolvingPhrases,  // " orx(" orx(... " and)" and): groups dissolving inside phrases
  kDatabaseSyntax,     // strategies in databases' own syntax: a finding every ~25
};

struct DiagnosticShapeInfo {
  DiagnosticShape shape;
  std::string_view name;  // benchmark name
  std::string_view description;
};

inline constexpr std::array<DiagnosticShapeInfo, 9> kDiagnosticShapes = {{
    {DiagnosticShape::kTypographicQuotes, "d1_typographic_quotes",
     "a typographic quote before every word, no spaces"},
    {DiagnosticShape::kNestedMixedAndOr, "d2_nested_mixed_and_or",
     "nested groups each mixing AND and OR"},
    {DiagnosticShape::kUnclosedOpens, "d3_unclosed_opens", "only unclosed \"(\""},
    {DiagnosticShape::kTabs, "d4_tabs", "pairs of words joined by a tab"},
    {DiagnosticShape::kTypicalLine, "d5_typical_line", "typical strategies on one line"},
    {DiagnosticShape::kPastedStrategies, "d6_pasted_strategies",
     "pasted strategies with a finding every ~20 characters"},
    {DiagnosticShape::kNestedPhrases, "d7_nested_phrases",
     "phrases around nested converted groups"},
    {DiagnosticShape::kDissolvingPhrases, "d8_dissolving_phrases",
     "nested groups dissolving inside phrases"},
    {DiagnosticShape::kDatabaseSyntax, "d9_database_syntax",
     "strategies with proximity operators, field codes, single quotes and signs"},
}};

// Builds `shape` in at most `units` UTF-16 units, as close to that as whole
// pieces of the shape allow.
Text MakeDiagnosticShape(DiagnosticShape shape, size_t units);

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
