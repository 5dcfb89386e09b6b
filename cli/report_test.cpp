// The output writers: text positions, JSON lines as the JSON library writes
// them, messages in order with the output, and a stop once output fails.

#include "cli/report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace boolconv::cli {
namespace {

using namespace std::string_literals;

// Collects output and messages in one text, messages marked "E:".
class RecordingSink : public Sink {
 public:
  void Append(std::string_view bytes) override { text += bytes; }
  void Message(std::string_view message) override { text += "E:" + std::string(message) + "\n"; }
  std::string text;
};

// Lines count at "\n"; columns count code points, of one to four bytes.
TEST(TextPositions, LinesAndColumns) {
  TextPositions positions("a\u00E9\U0001F600b\nc\r\n\nxy");
  const struct {
    size_t offset;
    uint64_t line, column;
  } cases[] = {
      {0, 1, 1}, {1, 1, 2}, {3, 1, 4},  {4, 1, 5},  {5, 2, 1},  {7, 2, 3},
      {8, 3, 1}, {9, 4, 1}, {10, 4, 2}, {11, 4, 3}, {99, 4, 3},  // past the end: the end
      {2, 1, 3},                                                 // back again
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(positions.At(c.offset), std::make_pair(c.line, c.column));
  }
}

// What the JSON library itself writes for the same outcome.
std::string LibraryJson(const Outcome& outcome) {
  nlohmann::ordered_json object;
  if (outcome.converted) {
    object["operator"] = outcome.result->operator_form;
    object["sign"] = outcome.result->sign_form;
  } else {
    object["error"] = outcome.error;
  }
  object["warnings"] = outcome.result->warnings;
  if (outcome.result->warnings_dropped > 0) {
    object["warnings_dropped"] = outcome.result->warnings_dropped;
  }
  if (outcome.diagnostics != nullptr) {
    object["diagnostics"] = nlohmann::ordered_json::array();
    for (const Diagnostic& d : *outcome.diagnostics) {
      object["diagnostics"].push_back({{"code", d.code},
                                       {"severity", SeverityName(d.severity)},
                                       {"message", d.message},
                                       {"start", d.start},
                                       {"end", d.end}});
    }
  }
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// Every kind of outcome, with strings that need escaping, is written byte
// for byte as the library writes it, and the result is left as it was.
TEST(WriteJson, SameAsTheJsonLibrary) {
  std::mt19937 random(7);
  auto text = [&random](size_t length) {
    const std::string pieces[] = {"a",    "\"",   "\\",     "\n",         "\r\n", "\t", "\x01",
                                  "\x1F", "\x7F", "\u00E9", "\U0001F600", " ",    "/",  "\0"s};
    std::string made;
    for (size_t i = 0; i < length; ++i) made += pieces[random() % std::size(pieces)];
    return made;
  };
  const std::vector<Diagnostic> diagnostics = {
      {"unclosed-quote", Severity::kWarning, text(20), 3, 4},
      {"joined-words", Severity::kInfo, "Replaced a tab \"\t\".", 0, 1},
  };
  for (int round = 0; round < 200; ++round) {
    Conversion result{text(round), text(round * 3), {}, static_cast<size_t>(round % 3)};
    for (int i = 0; i < round % 4; ++i) result.warnings.push_back(text(10));
    Outcome outcome{.converted = round % 5 != 0, .result = &result};
    if (!outcome.converted) outcome.error = round % 2 ? "bad \xFF byte" : text(8);
    if (round % 2) outcome.diagnostics = &diagnostics;
    const Conversion before = result;
    const std::string expected = LibraryJson(outcome);
    RecordingSink sink;
    WriteJson(sink, outcome);
    ASSERT_EQ(sink.text, expected) << round;
    EXPECT_EQ(result.operator_form, before.operator_form);
    EXPECT_EQ(result.sign_form, before.sign_form);
    EXPECT_EQ(result.warnings, before.warnings);
  }
}

// Text: diagnostics named by line and column, then the forms, or the error.
// Without diagnostics the warnings are written instead, then how many more
// there were; with them, the warnings (whose quotes they name) are not.
TEST(WriteText, MessagesThenForms) {
  const std::vector<Diagnostic> diagnostics = {
      {"joined-words", Severity::kWarning, "Joined.", 1, 2},
      {"trailing-operator", Severity::kInfo, "Trailing.", 4, 7},
  };
  const std::vector<Diagnostic> none;
  const std::string found =
      "E:boolconv-cli: line 10, column 2: warning: Joined. [joined-words]\n"
      "E:boolconv-cli: line 11, column 3: info: Trailing. [trailing-operator]\n";
  const struct {
    bool converted;
    const std::vector<Diagnostic>* diagnostics;
    size_t dropped;
    std::string text;
  } cases[] = {
      {true, nullptr, 3,
       "E:first\nE:second\nE:boolconv-cli: line 10: 3 more warnings not shown\n(op)\n(+sign)\n"},
      {true, nullptr, 0, "E:first\nE:second\n(op)\n(+sign)\n"},
      {true, &diagnostics, 3, found + "(op)\n(+sign)\n"},
      {true, &none, 3, "(op)\n(+sign)\n"},
      {false, nullptr, 0, "E:first\nE:second\nE:boolconv-cli: line 10: Failed.\n"},
      {false, &diagnostics, 0, found + "E:boolconv-cli: line 10: Failed.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Conversion result{"(op)", "(+sign)", {"first", "second"}, c.dropped};
    Outcome outcome{.converted = c.converted,
                    .result = &result,
                    .diagnostics = c.diagnostics,
                    .checked = c.diagnostics != nullptr};
    if (!c.converted) outcome.error = "Failed.";
    RecordingSink sink;
    WriteText(sink, {"line", 10}, "a\nb NOT", outcome);
    EXPECT_EQ(sink.text, c.text);
  }
}

// A stream buffer that refuses every byte, as a full disk does.
class FullBuffer : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
  int_type overflow(int_type) override { return traits_type::eof(); }
};

// Messages follow the output written before them; once output fails,
// nothing more is written anywhere.
TEST(StreamSink, OrderAndFailure) {
  std::ostringstream out, err;
  StreamSink sink(out, err);
  BufferSink batch;
  batch.Write("one");
  batch.Message("after one");
  batch.Append(std::string(100 << 10, 'x'));
  batch.Message("after many");
  EXPECT_TRUE(batch.WriteTo(sink));
  sink.Flush();
  EXPECT_EQ(out.str(), "one\n" + std::string(100 << 10, 'x'));
  EXPECT_EQ(err.str(), "after one\nafter many\n");

  FullBuffer full;
  std::ostream full_out(&full);
  std::ostringstream full_err;
  StreamSink failing(full_out, full_err);
  EXPECT_FALSE(batch.WriteTo(failing));
  failing.Message("never");
  EXPECT_TRUE(failing.failed());
  EXPECT_EQ(full_err.str(), "");
}

}  // namespace
}  // namespace boolconv::cli
