// Helpers shared by the fuzz targets: fuzz bytes as text, recorded warnings
// and invariant checks.

#ifndef BOOLCONV_FUZZ_FUZZ_SUPPORT_H_
#define BOOLCONV_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "textfuncs/funclib.h"

namespace boolconv::fuzz {

// Longer inputs are ignored: a few KB reach every code path.
inline constexpr size_t kMaxInputBytes = 4096;

// Reads `size` bytes as UTF-16LE code units; an odd last byte is ignored.
// Every unit value can occur, U+0000 and unpaired surrogates included.
inline Text DecodeUtf16Le(const uint8_t* data, size_t size) {
  Text text;
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

// Aborts on a broken invariant, which libFuzzer records as a crash (saving
// the input) and which fails a replay test. `context` is only built then.
#define FUZZ_CHECK(condition, context)                                                          \
  do {                                                                                          \
    if (!(condition)) {                                                                         \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n%s\n", __FILE__, __LINE__, #condition, \
                   ::boolconv::ToUtf8(context).c_str());                                        \
      std::abort();                                                                             \
    }                                                                                           \
  } while (false)

using Warning = std::tuple<Text, Text, int32_t>;  // title, prompt, style

// Runs `call` with every warning it shows recorded in `warnings` instead.
// Returns the number of the error it throws, or 0.
template <typename Call>
int32_t RunRecorded(std::vector<Warning>& warnings, const Call& call) {
  ScopedWarningHandler scope([&](const Text& title, const Text& prompt, int32_t style) {
    warnings.push_back({title, prompt, style});
  });
  try {
    call();
  } catch (const Error& error) {
    return error.number();
  }
  return 0;
}

}  // namespace boolconv::fuzz

#endif  // BOOLCONV_FUZZ_FUZZ_SUPPORT_H_
