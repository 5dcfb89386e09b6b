// Internal to the diagnostics: characters that look like spaces or quotes to
// a reader but not to the converter, quoting the user's text in messages,
// and positions in code points.

#ifndef BOOLCONV_DIAGNOSTICS_CHARACTERS_H_
#define BOOLCONV_DIAGNOSTICS_CHARACTERS_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/diagnostics.h"

namespace boolconv::diagnostics {

// ASCII letter case and digits, as the converter's operator words and the
// databases' codes are written.
inline bool IsAsciiDigit(char16_t unit) { return unit >= u'0' && unit <= u'9'; }
inline constexpr char16_t LowerAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit | 0x20) : unit;
}
// Whether `text` begins with, or equals, `word` (lower-case ASCII) in any
// ASCII letter case.
bool StartsWithFolded(std::u16string_view text, std::string_view word);
bool EqualsFolded(std::u16string_view text, std::string_view word);

// For each unit of `text`, and for its end, how many code points come
// before it: positions in units turned into positions in code points.
std::vector<size_t> CodePointsBefore(std::u16string_view text);

// The code point at unit `at` of `text` and how many units it takes; an
// unpaired surrogate stands for itself.
struct CodePoint {
  char32_t value;
  size_t units;
};
CodePoint CodePointAt(std::u16string_view text, size_t at);

// Whether `code_point` may be a hidden separator or a typographic quote at
// all: neither is printable ASCII, the bulk of any expression.
inline bool MayBePastedMark(char32_t code_point) { return code_point < U' ' || code_point >= 0x7F; }

// A character other than U+0020 that separates words to the eye: line
// breaks, tabs and other white space, zero-width spaces, byte-order marks.
// The converter splits words only at U+0020, so it joins words instead.
bool IsHiddenSeparatorSlow(char32_t code_point);
inline bool IsHiddenSeparator(char32_t code_point) {
  return MayBePastedMark(code_point) && IsHiddenSeparatorSlow(code_point);
}

// A double quotation mark that is not U+0022 (“ ” „ ‟ « » and the like),
// which makes no phrase.
bool IsTypographicQuoteSlow(char32_t code_point);
inline bool IsTypographicQuote(char32_t code_point) {
  return MayBePastedMark(code_point) && IsTypographicQuoteSlow(code_point);
}

// What a stretch of hidden separators is, for a message: "a line break",
// "a tab", "2 no-break spaces (U+00A0)", "3 characters that are not spaces".
std::string DescribeSeparators(std::u16string_view run);

// A stretch of hidden separators, and the text that reads as one word with
// it on either side (empty where a space or parenthesis stands).
struct HiddenRun {
  size_t start;
  size_t end;
  std::u16string_view before;
  std::u16string_view after;
};
// The run of hidden separators that begins at unit `start`.
HiddenRun HiddenRunAt(std::u16string_view text, size_t start);

// Calls on_run(const HiddenRun&) for each run of hidden separators in
// `text` and on_quote(size_t) with the place of each typographic quote, in
// the order they stand, in one look at each unit.
template <typename OnRun, typename OnQuote>
void ForEachPastedMark(std::u16string_view text, OnRun on_run, OnQuote on_quote) {
  for (size_t at = 0; at < text.size();) {
    const char16_t unit = text[at];
    if (!MayBePastedMark(unit)) {
      ++at;
    } else if (IsHiddenSeparatorSlow(unit)) {
      const HiddenRun run = HiddenRunAt(text, at);
      on_run(run);
      at = run.end;
    } else {
      if (IsTypographicQuoteSlow(unit)) on_quote(at);
      ++at;
    }
  }
}

// Appends where a run stands, for a message: ` between "a" and "b"`,
// ` after "a"`, ` before "b"` or ` between spaces`.
void AppendPlacement(std::string& out, const HiddenRun& run);

// The word around unit `at`: the stretch up to the nearest space,
// parenthesis or hidden separator on each side. WordBefore and WordAfter
// give the part of it before `at` and from `at` on.
std::u16string_view WordAround(std::u16string_view text, size_t at);
std::u16string_view WordBefore(std::u16string_view text, size_t at);
std::u16string_view WordAfter(std::u16string_view text, size_t at);

// WordAround for units asked about in ascending order: each word's bounds
// are found once, however many of the units asked about it holds, so that
// all the asking takes time linear in the text.
class WordsInOrder {
 public:
  explicit WordsInOrder(std::u16string_view text) : text_(text) {}
  std::u16string_view Around(size_t at);

 private:
  std::u16string_view text_;
  size_t start_ = 0;  // the word found last
  size_t end_ = 0;
};

// `text` quoted for a message, in UTF-8: invisible characters made visible
// ("⏎" for a line break, "<U+00A0>" for others), and text longer than
// `longest` code points cut with "…".
inline constexpr size_t kQuotedCodePoints = 40;
std::string Quote(std::u16string_view text, size_t longest = kQuotedCodePoints);
void AppendQuote(std::string& out, std::u16string_view text, size_t longest = kQuotedCodePoints);

// Appends `code_point` to `out` in UTF-8.
void AppendUtf8(std::string& out, char32_t code_point);

// Quote(text, longest) reads no more of `text` than its first
// QuotedUnits(longest) units (a code point takes at most two), so quoting
// that much of a text quotes the whole of it: a message about a long text
// needs no copy of all of it.
constexpr size_t QuotedUnits(size_t longest) { return 2 * longest + 1; }

// Adds a diagnostic whose span is in UTF-16 units for now.
void Add(std::vector<Diagnostic>& diagnostics, std::string_view code, Severity severity,
         std::string message, size_t start, size_t end);

// Sorts `diagnostics` by position and turns their UTF-16 unit offsets into
// offsets in code points of `text`.
void Finish(std::u16string_view text, std::vector<Diagnostic>& diagnostics);

}  // namespace boolconv::diagnostics

#endif  // BOOLCONV_DIAGNOSTICS_CHARACTERS_H_
