// boolconv-cli's output: where results and messages go (sinks), and how one
// expression's result is written, as text or as a line of JSON. Writers
// stream: a result is never held twice, nor built into a document first.

#ifndef BOOLCONV_CLI_REPORT_H_
#define BOOLCONV_CLI_REPORT_H_

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/boolfuncs.h"
#include "diagnostics/diagnostics.h"
#include "diagnostics/explain.h"
#include "diagnostics/history.h"

namespace boolconv::cli {

// Where results go: standard output, and messages for standard error, each
// of which must come after the output written before it.
class Sink {
 public:
  virtual ~Sink() = default;
  // Appends `bytes` to standard output.
  virtual void Append(std::string_view bytes) = 0;
  // Writes `text` and a line break to standard error, after everything
  // appended to standard output so far.
  virtual void Message(std::string_view text) = 0;

  // Writes `text` and a line break to standard output.
  void Write(std::string_view text) {
    Append(text);
    Append("\n");
  }
};

// Writes to the streams, standard output through one large buffer. Once
// standard output has failed, nothing more is written anywhere: the caller
// stops and says so once.
class StreamSink : public Sink {
 public:
  StreamSink(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  // Gathers small pieces in one large buffer and hands them on in large
  // blocks; a piece of `direct` bytes or more goes out on its own, without a
  // copy.
  void Append(std::string_view bytes) override { AppendBlock(bytes, kOutputBufferBytes); }
  void AppendBlock(std::string_view bytes, size_t direct);
  void Message(std::string_view text) override;

  // Hands everything written so far to the output stream and flushes it.
  void Flush();

  // Whether writing to standard output has failed.
  bool failed() const;

 private:
  static constexpr size_t kOutputBufferBytes = size_t{1} << 20;

  std::ostream& out_;
  std::ostream& err_;
  std::string pending_;  // output not yet handed to `out_`
};

// Keeps output and messages in memory, in order, until they can be written:
// a batch of lines converted on another thread while earlier ones are
// written.
class BufferSink : public Sink {
 public:
  void Append(std::string_view bytes) override { out_.append(bytes); }
  void Message(std::string_view text) override { messages_.emplace_back(out_.size(), text); }

  void Reserve(size_t bytes) { out_.reserve(bytes); }

  // Writes everything to `sink` in the order it came, the long stretches of
  // output between messages straight from here. False when `sink` failed.
  bool WriteTo(StreamSink& sink) const;

 private:
  std::string out_;
  std::vector<std::pair<size_t, std::string>> messages_;  // and where in out_ each belongs
};

// Where an expression came from, to name it in messages: "line 3",
// "argument 2", or a whole input whose own lines are counted.
struct Source {
  std::string_view unit;  // "line" or "argument"; empty for a whole input
  uint64_t number = 0;
};

// "line 3", "argument 2", or "input" for a whole input.
std::string Name(const Source& source);

// Finds the line and column (both from 1) of code points of a UTF-8 text,
// counting lines at "\n". Asked in ascending order, as diagnostics come, it
// reads the text once in all; a smaller offset starts it over.
class TextPositions {
 public:
  explicit TextPositions(std::string_view utf8) : text_(utf8) {}

  // The line and column of code point `offset`; past the end, those of the end.
  std::pair<uint64_t, uint64_t> At(size_t offset);

 private:
  std::string_view text_;
  size_t byte_ = 0;
  size_t code_point_ = 0;
  uint64_t line_ = 1;
  uint64_t column_ = 1;
};

// One expression's outcome, as the writers take it. The strings of `result`
// are moved out while they are written and put back after.
struct Outcome {
  bool converted = false;
  std::string error = {};  // when not converted
  Conversion* result = nullptr;
  // Diagnostics, sorted by position; null when none were asked for.
  const std::vector<Diagnostic>* diagnostics = nullptr;
  // Whether the diagnostics hold Check's findings, which tell of every
  // unclosed quote with its place: then the tokenizer's prompts are not
  // written beside them.
  bool checked = false;
  // With --history: the history read, whose combined expression converted.
  const History* history = nullptr;
  // With --explain: how the expression is grouped, spans in the input.
  const Explanation* explanation = nullptr;
};

// Writes `outcome` as text: each diagnostic as a message, or, when no
// diagnostics were asked for, each warning and then how many more there
// were; then the two forms, or the error as a message. `expression` (valid
// UTF-8) is the text as given, whose lines and columns name the diagnostics.
void WriteText(Sink& sink, const Source& source, std::string_view expression, Outcome& outcome);

// Writes `outcome` as one line of JSON: {"operator","sign"} or {"error"},
// then "warnings", "warnings_dropped" when warnings were left out, and
// "diagnostics" when asked for.
void WriteJson(Sink& sink, Outcome& outcome);

}  // namespace boolconv::cli

#endif  // BOOLCONV_CLI_REPORT_H_
