// Search histories: numbered lines, each a search, where later lines
// combine earlier ones by number, read as one expression.
//
// Databases export strategies as histories: Ovid ("1 exp Asthma/",
// "2. wheez*.ti,ab.", "3 or/1-2", "4 1 and (2 or 3)", with tabs before hit
// counts), PubMed, Cochrane, Embase.com and Web of Science ("#1 asthma[mh]",
// "#3 #1 AND #2", and PubMed's CSV with Search and Query columns), EBSCO
// ("S1 (MH "Asthma+")", "S3 S1 OR S2"). ReadHistory finds the lines,
// resolves the references of one line into a single expression, each
// referenced line in parentheses, and remembers where every character of
// it came from, so that findings on the expression point into the input.
//
// Usage:
//   boolconv::History history = boolconv::ReadHistory(u"1 asthma\n2 wheeze\n3 1 or 2");
//   // history.combined == u"(asthma) or (wheeze)"
//   std::vector<boolconv::Diagnostic> found = boolconv::Check(history.combined);
//   history.MapToInput(found);  // spans in the history as given

#ifndef BOOLCONV_DIAGNOSTICS_HISTORY_H_
#define BOOLCONV_DIAGNOSTICS_HISTORY_H_

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.h"
#include "textfuncs/funclib.h"

namespace boolconv {

namespace codes {
inline constexpr std::string_view kHistoryMissingLine = "history-missing-line";
inline constexpr std::string_view kHistoryCycle = "history-cycle";
inline constexpr std::string_view kHistoryUnusedLine = "history-unused-line";
inline constexpr std::string_view kHistoryCommand = "history-command";
inline constexpr std::string_view kHistoryCounts = "history-counts";
inline constexpr std::string_view kHistoryTooLarge = "history-too-large";
inline constexpr std::string_view kHistoryDetected = "history-detected";
inline constexpr std::string_view kHistoryDuplicateLine = "history-duplicate-line";
}  // namespace codes

// One numbered line of a history.
struct HistoryLine {
  uint64_t number;  // as the history numbers it
  Text expression;  // its search, continuation lines joined by a space
  size_t start;     // where the search stands in the input, in code points
  size_t end;       // (end exclusive; continuation lines included)
};

struct History {
  std::vector<HistoryLine> lines;  // in the order of the input
  size_t converted = 0;            // index in `lines` of the line combined; lines.size() when none
  // The converted line's expression, each reference to an earlier line
  // replaced by that line's combined expression in parentheses. Empty when
  // a reference fails (an error among `findings`) or there are no lines.
  Text combined;
  // For each code point of `combined`, the code point of the input it
  // comes from; a parenthesis or operator the combining adds comes from the
  // reference it replaces.
  std::vector<size_t> origins;
  // history-* findings, spans in the input, sorted.
  std::vector<Diagnostic> findings;

  // Moves the spans of `found`, diagnostics of `combined` (such as
  // Check's), to their place in the input.
  void MapToInput(std::vector<Diagnostic>& found) const;
};

// Reads `text` as a search history and combines line `line` (its number as
// the history writes it), or, when `line` is 0, the last line that no other
// line references. A reference to a line that does not exist or comes later
// (history-missing-line) or a cycle (history-cycle) is an error and leaves
// `combined` empty; a `line` that does not exist is a history-missing-line
// error at the start of the text. Lines no other line uses
// (history-unused-line), a number given to two lines (history-duplicate-line:
// references go to the first), Ovid commands with no Boolean meaning
// (history-command: "limit 4 to english language" converts line 4 without
// the limit) and dropped hit counts (history-counts) are reported. The
// combined expression may repeat a line referenced more than once; past 16
// times the input (and 1 MiB) it is refused as history-too-large, so time
// and memory stay linear in the input. Never throws anything but
// std::bad_alloc.
History ReadHistory(std::u16string_view text, uint64_t line = 0);

// Whether `text` looks like a search history: at least two lines that begin
// with a line number ("1 ", "2. ", "#3 ", "S4 ") and at least one of them
// refers to another. A plain expression written over several lines does
// not.
bool LooksLikeHistory(std::u16string_view text);

}  // namespace boolconv

#endif  // BOOLCONV_DIAGNOSTICS_HISTORY_H_
