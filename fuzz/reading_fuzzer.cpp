// Fuzz target: the diagnostics' reading of an expression against the
// converter itself. The bytes, read as UTF-16LE, go through ConvertBoolean
// and ReadExpression: the reading must fail exactly when the conversion
// does, convert the groups of the converter's group table, in its order and
// with its forms, and dissolve as many groups for unpaired quotes as the
// tokenizer warns about (CompareWithConverter, which reading_test runs on
// generated expressions).

#include <cstddef>
#include <cstdint>

#include "conversion/boolfuncs.h"
#include "diagnostics/reading_agreement.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace boolconv;
  if (size > fuzz::kMaxInputBytes) return 0;
  const Text input = fuzz::DecodeUtf16Le(data, size);
  // One engine for the whole run, as the page and the tool reuse theirs.
  static BoolFuncs engine;
  const diagnostics::Agreement agreement = diagnostics::CompareWithConverter(engine, input);
  FUZZ_CHECK(agreement.difference.empty(), agreement.difference + u"\ninput: \"" + input + u"\"");
  return 0;
}
