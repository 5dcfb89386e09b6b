// The summary decides whether a target was met; a wrong unit or ratio there
// would report a slow engine as fast.

#include "bench/summary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace boolconv::bench {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using BenchRun = RunSummary::Run;

constexpr int64_t kIterations = 10;

// A run of `family` at `arg` that took `millis` CPU time per iteration,
// reported in `unit` (the library keeps seconds and scales them to the unit
// when asked); wall time is the same.
BenchRun MakeRun(const std::string& family, int64_t arg, double millis,
                 benchmark::TimeUnit unit = benchmark::kMillisecond) {
  BenchRun run;
  run.run_name.function_name = family;
  run.run_name.args = std::to_string(arg);
  run.iterations = kIterations;
  run.time_unit = unit;
  run.cpu_accumulated_time = millis / 1e3 * kIterations;  // seconds
  run.real_accumulated_time = run.cpu_accumulated_time;
  run.counters[kCharsCounter] = static_cast<double>(arg);
  return run;
}

struct Printed {
  std::string text;
  RunSummary::Outcome outcome;
};

Printed PrintAll(const std::vector<BenchRun>& runs) {
  RunSummary summary;
  for (const BenchRun& run : runs) summary.Record(run);
  std::ostringstream out;
  const RunSummary::Outcome outcome = summary.Print(out);
  return {out.str(), outcome};
}

struct ShapeCase {
  const char* name;
  double base_ms, mid_ms, top_ms;  // at 64 KB, 1 MB and 4 MB
  benchmark::TimeUnit unit;
  const char* verdict;
  bool met;
};

const ShapeCase kShapeCases[] = {
    {"linear and fast", 1, 16, 64, benchmark::kMillisecond, "1MB<50ms ok, growth<=1.5 ok", true},
    {"reported in us", 1, 16, 64, benchmark::kMicrosecond, "1MB<50ms ok, growth<=1.5 ok", true},
    {"slow at 1 MB", 4, 64, 256, benchmark::kMillisecond, "1MB<50ms MISSED, growth<=1.5 ok", false},
    {"superlinear", 1, 20, 160, benchmark::kMillisecond, "1MB<50ms ok, growth<=1.5 MISSED", false},
    {"just within", 1, 49.9, 96, benchmark::kMillisecond, "1MB<50ms ok, growth<=1.5 ok", true},
};

TEST(RunSummaryTest, JudgesEachShapeByItsTimesAndGrowth) {
  for (const ShapeCase& c : kShapeCases) {
    SCOPED_TRACE(c.name);
    const Printed printed = PrintAll({MakeRun("2_flat_group", kBaseUnits, c.base_ms, c.unit),
                                      MakeRun("2_flat_group", kMidUnits, c.mid_ms, c.unit),
                                      MakeRun("2_flat_group", kMaxUnits, c.top_ms, c.unit)});
    EXPECT_THAT(printed.text, HasSubstr(c.verdict));
    EXPECT_EQ(printed.outcome.targets_met, c.met);
    EXPECT_FALSE(printed.outcome.errors);
  }
}

TEST(RunSummaryTest, PrintsMillisecondsWhateverTheReportedUnit) {
  const Printed printed =
      PrintAll({MakeRun("6_long_phrase", kMidUnits, 16, benchmark::kMicrosecond)});
  EXPECT_THAT(printed.text, HasSubstr("16.000"));
}

TEST(RunSummaryTest, GrowthUsesTheActualInputSizes) {
  // Whole strategies leave the 64 KB input at 63,000 characters: the same
  // time per character at both sizes is linear, not faster than linear.
  BenchRun base = MakeRun("1_realistic", kBaseUnits, 63.0);
  base.counters[kCharsCounter] = 63'000;
  BenchRun top = MakeRun("1_realistic", kMaxUnits, 4194.304);
  const Printed printed = PrintAll({base, top});
  EXPECT_THAT(printed.text, HasSubstr("   1.00  1.00"));
}

TEST(RunSummaryTest, MedianStandsForRepetitions) {
  BenchRun mean = MakeRun("3_side_by_side", kMidUnits, 500);
  mean.run_type = BenchRun::RT_Aggregate;
  mean.aggregate_name = "mean";
  BenchRun median = MakeRun("3_side_by_side", kMidUnits, 20);
  median.run_type = BenchRun::RT_Aggregate;
  median.aggregate_name = "median";
  const Printed printed = PrintAll({MakeRun("3_side_by_side", kMidUnits, 900), mean, median});
  EXPECT_THAT(printed.text, HasSubstr("1MB<50ms ok"));
  EXPECT_TRUE(printed.outcome.targets_met);
}

TEST(RunSummaryTest, DissolvedChainIsJudgedByDepth) {
  const std::string family(kChainDepthFamily);
  const Printed slow_sizes = PrintAll({MakeRun("5_dissolved_chain", kMidUnits, 900)});
  EXPECT_TRUE(slow_sizes.outcome.targets_met);

  const Printed slow_depth = PrintAll({MakeRun(family, kChainDepths[0], 600)});
  EXPECT_THAT(slow_depth.text, HasSubstr("<500ms MISSED"));
  EXPECT_FALSE(slow_depth.outcome.targets_met);

  const Printed fast_depth =
      PrintAll({MakeRun(family, kChainDepths[0], 2), MakeRun(family, kChainDepths[1], 3000)});
  EXPECT_THAT(fast_depth.text, HasSubstr("<500ms ok"));
  EXPECT_THAT(fast_depth.text, HasSubstr("finishes ok"));
  EXPECT_TRUE(fast_depth.outcome.targets_met);
}

TEST(RunSummaryTest, AnErrorIsAFailureNotAMissingRow) {
  BenchRun failed = MakeRun("7_unclosed_quote", kMidUnits, 0);
  failed.error_occurred = true;
  failed.error_message = "boom";
  const Printed printed = PrintAll({MakeRun("7_unclosed_quote", kBaseUnits, 1), failed});
  EXPECT_TRUE(printed.outcome.errors);
  EXPECT_THAT(printed.text, HasSubstr("ERROR at 1048576: boom"));
  EXPECT_THAT(printed.text, HasSubstr("FAILED"));
  EXPECT_THAT(printed.text, Not(HasSubstr("All measured targets met")));
}

TEST(RunSummaryTest, NotesABusyMachine) {
  BenchRun busy = MakeRun("8_space_and_not_runs", kMidUnits, 10);
  busy.real_accumulated_time = 3 * busy.cpu_accumulated_time;
  EXPECT_THAT(PrintAll({busy}).text, HasSubstr("machine was busy"));
  EXPECT_THAT(PrintAll({MakeRun("8_space_and_not_runs", kMidUnits, 10)}).text,
              Not(HasSubstr("busy")));
}

}  // namespace
}  // namespace boolconv::bench
