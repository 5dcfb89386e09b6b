// Fuzz target: GetTokens with fuzzed text, delimiter, quotes and pass-on flag.
//
// Input layout (see make_seeds.sh):
//   byte 0     bit 0: pass_on
//   bytes 1-3  lengths in code units (each taken modulo 8) of the delimiter,
//              the opening quote and the closing quote
//   the rest   UTF-16LE units: delimiter, opening quote, closing quote, and
//              all remaining units as the text
// Lengths beyond the units present are cut short.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "textfuncs/funclib.h"

namespace boolconv::fuzz {
namespace {

constexpr size_t kHeaderBytes = 4;
constexpr size_t kMaxFieldUnits = 8;

struct Arguments {
  bool pass_on = false;
  Text delimiter;
  Text opening_quote;
  Text closing_quote;
  Text text;
};

Arguments Decode(const uint8_t* data, size_t size) {
  Arguments args;
  size_t lengths[3] = {0, 0, 0};
  if (size > 0) args.pass_on = (data[0] & 1) != 0;
  for (size_t i = 0; i < 3; ++i) {
    if (i + 1 < size) lengths[i] = data[i + 1] % kMaxFieldUnits;
  }
  const size_t header = std::min(size, kHeaderBytes);
  const Text units = DecodeUtf16Le(data + header, size - header);
  size_t at = 0;
  Text* fields[3] = {&args.delimiter, &args.opening_quote, &args.closing_quote};
  for (size_t i = 0; i < 3; ++i) {
    const size_t length = std::min(lengths[i], units.size() - at);
    fields[i]->assign(units, at, length);
    at += length;
  }
  args.text.assign(units, at, Text::npos);
  return args;
}

struct Call {
  bool threw = false;
  int32_t error_number = 0;
  int32_t returned = -1;
  TokenList tokens;
  Text closing_quote;  // as GetTokens left it
  std::vector<Warning> warnings;

  bool failed() const { return threw || !warnings.empty(); }
};

Call Run(const Arguments& args, bool pass_on) {
  Call call;
  // Stale items that GetTokens must discard.
  call.tokens = {u"<stale>", u"<stale>"};
  call.closing_quote = args.closing_quote;
  WarningRecorder recorder;
  try {
    call.returned = GetTokens(args.text, args.delimiter, call.tokens, args.opening_quote, pass_on,
                              call.closing_quote);
  } catch (const Error& error) {
    call.threw = true;
    call.error_number = error.number();
  }
  call.warnings = recorder.warnings();
  return call;
}

// The working copy the warning shows: the text behind a delimiter, and a
// closing delimiter unless the last one found from the left, without
// overlaps, already ends it. An empty delimiter frames nothing.
Text Framed(const Text& text, const Text& delimiter) {
  Text framed = delimiter + text;
  if (delimiter.empty()) return framed;
  size_t last = 0;
  for (size_t at = framed.find(delimiter, delimiter.size()); at != Text::npos;
       at = framed.find(delimiter, at + delimiter.size())) {
    last = at;
  }
  if (last + delimiter.size() != framed.size()) framed += delimiter;
  return framed;
}

// True when no proper prefix of `delimiter` is also its suffix, so that two
// occurrences of it can never overlap.
bool Unbordered(const Text& delimiter) {
  for (size_t length = 1; length < delimiter.size(); ++length) {
    if (delimiter.compare(0, length, delimiter, delimiter.size() - length, length) == 0) {
      return false;
    }
  }
  return true;
}

std::string Describe(const Arguments& args, const Call& call) {
  std::string out = "pass_on: " + std::to_string(args.pass_on) + "\n";
  out += "delimiter:     \"" + Escape(args.delimiter) + "\"\n";
  out += "opening quote: \"" + Escape(args.opening_quote) + "\"\n";
  out += "closing quote: \"" + Escape(args.closing_quote) + "\"\n";
  out += "text:          \"" + Escape(args.text) + "\"\n";
  out += "threw: " + std::to_string(call.threw) + " (" + std::to_string(call.error_number) +
         "), warnings: " + std::to_string(call.warnings.size()) +
         ", returned: " + std::to_string(call.returned) + "\n";
  for (const Text& token : call.tokens) out += "  token \"" + Escape(token) + "\"\n";
  return out;
}

void CheckCall(const Arguments& args, bool pass_on, const Call& call) {
  const std::string context = Describe(args, call);
  const bool opening_blank = IsBlank(args.opening_quote);

  // A blank opening quote turns quoting off, closing quote included.
  if (opening_blank) {
    FUZZ_CHECK(IsBlank(call.closing_quote), context);
  } else {
    FUZZ_CHECK(call.closing_quote == args.closing_quote, context);
  }

  // Every error is error 5: rethrown, or shown once and answered with 0.
  if (call.threw) {
    FUZZ_CHECK(pass_on && call.error_number == kInvalidCallError, context);
    FUZZ_CHECK(call.warnings.empty(), context);
  } else if (!call.warnings.empty()) {
    FUZZ_CHECK(!pass_on && call.warnings.size() == 1 && call.returned == 0, context);
    const Warning& warning = call.warnings.front();
    const Text framed = Framed(args.text, args.delimiter);
    FUZZ_CHECK(warning.title == kAppName && warning.style == kWarningStyle, context);
    FUZZ_CHECK(warning.prompt ==
                   Text(u"(GetTokens) Error: ") + kInvalidCallDescription + u"\r\nLine: " + framed,
               context);
  }

  if (args.delimiter.empty()) {
    FUZZ_CHECK(call.failed(), context);
    return;
  }
  // Without quotes nothing can stay open.
  if (opening_blank) FUZZ_CHECK(!call.failed(), context);
  if (call.failed()) return;

  FUZZ_CHECK(call.returned >= 0 && static_cast<size_t>(call.returned) == call.tokens.size(),
             context);

  // Each item holds its quotes balanced: an even number of opening quotes,
  // or with a (non-blank) closing quote, as many closing as opening ones.
  const bool paired = !opening_blank && !IsBlank(args.closing_quote);
  for (const Text& token : call.tokens) {
    if (opening_blank) break;
    const size_t opened = CountOverlapping(token, args.opening_quote);
    if (paired) {
      FUZZ_CHECK(opened == CountOverlapping(token, args.closing_quote), context);
    } else {
      FUZZ_CHECK(opened % 2 == 0, context);
    }
  }

  // Nothing is lost or invented: joined by the delimiter, the items give the
  // text back, less one delimiter at its end (the frame's closing one). A
  // delimiter that can overlap itself ("::" in "a:::") may end the text
  // without being the last one found from the left; the text then gets a
  // closing delimiter of its own and comes back whole. The seeds
  // bordered_delimiter* hold such inputs.
  Text joined;
  for (size_t i = 0; i < call.tokens.size(); ++i) {
    if (i > 0) joined += args.delimiter;
    joined += call.tokens[i];
  }
  Text expected = args.text;
  if (expected.size() >= args.delimiter.size() &&
      expected.compare(expected.size() - args.delimiter.size(), Text::npos, args.delimiter) == 0) {
    expected.resize(expected.size() - args.delimiter.size());
  }
  const bool whole = !Unbordered(args.delimiter) && joined == args.text;
  FUZZ_CHECK(joined == expected || whole, context + "joined: \"" + Escape(joined) + "\"\n");
}

void FuzzGetTokens(const uint8_t* data, size_t size) {
  if (size > kMaxInputBytes) return;
  const Arguments args = Decode(data, size);
  const Call call = Run(args, args.pass_on);
  CheckCall(args, args.pass_on, call);

  // The flag only chooses how an error is reported: the other setting must
  // fail on the same input and store the same items.
  const Call other = Run(args, !args.pass_on);
  CheckCall(args, !args.pass_on, other);
  FUZZ_CHECK(other.failed() == call.failed() && other.tokens == call.tokens,
             Describe(args, call) + "with the other pass_on:\n" + Describe(args, other));
  if (!call.failed()) FUZZ_CHECK(other.returned == call.returned, Describe(args, other));
}

}  // namespace
}  // namespace boolconv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  boolconv::fuzz::FuzzGetTokens(data, size);
  return 0;
}
