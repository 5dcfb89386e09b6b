// boolconv-cli's command line: its options, usage and help texts.

#ifndef BOOLCONV_CLI_OPTIONS_H_
#define BOOLCONV_CLI_OPTIONS_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace boolconv::cli {

// The tool's name, at the start of every message it writes.
inline constexpr std::string_view kProgram = "boolconv-cli";

// The most threads --jobs may ask for.
inline constexpr unsigned kMostJobs = 256;

struct Options {
  bool json = false;
  bool check = false;  // set by --check, and by --tidy and --capitals
  bool tidy = false;   // set by --tidy, and by --capitals
  bool capitals = false;
  bool whole = false;
  bool history = false;
  bool explain = false;  // draw how each expression is grouped  // read standard input as a
                         // numbered search history
  uint64_t line = 0;     // with --history, the line to convert; 0 for the last one unused
  bool help = false;
  bool version = false;
  unsigned jobs = 1;  // threads converting lines of standard input; one per core by default
  std::vector<std::string_view> expressions;  // views into the arguments
  std::string usage_error;                    // the first usage error, if any
};

// Splits the command line (argv without the program name) into options and
// expressions. Options may appear anywhere before "--"; any other argument
// that begins with "-" (including "-" itself) is an unknown option. A usage
// error is reported in `usage_error`, never thrown.
Options ParseArguments(std::span<char* const> args);

// The usage lines, written before a usage error's hint and before the help.
std::string_view Usage();

// The help text after the usage lines.
std::string_view Help();

}  // namespace boolconv::cli

#endif  // BOOLCONV_CLI_OPTIONS_H_
