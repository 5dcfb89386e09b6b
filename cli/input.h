// boolconv-cli's standard input: read in large blocks, as lines or whole,
// with one policy for what is dropped and for read errors.

#ifndef BOOLCONV_CLI_INPUT_H_
#define BOOLCONV_CLI_INPUT_H_

#include <cstddef>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace boolconv::cli {

// Reads a stream once, either line by line (NextLine) or whole (ReadWhole).
// A UTF-8 byte-order mark at the very start is dropped: editors add it, and
// nobody types it. Input that holds nothing else holds no expression. A
// stream that fails to read (a closed descriptor, a folder, an I/O error;
// also a stream buffer that throws) ends the input and sets failed().
class InputReader {
 public:
  explicit InputReader(std::istream& in) : in_(in) {}

  // The next line, without its "\n" (and a "\r" before it), as a view valid
  // until the next call; false at the end of input. A last line without
  // "\n" keeps a "\r" at its end.
  bool NextLine(std::string_view& line);

  // Whether the last line NextLine gave ended with "\n".
  bool ended() const { return ended_; }

  // All of the input as one expression, without the line end of its last
  // line; false when the input holds no expression (nothing but a byte-order
  // mark, or nothing at all) or failed to read.
  bool ReadWhole(std::string& expression);

  // Whether reading failed; what was read before the failure was given out.
  bool failed() const { return failed_; }

 private:
  // Moves the unfinished line to the front of the buffer and reads a block
  // after it; false when nothing more could be read.
  bool Fill();
  // Drops the byte-order mark once the first bytes are in.
  void DropByteOrderMark();

  // Makes room for `bytes` bytes in all, keeping those read.
  void Reserve(size_t bytes);

  std::istream& in_;
  // Bytes read and not yet given out. Unlike a string's, this memory is not
  // cleared before it is read into: a short input touches a page of it, not
  // the whole block.
  std::unique_ptr<char[]> buffer_;
  size_t size_ = 0;  // bytes in `buffer_`
  size_t capacity_ = 0;
  size_t start_ = 0;    // where the next line begins in `buffer_`
  size_t scanned_ = 0;  // bytes of that line already searched for "\n"
  bool ended_ = false;
  bool failed_ = false;
  bool checked_mark_ = false;  // the start was looked at for a byte-order mark
};

}  // namespace boolconv::cli

#endif  // BOOLCONV_CLI_INPUT_H_
