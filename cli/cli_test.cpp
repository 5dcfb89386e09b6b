// Runs the built boolconv-cli binary as a user would: arguments, standard
// input from a file, standard output and error captured to files.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// One run of boolconv-cli: what went in and what came out.
struct Case {
  std::vector<std::string> args;
  std::string input, out, err = {};
  int exit_code = 0;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

// `text` as one single-quoted shell word.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? "'\\''"s : std::string(1, c);
  return quoted + "'";
}

// Runs boolconv-cli; standard output goes to `stdout_path` if given, else is read back.
Case RunCli(const std::vector<std::string>& args, const std::string& input = "",
            const std::string& stdout_path = "") {
  const std::string base = ::testing::TempDir() + "cli_test_" + std::to_string(getpid());
  const std::string out_path = stdout_path.empty() ? base + ".out" : stdout_path;
  std::ofstream(base + ".in", std::ios::binary) << input;
  std::string command = Quoted(BOOLCONV_CLI_PATH);
  for (const std::string& arg : args) command += " " + Quoted(arg);
  command += " <" + Quoted(base + ".in") + " >" + Quoted(out_path) + " 2>" + Quoted(base + ".err");
  const int status = std::system(command.c_str());
  Case result{args, input, stdout_path.empty() ? ReadFile(out_path) : "", ReadFile(base + ".err"),
              WIFEXITED(status) ? WEXITSTATUS(status) : -1};
  for (const char* ext : {".in", ".out", ".err"}) std::remove((base + ext).c_str());
  return result;
}

// One --json output line; the strings are given as they must appear, escaped.
std::string Json(const std::string& op, const std::string& sign, const std::string& warning = "") {
  return R"j({"operator":")j" + op + R"j(","sign":")j" + sign + R"j(","warnings":[)j" +
         (warning.empty() ? "" : '"' + warning + '"') + "]}\n";
}
std::string JsonError(const std::string& error) {
  return R"j({"error":")j" + error + "\",\"warnings\":[]}\n";
}
std::string Err(const std::string& where, const std::string& message) {
  return "boolconv-cli: " + where + ": " + message + "\n";
}

const std::string kAbOrC = "(a AND b or c)\n(+a +b c)\n";
const std::string kAb = "(a AND b)\n(+a +b)\n";
const std::string kBom = "\xEF\xBB\xBF";  // UTF-8 byte-order mark
const std::string kBomAb = "(" + kBom + "a AND b)\n(+" + kBom + "a +b)\n";
const std::string kAbOrCJson = Json("(a AND b or c)", "(+a +b c)");
constexpr char kUsage[] = "Usage: boolconv-cli [--json] [EXPRESSION ...]\n";

std::string UsageError(const std::string& option) {
  return "boolconv-cli: unknown option '" + option + "'\n" + kUsage +
         "Try 'boolconv-cli --help' for more information.\n";
}
std::string NotUtf8(int bad_byte) {
  return "Not valid UTF-8: invalid byte sequence at byte " + std::to_string(bad_byte) + ".";
}

// Invalid UTF-8 in the middle of standard input fails only its own line.
Case BadSecondLine(const std::string& bytes, int bad_byte) {
  const std::string input = "a b or c\n" + bytes + "\na b or c";
  return {{}, input, kAbOrC + kAbOrC, Err("line 2", NotUtf8(bad_byte)), 1};
}

// Every run's standard output, standard error and exit status, compared whole.
TEST(Cli, Runs) {
  const std::string unmatched =
      "A closing parenthesis \")\" has no opening parenthesis \"(\" before it.";
  const std::string quote_warning =
      "(GetTokens) Error: Invalid procedure call or argument\r\nLine:  a \"b c ";
  const std::string quote_warning_json =
      R"j((GetTokens) Error: Invalid procedure call or argument\r\nLine:  a \"b c )j";
  const std::string quoted = R"j( a \"b c )j";  // the group as typed, escaped
  const Case cases[] = {
      // Two lines per argument, or per line of standard input when there are none.
      {{"a b or c"}, "ignored\n", kAbOrC},
      {{"a b or c", "a and not b"}, "", kAbOrC + "(a NOT b)\n(+a -b)\n"},
      {{""}, "", "\n\n"},
      {{"--", "-a b"}, "", "(-a AND b)\n(+-a +b)\n"},
      {{}, "a b or c\n", kAbOrC},
      {{"--"}, "a b or c\n", kAbOrC},
      {{}, "a b or c", kAbOrC},
      {{}, "a b or c\r\n", kAbOrC},
      {{}, "a b\r", "(a AND b\r)\n(+a +b\r)\n"},  // a "\r" without "\n" is content
      {{}, "a and not b\r\na b or c", "(a NOT b)\n(+a -b)\n" + kAbOrC},
      {{}, "", ""},
      {{}, "\n", "\n\n"},
      {{}, "a b or c\n\n  \na b or c\n", kAbOrC + "\n\n\n\n" + kAbOrC},
      // A UTF-8 byte-order mark is dropped at the start of standard input only.
      {{}, kBom + "a b or c\r\na b\n", kAbOrC + kAb},
      {{"--json"},
       kBom + "a b or c\n" + kBom + "a b\n",
       kAbOrCJson + Json("(" + kBom + "a AND b)", "(+" + kBom + "a +b)")},
      {{}, kBom, ""},                       // a file holding only the mark is empty
      {{}, kBom + "\n", "\n\n"},            // an empty first line stays a line
      {{}, kBom + kBom + "a b\n", kBomAb},  // only one is dropped
      {{}, "a b\n" + kBom + "a b\n", kAb + kBomAb},
      {{kBom + "a b"}, "", kBomAb},  // arguments keep it
      // --json: one object per expression, its strings escaped.
      {{"a b or c", "--json"}, "", kAbOrCJson},
      {{"--json"}, "\n", Json("", "")},
      {{"--json"}, "\"a b\" c\n", Json(R"j((\"a b\" AND c))j", R"j((+\"a b\" +c))j")},
      {{"--json"}, "a\\b c\n", Json(R"j((a\\b AND c))j", R"j((+a\\b +c))j")},
      {{"--json"}, "a\0b\tc d\n"s, Json(R"j((a\u0000b\tc AND d))j", R"j((+a\u0000b\tc +d))j")},
      {{"--json"}, "𝄞 c\n", Json("(𝄞 AND c)", "(+𝄞 +c)")},
      // An unclosed quote is warned about and the expression still converts.
      {{"a \"b c"}, "", " a \"b c \n a \"b c \n", quote_warning + "\n"},
      {{"--json"}, "a \"b c\na b or c\n", Json(quoted, quoted, quote_warning_json) + kAbOrCJson},
      // A failed expression is reported on its own; the others convert.
      {{}, "a b or c\na)) or ((b\na b or c\n", kAbOrC + kAbOrC, Err("line 2", unmatched), 1},
      {{"a b or c", "a)) or ((b"}, "", kAbOrC, Err("argument 2", unmatched), 1},
      {{"--json"}, "\xFF\na b or c\n", JsonError(NotUtf8(1)) + kAbOrCJson, "", 1},
      {{"a b or c", "\xFF"}, "", kAbOrC, Err("argument 2", NotUtf8(1)), 1},
      BadSecondLine("\xFF", 1),                // never valid
      BadSecondLine("a \x80 b", 3),            // stray continuation byte
      BadSecondLine("ab \xC3", 4),             // truncated sequence at the end
      BadSecondLine("\xC0\xAF", 1),            // overlong "/"
      BadSecondLine("\xED\xA0\x80", 1),        // UTF-16 surrogate
      BadSecondLine("x \xF4\x90\x80\x80", 3),  // above U+10FFFF
      // Options; a usage error converts nothing.
      {{"--version"}, "", "boolconv-cli "s + BOOLCONV_VERSION + "\n"},
      {{"--bogus"}, "a b or c\n", "", UsageError("--bogus"), 2},
      {{"a b", "-a"}, "a b or c\n", "", UsageError("-a"), 2},
      {{"-"}, "a b or c\n", "", UsageError("-"), 2},
      {{"--json", "-x", "--help"}, "a b or c\n", "", UsageError("-x"), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + ::testing::PrintToString(c.input));
    const Case result = RunCli(c.args, c.input);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.exit_code, c.exit_code);
  }
}

// Help goes to standard output; a failed write there must not end in success.
TEST(Cli, StandardOutput) {
  const Case help = RunCli({"--help"}, "a b or c\n");
  EXPECT_EQ(help.out.substr(0, sizeof kUsage - 1), kUsage);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.exit_code, 0);
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const Case full = RunCli({"a b or c"}, "", "/dev/full");
  EXPECT_EQ(full.err, "boolconv-cli: cannot write to standard output\n");
  EXPECT_EQ(full.exit_code, 1);
}

}  // namespace
