#include "diagnostics/reading.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "diagnostics/characters.h"

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

// The normalized text, each unit with the position it came from. It begins
// at `start`: what comes before is spaces that the trimming left out.
template <typename Origin>
struct Traced {
  std::u16string units;
  std::vector<Origin> origins;
  size_t start = 0;
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
// ReplaceAll looks for them by their first two units: a space, then a
// lower-case letter matched in either case.
static_assert(kAndNot.from[0] == u' ' && kAndNot.from[1] == u'a');
static_assert(kOrNot.from[0] == u' ' && kOrNot.from[1] == u'o');

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
  // Both patterns begin with a space and a letter: setting bit 0x20, which
  // lower-cases ASCII letters, rules out most places at the second unit.
  // Four places at a time are ruled out together where none of them can
  // begin a match (the test of the four gives no false negatives).
  auto find = [&](size_t at) {
    if (size < from.size()) return std::u16string::npos;
    const char16_t* const begin = units.data();
    const size_t last = size - from.size();  // the last place a match may begin
    constexpr uint64_t kLanes = 0x0001000100010001u;
    constexpr uint64_t kHighBits = 0x8000800080008000u;
    const uint64_t spaces = kLanes * from[0];
    const uint64_t seconds = kLanes * from[1];
    const uint64_t case_bits = kLanes * 0x20;
    while (at <= last) {
      if (at + 4 <= last) {
        uint64_t firsts = 0;
        uint64_t nexts = 0;
        std::memcpy(&firsts, begin + at, sizeof firsts);
        std::memcpy(&nexts, begin + at + 1, sizeof nexts);
        const uint64_t differ = (firsts ^ spaces) | ((nexts | case_bits) ^ seconds);
        if (((differ - kLanes) & ~differ & kHighBits) == 0) {  // no lane is zero
          at += 4;
          continue;
        }
      }
      for (const size_t end = std::min(at + 4, last + 1); at < end; ++at) {
        if (begin[at] == from[0] && (begin[at + 1] | 0x20) == from[1] && matches_at(at)) {
          return at;
        }
      }
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

// Every unit that steers the normalization or the walk (U+0000, space,
// double quote and parentheses) is at most ")", unlike letters and digits.
constexpr char16_t kLastSteering = kCloseParen;

bool IsSpacing(char16_t unit) {
  return unit <= kLastSteering && (unit == kSpace || unit == kOpenParen || unit == kCloseParen);
}

// The end of the spacing passes' pipeline: writes their result through
// `units` and `origins` from index 0, and notes whether another pass would
// change it.
template <typename Origin>
class SpacedText {
 public:
  SpacedText(char16_t* units, Origin* origins) : units_(units), origins_(origins) {}

  bool Idle() const { return true; }

  void Put(char16_t unit, Origin origin) {
    const char16_t before = last_;
    needs_another_ |= (unit == kSpace && (before == kOpenParen || before == kSpace)) ||
                      (unit == kCloseParen && (before == kSpace || before == kOpenParen));
    last_ = unit;
    units_[written_] = unit;
    origins_[written_++] = origin;
  }

  // A stretch that no pass changes (see Drive), with its origins, or with
  // consecutive origins from `first`.
  void PutStretch(const char16_t* units, const Origin* origins, size_t size) {
    if (units_ + written_ != units) {
      std::copy(units, units + size, units_ + written_);
      std::copy(origins, origins + size, origins_ + written_);
    }
    written_ += size;
    last_ = units[size - 1];
  }
  void PutStretch(const char16_t* units, Origin first, size_t size) {
    std::copy(units, units + size, units_ + written_);
    for (size_t k = 0; k < size; ++k) origins_[written_ + k] = static_cast<Origin>(first + k);
    written_ += size;
    last_ = units[size - 1];
  }

  size_t Finish() { return written_; }

  // Whether the result holds "( ", "  ", " )" or "()", so that another pass
  // would change it.
  bool NeedsAnother() const { return needs_another_; }

 private:
  char16_t* units_;
  Origin* origins_;
  size_t written_ = 0;
  char16_t last_ = u'\0';
  bool needs_another_ = false;
};

// One spacing pass of the converter: "( " becomes "(", then " )" becomes
// ")", then "()" goes, then "  " becomes " ", each replacement made left to
// right without overlaps over the whole text before the next begins (so a
// run of k spaces becomes ceil(k / 2), each pair keeping the origin of its
// first space). Here the four run as a pipeline in one sweep: each step
// holds back at most the one unit that may begin its pattern and hands the
// rest to the next step, which sees exactly the text its replacement would
// see after the one before. The pass hands its result on to `Next`: the
// next pass, or the SpacedText at the end.
template <typename Origin, typename Next>
class SpacingPass {
 public:
  explicit SpacingPass(Next& next) : next_(next) {}

  void Put(char16_t unit, Origin origin) { OpenSpace(unit, origin); }

  // Whether no step of this pass or the later ones holds a unit back.
  bool Idle() const {
    return !open_space_.held && !space_close_.held && !empty_pair_.held && next_.Idle();
  }

  // A stretch fed while Idle() that no pass changes (see Drive).
  template <typename Origins>
  void PutStretch(const char16_t* units, Origins origins, size_t size) {
    spaces_ = 0;
    next_.PutStretch(units, origins, size);
  }

  // Hands on what the steps hold back; returns the length of the result.
  size_t Finish() {
    if (open_space_.held) SpaceClose(kOpenParen, Release(open_space_));
    if (space_close_.held) EmptyPair(kSpace, Release(space_close_));
    if (empty_pair_.held) HalveSpaces(kOpenParen, Release(empty_pair_));
    return next_.Finish();
  }

 private:
  struct Held {
    bool held = false;
    Origin origin = 0;
  };
  static Origin Release(Held& held) {
    held.held = false;
    return held.origin;
  }

  // "( " -> "(", keeping the "(".
  void OpenSpace(char16_t unit, Origin origin) {
    if (open_space_.held) {
      const Origin open = Release(open_space_);
      SpaceClose(kOpenParen, open);
      if (unit == kSpace) return;
    }
    if (unit == kOpenParen) {
      open_space_ = {true, origin};
      return;
    }
    SpaceClose(unit, origin);
  }

  // " )" -> ")", keeping the ")".
  void SpaceClose(char16_t unit, Origin origin) {
    if (space_close_.held) {
      const Origin space = Release(space_close_);
      if (unit != kCloseParen) EmptyPair(kSpace, space);
    }
    if (unit == kSpace) {
      space_close_ = {true, origin};
      return;
    }
    EmptyPair(unit, origin);
  }

  // "()" -> "".
  void EmptyPair(char16_t unit, Origin origin) {
    if (empty_pair_.held) {
      const Origin open = Release(empty_pair_);
      if (unit == kCloseParen) return;
      HalveSpaces(kOpenParen, open);
    }
    if (unit == kOpenParen) {
      empty_pair_ = {true, origin};
      return;
    }
    HalveSpaces(unit, origin);
  }

  // "  " -> " ": of a run of spaces, the first, third, fifth... stay.
  void HalveSpaces(char16_t unit, Origin origin) {
    if (unit == kSpace) {
      if (spaces_++ % 2 != 0) return;
    } else {
      spaces_ = 0;
    }
    next_.Put(unit, origin);
  }

  Next& next_;
  Held open_space_;
  Held space_close_;
  Held empty_pair_;
  size_t spaces_ = 0;  // in the current run, before halving
};

// The end of a stretch of `units` from `begin` that no spacing pass changes:
// units other than "(", ")" and " ", with single spaces between them. No
// pattern of a pass begins with such a unit or ends with one, so a pipeline
// that holds nothing back passes the stretch on as it is.
size_t StretchEnd(const char16_t* units, size_t begin, size_t size) {
  size_t end = begin + 1;
  while (end < size && (!IsSpacing(units[end]) ||
                        (units[end] == kSpace && end + 1 < size && !IsSpacing(units[end + 1])))) {
    ++end;
  }
  return end;
}

// Feeds `units` and `origins` to `pipeline`, stretches at a time where it can.
template <typename Origin, typename Pipeline>
void Drive(Pipeline& pipeline, const char16_t* units, const Origin* origins, size_t size) {
  for (size_t i = 0; i < size;) {
    if (pipeline.Idle() && !IsSpacing(units[i])) {
      const size_t end = StretchEnd(units, i, size);
      pipeline.PutStretch(units + i, origins + i, end - i);
      i = end;
      continue;
    }
    pipeline.Put(units[i], origins[i]);
    ++i;
  }
}

// The parentheses of an expression, counted once for the checks and the
// balancing alike (trimming spaces leaves them all).
struct Parentheses {
  size_t opens = 0;
  size_t closes = 0;
  // How far the depth of the text as typed falls below 0: how many ")" find
  // no "(" before them.
  size_t unmatched_closes = 0;
  size_t deepest = 0;  // the depth of the text as typed, not counting those
};

// Whether the 32 units from `block` hold "(" or ")", four units at a time:
// "(" and ")" are the only units that are ")" with their lowest bit set.
bool HoldsParenthesis(const char16_t* block) {
  constexpr uint64_t kLanes = 0x0001000100010001u;
  constexpr uint64_t kHighBits = 0x8000800080008000u;
  constexpr uint64_t kCloses = kLanes * kCloseParen;
  uint64_t found = 0;
  for (size_t k = 0; k < 32; k += 4) {
    uint64_t units = 0;
    std::memcpy(&units, block + k, sizeof units);
    const uint64_t differ = (units | kLanes) ^ kCloses;
    found |= (differ - kLanes) & ~differ & kHighBits;  // a lane is zero
  }
  return found != 0;
}

Parentheses CountParentheses(std::u16string_view expression) {
  Parentheses counts;
  size_t depth = 0;
  // Blocks without a parenthesis, most of them, are passed over whole.
  constexpr size_t kBlock = 32;
  for (size_t begin = 0; begin < expression.size(); begin += kBlock) {
    const std::u16string_view block = expression.substr(begin, kBlock);
    if (block.size() == kBlock && !HoldsParenthesis(block.data())) continue;
    for (const char16_t unit : block) {
      if (unit == kOpenParen) {
        ++counts.opens;
        counts.deepest = std::max(counts.deepest, ++depth);
      } else if (unit == kCloseParen) {
        ++counts.closes;
        if (depth > 0) {
          --depth;
        } else {
          ++counts.unmatched_closes;
        }
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

  // Balanced, then every parenthesis spaced on its outer side, fed to the
  // first two spacing passes as it is made; most text needs no more. The
  // first unit is kept for the wrapping "(", which only comes after the
  // passes; meanwhile it holds U+0000, which no pattern of the passes
  // contains, so they act on the rest alone.
  const size_t padded_size = 1 + trimmed.size() + opens + closes + 2 * (prepended + appended);
  normal.units.resize(padded_size);
  normal.origins.resize(padded_size);
  char16_t* units = normal.units.data();
  Origin* origins = normal.origins.data();
  constexpr Origin kPadding = kAdded<Origin>;
  size_t size = 0;
  bool needs_another = false;
  {
    SpacedText<Origin> spaced(units, origins);
    SpacingPass<Origin, SpacedText<Origin>> later(spaced);
    SpacingPass<Origin, decltype(later)> earlier(later);
    earlier.Put(u'\0', kPadding);
    for (size_t i = 0; i < prepended; ++i) {
      earlier.Put(kSpace, kPadding);
      earlier.Put(kOpenParen, kPadding);
    }
    const char16_t* typed = trimmed.data();
    for (size_t i = 0; i < trimmed.size();) {
      const char16_t unit = typed[i];
      const Origin origin = static_cast<Origin>(first + i);
      if (earlier.Idle() && !IsSpacing(unit)) {
        const size_t end = StretchEnd(typed, i, trimmed.size());
        earlier.PutStretch(typed + i, origin, end - i);
        i = end;
        continue;
      }
      if (unit == kOpenParen) earlier.Put(kSpace, kPadding);
      earlier.Put(unit, origin);
      if (unit == kCloseParen) earlier.Put(kSpace, kPadding);
      ++i;
    }
    for (size_t i = 0; i < appended; ++i) {
      earlier.Put(kCloseParen, kPadding);
      earlier.Put(kSpace, kPadding);
    }
    size = earlier.Finish();
    needs_another = spaced.NeedsAnother();
  }
  // A pass that finds none of its patterns changes nothing, and neither
  // would any after it. The rest go two at a time, in place.
  static_assert(kNormalizePasses % 2 == 0);
  for (int passes = 2; passes < kNormalizePasses && needs_another; passes += 2) {
    SpacedText<Origin> spaced(units, origins);
    SpacingPass<Origin, SpacedText<Origin>> later(spaced);
    SpacingPass<Origin, decltype(later)> earlier(later);
    Drive(earlier, units, origins, size);
    size = earlier.Finish();
    needs_another = spaced.NeedsAnother();
  }
  normal.units.resize(size);
  normal.origins.resize(size);
  ReplaceAll(normal, kAndNot);
  ReplaceAll(normal, kOrNot);

  // Trimmed of spaces, and wrapped: the unit before the first one kept
  // becomes the "(", and the walk begins there.
  size_t end = normal.units.size();
  while (end > 1 && normal.units[end - 1] == kSpace) --end;
  size_t begin = 1;
  while (begin < end && normal.units[begin] == kSpace) ++begin;
  normal.start = begin - 1;
  normal.units[normal.start] = kOpenParen;
  normal.origins[normal.start] = kPadding;
  normal.units.resize(end);
  normal.origins.resize(end);
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
//
// A group that dissolves joins its text to the enclosing group's, which
// reads it on from where it stood at the "(": between words, it splits the
// text as the group did itself; inside an open phrase, the phrase runs on
// into the text, which therefore splits at other spaces. (A "(" comes after
// a space or another "(", so a reading that stands inside a word there
// stands inside an open phrase.) Reading the text again at each level
// would cost time in the square of the depth, so a group that may be read
// the second way keeps that reading too, as_phrase, beside its own, and
// passes on what both come to. Either reading only counts words (up to two:
// enough to tell whether a group converts); the words themselves are
// listed as the walk goes while that list stays right, and otherwise found
// once the group converts, from its text.
template <typename Origin>
struct OpenGroup {
  Origin walked_start;   // its "(" in the walked text; 0 for the wrapping pair
  Origin words_begin;    // its words in `words`
  Origin pending_begin;  // quotes of dissolved nested groups that may dissolve it too
  Origin last_direct_quote = kAdded<Origin>;
  Token<Origin> token;             // its own reading, from its "("
  Token<Origin> as_phrase;         // its text read as the rest of a phrase open at its "("
  uint8_t words = 0;               // that its own reading has ended, up to 2
  uint8_t phrase_words = 0;        // that as_phrase has ended after the phrase, up to 2
  bool odd_direct_quotes = false;  // in its own text, not in nested groups
  bool reads_as_phrase = false;    // as_phrase is kept
  bool phrase_ended = false;       // as_phrase has ended the phrase it began in,
  bool phrase_nonblank = false;    // which held a unit other than U+0000 by then
  bool words_stale = false;        // `words` lacks its words: they are found at its ")"
};

// Where a converted group stands in the expression.
template <typename Origin>
struct GroupSpan {
  Origin start;
  Origin end;
};

// An unclosed quote whose group dissolved, waiting for the first enclosing
// group that does not dissolve with it.
template <typename Origin>
struct PendingQuote {
  Origin quote;
  Origin depth;  // of its group; the whole-expression pair is at depth 1
  bool expression_lost = false;
};

// The lists a walk keeps, held between walks so that their memory is reused.
template <typename Origin>
struct WalkLists {
  std::vector<GroupSpan<Origin>> group_spans;
  std::vector<Word> words;
  std::vector<OpenGroup<Origin>> open;
  std::vector<PendingQuote<Origin>> pending;
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

  using Span = GroupSpan<Origin>;

  // The walk rewrites `normal` in place: it only ever shortens what it has
  // read (a converted group becomes one unit), so it writes behind itself.
  // Its lists live in `lists`, whose memory it reuses and leaves there,
  // emptied, for the next walk.
  Walk(Traced<Origin>& normal, WalkLists<Origin>& lists, Reader& reader)
      : walked_(normal.units),
        refs_(normal.origins),
        start_(normal.start),
        reader_(reader),
        group_spans_(lists.group_spans),
        words_(lists.words),
        open_(lists.open),
        pending_(lists.pending) {}
  ~Walk() {
    group_spans_.clear();
    words_.clear();
    open_.clear();
    pending_.clear();
  }
  Walk(const Walk&) = delete;
  Walk& operator=(const Walk&) = delete;

  // `deepest`: at least the deepest nesting of the normalized text.
  void Run(size_t deepest) {
    open_.reserve(deepest);
    const size_t size = walked_.size();
    for (size_t i = start_; i < size;) {
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
        OpenGroup& group = open_.back();
        ReadOrdinary(group.token, at);
        if (group.reads_as_phrase) ReadOrdinary(group.as_phrase, at);
        continue;
      }
      ++i;
      if (unit == kOpenParen) {
        Open();
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
    return unit <= kLastSteering && (unit == kSpace || unit == kDoubleQuote || unit == kOpenParen ||
                                     unit == kCloseParen || unit == u'\0');
  }

  void Append(char16_t unit, Origin ref) {
    walked_[walked_end_] = unit;
    refs_[walked_end_] = ref;
    ++walked_end_;
  }

  // A group opens at walked_end_.
  void Open() {
    OpenGroup group{};
    group.walked_start = walked_end_;
    group.words_begin = Narrow(words_.size());
    group.pending_begin = Narrow(pending_.size());
    if (!open_.empty()) {
      const OpenGroup& enclosing = open_.back();
      group.reads_as_phrase =
          enclosing.token.active || (enclosing.reads_as_phrase && enclosing.as_phrase.active);
      if (group.reads_as_phrase) group.as_phrase = {walked_end_, true, true, false};
    }
    open_.push_back(group);
  }

  // GetTokens' rules for one unit, walked unit `at`, of a reading: returns
  // whether it ends the token.
  static bool Step(Token& token, char16_t unit, Origin at) {
    if (unit == kSpace) {
      if (!token.active || token.odd) return false;
      token.active = false;
      return true;
    }
    if (!token.active) token = {at, true, false, false};
    if (unit == kDoubleQuote) token.odd = !token.odd;
    if (unit != u'\0') token.nonblank = true;
    return false;
  }

  // A stretch of units other than those that steer the tokenizer, from
  // walked unit `at`.
  static void ReadOrdinary(Token& token, Origin at) {
    if (!token.active) token = {at, true, false, false};
    token.nonblank = true;
  }

  static uint8_t Plus(uint8_t words, uint8_t more) {
    return static_cast<uint8_t>(std::min(words + more, 2));
  }

  // Reads walked unit `at` into both readings of `group`.
  void Feed(OpenGroup& group, Origin at) {
    const char16_t unit = walked_[at];
    if (Step(group.token, unit, at)) EndWord(group, at);
    if (group.reads_as_phrase && Step(group.as_phrase, unit, at)) EndPhraseWord(group);
  }

  // Its own reading of `group` has ended a token before walked unit `end`;
  // blank tokens are not words.
  void EndWord(OpenGroup& group, Origin end) {
    if (!group.token.nonblank) return;
    group.words = Plus(group.words, 1);
    if (!group.words_stale) PushWord(group.token.start, end);
  }

  void EndPhraseWord(OpenGroup& group) {
    if (!group.phrase_ended) {
      group.phrase_ended = true;
      group.phrase_nonblank = group.as_phrase.nonblank;
    } else if (group.as_phrase.nonblank) {
      group.phrase_words = Plus(group.phrase_words, 1);
    }
  }

  // Lists the word [start, end) of the walked text.
  void PushWord(Origin start, Origin end) {
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

  // Lists the words of `group`, whose ")" is walked unit `close_at`, from
  // its text: its own reading once more, now that it converts.
  void FindWords(const OpenGroup& group, Origin close_at) {
    words_.resize(group.words_begin);
    Token token;
    for (Origin at = group.walked_start + 1; at < close_at;) {
      if (!IsSpecial(walked_[at])) {
        ReadOrdinary(token, at);
        while (at < close_at && !IsSpecial(walked_[at])) ++at;
        continue;
      }
      if (Step(token, walked_[at], at) && token.nonblank) PushWord(token.start, at);
      ++at;
    }
    if (token.active && token.nonblank) PushWord(token.start, close_at);
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
    // The ")" reads as a space, should the group's text join a phrase.
    if (group.reads_as_phrase && Step(group.as_phrase, kSpace, close_at)) EndPhraseWord(group);

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
    if (Step(group.token, kSpace, close_at)) EndWord(group, close_at);
    ReleasePending(group.pending_begin, depth);
    if (group.words < 2) {
      Dissolve(group, enclosing);
      return;
    }
    if (group.words_stale) FindWords(group, close_at);
    // From a pointer and a size: the WebAssembly build's standard library
    // has no span from two iterators.
    const std::span<Word> words(words_.data() + group.words_begin,
                                words_.size() - group.words_begin);

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
  // group's, whose readings read it on from where they stood at the "(".
  void Dissolve(const OpenGroup& group, OpenGroup* enclosing) {
    walked_[group.walked_start] = kSpace;
    walked_[walked_end_ - 1] = kSpace;
    if (enclosing == nullptr) return;
    if (!enclosing->token.active) {
      // Between words: the group's words are its words, and a phrase left
      // open runs on in it.
      enclosing->token = group.token;
      enclosing->words = Plus(enclosing->words, group.words);
      enclosing->words_stale |= group.words_stale;
    } else {
      // Inside a phrase, which runs on into the group's text.
      enclosing->words_stale = true;
      if (group.phrase_ended) {
        if (enclosing->token.nonblank || group.phrase_nonblank) {
          enclosing->words = Plus(enclosing->words, 1);
        }
        enclosing->words = Plus(enclosing->words, group.phrase_words);
        enclosing->token = group.as_phrase;
      } else {
        enclosing->token.odd = group.as_phrase.odd;
        enclosing->token.nonblank |= group.as_phrase.nonblank;
      }
    }
    if (enclosing->words_stale) words_.resize(group.words_begin);
    if (!enclosing->reads_as_phrase) return;
    Token& phrase = enclosing->as_phrase;
    if (!phrase.active) {
      phrase = group.token;
      enclosing->phrase_words = Plus(enclosing->phrase_words, group.words);
    } else if (group.phrase_ended) {
      const bool nonblank = phrase.nonblank || group.phrase_nonblank;
      if (!enclosing->phrase_ended) {
        enclosing->phrase_ended = true;
        enclosing->phrase_nonblank = nonblank;
      } else if (nonblank) {
        enclosing->phrase_words = Plus(enclosing->phrase_words, 1);
      }
      enclosing->phrase_words = Plus(enclosing->phrase_words, group.phrase_words);
      phrase = group.as_phrase;
    } else {
      phrase.odd = group.as_phrase.odd;
      phrase.nonblank |= group.as_phrase.nonblank;
    }
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
  size_t start_;  // where the walk begins reading
  Origin walked_end_ = 0;
  Reader& reader_;
  // In the reading's lists, whose memory the next walk reuses.
  std::vector<Span>& group_spans_;
  std::vector<Word>& words_;  // words of the open groups, innermost last
  std::vector<OpenGroup>& open_;
  std::vector<PendingQuote>& pending_;
};

// Expressions shorter than this are read with 32-bit positions: their
// normalized text, at most four units per unit plus two, stays below the
// top bit that marks a converted group.
constexpr size_t kLongestForNarrowOrigins = size_t{1} << 28;

// The memory of a reading: the normalized text and the walk's lists.
template <typename Origin>
struct Scratch {
  Traced<Origin> normal;
  WalkLists<Origin> lists;
};

// A thread keeps the memory of its last reading for the next one: for the
// many short and middling expressions of a session or a log, copies made
// afresh cost more in allocating and clearing pages than the reading
// itself. A reading that needed more than this is given back, so that a
// program that once checked a huge text does not hold on to its memory.
constexpr size_t kMostKeptBytes = size_t{8} << 20;

template <typename Origin>
size_t HeldBytes(const Scratch<Origin>& scratch) {
  auto bytes = [](const auto& list) { return list.capacity() * sizeof(list[0]); };
  const WalkLists<Origin>& lists = scratch.lists;
  return bytes(scratch.normal.units) + bytes(scratch.normal.origins) + bytes(lists.group_spans) +
         bytes(lists.words) + bytes(lists.open) + bytes(lists.pending);
}

template <typename Origin>
Outcome ReadNormalized(std::u16string_view expression, const Parentheses& counts,
                       Scratch<Origin>& scratch, Reader& reader) {
  Traced<Origin>& normal = scratch.normal;
  normal.start = 0;
  if (!Normalize(expression, counts, normal)) return Outcome::kBlank;
  // The walk nests no deeper than the wrapping pair, the "(" put in front
  // and the typed ones.
  const size_t prepended = counts.closes > counts.opens ? counts.closes - counts.opens : 0;
  Walk<Origin>(normal, scratch.lists, reader).Run(1 + prepended + counts.deepest);
  return Outcome::kConverted;
}

// Reads with the thread's kept memory, or with memory of its own where a
// reader reads another expression from inside a reading.
Outcome ReadNarrow(std::u16string_view expression, const Parentheses& counts, Reader& reader) {
  thread_local Scratch<uint32_t> kept;
  thread_local bool in_use = false;
  if (in_use) {
    Scratch<uint32_t> own;
    return ReadNormalized<uint32_t>(expression, counts, own, reader);
  }
  struct Release {
    ~Release() {
      in_use = false;
      if (HeldBytes(kept) > kMostKeptBytes) kept = Scratch<uint32_t>();
    }
  } release;
  in_use = true;
  return ReadNormalized<uint32_t>(expression, counts, kept, reader);
}

}  // namespace

OperatorKind OperatorWord(std::u16string_view text) {
  if (text.size() < 2 || text.size() > 3) return OperatorKind::kNone;
  const char16_t first = LowerAscii(text[0]);
  const char16_t second = LowerAscii(text[1]);
  if (text.size() == 2) {
    return first == u'o' && second == u'r' ? OperatorKind::kOr : OperatorKind::kNone;
  }
  const char16_t third = LowerAscii(text[2]);
  if (first == u'a' && second == u'n' && third == u'd') return OperatorKind::kAnd;
  if (first == u'n' && second == u'o' && third == u't') return OperatorKind::kNot;
  return OperatorKind::kNone;
}

Outcome ReadExpression(std::u16string_view expression, Reader& reader) {
  const Parentheses counts = CountParentheses(expression);
  if (MeetsUnmatchedClose(counts)) return Outcome::kUnmatchedClose;
  // The normalized text is at most four times as long as the expression.
  if (expression.size() < kLongestForNarrowOrigins) {
    return ReadNarrow(expression, counts, reader);
  }
  Scratch<size_t> scratch;
  return ReadNormalized<size_t>(expression, counts, scratch, reader);
}

}  // namespace boolconv::diagnostics
