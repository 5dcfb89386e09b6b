// Helpers shared by the fuzz targets: turning fuzz bytes into text,
// recording warnings, and reporting a broken invariant.

#ifndef BOOLCONV_FUZZ_FUZZ_SUPPORT_H_
#define BOOLCONV_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "textfuncs/funclib.h"

namespace boolconv::fuzz {

// Longer inputs are ignored. A few KB reach every code path; bigger ones
// only make each run slower and push libFuzzer's timeouts.
inline constexpr size_t kMaxInputBytes = 4096;

// Reads `size` bytes as UTF-16LE code units; an odd last byte is ignored.
// Every unit value can occur, U+0000 and unpaired surrogates included.
inline Text DecodeUtf16Le(const uint8_t* data, size_t size) {
  Text text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

// Printable ASCII as is, everything else as \uXXXX, so that a failure report
// shows exactly which units the input held.
inline std::string Escape(const Text& text) {
  std::string out;
  for (const char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F && unit != u'\\') {
      out += static_cast<char>(unit);
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(unit));
      out += buffer;
    }
  }
  return out;
}

// Reports a broken invariant and aborts, which libFuzzer records as a crash
// (saving the input) and which fails a replay test.
[[noreturn]] inline void Fail(const char* condition, const char* file, int line,
                              const std::string& context) {
  std::fprintf(stderr, "%s:%d: invariant failed: %s\n%s\n", file, line, condition, context.c_str());
  std::abort();
}

// Checks `condition` on every build type; `context` (a std::string) is only
// built when the check fails.
#define FUZZ_CHECK(condition, context)                                                   \
  do {                                                                                   \
    if (!(condition)) ::boolconv::fuzz::Fail(#condition, __FILE__, __LINE__, (context)); \
  } while (false)

struct Warning {
  Text title;
  Text prompt;
  int32_t style;
  bool operator==(const Warning&) const = default;
};

// Records every warning shown while it lives instead of printing it.
class WarningRecorder {
 public:
  WarningRecorder()
      : scope_([this](const Text& title, const Text& prompt, int32_t style) {
          warnings_.push_back({title, prompt, style});
        }) {}
  const std::vector<Warning>& warnings() const { return warnings_; }

 private:
  std::vector<Warning> warnings_;
  ScopedWarningHandler scope_;
};

// Counts occurrences of `sought` in `text`, overlapping ones included. Kept
// apart from the engine's own counter so that the checks do not rely on it.
inline size_t CountOverlapping(const Text& text, const Text& sought) {
  if (sought.empty() || sought.size() > text.size()) return 0;
  size_t count = 0;
  for (size_t at = 0; at + sought.size() <= text.size(); ++at) {
    if (text.compare(at, sought.size(), sought) == 0) ++count;
  }
  return count;
}

}  // namespace boolconv::fuzz

#endif  // BOOLCONV_FUZZ_FUZZ_SUPPORT_H_
