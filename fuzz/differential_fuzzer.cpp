// Fuzz target: the one-pass conversion against the step-by-step procedures.
// The bytes, read as UTF-16LE, go through ConvertBoolean and through
// ConvertBooleanReference, and, when they are valid UTF-16, encoded as UTF-8
// through Convert, once with each way of scanning text the machine runs. All must give the same
// forms, warnings, error and group table (Convert keeps the first warnings and counts the rest),
// and the reference's outcome must hold the invariants of CheckOutcome.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "conversion/boolfuncs.h"
#include "conversion/scan.h"
#include "fuzz/invariants.h"

namespace boolconv::fuzz {
namespace {

// An outcome and the group table the engine holds afterwards.
struct Full {
  Outcome outcome;
  std::vector<Text> table;      // each row's placeholder, operator form and sign form
  size_t warnings_dropped = 0;  // counted, not kept, by Convert
  bool operator==(const Full&) const = default;
};

// `full` as Convert reports it: the first prompt kept whatever its size, the
// next ones while fewer than kMostKeptWarnings are kept and their text stays
// within kMostKeptWarningBytes, and from the first one left out only counted.
Full KeptByConvert(Full full) {
  std::vector<Warning>& warnings = full.outcome.warnings;
  size_t kept = 0;
  size_t bytes = 0;
  for (; kept < warnings.size(); ++kept) {
    const size_t size = ToUtf8(std::get<1>(warnings[kept])).size();
    if (kept > 0 && (kept >= kMostKeptWarnings ||
                     size > kMostKeptWarningBytes - std::min(bytes, kMostKeptWarningBytes))) {
      break;
    }
    bytes += size;
  }
  full.warnings_dropped = warnings.size() - kept;
  warnings.resize(kept);
  return full;
}

std::vector<Text> Table(const BoolFuncs& engine) {
  std::vector<Text> table;
  for (const GroupRow& row : engine.GroupTable()) {
    table.insert(table.end(), {row.placeholder, row.operator_form, row.sign_form});
  }
  return table;
}

Full ThroughUtf8(BoolFuncs& engine, const Text& input) {
  Full full;
  Conversion result;
  full.outcome.error_number = RunRecorded(full.outcome.warnings, [&] {
    engine.Convert(ToUtf8(input), result);
    full.outcome.operator_form = FromUtf8(result.operator_form);
    full.outcome.sign_form = FromUtf8(result.sign_form);
  });
  // Convert collects its warnings instead of showing them: none may reach
  // the handler, and the collected ones stand in their place.
  FUZZ_CHECK(full.outcome.warnings.empty(), u"Convert showed a warning for \"" + input + u"\"");
  for (const std::string& prompt : result.warnings) {
    full.outcome.warnings.push_back({kAppName, FromUtf8(prompt), kWarningStyle});
  }
  full.warnings_dropped = result.warnings_dropped;
  full.table = Table(engine);
  return full;
}

bool IsValidUtf16(const Text& text) { return FromUtf8(ToUtf8(text)) == text; }

}  // namespace
}  // namespace boolconv::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace boolconv::fuzz;
  if (size > kMaxInputBytes) return 0;
  const boolconv::Text input = DecodeUtf16Le(data, size);
  static boolconv::BoolFuncs fast;
  static boolconv::BoolFuncs reference;
  Full expected;
  expected.outcome.error_number = RunRecorded(expected.outcome.warnings, [&] {
    reference.ConvertBooleanReference(input, expected.outcome.operator_form,
                                      expected.outcome.sign_form);
  });
  expected.table = Table(reference);
  CheckOutcome(input, expected.outcome);
  // Every way of scanning the text this machine has gives the same.
  const bool valid_utf16 = IsValidUtf16(input);
  for (const boolconv::fastpath::ScanPath path : boolconv::fastpath::ScanPaths()) {
    boolconv::fastpath::UseScanPath(path);
    const boolconv::Text path_name = boolconv::FromUtf8(boolconv::fastpath::ScanPathName(path));
    const Full utf16{Convert(fast, input), Table(fast)};
    FUZZ_CHECK(utf16 == expected, u"ConvertBoolean (" + path_name +
                                      u" scan) differs from the reference for \"" + input + u"\"");
    if (valid_utf16) {
      FUZZ_CHECK(
          ThroughUtf8(fast, input) == KeptByConvert(expected),
          u"Convert (" + path_name + u" scan) differs from the reference for \"" + input + u"\"");
    }
  }
  return 0;
}
