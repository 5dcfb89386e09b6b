// boolconv-cli: the command-line front end of the converter.

#include <unistd.h>

#include <iostream>
#include <span>

#include "cli/cli.h"

int main(int argc, char** argv) {
  // Independent C++ streams read and write in large blocks; untying cin stops
  // it from flushing cout before every line it reads.
  std::ios::sync_with_stdio(false);
  std::cin.tie(nullptr);
  // A person at a terminal sees each result at once; pipes and files get
  // fully buffered output.
  const bool interactive = isatty(STDOUT_FILENO) == 1;
  // argc may be 0 when a program is started with an empty argument list.
  const std::span<char* const> args =
      argc > 0 ? std::span<char* const>(argv + 1, static_cast<size_t>(argc - 1))
               : std::span<char* const>();
  return boolconv::cli::Run(args, std::cin, std::cout, std::cerr, interactive);
}
