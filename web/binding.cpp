// The page's binding to the engine: one JavaScript function,
// convert(expression, options), that converts an expression exactly as
// boolconv-cli does and returns a plain object shaped like one line of
// `boolconv-cli --json`.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <iterator>
#include <limits>
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
// writes, with "warnings_dropped" where more warnings came than are kept.
// `options` may hold tidy (convert the tidied expression and list the
// repairs, as --tidy does), check (list Check's diagnostics, as --check does)
// and maxDiagnostics; with tidy or check the object holds "diagnostics", at
// most maxDiagnostics of them, and "diagnosticCount", how many there are. A
// pasted document can draw tens of thousands, and each one built costs more
// than finding it. Never throws.
val Convert(const std::u16string& expression, const val& options) {
  const bool tidy = options["tidy"].isTrue();
  const bool check = options["check"].isTrue();
  const size_t max_diagnostics = options["maxDiagnostics"].isNumber()
                                     ? options["maxDiagnostics"].as<size_t>()
                                     : std::numeric_limits<size_t>::max();
  val result = val::object();
  std::vector<Diagnostic> diagnostics;
  Conversion conversion;
  try {
    Text input(expression);
    // As boolconv-cli does: Check's findings in the tidied text are moved to
    // their place in the expression, where the repairs point too.
    TidyResult tidied;
    if (tidy) {
      tidied = Tidy(input);
      input = tidied.expression;
      diagnostics = std::move(tidied.repairs);
    }
    if (check) {
      std::vector<Diagnostic> found = Check(input);
      tidied.MapToInput(found);
      diagnostics.insert(diagnostics.end(), std::make_move_iterator(found.begin()),
                         std::make_move_iterator(found.end()));
      std::stable_sort(diagnostics.begin(), diagnostics.end(),
                       [](const Diagnostic& a, const Diagnostic& b) {
                         return a.start < b.start || (a.start == b.start && a.end < b.end);
                       });
    }
    // Through UTF-8, as the tool converts: an unpaired surrogate becomes
    // U+FFFD in the page too, and the warnings are kept within the same
    // budget.
    Engine().Convert(ToUtf8(input), conversion);
    result.set("operator", std::move(conversion.operator_form));
    result.set("sign", std::move(conversion.sign_form));
  } catch (const std::exception& e) {
    // The engine's error, or memory running out on a huge paste: either way
    // this expression fails and the page lives on.
    std::string error = e.what();
    result.set("error", error.empty() ? std::string("Unknown error.") : std::move(error));
  }
  result.set("warnings", StringArray(conversion.warnings));
  if (conversion.warnings_dropped > 0) result.set("warnings_dropped", conversion.warnings_dropped);
  if (tidy || check) {
    result.set("diagnosticCount", diagnostics.size());
    if (diagnostics.size() > max_diagnostics) diagnostics.resize(max_diagnostics);
    result.set("diagnostics", DiagnosticArray(diagnostics));
  }
  return result;
}

}  // namespace

EMSCRIPTEN_BINDINGS(boolconv) { emscripten::function("convert", &Convert); }

}  // namespace boolconv::web
