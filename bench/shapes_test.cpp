// The benchmark figures only mean something if each generated input has the
// shape it is named for and drives the engine down the intended path.

#include "bench/shapes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>

#include "conversion/boolfuncs.h"

namespace boolconv::bench {
namespace {

size_t CountOf(const std::string& text, char c) { return std::count(text.begin(), text.end(), c); }

size_t MaxDepth(const std::string& text) {
  size_t depth = 0;
  size_t deepest = 0;
  for (const char c : text) {
    if (c == '(') deepest = std::max(deepest, ++depth);
    if (c == ')' && depth > 0) --depth;
  }
  return deepest;
}

struct Conversion {
  size_t rows = 0;
  int warnings = 0;
};

Conversion Convert(const std::string& input) {
  Conversion result;
  const ScopedWarningHandler count([&](const Text&, const Text&, int32_t) { ++result.warnings; });
  BoolFuncs engine;
  Text operator_form;
  Text sign_form;
  engine.ConvertBoolean(ToText(input), operator_form, sign_form);
  result.rows = engine.GroupTable().size();
  return result;
}

TEST(RealisticStrategyTest, LooksLikeAPublishedStrategy) {
  const std::string strategy = RealisticStrategy();
  EXPECT_GE(strategy.size(), 2700u);
  EXPECT_LE(strategy.size(), 3300u);
  EXPECT_EQ(CountOf(strategy, '('), 30u);
  EXPECT_EQ(CountOf(strategy, ')'), 30u);
  EXPECT_GE(MaxDepth(strategy), 3u);
  EXPECT_LE(MaxDepth(strategy), 4u);
  EXPECT_GE(CountOf(strategy, '"'), 2u);
  EXPECT_EQ(CountOf(strategy, '"') % 2, 0u);

  std::string lower = strategy;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(lower.find(" and not "), std::string::npos);
  // Operators in more than one letter case.
  EXPECT_NE(strategy.find(" OR "), std::string::npos);
  EXPECT_NE(strategy.find(" or "), std::string::npos);
}

// Which groups the engine should convert (the rest dissolve) and how many
// warnings one conversion raises. The input is wrapped in one more group,
// converted only when its top level holds more than one word.
enum class Converted { kNone, kEveryGroup, kEveryGroupAndTop };

struct PathCase {
  Shape shape;
  Converted converted;
  int warnings;
};

constexpr PathCase kPathCases[] = {
    {Shape::kRealistic, Converted::kEveryGroupAndTop, 0},
    {Shape::kFlatGroup, Converted::kEveryGroup, 0},
    {Shape::kSideBySide, Converted::kEveryGroupAndTop, 0},
    {Shape::kNestedConverted, Converted::kEveryGroup, 0},
    {Shape::kDissolvedChain, Converted::kNone, 0},
    {Shape::kLongPhrase, Converted::kNone, 0},
    {Shape::kUnclosedQuote, Converted::kNone, 1},
    {Shape::kSpaceAndNotRuns, Converted::kEveryGroupAndTop, 0},
};

TEST(ShapeTest, EveryShapeIsCovered) { EXPECT_EQ(std::size(kPathCases), kShapes.size()); }

TEST(ShapeTest, FillsTheRequestedSizeDeterministically) {
  for (const ShapeInfo& info : kShapes) {
    for (const size_t units : {size_t{4} << 10, size_t{64} << 10, size_t{1} << 20}) {
      SCOPED_TRACE(std::string(info.name) + " at " + std::to_string(units));
      const std::string text = MakeShape(info.shape, units);
      EXPECT_LE(text.size(), units);
      // Shapes grow by whole pieces, so at most one piece's room stays unused:
      // a strategy, or a small group of two words.
      const size_t slack = info.shape == Shape::kRealistic ? RealisticStrategy().size() : 32;
      EXPECT_GE(text.size() + slack, units);
      EXPECT_EQ(text.find('\n'), std::string::npos);  // one line for the tool
      EXPECT_EQ(text, MakeShape(info.shape, units));
    }
  }
}

TEST(ShapeTest, TakesTheIntendedEnginePath) {
  for (const PathCase& path : kPathCases) {
    const std::string text = MakeShape(path.shape, size_t{64} << 10);
    SCOPED_TRACE(std::string(kShapes[static_cast<size_t>(path.shape)].name));
    const size_t groups = CountOf(text, '(');
    size_t expected_rows = 0;
    if (path.converted == Converted::kEveryGroup) expected_rows = groups;
    if (path.converted == Converted::kEveryGroupAndTop) expected_rows = groups + 1;
    const Conversion result = Convert(text);
    EXPECT_EQ(result.rows, expected_rows);
    EXPECT_EQ(result.warnings, path.warnings);
  }
}

TEST(DissolvedChainTest, HasTheRequestedDepth) {
  const std::string chain = DissolvedChain(10'000);
  EXPECT_EQ(chain.size(), 20'001u);
  EXPECT_EQ(MaxDepth(chain), 10'000u);
  EXPECT_EQ(Convert(chain).rows, 0u);
}

TEST(TypicalLinesTest, AreShortVariedAndConvertCleanly) {
  std::ostringstream few;
  std::ostringstream more;
  WriteTypicalLines(few, 500);
  WriteTypicalLines(more, 1000);
  // The same lines every time: a longer file starts with the shorter one.
  EXPECT_EQ(more.str().substr(0, few.str().size()), few.str());

  std::istringstream lines(more.str());
  std::string line;
  size_t count = 0;
  size_t with_groups = 0;
  size_t with_phrases = 0;
  while (std::getline(lines, line)) {
    ++count;
    with_groups += line.find('(') != std::string::npos;
    with_phrases += line.find('"') != std::string::npos;
    const Conversion result = Convert(line);
    ASSERT_EQ(result.warnings, 0) << line;
    ASSERT_GE(result.rows, 1u) << line;
  }
  EXPECT_EQ(count, 1000u);
  const double average = static_cast<double>(more.str().size()) / static_cast<double>(count);
  EXPECT_GE(average, 20.0);
  EXPECT_LE(average, 100.0);
  EXPECT_GT(with_groups, count / 10);
  EXPECT_GT(with_phrases, count / 10);
}

}  // namespace
}  // namespace boolconv::bench
