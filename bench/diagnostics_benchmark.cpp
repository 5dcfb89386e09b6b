// Check and Tidy over the input shapes of shapes.h, beside ConvertBoolean
// (one pass) and ConvertBooleanReference (step by step) on the same texts in
// the same run: reading an expression for diagnostics repeats the reading
// of the step-by-step conversion and should cost no more than it. Sizes in
// characters (UTF-16 units of ASCII text), 64 KB to 4 MB; the fitted
// complexity shows linearity.
//
// Then the shapes that draw a finding every few characters, or once cost
// the diagnostics a rescan per finding or per level of nesting
// (DiagnosticShape), at 1 MB and 4 MB UTF-16 units, beside Convert (UTF-8,
// what the tool runs) on the same text: Check and Tidy take time linear in
// the text plus the findings.
//
// Last, ReadHistory on numbered search histories of 64 KB to 4 MB, with
// lines that combine earlier ones and as one chain of references as deep
// as the history is long.

#include <benchmark/benchmark.h>

#include <string>

#include "bench/shapes.h"
#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/history.h"

namespace boolconv::bench {
namespace {

constexpr int64_t kSmallest = int64_t{64} << 10;
constexpr int64_t kLargest = int64_t{4} << 20;
constexpr int64_t kDiagnosticSmallest = int64_t{1} << 20;

enum class Step { kConvert, kConvertUtf8, kReference, kCheck, kTidy };

void Run(benchmark::State& state, const Text& input, Step step) {
  BoolFuncs engine;
  Text operator_form;
  Text sign_form;
  const std::string utf8 = step == Step::kConvertUtf8 ? ToUtf8(input) : std::string();
  Conversion converted;
  size_t found = 0;
  for (auto _ : state) {
    switch (step) {
      case Step::kConvert:
        engine.ConvertBoolean(input, operator_form, sign_form);
        benchmark::DoNotOptimize(operator_form.data());
        break;
      case Step::kConvertUtf8:
        engine.Convert(utf8, converted);
        benchmark::DoNotOptimize(converted.operator_form.data());
        break;
      case Step::kReference:
        engine.ConvertBooleanReference(input, operator_form, sign_form);
        benchmark::DoNotOptimize(operator_form.data());
        break;
      case Step::kCheck:
        found = Check(input).size();
        break;
      case Step::kTidy:
        found = Tidy(input).repairs.size();
        break;
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(input.size()));
  state.SetComplexityN(static_cast<int64_t>(input.size()));
  state.counters["findings"] = static_cast<double>(found);
}

void BM_Step(benchmark::State& state, Shape shape, Step step) {
  Run(state, ToText(MakeShape(shape, static_cast<size_t>(state.range(0)))), step);
}

void BM_DiagnosticStep(benchmark::State& state, DiagnosticShape shape, Step step) {
  Run(state, MakeDiagnosticShape(shape, static_cast<size_t>(state.range(0))), step);
}

// A search history of about `units` UTF-16 units: numbered searches, every
// third line combining the two before it (`chain`: every line refers to
// the one before, one chain as deep as the history is long).
Text MakeHistory(size_t units, bool chain) {
  Text history;
  for (size_t n = 1; history.size() < units; ++n) {
    const Text number = FromUtf8(std::to_string(n));
    const Text before = FromUtf8(std::to_string(n - 1));
    history += u"#" + number + u" ";
    if (n > 1 && (chain || n % 3 == 0)) {
      history += u"#" + before +
                 (chain ? u" AND term" + number : u" OR #" + FromUtf8(std::to_string(n - 2)));
    } else {
      history += u"\"search term\"[tiab] OR term" + number + u"[mh]";
    }
    history += u"\n";
  }
  return history;
}

// ReadHistory on a history of the size in range(0): time linear in its size.
void BM_History(benchmark::State& state, bool chain) {
  const Text history = MakeHistory(static_cast<size_t>(state.range(0)), chain);
  size_t combined = 0;
  for (auto _ : state) {
    const History read = ReadHistory(history);
    combined = read.combined.size();
    benchmark::DoNotOptimize(read.combined.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(history.size()));
  state.SetComplexityN(static_cast<int64_t>(history.size()));
  state.counters["combined"] = static_cast<double>(combined);
}

}  // namespace
}  // namespace boolconv::bench

int main(int argc, char** argv) {
  using namespace boolconv::bench;
  // The unclosed-quote shape warns on every conversion; the count is not
  // what is measured here.
  const boolconv::ScopedWarningHandler quiet(
      [](const boolconv::Text&, const boolconv::Text&, int32_t) {});
  struct StepName {
    Step step;
    const char* name;
  };
  const StepName steps[] = {{Step::kConvert, "convert"},
                            {Step::kReference, "reference"},
                            {Step::kCheck, "check"},
                            {Step::kTidy, "tidy"}};
  for (const ShapeInfo& info : kShapes) {
    for (const auto& step : steps) {
      benchmark::RegisterBenchmark((std::string(step.name) + "/" + std::string(info.name)).c_str(),
                                   BM_Step, info.shape, step.step)
          ->RangeMultiplier(4)
          ->Range(kSmallest, kLargest)
          ->Complexity(benchmark::oN)
          ->Unit(benchmark::kMillisecond);
    }
  }
  const StepName diagnostic_steps[] = {
      {Step::kConvertUtf8, "convert_utf8"}, {Step::kCheck, "check"}, {Step::kTidy, "tidy"}};
  for (const DiagnosticShapeInfo& info : kDiagnosticShapes) {
    for (const auto& step : diagnostic_steps) {
      benchmark::RegisterBenchmark((std::string(step.name) + "/" + std::string(info.name)).c_str(),
                                   BM_DiagnosticStep, info.shape, step.step)
          ->RangeMultiplier(4)
          ->Range(kDiagnosticSmallest, kLargest)
          ->Complexity(benchmark::oN)
          ->Unit(benchmark::kMillisecond);
    }
  }
  for (const bool chain : {false, true}) {
    benchmark::RegisterBenchmark(chain ? "history/chain" : "history/combining", BM_History, chain)
        ->RangeMultiplier(4)
        ->Range(kSmallest, kLargest)
        ->Complexity(benchmark::oN)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
