#include "diagnostics/characters.h"

#include <algorithm>
#include <cstdio>
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

std::string CodeOf(char32_t code_point) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(code_point));
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

}  // namespace

std::vector<HiddenRun> FindHiddenRuns(std::u16string_view text) {
  std::vector<HiddenRun> runs;
  for (size_t at = 0; at < text.size();) {
    if (!IsHiddenSeparator(text[at])) {
      ++at;
      continue;
    }
    const size_t start = at;
    while (at < text.size() && IsHiddenSeparator(text[at])) ++at;
    runs.push_back({start, at, WordBefore(text, start), WordAfter(text, at)});
  }
  return runs;
}

std::string Placement(const HiddenRun& run) {
  if (!run.before.empty() && !run.after.empty()) {
    return " between " + Quote(run.before) + " and " + Quote(run.after);
  }
  if (!run.before.empty()) return " after " + Quote(run.before);
  if (!run.after.empty()) return " before " + Quote(run.after);
  return " between spaces";
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

CodePoint CodePointAt(std::u16string_view text, size_t at) {
  const char16_t unit = text[at];
  if (unit >= 0xD800 && unit <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 &&
      text[at + 1] <= 0xDFFF) {
    return {0x10000 + ((unit - 0xD800u) << 10) + (text[at + 1] - 0xDC00u), 2};
  }
  return {unit, 1};
}

bool IsHiddenSeparatorSlow(char32_t code_point) {
  return (code_point >= 0x09 && code_point <= 0x0D) || code_point == 0x85 || code_point == 0xA0 ||
         code_point == 0x1680 || code_point == 0x180E ||
         (code_point >= 0x2000 && code_point <= 0x200B) || code_point == 0x2028 ||
         code_point == 0x2029 || code_point == 0x202F || code_point == 0x205F ||
         code_point == 0x2060 || code_point == 0x3000 || code_point == 0xFEFF;
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
  if (known == std::end(kSeparatorNames)) {
    text = run.size() == 1 ? "a Unicode space" : std::to_string(run.size()) + " Unicode spaces";
  } else {
    text = run.size() == 1 ? std::string(known->name)
                           : std::to_string(run.size()) + " " + std::string(known->plural);
    if (!known->show_code) return text;
  }
  return text + " (" + CodeOf(first) + ")";
}

std::string Quote(std::u16string_view text, size_t longest) {
  Text shown = u"\"";
  size_t count = 0;
  for (size_t at = 0; at < text.size();) {
    const CodePoint point = CodePointAt(text, at);
    const std::u16string_view units = text.substr(at, point.units);
    at += point.units;
    if (point.value == U'\r' && at < text.size() && text[at] == u'\n') continue;  // one ⏎ for both
    if (++count == longest && at < text.size()) {
      shown += u"…";
      break;
    }
    if (IsLineBreak(point.value)) {
      shown += u"⏎";
    } else if (point.value == U'\t') {
      shown += u"⇥";
    } else if (point.value < 0x20 || IsHiddenSeparator(point.value) ||
               (point.value >= 0xD800 && point.value <= 0xDFFF)) {
      const std::string code = CodeOf(point.value);
      shown += u"<" + Text(code.begin(), code.end()) + u">";
    } else {
      shown += units;
    }
  }
  return ToUtf8(shown + u"\"");
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
  // Findings mostly arrive in order already.
  if (!std::is_sorted(diagnostics.begin(), diagnostics.end(), by_position)) {
    std::sort(diagnostics.begin(), diagnostics.end(), by_position);
  }
  // Without surrogate pairs, units are code points.
  if (std::none_of(text.begin(), text.end(),
                   [](char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; })) {
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
