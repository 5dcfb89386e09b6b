// Benchmarks of the conversion engine over the input shapes in shapes.h,
// from 4 KB to 4 MB each, through both interfaces: BoolFuncs::ConvertBoolean
// (UTF-16) and BoolFuncs::Convert (UTF-8). Google Benchmark fits each
// family's time to O(N) and reports it with its RMS; the counters give the
// exact size, the time per character (to compare 64 KB with 4 MB) and the
// warnings per conversion.
//
// Sizes are in characters of the (ASCII) input: UTF-16 units for
// ConvertBoolean, UTF-8 bytes for Convert, the same number.
//
// Besides the benchmark flags, three generator modes feed bench/cli_bench.sh:
//   boolfuncs_benchmark --write-shapes DIR [UNITS]  one file per shape, one line each
//   boolfuncs_benchmark --write-typical-lines COUNT  one-line strategies to stdout
//   boolfuncs_benchmark --write-typical-line UNITS  one line of them side by side

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "bench/shapes.h"
#include "conversion/boolfuncs.h"
#include "textfuncs/funclib.h"

namespace boolconv::bench {
namespace {

// Benchmark sizes in characters: 4 KB to 4 MB in steps of 4.
constexpr int64_t kMinUnits = int64_t{4} << 10;
constexpr int64_t kMaxUnits = int64_t{4} << 20;
constexpr int kSizeStep = 4;

// The chain of dissolved groups is also measured by depth.
constexpr int64_t kChainDepths[] = {10'000, 100'000};

// Warnings are counted, not shown: the unclosed-quote shape raises one per
// conversion, and the count proves that the benchmark took that path.
int64_t warnings_seen = 0;

void SetCounters(benchmark::State& state, size_t units) {
  const auto chars = static_cast<double>(units);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(units));
  // Unlike the complexity N, counters survive into aggregate reports.
  state.counters["chars"] = chars;
  state.counters["time_per_char"] = benchmark::Counter(
      chars, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["warnings"] =
      benchmark::Counter(static_cast<double>(warnings_seen), benchmark::Counter::kAvgIterations);
}

// ConvertBoolean on `input`, once per iteration.
void RunUtf16(benchmark::State& state, const Text& input) {
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
  SetCounters(state, input.size());
}

// Convert on `input`, once per iteration, reusing one result as a caller
// converting many expressions does.
void RunUtf8(benchmark::State& state, const std::string& input) {
  BoolFuncs engine;
  Conversion result;
  warnings_seen = 0;
  try {
    for (auto _ : state) {
      engine.Convert(input, result);
      warnings_seen += static_cast<int64_t>(result.warnings.size() + result.warnings_dropped);
      benchmark::DoNotOptimize(result.operator_form.data());
      benchmark::DoNotOptimize(result.sign_form.data());
    }
  } catch (const std::exception& error) {
    state.SkipWithError(error.what());
    return;
  }
  SetCounters(state, input.size());
}

void BM_ShapeUtf16(benchmark::State& state, Shape shape) {
  const std::string input = MakeShape(shape, static_cast<size_t>(state.range(0)));
  RunUtf16(state, ToText(input));
  state.SetComplexityN(static_cast<int64_t>(input.size()));
}

void BM_ShapeUtf8(benchmark::State& state, Shape shape) {
  const std::string input = MakeShape(shape, static_cast<size_t>(state.range(0)));
  RunUtf8(state, input);
  state.SetComplexityN(static_cast<int64_t>(input.size()));
}

void BM_ChainDepth(benchmark::State& state) {
  RunUtf8(state, DissolvedChain(static_cast<size_t>(state.range(0))));
}

// Groups nested around one unclosed quote: every level dissolves with a
// warning, so a conversion raises one per level; Convert keeps the first
// ones and counts the rest, and costs time linear in the text.
void BM_NestAroundQuote(benchmark::State& state) {
  const size_t depth = static_cast<size_t>(state.range(0)) / 2;
  const std::string input = std::string(depth, '(') + '"' + std::string(depth, ')');
  RunUtf8(state, input);
  state.SetComplexityN(static_cast<int64_t>(input.size()));
}

void RegisterBenchmarks() {
  for (const ShapeInfo& info : kShapes) {
    for (const auto& [interface, run] :
         {std::pair{"utf16/", &BM_ShapeUtf16}, std::pair{"utf8/", &BM_ShapeUtf8}}) {
      benchmark::RegisterBenchmark((interface + std::string(info.name)).c_str(), run, info.shape)
          ->RangeMultiplier(kSizeStep)
          ->Range(kMinUnits, kMaxUnits)
          ->Complexity(benchmark::oN)
          ->Unit(benchmark::kMillisecond);
    }
  }
  // Deep chains by depth: the library runs an iteration first and stops there
  // when it already took long, so a slow engine still finishes.
  auto* chain = benchmark::RegisterBenchmark("utf8/5_chain_depth", BM_ChainDepth)
                    ->Unit(benchmark::kMillisecond);
  for (const int64_t depth : kChainDepths) chain->Arg(depth);
  // Only through Convert: ConvertBoolean hands every level's prompt to the
  // warning handler, and those prompts hold the text of each level.
  benchmark::RegisterBenchmark("utf8/9_nest_around_quote", BM_NestAroundQuote)
      ->RangeMultiplier(kSizeStep)
      ->Range(kMinUnits, kMaxUnits)
      ->Complexity(benchmark::oN)
      ->Unit(benchmark::kMillisecond);
}

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
  // --write-typical-line UNITS and --write-typical-lines COUNT: to stdout.
  for (const auto& [name, write] : {std::pair{"--write-typical-line", &WriteTypicalLine},
                                    std::pair{"--write-typical-lines", &WriteTypicalLines}}) {
    if (mode != name) continue;
    const size_t count = argc == 3 ? ParseCount(argv[2]) : 0;
    if (count == 0) {
      std::cerr << "usage: " << argv[0] << ' ' << name << " COUNT\n";
      return 2;
    }
    std::ios::sync_with_stdio(false);
    write(std::cout, count);
    std::cout.flush();
    return std::cout ? 0 : 1;
  }

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RegisterBenchmarks();
  const ScopedWarningHandler count_warnings(
      [](const Text&, const Text&, int32_t) { ++warnings_seen; });
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace
}  // namespace boolconv::bench

int main(int argc, char** argv) { return boolconv::bench::Main(argc, argv); }
