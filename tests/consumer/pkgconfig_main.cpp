// Built by pkgconfig_check.cmake with the compiler alone and the flags of
// `pkg-config --cflags --libs boolconv`; prints one conversion and the
// findings of one check. It calls the engine and the diagnostics library but
// no text function itself: both libraries call those, so a link line that
// names the text functions before either library fails to link.

#include <cstdio>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"

int main() {
  boolconv::BoolFuncs engine;
  const boolconv::Conversion result = engine.Convert("a b or c");
  std::printf("%s\n%s\n", result.operator_form.c_str(), result.sign_form.c_str());
  const std::vector<boolconv::Diagnostic> found = boolconv::Check(u"NOT animals");
  for (const boolconv::Diagnostic& d : found) {
    std::printf("%s %zu-%zu\n", d.code.c_str(), d.start, d.end);
  }
  return 0;
}
