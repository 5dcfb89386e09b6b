#include "textfuncs/funclib.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace boolconv {

Error::Error(int32_t number, Text source, Text description)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      what_(ToUtf8(description_)) {}

Error InvalidCallError() { return Error(kInvalidCallError, kAppName, kInvalidCallDescription); }

namespace {

// One per thread: conversions on different threads deliver their warnings to
// their own thread's handler without any locking.
WarningHandler& InstalledHandler() {
  thread_local WarningHandler handler;
  return handler;
}

// Without a window the prompt is still worth seeing; stderr is where a
// terminal user looks for it.
void PrintWarning(const Text& prompt) {
  const std::string line = ToUtf8(prompt) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

WarningHandler SetWarningHandler(WarningHandler handler) {
  return std::exchange(InstalledHandler(), std::move(handler));
}

void ShowWarning(const Text& title, const Text& prompt, int32_t style) {
  if (const WarningHandler& handler = InstalledHandler()) {
    handler(title, prompt, style);
  } else {
    PrintWarning(prompt);
  }
}

Text Trim(const Text& text) {
  const size_t first = text.find_first_not_of(u' ');
  if (first == Text::npos) return Text();
  const size_t last = text.find_last_not_of(u' ');
  return text.substr(first, last - first + 1);
}

std::string ToUtf8(const Text& text) {
  // Written through a pointer into room for the longest encoding, then cut
  // to size: appending byte by byte costs more than the encoding itself.
  std::string out(3 * text.size(), '\0');
  char* next = out.data();
  auto put = [&next](uint32_t byte) { *next++ = static_cast<char>(byte); };
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t code = text[i];
    if (code < 0x80) {
      put(code);
      continue;
    }
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;  // an unpaired surrogate has no UTF-8 form
    }
    if (code < 0x800) {
      put(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
      put(0xE0 | (code >> 12));
      put(0x80 | ((code >> 6) & 0x3F));
    } else {
      put(0xF0 | (code >> 18));
      put(0x80 | ((code >> 12) & 0x3F));
      put(0x80 | ((code >> 6) & 0x3F));
    }
    put(0x80 | (code & 0x3F));
  }
  out.resize(static_cast<size_t>(next - out.data()));
  return out;
}

namespace {

constexpr uint64_t kHighBits = 0x8080808080808080u;
constexpr size_t kWordBytes = sizeof(uint64_t);

// The length of the valid UTF-8 sequence at the start of `bytes`, or 0 when
// none starts there. The ranges of the second byte rule out overlong forms,
// surrogates and code points above U+10FFFF.
size_t SequenceLength(const unsigned char* bytes, size_t available) {
  const unsigned char lead = bytes[0];
  auto continuation = [&](size_t i, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return i < available && bytes[i] >= low && bytes[i] <= high;
  };
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;  // a continuation byte, or an overlong two-byte form
  if (lead < 0xE0) return continuation(1) ? 2 : 0;
  if (lead < 0xF0) {
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;   // overlong below U+0800
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;  // surrogates
    return continuation(1, low, high) && continuation(2) ? 3 : 0;
  }
  if (lead > 0xF4) return 0;
  const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;   // overlong below U+10000
  const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;  // above U+10FFFF
  return continuation(1, low, high) && continuation(2) && continuation(3) ? 4 : 0;
}

}  // namespace

size_t FindInvalidUtf8(std::string_view text) {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  size_t at = 0;
  while (at < size) {
    // Most text is ASCII: skip it a word at a time.
    while (at + kWordBytes <= size) {
      uint64_t word;
      std::memcpy(&word, bytes + at, kWordBytes);
      if (word & kHighBits) break;
      at += kWordBytes;
    }
    if (at == size) break;
    const size_t length = SequenceLength(bytes + at, size - at);
    if (length == 0) return at;
    at += length;
  }
  return std::string_view::npos;
}

Text FromUtf8(std::string_view text) {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
  Text out;
  out.resize(text.size());  // never more units than bytes
  char16_t* next = out.data();
  for (size_t at = 0; at < text.size();) {
    const size_t length = SequenceLength(bytes + at, text.size() - at);
    uint32_t code = bytes[at];
    switch (length) {
      case 0:
        code = 0xFFFD;
        break;
      case 2:
        code = ((code & 0x1F) << 6) | (bytes[at + 1] & 0x3F);
        break;
      case 3:
        code = ((code & 0x0F) << 12) | ((bytes[at + 1] & 0x3Fu) << 6) | (bytes[at + 2] & 0x3F);
        break;
      case 4:
        code = ((code & 0x07) << 18) | ((bytes[at + 1] & 0x3Fu) << 12) |
               ((bytes[at + 2] & 0x3Fu) << 6) | (bytes[at + 3] & 0x3F);
        break;
      default:
        break;
    }
    at += length == 0 ? 1 : length;
    if (code >= 0x10000) {
      *next++ = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      *next++ = static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      *next++ = static_cast<char16_t>(code);
    }
  }
  out.resize(static_cast<size_t>(next - out.data()));
  return out;
}

bool IsBlank(const Text& text) {
  if (text.find_first_not_of(u' ') == Text::npos) return true;
  return text.find_first_not_of(u'\0') == Text::npos;
}

int32_t CountOccurrences(const Text& text, const Text& sought) {
  if (sought.empty()) return 0;
  int32_t count = 0;  // stops at the largest count the result can hold
  // Resuming one unit after each match's start counts overlapping matches.
  for (size_t at = text.find(sought); at != Text::npos && count < INT32_MAX;
       at = text.find(sought, at + 1)) {
    ++count;
  }
  return count;
}

namespace {

bool StartsWith(const Text& text, const Text& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const Text& text, const Text& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Removes `delimiter` from the start of `text` and then from what is left's end.
void StripBothEnds(Text& text, const Text& delimiter) {
  if (StartsWith(text, delimiter)) text.erase(0, delimiter.size());
  if (EndsWith(text, delimiter)) text.erase(text.size() - delimiter.size());
}

}  // namespace

Text StripEnclosing(Text result, const Text& first, const Text& second) {
  if (result.size() < 2 * first.size()) return result;
  StripBothEnds(result, first);
  if (IsBlank(second)) return result;
  if (result.size() < 2 * second.size()) return result;
  StripBothEnds(result, second);
  return result;
}

namespace {

// Counts occurrences of `quote` lying wholly within [from, end) of `text`,
// overlapping ones included.
int64_t CountFrom(const Text& text, size_t from, size_t end, const Text& quote) {
  const std::u16string_view stretch = std::u16string_view(text).substr(from, end - from);
  int64_t count = 0;
  for (size_t at = stretch.find(quote); at != stretch.npos; at = stretch.find(quote, at + 1)) {
    ++count;
  }
  return count;
}

// Tracks how many times a quote occurs in a growing stretch [begin, end).
// Growing a token only appends units, so only matches that end in the
// appended part are new: counting just those (from the quote's length minus
// one units before the old end) keeps each token's count linear in its
// length instead of quadratic.
class QuoteCounter {
 public:
  QuoteCounter(const Text& working, const Text& quote, size_t begin)
      : working_(working), quote_(quote), begin_(begin), counted_to_(begin) {}

  // Extends the stretch to end at `end` and returns the count in [begin, end).
  int64_t CountTo(size_t end) {
    if (quote_.empty()) return 0;
    const size_t back = quote_.size() - 1;
    const size_t from = counted_to_ > begin_ + back ? counted_to_ - back : begin_;
    count_ += CountFrom(working_, from, end, quote_);
    // Matches ending at or before `end` are counted; the next scan starts
    // where a match could first end beyond it.
    counted_to_ = end;
    return count_;
  }

 private:
  const Text& working_;
  const Text& quote_;
  size_t begin_;
  size_t counted_to_;
  int64_t count_ = 0;
};

}  // namespace

int32_t GetTokens(Text text, Text delimiter, TokenList& tokens, const Text& opening_quote_arg,
                  bool pass_on, Text& closing_quote_arg) {
  // Positions below are 0-based offsets into the working copy; a delimiter
  // "at d" occupies [d, d + delimiter.size()).
  Text working;
  try {
    // Own copies of the quotes: a caller may pass items of `tokens` itself,
    // which the list is about to drop.
    const Text opening_quote = opening_quote_arg;
    Text closing_quote = closing_quote_arg;
    const bool opening_blank = IsBlank(opening_quote);
    const bool closing_blank = IsBlank(closing_quote);
    if (opening_blank && !closing_blank) {
      closing_quote.clear();
      closing_quote_arg.clear();
    }
    const bool paired = !IsBlank(closing_quote);
    const bool single = !opening_blank && !paired;

    tokens.clear();
    // Framed in the text's own buffer: a long text is not held twice.
    working = std::move(text);
    working.insert(0, delimiter);
    // An empty delimiter would stand everywhere and split nothing: reject it
    // through the same trap as every other error of this procedure.
    if (delimiter.empty()) throw InvalidCallError();

    // Delimiters are found left to right without overlapping, starting with
    // the leading one. The text is closed by a delimiter of its own when the
    // last one found ends it; otherwise one is appended. A delimiter that
    // could overlap itself ("::") must not be found straddling the text's
    // end and the appended one, which would eat the text's last units.
    const size_t step = delimiter.size();
    const size_t text_end = working.size();
    size_t last = 0;
    if (step == 1) {
      last = working.rfind(delimiter);  // one unit cannot overlap: all are found
    } else {
      for (size_t at = working.find(delimiter, step); at != Text::npos;
           at = working.find(delimiter, at + step)) {
        last = at;
      }
    }
    const bool closed_by_text = last + step == text_end;
    if (!closed_by_text) working += delimiter;
    auto next_delimiter = [&](size_t after) {
      if (after < last) return working.find(delimiter, after + step);
      if (after == last && !closed_by_text) return text_end;
      return Text::npos;
    };

    // Where the next quotes stand, so that stretches without any quote (most
    // of them) skip the counting: they are balanced already.
    size_t next_opening = single || paired ? working.find(opening_quote) : Text::npos;
    size_t next_closing = paired ? working.find(closing_quote) : Text::npos;
    auto holds = [](size_t quote_at, size_t quote_size, size_t stretch_end) {
      return quote_at != Text::npos && quote_at + quote_size <= stretch_end;
    };
    size_t start = 0;  // the delimiter in front of the current token
    for (;;) {
      size_t end = next_delimiter(start);
      if (end == Text::npos) break;
      const size_t begin = start + step;
      if (next_opening < begin) next_opening = working.find(opening_quote, begin);
      if (next_closing < begin) next_closing = working.find(closing_quote, begin);
      if (holds(next_opening, opening_quote.size(), end) ||
          holds(next_closing, closing_quote.size(), end)) {
        QuoteCounter openings(working, opening_quote, begin);
        QuoteCounter closings(working, closing_quote, begin);
        auto unbalanced = [&](size_t stretch_end) {
          const int64_t opened = openings.CountTo(stretch_end);
          return paired ? closings.CountTo(stretch_end) != opened : opened % 2 != 0;
        };
        while (unbalanced(end)) {
          end = next_delimiter(end);
          // The quote never closes: the stretch up to "no delimiter" would
          // have a negative length, which is an invalid argument.
          if (end == Text::npos) throw InvalidCallError();
        }
      }
      tokens.emplace_back(working, begin, end - begin);
      start = end;
    }
    return static_cast<int32_t>(tokens.size());
  } catch (const Error& error) {
    if (pass_on) throw;
    ShowWarning(error.source(),
                u"(GetTokens) Error: " + error.description() + u"\r\nLine: " + working);
    return 0;
  }
}

}  // namespace boolconv
