// The page's binding to the engine: one JavaScript function,
// convert(expression, options), that converts an expression exactly as
// boolconv-cli does and returns a plain object shaped like one line of
// `boolconv-cli --json`, or reads a numbered search history and converts the
// expression its lines combine into; on request with the structure the
// conversion gives the expression, as `boolconv-cli --explain --json` has it.

#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/explain.h"
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

// Appends `text` (UTF-8) to `out` as a JSON string.
void AppendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

// The "explain" object of `boolconv-cli --explain --json`: {converted, root
// (when converted), groups: [{start, end, items: [{kind, role, operator,
// start, end, group (for a group)}], readings (for a group that mixes AND
// and OR): {differ, left_to_right, and_first, or_first}}], outside: [the
// numbers of the groups that convert under no other and not under the
// root], unconverted: [{quote, groups, whole_expression}]}. Written as JSON
// text and parsed once: a deep nest has hundreds of thousands of items,
// and building each field through the binding costs far more than parsing
// it.
std::string ExplanationJson(const Explanation& explanation) {
  std::string out = "{\"converted\":";
  out += explanation.converted ? "true" : "false";
  if (explanation.converted) out += ",\"root\":" + std::to_string(explanation.root);
  out += ",\"groups\":[";
  for (size_t g = 0; g < explanation.groups.size(); ++g) {
    const ExplainGroup& group = explanation.groups[g];
    if (g > 0) out += ',';
    out += "{\"start\":" + std::to_string(group.start) + ",\"end\":" + std::to_string(group.end) +
           ",\"items\":[";
    for (size_t k = 0; k < group.items.size(); ++k) {
      const ExplainItem& item = group.items[k];
      if (k > 0) out += ',';
      out += "{\"kind\":";
      out += item.kind == ExplainItem::Kind::kGroup    ? "\"group\""
             : item.kind == ExplainItem::Kind::kPhrase ? "\"phrase\""
                                                       : "\"word\"";
      out += ",\"role\":";
      AppendJsonString(out, PresenceName(item.presence));
      out += ",\"operator\":";
      AppendJsonString(out, item.joined_by);
      out += ",\"start\":" + std::to_string(item.start) + ",\"end\":" + std::to_string(item.end);
      if (item.kind == ExplainItem::Kind::kGroup) out += ",\"group\":" + std::to_string(item.group);
      out += '}';
    }
    out += ']';
    if (group.mixed) {
      out += ",\"readings\":{\"differ\":";
      out += group.readings_differ ? "true" : "false";
      if (!group.left_to_right.empty()) {
        out += ",\"left_to_right\":";
        AppendJsonString(out, group.left_to_right);
        out += ",\"and_first\":";
        AppendJsonString(out, group.and_first);
        out += ",\"or_first\":";
        AppendJsonString(out, group.or_first);
      }
      out += '}';
    }
    out += '}';
  }
  out += "],\"outside\":[";
  for (size_t k = 0; k < explanation.outside.size(); ++k) {
    if (k > 0) out += ',';
    out += std::to_string(explanation.outside[k]);
  }
  out += "],\"unconverted\":[";
  for (size_t k = 0; k < explanation.unconverted.size(); ++k) {
    const UnconvertedGroups& lost = explanation.unconverted[k];
    if (k > 0) out += ',';
    out += "{\"quote\":" + std::to_string(lost.quote) +
           ",\"groups\":" + std::to_string(lost.groups) + ",\"whole_expression\":";
    out += lost.whole_expression ? "true}" : "false}";
  }
  out += "]}";
  return out;
}

// UTF-8 `text` as a JavaScript string, decoded by the browser: the binding's
// own passing of a std::string first looks at each byte in JavaScript,
// which for the megabytes of a deep nest's structure costs more than the
// decoding.
val JsString(const std::string& text) {
  const val bytes = val(
      emscripten::typed_memory_view(text.size(), reinterpret_cast<const uint8_t*>(text.data())));
  return val::global("TextDecoder").new_().call<val>("decode", bytes);
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
// page can offer to read it as one.
//
// With options.explain an expression that converts gets "explain"
// (ExplanationJson): the structure of the text that converted, its spans in
// code points of the text as given, across Tidy's changes and out of a
// history's combined expression. With options.explain "json" it comes as
// that object's JSON text, which a worker passes to the page far faster than
// the objects of a deep nest. Where memory runs out for it alone, the
// conversion stands without it. Never throws.
val Convert(const std::u16string& expression, const val& options) {
  const bool tidy = options["tidy"].isTrue();
  const bool check = options["check"].isTrue();
  const bool read_history = options["history"].isTrue();
  const val explain_option = options["explain"];
  const bool explain_as_json =
      explain_option.isString() && explain_option.as<std::string>() == "json";
  const bool explain = explain_option.isTrue() || explain_as_json;
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
      if (explain) {
        try {
          Explanation explanation = Explain(input);
          MapToInput(explanation, &tidied, read_history ? &history : nullptr);
          const val json = JsString(ExplanationJson(explanation));
          result.set("explain",
                     explain_as_json ? json : val::global("JSON").call<val>("parse", json));
        } catch (const std::bad_alloc&) {
          // The page says the structure is missing; the two forms stand.
        }
      }
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
