#include "cli/cli.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <future>
#include <istream>
#include <iterator>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "textfuncs/funclib.h"

namespace boolconv::cli {
namespace {

constexpr std::string_view kProgram = "boolconv-cli";

constexpr std::string_view kUsage =
    "Usage: boolconv-cli [--json] [--check] [--tidy] [--capitals] [--whole] [--jobs=N]\n"
    "                    [EXPRESSION ...]\n";

constexpr std::string_view kHelp =
    "Converts Boolean search expressions into the operator form and the sign form.\n"
    "\n"
    "With EXPRESSION arguments, each argument is one expression. Without any,\n"
    "each line of standard input is one expression.\n"
    "\n"
    "For each expression the operator form is written on one line and the sign\n"
    "form on the next. A tokenizer warning goes to standard error; so does a\n"
    "failed expression, named by its line number (or the number of the\n"
    "expression argument), with nothing written to standard output for it.\n"
    "\n"
    "Options:\n"
    "  --json     write one JSON object per expression and line instead:\n"
    "             {\"operator\":...,\"sign\":...,\"warnings\":[...]} or\n"
    "             {\"error\":...,\"warnings\":[...]}\n"
    "  --check    also report what the conversion does to each expression\n"
    "             (an unclosed quote, a line break that joins two words, an\n"
    "             operator word read as a search word, ...): on standard error\n"
    "             as \"boolconv-cli: line L, column C: warning: MESSAGE [CODE]\",\n"
    "             or with --json as \"diagnostics\":[{\"code\",\"severity\",\n"
    "             \"message\",\"start\",\"end\"}]; the exit status is 1 when any\n"
    "             of them is a warning or an error\n"
    "  --tidy     turn line breaks, tabs and other spacing characters into\n"
    "             spaces and typographic double quotes into \" before converting,\n"
    "             and report each change as a diagnostic\n"
    "  --capitals with --tidy (which it implies), also write every and/or/not\n"
    "             that acts as an operator in capitals\n"
    "  --whole    read all of standard input as one expression, for strategies\n"
    "             written over several lines\n"
    "  --jobs=N   convert the lines of standard input on N threads at once\n"
    "             (default: one per core); the results keep the order of the\n"
    "             lines, and at a terminal lines convert one at a time\n"
    "  --help     show this help and exit\n"
    "  --version  show the version and exit\n"
    "  --         end of options: later arguments are expressions, even if\n"
    "             they begin with \"-\"\n"
    "\n"
    "Input and output are UTF-8; a byte-order mark at the start of standard\n"
    "input is dropped. Diagnostic positions (\"start\", \"end\") count Unicode\n"
    "code points from 0, end exclusive.\n"
    "Exit status: 0 if every expression converted (and, with --check, drew no\n"
    "warning or error), 1 otherwise, 2 for a usage error.\n";

// Some editors begin a UTF-8 file with the encoded U+FEFF; it marks the
// encoding and is not part of the first expression.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The most threads --jobs may ask for.
constexpr unsigned kMostJobs = 256;

// One thread per core.
unsigned DefaultJobs() { return std::max(1u, std::thread::hardware_concurrency()); }

struct Options {
  bool json = false;
  bool check = false;
  bool tidy = false;
  bool capitals = false;
  bool whole = false;
  bool help = false;
  bool version = false;
  unsigned jobs = DefaultJobs();  // threads converting lines of standard input
  std::vector<std::string_view> expressions;
  std::string usage_error;  // set on a usage error
};

// Where an expression came from, to name it in messages: "line 3",
// "argument 2", or a whole input whose own lines are counted.
struct Source {
  std::string_view unit;  // "line" or "argument"; empty for a whole input
  uint64_t number = 0;
};

// "line 3", "argument 2", or "input" for a whole input.
std::string Name(const Source& source) {
  if (source.unit.empty()) return "input";
  return std::string(source.unit) + " " + std::to_string(source.number);
}

// "line 4, column 7" for a diagnostic starting at code point `start` of
// `expression`. An argument holding line breaks names its line too.
std::string Where(const Source& source, const Text& expression, size_t start) {
  uint64_t line = 1;
  uint64_t column = 1;
  for (size_t unit = 0, code_point = 0; unit < expression.size() && code_point < start;
       ++code_point) {
    const char16_t first = expression[unit++];
    if (first >= 0xD800 && first <= 0xDBFF && unit < expression.size() &&
        expression[unit] >= 0xDC00 && expression[unit] <= 0xDFFF) {
      ++unit;
    }
    if (first == u'\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  const std::string at = "column " + std::to_string(column);
  if (source.unit.empty()) return "line " + std::to_string(line) + ", " + at;
  if (source.unit == "line") return "line " + std::to_string(source.number + line - 1) + ", " + at;
  return expression.find(u'\n') == Text::npos
             ? Name(source) + ", " + at
             : Name(source) + ", line " + std::to_string(line) + ", " + at;
}

// Where results go: lines of standard output, and messages for standard
// error, each of which must come after the output written before it.
class Sink {
 public:
  virtual ~Sink() = default;
  // Writes `text` and a line break to standard output.
  virtual void Write(std::string_view text) = 0;
  // Writes `text` and a line break to standard error, after everything
  // written to standard output so far.
  virtual void Message(std::string_view text) = 0;
};

// Writes to the streams, standard output through one large buffer.
class StreamSink : public Sink {
 public:
  StreamSink(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  void Write(std::string_view text) override {
    WriteBytes(text);
    WriteBytes("\n");
  }

  // Writes `bytes` as they are: small pieces gathered in one large buffer and
  // handed on in large blocks; a piece of `direct` bytes or more goes out on
  // its own, without a copy.
  void WriteBytes(std::string_view bytes, size_t direct = kOutputBufferBytes) {
    if (pending_.size() + bytes.size() >= kOutputBufferBytes || bytes.size() >= direct) {
      out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
      pending_.clear();
      if (bytes.size() >= direct) {
        out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return;
      }
    }
    pending_.append(bytes);
  }

  void Message(std::string_view text) override {
    Flush();
    err_ << text << '\n';
  }

  // Hands everything written so far to the output stream and flushes it.
  void Flush() {
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
    out_.flush();
  }

 private:
  static constexpr size_t kOutputBufferBytes = size_t{1} << 20;

  std::ostream& out_;
  std::ostream& err_;
  std::string pending_;  // results not yet handed to `out_`
};

// Keeps results in memory, in order, until they can be written: a batch of
// lines converted on another thread while earlier ones are written.
class BufferSink : public Sink {
 public:
  void Write(std::string_view text) override {
    out_.append(text);
    out_.push_back('\n');
  }
  void Message(std::string_view text) override {
    messages_.push_back({out_.size(), std::string(text)});
  }

  void Reserve(size_t bytes) { out_.reserve(bytes); }

  // Writes everything to `sink` in the order it came; the long stretches of
  // results between messages straight from here.
  void WriteTo(StreamSink& sink) const {
    size_t written = 0;
    for (const auto& [at, text] : messages_) {
      sink.WriteBytes(std::string_view(out_).substr(written, at - written), kDirectBytes);
      sink.Message(text);
      written = at;
    }
    sink.WriteBytes(std::string_view(out_).substr(written), kDirectBytes);
  }

 private:
  static constexpr size_t kDirectBytes = size_t{64} << 10;

  std::string out_;
  std::vector<std::pair<size_t, std::string>> messages_;  // and where in out_ each belongs
};

// Converts expressions one at a time with one engine object and writes each
// result to a sink as soon as it is known.
class ExpressionWriter {
 public:
  ExpressionWriter(const Options& options, Sink& sink) : options_(options), sink_(&sink) {}

  // Sends later results to `sink`.
  void set_sink(Sink& sink) { sink_ = &sink; }

  // Converts UTF-8 `expression` and writes the result. `source` names the
  // expression in messages. Returns false when the expression failed, or,
  // with --check, drew a warning or an error.
  bool Convert(std::string_view expression, const Source& source) {
    std::string error;
    std::vector<Diagnostic> diagnostics;
    bool converted = false;
    try {
      if ((options_.check || options_.tidy) && FindInvalidUtf8(expression) == std::string::npos) {
        // The diagnostics read UTF-16, with positions in code points.
        Text input = FromUtf8(expression);
        // Lines and columns are those of the input as given, not as tidied.
        const Text as_given = options_.tidy && !options_.json ? input : Text();
        Diagnose(input, diagnostics);
        WriteDiagnostics(source, options_.tidy ? as_given : input, diagnostics);
        engine_.Convert(options_.tidy ? ToUtf8(input) : expression, result_);
      } else {
        // Invalid UTF-8 fails here, with the byte it fails at.
        engine_.Convert(expression, result_);
      }
      converted = true;
    } catch (const std::exception& e) {
      // boolconv::Error's what() is its description; anything else (such as
      // running out of memory on a huge line) fails this expression only.
      error = e.what();
      if (error.empty()) error = "Unknown error.";
    }
    if (options_.json) {
      WriteJson(converted, std::move(error), diagnostics);
    } else {
      for (const std::string& prompt : result_.warnings) sink_->Message(prompt);
      if (converted) {
        sink_->Write(result_.operator_form);
        sink_->Write(result_.sign_form);
      } else {
        sink_->Message(std::string(kProgram) + ": " + Name(source) + ": " + error);
      }
    }
    const bool drew_warning =
        options_.check && std::any_of(diagnostics.begin(), diagnostics.end(),
                                      [](const auto& d) { return d.severity != Severity::kInfo; });
    return converted && !drew_warning;
  }

 private:
  // Tidies `input` in place (its length in code points does not change, so
  // positions hold for both texts) and lists what --tidy and --check report.
  void Diagnose(Text& input, std::vector<Diagnostic>& diagnostics) const {
    if (options_.tidy) {
      TidyResult tidied = Tidy(input, {.capitalize_operators = options_.capitals});
      input = std::move(tidied.expression);
      diagnostics = std::move(tidied.repairs);
    }
    if (options_.check) {
      std::vector<Diagnostic> found = Check(input);
      diagnostics.insert(diagnostics.end(), std::make_move_iterator(found.begin()),
                         std::make_move_iterator(found.end()));
      std::stable_sort(diagnostics.begin(), diagnostics.end(), [](const auto& a, const auto& b) {
        return a.start < b.start || (a.start == b.start && a.end < b.end);
      });
    }
  }

  void WriteDiagnostics(const Source& source, const Text& input,
                        const std::vector<Diagnostic>& diagnostics) {
    if (options_.json) return;
    for (const Diagnostic& d : diagnostics) {
      sink_->Message(std::string(kProgram) + ": " + Where(source, input, d.start) + ": " +
                     std::string(SeverityName(d.severity)) + ": " + d.message + " [" + d.code +
                     "]");
    }
  }

  void WriteJson(bool converted, std::string error, const std::vector<Diagnostic>& diagnostics) {
    nlohmann::ordered_json object;
    if (converted) {
      object["operator"] = result_.operator_form;
      object["sign"] = result_.sign_form;
    } else {
      object["error"] = std::move(error);
    }
    object["warnings"] = result_.warnings;
    if (options_.check || options_.tidy) {
      nlohmann::ordered_json list = nlohmann::ordered_json::array();
      for (const Diagnostic& d : diagnostics) {
        list.push_back({{"code", d.code},
                        {"severity", SeverityName(d.severity)},
                        {"message", d.message},
                        {"start", d.start},
                        {"end", d.end}});
      }
      object["diagnostics"] = std::move(list);
    }
    // The engine's strings are valid UTF-8 (its input was checked); a
    // library's exception text might not be, and must not break the line.
    sink_->Write(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }

  const Options& options_;
  Sink* sink_;
  BoolFuncs engine_;
  Conversion result_;  // of the current expression; its memory serves the next one
};

// Reads standard input in large blocks and splits it into lines without
// copying them: a line is a view into the block, valid until the next call.
class LineReader {
 public:
  explicit LineReader(std::istream& in) : in_(in) {}

  // The next line, without its "\n" (and a "\r" before it); false at the
  // end of input. A last line without "\n" keeps a "\r" at its end.
  bool Next(std::string_view& line) {
    for (;;) {
      const size_t end = buffer_.find('\n', start_ + scanned_);
      if (end != std::string::npos) {
        size_t size = end - start_;
        if (size > 0 && buffer_[end - 1] == '\r') --size;
        line = std::string_view(buffer_).substr(start_, size);
        start_ = end + 1;
        scanned_ = 0;
        ended_ = true;
        return true;
      }
      scanned_ = buffer_.size() - start_;
      if (!Fill()) {
        if (start_ == buffer_.size()) return false;
        line = std::string_view(buffer_).substr(start_);
        start_ = buffer_.size();
        ended_ = false;
        return true;
      }
    }
  }

  // Whether the last line Next gave ended with "\n".
  bool ended() const { return ended_; }

 private:
  static constexpr size_t kBlockBytes = size_t{1} << 20;

  // Moves the unfinished line to the front and reads a block after it.
  // False when nothing more could be read.
  bool Fill() {
    if (!in_) return false;
    buffer_.erase(0, start_);
    start_ = 0;
    const size_t kept = buffer_.size();
    // A line longer than a block: when the stream knows how much is left (a
    // file does), make room for all of it at once rather than doubling the
    // buffer, and copying the line, again and again.
    if (kept > 0) {
      const std::streamsize left = in_.rdbuf()->in_avail();
      if (left > 0) buffer_.reserve(kept + static_cast<size_t>(left) + kBlockBytes);
    }
    buffer_.resize(kept + kBlockBytes);
    in_.read(buffer_.data() + kept, static_cast<std::streamsize>(kBlockBytes));
    buffer_.resize(kept + static_cast<size_t>(in_.gcount()));
    return buffer_.size() > kept;
  }

  std::istream& in_;
  std::string buffer_;
  size_t start_ = 0;    // where the next line begins in `buffer_`
  size_t scanned_ = 0;  // bytes of that line already searched for "\n"
  bool ended_ = false;
};

// Splits the command line into options and expressions. Options may appear
// anywhere before "--"; any other argument that begins with "-" (including
// "-" itself) is an unknown option.
Options ParseArguments(std::span<char* const> args) {
  Options options;
  bool options_ended = false;
  for (const char* arg : args) {
    const std::string_view text(arg);
    if (options_ended || text.empty() || text.front() != '-') {
      options.expressions.push_back(text);
    } else if (text == "--") {
      options_ended = true;
    } else if (text == "--json") {
      options.json = true;
    } else if (text == "--check") {
      options.check = true;
    } else if (text == "--tidy") {
      options.tidy = true;
    } else if (text == "--capitals") {
      options.tidy = options.capitals = true;
    } else if (text == "--whole") {
      options.whole = true;
    } else if (text.starts_with("--jobs=")) {
      const std::string_view count = text.substr(std::string_view("--jobs=").size());
      unsigned jobs = 0;
      const auto [end, failure] = std::from_chars(count.data(), count.data() + count.size(), jobs);
      if (failure != std::errc() || end != count.data() + count.size() || jobs == 0 ||
          jobs > kMostJobs) {
        if (options.usage_error.empty()) {
          options.usage_error = "--jobs needs a number of threads from 1 to " +
                                std::to_string(kMostJobs) + ", not '" + std::string(count) + "'";
        }
      } else {
        options.jobs = jobs;
      }
    } else if (text == "--help") {
      options.help = true;
    } else if (text == "--version") {
      options.version = true;
    } else if (options.usage_error.empty()) {
      options.usage_error = "unknown option '" + std::string(text) + "'";
    }
  }
  if (options.usage_error.empty() && options.whole && !options.expressions.empty()) {
    options.usage_error = "--whole reads standard input and takes no EXPRESSION arguments";
  }
  return options;
}

// Flushes `out` and reports whether everything written to it arrived.
int FinishOutput(std::ostream& out, std::ostream& err, int status) {
  out.flush();
  if (!out) {
    err << kProgram << ": cannot write to standard output\n";
    return kExitFailed;
  }
  return status;
}

// All of `in` as one expression, without the line end of its last line or a
// byte-order mark in front, which editors add but nobody types.
bool ReadWhole(std::istream& in, std::string& expression) {
  expression.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (expression.starts_with(kUtf8ByteOrderMark)) expression.erase(0, kUtf8ByteOrderMark.size());
  if (expression.ends_with('\n')) {
    expression.pop_back();
    if (expression.ends_with('\r')) expression.pop_back();
  }
  return !in.bad();
}

// Converts the lines of standard input on `jobs` threads at once: lines are
// gathered in batches, each batch converted by the next of `jobs` workers,
// each with an engine of its own, and the results written in the order of
// the lines as the batches finish. A line too long to be worth copying into
// a batch is converted in place, in its turn, by `writer`.
class ParallelLines {
 public:
  ParallelLines(const Options& options, unsigned jobs, StreamSink& sink, ExpressionWriter& writer)
      : sink_(sink), writer_(writer) {
    for (unsigned i = 0; i < jobs; ++i) workers_.push_back(std::make_unique<Worker>(options));
  }

  void Add(std::string_view line, uint64_t number) {
    if (line.size() >= kLongLineBytes) {
      Launch();
      while (!running_.empty()) Finish();
      if (!writer_.Convert(line, {"line", number})) all_converted_ = false;
      return;
    }
    if (batch_.ends.empty()) batch_.first_line = number;
    batch_.text.append(line);
    batch_.ends.push_back(batch_.text.size());
    if (batch_.text.size() >= kBatchBytes || batch_.ends.size() >= kBatchLines) Launch();
  }

  // Converts and writes what is left; returns whether every line converted.
  bool Done() {
    Launch();
    while (!running_.empty()) Finish();
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

  struct Batch {
    std::string text;          // the lines one after the other
    std::vector<size_t> ends;  // where each line ends in `text`
    uint64_t first_line = 0;
  };
  struct Converted {
    BufferSink results;
    bool all_converted = true;
  };

  // A thread that converts the batches handed to it, in turn, with one
  // engine for all of them.
  class Worker {
   public:
    explicit Worker(const Options& options) : thread_([this, &options] { Run(options); }) {}
    ~Worker() {
      {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
      }
      ready_.notify_one();
      thread_.join();
    }

    std::future<Converted> Submit(Batch batch) {
      std::promise<Converted> promise;
      std::future<Converted> future = promise.get_future();
      {
        const std::lock_guard lock(mutex_);
        jobs_.push_back({std::move(batch), std::move(promise)});
      }
      ready_.notify_one();
      return future;
    }

   private:
    struct Job {
      Batch batch;
      std::promise<Converted> promise;
    };

    void Run(const Options& options) {
      BufferSink unused;
      ExpressionWriter writer(options, unused);
      for (;;) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        Converted converted;
        // Both forms of a line are about as long as the line, and a bit more.
        converted.results.Reserve(2 * job.batch.text.size() +
                                  kFormsOverhead * job.batch.ends.size());
        writer.set_sink(converted.results);
        size_t start = 0;
        const Batch& batch = job.batch;
        for (size_t i = 0; i < batch.ends.size(); ++i) {
          const std::string_view line =
              std::string_view(batch.text).substr(start, batch.ends[i] - start);
          if (!writer.Convert(line, {"line", batch.first_line + i})) {
            converted.all_converted = false;
          }
          start = batch.ends[i];
        }
        job.promise.set_value(std::move(converted));
      }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;  // last: it starts once the members it uses exist
  };

  void Launch() {
    if (batch_.ends.empty()) return;
    running_.push_back(workers_[next_worker_]->Submit(std::move(batch_)));
    next_worker_ = (next_worker_ + 1) % workers_.size();
    batch_ = Batch();
    // One batch more than workers, so that a worker never waits for the
    // writing of another's results.
    if (running_.size() > workers_.size()) Finish();
  }

  void Finish() {
    const Converted converted = running_.front().get();
    running_.pop_front();
    converted.results.WriteTo(sink_);
    if (!converted.all_converted) all_converted_ = false;
  }

  StreamSink& sink_;
  ExpressionWriter& writer_;
  std::vector<std::unique_ptr<Worker>> workers_;
  size_t next_worker_ = 0;
  Batch batch_;
  std::deque<std::future<Converted>> running_;
  bool all_converted_ = true;
};

}  // namespace

int Run(std::span<char* const> args, std::istream& in, std::ostream& out, std::ostream& err,
        bool flush_each_expression) {
  Options options = ParseArguments(args);
  if (!options.usage_error.empty()) {
    err << kProgram << ": " << options.usage_error << "\n"
        << kUsage << "Try 'boolconv-cli --help' for more information.\n";
    return kExitUsageError;
  }
  if (options.help) {
    out << kUsage << kHelp;
    return FinishOutput(out, err, kExitOk);
  }
  if (options.version) {
    out << kProgram << ' ' << BOOLCONV_VERSION << '\n';
    return FinishOutput(out, err, kExitOk);
  }

  StreamSink sink(out, err);
  ExpressionWriter writer(options, sink);
  bool all_converted = true;
  // A person at a terminal sees each result as soon as it is known, and so
  // one expression is converted at a time.
  auto convert = [&](std::string_view expression, const Source& source) {
    if (!writer.Convert(expression, source)) all_converted = false;
    if (flush_each_expression) sink.Flush();
  };
  if (!options.expressions.empty()) {
    for (size_t i = 0; i < options.expressions.size() && out; ++i) {
      convert(options.expressions[i], {"argument", i + 1});
    }
  } else if (options.whole) {
    std::string expression;
    if (ReadWhole(in, expression)) {
      convert(expression, {});
    } else {
      err << kProgram << ": cannot read standard input\n";
      all_converted = false;
    }
  } else {
    std::optional<ParallelLines> batches;
    if (options.jobs > 1 && !flush_each_expression)
      batches.emplace(options, options.jobs, sink, writer);
    LineReader reader(in);
    std::string_view line;
    uint64_t line_number = 0;
    while (out && reader.Next(line)) {
      ++line_number;
      if (line_number == 1 && line.starts_with(kUtf8ByteOrderMark)) {
        line.remove_prefix(kUtf8ByteOrderMark.size());
        // Input that is a byte-order mark alone is empty input: no expression.
        if (line.empty() && !reader.ended()) break;
      }
      if (batches) {
        batches->Add(line, line_number);
      } else {
        convert(line, {"line", line_number});
      }
    }
    if (batches && !batches->Done()) all_converted = false;
    if (in.bad()) {
      sink.Flush();
      err << kProgram << ": cannot read standard input\n";
      all_converted = false;
    }
  }
  sink.Flush();
  return FinishOutput(out, err, all_converted ? kExitOk : kExitFailed);
}

}  // namespace boolconv::cli
