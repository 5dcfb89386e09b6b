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
#include <vector>

#include "fuzz/fuzz_support.h"
#include "textfuncs/funclib.h"

namespace boolconv::fuzz {
namespace {

struct Arguments {
  bool pass_on = false;
  Text delimiter;
  Text opening_quote;
  Text closing_quote;
  Text text;
};

Arguments Decode(const uint8_t* data, size_t size) {
  Arguments args;
  args.pass_on = size > 0 && (data[0] & 1) != 0;
  const size_t header = std::min<size_t>(size, 4);
  const Text units = DecodeUtf16Le(data + header, size - header);
  size_t at = 0;
  Text* fields[3] = {&args.delimiter, &args.opening_quote, &args.closing_quote};
  for (size_t i = 0; i < 3; ++i) {
    const size_t length = i + 1 < size ? data[i + 1] % 8 : 0;
    *fields[i] = units.substr(at, length);
    at = std::min(at + length, units.size());
  }
  args.text = units.substr(at);
  return args;
}

struct Call {
  int32_t thrown = 0;  // the number of the error thrown, if any
  int32_t returned = -1;
  TokenList tokens{u"<stale>", u"<stale>"};  // GetTokens must discard these
  Text closing_quote;                        // as GetTokens left it
  std::vector<Warning> warnings;
  bool failed() const { return thrown != 0 || !warnings.empty(); }
};

Call Run(const Arguments& args, bool pass_on) {
  Call call;
  call.closing_quote = args.closing_quote;
  call.thrown = RunRecorded(call.warnings, [&] {
    call.returned = GetTokens(args.text, args.delimiter, call.tokens, args.opening_quote, pass_on,
                              call.closing_quote);
  });
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

void Check(const Arguments& args, bool pass_on, const Call& call) {
  const Text context = u"text \"" + args.text + u"\", delimiter \"" + args.delimiter +
                       u"\", quotes \"" + args.opening_quote + u"\" \"" + args.closing_quote +
                       (pass_on ? u"\", passed on" : u"\", shown");
  const bool quoting = !IsBlank(args.opening_quote);
  // A blank opening quote turns quoting off, closing quote included.
  FUZZ_CHECK(quoting ? call.closing_quote == args.closing_quote : IsBlank(call.closing_quote),
             context);

  // Every error is error 5: rethrown, or shown once and answered with 0.
  if (call.thrown != 0) {
    FUZZ_CHECK(pass_on && call.thrown == kInvalidCallError && call.warnings.empty(), context);
  } else if (!call.warnings.empty()) {
    FUZZ_CHECK(!pass_on && call.warnings.size() == 1 && call.returned == 0, context);
    const Text prompt = Text(u"(GetTokens) Error: ") + kInvalidCallDescription + u"\r\nLine: " +
                        Framed(args.text, args.delimiter);
    FUZZ_CHECK(call.warnings[0] == (Warning{kAppName, prompt, kWarningStyle}), context);
  }
  // An empty delimiter always fails; without quotes nothing can stay open.
  if (args.delimiter.empty() || !quoting) {
    FUZZ_CHECK(call.failed() == args.delimiter.empty(), context);
  }
  if (call.failed()) return;

  FUZZ_CHECK(call.returned == static_cast<int32_t>(call.tokens.size()), context);
  // Each item holds its quotes balanced: an even number of opening quotes,
  // or with a (non-blank) closing quote, as many closing as opening ones.
  for (const Text& token : call.tokens) {
    const int32_t opened = CountOccurrences(token, args.opening_quote);
    FUZZ_CHECK(!quoting || (IsBlank(args.closing_quote)
                                ? opened % 2 == 0
                                : opened == CountOccurrences(token, args.closing_quote)),
               context);
  }
  // Nothing is lost or invented: the items, each behind a delimiter and the
  // last also followed by one, give back the framed text. With a delimiter
  // that can overlap itself ("::" in "a:::") a text ending in it may still
  // get a closing one and come back whole (seeds bordered_delimiter*).
  Text rebuilt = args.delimiter;
  for (const Text& token : call.tokens) rebuilt += token + args.delimiter;
  FUZZ_CHECK(rebuilt == Framed(args.text, args.delimiter), context);
}

}  // namespace
}  // namespace boolconv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace boolconv::fuzz;
  if (size > kMaxInputBytes) return 0;
  const Arguments args = Decode(data, size);
  const Call call = Run(args, args.pass_on);
  Check(args, args.pass_on, call);
  // The flag only chooses how an error is reported: the other setting must
  // fail on the same input and store the same items.
  const Call other = Run(args, !args.pass_on);
  Check(args, !args.pass_on, other);
  FUZZ_CHECK(other.failed() == call.failed() && other.tokens == call.tokens,
             u"pass_on changes the outcome for \"" + args.text + u"\"");
  return 0;
}
