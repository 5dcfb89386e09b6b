#include "cli/cli.h"

#include <cstdint>
#include <exception>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"

namespace boolconv::cli {
namespace {

constexpr std::string_view kProgram = "boolconv-cli";

constexpr std::string_view kUsage = "Usage: boolconv-cli [--json] [EXPRESSION ...]\n";

constexpr std::string_view kHelp =
    "Converts Boolean search expressions into the operator form and the sign form.\n"
    "\n"
    "With EXPRESSION arguments, each argument is one expression. Without any,\n"
    "each line of standard input is one expression.\n"
    "\n"
    "For each expression the operator form is written on one line and the sign\n"
    "form on the next. A tokenizer warning goes to standard error; so does a\n"
    "failed expression, named by its line number (or the number of the\n"
    "expression argument), with nothing written to standard output for it.\n"
    "\n"
    "Options:\n"
    "  --json     write one JSON object per expression and line instead:\n"
    "             {\"operator\":...,\"sign\":...,\"warnings\":[...]} or\n"
    "             {\"error\":...,\"warnings\":[...]}\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "  --         end of options: later arguments are expressions, even if\n"
    "             they begin with \"-\"\n"
    "\n"
    "Input and output are UTF-8.\n"
    "Exit status: 0 if every expression converted, 1 if any failed,\n"
    "2 for a usage error.\n";

// Converts expressions one at a time with one engine object and writes each
// result as soon as it is known.
class ExpressionWriter {
 public:
  ExpressionWriter(bool json, bool flush_each_expression, std::ostream& out, std::ostream& err)
      : json_(json), flush_each_expression_(flush_each_expression), out_(out), err_(err) {}

  // Converts UTF-8 `expression` and writes the result. `unit` and `number`
  // name the expression in an error message, e.g. "line" 3. Returns false
  // when the expression failed.
  bool Convert(std::string_view expression, std::string_view unit, uint64_t number) {
    std::string error;
    bool converted = false;
    try {
      engine_.Convert(expression, result_);
      converted = true;
    } catch (const std::exception& e) {
      // boolconv::Error's what() is its description; anything else (such as
      // running out of memory on a huge line) fails this expression only.
      error = e.what();
      if (error.empty()) error = "Unknown error.";
    }
    if (json_) {
      WriteJson(converted, std::move(error));
    } else {
      for (const std::string& prompt : result_.warnings) {
        out_.flush();  // keep the warning after the results of earlier expressions
        err_ << prompt << '\n';
      }
      if (converted) {
        out_ << result_.operator_form << '\n' << result_.sign_form << '\n';
      } else {
        out_.flush();
        err_ << kProgram << ": " << unit << ' ' << number << ": " << error << '\n';
      }
    }
    if (flush_each_expression_) out_.flush();
    return converted;
  }

 private:
  void WriteJson(bool converted, std::string error) {
    nlohmann::ordered_json object;
    if (converted) {
      object["operator"] = result_.operator_form;
      object["sign"] = result_.sign_form;
    } else {
      object["error"] = std::move(error);
    }
    object["warnings"] = result_.warnings;
    // The engine's strings are valid UTF-8 (its input was checked); a
    // library's exception text might not be, and must not break the line.
    out_ << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  }

  const bool json_;
  const bool flush_each_expression_;
  std::ostream& out_;
  std::ostream& err_;
  BoolFuncs engine_;
  Conversion result_;  // of the current expression; its memory serves the next one
};

struct Options {
  bool json = false;
  bool help = false;
  bool version = false;
  std::vector<std::string_view> expressions;
  std::string unknown_option;  // set on a usage error
};

// Splits the command line into options and expressions. Options may appear
// anywhere before "--"; any other argument that begins with "-" (including
// "-" itself) is an unknown option.
Options ParseArguments(std::span<char* const> args) {
  Options options;
  bool options_ended = false;
  for (const char* arg : args) {
    const std::string_view text(arg);
    if (options_ended || text.empty() || text.front() != '-') {
      options.expressions.push_back(text);
    } else if (text == "--") {
      options_ended = true;
    } else if (text == "--json") {
      options.json = true;
    } else if (text == "--help") {
      options.help = true;
    } else if (text == "--version") {
      options.version = true;
    } else if (options.unknown_option.empty()) {
      options.unknown_option = text;
    }
  }
  return options;
}

// Flushes `out` and reports whether everything written to it arrived.
int FinishOutput(std::ostream& out, std::ostream& err, int status) {
  out.flush();
  if (!out) {
    err << kProgram << ": cannot write to standard output\n";
    return kExitFailed;
  }
  return status;
}

}  // namespace

int Run(std::span<char* const> args, std::istream& in, std::ostream& out, std::ostream& err,
        bool flush_each_expression) {
  Options options = ParseArguments(args);
  if (!options.unknown_option.empty()) {
    err << kProgram << ": unknown option '" << options.unknown_option << "'\n"
        << kUsage << "Try 'boolconv-cli --help' for more information.\n";
    return kExitUsageError;
  }
  if (options.help) {
    out << kUsage << kHelp;
    return FinishOutput(out, err, kExitOk);
  }
  if (options.version) {
    out << kProgram << ' ' << BOOLCONV_VERSION << '\n';
    return FinishOutput(out, err, kExitOk);
  }

  ExpressionWriter writer(options.json, flush_each_expression, out, err);
  bool all_converted = true;
  if (!options.expressions.empty()) {
    for (size_t i = 0; i < options.expressions.size() && out; ++i) {
      if (!writer.Convert(options.expressions[i], "argument", i + 1)) all_converted = false;
    }
  } else {
    std::string line;
    uint64_t line_number = 0;
    while (out && std::getline(in, line)) {
      ++line_number;
      // eof() is set only when the line ran to the end of input without a
      // "\n"; only a "\r" before a "\n" belongs to the line end.
      if (!in.eof() && !line.empty() && line.back() == '\r') line.pop_back();
      if (!writer.Convert(line, "line", line_number)) all_converted = false;
    }
    if (in.bad()) {
      out.flush();
      err << kProgram << ": cannot read standard input\n";
      all_converted = false;
    }
  }
  return FinishOutput(out, err, all_converted ? kExitOk : kExitFailed);
}

}  // namespace boolconv::cli
