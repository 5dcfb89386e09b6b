// Runs the built boolconv-cli binary as a user would: arguments, standard
// input from a file, standard output and error captured to files.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
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
constexpr char kUsage[] =
    "Usage: boolconv-cli [--json] [--check] [--tidy] [--capitals] [--explain] [--whole]\n"
    "                    [--jobs=N] [EXPRESSION ...]\n"
    "       boolconv-cli --history [--line N] [--json] [--check] [--tidy] [--capitals]\n"
    "                    [--explain]\n";

std::string UsageError(const std::string& option) {
  return "boolconv-cli: unknown option '" + option + "'\n" + kUsage +
         "Try 'boolconv-cli --help' for more information.\n";
}
const std::string kWholeWithArguments =
    "boolconv-cli: --whole reads standard input and takes no EXPRESSION arguments\n"s + kUsage +
    "Try 'boolconv-cli --help' for more information.\n";
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
      {{"--whole", "a b"}, "a b or c\n", "", kWholeWithArguments, 2},
      // --whole: all of standard input is one expression, its last line end
      // and a byte-order mark in front left out.
      {{"--whole"}, "a\nor b\n", "(a\nor AND b)\n(+a\nor +b)\n"},
      {{"--whole"}, "\xEF\xBB\xBF(a b)\r\n", " (a AND b) \n (+a +b) \n"},
      {{"--whole"}, "", ""},  // no input is no expression, as in line mode
      {{"--whole"}, "a)) or ((b\n", "", "boolconv-cli: input: " + unmatched + "\n", 1},
      // --tidy converts the tidied expression; its repairs do not fail it
      // (here they leave nothing to fix).
      {{"--tidy"},
       "(a\tb) or\u00A0c\n",
       "((a AND b) or c)\n((+a +b) c)\n",
       "boolconv-cli: line 1, column 3: info: Replaced a tab between \"a\" and \"b\" with a "
       "space. [joined-words]\n"
       "boolconv-cli: line 1, column 9: info: Replaced a no-break space (U+00A0) between \"or\" "
       "and \"c\" with a space. [joined-words]\n"},
      {{"--capitals", "--json"},
       "a or b\n",
       R"j({"operator":"(a OR b)","sign":"(a b)","warnings":[],"diagnostics":[{"code":)j"
       R"j("lowercase-operator","severity":"info","message":"Wrote the operator \"or\" in )j"
       R"j(capitals.","start":2,"end":4}]})j"
       "\n"},
      // --check: each finding on standard error, named by line and column;
      // a warning fails the expression, a note does not.
      {{"--check"},
       "a b\nasthma NOT\n",
       "(a AND b)\n(+a +b)\n(asthma)\n(+asthma)\n",
       "boolconv-cli: line 2, column 8: warning: \"NOT\" ends the expression with nothing after "
       "it to join, so it is left out of both forms. Add the term it should apply to, or remove "
       "it. [trailing-operator]\n",
       1},
      {{"--check", "--whole"},
       "a AND\nb\n",
       "(a AND AND\nb)\n(+a +AND\nb)\n",
       "boolconv-cli: line 1, column 6: warning: A line break between \"AND\" and \"b\" is not a "
       "space, so they are read as one word, \"AND⏎b\", and \"AND\" does not act as an "
       "operator. Replace it with a space. [joined-words]\n",
       1},
      {{"--check", "x\ny NOT"},
       "",
       "(x\ny)\n(+x\ny)\n",
       "boolconv-cli: argument 1, line 1, column 2: warning: A line break between \"x\" and \"y\" "
       "is not a space, so they are read as one word, \"x⏎y\". Replace it with a space. "
       "[joined-words]\n"
       "boolconv-cli: argument 1, line 2, column 3: warning: \"NOT\" ends the expression with "
       "nothing after it to join, so it is left out of both forms. Add the term it should apply "
       "to, or remove it. [trailing-operator]\n",
       1},
      {{"--check", "x OR y"}, "", "(x OR y)\n(x y)\n"},
      // lines and columns are those of the input, not of the tidied text
      {{"--tidy", "--whole"},
       "a\n\u201Cb c\u201D\n",
       "(a AND \"b c\")\n(+a +\"b c\")\n",
       "boolconv-cli: line 1, column 2: info: Replaced a line break between \"a\" and "
       "\"\u201Cb\" with a space. [joined-words]\n"
       "boolconv-cli: line 2, column 1: info: Replaced the typographic quotation mark \u201C "
       "with the straight double quote \". [typographic-quote]\n"
       "boolconv-cli: line 2, column 5: info: Replaced the typographic quotation mark \u201D "
       "with the straight double quote \". [typographic-quote]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + ::testing::PrintToString(c.input));
    const Case result = RunCli(c.args, c.input);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.exit_code, c.exit_code);
  }
}

// --check and --tidy (which implies it) in text: the repairs and the
// findings on the text that converts, in the order of their places, and
// none of the tokenizer's prompts, whose quotes the findings name; a
// warning among them fails the expression. Each line is compared by its
// place, severity and code: the wording of messages may change.
TEST(Cli, FindingsInText) {
  using Found = std::vector<std::pair<std::string, std::string>>;  // where: severity, code
  const std::string quote_unclosed = " a \"b c \n a \"b c \n";
  const struct {
    std::vector<std::string> args;
    std::string input, out;
    Found found;
    int exit_code;
  } cases[] = {
      {{"--check", "a \"b c"},
       "",
       quote_unclosed,
       {{"argument 1, column 3: warning", "unclosed-quote"}},
       1},
      {{"--check"},
       "x\na \"b c\n",
       " x \n x \n" + quote_unclosed,
       {{"line 2, column 3: warning", "unclosed-quote"}},
       1},
      // --tidy alone: the repairs, and what they leave to fix.
      {{"--tidy"},
       "(\u201Cheart failure\u201D OR cardiac failure) AND x\n",
       "((\"heart failure\" OR cardiac AND failure) AND x)\n"
       "(+(\"heart failure\" cardiac +failure) +x)\n",
       {{"line 1, column 2: info", "typographic-quote"},
        {"line 1, column 2: warning", "mixed-and-or"},
        {"line 1, column 16: info", "typographic-quote"}},
       1},
      // a quote the repair makes straight, and so unclosed
      {{"--tidy", "a \u201Cb c"},
       "",
       quote_unclosed,
       {{"argument 1, column 3: info", "typographic-quote"},
        {"argument 1, column 3: warning", "unclosed-quote"}},
       1},
      // a sign tidied into NOT lengthens the text; places stay the input's
      {{"--tidy", "asthma -child NOT"},
       "",
       "(asthma NOT child)\n(+asthma -child)\n",
       {{"argument 1, column 8: info", "sign-prefix"},
        {"argument 1, column 15: warning", "trailing-operator"}},
       1},
      {{"--capitals", "asthma not"},
       "",
       "(asthma)\n(+asthma)\n",
       {{"argument 1, column 8: warning", "trailing-operator"}},
       1},
      {{"--capitals", "(a or b) and c"},
       "",
       "((a OR b) AND c)\n(+(a b) +c)\n",
       {{"argument 1, column 4: info", "lowercase-operator"},
        {"argument 1, column 10: info", "lowercase-operator"}},
       0},
  };
  const std::regex line(R"(boolconv-cli: ([^:]*: (?:info|warning|error)): .* \[([a-z-]+)\])");
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args) + " " + ::testing::PrintToString(c.input));
    const Case result = RunCli(c.args, c.input);
    EXPECT_EQ(result.out, c.out);
    Found found;
    std::istringstream err(result.err);
    for (std::string message; std::getline(err, message);) {
      std::smatch match;
      if (std::regex_match(message, match, line)) {
        found.emplace_back(match[1], match[2]);
      } else {
        found.emplace_back(message, "");  // a prompt, or any other line, fails the test
      }
    }
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(result.exit_code, c.exit_code);
  }
  // JSON keeps the tokenizer's prompts beside the findings.
  const nlohmann::json object =
      nlohmann::json::parse(RunCli({"--tidy", "--json"}, "a \u201Cb c").out);
  EXPECT_EQ(object.at("warnings"),
            nlohmann::json::array({"(GetTokens) Error: Invalid procedure call or argument\r\n"
                                   "Line:  a \"b c "}));
  EXPECT_EQ(object.at("diagnostics").size(), 2u);
  EXPECT_EQ(object.at("diagnostics").at(1).at("code"), "unclosed-quote");
}

// --explain: the tree after the two forms; in JSON, the groups with their
// items' roles and spans in the input, across Tidy's signs and histories.
TEST(Cli, Explain) {
  const Case tree = RunCli({"--explain", "(asthma OR wheez*) NOT adult*"});
  EXPECT_EQ(tree.out,
            "((asthma OR wheez*) NOT adult*)\n(+(asthma wheez*) -adult*)\n"
            "all of\n├─ any of: asthma, wheez*\n└─ none of: adult*\n");
  EXPECT_EQ(tree.exit_code, 0);
  const nlohmann::json json = nlohmann::json::parse(
      RunCli({"--explain", "--json", "--tidy", "x -y \u201Cz\u201D OR w"}).out);
  const nlohmann::json& explain = json.at("explain");
  const nlohmann::json& root = explain.at("groups").at(explain.at("root").get<size_t>());
  // "x NOT y \"z\" OR w": y is excluded, and stands where the input has it
  ASSERT_EQ(root.at("items").size(), 4u);
  EXPECT_EQ(root.at("items").at(1).at("role"), "excluded");
  EXPECT_EQ(root.at("items").at(1).at("start"), 3);
  EXPECT_EQ(root.at("items").at(2).at("kind"), "phrase");
  EXPECT_EQ(root.at("items").at(2).at("start"), 5);
  EXPECT_EQ(root.at("readings").at("differ"), true);
  // Items whose place Tidy moved keep their words in the tree.
  const Case tidied = RunCli({"--tidy", "--explain", "--", "+a +b OR x"});
  EXPECT_NE(tidied.out.find("all of\n├─ a\n├─ b\n"), std::string::npos) << tidied.out;
  // In a history, items point at their lines.
  const nlohmann::json history = nlohmann::json::parse(
      RunCli({"--history", "--explain", "--json"}, "1 asthma\n2 wheeze\n3 1 or 2\n").out);
  const nlohmann::json& lines = history.at("explain").at("groups").at(0).at("items");
  EXPECT_EQ(lines.at(0).at("start"), 2);
  EXPECT_EQ(lines.at(1).at("start"), 11);
}

// --history: the combined expression, then the two forms; findings at
// their line and column of the history; reference mistakes fail.
TEST(Cli, History) {
  const std::string ovid = "1 asthma\n2. wheez*\n3 or/1-2\n4 child*\n5 3 and 4\n";
  const std::string unused_5 =
      "boolconv-cli: line 5, column 3: info: Line 5 is used by no other line and is not the one "
      "converted, so it is left out. [history-unused-line]\n";
  const struct {
    std::vector<std::string> args;
    std::string input, out, err;
    int exit_code;
  } cases[] = {
      {{"--history"},
       ovid,
       "((asthma) OR (wheez*)) and (child*)\n"
       "((asthma OR wheez*) and child*)\n"
       "(+(asthma wheez*) +child*)\n",
       "",
       0},
      // another line: the lines after it are left out, and said so
      {{"--history", "--line", "3"},
       ovid,
       "(asthma) OR (wheez*)\n(asthma OR wheez*)\n(asthma wheez*)\n",
       unused_5,
       0},
      {{"--history", "--line=2"}, ovid, "wheez*\n wheez* \n wheez* \n", unused_5, 0},
      {{"--history"},
       "#1 asthma[mh]\n#2 #1 AND #7\n",
       "",
       "boolconv-cli: line 2, column 11: error: Line 2 refers to line 7, which the history does "
       "not have. Correct the number, or add the line. [history-missing-line]\n"
       "boolconv-cli: input: Line 2 refers to line 7, which the history does not have. Correct "
       "the number, or add the line.\n",
       1},
      {{"--history", "--check"},
       "S1 asthma\nS2 wheez*\nS3 S1 OR S2 \u201Cx\n",
       "(asthma) OR (wheez*) \u201Cx\n(asthma OR wheez* AND \u201Cx)\n(asthma wheez* +\u201Cx)\n",
       "boolconv-cli: line 3, column 13: warning: The typographic quotation mark \u201C does not "
       "make a phrase: it stays part of the word \"\u201Cx\", and the words it encloses are "
       "searched one by one. Type the straight double quote \" instead. [typographic-quote]\n",
       1},
      {{"--history", "a"}, "", "", "", 2},
      {{"--line", "2"}, "", "", "", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Case result = RunCli(c.args, c.input);
    if (c.exit_code != 2) {
      EXPECT_EQ(result.out, c.out);
      EXPECT_EQ(result.err, c.err);
    }
    EXPECT_EQ(result.exit_code, c.exit_code);
  }
  // JSON: the lines, the line converted and the combined expression.
  const nlohmann::json object = nlohmann::json::parse(RunCli({"--history", "--json"}, ovid).out);
  EXPECT_EQ(object.at("history").at("line"), 5);
  EXPECT_EQ(object.at("history").at("lines").size(), 5u);
  EXPECT_EQ(object.at("history").at("lines").at(2).at("expression"), "or/1-2");
  EXPECT_EQ(object.at("history").at("combined"), "((asthma) OR (wheez*)) and (child*)");
  // --whole --check says that the text looks like a history.
  const Case whole = RunCli({"--whole", "--check"}, ovid);
  EXPECT_NE(whole.err.find("[history-detected]"), std::string::npos) << whole.err;
}

// `boolconv-cli --check --json` on strategies as searchers paste them: the
// code and span of every finding. Spans count code points.
TEST(Cli, CheckReportsPastedStrategies) {
  using Found = std::vector<std::tuple<std::string, size_t, size_t>>;
  const struct {
    std::string input;
    Found expected;
  } cases[] = {
      {"(asthma OR wheez*) AND\n(child* OR adolescen*) NOT\nadult*",
       {{"joined-words", 22, 23}, {"joined-words", 49, 50}}},
      {"(asthma\nOR wheez*\nOR bronchospasm)", {{"joined-words", 7, 8}, {"joined-words", 17, 18}}},
      {"a\tb c\u00A0d e\u3000f g\u200Bh",
       {{"joined-words", 1, 2},
        {"joined-words", 5, 6},
        {"joined-words", 9, 10},
        {"joined-words", 13, 14}}},
      {"(\u201Cheart failure\u201D OR \u201Ccardiac failure\u201D)",
       {{"typographic-quote", 1, 2},
        {"typographic-quote", 15, 16},
        {"typographic-quote", 20, 21},
        {"typographic-quote", 36, 37}}},
      {"(exercise[mh] OR \"Tai Ji[mh] OR qigong) AND (fall* OR balance)",
       {{"unclosed-quote", 17, 18}}},
      {"a OR b) OR c) AND d",
       {{"unbalanced-parentheses", 6, 7}, {"unbalanced-parentheses", 12, 13}}},
      {"NOT animals[mh]", {{"leading-operator", 0, 3}}},
      {"asthma NOT", {{"trailing-operator", 7, 10}}},
      {"telehealth OR telemedicine AND heart failure", {{"mixed-and-or", 0, 44}}},
      {"\"heart failure\"[MeSH Terms]", {{"spaced-bracket", 15, 27}}},
      {"(do not resuscitate OR DNR)", {{"lowercase-operator", 4, 7}}},
      {"\U0001F600 a)", {{"unbalanced-parentheses", 3, 4}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    const Case result = RunCli({"--check", "--json", "--whole"}, c.input);
    const nlohmann::json object = nlohmann::json::parse(result.out);
    Found found;
    for (const auto& d : object.at("diagnostics")) {
      found.emplace_back(d.at("code"), d.at("start"), d.at("end"));
      EXPECT_FALSE(d.at("message").get<std::string>().empty());
    }
    EXPECT_EQ(found, c.expected);
    EXPECT_EQ(result.exit_code, std::get<0>(c.expected[0]) == "lowercase-operator" ? 0 : 1);
  }
}

// Lines converted on several threads come out as they do on one: every
// result, warning, error and finding in the order of the lines, across many
// batches and a line too long for one.
TEST(Cli, ParallelLinesKeepTheirOrder) {
  const std::string kinds[] = {
      "(asthma OR wheez*) AND (child* OR adolescen*)",  // converts
      "a)) or ((b",                                     // fails
      "x \"tai chi",                                    // warns
      "a \xFF b",                                       // not UTF-8
      "telehealth OR telemedicine AND\theart failure",  // draws findings
      "",
  };
  std::string input;
  for (int i = 0; i < 12000; ++i) {
    input += kinds[(i * 7 + i / 5) % std::size(kinds)] + "\n";
    if (i == 5000) input += std::string(3 << 20, 'w') + " or v\n";
  }
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"--check"}, std::vector<std::string>{"--json", "--tidy"}}) {
    std::vector<std::string> one = options;
    one.push_back("--jobs=1");
    std::vector<std::string> three = options;
    three.push_back("--jobs=3");
    const Case sequential = RunCli(one, input);
    const Case parallel = RunCli(three, input);
    EXPECT_GT(sequential.out.size(), input.size());
    EXPECT_TRUE(sequential.out == parallel.out) << ::testing::PrintToString(options);
    EXPECT_TRUE(sequential.err == parallel.err) << ::testing::PrintToString(options);
    EXPECT_EQ(sequential.exit_code, 1);
    EXPECT_EQ(parallel.exit_code, 1);
  }
  // A thread count that is no number is a usage error.
  EXPECT_EQ(RunCli({"--jobs=0", "a"}).exit_code, 2);
  EXPECT_EQ(RunCli({"--jobs=two", "a"}).err.substr(0, 52),
            "boolconv-cli: --jobs needs a number of threads from ");
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

// Read and write failures end the run with one message and status 1, in
// both modes; empty input is no expression in both.
TEST(Cli, InputAndOutputFailures) {
  const std::string cli = Quoted(BOOLCONV_CLI_PATH);
  const std::string err = ::testing::TempDir() + "cli_test_failures.err";
  auto run = [&](const std::string& redirections) {
    const int status = std::system((cli + " " + redirections + " 2>" + Quoted(err)).c_str());
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(err));
  };
  const std::string cannot_read = "boolconv-cli: cannot read standard input\n";
  for (const std::string mode : {"", "--whole "}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(run(mode + "<&- >/dev/null"), std::make_pair(1, cannot_read));  // closed
    EXPECT_EQ(run(mode + "</ >/dev/null"), std::make_pair(1, cannot_read));   // a folder
    EXPECT_EQ(RunCli({mode.empty() ? "--json" : "--whole"}, "").out, "");
  }
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  // Lines that warn, fail and convert, on one thread and several: the first
  // failed write stops everything, and is the only thing said.
  std::string lines;
  const std::string kinds[] = {"a b\n", "x \"tai chi\n", "a)) or ((b\n"};
  for (int i = 0; i < 100000; ++i) lines += kinds[i % 3];
  for (const std::string jobs : {"--jobs=1", "--jobs=3"}) {
    const Case full = RunCli({jobs}, lines, "/dev/full");
    EXPECT_EQ(full.err, "boolconv-cli: cannot write to standard output\n") << jobs;
    EXPECT_EQ(full.exit_code, 1);
  }
  std::remove(err.c_str());
}

// An unclosed quote in a deep nest warns once for each group around it: the
// first 64 prompts are written, and how many more there were; with --check,
// in text, its finding instead.
TEST(Cli, WarningsBeyondTheBudgetAreCounted) {
  const std::string nest = std::string(1000, '(') + "\"" + std::string(1000, ')');
  const Case json = RunCli({"--json"}, nest + "\n");
  const nlohmann::json object = nlohmann::json::parse(json.out);
  EXPECT_EQ(object.at("warnings").size(), 64u);
  EXPECT_EQ(object.at("warnings_dropped"), 1001 - 64);
  const Case text = RunCli({nest});
  EXPECT_TRUE(text.err.ends_with("boolconv-cli: argument 1: 937 more warnings not shown\n"))
      << text.err.substr(text.err.size() - 200);
  EXPECT_EQ(std::count(text.err.begin(), text.err.end(), '\n'), 2 * 64 + 1);
  // With --check the one quote is one finding, and no prompt is counted
  // as left out; JSON keeps the prompts and their count as they are.
  const Case checked = RunCli({"--check", nest});
  EXPECT_TRUE(checked.err.starts_with("boolconv-cli: argument 1, column 1001: warning: "))
      << checked.err;
  EXPECT_TRUE(checked.err.ends_with(" [unclosed-quote]\n")) << checked.err;
  EXPECT_EQ(std::count(checked.err.begin(), checked.err.end(), '\n'), 1);
  EXPECT_EQ(checked.exit_code, 1);
  const nlohmann::json checked_json =
      nlohmann::json::parse(RunCli({"--check", "--json"}, nest + "\n").out);
  EXPECT_EQ(checked_json.at("warnings"), object.at("warnings"));
  EXPECT_EQ(checked_json.at("warnings_dropped"), 1001 - 64);
}

}  // namespace
