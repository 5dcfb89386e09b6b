// Fuzz target: arbitrary bytes, read as UTF-16LE text, through ConvertBoolean
// (and ToUtf8, which front ends print the results with). Besides crashes and
// sanitizer reports it checks what must hold for every input; see
// CheckConversion.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "conversion/boolfuncs.h"
#include "fuzz/fuzz_support.h"

namespace boolconv::fuzz {
namespace {

// What the outputs hold before a conversion; a failed one must keep them.
constexpr char16_t kUnsetOperatorForm[] = u"<operator form not set>";
constexpr char16_t kUnsetSignForm[] = u"<sign form not set>";

struct Outcome {
  bool converted = false;
  int32_t error_number = 0;
  Text operator_form = kUnsetOperatorForm;
  Text sign_form = kUnsetSignForm;
  std::vector<Warning> warnings;
  bool operator==(const Outcome&) const = default;
};

Outcome Convert(BoolFuncs& engine, const Text& input) {
  Outcome outcome;
  WarningRecorder recorder;
  try {
    engine.ConvertBoolean(input, outcome.operator_form, outcome.sign_form);
    outcome.converted = true;
  } catch (const Error& error) {
    outcome.error_number = error.number();
  }
  outcome.warnings = recorder.warnings();
  return outcome;
}

bool IsWordBreak(char16_t unit) { return unit == u' ' || unit == u'(' || unit == u')'; }

// Runs of units other than space and parentheses, in order.
std::vector<Text> Words(const Text& text) {
  std::vector<Text> words;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && IsWordBreak(text[at])) ++at;
    const size_t begin = at;
    while (at < text.size() && !IsWordBreak(text[at])) ++at;
    if (at > begin) words.push_back(text.substr(begin, at - begin));
  }
  return words;
}

// The input's words that every conversion must keep: all but operator words
// (which may be collapsed into NOT or dropped at a group's end) and words of
// U+0000 only, which the engine counts as blank and may drop from a group.
std::vector<Text> KeptWords(const Text& input) {
  std::vector<Text> kept;
  for (Text& word : Words(input)) {
    if (!IsOperator(word) && !IsBlank(word)) kept.push_back(std::move(word));
  }
  return kept;
}

// True when `kept` is a subsequence of the output's words, where an output
// word stands for a kept word if it equals it or, in the sign form, is it
// with one "+" or "-" in front. The engine never reorders, splits or joins
// words: it only adds words (AND, NOT), signs and parentheses, and spaces
// next to parentheses. Earliest matching decides subsequence exactly.
bool KeepsWords(const std::vector<Text>& kept, const Text& output, bool sign) {
  const std::vector<Text> words = Words(output);
  size_t next = 0;
  for (const Text& word : words) {
    if (next == kept.size()) break;
    const Text& want = kept[next];
    const bool signed_match = sign && word.size() == want.size() + 1 &&
                              (word[0] == u'+' || word[0] == u'-') &&
                              word.compare(1, Text::npos, want) == 0;
    if (word == want || signed_match) ++next;
  }
  return next == kept.size();
}

size_t Count(const Text& text, char16_t unit) {
  size_t count = 0;
  for (const char16_t u : text) count += u == unit;
  return count;
}

// Places where an ASCII digit is directly followed by "X". Every engine
// placeholder («12X») holds exactly one. The engine adds no digit and no "X"
// of its own to the outputs, deletes none that the user typed (it drops only
// blank words and trailing operator words) and never brings two typed units
// together, so an output holds as many as the input exactly when no
// placeholder was left unexpanded. Words the user typed that look like
// placeholders count on both sides, so they do not disturb the check.
size_t DigitXPairs(const Text& text) {
  size_t pairs = 0;
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    pairs += text[i] >= u'0' && text[i] <= u'9' && text[i + 1] == u'X';
  }
  return pairs;
}

// Decodes UTF-8 into UTF-16, or returns false for any sequence that is not
// well formed: a stray or missing continuation byte, an overlong form, a
// surrogate code point or one beyond U+10FFFF.
bool DecodeUtf8(const std::string& bytes, Text& text) {
  text.clear();
  for (size_t i = 0; i < bytes.size();) {
    const uint32_t lead = static_cast<unsigned char>(bytes[i]);
    // Continuation bytes after the lead byte, and the lead byte's payload.
    const size_t extra = lead < 0x80 ? 0 : lead < 0xC0 ? 4 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
    if (extra == 4 || lead >= 0xF8) return false;  // a stray continuation or an invalid byte
    uint32_t code = lead & (extra == 0 ? 0x7Fu : 0x3Fu >> extra);
    const uint32_t smallest = extra == 0 ? 0 : extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
    if (extra >= bytes.size() - i) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const uint32_t next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    if (code >= 0x10000) {
      text.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      text.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      text.push_back(static_cast<char16_t>(code));
    }
    i += extra + 1;
  }
  return true;
}

// `text` with every surrogate that is not part of a pair replaced by U+FFFD,
// as ToUtf8 promises to write it.
Text WithoutLoneSurrogates(Text text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
    const bool low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (high || low) {
      text[i] = u'\uFFFD';
    }
  }
  return text;
}

std::string Describe(const Text& input, const Outcome& outcome) {
  std::string out = "input:         \"" + Escape(input) + "\"\n";
  if (!outcome.converted) return out + "error " + std::to_string(outcome.error_number) + "\n";
  out += "operator form: \"" + Escape(outcome.operator_form) + "\"\n";
  out += "sign form:     \"" + Escape(outcome.sign_form) + "\"\n";
  return out;
}

void CheckConversion(const Text& input, const Outcome& outcome) {
  const std::string context = Describe(input, outcome);
  for (const Warning& warning : outcome.warnings) {
    FUZZ_CHECK(warning.title == kAppName && warning.style == kWarningStyle, context);
  }

  if (!outcome.converted) {
    // The one failure the engine knows: a ")" that closes no group. Without
    // any ")" typed, normalization only appends closers, so it cannot occur.
    FUZZ_CHECK(outcome.error_number == kUnmatchedCloseError, context);
    FUZZ_CHECK(Count(input, u')') > 0, context);
    FUZZ_CHECK(outcome.operator_form == kUnsetOperatorForm, context);
    FUZZ_CHECK(outcome.sign_form == kUnsetSignForm, context);
    return;
  }

  const Text trimmed = Trim(input);
  if (IsBlank(trimmed)) {
    FUZZ_CHECK(outcome.operator_form == trimmed && outcome.sign_form == trimmed, context);
    return;
  }

  // Every group, typed or added, is written with both of its parentheses,
  // and both forms hold the same groups.
  const size_t opens = Count(outcome.operator_form, u'(');
  FUZZ_CHECK(opens == Count(outcome.operator_form, u')'), context);
  FUZZ_CHECK(opens == Count(outcome.sign_form, u'('), context);
  FUZZ_CHECK(opens == Count(outcome.sign_form, u')'), context);

  const size_t typed_pairs = DigitXPairs(input);
  FUZZ_CHECK(DigitXPairs(outcome.operator_form) == typed_pairs, context);
  FUZZ_CHECK(DigitXPairs(outcome.sign_form) == typed_pairs, context);

  const std::vector<Text> kept = KeptWords(input);
  FUZZ_CHECK(KeepsWords(kept, outcome.operator_form, /*sign=*/false), context);
  FUZZ_CHECK(KeepsWords(kept, outcome.sign_form, /*sign=*/true), context);
}

void FuzzConversion(const uint8_t* data, size_t size) {
  if (size > kMaxInputBytes) return;
  const Text input = DecodeUtf16Le(data, size);

  // Any text, even with lone surrogates, comes out as valid UTF-8 that
  // decodes back to it (lone surrogates as U+FFFD): front ends print with it.
  Text decoded;
  FUZZ_CHECK(DecodeUtf8(ToUtf8(input), decoded) && decoded == WithoutLoneSurrogates(input),
             "ToUtf8 of \"" + Escape(input) + "\" gives \"" + Escape(decoded) + "\"");

  // One engine for the whole run: each conversion follows a different one,
  // and no result may depend on what came before.
  static BoolFuncs engine;
  const Outcome first = Convert(engine, input);
  CheckConversion(input, first);
  const Outcome second = Convert(engine, input);
  FUZZ_CHECK(second == first, "second conversion differs\n" + Describe(input, first) + "then:\n" +
                                  Describe(input, second));
}

}  // namespace
}  // namespace boolconv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  boolconv::fuzz::FuzzConversion(data, size);
  return 0;
}
