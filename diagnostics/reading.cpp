#include "diagnostics/reading.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace boolconv::diagnostics {
namespace {

constexpr char16_t kOpenParen = u'(';
constexpr char16_t kCloseParen = u')';
constexpr char16_t kDoubleQuote = u'"';
constexpr char16_t kSpace = u' ';

// The origin of a unit that the normalization added (a balancing or
// wrapping parenthesis, or a space beside a parenthesis).
constexpr size_t kAdded = SIZE_MAX;

// The converter's spacing passes; longer space runs and deeper nests of
// empty pairs than these undo are kept in part, here as there.
constexpr int kNormalizePasses = 10;

constexpr char16_t LowerAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

// The normalized text, each unit with the position it came from.
struct Traced {
  std::u16string units;
  std::vector<size_t> origins;

  void Push(char16_t unit, size_t origin) {
    units.push_back(unit);
    origins.push_back(origin);
  }
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

constexpr Replacement kOpenSpace = {u"( ", u"(", {0}, false};
constexpr Replacement kSpaceClose = {u" )", u")", {1}, false};
constexpr Replacement kEmptyPair = {u"()", u"", {}, false};
constexpr Replacement kDoubleSpace = {u"  ", u" ", {0}, false};
constexpr Replacement kAndNot = {u" and not ", u" NOT ", {0, 1, 5, 7, 8}, true};
constexpr Replacement kOrNot = {u" or not ", u" NOT ", {0, 1, 4, 6, 7}, true};

// Replaces every occurrence left to right, without overlaps and without
// looking at inserted text, as the converter does. The text is rewritten in
// place: `to` is never longer than `from`, and sources[k] >= k keeps every
// origin read ahead of the writes. Returns whether anything was replaced.
bool ReplaceAll(Traced& text, const Replacement& replacement) {
  const std::u16string_view from = replacement.from;
  const std::u16string_view to = replacement.to;
  std::u16string& units = text.units;
  std::vector<size_t>& origins = text.origins;
  const size_t size = units.size();
  auto find = [&](size_t at) {
    if (!replacement.ignore_case) return units.find(from.data(), at, from.size());
    // Both patterns that ignore case begin with a space.
    for (at = units.find(from[0], at); at != std::u16string::npos && at + from.size() <= size;
         at = units.find(from[0], at + 1)) {
      size_t k = 1;
      while (k < from.size() && LowerAscii(units[at + k]) == from[k]) ++k;
      if (k == from.size()) return at;
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

// NormalizeBoolean, step for step, on a traced copy. False for blank input,
// which the converter returns without wrapping or walking.
bool Normalize(std::u16string_view expression, Traced& normal) {
  const size_t first = expression.find_first_not_of(kSpace);
  if (first == std::u16string_view::npos) return false;
  const size_t last = expression.find_last_not_of(kSpace);
  const std::u16string_view trimmed = expression.substr(first, last - first + 1);
  if (trimmed.find_first_not_of(u'\0') == std::u16string_view::npos) return false;

  const size_t opens = static_cast<size_t>(std::count(trimmed.begin(), trimmed.end(), kOpenParen));
  const size_t closes =
      static_cast<size_t>(std::count(trimmed.begin(), trimmed.end(), kCloseParen));
  const size_t prepended = closes > opens ? closes - opens : 0;
  const size_t appended = opens > closes ? opens - closes : 0;

  // Balanced, then every parenthesis spaced on its outer side.
  Traced padded;
  const size_t padded_size = trimmed.size() + 2 * (opens + closes + prepended + appended) + 2;
  padded.units.reserve(padded_size);
  padded.origins.reserve(padded_size);
  padded.Push(kOpenParen, kAdded);  // room for the wrapping pair, filled in last
  for (size_t i = 0; i < prepended; ++i) {
    padded.Push(kSpace, kAdded);
    padded.Push(kOpenParen, kAdded);
  }
  for (size_t i = 0; i < trimmed.size(); ++i) {
    const char16_t unit = trimmed[i];
    if (unit == kOpenParen) padded.Push(kSpace, kAdded);
    padded.Push(unit, first + i);
    if (unit == kCloseParen) padded.Push(kSpace, kAdded);
  }
  for (size_t i = 0; i < appended; ++i) {
    padded.Push(kCloseParen, kAdded);
    padded.Push(kSpace, kAdded);
  }

  // The passes run on the text without the wrapping pair, which only comes
  // after them; the placeholder "(" is set aside meanwhile.
  normal.units.assign(padded.units.begin() + 1, padded.units.end());
  normal.origins.assign(padded.origins.begin() + 1, padded.origins.end());
  for (int pass = 0; pass < kNormalizePasses; ++pass) {
    bool changed = ReplaceAll(normal, kOpenSpace);
    changed |= ReplaceAll(normal, kSpaceClose);
    changed |= ReplaceAll(normal, kEmptyPair);
    changed |= ReplaceAll(normal, kDoubleSpace);
    if (!changed) break;  // later passes would change nothing either
  }
  ReplaceAll(normal, kAndNot);
  ReplaceAll(normal, kOrNot);

  const size_t begin = normal.units.find_first_not_of(kSpace);
  const size_t end = normal.units.find_last_not_of(kSpace) + 1;  // npos + 1 == 0
  padded.units.assign(1, kOpenParen);
  padded.origins.assign(1, kAdded);
  if (begin != std::u16string::npos) {
    padded.units.append(normal.units, begin, end - begin);
    padded.origins.insert(padded.origins.end(),
                          normal.origins.begin() + static_cast<ptrdiff_t>(begin),
                          normal.origins.begin() + static_cast<ptrdiff_t>(end));
  }
  padded.Push(kCloseParen, kAdded);
  normal = std::move(padded);
  return true;
}

// True when the walk will meet a ")" that closes no group. Normalization
// puts (closes - opens) "(" in front when there are more ")", and wraps the
// whole in one pair, so that ")" is the first one that takes the depth of
// the text as typed two below the number of "(" put in front.
bool MeetsUnmatchedClose(std::u16string_view expression) {
  int64_t depth = 0;
  int64_t lowest = 0;
  int64_t opens = 0;
  int64_t closes = 0;
  for (const char16_t unit : expression) {
    if (unit == kOpenParen) {
      ++depth;
      ++opens;
    } else if (unit == kCloseParen) {
      --depth;
      ++closes;
      lowest = std::min(lowest, depth);
    }
  }
  const int64_t prepended = std::max<int64_t>(0, closes - opens);
  return lowest <= -2 - prepended;
}

// A unit of the walked text refers either to a position in the expression
// or, with this bit set, to a converted group that it stands for.
constexpr size_t kGroupRef = size_t{1} << (sizeof(size_t) * 8 - 1);

struct Span {
  size_t start;
  size_t end;
};

// GetTokens' splitting at spaces with double-quoted phrases, one unit at a
// time: a token ends at a space once it holds an even number of quotes.
struct Token {
  bool active = false;    // a unit has been read since the last space
  bool odd = false;       // it holds an odd number of quotes: a phrase is open
  bool nonblank = false;  // it holds a unit other than U+0000
  size_t start = 0;       // in the walked text
};

// A group whose ")" has not been reached.
struct OpenGroup {
  size_t walked_start;   // its "(" in the walked text
  size_t words_begin;    // its words in `words`
  size_t pending_begin;  // quotes of dissolved nested groups that may dissolve it too
  bool is_wrapper;       // the pair the normalization wraps around everything
  Token token;
  size_t direct_quotes = 0;  // quotes in its own text, not in nested groups
  size_t last_direct_quote = kAdded;
  size_t first_origin = kAdded;  // first and last unit the user typed in it
  size_t last_origin = kAdded;
};

// An unclosed quote whose group dissolved, waiting for the first enclosing
// group that does not dissolve with it.
struct PendingQuote {
  size_t quote;
  size_t depth;  // of its group; the whole-expression pair is at depth 1
  bool expression_lost = false;
};

class Walk {
 public:
  Walk(const Traced& normal, Reader& reader) : normal_(normal), reader_(reader) {
    walked_.reserve(normal.units.size());
    refs_.reserve(normal.units.size());
  }

  void Run() {
    for (size_t i = 0; i < normal_.units.size(); ++i) {
      const char16_t unit = normal_.units[i];
      const size_t origin = normal_.origins[i];
      if (unit == kOpenParen) {
        open_.push_back({walked_.size(), words_.size(), pending_.size(), i == 0, {}});
        Append(unit, origin);
        Note(open_.back(), origin);
        continue;
      }
      Append(unit, origin);
      if (open_.empty()) continue;  // text between groups stays as typed
      OpenGroup& group = open_.back();
      Note(group, origin);
      if (unit == kCloseParen) {
        Close();
        continue;
      }
      if (unit == kDoubleQuote) {
        ++group.direct_quotes;
        group.last_direct_quote = origin;
      }
      Feed(group, walked_.size() - 1);
    }
    for (const PendingQuote& pending : pending_) {
      reader_.Unclosed({pending.quote, pending.depth, pending.expression_lost});
    }
  }

 private:
  void Append(char16_t unit, size_t ref) {
    walked_.push_back(unit);
    refs_.push_back(ref);
  }

  static void Note(OpenGroup& group, size_t origin) {
    if (origin == kAdded) return;
    if (group.first_origin == kAdded) group.first_origin = origin;
    group.last_origin = origin;
  }

  // Reads walked unit `at` into `group`'s tokenizer.
  void Feed(OpenGroup& group, size_t at) {
    Token& token = group.token;
    const char16_t unit = walked_[at];
    if (unit == kSpace) {
      if (token.active && !token.odd) FinishToken(token, at);
      return;
    }
    if (!token.active) token = {true, false, false, at};
    if (unit == kDoubleQuote) token.odd = !token.odd;
    if (unit != u'\0') token.nonblank = true;
  }

  // Ends `token` before walked unit `end`; blank tokens are not words.
  void FinishToken(Token& token, size_t end) {
    token.active = false;
    if (!token.nonblank) return;
    const size_t start = token.start;
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
  Span SpanOf(size_t at) const {
    const size_t ref = refs_[at];
    if ((ref & kGroupRef) != 0) return group_spans_[ref & ~kGroupRef];
    return {ref, ref + 1};
  }

  void Close() {
    OpenGroup group = open_.back();
    open_.pop_back();
    const size_t depth = open_.size() + 1;
    OpenGroup* enclosing = open_.empty() ? nullptr : &open_.back();
    const size_t close_at = walked_.size() - 1;

    const bool quote_open = group.token.active && group.token.odd;
    if (quote_open) {
      // The tokenizer warns and the group dissolves, its text left as typed.
      reader_.QuoteDissolved();
      if (group.direct_quotes % 2 == 1) pending_.push_back({group.last_direct_quote, depth});
      if (enclosing == nullptr) {
        for (size_t i = group.pending_begin; i < pending_.size(); ++i) {
          pending_[i].expression_lost = group.is_wrapper;
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
    reader_.ConvertedGroup(words, group.is_wrapper);
    words_.resize(group.words_begin);
    // The group becomes one word of the enclosing group.
    group_spans_.push_back({group.first_origin, group.last_origin + 1});
    walked_.resize(group.walked_start);
    refs_.resize(group.walked_start);
    Append(u'X', kGroupRef | (group_spans_.size() - 1));
    if (enclosing != nullptr) {
      Merge(group, *enclosing);
      Feed(*enclosing, walked_.size() - 1);
    }
  }

  // Quotes that dissolved nested groups but not `depth`'s group: how many
  // groups each one cost is known now.
  void ReleasePending(size_t begin, size_t depth) {
    for (size_t i = begin; i < pending_.size(); ++i) {
      reader_.Unclosed({pending_[i].quote, pending_[i].depth - depth, false});
    }
    pending_.resize(begin);
  }

  // The group's parentheses become spaces and its text joins the enclosing
  // group's.
  void Dissolve(const OpenGroup& group, OpenGroup* enclosing) {
    walked_[group.walked_start] = kSpace;
    walked_.back() = kSpace;
    if (enclosing == nullptr) return;
    Merge(group, *enclosing);
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
    for (size_t at = group.walked_start; at < walked_.size(); ++at) Feed(*enclosing, at);
  }

  static void Merge(const OpenGroup& group, OpenGroup& enclosing) {
    if (enclosing.first_origin == kAdded) enclosing.first_origin = group.first_origin;
    if (group.last_origin != kAdded) enclosing.last_origin = group.last_origin;
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

  const Traced& normal_;
  Reader& reader_;
  std::u16string walked_;     // the text as the walk has rewritten it so far
  std::vector<size_t> refs_;  // per walked unit: origin, or kGroupRef | group
  std::vector<Span> group_spans_;
  std::vector<Word> words_;  // words of the open groups, innermost last
  std::vector<OpenGroup> open_;
  std::vector<PendingQuote> pending_;
};

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
  if (MeetsUnmatchedClose(expression)) return Outcome::kUnmatchedClose;
  Traced normal;
  if (!Normalize(expression, normal)) return Outcome::kBlank;
  Walk(normal, reader).Run();
  return Outcome::kConverted;
}

}  // namespace boolconv::diagnostics
