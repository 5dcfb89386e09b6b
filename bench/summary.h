// The closing summary of the benchmark program: for each input shape the
// times at 64 KB, 1 MB and 4 MB, how the time per character grows, and
// whether our speed targets were met.

#ifndef BOOLCONV_BENCH_SUMMARY_H_
#define BOOLCONV_BENCH_SUMMARY_H_

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>

namespace boolconv::bench {

// Benchmark sizes in characters: 4 KB to 4 MB in steps of 4.
inline constexpr int64_t kMinUnits = int64_t{4} << 10;
inline constexpr int64_t kBaseUnits = int64_t{64} << 10;
inline constexpr int64_t kMidUnits = int64_t{1} << 20;
inline constexpr int64_t kMaxUnits = int64_t{4} << 20;

// The chain of dissolved groups is also measured by depth.
inline constexpr std::string_view kChainDepthFamily = "5_chain_depth";
inline constexpr int64_t kChainDepths[] = {10'000, 100'000};

// Targets: the time at 1 MB; how much the time per character may grow from
// 64 KB to 4 MB (1.0 is exactly linear); the time of a chain 10,000 deep.
inline constexpr double kMaxMillisAt1MB = 50.0;
inline constexpr double kMaxPerCharGrowth = 1.5;
inline constexpr double kMaxMillisChain10k = 500.0;

// Counters the benchmarks set: the exact input size (shapes fill the
// requested size in whole pieces) and warnings per conversion.
inline constexpr char kCharsCounter[] = "chars";
inline constexpr char kWarningsCounter[] = "warnings";

// Collects benchmark runs and prints the summary. Times are the converting
// thread's CPU time: on an idle machine that is the wall time a person waits,
// and unlike wall time it does not grow when other jobs compete for the cores.
class RunSummary {
 public:
  using Run = benchmark::BenchmarkReporter::Run;

  struct Outcome {
    bool errors = false;      // some benchmark reported an error, not a time
    bool targets_met = true;  // every measured target was met
  };

  // Takes in one reported run; complexity fits and the aggregates other than
  // the median (which stands for its size when repetitions are asked for)
  // are used for the fit's RMS only or not at all.
  void Record(const Run& run);

  // Writes the summary table and judges the targets.
  Outcome Print(std::ostream& out) const;

 private:
  struct Point {
    double millis = 0;
    int64_t units = 0;
    double warnings = 0;
    std::string error;
  };
  struct Family {
    std::map<int64_t, Point> points;  // by requested size or depth
    double rms = NAN;                 // of the O(N) fit, as a fraction
  };

  std::map<std::string, Family, std::less<>> families_;
  double busy_ = 0;  // the largest ratio of wall time to CPU time seen
};

}  // namespace boolconv::bench

#endif  // BOOLCONV_BENCH_SUMMARY_H_
