#include "cli/input.h"

#include <istream>

namespace boolconv::cli {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kBlockBytes = size_t{1} << 20;

}  // namespace

bool InputReader::NextLine(std::string_view& line) {
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
      // Input that is a byte-order mark alone is empty input: no expression.
      if (start_ == buffer_.size()) return false;
      line = std::string_view(buffer_).substr(start_);
      start_ = buffer_.size();
      ended_ = false;
      return true;
    }
  }
}

bool InputReader::ReadWhole(std::string& expression) {
  while (Fill()) {
  }
  // Nothing at all, or a byte-order mark alone, is no expression.
  if (failed_ || buffer_.empty()) return false;
  expression = std::move(buffer_);
  buffer_.clear();
  start_ = 0;
  if (expression.ends_with('\n')) {
    expression.pop_back();
    if (expression.ends_with('\r')) expression.pop_back();
  }
  return true;
}

bool InputReader::Fill() {
  if (failed_ || !in_) return false;
  buffer_.erase(0, start_);
  start_ = 0;
  const size_t kept = buffer_.size();
  try {
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
  } catch (const std::ios_base::failure&) {
    // A stream set to throw, or a stream buffer that throws on its own.
    buffer_.resize(kept);
    failed_ = true;
  }
  if (in_.bad()) failed_ = true;
  DropByteOrderMark();
  return buffer_.size() > kept;
}

void InputReader::DropByteOrderMark() {
  if (checked_mark_) return;
  // Wait until the mark's bytes are all in, or the input has ended.
  if (buffer_.size() < kUtf8ByteOrderMark.size() && in_ && !failed_) return;
  checked_mark_ = true;
  if (std::string_view(buffer_).starts_with(kUtf8ByteOrderMark)) {
    buffer_.erase(0, kUtf8ByteOrderMark.size());
  }
}

}  // namespace boolconv::cli
