#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <thread>

namespace boolconv::cli {
namespace {

constexpr std::string_view kUsage =
    "Usage: boolconv-cli [--json] [--check] [--tidy] [--capitals] [--explain] [--whole]\n"
    "                    [--jobs=N] [EXPRESSION ...]\n"
    "       boolconv-cli --history [--line N] [--json] [--check] [--tidy] [--capitals]\n"
    "                    [--explain]\n";

constexpr std::string_view kHelp =
    "Converts Boolean search expressions into the operator form and the sign form.\n"
    "\n"
    "With EXPRESSION arguments, each argument is one expression. Without any,\n"
    "each line of standard input is one expression.\n"
    "\n"
    "For each expression the operator form is written on one line and the sign\n"
    "form on the next. A tokenizer warning goes to standard error (with --check,\n"
    "the finding of its unclosed quote goes instead); so does a failed\n"
    "expression, named by its line number (or the number of the expression\n"
    "argument), with nothing written to standard output for it.\n"
    "An unclosed quote in nested groups warns once for each group around it;\n"
    "the first 64 warnings of an expression (1 MB of text) are written, then\n"
    "how many more there were.\n"
    "\n"
    "Options:\n"
    "  --json     write one JSON object per expression and line instead:\n"
    "             {\"operator\":...,\"sign\":...,\"warnings\":[...]} or\n"
    "             {\"error\":...,\"warnings\":[...]}, with \"warnings_dropped\":N\n"
    "             after the warnings when some were left out\n"
    "  --check    also report what the conversion does to each expression\n"
    "             (an unclosed quote, a line break that joins two words, an\n"
    "             operator word read as a search word, ...): on standard error\n"
    "             as \"boolconv-cli: line L, column C: warning: MESSAGE [CODE]\",\n"
    "             or with --json as \"diagnostics\":[{\"code\",\"severity\",\n"
    "             \"message\",\"start\",\"end\"}]; the exit status is 1 when any\n"
    "             of them is a warning or an error. In text, the findings\n"
    "             replace the tokenizer's warnings, which JSON keeps\n"
    "  --tidy     before converting, turn line breaks, tabs, control and other\n"
    "             spacing characters into spaces, typographic double quotes and\n"
    "             single quotes around a phrase into \", \"+word\" into \"word\"\n"
    "             and \"term -word\" into \"term NOT word\", and report each change\n"
    "             as a diagnostic; implies --check: the findings on the tidied\n"
    "             expression are reported too, and set the exit status\n"
    "  --capitals with --tidy (which it implies), also write every and/or/not\n"
    "             that acts as an operator in capitals, except lower-case ones\n"
    "             among capitals, which may belong to a phrase\n"
    "  --whole    read all of standard input as one expression, for strategies\n"
    "             written over several lines\n"
    "  --explain  after the two forms, draw how the expression is grouped: for\n"
    "             each group, what the sign form requires (all of), offers as\n"
    "             alternatives (any of) and excludes (none of), and how databases\n"
    "             read a group that mixes AND and OR; with --json, an \"explain\"\n"
    "             object with the groups, their items and spans\n"
    "  --history  read standard input as a numbered search history (\"1 asthma\",\n"
    "             \"#2 #1 AND child*\", \"S3 S1 OR S2\", Ovid's \"or/1-2\"), combine\n"
    "             one line's references to earlier lines into one expression,\n"
    "             and print it before the two forms; findings point into the\n"
    "             history, and a missing, later or circular reference fails\n"
    "  --line N   with --history, the line to convert (default: the last line\n"
    "             that no other line uses)\n"
    "  --jobs=N   convert the lines of standard input on N threads at once\n"
    "             (default: one per core); the results keep the order of the\n"
    "             lines, and at a terminal lines convert one at a time\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "  --         end of options: later arguments are expressions, even if\n"
    "             they begin with \"-\"\n"
    "\n"
    "Input and output are UTF-8; a byte-order mark at the start of standard\n"
    "input is dropped. Diagnostic positions (\"start\", \"end\") count Unicode\n"
    "code points from 0, end exclusive.\n"
    "Exit status: 0 if every expression converted (and, with --check or --tidy,\n"
    "drew no warning or error), 1 otherwise, 2 for a usage error.\n";

// One thread per core.
unsigned DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

}  // namespace

std::string_view Usage() { return kUsage; }
std::string_view Help() { return kHelp; }

Options ParseArguments(std::span<char* const> args) {
  Options options;
  options.jobs = DefaultJobs();
  bool options_ended = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view text(args[i]);
    if (options_ended || text.empty() || text.front() != '-') {
      options.expressions.push_back(text);
    } else if (text == "--") {
      options_ended = true;
    } else if (text == "--json") {
      options.json = true;
    } else if (text == "--check") {
      options.check = true;
    } else if (text == "--tidy") {
      // What is left to fix after the repairs is reported as --check does.
      options.tidy = options.check = true;
    } else if (text == "--capitals") {
      options.tidy = options.check = options.capitals = true;
    } else if (text == "--whole") {
      options.whole = true;
    } else if (text == "--history") {
      options.history = true;
    } else if (text == "--explain") {
      options.explain = true;
    } else if (text == "--line" || text.starts_with("--line=")) {
      // "--line N" or "--line=N".
      std::string_view number;
      if (text == "--line") {
        if (i + 1 < args.size()) number = args[++i];
      } else {
        number = text.substr(std::string_view("--line=").size());
      }
      uint64_t line = 0;
      const auto [end, failure] =
          std::from_chars(number.data(), number.data() + number.size(), line);
      if (failure != std::errc() || end != number.data() + number.size() || line == 0) {
        if (options.usage_error.empty()) {
          options.usage_error =
              "--line needs the number of a line of the history, not '" + std::string(number) + "'";
        }
      } else {
        options.line = line;
      }
    } else if (text.starts_with("--jobs=")) {
      const std::string_view count = text.substr(std::string_view("--jobs=").size());
      unsigned jobs = 0;
      const auto [end, failure] = std::from_chars(count.data(), count.data() + count.size(), jobs);
      if (failure != std::errc() || end != count.data() + count.size() || jobs == 0 ||
          jobs > kMostJobs) {
        if (options.usage_error.empty()) {
          options.usage_error = "--jobs needs a number of threads from 1 to " +
                                std::to_string(kMostJobs) + ", not '" + std::string(count) + "'";
        }
      } else {
        options.jobs = jobs;
      }
    } else if (text == "--help") {
      options.help = true;
    } else if (text == "--version") {
      options.version = true;
    } else if (options.usage_error.empty()) {
      options.usage_error = "unknown option '" + std::string(text) + "'";
    }
  }
  if (options.usage_error.empty() && options.whole && !options.expressions.empty()) {
    options.usage_error = "--whole reads standard input and takes no EXPRESSION arguments";
  }
  if (options.usage_error.empty() && options.history && !options.expressions.empty()) {
    options.usage_error = "--history reads standard input and takes no EXPRESSION arguments";
  }
  if (options.usage_error.empty() && options.line != 0 && !options.history) {
    options.usage_error = "--line picks a line of a history: use it with --history";
  }
  return options;
}

}  // namespace boolconv::cli
