// The page's binding to the engine: one JavaScript function,
// convert(expression, options), that converts an expression exactly as
// boolconv-cli does and returns a plain object shaped like one line of
// `boolconv-cli --json`, or reads a numbered search history and converts the
// expression its lines combine into.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <iterator>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/history.h"
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

// The line number of a history that options.line asks for: 0 (the line the
// reading chooses) unless it holds a whole number from 1 up. Anything else,
// a fraction, a negative number or one past what a double holds exactly,
// asks for no line rather than a wrapped one.
uint64_t RequestedLine(const val& options) {
  const val line = options["line"];
  if (!line.isNumber()) return 0;
  const double number = line.as<double>();
  constexpr double kMostExact = 9007199254740992.0;  // 2^53
  if (!(number >= 1 && number <= kMostExact) || std::floor(number) != number) return 0;
  return static_cast<uint64_t>(number);
}

// The error a history that combined into nothing reports: the first error
// among its findings, or, where it has none, that no line was found.
std::string HistoryError(const History& history) {
  const auto error = std::find_if(
      history.findings.begin(), history.findings.end(),
      [](const Diagnostic& diagnostic) { return diagnostic.severity == Severity::kError; });
  if (error != history.findings.end()) return error->message;
  return "No line begins with a line number (\"1 \", \"#1 \" or \"S1 \"): the text is not a "
         "search history. Switch off Read as a search history to convert it as it stands.";
}

// {combined, converted, lines: [{number, start, end}]}: what the page shows
// of a history and offers to pick from. `converted` is the number of the line
// combined, or of the line asked for when the history has none by that
// number; it is left out when there is no line at all.
val HistoryObject(const History& history, uint64_t requested) {
  val object = val::object();
  object.set("combined", ToUtf8(history.combined));
  val lines = val::array();
  for (const HistoryLine& line : history.lines) {
    val item = val::object();
    item.set("number", static_cast<double>(line.number));
    item.set("start", line.start);
    item.set("end", line.end);
    lines.call<void>("push", item);
  }
  object.set("lines", lines);
  if (requested != 0) {
    object.set("converted", static_cast<double>(requested));
  } else if (history.converted < history.lines.size()) {
    object.set("converted", static_cast<double>(history.lines[history.converted].number));
  }
  return object;
}

bool Blank(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\r';
  });
}

void SortByPlace(std::vector<Diagnostic>& diagnostics) {
  std::stable_sort(diagnostics.begin(), diagnostics.end(),
                   [](const Diagnostic& a, const Diagnostic& b) {
                     return a.start < b.start || (a.start == b.start && a.end < b.end);
                   });
}

// Converts `expression` and returns {operator, sign, warnings} or, when the
// conversion fails, {error, warnings}: the object `boolconv-cli --json`
// writes, with "warnings_dropped" where more warnings came than are kept.
// `options` may hold tidy (convert the tidied expression and list the
// repairs, as --tidy does), check (list Check's diagnostics, as --check does)
// and maxDiagnostics; with tidy or check the object holds "diagnostics", at
// most maxDiagnostics of them, and "diagnosticCount", how many there are. A
// pasted document can draw tens of thousands, and each one built costs more
// than finding it.
//
// With options.history the expression is read as a numbered search history
// (options.line the number of the line to convert, 0 or none for the one
// the reading chooses), and the expression that line combines is tidied,
// checked and converted as above; every diagnostic, the history's own among
// them, points into the history as given, and the object holds "history"
// (HistoryObject). A history whose line cannot be combined (a missing or
// later line referred to, say) does not convert: its findings are listed and
// "error" names the first. A blank text is the empty expression. Without it,
// "looksLikeHistory" says whether the text looks like a history, so that the
// page can offer to read it as one. Never throws.
val Convert(const std::u16string& expression, const val& options) {
  const bool tidy = options["tidy"].isTrue();
  const bool check = options["check"].isTrue();
  const bool read_history = options["history"].isTrue();
  const uint64_t line = read_history ? RequestedLine(options) : 0;
  const size_t max_diagnostics = options["maxDiagnostics"].isNumber()
                                     ? options["maxDiagnostics"].as<size_t>()
                                     : std::numeric_limits<size_t>::max();
  val result = val::object();
  std::vector<Diagnostic> diagnostics;
  Conversion conversion;
  try {
    Text input(expression);
    History history;
    bool combined = true;
    if (read_history) {
      history = ReadHistory(input, line);
      combined = !history.combined.empty() || (history.lines.empty() && Blank(input));
      input = history.combined;
      result.set("history", HistoryObject(history, line));
    }
    if (!combined) {
      result.set("error", HistoryError(history));
      diagnostics = std::move(history.findings);
    } else {
      // As boolconv-cli does: Check's findings in the tidied text are moved
      // to their place in the expression, where the repairs point too; with
      // a history, all of them on to the lines they came from, after the
      // history's own findings, and sorted once, in the tool's order.
      if (read_history) diagnostics = std::move(history.findings);
      const size_t own = diagnostics.size();
      TidyResult tidied;
      if (tidy) {
        tidied = Tidy(input);
        input = tidied.expression;
        diagnostics.insert(diagnostics.end(), std::make_move_iterator(tidied.repairs.begin()),
                           std::make_move_iterator(tidied.repairs.end()));
      }
      if (check) {
        std::vector<Diagnostic> found = Check(input);
        tidied.MapToInput(found);
        diagnostics.insert(diagnostics.end(), std::make_move_iterator(found.begin()),
                           std::make_move_iterator(found.end()));
      }
      if (read_history) {
        std::vector<Diagnostic> found(std::make_move_iterator(diagnostics.begin() + own),
                                      std::make_move_iterator(diagnostics.end()));
        diagnostics.resize(own);
        // An empty span at the very start has no code point before it to
        // end after: it is given the first code point, as the mapping gives
        // any other empty span the code point it stands before.
        for (Diagnostic& diagnostic : found) {
          if (diagnostic.end == 0) diagnostic.end = 1;
        }
        history.MapToInput(found);
        diagnostics.insert(diagnostics.end(), std::make_move_iterator(found.begin()),
                           std::make_move_iterator(found.end()));
      }
      if (check || read_history) SortByPlace(diagnostics);
      // Through UTF-8, as the tool converts: an unpaired surrogate becomes
      // U+FFFD in the page too, and the warnings are kept within the same
      // budget.
      Engine().Convert(ToUtf8(input), conversion);
      result.set("operator", std::move(conversion.operator_form));
      result.set("sign", std::move(conversion.sign_form));
    }
  } catch (const std::exception& e) {
    // The engine's error, or memory running out on a huge paste: either way
    // this expression fails and the page lives on.
    std::string error = e.what();
    result.set("error", error.empty() ? std::string("Unknown error.") : std::move(error));
  }
  if (!read_history) {
    bool looks = false;
    try {
      looks = LooksLikeHistory(expression);
    } catch (const std::exception&) {
      // Out of memory: the page just offers no history reading.
    }
    result.set("looksLikeHistory", looks);
  }
  result.set("warnings", StringArray(conversion.warnings));
  if (conversion.warnings_dropped > 0) result.set("warnings_dropped", conversion.warnings_dropped);
  if (tidy || check || read_history) {
    result.set("diagnosticCount", diagnostics.size());
    if (diagnostics.size() > max_diagnostics) diagnostics.resize(max_diagnostics);
    result.set("diagnostics", DiagnosticArray(diagnostics));
  }
  return result;
}

}  // namespace

EMSCRIPTEN_BINDINGS(boolconv) { emscripten::function("convert", &Convert); }

}  // namespace boolconv::web
