#include "diagnostics/reading.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace boolconv::diagnostics {
namespace {

constexpr char16_t kOpenParen = u'(';
constexpr char16_t kCloseParen = u')';
constexpr char16_t kDoubleQuote = u'"';
constexpr char16_t kSpace = u' ';

// Positions in the expression and in the reading's own copy of it are
// 32-bit where they fit, which halves the memory the reading walks through
// (and keeps a long text's copies small enough to be reused, not mapped
// afresh, from one reading to the next); `Origin` is their type.

// The origin of a unit that the normalization added (a balancing or
// wrapping parenthesis, or a space beside a parenthesis). Its top bit is
// clear, unlike that of a reference to a converted group (kGroupRef).
template <typename Origin>
constexpr Origin kAdded = std::numeric_limits<Origin>::max() >> 1;

// The converter's spacing passes; longer space runs and deeper nests of
// empty pairs than these undo are kept in part, here as there.
constexpr int kNormalizePasses = 10;

constexpr char16_t LowerAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// The normalized text, each unit with the position it came from.
template <typename Origin>
struct Traced {
  std::u16string units;
  std::vector<Origin> origins;
};

// A replacement of the normalization. `to` is never longer than `from`; unit
// k of `to` takes the origin of unit `sources[k]` of the match, so a word the
// replacement writes (the NOT of " and not ") spans the words it replaced.
struct Replacement {
  std::u16string_view from;  // lower case where letter case is ignored
  std::u16string_view to;
  std::array<uint8_t, 5> sources;
  bool ignore_case;
};

constexpr Replacement kAndNot = {u" and not ", u" NOT ", {0, 1, 5, 7, 8}, true};
constexpr Replacement kOrNot = {u" or not ", u" NOT ", {0, 1, 4, 6, 7}, true};

// Replaces every occurrence left to right, without overlaps and without
// looking at inserted text, as the converter does. The text is rewritten in
// place: `to` is never longer than `from`, and sources[k] >= k keeps every
// origin read ahead of the writes. Returns whether anything was replaced.
template <typename Origin>
bool ReplaceAll(Traced<Origin>& text, const Replacement& replacement) {
  const std::u16string_view from = replacement.from;
  const std::u16string_view to = replacement.to;
  std::u16string& units = text.units;
  std::vector<Origin>& origins = text.origins;
  const size_t size = units.size();
  // A plain loop: the patterns are eight or nine units long, too short for
  // the library's search to pay off.
  auto matches_at = [&](size_t at) {
    for (size_t k = 1; k < from.size(); ++k) {
      const char16_t unit = replacement.ignore_case ? LowerAscii(units[at + k]) : units[at + k];
      if (unit != from[k]) return false;
    }
    return true;
  };
  auto find = [&](size_t at) {
    for (; at + from.size() <= size; ++at) {
      if (units[at] == from[0] && matches_at(at)) return at;
    }
    return std::u16string::npos;
  };
  size_t match = find(0);
  if (match == std::u16string::npos) return false;
  size_t write = match;
  size_t scan = match;
  auto move_down = [&](size_t until) {
    std::copy(units.begin() + static_cast<ptrdiff_t>(scan),
              units.begin() + static_cast<ptrdiff_t>(until),
              units.begin() + static_cast<ptrdiff_t>(write));
    std::copy(origins.begin() + static_cast<ptrdiff_t>(scan),
              origins.begin() + static_cast<ptrdiff_t>(until),
              origins.begin() + static_cast<ptrdiff_t>(write));
    write += until - scan;
  };
  while (match != std::u16string::npos) {
    move_down(match);
    for (size_t k = 0; k < to.size(); ++k) {
      origins[write + k] = origins[match + replacement.sources[k]];
      units[write + k] = to[k];
    }
    write += to.size();
    scan = match + from.size();
    match = find(scan);
  }
  move_down(size);
  units.resize(write);
  origins.resize(write);
  return true;
}

// ReplaceAll of a two-unit pattern by its unit `keep` (0 or 1), or by
// nothing when `keep` is kRemove: the spacing passes' "( ", " )" and "()".
constexpr int kRemove = -1;
template <typename Origin>
bool ReplacePair(Traced<Origin>& text, char16_t first, char16_t second, int keep) {
  std::u16string& units = text.units;
  std::vector<Origin>& origins = text.origins;
  const size_t size = units.size();
  auto matches = [&](size_t at) {
    return units[at] == first && at + 1 < size && units[at + 1] == second;
  };
  size_t scan = 0;
  while (scan < size && !matches(scan)) ++scan;
  if (scan == size) return false;
  size_t write = scan;
  while (scan < size) {
    if (!matches(scan)) {
      units[write] = units[scan];
      origins[write++] = origins[scan++];
      continue;
    }
    if (keep != kRemove) {
      units[write] = units[scan + static_cast<size_t>(keep)];
      origins[write++] = origins[scan + static_cast<size_t>(keep)];
    }
    scan += 2;
  }
  units.resize(write);
  origins.resize(write);
  return true;
}

// ReplaceAll of "  " by " ", a run at a time: a run of k spaces becomes
// ceil(k / 2), each pair keeping the origin of its first space. Matching
// pair by pair would make long runs the costliest text to read.
template <typename Origin>
bool HalveSpaceRuns(Traced<Origin>& text) {
  std::u16string& units = text.units;
  std::vector<Origin>& origins = text.origins;
  const size_t size = units.size();
  size_t write = 0;
  bool changed = false;
  for (size_t scan = 0; scan < size;) {
    if (units[scan] != kSpace) {
      units[write] = units[scan];
      origins[write++] = origins[scan++];
      continue;
    }
    size_t end = scan;
    while (end < size && units[end] == kSpace) ++end;
    changed |= end - scan > 1;
    for (; scan < end; scan += 2) {
      units[write] = kSpace;
      origins[write++] = origins[scan];
    }
    scan = end;
  }
  units.resize(write);
  origins.resize(write);
  return changed;
}

// Whether a spacing pass would change anything: one scan instead of the
// pass's four, since most text is clean after the first pass.
bool NeedsSpacing(std::u16string_view units) {
  for (size_t at = 1; at < units.size(); ++at) {
    const char16_t before = units[at - 1];
    const char16_t unit = units[at];
    if ((unit == kSpace && (before == kOpenParen || before == kSpace)) ||
        (unit == kCloseParen && (before == kSpace || before == kOpenParen))) {
      return true;
    }
  }
  return false;
}

// The parentheses of an expression, counted once for the checks and the
// balancing alike (trimming spaces leaves them all).
struct Parentheses {
  size_t opens = 0;
  size_t closes = 0;
  // How far the depth of the text as typed falls below 0: how many ")" find
  // no "(" before them.
  size_t unmatched_closes = 0;
};

Parentheses CountParentheses(std::u16string_view expression) {
  Parentheses counts;
  size_t depth = 0;
  for (const char16_t unit : expression) {
    if (unit == kOpenParen) {
      ++counts.opens;
      ++depth;
    } else if (unit == kCloseParen) {
      ++counts.closes;
      if (depth > 0) {
        --depth;
      } else {
        ++counts.unmatched_closes;
      }
    }
  }
  return counts;
}

// True when the walk will meet a ")" that closes no group. Normalization
// puts (closes - opens) "(" in front when there are more ")", and wraps the
// whole in one pair; so the walk fails once more ")" find no "(" before them
// than those pairs can take.
bool MeetsUnmatchedClose(const Parentheses& counts) {
  const size_t prepended = counts.closes > counts.opens ? counts.closes - counts.opens : 0;
  return counts.unmatched_closes >= prepended + 2;
}

// NormalizeBoolean, step for step, on a traced copy. False for blank input,
// which the converter returns without wrapping or walking.
template <typename Origin>
bool Normalize(std::u16string_view expression, const Parentheses& counts, Traced<Origin>& normal) {
  const size_t first = expression.find_first_not_of(kSpace);
  if (first == std::u16string_view::npos) return false;
  const size_t last = expression.find_last_not_of(kSpace);
  const std::u16string_view trimmed = expression.substr(first, last - first + 1);
  if (trimmed.find_first_not_of(u'\0') == std::u16string_view::npos) return false;

  const size_t opens = counts.opens;
  const size_t closes = counts.closes;
  const size_t prepended = closes > opens ? closes - opens : 0;
  const size_t appended = opens > closes ? opens - closes : 0;

  // Balanced, then every parenthesis spaced on its outer side. The first
  // unit is kept for the wrapping "(", which only comes after the passes.
  const size_t padded_size = 1 + trimmed.size() + opens + closes + 2 * (prepended + appended);
  normal.units.resize(padded_size);
  normal.origins.resize(padded_size);
  char16_t* units = normal.units.data();
  Origin* origins = normal.origins.data();
  size_t at = 0;
  constexpr Origin kPadding = kAdded<Origin>;
  auto put = [&](char16_t unit, Origin origin) {
    units[at] = unit;
    origins[at++] = origin;
  };
  put(kOpenParen, kPadding);
  for (size_t i = 0; i < prepended; ++i) {
    put(kSpace, kPadding);
    put(kOpenParen, kPadding);
  }
  for (size_t i = 0; i < trimmed.size(); ++i) {
    const char16_t unit = trimmed[i];
    if (unit == kOpenParen) put(kSpace, kPadding);
    put(unit, static_cast<Origin>(first + i));
    if (unit == kCloseParen) put(kSpace, kPadding);
  }
  for (size_t i = 0; i < appended; ++i) {
    put(kCloseParen, kPadding);
    put(kSpace, kPadding);
  }

  // Meanwhile the kept unit holds U+0000, which no pattern of the passes
  // contains, so they act on the rest alone.
  normal.units[0] = u'\0';
  for (int pass = 0; pass < kNormalizePasses && NeedsSpacing(normal.units); ++pass) {
    bool changed = ReplacePair(normal, kOpenParen, kSpace, 0);
    changed |= ReplacePair(normal, kSpace, kCloseParen, 1);
    changed |= ReplacePair(normal, kOpenParen, kCloseParen, kRemove);
    changed |= HalveSpaceRuns(normal);
    if (!changed) break;  // later passes would change nothing either
  }
  ReplaceAll(normal, kAndNot);
  ReplaceAll(normal, kOrNot);

  // Trimmed of spaces, and wrapped: the kept unit becomes the "(".
  size_t end = normal.units.size();
  while (end > 1 && normal.units[end - 1] == kSpace) --end;
  size_t begin = 1;
  while (begin < end && normal.units[begin] == kSpace) ++begin;
  normal.units.erase(1, begin - 1);
  normal.origins.erase(normal.origins.begin() + 1,
                       normal.origins.begin() + static_cast<ptrdiff_t>(begin));
  normal.units.resize(end - (begin - 1));
  normal.origins.resize(end - (begin - 1));
  normal.units[0] = kOpenParen;
  normal.units.push_back(kCloseParen);
  normal.origins.push_back(kPadding);
  return true;
}

// A unit of the walked text refers either to a position in the expression
// or, with this bit set, to a converted group that it stands for.
template <typename Origin>
constexpr Origin kGroupRef = Origin{1} << (sizeof(Origin) * 8 - 1);

// GetTokens' splitting at spaces with double-quoted phrases, one unit at a
// time: a token ends at a space once it holds an even number of quotes.
template <typename Origin>
struct Token {
  Origin start = 0;       // in the walked text
  bool active = false;    // a unit has been read since the last space
  bool odd = false;       // it holds an odd number of quotes: a phrase is open
  bool nonblank = false;  // it holds a unit other than U+0000
};

// A group whose ")" has not been reached. Nests can be a million deep, so
// it is kept small.
template <typename Origin>
struct OpenGroup {
  Origin walked_start;   // its "(" in the walked text; 0 for the wrapping pair
  Origin words_begin;    // its words in `words`
  Origin pending_begin;  // quotes of dissolved nested groups that may dissolve it too
  Origin last_direct_quote = kAdded<Origin>;
  Token<Origin> token;
  bool odd_direct_quotes = false;  // in its own text, not in nested groups
};

// An unclosed quote whose group dissolved, waiting for the first enclosing
// group that does not dissolve with it.
template <typename Origin>
struct PendingQuote {
  Origin quote;
  Origin depth;  // of its group; the whole-expression pair is at depth 1
  bool expression_lost = false;
};

template <typename Origin>
class Walk {
 public:
  using Token = diagnostics::Token<Origin>;
  using OpenGroup = diagnostics::OpenGroup<Origin>;
  using PendingQuote = diagnostics::PendingQuote<Origin>;
  static constexpr Origin kAdded = diagnostics::kAdded<Origin>;
  static constexpr Origin kGroupRef = diagnostics::kGroupRef<Origin>;

  // A size or index that the caller made sure fits.
  static Origin Narrow(size_t value) { return static_cast<Origin>(value); }

  struct Span {
    Origin start;
    Origin end;
  };

  // The walk rewrites `normal` in place: it only ever shortens what it has
  // read (a converted group becomes one unit), so it writes behind itself.
  Walk(Traced<Origin>& normal, Reader& reader)
      : walked_(normal.units), refs_(normal.origins), reader_(reader) {}

  void Run() {
    open_.reserve(DeepestNesting());
    const size_t size = walked_.size();
    for (size_t i = 0; i < size;) {
      const char16_t unit = walked_[i];
      const Origin origin = refs_[i];
      if (!IsSpecial(unit)) {
        // A stretch of ordinary units extends the current word as a whole.
        size_t end = i + 1;
        while (end < size && !IsSpecial(walked_[end])) ++end;
        const Origin at = walked_end_;
        std::copy(walked_.begin() + static_cast<ptrdiff_t>(i),
                  walked_.begin() + static_cast<ptrdiff_t>(end),
                  walked_.begin() + static_cast<ptrdiff_t>(at));
        std::copy(refs_.begin() + static_cast<ptrdiff_t>(i),
                  refs_.begin() + static_cast<ptrdiff_t>(end),
                  refs_.begin() + static_cast<ptrdiff_t>(at));
        walked_end_ += Narrow(end - i);
        i = end;
        if (open_.empty()) continue;
        Token& token = open_.back().token;
        if (!token.active) token = {at, true, false, false};
        token.nonblank = true;
        continue;
      }
      ++i;
      if (unit == kOpenParen) {
        open_.push_back(
            {walked_end_, Narrow(words_.size()), Narrow(pending_.size()), kAdded, {}, false});
        Append(unit, origin);
        continue;
      }
      Append(unit, origin);
      if (open_.empty()) continue;  // text between groups stays as typed
      if (unit == kCloseParen) {
        Close(origin);
        continue;
      }
      OpenGroup& group = open_.back();
      if (unit == kDoubleQuote) {
        group.odd_direct_quotes = !group.odd_direct_quotes;
        group.last_direct_quote = origin;
      }
      Feed(group, walked_end_ - 1);
    }
    for (const PendingQuote& pending : pending_) {
      reader_.Unclosed({pending.quote, pending.depth, pending.expression_lost});
    }
  }

 private:
  // Units that steer the tokenizer or the walk.
  static bool IsSpecial(char16_t unit) {
    return unit == kSpace || unit == kDoubleQuote || unit == kOpenParen || unit == kCloseParen ||
           unit == u'\0';
  }

  void Append(char16_t unit, Origin ref) {
    walked_[walked_end_] = unit;
    refs_[walked_end_] = ref;
    ++walked_end_;
  }

  size_t DeepestNesting() const {
    size_t depth = 0;
    size_t deepest = 0;
    for (const char16_t unit : walked_) {
      if (unit == kOpenParen) deepest = std::max(deepest, ++depth);
      if (unit == kCloseParen && depth > 0) --depth;
    }
    return deepest;
  }

  // Reads walked unit `at` into `group`'s tokenizer.
  void Feed(OpenGroup& group, Origin at) {
    Token& token = group.token;
    const char16_t unit = walked_[at];
    if (unit == kSpace) {
      if (token.active && !token.odd) FinishToken(token, at);
      return;
    }
    if (!token.active) token = {at, true, false, false};
    if (unit == kDoubleQuote) token.odd = !token.odd;
    if (unit != u'\0') token.nonblank = true;
  }

  // Ends `token` before walked unit `end`; blank tokens are not words.
  void FinishToken(Token& token, Origin end) {
    token.active = false;
    if (!token.nonblank) return;
    const Origin start = token.start;
    Word word{};
    word.read_start = start;
    word.read_end = end;
    if (end - start == 1 && (refs_[start] & kGroupRef) != 0) {
      const Span& span = group_spans_[refs_[start] & ~kGroupRef];
      word.start = span.start;
      word.end = span.end;
      word.nested_group = true;
    } else {
      word.start = SpanOf(start).start;
      word.end = SpanOf(end - 1).end;
      word.operator_word = OperatorWord(std::u16string_view(walked_).substr(start, end - start));
    }
    words_.push_back(word);
  }

  // Where walked unit `at` stands in the expression. Words begin and end
  // with units the user typed (the added ones are parentheses and spaces).
  Span SpanOf(Origin at) const {
    const Origin ref = refs_[at];
    if ((ref & kGroupRef) != 0) return group_spans_[ref & ~kGroupRef];
    return {ref, static_cast<Origin>(ref + 1)};
  }

  void Close(Origin close_origin) {
    OpenGroup group = open_.back();
    open_.pop_back();
    const Origin depth = Narrow(open_.size() + 1);
    OpenGroup* enclosing = open_.empty() ? nullptr : &open_.back();
    const Origin close_at = walked_end_ - 1;

    const bool quote_open = group.token.active && group.token.odd;
    if (quote_open) {
      // The tokenizer warns and the group dissolves, its text left as typed.
      reader_.QuoteDissolved();
      if (group.odd_direct_quotes) pending_.push_back({group.last_direct_quote, depth});
      if (enclosing == nullptr) {
        for (size_t i = group.pending_begin; i < pending_.size(); ++i) {
          pending_[i].expression_lost = group.walked_start == 0;
        }
      }
      Dissolve(group, enclosing);
      return;
    }
    if (group.token.active) FinishToken(group.token, close_at);
    ReleasePending(group.pending_begin, depth);
    // From a pointer and a size: the WebAssembly build's standard library
    // has no span from two iterators.
    const std::span<Word> words(words_.data() + group.words_begin,
                                words_.size() - group.words_begin);
    if (words.size() < 2) {
      Dissolve(group, enclosing);
      return;
    }

    AssignRoles(words);
    for (Word& word : words) {
      word.read =
          std::u16string_view(walked_).substr(word.read_start, word.read_end - word.read_start);
    }
    reader_.ConvertedGroup(words, group.walked_start == 0);
    // The group becomes one word of the enclosing group, spanning its
    // parentheses where the user typed them.
    const Origin open_origin = refs_[group.walked_start];
    group_spans_.push_back({open_origin != kAdded ? open_origin : Narrow(words.front().start),
                            close_origin != kAdded ? static_cast<Origin>(close_origin + 1)
                                                   : Narrow(words.back().end)});
    words_.resize(group.words_begin);
    walked_end_ = group.walked_start;
    Append(u'X', kGroupRef | Narrow(group_spans_.size() - 1));
    if (enclosing != nullptr) Feed(*enclosing, walked_end_ - 1);
  }

  // Quotes that dissolved nested groups but not `depth`'s group: how many
  // groups each one cost is known now.
  void ReleasePending(Origin begin, Origin depth) {
    for (size_t i = begin; i < pending_.size(); ++i) {
      reader_.Unclosed({pending_[i].quote, pending_[i].depth - depth, false});
    }
    pending_.resize(begin);
  }

  // The group's parentheses become spaces and its text joins the enclosing
  // group's.
  void Dissolve(const OpenGroup& group, OpenGroup* enclosing) {
    walked_[group.walked_start] = kSpace;
    walked_[walked_end_ - 1] = kSpace;
    if (enclosing == nullptr) return;
    if (!enclosing->token.active) {
      // The enclosing group stood between words at the "(", so it splits the
      // text as the group did: the group's words are its words, and a phrase
      // left open runs on in it.
      enclosing->token = group.token;
      return;
    }
    // The "(" stood inside an open phrase of the enclosing group, which
    // therefore splits the group's text differently: read it again.
    words_.resize(group.words_begin);
    for (Origin at = group.walked_start; at < walked_end_; ++at) Feed(*enclosing, at);
  }

  // The converter's item list: an operator word is an operator where an
  // operator may stand (after a term), and a term anywhere else; one left
  // at the end has nothing to join.
  static void AssignRoles(std::span<Word> words) {
    bool expect_term = true;
    for (Word& word : words) {
      if (expect_term || word.operator_word == OperatorKind::kNone) {
        word.role = Role::kOperand;
        expect_term = false;
      } else {
        word.role = Role::kOperator;
        expect_term = true;
      }
    }
    if (expect_term) words.back().role = Role::kDroppedOperator;
  }

  // The text as the walk has rewritten it so far is [0, walked_end_) of
  // walked_; per unit, refs_ holds its origin, or kGroupRef | group.
  std::u16string& walked_;
  std::vector<Origin>& refs_;
  Origin walked_end_ = 0;
  Reader& reader_;
  std::vector<Span> group_spans_;
  std::vector<Word> words_;  // words of the open groups, innermost last
  std::vector<OpenGroup> open_;
  std::vector<PendingQuote> pending_;
};

// Expressions shorter than this are read with 32-bit positions: their
// normalized text, at most four units per unit plus two, stays below the
// top bit that marks a converted group.
constexpr size_t kLongestForNarrowOrigins = size_t{1} << 28;

template <typename Origin>
Outcome ReadNormalized(std::u16string_view expression, const Parentheses& counts, Reader& reader) {
  Traced<Origin> normal;
  if (!Normalize(expression, counts, normal)) return Outcome::kBlank;
  Walk<Origin>(normal, reader).Run();
  return Outcome::kConverted;
}

}  // namespace

OperatorKind OperatorWord(std::u16string_view text) {
  if (text.size() < 2 || text.size() > 3) return OperatorKind::kNone;
  std::u16string lower(text);
  for (char16_t& unit : lower) unit = LowerAscii(unit);
  if (lower == u"and") return OperatorKind::kAnd;
  if (lower == u"or") return OperatorKind::kOr;
  if (lower == u"not") return OperatorKind::kNot;
  return OperatorKind::kNone;
}

Outcome ReadExpression(std::u16string_view expression, Reader& reader) {
  const Parentheses counts = CountParentheses(expression);
  if (MeetsUnmatchedClose(counts)) return Outcome::kUnmatchedClose;
  // The normalized text is at most four times as long as the expression.
  if (expression.size() < kLongestForNarrowOrigins) {
    return ReadNormalized<uint32_t>(expression, counts, reader);
  }
  return ReadNormalized<size_t>(expression, counts, reader);
}

}  // namespace boolconv::diagnostics
