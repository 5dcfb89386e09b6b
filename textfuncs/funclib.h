// FuncLib: general text functions used by the conversion engine.
//
// Text is UTF-16 (std::u16string). Lengths count code units. Trim removes
// U+0020 only; tabs and other white space are content.
//
// Errors are thrown as boolconv::Error. Only GetTokens traps them: it either
// rethrows or shows the error through the warning seam below and returns 0.

#ifndef BOOLCONV_TEXTFUNCS_FUNCLIB_H_
#define BOOLCONV_TEXTFUNCS_FUNCLIB_H_

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace boolconv {

using Text = std::u16string;

// The tokens GetTokens found, in order.
using TokenList = std::vector<Text>;

// The application's name, the source of every error it raises.
inline constexpr char16_t kAppName[] = u"boolconv";

// Error 5: an argument a procedure cannot work with.
inline constexpr int32_t kInvalidCallError = 5;
inline constexpr char16_t kInvalidCallDescription[] = u"Invalid procedure call or argument";

// Message-box style of a tokenizer warning: OK button only, warning icon.
inline constexpr int32_t kWarningStyle = 48;

// An error: a number, the source that raised it and a description for the
// user. what() is the description in UTF-8.
class Error : public std::exception {
 public:
  Error(int32_t number, Text source, Text description);
  int32_t number() const { return number_; }
  const Text& source() const { return source_; }
  const Text& description() const { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int32_t number_;
  Text source_;
  Text description_;
  std::string what_;
};

// Error 5 from source "boolconv": an argument a procedure cannot work with.
Error InvalidCallError();

// ---------------------------------------------------------------------------
// Warning seam: how a trapped error reaches the user. The window installs a
// modal warning box, the command-line tool collects or prints the prompt, and
// tests record it. Each thread has a handler of its own: a handler installed
// on one thread receives the warnings of conversions on that thread only, so
// engines converting on several threads at once never see each other's.

// Receives the box's title, its prompt (lines separated by "\r\n") and its
// style (kWarningStyle). Returns when the user has dismissed the warning.
using WarningHandler = std::function<void(const Text& title, const Text& prompt, int32_t style)>;

// Installs `handler` for all later warnings on the calling thread and returns
// the one it replaces there. An empty handler restores the default: the
// prompt, in UTF-8, on stderr.
WarningHandler SetWarningHandler(WarningHandler handler);

// Shows a warning through the calling thread's handler (or the default).
void ShowWarning(const Text& title, const Text& prompt, int32_t style = kWarningStyle);

// Installs a handler on the calling thread for the lifetime of the object,
// then restores the old one. Create and destroy it on the same thread.
class ScopedWarningHandler {
 public:
  explicit ScopedWarningHandler(WarningHandler handler)
      : previous_(SetWarningHandler(std::move(handler))) {}
  ~ScopedWarningHandler() { SetWarningHandler(std::move(previous_)); }
  ScopedWarningHandler(const ScopedWarningHandler&) = delete;
  ScopedWarningHandler& operator=(const ScopedWarningHandler&) = delete;

 private:
  WarningHandler previous_;
};

// ---------------------------------------------------------------------------
// Text functions.

// Returns `text` without leading and trailing U+0020 characters.
Text Trim(const Text& text);

// Encodes UTF-16 `text` as UTF-8. An unpaired surrogate becomes U+FFFD, so
// the result is always valid UTF-8.
std::string ToUtf8(const Text& text);

// The offset of the first byte of the first sequence in `bytes` that is not
// valid UTF-8 (a stray or missing continuation byte, an overlong form, a
// surrogate, a code point above U+10FFFF), or std::string_view::npos when
// all of `bytes` is valid.
size_t FindInvalidUtf8(std::string_view bytes);

// Decodes UTF-8 `bytes` into UTF-16. Each byte that starts no valid sequence
// becomes U+FFFD; valid UTF-8 round-trips through ToUtf8 unchanged.
Text FromUtf8(std::string_view bytes);

// True when `text` is empty, spaces only, or U+0000 only. A mix of spaces and
// U+0000 is not blank, nor is a tab.
bool IsBlank(const Text& text);

// Counts occurrences of `sought` in `text`, overlapping ones included ("aa"
// occurs twice in "aaa"). An empty `sought` occurs 0 times; counts stop at
// INT32_MAX.
int32_t CountOccurrences(const Text& text, const Text& sought);

// Removes `first` from the start and then from the end of `text`, then does
// the same with `second` unless it is blank. A delimiter is not removed when
// the text is shorter than twice its length: "()" with "(" and ")" gives ")".
Text StripEnclosing(Text text, const Text& first, const Text& second);

// Splits `text` at `delimiter` into `tokens` (emptied first) and returns how
// many it stored. Empty tokens are kept ("a  b" gives "a", "", "b"), but a
// delimiter that ends the text starts none ("a " gives "a"; "" gives none). With a non-blank
// `opening_quote` a token runs on past delimiters until it holds an even number of opening quotes;
// with a non-blank `closing_quote` as well, until it holds as many closing as opening quotes. A
// blank opening quote empties a non-blank `closing_quote` (the caller's variable too).
//
// A delimiter longer than one unit splits at its whole occurrences, found left
// to right without overlapping ("a:::b" at "::" gives "a", ":b"); an empty
// one is an invalid argument (error 5). When a quoted token never closes, or
// the delimiter is empty, error 5 is raised: rethrown when `pass_on` is true,
// otherwise shown as a warning whose prompt is "(GetTokens) Error: ", the
// description, "\r\n", "Line: " and the working copy (the text framed by
// delimiters), after which 0 is returned. Tokens stored before the error stay.
int32_t GetTokens(Text text, Text delimiter, TokenList& tokens, const Text& opening_quote,
                  bool pass_on, Text& closing_quote);

}  // namespace boolconv

#endif  // BOOLCONV_TEXTFUNCS_FUNCLIB_H_
