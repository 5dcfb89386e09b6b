#include "cli/report.h"

#include <nlohmann/json.hpp>
#include <ostream>
#include <streambuf>

#include "cli/options.h"
#include "textfuncs/funclib.h"

namespace boolconv::cli {
namespace {

// Output between two messages of a batch at least this long is written
// straight from the batch rather than gathered in the stream's buffer.
constexpr size_t kDirectBytes = size_t{64} << 10;

constexpr bool IsContinuationByte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// A stream buffer that appends what is written to a sink, for the JSON
// library's stream output.
class SinkBuffer : public std::streambuf {
 public:
  explicit SinkBuffer(Sink& sink) : sink_(sink) {}

 protected:
  std::streamsize xsputn(const char* bytes, std::streamsize count) override {
    sink_.Append(std::string_view(bytes, static_cast<size_t>(count)));
    return count;
  }
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    sink_.Append(std::string_view(&byte, 1));
    return c;
  }

 private:
  Sink& sink_;
};

// Writes JSON values to a sink as they are serialized.
class JsonStream {
 public:
  explicit JsonStream(Sink& sink) : buffer_(sink), stream_(&buffer_) {}

  void Raw(std::string_view text) { stream_.write(text.data(), std::ssize(text)); }

  // Writes `text` as a JSON string without copying it: it is moved into a
  // JSON value for the writing, and back. Text that is not valid UTF-8 (an
  // exception's message may not be) has each bad sequence replaced by U+FFFD.
  void String(std::string& text) {
    if (FindInvalidUtf8(text) != std::string::npos) {
      Raw(nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
      return;
    }
    nlohmann::json value = std::move(text);
    stream_ << value;
    text = std::move(*value.get_ptr<std::string*>());
  }

  template <typename Scalar>
  void Value(const Scalar& value) {
    stream_ << nlohmann::json(value);
  }

 private:
  SinkBuffer buffer_;
  std::ostream stream_;
};

// ,"explain":{...}: the groups in the order Explain lists them (each after
// the groups it holds), each item naming its group by index.
void WriteExplanation(JsonStream& json, const Explanation& explanation) {
  json.Raw(",\"explain\":{\"converted\":");
  json.Value(explanation.converted);
  if (explanation.converted) {
    json.Raw(",\"root\":");
    json.Value(explanation.root);
  }
  json.Raw(",\"groups\":[");
  for (size_t g = 0; g < explanation.groups.size(); ++g) {
    const ExplainGroup& group = explanation.groups[g];
    json.Raw(g > 0 ? ",{\"start\":" : "{\"start\":");
    json.Value(group.start);
    json.Raw(",\"end\":");
    json.Value(group.end);
    json.Raw(",\"items\":[");
    for (size_t k = 0; k < group.items.size(); ++k) {
      const ExplainItem& item = group.items[k];
      json.Raw(k > 0 ? ",{\"kind\":" : "{\"kind\":");
      json.Value(item.kind == ExplainItem::Kind::kGroup    ? "group"
                 : item.kind == ExplainItem::Kind::kPhrase ? "phrase"
                                                           : "word");
      json.Raw(",\"role\":");
      json.Value(PresenceName(item.presence));
      json.Raw(",\"operator\":");
      json.Value(item.joined_by);
      json.Raw(",\"start\":");
      json.Value(item.start);
      json.Raw(",\"end\":");
      json.Value(item.end);
      if (item.kind == ExplainItem::Kind::kGroup) {
        json.Raw(",\"group\":");
        json.Value(item.group);
      }
      json.Raw("}");
    }
    json.Raw("]");
    if (group.mixed) {
      json.Raw(",\"readings\":{\"differ\":");
      json.Value(group.readings_differ);
      if (!group.left_to_right.empty()) {
        json.Raw(",\"left_to_right\":");
        json.Value(group.left_to_right);
        json.Raw(",\"and_first\":");
        json.Value(group.and_first);
        json.Raw(",\"or_first\":");
        json.Value(group.or_first);
      }
      json.Raw("}");
    }
    json.Raw("}");
  }
  json.Raw("],\"outside\":[");
  for (size_t k = 0; k < explanation.outside.size(); ++k) {
    if (k > 0) json.Raw(",");
    json.Value(explanation.outside[k]);
  }
  json.Raw("],\"unconverted\":[");
  for (size_t k = 0; k < explanation.unconverted.size(); ++k) {
    const UnconvertedGroups& lost = explanation.unconverted[k];
    json.Raw(k > 0 ? ",{\"quote\":" : "{\"quote\":");
    json.Value(lost.quote);
    json.Raw(",\"groups\":");
    json.Value(lost.groups);
    json.Raw(",\"whole_expression\":");
    json.Value(lost.whole_expression);
    json.Raw("}");
  }
  json.Raw("]}");
}

}  // namespace

void StreamSink::AppendBlock(std::string_view bytes, size_t direct) {
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

void StreamSink::Message(std::string_view text) {
  Flush();
  if (failed()) return;
  err_ << text << '\n';
}

void StreamSink::Flush() {
  out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
  pending_.clear();
  out_.flush();
}

bool StreamSink::failed() const { return !out_; }

bool BufferSink::WriteTo(StreamSink& sink) const {
  size_t written = 0;
  for (const auto& [at, text] : messages_) {
    sink.AppendBlock(std::string_view(out_).substr(written, at - written), kDirectBytes);
    sink.Message(text);
    if (sink.failed()) return false;
    written = at;
  }
  sink.AppendBlock(std::string_view(out_).substr(written), kDirectBytes);
  return !sink.failed();
}

std::string Name(const Source& source) {
  if (source.unit.empty()) return "input";
  return std::string(source.unit) + " " + std::to_string(source.number);
}

std::pair<uint64_t, uint64_t> TextPositions::At(size_t offset) {
  if (offset < code_point_) *this = TextPositions(text_);
  while (code_point_ < offset && byte_ < text_.size()) {
    const char first = text_[byte_++];
    while (byte_ < text_.size() && IsContinuationByte(text_[byte_])) ++byte_;
    ++code_point_;
    if (first == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
  }
  return {line_, column_};
}

void WriteText(Sink& sink, const Source& source, std::string_view expression, Outcome& outcome) {
  if (outcome.diagnostics != nullptr) {
    TextPositions positions(expression);
    // An argument holding line breaks names its line too.
    const bool named_lines =
        source.unit.empty() ||
        (source.unit == "argument" && expression.find('\n') != std::string_view::npos);
    for (const Diagnostic& d : *outcome.diagnostics) {
      const auto [line, column] = positions.At(d.start);
      std::string where;
      if (source.unit == "line") {
        where = "line " + std::to_string(source.number + line - 1);
      } else if (source.unit.empty()) {
        where = "line " + std::to_string(line);
      } else {
        where = Name(source);
        if (named_lines) where += ", line " + std::to_string(line);
      }
      sink.Message(std::string(kProgram) + ": " + where + ", column " + std::to_string(column) +
                   ": " + std::string(SeverityName(d.severity)) + ": " + d.message + " [" + d.code +
                   "]");
    }
  }
  const Conversion& result = *outcome.result;
  // The findings tell of every unclosed quote, with its position, so the
  // tokenizer's prompts about the same quotes are not written beside them.
  if (!outcome.checked) {
    for (const std::string& prompt : result.warnings) sink.Message(prompt);
    if (result.warnings_dropped > 0) {
      sink.Message(std::string(kProgram) + ": " + Name(source) + ": " +
                   std::to_string(result.warnings_dropped) + " more warnings not shown");
    }
  }
  if (outcome.history != nullptr && !outcome.history->combined.empty()) {
    sink.Write(ToUtf8(outcome.history->combined));
  }
  if (outcome.converted) {
    sink.Write(result.operator_form);
    sink.Write(result.sign_form);
    if (outcome.explanation != nullptr) {
      // The spans point into the input, whose text the tree names.
      sink.Append(DrawExplanation(*outcome.explanation, FromUtf8(expression)));
    }
  } else {
    sink.Message(std::string(kProgram) + ": " + Name(source) + ": " + outcome.error);
  }
}

void WriteJson(Sink& sink, Outcome& outcome) {
  JsonStream json(sink);
  Conversion& result = *outcome.result;
  if (outcome.history != nullptr) {
    const History& history = *outcome.history;
    json.Raw("{\"history\":{\"lines\":[");
    for (size_t i = 0; i < history.lines.size(); ++i) {
      const HistoryLine& line = history.lines[i];
      json.Raw(i > 0 ? ",{\"number\":" : "{\"number\":");
      json.Value(line.number);
      json.Raw(",\"expression\":");
      std::string expression = ToUtf8(line.expression);
      json.String(expression);
      json.Raw(",\"start\":");
      json.Value(line.start);
      json.Raw(",\"end\":");
      json.Value(line.end);
      json.Raw("}");
    }
    json.Raw("]");
    if (history.converted < history.lines.size()) {
      json.Raw(",\"line\":");
      json.Value(history.lines[history.converted].number);
    }
    json.Raw(",\"combined\":");
    std::string combined = ToUtf8(history.combined);
    json.String(combined);
    json.Raw("},");
  } else {
    json.Raw("{");
  }
  if (outcome.converted) {
    json.Raw("\"operator\":");
    json.String(result.operator_form);
    json.Raw(",\"sign\":");
    json.String(result.sign_form);
  } else {
    json.Raw("\"error\":");
    json.String(outcome.error);
  }
  json.Raw(",\"warnings\":[");
  for (size_t i = 0; i < result.warnings.size(); ++i) {
    if (i > 0) json.Raw(",");
    json.String(result.warnings[i]);
  }
  json.Raw("]");
  if (result.warnings_dropped > 0) {
    json.Raw(",\"warnings_dropped\":");
    json.Value(result.warnings_dropped);
  }
  if (outcome.explanation != nullptr) WriteExplanation(json, *outcome.explanation);
  if (outcome.diagnostics != nullptr) {
    json.Raw(",\"diagnostics\":[");
    bool first = true;
    for (const Diagnostic& d : *outcome.diagnostics) {
      json.Raw(first ? "" : ",");
      first = false;
      json.Raw("{\"code\":");
      json.Value(d.code);
      json.Raw(",\"severity\":");
      json.Value(SeverityName(d.severity));
      json.Raw(",\"message\":");
      std::string message = d.message;
      json.String(message);
      json.Raw(",\"start\":");
      json.Value(d.start);
      json.Raw(",\"end\":");
      json.Value(d.end);
      json.Raw("}");
    }
    json.Raw("]");
  }
  json.Raw("}\n");
}

}  // namespace boolconv::cli
