// Fuzz target: arbitrary bytes, read as UTF-16LE text, through ConvertBoolean,
// Check and Tidy. Besides crashes and sanitizer reports it checks what must
// hold for every input; see CheckOutcome (in invariants.h) and
// CheckDiagnostics.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/explain.h"
#include "diagnostics/history.h"
#include "fuzz/invariants.h"

namespace boolconv::fuzz {
namespace {

size_t CodePoints(const Text& text) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i, ++count) {
    i += text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
         text[i + 1] <= 0xDFFF;
  }
  return count;
}

size_t CountCode(const std::vector<Diagnostic>& diagnostics, std::string_view code) {
  return static_cast<size_t>(std::ranges::count(diagnostics, code, &Diagnostic::code));
}

// Diagnostics lie inside the text, in order; they agree with the conversion
// on its failure and its warnings; Tidy changes length only where it says,
// maps its positions back into the input in order, leaves nothing it would
// mend, and changes nothing the second time.
void CheckDiagnostics(const Text& input, const Outcome& outcome) {
  const Text context = u"input: \"" + input + u"\"";
  const std::vector<Diagnostic> found = Check(input);
  const size_t length = CodePoints(input);
  for (size_t i = 0; i < found.size(); ++i) {
    FUZZ_CHECK(found[i].start < found[i].end && found[i].end <= length, context);
    FUZZ_CHECK(i == 0 || found[i - 1].start <= found[i].start, context);
  }
  FUZZ_CHECK((CountCode(found, "unmatched-close") == 1) == (outcome.error_number != 0), context);
  // A quote the converter finds unclosed is reported, itself or as the
  // consequence of an earlier quote that misses its partner.
  if (outcome.error_number == 0 && !outcome.warnings.empty()) {
    FUZZ_CHECK(CountCode(found, "unclosed-quote") > 0, context);
  }
  const TidyResult tidied = Tidy(input, {.capitalize_operators = true});
  const ptrdiff_t longer = tidied.shifts.empty() ? 0 : tidied.shifts.back().longer;
  const size_t tidied_length = CodePoints(tidied.expression);
  FUZZ_CHECK(static_cast<ptrdiff_t>(tidied_length) == static_cast<ptrdiff_t>(length) + longer,
             context);
  size_t mapped = 0;
  for (size_t at = 0; at <= tidied_length; ++at) {
    const size_t in_input = tidied.InputPosition(at);
    FUZZ_CHECK(in_input >= mapped && in_input <= length, context);
    mapped = in_input;
  }
  const TidyResult again = Tidy(tidied.expression, {.capitalize_operators = true});
  FUZZ_CHECK(again.expression == tidied.expression && again.repairs.empty(), context);
  // Any text read as a history: every character of the combined expression
  // comes from the input, and findings on it move into the input.
  const History history = ReadHistory(input);
  FUZZ_CHECK(history.origins.size() == CodePoints(history.combined), context);
  for (const size_t origin : history.origins) FUZZ_CHECK(origin < length, context);
  std::vector<Diagnostic> on_combined = Check(history.combined);
  history.MapToInput(on_combined);
  for (const Diagnostic& d : on_combined) {
    FUZZ_CHECK(d.start < d.end && d.end <= length, context);
  }
  for (const Diagnostic& d : history.findings) {
    FUZZ_CHECK(d.start < d.end && d.end <= std::max<size_t>(length, 1), context);
  }
  // The tree of any text: spans inside it, every group after those it holds.
  const Explanation tree = Explain(input);
  FUZZ_CHECK(!tree.converted || tree.root < tree.groups.size(), context);
  for (size_t g = 0; g < tree.groups.size(); ++g) {
    for (const ExplainItem& item : tree.groups[g].items) {
      FUZZ_CHECK(item.start < item.end && item.end <= length, context);
      FUZZ_CHECK(item.kind != ExplainItem::Kind::kGroup || item.group < g, context);
    }
  }
  FUZZ_CHECK(!DrawExplanation(tree, input).empty(), context);
  const std::vector<Diagnostic> left = Check(tidied.expression);
  FUZZ_CHECK(CountCode(left, "joined-words") + CountCode(left, "typographic-quote") +
                     CountCode(left, "single-quote") ==
                 0,
             context);
}

}  // namespace
}  // namespace boolconv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace boolconv::fuzz;
  if (size > kMaxInputBytes) return 0;
  const boolconv::Text input = DecodeUtf16Le(data, size);
  // One engine for the whole run: each conversion follows a different one,
  // and no result may depend on what came before.
  static boolconv::BoolFuncs engine;
  const Outcome first = Convert(engine, input);
  CheckOutcome(input, first);
  CheckDiagnostics(input, first);
  FUZZ_CHECK(Convert(engine, input) == first, u"second conversion differs for \"" + input + u"\"");
  return 0;
}
