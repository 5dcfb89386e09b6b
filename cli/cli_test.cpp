// Runs the built boolconv-cli binary as a user would: arguments, standard
// input from a file, standard output and error captured to files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "conversion/boolfuncs.h"

extern char** environ;

namespace {

using namespace std::string_literals;

struct Result {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// Runs boolconv-cli with `args`, `input` as standard input, and standard
// output going to `stdout_path` (a temporary file, read back, when empty).
Result RunCli(const std::vector<std::string>& args, const std::string& input = "",
              std::string stdout_path = "") {
  static int run = 0;
  const std::string base =
      ::testing::TempDir() + "cli_test_" + std::to_string(getpid()) + "_" + std::to_string(++run);
  const std::string in_path = base + ".in";
  const std::string err_path = base + ".err";
  const bool capture_stdout = stdout_path.empty();
  if (capture_stdout) stdout_path = base + ".out";
  std::ofstream(in_path, std::ios::binary) << input;

  std::vector<char*> argv{const_cast<char*>(BOOLCONV_CLI_PATH)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  Result result;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0) << "cannot start " << argv[0];
  int status = 0;
  if (spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  }
  if (capture_stdout) {
    result.out = ReadFile(stdout_path);
    std::remove(stdout_path.c_str());
  }
  result.err = ReadFile(err_path);
  std::remove(err_path.c_str());
  std::remove(in_path.c_str());
  return result;
}

constexpr char kAbOrC[] = "(a AND b or c)\n(+a +b c)\n";
constexpr char kAbOrCJson[] = R"j({"operator":"(a AND b or c)","sign":"(+a +b c)","warnings":[]})j";
constexpr char kUnmatchedClose[] =
    "A closing parenthesis \")\" has no opening parenthesis \"(\" before it.";

struct TextCase {
  std::vector<std::string> args;
  std::string input;
  std::string out;
};

TEST(Conversion, ArgumentsAndLinesGiveTwoLinesEach) {
  const TextCase cases[] = {
      {{"a b or c"}, "ignored\n", kAbOrC},
      {{"a b or c", "((a b) or (c d)) e"},
       "",
       kAbOrC + "(((a AND b) or (c AND d)) AND e)\n(+((+a +b) (+c +d)) +e)\n"s},
      {{""}, "", "\n\n"},
      {{"--", "-a b"}, "", "(-a AND b)\n(+-a +b)\n"},
      {{}, "a b or c\n", kAbOrC},
      {{"--"}, "a b or c\n", kAbOrC},
      {{}, "a b or c", kAbOrC},
      {{}, "a b or c\r\n", kAbOrC},
      {{}, "a b\r", "(a AND b\r)\n(+a +b\r)\n"},  // a "\r" without "\n" is content
      {{}, "a and not b\r\na b or c", "(a NOT b)\n(+a -b)\n"s + kAbOrC},
      {{}, "", ""},
      {{}, "\n", "\n\n"},
      {{}, "a b or c\n\n  \na b or c\n", kAbOrC + "\n\n\n\n"s + kAbOrC},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + ::testing::PrintToString(c.input));
    const Result result = RunCli(c.args, c.input);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exit_code, 0);
  }
}

TEST(Json, EscapesEveryString) {
  const TextCase cases[] = {
      {{}, "a b or c\n", kAbOrCJson},
      {{},
       "\"a b\" c\n",
       R"j({"operator":"(\"a b\" AND c)","sign":"(+\"a b\" +c)","warnings":[]})j"},
      {{}, "a\\b c\n", R"j({"operator":"(a\\b AND c)","sign":"(+a\\b +c)","warnings":[]})j"},
      {{},
       "a\0b\tc d\n"s,
       R"j({"operator":"(a\u0000b\tc AND d)","sign":"(+a\u0000b\tc +d)","warnings":[]})j"},
      {{},
       "\xF0\x9D\x84\x9E c\n",
       "{\"operator\":\"(\xF0\x9D\x84\x9E AND c)\",\"sign\":\"(+\xF0\x9D\x84\x9E +c)\","
       "\"warnings\":[]}"},
      {{}, "\n", R"j({"operator":"","sign":"","warnings":[]})j"},
      {{"a b or c", "--json"}, "", kAbOrCJson},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    std::vector<std::string> args = c.args;
    if (args.empty()) args.push_back("--json");
    const Result result = RunCli(args, c.input);
    EXPECT_EQ(result.out, c.out + "\n");
    EXPECT_EQ(result.exit_code, 0);
  }
}

// An unclosed quote is warned about, and the expression still gives both
// forms exactly as the engine returns them, outer spaces included.
TEST(Warnings, UnclosedQuoteWarnsAndConverts) {
  const std::string expression = "a \"b c";
  const std::string prompt =
      "(GetTokens) Error: Invalid procedure call or argument\r\nLine:  a \"b c ";
  boolconv::Text operator_form, sign_form;
  {
    boolconv::ScopedWarningHandler quiet(
        [](const boolconv::Text&, const boolconv::Text&, int32_t) {});
    boolconv::BoolFuncs().ConvertBoolean(u"a \"b c", operator_form, sign_form);
  }
  const std::string expected_operator = boolconv::ToUtf8(operator_form);
  const std::string expected_sign = boolconv::ToUtf8(sign_form);

  const Result text = RunCli({expression});
  EXPECT_EQ(text.err, prompt + "\n");
  EXPECT_EQ(text.out, expected_operator + "\n" + expected_sign + "\n");
  EXPECT_EQ(text.exit_code, 0);

  const Result json = RunCli({"--json"}, expression + "\na b or c\n");
  const nlohmann::ordered_json warned = {{"operator", expected_operator},
                                         {"sign", expected_sign},
                                         {"warnings", nlohmann::json::array({prompt})}};
  EXPECT_EQ(json.out, warned.dump() + "\n" + kAbOrCJson + "\n");
  EXPECT_EQ(json.err, "");
  EXPECT_EQ(json.exit_code, 0);
}

// A failed expression is reported on its own; the ones around it convert as
// if it had not been there.
TEST(Errors, FailedExpressionIsReportedAndOthersConvert) {
  const Result lines = RunCli({}, "a b or c\na)) or ((b\na b or c\n");
  EXPECT_EQ(lines.out, kAbOrC + std::string(kAbOrC));
  EXPECT_EQ(lines.err, "boolconv-cli: line 2: "s + kUnmatchedClose + "\n");
  EXPECT_EQ(lines.exit_code, 1);

  const Result args = RunCli({"a b or c", "a)) or ((b"});
  EXPECT_EQ(args.out, kAbOrC);
  EXPECT_EQ(args.err, "boolconv-cli: argument 2: "s + kUnmatchedClose + "\n");
  EXPECT_EQ(args.exit_code, 1);

  const Result json = RunCli({"--json", "a)) or ((b"});
  const nlohmann::ordered_json failed = {{"error", kUnmatchedClose},
                                         {"warnings", nlohmann::json::array()}};
  EXPECT_EQ(json.out, failed.dump() + "\n");
  EXPECT_EQ(json.err, "");
  EXPECT_EQ(json.exit_code, 1);
}

TEST(Errors, InvalidUtf8FailsOnlyItsLine) {
  const struct {
    std::string bytes;
    int bad_byte;  // 1-based offset of the first invalid byte in the line
  } cases[] = {
      {"\xFF", 1},                // never valid
      {"a \x80 b", 3},            // stray continuation byte
      {"ab \xC3", 4},             // truncated sequence at the end
      {"\xC0\xAF", 1},            // overlong "/"
      {"\xED\xA0\x80", 1},        // UTF-16 surrogate
      {"x \xF4\x90\x80\x80", 3},  // above U+10FFFF
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    const std::string input = "a b or c\n" + c.bytes + "\na b or c";
    const std::string error =
        "Not valid UTF-8: invalid byte sequence at byte " + std::to_string(c.bad_byte) + ".";

    const Result text = RunCli({}, input);
    EXPECT_EQ(text.out, kAbOrC + std::string(kAbOrC));
    EXPECT_EQ(text.err, "boolconv-cli: line 2: " + error + "\n");
    EXPECT_EQ(text.exit_code, 1);
  }
  const Result json = RunCli({"--json"}, "a b or c\n\xFF\na b or c\n");
  const std::string failed =
      R"j({"error":"Not valid UTF-8: invalid byte sequence at byte 1.","warnings":[]})j";
  EXPECT_EQ(json.out, kAbOrCJson + ("\n" + failed + "\n") + kAbOrCJson + "\n");
  EXPECT_EQ(json.exit_code, 1);
  EXPECT_EQ(RunCli({"a b or c", "\xFF"}).err,
            "boolconv-cli: argument 2: Not valid UTF-8: invalid byte sequence at byte 1.\n");
}

TEST(Usage, OptionsAndUsageErrors) {
  const struct {
    std::vector<std::string> args;
    int exit_code;
    std::string out_starts_with;
    std::string err_starts_with;
  } cases[] = {
      {{"--help"}, 0, "Usage: boolconv-cli [--json] [EXPRESSION ...]\n", ""},
      {{"--version"}, 0, "boolconv-cli "s + BOOLCONV_VERSION + "\n", ""},
      {{"--bogus"}, 2, "", "boolconv-cli: unknown option '--bogus'\nUsage: "},
      {{"a b", "-a"}, 2, "", "boolconv-cli: unknown option '-a'\n"},
      {{"-"}, 2, "", "boolconv-cli: unknown option '-'\n"},
      {{"--json", "-x", "--help"}, 2, "", "boolconv-cli: unknown option '-x'\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Result result = RunCli(c.args, "a b or c\n");
    EXPECT_EQ(result.exit_code, c.exit_code);
    EXPECT_EQ(result.out.substr(0, c.out_starts_with.size()), c.out_starts_with);
    EXPECT_EQ(result.err.substr(0, c.err_starts_with.size()), c.err_starts_with);
    if (c.exit_code == 2) {
      EXPECT_EQ(result.out, "");
    }
    if (c.exit_code == 0) {
      EXPECT_EQ(result.err, "");
    }
  }
}

// Output that cannot be written must not end in success.
TEST(Errors, WriteFailureIsReported) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const Result result = RunCli({"a b or c"}, "", "/dev/full");
  EXPECT_EQ(result.err, "boolconv-cli: cannot write to standard output\n");
  EXPECT_EQ(result.exit_code, 1);
}

}  // namespace
