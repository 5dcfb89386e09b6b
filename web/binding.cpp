// The page's binding to the engine: one JavaScript function, convert(), that
// converts an expression exactly as boolconv-cli does and returns a plain
// object shaped like one line of `boolconv-cli --json`.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "textfuncs/funclib.h"

namespace boolconv::web {
namespace {

using emscripten::val;

// JavaScript calls in one at a time, so one engine serves the page for its
// whole life, as one serves a whole run of the command-line tool.
BoolFuncs& Engine() {
  static BoolFuncs engine;
  return engine;
}

// A plain array of JavaScript strings.
val StringArray(const std::vector<std::string>& texts) {
  val array = val::array();
  for (const std::string& text : texts) array.call<void>("push", text);
  return array;
}

val DiagnosticArray(const std::vector<Diagnostic>& diagnostics) {
  val array = val::array();
  for (const Diagnostic& diagnostic : diagnostics) {
    val item = val::object();
    item.set("code", diagnostic.code);
    item.set("severity", std::string(SeverityName(diagnostic.severity)));
    item.set("message", diagnostic.message);
    item.set("start", diagnostic.start);
    item.set("end", diagnostic.end);
    array.call<void>("push", item);
  }
  return array;
}

// Converts `expression` and returns {operator, sign, warnings} or, when the
// conversion fails, {error, warnings}: the object `boolconv-cli --json`
// writes. With `tidy` the tidied expression is converted, as with --tidy, and
// the repairs lead the diagnostics; with `check` Check's diagnostics of the
// converted text join them, as with --check. Diagnostics are added as
// "diagnostics" whenever either is asked for. Never throws.
val Convert(const std::u16string& expression, bool tidy, bool check) {
  std::vector<std::string> warnings;
  const ScopedWarningHandler collect_warnings(
      [&warnings](const Text&, const Text& prompt, int32_t) {
        warnings.push_back(ToUtf8(prompt));
      });

  val result = val::object();
  std::vector<Diagnostic> diagnostics;
  try {
    Text input(expression);
    if (tidy) {
      TidyResult tidied = Tidy(input);
      input = std::move(tidied.expression);
      diagnostics = std::move(tidied.repairs);
    }
    if (check) {
      std::vector<Diagnostic> found = Check(input);
      diagnostics.insert(diagnostics.end(), found.begin(), found.end());
      std::stable_sort(diagnostics.begin(), diagnostics.end(),
                       [](const Diagnostic& a, const Diagnostic& b) {
                         return a.start != b.start ? a.start < b.start : a.end < b.end;
                       });
    }
    Text operator_form;
    Text sign_form;
    Engine().ConvertBoolean(std::move(input), operator_form, sign_form);
    // Through UTF-8, as the tool writes them: an unpaired surrogate becomes
    // U+FFFD in the page too.
    result.set("operator", ToUtf8(operator_form));
    result.set("sign", ToUtf8(sign_form));
  } catch (const std::exception& e) {
    // The engine's error, or memory running out on a huge paste: either way
    // this expression fails and the page lives on.
    std::string error = e.what();
    result.set("error", error.empty() ? std::string("Unknown error.") : std::move(error));
  }
  result.set("warnings", StringArray(warnings));
  if (tidy || check) result.set("diagnostics", DiagnosticArray(diagnostics));
  return result;
}

}  // namespace

EMSCRIPTEN_BINDINGS(boolconv) { emscripten::function("convert", &Convert); }

}  // namespace boolconv::web
