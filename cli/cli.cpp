#include "cli/cli.h"

#include <cstdint>
#include <exception>
#include <istream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"
#include "textfuncs/funclib.h"
#include "utf8.h"

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
    "Input and output are UTF-8; a byte-order mark at the start of standard\n"
    "input is dropped.\n"
    "Exit status: 0 if every expression converted, 1 if any failed,\n"
    "2 for a usage error.\n";

// The buffer of a line longer than this is freed as soon as the line is
// decoded, so that it does not sit beside the engine's working copies while a
// huge line converts; smaller buffers are reused from line to line.
constexpr size_t kReusableBufferBytes = size_t{1} << 20;

// Some editors begin a UTF-8 file with the encoded U+FEFF; it marks the
// encoding and is not part of the first expression.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Frees the memory held by `text` (clear() alone keeps the capacity).
template <typename String>
void Release(String& text) {
  String().swap(text);
}

// Decodes UTF-8 `bytes` into `text`. Returns false, leaving `error` set, when
// `bytes` is not valid UTF-8 (stray or missing continuation bytes, overlong
// forms, surrogates, or code points above U+10FFFF).
bool DecodeUtf8(std::string_view bytes, Text& text, std::string& error) {
  const size_t invalid = utf8::find_invalid(bytes);
  if (invalid != std::string_view::npos) {
    error = "Not valid UTF-8: invalid byte sequence at byte " + std::to_string(invalid + 1) + ".";
    return false;
  }
  text.clear();
  text.reserve(bytes.size());
  utf8::unchecked::utf8to16(bytes.begin(), bytes.end(), std::back_inserter(text));
  return true;
}

// Converts expressions one at a time with one engine object and writes each
// result as soon as it is known.
class ExpressionWriter {
 public:
  ExpressionWriter(bool json, bool flush_each_expression, std::ostream& out, std::ostream& err)
      : json_(json),
        flush_each_expression_(flush_each_expression),
        out_(out),
        err_(err),
        warning_handler_([this](const Text&, const Text& prompt, int32_t) { OnWarning(prompt); }) {}

  // Converts `expression` (UTF-8; its buffer may be released) and writes the
  // result. `unit` and `number` name the expression in an error message,
  // e.g. "line" 3. Returns false when the expression failed.
  bool Convert(std::string& expression, std::string_view unit, uint64_t number) {
    warnings_.clear();
    std::string operator_form;
    std::string sign_form;
    std::string error;
    bool converted = false;
    try {
      Text input;
      if (DecodeUtf8(expression, input, error)) {
        if (expression.capacity() > kReusableBufferBytes) Release(expression);
        Text operator_text;
        Text sign_text;
        engine_.ConvertBoolean(std::move(input), operator_text, sign_text);
        operator_form = ToUtf8(operator_text);
        Release(operator_text);
        sign_form = ToUtf8(sign_text);
        converted = true;
      }
    } catch (const std::exception& e) {
      // boolconv::Error's what() is its description; anything else (such as
      // running out of memory on a huge line) fails this expression only.
      error = e.what();
      if (error.empty()) error = "Unknown error.";
    }
    if (json_) {
      WriteJson(converted, std::move(operator_form), std::move(sign_form), std::move(error));
    } else if (converted) {
      out_ << operator_form << '\n' << sign_form << '\n';
    } else {
      out_.flush();  // keep the error after the results of earlier expressions
      err_ << kProgram << ": " << unit << ' ' << number << ": " << error << '\n';
    }
    if (flush_each_expression_) out_.flush();
    return converted;
  }

 private:
  void OnWarning(const Text& prompt) {
    if (json_) {
      warnings_.push_back(ToUtf8(prompt));
    } else {
      out_.flush();
      err_ << ToUtf8(prompt) << '\n';
    }
  }

  void WriteJson(bool converted, std::string operator_form, std::string sign_form,
                 std::string error) {
    nlohmann::ordered_json object;
    if (converted) {
      object["operator"] = std::move(operator_form);
      object["sign"] = std::move(sign_form);
    } else {
      object["error"] = std::move(error);
    }
    object["warnings"] = std::move(warnings_);
    warnings_.clear();
    // Our own strings are valid UTF-8 (ToUtf8 replaces unpaired surrogates);
    // a library's exception text might not be, and must not break the line.
    out_ << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  }

  const bool json_;
  const bool flush_each_expression_;
  std::ostream& out_;
  std::ostream& err_;
  BoolFuncs engine_;
  std::vector<std::string> warnings_;  // prompts of the current expression (JSON only)
  ScopedWarningHandler warning_handler_;
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
    std::string expression;
    for (size_t i = 0; i < options.expressions.size() && out; ++i) {
      expression = options.expressions[i];
      if (!writer.Convert(expression, "argument", i + 1)) all_converted = false;
    }
  } else {
    std::string line;
    uint64_t line_number = 0;
    while (out && std::getline(in, line)) {
      ++line_number;
      // eof() is set only when the line ran to the end of input without a
      // "\n"; only a "\r" before a "\n" belongs to the line end.
      if (!in.eof() && !line.empty() && line.back() == '\r') line.pop_back();
      if (line_number == 1 && line.starts_with(kUtf8ByteOrderMark)) {
        line.erase(0, kUtf8ByteOrderMark.size());
        // Input that is a byte-order mark alone is empty input: no expression.
        if (line.empty() && in.eof()) break;
      }
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
