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

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "bench/shapes.h"
#include "bench/summary.h"
#include "conversion/boolfuncs.h"
#include "textfuncs/funclib.h"

namespace boolconv::bench {
namespace {

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
  // Unlike the complexity N, a counter survives into aggregate reports.
  state.counters[kCharsCounter] = static_cast<double>(units);
  state.counters[kWarningsCounter] =
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
  auto* chain = benchmark::RegisterBenchmark(std::string(kChainDepthFamily).c_str(), BM_ChainDepth)
                    ->Unit(benchmark::kMillisecond);
  for (const int64_t depth : kChainDepths) chain->Arg(depth);
}

// The console table as usual, then the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only for a terminal, so that files and pipes get plain text.
  SummaryReporter() : ConsoleReporter(isatty(STDOUT_FILENO) == 1 ? OO_ColorTabular : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& reports) override {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) summary_.Record(run);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    outcome_ = summary_.Print(GetOutputStream());
  }

  const RunSummary::Outcome& outcome() const { return outcome_; }

 private:
  RunSummary summary_;
  RunSummary::Outcome outcome_;
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
  return reporter.outcome().errors ? 1 : 0;
}

}  // namespace
}  // namespace boolconv::bench

int main(int argc, char** argv) { return boolconv::bench::Main(argc, argv); }
