// Converts «a b or c» through the installed engine and checks both forms (and
// one expression through the UTF-8 interface), and
// that an engine error reaches the caller as boolconv::Error.

#include <cstdio>
#include <string>

#include "conversion/boolfuncs.h"
#include "textfuncs/funclib.h"

namespace {

bool Check(const char* what, const boolconv::Text& got, const boolconv::Text& expected) {
  if (got == expected) return true;
  std::fprintf(stderr, "%s: got \"%s\", expected \"%s\"\n", what, boolconv::ToUtf8(got).c_str(),
               boolconv::ToUtf8(expected).c_str());
  return false;
}

}  // namespace

int main() {
  boolconv::BoolFuncs engine;
  boolconv::Text operator_form;
  boolconv::Text sign_form;
  engine.ConvertBoolean(u"a b or c", operator_form, sign_form);
  bool ok = Check("operator form", operator_form, u"(a AND b or c)");
  ok = Check("sign form", sign_form, u"(+a +b c)") && ok;
  // The UTF-8 interface, which the installed header documents first.
  const boolconv::Conversion result = engine.Convert("a and not b");
  ok = Check("UTF-8 operator form", boolconv::FromUtf8(result.operator_form), u"(a NOT b)") && ok;

  try {
    engine.ConvertBoolean(u"a)) or ((b", operator_form, sign_form);
    std::fputs("unmatched \")\": no error raised\n", stderr);
    ok = false;
  } catch (const boolconv::Error& e) {
    if (e.number() != boolconv::kUnmatchedCloseError) {
      std::fprintf(stderr, "unmatched \")\": error %d, expected %d\n", static_cast<int>(e.number()),
                   static_cast<int>(boolconv::kUnmatchedCloseError));
      ok = false;
    }
  }

  if (ok) std::puts("consumer: ok");
  return ok ? 0 : 1;
}
