#include "bench/summary.h"

#include <algorithm>
#include <cstdlib>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "bench/shapes.h"

namespace boolconv::bench {
namespace {

// Wall time this much above CPU time means other jobs shared the cores.
constexpr double kBusyRatio = 1.2;

double ToMillis(benchmark::TimeUnit unit) {
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

// A right-aligned number, or "-" for one that was not measured.
std::string Cell(double value, int precision, int width, std::string_view suffix = "") {
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

void AddVerdict(std::string& verdicts, std::string_view verdict) {
  if (!verdicts.empty()) verdicts += ", ";
  verdicts += verdict;
}

}  // namespace

void RunSummary::Record(const Run& run) {
  Family& family = families_[run.run_name.function_name];
  if (run.report_rms) {
    family.rms = run.GetAdjustedCPUTime();
    return;
  }
  if (run.report_big_o) return;
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
  const auto units = run.counters.find(kCharsCounter);
  if (units != run.counters.end()) point.units = static_cast<int64_t>(units->second.value);
  const auto warnings = run.counters.find(kWarningsCounter);
  if (warnings != run.counters.end()) point.warnings = warnings->second.value;
}

RunSummary::Outcome RunSummary::Print(std::ostream& out) const {
  Outcome outcome;
  out << "\nSummary: CPU time per conversion; 1 KB = 1024 characters (UTF-16 units; these\n"
         "inputs are ASCII, so also UTF-8 bytes). growth = time per character at 4 MB\n"
         "over that at 64 KB; k = exponent of time ~ size^k between the two.\n\n";
  out << std::left << std::setw(22) << "shape" << std::right << std::setw(10) << "64KB ms"
      << std::setw(10) << "1MB ms" << std::setw(10) << "4MB ms" << std::setw(8) << "growth"
      << std::setw(6) << "k" << std::setw(10) << "O(N) rms" << std::setw(10) << "warnings"
      << "  targets\n";

  for (const ShapeInfo& info : kShapes) {
    const auto found = families_.find(info.name);
    if (found == families_.end()) continue;  // filtered out
    const Family& family = found->second;
    std::string verdicts;
    auto point_at = [&](int64_t units) -> const Point* {
      const auto at = family.points.find(units);
      return at == family.points.end() || !at->second.error.empty() ? nullptr : &at->second;
    };
    const Point* base = point_at(kBaseUnits);
    const Point* mid = point_at(kMidUnits);
    const Point* top = point_at(kMaxUnits);
    double growth = NAN;
    double exponent = NAN;
    if (base && top && base->units > 0 && top->units > 0 && base->millis > 0) {
      const double size_ratio = static_cast<double>(top->units) / static_cast<double>(base->units);
      growth = (top->millis / base->millis) / size_ratio;
      exponent = std::log(top->millis / base->millis) / std::log(size_ratio);
    }
    double warnings = 0;
    for (const auto& [units, point] : family.points) {
      warnings = std::max(warnings, point.warnings);
      if (!point.error.empty()) {
        AddVerdict(verdicts, "ERROR at " + std::to_string(units) + ": " + point.error);
        outcome.errors = true;
      }
    }
    // The chain of dissolved groups has its targets by depth (below).
    if (info.shape == Shape::kDissolvedChain) {
      if (verdicts.empty()) verdicts = "(targets by depth, below)";
    } else {
      if (mid) {
        const bool fast = mid->millis < kMaxMillisAt1MB;
        AddVerdict(verdicts, fast ? "1MB<50ms ok" : "1MB<50ms MISSED");
        outcome.targets_met &= fast;
      }
      if (!std::isnan(growth)) {
        const bool linear = growth <= kMaxPerCharGrowth;
        AddVerdict(verdicts, linear ? "growth<=1.5 ok" : "growth<=1.5 MISSED");
        outcome.targets_met &= linear;
      }
    }
    auto millis = [](const Point* point) { return point ? point->millis : NAN; };
    out << std::left << std::setw(22) << info.name << std::right << Cell(millis(base), 3, 10)
        << Cell(millis(mid), 3, 10) << Cell(millis(top), 3, 10) << Cell(growth, 2, 8)
        << Cell(exponent, 2, 6) << Cell(family.rms * 100, 1, 10, "%") << Cell(warnings, 0, 10)
        << "  " << verdicts << '\n';
  }

  const auto chain = families_.find(kChainDepthFamily);
  if (chain != families_.end()) out << '\n';
  for (const int64_t depth : kChainDepths) {
    if (chain == families_.end()) break;
    const auto found = chain->second.points.find(depth);
    if (found == chain->second.points.end()) continue;
    const Point& point = found->second;
    std::string verdict;
    if (!point.error.empty()) {
      verdict = "ERROR: " + point.error;
      outcome.errors = true;
    } else if (depth == kChainDepths[0]) {
      const bool fast = point.millis < kMaxMillisChain10k;
      verdict = fast ? "<500ms ok" : "<500ms MISSED";
      outcome.targets_met &= fast;
    } else {
      verdict = "finishes ok";
    }
    out << "5 chain " << std::setw(7) << depth
        << " deep:" << Cell(point.error.empty() ? point.millis : NAN, 3, 10) << " ms  " << verdict
        << '\n';
  }

  if (busy_ > kBusyRatio) {
    out << "\nNote: the machine was busy; wall time ran up to " << Cell(busy_, 1, 0)
        << " times the CPU time.\n";
  }
  if (outcome.errors) {
    out << "\nSome benchmarks FAILED (see above).\n";
  } else {
    out << (outcome.targets_met ? "\nAll measured targets met.\n"
                                : "\nSome targets MISSED (see above).\n");
  }
  return outcome;
}

}  // namespace boolconv::bench
