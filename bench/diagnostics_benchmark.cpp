// Check and Tidy over the input shapes of shapes.h, beside ConvertBoolean
// (one pass) and ConvertBooleanReference (step by step) on the same texts in
// the same run: reading an expression for diagnostics repeats the reading
// of the step-by-step conversion and should cost no more than it. Sizes in
// characters (UTF-16 units of ASCII text), 64 KB to 4 MB; the fitted
// complexity shows linearity.

#include <benchmark/benchmark.h>

#include <string>

#include "bench/shapes.h"
#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"

namespace boolconv::bench {
namespace {

constexpr int64_t kSmallest = int64_t{64} << 10;
constexpr int64_t kLargest = int64_t{4} << 20;

enum class Step { kConvert, kReference, kCheck, kTidy };

void BM_Step(benchmark::State& state, Shape shape, Step step) {
  const Text input = ToText(MakeShape(shape, static_cast<size_t>(state.range(0))));
  BoolFuncs engine;
  Text operator_form;
  Text sign_form;
  size_t found = 0;
  for (auto _ : state) {
    switch (step) {
      case Step::kConvert:
        engine.ConvertBoolean(input, operator_form, sign_form);
        benchmark::DoNotOptimize(operator_form.data());
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

}  // namespace
}  // namespace boolconv::bench

int main(int argc, char** argv) {
  using namespace boolconv::bench;
  // The unclosed-quote shape warns on every conversion; the count is not
  // what is measured here.
  const boolconv::ScopedWarningHandler quiet(
      [](const boolconv::Text&, const boolconv::Text&, int32_t) {});
  const struct {
    Step step;
    const char* name;
  } steps[] = {{Step::kConvert, "convert"},
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
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
