// Fuzz target: arbitrary bytes, read as UTF-16LE text, through ConvertBoolean.
// Besides crashes and sanitizer reports it checks what must hold for every
// input; see Check.

#include <cstddef>
#include <cstdint>

#include "conversion/boolfuncs.h"
#include "fuzz/invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace boolconv::fuzz;
  if (size > kMaxInputBytes) return 0;
  const boolconv::Text input = DecodeUtf16Le(data, size);
  // One engine for the whole run: each conversion follows a different one,
  // and no result may depend on what came before.
  static boolconv::BoolFuncs engine;
  const Outcome first = Convert(engine, input);
  Check(input, first);
  FUZZ_CHECK(Convert(engine, input) == first, u"second conversion differs for \"" + input + u"\"");
  return 0;
}
