// Internal to the engine: the one-pass converter behind BoolFuncs::Convert
// and BoolFuncs::ConvertBoolean. Not installed.
//
// It gives exactly what the step-by-step procedures (NormalizeBoolean, then
// ExpandGroups) give, working on the code units of the input: UTF-16 units or
// UTF-8 bytes. Every unit that steers a conversion (space, double quote,
// parentheses, U+0000 and the letters of the operator words) is ASCII, and
// no byte of a multi-byte UTF-8 sequence is, so both give the same text.
// Inputs it has no exact shortcut for are handed back to the caller, which
// converts them step by step (FastResult::kNeedsReference).

#ifndef BOOLCONV_CONVERSION_FASTPATH_H_
#define BOOLCONV_CONVERSION_FASTPATH_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace boolconv::fastpath {

template <typename Unit>
constexpr Unit LowerAscii(Unit unit) {
  return unit >= Unit('A') && unit <= Unit('Z') ? static_cast<Unit>(unit - 'A' + 'a') : unit;
}

enum class Case { kExact, kIgnore };

// Replaces every occurrence of ASCII `from` in `text` by ASCII `to`, left to
// right: the search resumes after each match and never looks at inserted
// text. `to` is no longer than `from`, so the text is rewritten in place.
// With Case::kIgnore, `from` is lower-case and ASCII letters of `text` fold.
// Returns whether anything was replaced.
template <Case kLetterCase = Case::kExact, typename Unit>
bool ReplaceAll(std::basic_string<Unit>& text, std::string_view from, std::string_view to) {
  auto fold = [](Unit unit) { return kLetterCase == Case::kIgnore ? LowerAscii(unit) : unit; };
  auto same = [](Unit unit, char ascii) { return unit == static_cast<Unit>(ascii); };
  Unit* const data = text.data();
  const size_t size = text.size();
  size_t write = 0;  // the rewritten text so far is [0, write)
  size_t kept = 0;   // [kept, scan) is unchanged text still to be moved down
  auto move_kept = [&](size_t until) {
    if (write != kept) std::char_traits<Unit>::move(data + write, data + kept, until - kept);
    write += until - kept;
  };
  for (size_t scan = 0; scan + from.size() <= size;) {
    if (!same(fold(data[scan]), from[0])) {
      ++scan;
      continue;
    }
    size_t matched = 1;
    while (matched < from.size() && same(fold(data[scan + matched]), from[matched])) ++matched;
    if (matched < from.size()) {
      ++scan;
      continue;
    }
    move_kept(scan);
    for (const char ascii : to) data[write++] = static_cast<Unit>(ascii);
    scan += from.size();
    kept = scan;
  }
  if (kept == 0) return false;  // nothing replaced: the text is as it was
  move_kept(size);
  text.resize(write);
  return true;
}

// What the tokenizer's warning says before the text it quotes, and the
// space that frames the text.
inline constexpr char kTokenizerPrompt[] =
    "(GetTokens) Error: Invalid procedure call or argument\r\nLine:  ";

enum class FastResult {
  kConverted,       // the forms are written; the warnings are in `prompts`
  kNeedsReference,  // nothing usable was written: convert step by step
  kUnmatchedClose,  // a ")" closes no group; `prompts` holds the warnings given before it
};

template <typename Unit>
class FastConverter {
 public:
  using String = std::basic_string<Unit>;
  using View = std::basic_string_view<Unit>;

  // Converts `input` into `operator_form` and `sign_form` (both replaced) and
  // sets `prompts` to the prompts of the tokenizer warnings the conversion
  // gives, in order. Their title is always kAppName, their style kWarningStyle.
  FastResult Convert(View input, String& operator_form, String& sign_form,
                     std::vector<String>& prompts);

  // The normalized text of the last input Convert took, as NormalizeBoolean
  // gives it; valid after kConverted and kUnmatchedClose.
  View normal() const { return View(normal_.data(), normal_size_); }

  // Offsets into the normalized text and the forms. 32 bits keep a frame
  // small for deep nesting; longer texts are converted step by step.
  using Offset = uint32_t;

  // One open group of the walk. Positions are offsets into the normalized
  // text (`n_`) or into the two forms (`op_`, `sg_`).
  struct Frame {
    Offset n_open;    // its "("
    Offset op_open;   // its "(" in the operator form
    Offset sg_open;   // its "(" in the sign form
    Offset op_token;  // where the current token's separator begins
    Offset sg_token;
    Offset n_token;      // the current token's first unit
    Offset n_token_end;  // its end, when known before its delimiter, else kNoOffset
    Offset n_first;      // the first kept token
    Offset n_first_end;
    // How many groups around this one the frame also stands for: each opened
    // right before the next, which is its first token. Their state follows
    // from this group's, so a nest «((((» takes one frame, not one a level.
    Offset fresh_outer;
    uint8_t kept;     // non-blank tokens so far, counted up to 2
    uint8_t pending;  // the operator word waiting for its operand, if any
    bool in_token;
    bool in_phrase;        // the current token holds an odd number of quotes
    bool token_filled;     // the current token holds a unit other than U+0000
    bool token_group;      // the current token holds a nested group
    bool first_group;      // the first kept token holds a nested group
    bool in_outer_phrase;  // it opened inside a phrase of the enclosing group
    bool holds_converted;  // a group inside it was converted
  };

 private:
  bool Normalize(View input);
  bool NormalizeRegular(View text);
  std::optional<size_t> NormalizeTrimmed(View text, size_t prepended);
  FastResult Walk(String& operator_form, String& sign_form, std::vector<String>& prompts);

  String normal_;  // the normalized text, then padding
  size_t normal_size_ = 0;
  size_t spaces_ = 0;         // in the normalized text, or more
  size_t groups_ = 0;         // "(" in the normalized text
  std::vector<size_t> nots_;  // where the words "not" stand in it
  std::vector<Frame> frames_;
};

extern template class FastConverter<char>;
extern template class FastConverter<char16_t>;

}  // namespace boolconv::fastpath

#endif  // BOOLCONV_CONVERSION_FASTPATH_H_
