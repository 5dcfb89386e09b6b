#include "cli/input.h"

#include <algorithm>
#include <cstring>
#include <istream>

namespace boolconv::cli {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr size_t kBlockBytes = size_t{1} << 20;

}  // namespace

bool InputReader::NextLine(std::string_view& line) {
  for (;;) {
    const std::string_view unread(buffer_.get() + start_, size_ - start_);
    const size_t end = unread.find('\n', scanned_);
    if (end != std::string_view::npos) {
      size_t size = end;
      if (size > 0 && unread[end - 1] == '\r') --size;
      line = unread.substr(0, size);
      start_ += end + 1;
      scanned_ = 0;
      ended_ = true;
      return true;
    }
    scanned_ = unread.size();
    if (!Fill()) {
      // Input that is a byte-order mark alone is empty input: no expression.
      if (start_ == size_) return false;
      line = std::string_view(buffer_.get() + start_, size_ - start_);
      start_ = size_;
      ended_ = false;
      return true;
    }
  }
}

bool InputReader::ReadWhole(std::string& expression) {
  while (Fill()) {
  }
  // Nothing at all, or a byte-order mark alone, is no expression.
  if (failed_ || size_ == 0) return false;
  expression.assign(buffer_.get(), size_);
  buffer_.reset();
  size_ = capacity_ = start_ = 0;
  if (expression.ends_with('\n')) {
    expression.pop_back();
    if (expression.ends_with('\r')) expression.pop_back();
  }
  return true;
}

void InputReader::Reserve(size_t bytes) {
  if (bytes <= capacity_) return;
  const size_t capacity = std::max(bytes, 2 * capacity_);
  auto larger = std::make_unique_for_overwrite<char[]>(capacity);
  if (size_ > 0) std::memcpy(larger.get(), buffer_.get(), size_);
  buffer_ = std::move(larger);
  capacity_ = capacity;
}

bool InputReader::Fill() {
  if (failed_ || !in_) return false;
  if (start_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + start_, size_ - start_);
    size_ -= start_;
    start_ = 0;
  }
  const size_t kept = size_;
  try {
    // A line longer than a block: when the stream knows how much is left (a
    // file does), make room for all of it at once rather than doubling the
    // buffer, and copying the line, again and again.
    if (kept > 0) {
      const std::streamsize left = in_.rdbuf()->in_avail();
      if (left > 0) Reserve(kept + static_cast<size_t>(left) + kBlockBytes);
    }
    Reserve(kept + kBlockBytes);
    in_.read(buffer_.get() + kept, static_cast<std::streamsize>(kBlockBytes));
    size_ = kept + static_cast<size_t>(in_.gcount());
  } catch (const std::ios_base::failure&) {
    // A stream set to throw, or a stream buffer that throws on its own.
    size_ = kept;
    failed_ = true;
  }
  if (in_.bad()) failed_ = true;
  DropByteOrderMark();
  return size_ > kept;
}

void InputReader::DropByteOrderMark() {
  if (checked_mark_) return;
  // Wait until the mark's bytes are all in, or the input has ended.
  if (size_ < kUtf8ByteOrderMark.size() && in_ && !failed_) return;
  checked_mark_ = true;
  if (std::string_view(buffer_.get(), size_).starts_with(kUtf8ByteOrderMark)) {
    std::memmove(buffer_.get(), buffer_.get() + kUtf8ByteOrderMark.size(),
                 size_ - kUtf8ByteOrderMark.size());
    size_ -= kUtf8ByteOrderMark.size();
  }
}

}  // namespace boolconv::cli
