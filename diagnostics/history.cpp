#include "diagnostics/history.h"

#include <algorithm>
#include <limits>
#include <string>
#include <unordered_map>
#include <utility>

#include "diagnostics/characters.h"

namespace boolconv {
namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();

// The combined expression may repeat lines referenced more than once; it is
// refused beyond this many times the input, or kLeastRefusedUnits.
constexpr size_t kMostGrowth = 16;
constexpr size_t kLeastRefusedUnits = size_t{1} << 20;

enum class Numbering { kPlain, kHash, kLetterS };

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }
using diagnostics::EqualsFolded;
using diagnostics::IsAsciiDigit;
using diagnostics::LowerAscii;

// The number of digits at the start of `text`, and their value.
struct Number {
  size_t digits = 0;
  uint64_t value = 0;
};
Number LeadingNumber(std::u16string_view text) {
  constexpr size_t kMostDigits = 9;
  Number number;
  while (number.digits < text.size() && number.digits < kMostDigits &&
         IsAsciiDigit(text[number.digits])) {
    number.value = number.value * 10 + (text[number.digits] - u'0');
    ++number.digits;
  }
  return number;
}

// A piece of a line's expression: its own text, a reference to another
// line, or text the combining adds (the parentheses and OR of "or/1-3").
struct Segment {
  enum class Kind { kText, kReference, kAdded } kind = Kind::kText;
  size_t begin = 0;  // kText: the stretch of the line's units
  size_t end = 0;
  uint64_t number = 0;             // kReference: the line referred to
  std::u16string_view added = {};  // kAdded
  size_t origin = 0;               // kReference, kAdded: the input unit they stand for
  size_t target = kNone;           // kReference: index of the line, once resolved
};

struct Line {
  uint64_t number = 0;
  Text units;                   // the search
  std::vector<size_t> origins;  // of each unit, in the input
  size_t start = 0;             // the search's stretch in the input, in units
  size_t end = 0;
  std::vector<Segment> segments;
  bool referenced = false;
};

class Reader {
 public:
  explicit Reader(std::u16string_view text) : text_(text) {}

  // Finds the lines and their references; reports commands and counts.
  void Read() {
    std::vector<std::pair<size_t, size_t>> physical;
    // Lines end at "\n", "\r\n" or a lone "\r".
    for (size_t at = 0; at <= text_.size();) {
      size_t end = text_.find_first_of(u"\r\n", at);
      if (end == std::u16string_view::npos) end = text_.size();
      physical.emplace_back(at, end);
      at = end + (end + 1 < text_.size() && text_[end] == u'\r' && text_[end + 1] == u'\n' ? 2 : 1);
    }
    size_t first = 0;
    while (first < physical.size() && Blank(physical[first])) ++first;
    if (first < physical.size() && IsCsvHeader(physical[first])) {
      ReadCsv(physical, first);
    } else {
      for (const auto& [start, end] : physical) ReadLine(start, end);
    }
    for (Line& line : lines_) highest_number_ = std::max(highest_number_, line.number);
    most_range_references_ = std::max<size_t>(kLeastRangeReferences, 4 * text_.size());
    for (Line& line : lines_) {
      TrimEnd(line);
      FindReferences(line);
    }
    if (too_many_ranges_) {
      Add(codes::kHistoryTooLarge, Severity::kError,
          "The ranges of this history (such as \"or/1-5\") name more lines together than "
          "its size allows to combine. Combine fewer lines at a time.",
          0, 1);
    }
    if (counted_lines_ > 0) {
      Add(codes::kHistoryCounts, Severity::kInfo,
          "The hit counts and other columns after the searches (on " +
              std::to_string(counted_lines_) + (counted_lines_ == 1 ? " line" : " lines") +
              ") are left out: only the searches are combined.",
          first_count_.first, first_count_.second);
    }
  }

  const std::vector<Line>& lines() const { return lines_; }
  bool too_large() const { return too_many_ranges_; }
  std::vector<Line>& lines() { return lines_; }
  std::vector<Diagnostic>& findings() { return findings_; }

  void Add(std::string_view code, Severity severity, std::string message, size_t start,
           size_t end) {
    findings_.push_back(
        {std::string(code), severity, std::move(message), start, std::max(end, start + 1)});
  }

 private:
  bool Blank(std::pair<size_t, size_t> line) const {
    for (size_t at = line.first; at < line.second; ++at) {
      if (!IsBlank(text_[at])) return false;
    }
    return true;
  }

  // A numbered line begins a search; an unnumbered one after it continues
  // that search (a long line broken in two), and one before the first is a
  // header ("Database: ...", "Search strategy:").
  void ReadLine(size_t start, size_t end) {
    size_t at = start;
    while (at < end && IsBlank(text_[at])) ++at;
    if (at == end) {
      // A blank line ends the search above it: what follows unnumbered is
      // a note under the history, not more of the search.
      continues_ = false;
      return;
    }
    const bool indented = at > start;
    const std::u16string_view rest = text_.substr(at, end - at);
    size_t skip = 0;
    Numbering numbering = Numbering::kPlain;
    if (rest[0] == u'#') {
      numbering = Numbering::kHash;
      skip = 1;
    } else if (rest[0] == u'S' && rest.size() > 1 && IsAsciiDigit(rest[1])) {
      numbering = Numbering::kLetterS;
      skip = 1;
    }
    const Number number = LeadingNumber(rest.substr(skip));
    size_t after = skip + number.digits;
    if (after < rest.size() && rest[after] == u'.') ++after;
    bool numbered = number.digits > 0 && (after == rest.size() || IsBlank(rest[after]));
    // An indented line after a search that ends with an operator or is
    // numbered no higher than the line before continues that search, even
    // when it begins with a number: "5 1 or 2 or" then "     3 or 4".
    if (numbered && indented && continues_ && !lines_.empty() &&
        (number.value <= lines_.back().number || EndsOpen(lines_.back()))) {
      numbered = false;
    }
    if (!numbered) {
      // A rule of stars or dashes under the history continues nothing.
      const bool words = std::any_of(rest.begin(), rest.end(), [](char16_t unit) {
        return IsAsciiDigit(unit) || (LowerAscii(unit) >= u'a' && LowerAscii(unit) <= u'z') ||
               unit >= 0x80;
      });
      if (!lines_.empty() && words && continues_) Continue(lines_.back(), at, end);
      return;
    }
    continues_ = true;
    if (lines_.empty()) numbering_ = numbering;
    Line line;
    line.number = number.value;
    size_t search = at + after;
    while (search < end && IsBlank(text_[search])) ++search;
    // Exports with columns separate them by tabs: the search, then hit
    // counts and the like.
    const size_t search_end = SearchEnd(search, end);
    Append(line, search, search_end);
    line.start = search;
    line.end = search_end;
    lines_.push_back(std::move(line));
  }

  // Where the search on [start, end) ends. Exports with columns separate
  // them by tabs: the search, then hit counts and the like; Ovid's display
  // writes the hits after the search, "1 exp Asthma/ (142337)". What is
  // left out is noted.
  size_t SearchEnd(size_t start, size_t end) {
    const size_t tab = text_.substr(start, end - start).find(u'\t');
    size_t search_end = tab != std::u16string_view::npos ? start + tab : TrailingCount(start, end);
    if (search_end == kNone) return end;
    NoteCounts(search_end, end);
    return search_end;
  }

  // Where a hit count in parentheses that ends [start, end) begins, with
  // the blanks before it: " (142,337)"; kNone without one.
  size_t TrailingCount(size_t start, size_t end) const {
    size_t at = end;
    while (at > start && IsBlank(text_[at - 1])) --at;
    if (at == start || text_[at - 1] != u')') return kNone;
    --at;
    const size_t digits_end = at;
    while (at > start && (IsAsciiDigit(text_[at - 1]) || text_[at - 1] == u',')) --at;
    if (at == digits_end || at == start || text_[at - 1] != u'(') return kNone;
    --at;
    if (at == start || !IsBlank(text_[at - 1])) return kNone;
    while (at > start && IsBlank(text_[at - 1])) --at;
    return at > start ? at : kNone;
  }

  // Whether a search ends with an operator word or "(", so that the line
  // after it must continue it.
  static bool EndsOpen(const Line& line) {
    std::u16string_view units = line.units;
    while (!units.empty() && IsBlank(units.back())) units.remove_suffix(1);
    if (units.empty()) return false;
    if (units.back() == u'(') return true;
    const size_t space = units.find_last_of(u" \t(");
    const std::u16string_view last =
        units.substr(space == std::u16string_view::npos ? 0 : space + 1);
    return EqualsFolded(last, "or") || EqualsFolded(last, "and") || EqualsFolded(last, "not");
  }

  // A line that continues the search above it; its own columns or hit
  // count are left out as a numbered line's are.
  void Continue(Line& line, size_t start, size_t end) {
    const size_t search_end = SearchEnd(start, end);
    if (!line.units.empty()) {
      line.units += u' ';
      line.origins.push_back(start);
    }
    Append(line, start, search_end);
    line.end = search_end;
  }

  void Append(Line& line, size_t start, size_t end) {
    for (size_t at = start; at < end; ++at) {
      line.units += text_[at];
      line.origins.push_back(at);
    }
  }

  static void TrimEnd(Line& line) {
    while (!line.units.empty() && IsBlank(line.units.back())) {
      line.units.pop_back();
      line.origins.pop_back();
    }
  }

  void NoteCounts(size_t start, size_t end) {
    size_t first = start;
    while (first < end && IsBlank(text_[first])) ++first;
    if (first == end) return;
    if (counted_lines_++ == 0) first_count_ = {first, end};
  }

  // PubMed's history as CSV: a header naming the columns, "Search" (the
  // number) and "Query" (the search) among them.
  bool IsCsvHeader(std::pair<size_t, size_t> line) {
    const std::vector<Field> fields = CsvFields(line.first, line.second);
    search_column_ = query_column_ = kNone;
    for (size_t k = 0; k < fields.size(); ++k) {
      std::u16string name;
      for (const size_t at : fields[k].origins) name += text_[at];
      if (EqualsFolded(name, "search") || EqualsFolded(name, "search number")) search_column_ = k;
      if (EqualsFolded(name, "query")) query_column_ = k;
    }
    return search_column_ != kNone && query_column_ != kNone;
  }

  struct Field {
    std::vector<size_t> origins;  // of each unit of its value (quotes undone)
    size_t start;
    size_t end;
  };
  std::vector<Field> CsvFields(size_t start, size_t end) const {
    std::vector<Field> fields;
    size_t at = start;
    for (;;) {
      Field field{{}, at, at};
      if (at < end && text_[at] == u'"') {
        ++at;
        while (at < end) {
          if (text_[at] == u'"') {
            if (at + 1 < end && text_[at + 1] == u'"') {
              field.origins.push_back(at);
              at += 2;
              continue;
            }
            ++at;
            break;
          }
          field.origins.push_back(at++);
        }
        while (at < end && text_[at] != u',') ++at;
      } else {
        while (at < end && text_[at] != u',') field.origins.push_back(at++);
      }
      field.end = at;
      fields.push_back(std::move(field));
      if (at >= end) return fields;
      ++at;  // the comma
    }
  }

  void ReadCsv(const std::vector<std::pair<size_t, size_t>>& physical, size_t header) {
    numbering_ = Numbering::kHash;
    for (size_t k = header + 1; k < physical.size(); ++k) {
      const auto [start, end] = physical[k];
      if (Blank(physical[k])) continue;
      std::vector<Field> fields = CsvFields(start, end);
      if (fields.size() <= std::max(search_column_, query_column_)) continue;
      std::u16string number_text;
      for (const size_t at : fields[search_column_].origins) number_text += text_[at];
      const size_t hash = !number_text.empty() && number_text[0] == u'#' ? 1 : 0;
      const Number number = LeadingNumber(std::u16string_view(number_text).substr(hash));
      if (number.digits == 0) continue;
      Line line;
      line.number = number.value;
      Field& query = fields[query_column_];
      for (const size_t at : query.origins) {
        line.units += text_[at];
        line.origins.push_back(at);
      }
      line.start = query.origins.empty() ? query.start : query.origins.front();
      line.end = query.origins.empty() ? query.start : query.origins.back() + 1;
      if (fields.size() > 2) NoteCounts(fields.back().start, fields.back().end);
      lines_.push_back(std::move(line));
    }
  }

  // A token of a search: a stretch between spaces and parentheses.
  struct Token {
    size_t begin;
    size_t end;
  };

  // Splits `line` into text and references. "#N" is a reference anywhere,
  // as is "SN" in a history numbered so; a bare number is one where the
  // line holds nothing but references, operators, parentheses and Ovid's
  // "or/1-3" and "and/1,2". Ovid's commands "limit N to ..." and "remove
  // duplicates from N" stand for line N.
  void FindReferences(Line& line) {
    const std::u16string_view units = line.units;
    std::vector<Token> tokens;
    for (size_t at = 0; at < units.size();) {
      if (units[at] == u' ' || units[at] == u'(' || units[at] == u')' || units[at] == u'\t') {
        ++at;
        continue;
      }
      size_t end = at;
      while (end < units.size() && units[end] != u' ' && units[end] != u'(' && units[end] != u')' &&
             units[end] != u'\t') {
        ++end;
      }
      tokens.push_back({at, end});
      at = end;
    }
    if (Command(line, tokens)) return;
    auto text_of = [&](const Token& token) {
      return units.substr(token.begin, token.end - token.begin);
    };
    auto prefixed_number = [&](std::u16string_view token) -> Number {
      const bool prefixed =
          token.size() > 1 &&
          (token[0] == u'#' || (token[0] == u'S' && numbering_ == Numbering::kLetterS));
      if (!prefixed) return {};
      const Number number = LeadingNumber(token.substr(1));
      return number.digits + 1 == token.size() ? number : Number{};
    };
    bool combines_only = !tokens.empty();
    for (const Token& token : tokens) {
      const std::u16string_view word = text_of(token);
      const Number bare = LeadingNumber(word);
      const bool is_number = bare.digits > 0 && bare.digits == word.size();
      if (!is_number && prefixed_number(word).digits == 0 && OperatorKindOf(word) == 0 &&
          !IsRangeCommand(word) && !IsBraceOperator(word) && BraceRange(word).empty()) {
        combines_only = false;
        break;
      }
    }
    size_t copied = 0;
    auto text_until = [&](size_t at) {
      if (at > copied)
        line.segments.push_back({.kind = Segment::Kind::kText, .begin = copied, .end = at});
      copied = at;
    };
    // In Ovid's numbering a bare number beside an operator (or opening
    // the line before one) is a set, "4 3 not (exp animals/ not humans/)",
    // while one among words is a term, "type 2 diabetes".
    auto beside_operator = [&](size_t k) {
      const bool before = k == 0 || OperatorKindOf(text_of(tokens[k - 1])) != 0;
      const bool after = k + 1 == tokens.size() || OperatorKindOf(text_of(tokens[k + 1])) != 0;
      return numbering_ == Numbering::kPlain && before && after;
    };
    for (size_t k = 0; k < tokens.size(); ++k) {
      const Token& token = tokens[k];
      const std::u16string_view word = text_of(token);
      Number number = prefixed_number(word);
      if (number.digits == 0 && (combines_only || beside_operator(k))) {
        const Number bare = LeadingNumber(word);
        if (bare.digits > 0 && bare.digits == word.size()) number = bare;
      }
      if (number.digits > 0) {
        text_until(token.begin);
        AddReference(line, number.value, line.origins[token.begin]);
        copied = token.end;
        continue;
      }
      if (combines_only && IsRangeCommand(word)) {
        text_until(token.begin);
        // Alone on its line, the range needs no parentheses of its own: the
        // line's reference puts it in a pair.
        RangeCommand(line, word, line.origins[token.begin], tokens.size() > 1);
        copied = token.end;
        continue;
      }
      // The Cochrane Library's "{OR #1-#5}": a range in braces.
      if (combines_only && IsBraceOperator(word) && k + 1 < tokens.size() &&
          !BraceRange(text_of(tokens[k + 1])).empty()) {
        text_until(token.begin);
        std::u16string range(word.substr(1));  // "OR" or "AND"
        range += u'/';
        range += BraceRange(text_of(tokens[k + 1]));
        RangeCommand(line, range, line.origins[token.begin], tokens.size() > 2);
        copied = tokens[++k].end;
      }
    }
    text_until(units.size());
  }

  static void AddReference(Line& line, uint64_t number, size_t origin) {
    Segment segment{.kind = Segment::Kind::kReference};
    segment.number = number;
    segment.origin = origin;
    line.segments.push_back(segment);
  }
  static void AddText(Line& line, std::u16string_view added, size_t origin) {
    Segment segment{.kind = Segment::Kind::kAdded};
    segment.added = added;
    segment.origin = origin;
    line.segments.push_back(segment);
  }

  // 1 for and/or/not in any letter case, else 0.
  static int OperatorKindOf(std::u16string_view word) {
    return EqualsFolded(word, "and") || EqualsFolded(word, "or") || EqualsFolded(word, "not") ? 1
                                                                                              : 0;
  }

  // "{OR" or "{AND", which opens a range of the Cochrane Library.
  static bool IsBraceOperator(std::u16string_view word) {
    return word.size() > 1 && word[0] == u'{' &&
           (EqualsFolded(word.substr(1), "or") || EqualsFolded(word.substr(1), "and"));
  }

  // "#1-#5}", the range that closes "{OR #1-#5}", as "1-5"; empty for any
  // other word.
  static std::u16string BraceRange(std::u16string_view word) {
    if (word.size() < 3 || word[0] != u'#' || word.back() != u'}') return {};
    const std::u16string_view inside = word.substr(1, word.size() - 2);
    const Number from = LeadingNumber(inside);
    if (from.digits == 0) return {};
    std::u16string range(inside.substr(0, from.digits));
    if (from.digits == inside.size()) return range;
    const std::u16string_view rest = inside.substr(from.digits);
    if (rest.size() < 3 || rest[0] != u'-' || rest[1] != u'#') return {};
    const Number to = LeadingNumber(rest.substr(2));
    if (to.digits == 0 || to.digits + 2 != rest.size()) return {};
    range += u'-';
    range += rest.substr(2);
    return range;
  }

  // Ovid's "or/1-3,5" and "and/2,4".
  static bool IsRangeCommand(std::u16string_view word) {
    const size_t slash = word.find(u'/');
    if (slash == std::u16string_view::npos || slash + 1 >= word.size()) return false;
    const std::u16string_view op = word.substr(0, slash);
    if (!EqualsFolded(op, "or") && !EqualsFolded(op, "and")) return false;
    return std::all_of(
        word.begin() + static_cast<ptrdiff_t>(slash) + 1, word.end(),
        [](char16_t unit) { return IsAsciiDigit(unit) || unit == u',' || unit == u'-'; });
  }

  // Writes "or/1-3,5" as "(#1 OR #2 OR #3 OR #5)", without the outer
  // parentheses unless `enclose`. A range longer than the history is cut
  // at its last line.
  void RangeCommand(Line& line, std::u16string_view word, size_t origin, bool enclose) {
    const size_t slash = word.find(u'/');
    const bool is_or = EqualsFolded(word.substr(0, slash), "or");
    if (enclose) AddText(line, u"(", origin);
    bool first = true;
    std::u16string_view list = word.substr(slash + 1);
    while (!list.empty()) {
      const size_t comma = list.find(u',');
      const std::u16string_view part = list.substr(0, comma);
      list = comma == std::u16string_view::npos ? std::u16string_view() : list.substr(comma + 1);
      const Number from = LeadingNumber(part);
      if (from.digits == 0) continue;
      uint64_t to = from.value;
      if (from.digits < part.size() && part[from.digits] == u'-') {
        const Number last = LeadingNumber(part.substr(from.digits + 1));
        if (last.digits > 0) to = std::min<uint64_t>(last.value, from.value + text_.size());
      }
      // Past the last line, one reference stands for the rest (and is
      // reported missing once); the references of all ranges together are
      // bounded, which keeps the history's size linear.
      const uint64_t last = std::min(to, highest_number_ + 1);
      for (uint64_t n = from.value; n <= last; ++n) {
        if (range_references_ == most_range_references_) {
          too_many_ranges_ = true;
          break;
        }
        ++range_references_;
        if (!first) AddText(line, is_or ? u" OR " : u" AND ", origin);
        first = false;
        AddReference(line, n, origin);
      }
    }
    if (enclose) AddText(line, u")", origin);
  }

  // Ovid's "limit N to ..." and "remove duplicates from N": line N, with a
  // warning that the command is left out.
  bool Command(Line& line, const std::vector<Token>& tokens) {
    auto word = [&](size_t k) {
      return k < tokens.size() ? std::u16string_view(line.units)
                                     .substr(tokens[k].begin, tokens[k].end - tokens[k].begin)
                               : std::u16string_view();
    };
    size_t number_token = kNone;
    std::string left_out;
    if (EqualsFolded(word(0), "limit") && EqualsFolded(word(2), "to")) {
      number_token = 1;
      const size_t from = tokens.size() > 3 ? tokens[3].begin : line.units.size();
      const std::u16string_view limit = std::u16string_view(line.units).substr(from);
      left_out = "without the limit " + diagnostics::Quote(limit);
    } else if (EqualsFolded(word(0), "remove") && EqualsFolded(word(1), "duplicates") &&
               EqualsFolded(word(2), "from")) {
      number_token = 3;
      left_out = "with its duplicates";
    } else {
      return false;
    }
    const Number number = LeadingNumber(word(number_token));
    if (number.digits == 0 || number.digits != word(number_token).size()) return false;
    AddReference(line, number.value, line.origins[tokens[number_token].begin]);
    Add(codes::kHistoryCommand, Severity::kWarning,
        "Ovid's command " + diagnostics::Quote(line.units) + " has no Boolean meaning here: line " +
            std::to_string(line.number) + " converts as line " + std::to_string(number.value) +
            ", " + left_out + ". Apply it in the database itself.",
        line.start, line.end);
    return true;
  }

  std::u16string_view text_;
  std::vector<Line> lines_;
  std::vector<Diagnostic> findings_;
  bool continues_ = true;  // an unnumbered line now continues the last search
  uint64_t highest_number_ = 0;
  // References that ranges may add in all, four per unit of the text.
  static constexpr size_t kLeastRangeReferences = size_t{1} << 16;
  size_t most_range_references_ = kLeastRangeReferences;
  size_t range_references_ = 0;
  bool too_many_ranges_ = false;
  Numbering numbering_ = Numbering::kPlain;
  size_t search_column_ = kNone;
  size_t query_column_ = kNone;
  size_t counted_lines_ = 0;
  std::pair<size_t, size_t> first_count_;
};

}  // namespace

History ReadHistory(std::u16string_view text, uint64_t line_number) {
  History history;
  Reader reader(text);
  reader.Read();
  std::vector<Line>& lines = reader.lines();
  auto report = [&](std::string_view code, Severity severity, std::string message, size_t start,
                    size_t end) { reader.Add(code, severity, std::move(message), start, end); };

  // Resolve the references: each to an earlier line.
  std::unordered_map<uint64_t, size_t> by_number;
  for (size_t k = 0; k < lines.size(); ++k) {
    if (!by_number.emplace(lines[k].number, k).second) {
      report(codes::kHistoryDuplicateLine, Severity::kWarning,
             "Line " + std::to_string(lines[k].number) +
                 " is numbered like an earlier line (two histories pasted together?): "
                 "references to it go to the first one.",
             lines[k].start, lines[k].end);
    }
  }
  for (Line& line : lines) {
    for (Segment& segment : line.segments) {
      if (segment.kind != Segment::Kind::kReference) continue;
      const auto found = by_number.find(segment.number);
      if (found != by_number.end()) segment.target = found->second;
    }
  }
  // Which lines lie on a cycle together: the strongly connected parts of
  // the graph of references (Kosaraju's two searches, iterative, so that a
  // chain of any depth takes no stack). A reference to a later line on a
  // cycle is the mistake that closes it.
  std::vector<std::vector<size_t>> refers(lines.size());
  std::vector<std::vector<size_t>> referred(lines.size());
  for (size_t k = 0; k < lines.size(); ++k) {
    for (const Segment& segment : lines[k].segments) {
      if (segment.kind != Segment::Kind::kReference || segment.target == kNone) continue;
      refers[k].push_back(segment.target);
      referred[segment.target].push_back(k);
    }
  }
  std::vector<size_t> finished;
  finished.reserve(lines.size());
  {
    std::vector<bool> seen(lines.size(), false);
    for (size_t root = 0; root < lines.size(); ++root) {
      if (seen[root]) continue;
      seen[root] = true;
      std::vector<std::pair<size_t, size_t>> stack = {{root, 0}};
      while (!stack.empty()) {
        auto& [k, next] = stack.back();
        if (next == refers[k].size()) {
          finished.push_back(k);
          stack.pop_back();
          continue;
        }
        const size_t target = refers[k][next++];
        if (!seen[target]) {
          seen[target] = true;
          stack.emplace_back(target, 0);
        }
      }
    }
  }
  std::vector<size_t> part(lines.size(), kNone);
  for (size_t i = finished.size(); i-- > 0;) {
    const size_t root = finished[i];
    if (part[root] != kNone) continue;
    part[root] = root;
    std::vector<size_t> stack = {root};
    while (!stack.empty()) {
      const size_t k = stack.back();
      stack.pop_back();
      for (const size_t source : referred[k]) {
        if (part[source] == kNone) {
          part[source] = root;
          stack.push_back(source);
        }
      }
    }
  }
  std::vector<bool> faulty(lines.size(), false);
  for (size_t k = 0; k < lines.size(); ++k) {
    Line& line = lines[k];
    for (Segment& segment : line.segments) {
      if (segment.kind != Segment::Kind::kReference) continue;
      const std::string here = "Line " + std::to_string(line.number);
      const std::string there = "line " + std::to_string(segment.number);
      const bool forward = segment.number >= line.number;
      if (forward && segment.target != kNone && part[segment.target] == part[k]) {
        report(codes::kHistoryCycle, Severity::kError,
               here + " refers to " + there +
                   ", which refers back to it, directly or through "
                   "other lines, so neither can be combined. Refer only to earlier lines.",
               segment.origin, segment.origin + 1);
        faulty[k] = true;
      } else if (segment.target == kNone) {
        report(codes::kHistoryMissingLine, Severity::kError,
               here + " refers to " + there +
                   ", which the history does not have. Correct the "
                   "number, or add the line.",
               segment.origin, segment.origin + 1);
        faulty[k] = true;
      } else if (forward) {
        report(codes::kHistoryMissingLine, Severity::kError,
               here + " refers to " + there +
                   ", which comes after it; a search can only "
                   "combine earlier ones. Correct the number.",
               segment.origin, segment.origin + 1);
        faulty[k] = true;
      }
      if (segment.target != kNone && segment.target != k) lines[segment.target].referenced = true;
    }
  }

  // The line to combine.
  size_t converted = kNone;
  if (line_number != 0) {
    const auto found = by_number.find(line_number);
    if (found != by_number.end()) converted = found->second;
    if (converted == kNone) {
      report(codes::kHistoryMissingLine, Severity::kError,
             "The history has no line " + std::to_string(line_number) + " to convert.", 0, 1);
    }
  } else {
    for (size_t k = 0; k < lines.size(); ++k) {
      if (!lines[k].referenced &&
          (converted == kNone || lines[k].number > lines[converted].number)) {
        converted = k;
      }
    }
  }
  for (size_t k = 0; k < lines.size(); ++k) {
    if (k == converted || lines[k].referenced) continue;
    report(codes::kHistoryUnusedLine, Severity::kInfo,
           "Line " + std::to_string(lines[k].number) +
               " is used by no other line and is not the one converted, so it is left out.",
           lines[k].start, lines[k].end);
  }

  // Combine, if nothing the converted line reaches is faulty.
  Text combined;
  std::vector<size_t> origins;  // in input units, for each unit of `combined`
  bool ok = converted != kNone && !reader.too_large();
  const size_t refused = std::max(kLeastRefusedUnits, kMostGrowth * text.size());
  if (ok) {
    struct Frame {
      size_t line;
      size_t segment;
      size_t origin;  // of the reference that opened it
    };
    std::vector<Frame> stack = {{converted, 0, lines[converted].start}};
    auto put = [&](std::u16string_view units, size_t origin) {
      combined += units;
      origins.insert(origins.end(), units.size(), origin);
    };
    while (!stack.empty() && ok) {
      Frame& frame = stack.back();
      const Line& line = lines[frame.line];
      if (faulty[frame.line]) {
        ok = false;
        break;
      }
      if (frame.segment == line.segments.size()) {
        const size_t origin = frame.origin;
        stack.pop_back();
        if (!stack.empty()) put(u")", origin);
        continue;
      }
      const Segment& segment = line.segments[frame.segment++];
      switch (segment.kind) {
        case Segment::Kind::kText:
          combined.append(line.units, segment.begin, segment.end - segment.begin);
          origins.insert(origins.end(),
                         line.origins.begin() + static_cast<ptrdiff_t>(segment.begin),
                         line.origins.begin() + static_cast<ptrdiff_t>(segment.end));
          break;
        case Segment::Kind::kAdded:
          put(segment.added, segment.origin);
          break;
        case Segment::Kind::kReference:
          put(u"(", segment.origin);
          stack.push_back({segment.target, 0, segment.origin});
          break;
      }
      if (combined.size() > refused) {
        report(codes::kHistoryTooLarge, Severity::kError,
               "Combining line " + std::to_string(lines[converted].number) +
                   " repeats lines it refers to more than once so often that the expression "
                   "would be over " +
                   std::to_string(kMostGrowth) +
                   " times the size of the history. Combine fewer repeated lines.",
               lines[converted].start, lines[converted].end);
        ok = false;
      }
    }
  }

  // Positions in code points.
  const std::vector<size_t> before = diagnostics::CodePointsBefore(text);
  for (const Line& line : lines) {
    history.lines.push_back({line.number, line.units, before[line.start], before[line.end]});
  }
  history.converted = converted == kNone ? lines.size() : converted;
  if (ok) {
    history.combined = std::move(combined);
    history.origins.reserve(origins.size());
    for (size_t at = 0; at < history.combined.size();) {
      const diagnostics::CodePoint point = diagnostics::CodePointAt(history.combined, at);
      history.origins.push_back(before[origins[at]]);
      at += point.units;
    }
  }
  history.findings = std::move(reader.findings());
  for (Diagnostic& d : history.findings) {
    d.start = before[std::min(d.start, text.size())];
    d.end = std::max(before[std::min(d.end, text.size())], d.start + 1);
  }
  std::stable_sort(history.findings.begin(), history.findings.end(),
                   [](const Diagnostic& a, const Diagnostic& b) { return a.start < b.start; });
  return history;
}

void History::MapToInput(std::vector<Diagnostic>& found) const {
  if (origins.empty()) return;
  // A line referenced twice stands twice in the combined expression, and
  // its findings with it: each is kept once, at its place in the input.
  auto same = [](const Diagnostic& a, const Diagnostic& b) {
    return a.start == b.start && a.end == b.end && a.code == b.code && a.message == b.message;
  };
  for (Diagnostic& d : found) {
    // An empty span (none is made, but a caller may pass one) maps as one
    // code point.
    const size_t last = origins[std::min(std::max(d.end, d.start + 1), origins.size()) - 1];
    d.start = origins[std::min(d.start, origins.size() - 1)];
    d.end = std::max(last + 1, d.start + 1);
  }
  std::stable_sort(found.begin(), found.end(), [](const Diagnostic& a, const Diagnostic& b) {
    return a.start < b.start || (a.start == b.start && a.end < b.end);
  });
  found.erase(std::unique(found.begin(), found.end(), same), found.end());
}

bool LooksLikeHistory(std::u16string_view text) {
  Reader reader(text);
  reader.Read();
  const std::vector<Line>& lines = reader.lines();
  if (lines.size() < 2) return false;
  return std::any_of(lines.begin(), lines.end(), [](const Line& line) {
    return std::any_of(line.segments.begin(), line.segments.end(), [](const Segment& segment) {
      return segment.kind == Segment::Kind::kReference;
    });
  });
}

}  // namespace boolconv
