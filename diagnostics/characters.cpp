#include "diagnostics/characters.h"

#include <algorithm>
#include <tuple>

#include "textfuncs/funclib.h"

namespace boolconv::diagnostics {
namespace {

struct SeparatorName {
  char32_t code_point;
  std::string_view name;  // singular, with its article
  std::string_view plural;
  bool show_code;  // a name few readers know gets its U+ code beside it
};

constexpr SeparatorName kSeparatorNames[] = {
    {U'\t', "a tab", "tabs", false},
    {U'\n', "a line break", "line breaks", false},
    {U'\v', "a vertical tab", "vertical tabs", false},
    {U'\f', "a form feed", "form feeds", false},
    {U'\r', "a carriage return", "carriage returns", false},
    {0x85, "a next-line character", "next-line characters", true},
    {0xA0, "a no-break space", "no-break spaces", true},
    {0x1680, "an ogham space mark", "ogham space marks", true},
    {0x180E, "a Mongolian vowel separator", "Mongolian vowel separators", true},
    {0x200B, "a zero-width space", "zero-width spaces", true},
    {0x2028, "a line separator", "line separators", true},
    {0x2029, "a paragraph separator", "paragraph separators", true},
    {0x202F, "a narrow no-break space", "narrow no-break spaces", true},
    {0x2060, "a word joiner", "word joiners", true},
    {0x3000, "an ideographic space", "ideographic spaces", true},
    {0xFEFF, "a byte-order mark", "byte-order marks", true},
};

// "U+00A0": at least four hexadecimal digits.
std::string CodeOf(char32_t code_point) {
  std::string code = "U+";
  int shift = 28;
  while (shift > 12 && (code_point >> shift) == 0) shift -= 4;
  for (; shift >= 0; shift -= 4) code += "0123456789ABCDEF"[(code_point >> shift) & 0xF];
  return code;
}

bool IsLineBreak(char32_t code_point) { return code_point == U'\n' || code_point == U'\r'; }

// Units that end a word for the eye and for the converter alike, or for the
// eye alone. Hidden separators are all single units.
bool EndsWord(char16_t unit) {
  return unit == u' ' || unit == u'(' || unit == u')' || IsHiddenSeparator(unit);
}

size_t WordStart(std::u16string_view text, size_t end) {
  while (end > 0 && !EndsWord(text[end - 1])) --end;
  return end;
}

size_t WordEnd(std::u16string_view text, size_t start) {
  while (start < text.size() && !EndsWord(text[start])) ++start;
  return start;
}

// Control characters other than U+0000 count as well: copied from a
// database's export or a document they stand where a space did, and the
// converter joins the words on either side of them just the same.
bool IsControl(char32_t code_point) {
  return (code_point >= 0x01 && code_point < 0x20) || (code_point >= 0x7F && code_point < 0xA0);
}

}  // namespace

HiddenRun HiddenRunAt(std::u16string_view text, size_t start) {
  size_t end = start;
  while (end < text.size() && IsHiddenSeparator(text[end])) ++end;
  return {start, end, WordBefore(text, start), WordAfter(text, end)};
}

void AppendPlacement(std::string& out, const HiddenRun& run) {
  if (run.before.empty() && run.after.empty()) {
    out += " between spaces";
    return;
  }
  if (!run.before.empty()) {
    out += run.after.empty() ? " after " : " between ";
    AppendQuote(out, run.before);
    if (run.after.empty()) return;
    out += " and ";
  } else {
    out += " before ";
  }
  AppendQuote(out, run.after);
}

std::u16string_view WordAround(std::u16string_view text, size_t at) {
  const size_t start = WordStart(text, at);
  return text.substr(start, WordEnd(text, at) - start);
}

std::u16string_view WordBefore(std::u16string_view text, size_t at) {
  const size_t start = WordStart(text, at);
  return text.substr(start, at - start);
}

std::u16string_view WordAfter(std::u16string_view text, size_t at) {
  return text.substr(at, WordEnd(text, at) - at);
}

std::u16string_view WordsInOrder::Around(size_t at) {
  // The word found last holds no unit that ends a word, so it is the word
  // around any unit of it; units asked about later lie at or after `at`.
  if (at >= end_) {
    start_ = WordStart(text_, at);
    end_ = WordEnd(text_, at);
  }
  return text_.substr(start_, end_ - start_);
}

bool StartsWithFolded(std::u16string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    if (LowerAscii(text[i]) != static_cast<char16_t>(word[i])) return false;
  }
  return true;
}

bool EqualsFolded(std::u16string_view text, std::string_view word) {
  return text.size() == word.size() && StartsWithFolded(text, word);
}

std::vector<size_t> CodePointsBefore(std::u16string_view text) {
  std::vector<size_t> before(text.size() + 1);
  size_t code_points = 0;
  for (size_t at = 0; at < text.size();) {
    const CodePoint point = CodePointAt(text, at);
    for (size_t k = 0; k < point.units; ++k) before[at + k] = code_points;
    at += point.units;
    ++code_points;
  }
  before[text.size()] = code_points;
  return before;
}

CodePoint CodePointAt(std::u16string_view text, size_t at) {
  const char16_t unit = text[at];
  if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
      text[at + 1] <= 0xDFFF) {
    return {0x10000 + ((unit - 0xD800u) << 10) + (text[at + 1] - 0xDC00u), 2};
  }
  return {unit, 1};
}

bool IsHiddenSeparatorSlow(char32_t code_point) {
  return IsControl(code_point) || code_point == 0xA0 || code_point == 0x1680 ||
         code_point == 0x180E || (code_point >= 0x2000 && code_point <= 0x200B) ||
         code_point == 0x2028 || code_point == 0x2029 || code_point == 0x202F ||
         code_point == 0x205F || code_point == 0x2060 || code_point == 0x3000 ||
         code_point == 0xFEFF;
}

bool IsTypographicQuoteSlow(char32_t code_point) {
  switch (code_point) {
    case 0x00AB:  // «
    case 0x00BB:  // »
    case 0x201C:  // “
    case 0x201D:  // ”
    case 0x201E:  // „
    case 0x201F:  // ‟
    case 0x2033:  // ″
    case 0x301D:  // 〝
    case 0x301E:  // 〞
    case 0x301F:  // 〟
    case 0xFF02:  // ＂
      return true;
    default:
      return false;
  }
}

std::string DescribeSeparators(std::u16string_view run) {
  // Separators are all single units, so units are code points here.
  if (std::all_of(run.begin(), run.end(), IsLineBreak)) {
    // "\r\n" is one line break, as is a lone "\n" or "\r".
    const auto feeds = std::count(run.begin(), run.end(), u'\n');
    const auto lines = feeds > 0 ? feeds : std::count(run.begin(), run.end(), u'\r');
    return lines == 1 ? "a line break" : std::to_string(lines) + " line breaks";
  }
  const char32_t first = run.front();
  if (std::any_of(run.begin(), run.end(), [&](char16_t unit) { return unit != first; })) {
    return std::to_string(run.size()) + " characters that are not spaces";
  }
  const auto* known =
      std::find_if(std::begin(kSeparatorNames), std::end(kSeparatorNames),
                   [&](const SeparatorName& name) { return name.code_point == first; });
  std::string text;
  if (known == std::end(kSeparatorNames) && IsControl(first)) {
    text = run.size() == 1 ? "a control character"
                           : std::to_string(run.size()) + " control characters";
  } else if (known == std::end(kSeparatorNames)) {
    text = run.size() == 1 ? "a Unicode space" : std::to_string(run.size()) + " Unicode spaces";
  } else {
    text = run.size() == 1 ? std::string(known->name)
                           : std::to_string(run.size()) + " " + std::string(known->plural);
    if (!known->show_code) return text;
  }
  return text + " (" + CodeOf(first) + ")";
}

void AppendUtf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
    return;
  }
  char bytes[4];
  size_t size = 0;
  if (code_point < 0x800) {
    bytes[size++] = static_cast<char>(0xC0 | (code_point >> 6));
  } else if (code_point < 0x10000) {
    bytes[size++] = static_cast<char>(0xE0 | (code_point >> 12));
    bytes[size++] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  } else {
    bytes[size++] = static_cast<char>(0xF0 | (code_point >> 18));
    bytes[size++] = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    bytes[size++] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
  }
  bytes[size++] = static_cast<char>(0x80 | (code_point & 0x3F));
  out.append(bytes, size);
}

void AppendQuote(std::string& out, std::u16string_view text, size_t longest) {
  out += '"';
  size_t count = 0;
  for (size_t at = 0; at < text.size();) {
    const CodePoint point = CodePointAt(text, at);
    at += point.units;
    if (point.value == U'\r' && at < text.size() && text[at] == u'\n') continue;  // one ⏎ for both
    if (++count == longest && at < text.size()) {
      out += "…";
      break;
    }
    if (point.value >= 0x20 && point.value < 0x7F) {
      out += static_cast<char>(point.value);
    } else if (IsLineBreak(point.value)) {
      out += "⏎";
    } else if (point.value == U'\t') {
      out += "⇥";
    } else if (point.value < 0x20 || IsHiddenSeparator(point.value) ||
               (point.value >= 0xD800 && point.value <= 0xDFFF)) {
      out += '<';
      out += CodeOf(point.value);
      out += '>';
    } else {
      AppendUtf8(out, point.value);
    }
  }
  out += '"';
}

std::string Quote(std::u16string_view text, size_t longest) {
  std::string quoted;
  AppendQuote(quoted, text, longest);
  return quoted;
}

void Add(std::vector<Diagnostic>& diagnostics, std::string_view code, Severity severity,
         std::string message, size_t start, size_t end) {
  diagnostics.push_back({std::string(code), severity, std::move(message), start, end});
}

void Finish(std::u16string_view text, std::vector<Diagnostic>& diagnostics) {
  auto by_position = [](const Diagnostic& a, const Diagnostic& b) {
    return std::tie(a.start, a.end, a.code, a.message) <
           std::tie(b.start, b.end, b.code, b.message);
  };
  // Findings arrive in a few runs, each in order or in reverse (the groups
  // nested in each other report from the innermost out): each run is put in
  // order, then the runs are merged, in time linear in the findings for a
  // fixed number of runs. No two findings compare equal unless they are
  // equal, so the order is the one any sort gives.
  std::vector<size_t> run_ends;
  for (size_t begin = 0; begin < diagnostics.size();) {
    size_t end = begin + 1;
    auto at = [&](size_t i) { return diagnostics.begin() + static_cast<ptrdiff_t>(i); };
    if (end < diagnostics.size() && by_position(diagnostics[end], diagnostics[end - 1])) {
      while (end < diagnostics.size() && by_position(diagnostics[end], diagnostics[end - 1])) ++end;
      std::reverse(at(begin), at(end));
    } else {
      while (end < diagnostics.size() && !by_position(diagnostics[end], diagnostics[end - 1]))
        ++end;
    }
    run_ends.push_back(end);
    begin = end;
  }
  while (run_ends.size() > 1) {
    std::vector<size_t> merged;
    size_t begin = 0;
    for (size_t i = 0; i < run_ends.size(); i += 2) {
      if (i + 1 < run_ends.size()) {
        std::inplace_merge(diagnostics.begin() + static_cast<ptrdiff_t>(begin),
                           diagnostics.begin() + static_cast<ptrdiff_t>(run_ends[i]),
                           diagnostics.begin() + static_cast<ptrdiff_t>(run_ends[i + 1]),
                           by_position);
      }
      begin = run_ends[std::min(i + 1, run_ends.size() - 1)];
      merged.push_back(begin);
    }
    run_ends = std::move(merged);
  }
  // Without surrogate pairs, units are code points.
  if (diagnostics.empty() || std::none_of(text.begin(), text.end(), [](char16_t unit) {
        return unit >= 0xD800 && unit <= 0xDFFF;
      })) {
    return;
  }
  // Every offset to convert, in ascending order, then one sweep over the text.
  std::vector<size_t*> offsets;
  offsets.reserve(2 * diagnostics.size());
  for (Diagnostic& diagnostic : diagnostics) {
    offsets.push_back(&diagnostic.start);
    offsets.push_back(&diagnostic.end);
  }
  std::sort(offsets.begin(), offsets.end(),
            [](const size_t* a, const size_t* b) { return *a < *b; });
  size_t unit = 0;
  size_t code_points = 0;
  for (size_t* offset : offsets) {
    while (unit < *offset && unit < text.size()) {
      unit += CodePointAt(text, unit).units;
      ++code_points;
    }
    *offset = code_points;
  }
}

}  // namespace boolconv::diagnostics
