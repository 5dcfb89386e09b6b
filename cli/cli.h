// The command-line front end: converts expressions given as arguments or read
// line by line from standard input, writing both renderings as text or JSON.

#ifndef BOOLCONV_CLI_CLI_H_
#define BOOLCONV_CLI_CLI_H_

#include <iosfwd>
#include <span>

namespace boolconv::cli {

// Exit statuses of the tool.
inline constexpr int kExitOk = 0;          // every expression converted
inline constexpr int kExitFailed = 1;      // an expression failed, or I/O failed
inline constexpr int kExitUsageError = 2;  // unknown option

// Runs the tool with `args` (argv without the program name), reading
// expressions from `in` when no expression argument is given. Results go to
// `out`; warnings, errors and usage messages go to `err`. With
// `flush_each_expression`, `out` is flushed after every expression, so an
// interactive user sees each result at once. Returns the exit status.
int Run(std::span<char* const> args, std::istream& in, std::ostream& out, std::ostream& err,
        bool flush_each_expression);

}  // namespace boolconv::cli

#endif  // BOOLCONV_CLI_CLI_H_
