#include "cli/cli.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <istream>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/input.h"
#include "cli/options.h"
#include "cli/ordered_map.h"
#include "cli/report.h"
#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/explain.h"
#include "diagnostics/history.h"
#include "textfuncs/funclib.h"

namespace boolconv::cli {
namespace {

// Converts expressions one at a time with one engine object and writes each
// result to a sink as soon as it is known.
class ExpressionWriter {
 public:
  explicit ExpressionWriter(const Options& options) : options_(options) {}

  // Converts UTF-8 `expression` and writes the result to `sink`. `source`
  // names the expression in messages. Returns false when the expression
  // failed, or, with --check (which --tidy implies), drew a warning or an
  // error.
  bool Convert(std::string_view expression, const Source& source, Sink& sink) {
    Outcome outcome{.result = &result_};
    diagnostics_.clear();
    // If checking fails (out of memory) before the engine runs, the result
    // must not carry the previous expression's warnings.
    result_.warnings.clear();
    result_.warnings_dropped = 0;
    try {
      if (options_.check && FindInvalidUtf8(expression) == std::string::npos) {
        outcome.diagnostics = &diagnostics_;
        // The tidied text is what converts; the diagnostics name places in
        // the text as given.
        std::string tidied = Diagnose(expression);
        engine_.Convert(options_.tidy ? std::string_view(tidied) : expression, result_);
      } else {
        // Invalid UTF-8 fails here, with the byte it fails at.
        engine_.Convert(expression, result_);
        if (options_.explain) explanation_ = Explain(FromUtf8(expression));
      }
      outcome.converted = true;
      if (options_.explain) outcome.explanation = &explanation_;
    } catch (const std::exception& e) {
      // boolconv::Error's what() is its description; anything else (such as
      // running out of memory on a huge line) fails this expression only.
      outcome.error = e.what();
      if (outcome.error.empty()) outcome.error = "Unknown error.";
    }
    outcome.checked = outcome.diagnostics != nullptr;
    return Write(expression, source, sink, outcome);
  }

  // Reads `input` (UTF-8) as a search history, combines its line
  // (--line, or the last one no other line uses), and converts the result;
  // the history's findings, and with --check the findings on the combined
  // expression, point into `input`. Returns false when the history cannot
  // be combined, the conversion fails, or with --check a warning is drawn.
  bool ConvertHistory(std::string_view input, Sink& sink) {
    Outcome outcome{.result = &result_};
    diagnostics_.clear();
    result_.warnings.clear();
    result_.warnings_dropped = 0;
    History history;
    try {
      if (FindInvalidUtf8(input) != std::string::npos) {
        engine_.Convert(input, result_);  // fails, with the byte it fails at
      }
      history = ReadHistory(FromUtf8(input), options_.line);
      diagnostics_ = history.findings;
      outcome.history = &history;
      outcome.diagnostics = &diagnostics_;
      outcome.checked = options_.check;
      if (history.combined.empty()) {
        const auto error =
            std::find_if(diagnostics_.begin(), diagnostics_.end(),
                         [](const auto& d) { return d.severity == Severity::kError; });
        outcome.error = error != diagnostics_.end()
                            ? error->message
                            : std::string("The input holds no numbered line.");
      } else {
        const std::string combined = Diagnose(history.combined, &history);
        engine_.Convert(combined, result_);
        outcome.converted = true;
        if (options_.explain) outcome.explanation = &explanation_;
      }
    } catch (const std::exception& e) {
      outcome.error = e.what();
      if (outcome.error.empty()) outcome.error = "Unknown error.";
    }
    const bool history_error =
        std::any_of(diagnostics_.begin(), diagnostics_.end(),
                    [](const auto& d) { return d.severity == Severity::kError; });
    return Write(input, {}, sink, outcome) && !history_error;
  }

 private:
  bool Write(std::string_view expression, const Source& source, Sink& sink, Outcome& outcome) {
    if (options_.json) {
      WriteJson(sink, outcome);
    } else {
      WriteText(sink, source, expression, outcome);
    }
    const bool drew_warning =
        options_.check && std::any_of(diagnostics_.begin(), diagnostics_.end(),
                                      [](const auto& d) { return d.severity != Severity::kInfo; });
    return outcome.converted && !drew_warning;
  }

  // Lists what --tidy and --check report on `expression` (valid UTF-8): the
  // repairs, if tidying, and the findings on the text that converts, all at
  // their place in `expression` and in the order of their positions. With
  // --tidy returns the tidied expression in UTF-8. The diagnostics read
  // UTF-16, with positions in code points; that copy is gone before the
  // conversion starts.
  std::string Diagnose(std::string_view expression) {
    Text input = FromUtf8(expression);
    std::string tidied = Diagnose(input, nullptr);
    // A strategy written over several lines may be a numbered history,
    // which --history reads as one.
    if (options_.whole && LooksLikeHistory(input)) {
      const size_t first_line_end = input.find(u'\n');
      diagnostics_.insert(
          diagnostics_.begin(),
          {std::string(codes::kHistoryDetected), Severity::kInfo,
           "This text looks like a numbered search history: read as one expression, its line "
           "numbers and the references between its lines become search words. Use --history to "
           "combine its lines as the history means.",
           0, first_line_end == Text::npos ? std::max<size_t>(input.size(), 1) : first_line_end});
    }
    return tidied;
  }

  // The same for `input`, the text that converts: with `history`, the
  // combined expression of a history, whose diagnostics are moved to their
  // place in the history.
  std::string Diagnose(Text input, const History* history) {
    TidyResult tidied;  // with no changes, positions map to themselves
    if (options_.tidy) {
      tidied = Tidy(input, {.capitalize_operators = options_.capitals});
      input = std::move(tidied.expression);
      if (history != nullptr) history->MapToInput(tidied.repairs);
      diagnostics_.insert(diagnostics_.end(), std::make_move_iterator(tidied.repairs.begin()),
                          std::make_move_iterator(tidied.repairs.end()));
    }
    if (options_.explain) {
      explanation_ = Explain(input);
      MapToInput(explanation_, &tidied, history);
    }
    if (options_.check) {
      std::vector<Diagnostic> found = Check(input);
      // A sign prefix tidied into an operator changes the length: the
      // findings are moved from the tidied text to the input, where the
      // repairs point.
      tidied.MapToInput(found);
      if (history != nullptr) history->MapToInput(found);
      diagnostics_.insert(diagnostics_.end(), std::make_move_iterator(found.begin()),
                          std::make_move_iterator(found.end()));
    }
    std::stable_sort(diagnostics_.begin(), diagnostics_.end(), [](const auto& a, const auto& b) {
      return a.start < b.start || (a.start == b.start && a.end < b.end);
    });
    return options_.tidy || history != nullptr ? ToUtf8(input) : std::string();
  }

  const Options& options_;
  BoolFuncs engine_;
  Conversion result_;  // of the current expression; its memory serves the next one
  std::vector<Diagnostic> diagnostics_;
  Explanation explanation_;  // of the current expression, with --explain
};

// Lines of standard input, gathered to be converted on another thread.
struct Batch {
  std::string text;          // the lines one after the other
  std::vector<size_t> ends;  // where each line ends in `text`
  uint64_t first_line = 0;
};

// Converts `batch`'s lines one after the other with `writer` into `sink`;
// returns whether every line converted.
bool ConvertBatch(const Batch& batch, ExpressionWriter& writer, Sink& sink) {
  bool all_converted = true;
  size_t start = 0;
  for (size_t i = 0; i < batch.ends.size(); ++i) {
    const std::string_view line = std::string_view(batch.text).substr(start, batch.ends[i] - start);
    if (!writer.Convert(line, {"line", batch.first_line + i}, sink)) all_converted = false;
    start = batch.ends[i];
  }
  return all_converted;
}

// A batch's results, to be written in their turn.
struct Converted {
  BufferSink results;
  bool all_converted = true;
};

// Converts the lines of standard input on several threads: lines are
// gathered in batches, each batch converted by the next worker, each with
// an engine of its own, and the results written in the order of the lines.
// A line too long to be worth copying into a batch is converted in place,
// in its turn, on the caller's thread.
class ParallelLines {
 public:
  ParallelLines(const Options& options, StreamSink& sink, ExpressionWriter& writer)
      : options_(options), sink_(sink), writer_(writer) {}

  // False once standard output has failed.
  bool Add(std::string_view line, uint64_t number) {
    if (line.size() >= kLongLineBytes) {
      if (!Launch() || (map_ && !map_->Drain())) return false;
      if (!writer_.Convert(line, {"line", number}, sink_)) all_converted_ = false;
      return !sink_.failed();
    }
    if (batch_.ends.empty()) batch_.first_line = number;
    batch_.text.append(line);
    batch_.ends.push_back(batch_.text.size());
    if (batch_.text.size() >= kBatchBytes || batch_.ends.size() >= kBatchLines) return Launch();
    return true;
  }

  // Converts and writes what is left; returns whether every line converted.
  // Input that fits one batch, and no long line before it, is converted
  // here: starting threads would cost more than it.
  bool Done() {
    if (!map_) {
      if (!ConvertBatch(batch_, writer_, sink_)) all_converted_ = false;
      return all_converted_;
    }
    if (Launch()) map_->Drain();
    return all_converted_;
  }

 private:
  // Enough lines that handing a batch over is a small part of its work, few
  // enough that the first results come soon.
  static constexpr size_t kBatchBytes = size_t{256} << 10;
  static constexpr size_t kBatchLines = 2048;
  static constexpr size_t kLongLineBytes = size_t{1} << 20;
  // Parentheses, AND and signs the two forms of a line add, on the whole.
  static constexpr size_t kFormsOverhead = 32;

  // What each worker runs: its own engine converts the batches it gets.
  static std::function<Converted(Batch&)> ConvertBatches(const Options& options) {
    auto writer = std::make_shared<ExpressionWriter>(options);
    return [writer](Batch& batch) {
      Converted converted;
      // Both forms of a line are about as long as the line, and a bit more.
      converted.results.Reserve(2 * batch.text.size() + kFormsOverhead * batch.ends.size());
      converted.all_converted = ConvertBatch(batch, *writer, converted.results);
      return converted;
    };
  }

  bool WriteResults(const Converted& converted) {
    if (!converted.all_converted) all_converted_ = false;
    return converted.results.WriteTo(sink_);
  }

  // Hands the batch gathered so far to the workers, started with the first.
  bool Launch() {
    if (batch_.ends.empty()) return true;
    if (!map_) {
      map_.emplace(
          options_.jobs, [this] { return ConvertBatches(options_); },
          [this](Converted& converted) { return WriteResults(converted); });
    }
    Batch batch = std::move(batch_);
    batch_ = Batch();
    return map_->Add(std::move(batch));
  }

  const Options& options_;
  StreamSink& sink_;
  ExpressionWriter& writer_;
  std::optional<OrderedParallelMap<Batch, Converted>> map_;  // started by the first batch
  Batch batch_;
  bool all_converted_ = true;
};

// Flushes `out` and reports whether everything written to it arrived.
int FinishOutput(std::ostream& out, std::ostream& err, int status) {
  out.flush();
  if (!out) {
    err << kProgram << ": cannot write to standard output\n";
    return kExitFailed;
  }
  return status;
}

// Converts what the options and standard input hold; returns whether every
// expression converted.
bool ConvertAll(const Options& options, std::istream& in, std::ostream& err, StreamSink& sink,
                bool flush_each_expression) {
  ExpressionWriter writer(options);
  bool all_converted = true;
  // A person at a terminal sees each result as soon as it is known, and so
  // one expression is converted at a time.
  auto convert = [&](std::string_view expression, const Source& source) {
    if (!writer.Convert(expression, source, sink)) all_converted = false;
    if (flush_each_expression) sink.Flush();
    return !sink.failed();
  };
  if (!options.expressions.empty()) {
    for (size_t i = 0; i < options.expressions.size(); ++i) {
      if (!convert(options.expressions[i], {"argument", i + 1})) break;
    }
    return all_converted;
  }
  InputReader reader(in);
  if (options.history) {
    std::string history;
    if (reader.ReadWhole(history) && !writer.ConvertHistory(history, sink)) all_converted = false;
  } else if (options.whole) {
    std::string expression;
    if (reader.ReadWhole(expression)) convert(expression, {});
  } else {
    std::optional<ParallelLines> batches;
    if (options.jobs > 1 && !flush_each_expression) batches.emplace(options, sink, writer);
    std::string_view line;
    uint64_t line_number = 0;
    while (reader.NextLine(line)) {
      ++line_number;
      if (!(batches ? batches->Add(line, line_number) : convert(line, {"line", line_number}))) {
        break;
      }
    }
    if (batches && !batches->Done()) all_converted = false;
  }
  if (reader.failed() && !sink.failed()) {
    sink.Flush();
    err << kProgram << ": cannot read standard input\n";
    all_converted = false;
  }
  return all_converted;
}

}  // namespace

int Run(std::span<char* const> args, std::istream& in, std::ostream& out, std::ostream& err,
        bool flush_each_expression) {
  const Options options = ParseArguments(args);
  if (!options.usage_error.empty()) {
    err << kProgram << ": " << options.usage_error << "\n"
        << Usage() << "Try 'boolconv-cli --help' for more information.\n";
    return kExitUsageError;
  }
  if (options.help) {
    out << Usage() << Help();
    return FinishOutput(out, err, kExitOk);
  }
  if (options.version) {
    out << kProgram << ' ' << BOOLCONV_VERSION << '\n';
    return FinishOutput(out, err, kExitOk);
  }
  StreamSink sink(out, err);
  bool all_converted = false;
  try {
    all_converted = ConvertAll(options, in, err, sink, flush_each_expression);
  } catch (const std::bad_alloc&) {
    // Each expression's own failures are caught as it converts; this is
    // memory running out around them, in reading or writing.
    sink.Flush();
    err << kProgram << ": out of memory\n";
    return kExitFailed;
  }
  sink.Flush();
  return FinishOutput(out, err, all_converted ? kExitOk : kExitFailed);
}

}  // namespace boolconv::cli
