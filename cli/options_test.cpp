// The command line: which options set what, and which arguments are usage errors.

#include "cli/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace boolconv::cli {
namespace {

// The arguments and what they parse into; the expressions are views into
// the arguments, whose strings stay where they are when the vector moves.
struct Parsed {
  std::vector<std::string> args;
  Options options;
};

Parsed Parse(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  Options options = ParseArguments(argv);
  return {std::move(args), std::move(options)};
}

// Each option sets its flag wherever it stands before "--"; later arguments
// are expressions.
TEST(Options, Flags) {
  const Parsed parsed =
      Parse({"a", "--json", "--check", "b", "--whole", "--tidy", "--", "--json", "-x"});
  const Options& options = parsed.options;
  EXPECT_TRUE(options.json);
  EXPECT_TRUE(options.check);
  EXPECT_TRUE(options.tidy);
  EXPECT_TRUE(options.whole);
  EXPECT_FALSE(options.capitals);
  EXPECT_EQ(options.expressions, (std::vector<std::string_view>{"a", "b", "--json", "-x"}));
  // --whole with expressions is itself a usage error.
  EXPECT_EQ(options.usage_error, "--whole reads standard input and takes no EXPRESSION arguments");

  const Options capitals = Parse({"--capitals", "--jobs=7"}).options;
  EXPECT_TRUE(capitals.tidy);  // --capitals implies --tidy, which implies --check
  EXPECT_TRUE(capitals.check);
  EXPECT_TRUE(capitals.capitals);
  const Options tidy = Parse({"--tidy"}).options;
  EXPECT_TRUE(tidy.check);
  EXPECT_FALSE(tidy.capitals);
  EXPECT_FALSE(Parse({"--check"}).options.tidy);
  EXPECT_EQ(capitals.jobs, 7u);
  EXPECT_TRUE(capitals.usage_error.empty());
  EXPECT_GE(Parse({}).options.jobs, 1u);
}

// The first usage error is the one reported.
TEST(Options, UsageErrors) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--bogus", "-x"}, "unknown option '--bogus'"},
      {{"-"}, "unknown option '-'"},
      {{"--jobs=0"}, "--jobs needs a number of threads from 1 to 256, not '0'"},
      {{"--jobs=257"}, "--jobs needs a number of threads from 1 to 256, not '257'"},
      {{"--jobs=2x"}, "--jobs needs a number of threads from 1 to 256, not '2x'"},
      {{"--jobs="}, "--jobs needs a number of threads from 1 to 256, not ''"},
      {{"--jobs=-1", "--bogus"}, "--jobs needs a number of threads from 1 to 256, not '-1'"},
      {{"--json", "--", "--bogus"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(Parse(c.args).options.usage_error, c.error);
  }
}

// The help text starts with the usage lines' options, each of which it explains.
TEST(Options, HelpNamesEveryOption) {
  for (const std::string_view option : {"--json", "--check", "--tidy", "--capitals", "--whole",
                                        "--jobs=N", "--help", "--version"}) {
    EXPECT_NE(Help().find("  " + std::string(option)), std::string_view::npos) << option;
  }
  EXPECT_TRUE(Usage().starts_with("Usage: boolconv-cli "));
}

}  // namespace
}  // namespace boolconv::cli
