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
        Flush();  // keep the warning after the results of earlier expressions
        err_ << prompt << '\n';
      }
      if (converted) {
        Write(result_.operator_form);
        Write(result_.sign_form);
      } else {
        Flush();
        err_ << kProgram << ": " << unit << ' ' << number << ": " << error << '\n';
      }
    }
    if (flush_each_expression_) Flush();
    return converted;
  }

  // Hands everything written so far to the output stream and flushes it.
  void Flush() {
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
    out_.flush();
  }

 private:
  // Results are gathered in one large buffer and written in large blocks; a
  // result larger than the buffer goes out on its own, without a copy.
  static constexpr size_t kOutputBufferBytes = size_t{1} << 20;

  // Writes `text` and a line break.
  void Write(std::string_view text) {
    if (text.size() >= kOutputBufferBytes) {
      out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
      pending_.clear();
      out_.write(text.data(), static_cast<std::streamsize>(text.size()));
      out_.put('\n');
      return;
    }
    if (pending_.size() + text.size() >= kOutputBufferBytes) {
      out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
      pending_.clear();
    }
    pending_.append(text);
    pending_.push_back('\n');
  }

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
    Write(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }

  const bool json_;
  const bool flush_each_expression_;
  std::ostream& out_;
  std::ostream& err_;
  BoolFuncs engine_;
  Conversion result_;    // of the current expression; its memory serves the next one
  std::string pending_;  // results not yet handed to `out_`
};

// Reads standard input in large blocks and splits it into lines without
// copying them: a line is a view into the block, valid until the next call.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(in) {}

  // The next line, without its "\n" (and a "\r" before it); false at the
  // end of input. A last line without "\n" keeps a "\r" at its end.
  bool Next(std::string_view& line) {
    for (;;) {
      const size_t end = buffer_.find('\n', start_ + scanned_);
      if (end != std::string::npos) {
        size_t size = end - start_;
        if (size > 0 && buffer_[end - 1] == '\r') --size;
        line = std::string_view(buffer_).substr(start_, size);
        start_ = end + 1;
        scanned_ = 0;
        return true;
      }
      scanned_ = buffer_.size() - start_;
      if (!Fill()) {
        if (start_ == buffer_.size()) return false;
        line = std::string_view(buffer_).substr(start_);
        start_ = buffer_.size();
        return true;
      }
    }
  }

 private:
  static constexpr size_t kBlockBytes = size_t{1} << 20;

  // Moves the unfinished line to the front and reads a block after it.
  // False when nothing more could be read.
  bool Fill() {
    if (!in_) return false;
    buffer_.erase(0, start_);
    start_ = 0;
    const size_t kept = buffer_.size();
    buffer_.resize(kept + kBlockBytes);
    in_.read(buffer_.data() + kept, static_cast<std::streamsize>(kBlockBytes));
    buffer_.resize(kept + static_cast<size_t>(in_.gcount()));
    return buffer_.size() > kept;
  }

  std::istream& in_;
  std::string buffer_;
  size_t start_ = 0;    // where the next line begins in `buffer_`
  size_t scanned_ = 0;  // bytes of that line already searched for "\n"
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
    LineReader reader(in);
    std::string_view line;
    uint64_t line_number = 0;
    while (out && reader.Next(line)) {
      ++line_number;
      if (!writer.Convert(line, "line", line_number)) all_converted = false;
    }
    if (in.bad()) {
      writer.Flush();
      err << kProgram << ": cannot read standard input\n";
      all_converted = false;
    }
  }
  writer.Flush();
  return FinishOutput(out, err, all_converted ? kExitOk : kExitFailed);
}

}  // namespace boolconv::cli
