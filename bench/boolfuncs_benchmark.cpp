// Benchmarks of BoolFuncs::ConvertBoolean over the input shapes in shapes.h,
// from 4 KB to 4 MB each, with a closing summary that checks the figures
// against our speed targets.
//
// Sizes are in characters of the (ASCII) input: UTF-16 units as the engine
// sees them, equal to the UTF-8 bytes the command-line tool reads. "Bytes per
// second" counts the same units.
//
// Besides the benchmark flags, two generator modes feed bench/cli_bench.sh:
//   boolfuncs_benchmark --write-shapes DIR [UNITS]  one file per shape, one line each
//   boolfuncs_benchmark --write-typical-lines COUNT  everyday expressions to stdout

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench/shapes.h"
#include "conversion/boolfuncs.h"
#include "textfuncs/funclib.h"

namespace boolconv::bench {
namespace {

constexpr int64_t kMinUnits = int64_t{4} << 10;
constexpr int64_t kMaxUnits = int64_t{4} << 20;
constexpr int64_t kMidUnits = int64_t{1} << 20;
constexpr int64_t kBaseUnits = int64_t{64} << 10;

// Targets: time at 1 MB, and how much the time per character may grow from
// 64 KB to 4 MB (1.0 would be exactly linear).
constexpr double kMaxMillisAt1MB = 50.0;
constexpr double kMaxPerByteGrowth = 1.5;
constexpr int64_t kChainDepths[] = {10'000, 100'000};
constexpr double kMaxMillisChain10k = 500.0;

// Wall time this much above CPU time means other jobs shared the cores.
constexpr double kBusyRatio = 1.2;

// Warnings are counted, not shown: the unclosed-quote shape raises one per
// conversion, and the count proves that the benchmark took that path.
int64_t warnings_seen = 0;

// Converts `input` once per iteration and reports characters per second.
void RunConversions(benchmark::State& state, const Text& input) {
  BoolFuncs engine;
  Text operator_form;
  Text sign_form;
  warnings_seen = 0;
  try {
    for (auto _ : state) {
      // ConvertBoolean takes its input by value; the copy is one memcpy,
      // part of what any caller that keeps its text pays.
      engine.ConvertBoolean(input, operator_form, sign_form);
      benchmark::DoNotOptimize(operator_form.data());
      benchmark::DoNotOptimize(sign_form.data());
    }
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  const auto units = static_cast<int64_t>(input.size());
  state.SetBytesProcessed(state.iterations() * units);
  // The exact input size (shapes fill the requested size in whole pieces);
  // a counter, unlike the complexity N, survives into aggregate reports.
  state.counters["chars"] = static_cast<double>(units);
  state.counters["warnings"] =
      benchmark::Counter(static_cast<double>(warnings_seen), benchmark::Counter::kAvgIterations);
}

void BM_Shape(benchmark::State& state, Shape shape) {
  const Text input = ToText(MakeShape(shape, static_cast<size_t>(state.range(0))));
  RunConversions(state, input);
  state.SetComplexityN(static_cast<int64_t>(input.size()));
}

void BM_ChainDepth(benchmark::State& state) {
  RunConversions(state, ToText(DissolvedChain(static_cast<size_t>(state.range(0)))));
}

void RegisterBenchmarks() {
  for (const ShapeInfo& info : kShapes) {
    benchmark::RegisterBenchmark(std::string(info.name).c_str(), BM_Shape, info.shape)
        ->RangeMultiplier(4)
        ->Range(kMinUnits, kMaxUnits)
        ->Complexity(benchmark::oN)
        ->Unit(benchmark::kMillisecond);
  }
  // Deep chains by depth: the library runs an iteration first and stops there
  // when it already took long, so a slow engine still finishes.
  auto* chain =
      benchmark::RegisterBenchmark("5_chain_depth", BM_ChainDepth)->Unit(benchmark::kMillisecond);
  for (const int64_t depth : kChainDepths) chain->Arg(depth);
}

// The console table as usual, then a summary of the figures the targets speak
// of. Times are the converting thread's CPU time: on an idle machine that is
// the wall time a person waits, and unlike wall time it does not grow when
// other jobs compete for the cores.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only for a terminal, so that files and pipes get plain text.
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) == 1 ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) Record(run);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    out << "\nSummary: CPU time per conversion; 1 KB = 1024 characters (UTF-16 units; these\n"
           "inputs are ASCII, so also UTF-8 bytes). growth = time per character at 4 MB\n"
           "over that at 64 KB; k = exponent of time ~ size^k between the two.\n\n";
    out << std::left << std::setw(22) << "shape" << std::right << std::setw(10) << "64KB ms"
        << std::setw(10) << "1MB ms" << std::setw(10) << "4MB ms" << std::setw(8) << "growth"
        << std::setw(6) << "k" << std::setw(10) << "O(N) rms" << std::setw(10) << "warnings"
        << "  targets\n";
    for (const ShapeInfo& info : kShapes) PrintShapeRow(out, info);
    out << '\n';
    for (const int64_t depth : kChainDepths) PrintChainRow(out, depth);
    if (busy_ > kBusyRatio) {
      out << "\nNote: the machine was busy; wall time ran up to " << Cell(busy_, 1, 0)
          << " times the CPU time.\n";
    }
    if (errors_) {
      out << "\nSome benchmarks FAILED (see above).\n";
    } else {
      out << (all_met_ ? "\nAll measured targets met.\n" : "\nSome targets MISSED (see above).\n");
    }
  }

  // True when some benchmark reported an error instead of a time.
  bool errors() const { return errors_; }

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

  // A right-aligned number, or "-" for one that was not measured.
  static std::string Cell(double value, int precision, int width, std::string_view suffix = "") {
    std::ostringstream cell;
    if (std::isnan(value)) {
      cell << "-";
    } else {
      cell << std::fixed << std::setprecision(precision) << value << suffix;
    }
    std::string text = cell.str();
    if (text.size() < static_cast<size_t>(width)) text.insert(0, width - text.size(), ' ');
    return text;
  }

  void Record(const Run& run) {
    Family& family = families_[run.run_name.function_name];
    if (run.report_rms) {
      family.rms = run.GetAdjustedCPUTime();
      return;
    }
    if (run.report_big_o) return;
    // With repetitions, the median stands for its size; single runs otherwise.
    if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") return;
    const int64_t arg = std::strtoll(run.run_name.args.c_str(), nullptr, 10);
    Point& point = family.points[arg];
    if (run.error_occurred) {
      point.error = run.error_message;
      return;
    }
    point.millis = run.GetAdjustedCPUTime() * ToMillis(run.time_unit);
    if (point.millis > 0) {
      busy_ = std::max(busy_, run.GetAdjustedRealTime() * ToMillis(run.time_unit) / point.millis);
    }
    const auto units = run.counters.find("chars");
    if (units != run.counters.end()) point.units = static_cast<int64_t>(units->second.value);
    const auto warnings = run.counters.find("warnings");
    if (warnings != run.counters.end()) point.warnings = warnings->second.value;
  }

  static double ToMillis(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond:
        return 1e-6;
      case benchmark::kMicrosecond:
        return 1e-3;
      case benchmark::kMillisecond:
        return 1.0;
      case benchmark::kSecond:
        return 1e3;
    }
    return 1.0;
  }

  const Point* Find(const Family& family, int64_t arg) const {
    const auto found = family.points.find(arg);
    if (found == family.points.end() || !found->second.error.empty()) return nullptr;
    return &found->second;
  }

  void PrintShapeRow(std::ostream& out, const ShapeInfo& info) {
    const auto found = families_.find(std::string(info.name));
    if (found == families_.end()) return;  // filtered out
    const Family& family = found->second;
    const Point* base = Find(family, kBaseUnits);
    const Point* mid = Find(family, kMidUnits);
    const Point* top = Find(family, kMaxUnits);
    auto millis = [](const Point* point) { return point ? point->millis : NAN; };
    double growth = NAN;
    double exponent = NAN;
    if (base && top && base->units > 0 && top->units > 0 && base->millis > 0) {
      const double size_ratio = static_cast<double>(top->units) / static_cast<double>(base->units);
      growth = (top->millis / base->millis) / size_ratio;
      exponent = std::log(top->millis / base->millis) / std::log(size_ratio);
    }
    double warnings = 0;
    for (const auto& [arg, point] : family.points) warnings = std::max(warnings, point.warnings);

    std::string verdict;
    bool failed = false;
    for (const auto& [arg, point] : family.points) {
      if (!point.error.empty()) {
        verdict += "ERROR at " + std::to_string(arg) + ": " + point.error + " ";
        errors_ = true;
      }
    }
    // The chain of dissolved groups has its targets by depth (below).
    if (info.shape != Shape::kDissolvedChain) {
      if (mid) {
        const bool fast = mid->millis < kMaxMillisAt1MB;
        verdict += fast ? "1MB<50ms ok" : "1MB<50ms MISSED";
        failed |= !fast;
      }
      if (!std::isnan(growth)) {
        const bool linear = growth <= kMaxPerByteGrowth;
        verdict += linear ? ", growth<=1.5 ok" : ", growth<=1.5 MISSED";
        failed |= !linear;
      }
    } else if (verdict.empty()) {
      verdict = "(by depth, below)";
    }
    all_met_ &= !failed;
    out << std::left << std::setw(22) << info.name << std::right << Cell(millis(base), 3, 10)
        << Cell(millis(mid), 3, 10) << Cell(millis(top), 3, 10) << Cell(growth, 2, 8)
        << Cell(exponent, 2, 6) << Cell(family.rms * 100, 1, 10, "%") << Cell(warnings, 0, 10)
        << "  " << verdict << '\n';
  }

  void PrintChainRow(std::ostream& out, int64_t depth) {
    const auto found = families_.find("5_chain_depth");
    if (found == families_.end()) return;
    const auto point = found->second.points.find(depth);
    if (point == found->second.points.end()) return;
    std::string verdict;
    if (!point->second.error.empty()) {
      verdict = "ERROR: " + point->second.error;
      errors_ = true;
    } else if (depth == kChainDepths[0]) {
      const bool fast = point->second.millis < kMaxMillisChain10k;
      verdict = fast ? "<500ms ok" : "<500ms MISSED";
      all_met_ &= fast;
    } else {
      verdict = "finishes ok";
    }
    out << "5 chain " << std::setw(7) << depth << " deep:" << Cell(point->second.millis, 3, 10)
        << " ms  " << verdict << '\n';
  }

  std::map<std::string, Family> families_;
  bool all_met_ = true;
  bool errors_ = false;
  double busy_ = 0;  // the largest ratio of wall time to CPU time seen
};

// --write-shapes DIR [UNITS]: writes DIR/<shape>.txt, each one line.
int WriteShapes(const std::filesystem::path& dir, size_t units) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) {
    std::cerr << "cannot create " << dir << ": " << error.message() << '\n';
    return 1;
  }
  for (const ShapeInfo& info : kShapes) {
    const std::filesystem::path path = dir / (std::string(info.name) + ".txt");
    std::ofstream file(path, std::ios::binary);
    file << MakeShape(info.shape, units) << '\n';
    file.close();
    if (!file) {
      std::cerr << "cannot write " << path << '\n';
      return 1;
    }
  }
  return 0;
}

// Parses a positive count; 0 when `text` is not one.
size_t ParseCount(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  return end != text && *end == '\0' && text[0] != '-' ? static_cast<size_t>(value) : 0;
}

int Main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "--write-shapes") {
    const size_t units = argc > 3 ? ParseCount(argv[3]) : static_cast<size_t>(kMaxUnits);
    if (argc < 3 || argc > 4 || units == 0) {
      std::cerr << "usage: " << argv[0] << " --write-shapes DIR [UNITS]\n";
      return 2;
    }
    return WriteShapes(argv[2], units);
  }
  if (mode == "--write-typical-lines") {
    const size_t count = argc == 3 ? ParseCount(argv[2]) : 0;
    if (count == 0) {
      std::cerr << "usage: " << argv[0] << " --write-typical-lines COUNT\n";
      return 2;
    }
    std::ios::sync_with_stdio(false);
    WriteTypicalLines(std::cout, count);
    std::cout.flush();
    return std::cout ? 0 : 1;
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterBenchmarks();
  const ScopedWarningHandler count_warnings(
      [](const Text&, const Text&, int32_t) { ++warnings_seen; });
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  // Missed targets are findings, reported in the summary; a benchmark that
  // could not run at all is a failure.
  return reporter.errors() ? 1 : 0;
}

}  // namespace
}  // namespace boolconv::bench

int main(int argc, char** argv) { return boolconv::bench::Main(argc, argv); }
