// The peer of bench/cli_bench.sh: parses each line of standard input with
// Xapian's QueryParser, as boolconv-cli converts each line, and writes the
// parsed query's description, one line per input line, so that both programs
// read the same text and write a result for each line.
//
// The parser is set up as a program would by default, with the features that
// match what boolconv reads: Boolean operators in any letter case, phrases,
// and + and - (FLAG_DEFAULT | FLAG_PHRASE | FLAG_BOOLEAN_ANY_CASE).

#include <xapian.h>

#include <cstdio>
#include <iostream>
#include <string>

int main() {
  std::ios::sync_with_stdio(false);
  std::cin.tie(nullptr);
  Xapian::QueryParser parser;
  const unsigned flags = Xapian::QueryParser::FLAG_DEFAULT | Xapian::QueryParser::FLAG_PHRASE |
                         Xapian::QueryParser::FLAG_BOOLEAN_ANY_CASE;
  std::string line;
  std::string out;
  constexpr size_t kOutputBufferBytes = size_t{1} << 20;
  unsigned long failed = 0;
  while (std::getline(std::cin, line)) {
    try {
      out += parser.parse_query(line, flags).get_description();
    } catch (const Xapian::QueryParserError&) {
      ++failed;  // counted, and an empty line written for it
    }
    out += '\n';
    if (out.size() >= kOutputBufferBytes) {
      std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
      out.clear();
    }
  }
  std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
  std::cout.flush();
  if (failed > 0) std::fprintf(stderr, "xapian_peer: %lu lines did not parse\n", failed);
  return std::cout ? 0 : 1;
}
