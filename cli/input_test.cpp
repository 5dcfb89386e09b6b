// Standard input as lines and whole: line ends, the byte-order mark, and
// streams that fail to read.

#include "cli/input.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

namespace boolconv::cli {
namespace {

using namespace std::string_literals;

const std::string kMark = "\xEF\xBB\xBF";

std::vector<std::string> Lines(const std::string& input) {
  std::istringstream in(input);
  InputReader reader(in);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.NextLine(line)) lines.emplace_back(line);
  EXPECT_FALSE(reader.failed());
  return lines;
}

// Returns the whole expression, or "<none>" when the input holds none.
std::string Whole(const std::string& input) {
  std::istringstream in(input);
  InputReader reader(in);
  std::string expression;
  const bool read = reader.ReadWhole(expression);
  EXPECT_FALSE(reader.failed());
  return read ? expression : "<none>";
}

// Line ends, empty lines, and the byte-order mark at the very start only.
TEST(InputReader, Lines) {
  const struct {
    std::string input;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"\n", {""}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\r", {"a\r"}},  // a "\r" without "\n" is content
      {"a\n\n\nb\n", {"a", "", "", "b"}},
      {kMark, {}},  // the mark alone is no input
      {kMark + "\n", {""}},
      {kMark + "a\n" + kMark + "b", {"a", kMark + "b"}},
      {kMark + kMark + "a", {kMark + "a"}},
      {"\xEF\xBB", {"\xEF\xBB"}},  // part of a mark is content
      {std::string(3 << 20, 'x') + "\ny", {std::string(3 << 20, 'x'), "y"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input.substr(0, 20)));
    EXPECT_EQ(Lines(c.input), c.lines);
  }
}

// The whole input is one expression, its last line end and a mark in front
// left out; no bytes, or the mark alone, are no expression.
TEST(InputReader, Whole) {
  const struct {
    std::string input, expression;
  } cases[] = {
      {"", "<none>"},   {kMark, "<none>"},        {"\n", ""},
      {"\r\n", ""},     {"a\nor b\n", "a\nor b"}, {kMark + "(a b)\r\n", "(a b)"},
      {"a\n\n", "a\n"}, {"a\0b"s, "a\0b"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.input));
    EXPECT_EQ(Whole(c.input), c.expression);
  }
}

// A stream buffer that gives `good` bytes, then fails as a closed descriptor
// or a folder does: by throwing, as the standard file buffer does.
class FailingBuffer : public std::streambuf {
 public:
  explicit FailingBuffer(std::string good) : good_(std::move(good)) {
    setg(good_.data(), good_.data(), good_.data() + good_.size());
  }

 protected:
  int_type underflow() override {
    throw std::ios_base::failure("basic_filebuf::underflow error reading the file");
  }

 private:
  std::string good_;
};

// Both modes end at a read error and say so. Lines of the blocks read before
// it are given; the reader reads 1 MiB at a time.
TEST(InputReader, ReadErrors) {
  const std::string block = "a\n" + std::string((size_t{1} << 20) - 2, 'b');
  for (const bool throwing_stream : {false, true}) {
    SCOPED_TRACE(throwing_stream ? "stream set to throw" : "plain stream");
    {
      FailingBuffer buffer(block);
      std::istream in(&buffer);
      if (throwing_stream) in.exceptions(std::ios_base::badbit);
      InputReader reader(in);
      std::string_view line;
      std::vector<std::string> lines;
      while (reader.NextLine(line)) lines.emplace_back(line);
      EXPECT_TRUE(reader.failed());
      EXPECT_EQ(lines, (std::vector<std::string>{"a", block.substr(2)}));
    }
    {
      FailingBuffer buffer("a b");
      std::istream in(&buffer);
      if (throwing_stream) in.exceptions(std::ios_base::badbit);
      InputReader reader(in);
      std::string expression;
      EXPECT_FALSE(reader.ReadWhole(expression));
      EXPECT_TRUE(reader.failed());
    }
  }
}

}  // namespace
}  // namespace boolconv::cli
