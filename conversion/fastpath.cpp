#include "conversion/fastpath.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>

#include "conversion/scan.h"

namespace boolconv::fastpath {
namespace {

// How the walk and the normalization see a unit. Everything not listed is an
// ordinary unit of a word, every non-ASCII unit included.
enum Kind : uint8_t { kOrdinary, kSpace, kOpen, kClose, kQuote };

constexpr std::array<Kind, 128> MakeKinds() {
  std::array<Kind, 128> kinds{};
  kinds[' '] = kSpace;
  kinds['('] = kOpen;
  kinds[')'] = kClose;
  kinds['"'] = kQuote;
  return kinds;
}
constexpr std::array<Kind, 128> kKinds = MakeKinds();

template <typename Unit>
Kind KindOf(Unit unit) {
  const auto code = static_cast<std::make_unsigned_t<Unit>>(unit);
  return code < kKinds.size() ? kKinds[code] : kOrdinary;
}

// Units are looked at a 64-bit word at a time, as lanes: eight UTF-8 bytes
// or four UTF-16 units (on a little-endian machine, where the first unit is
// the lowest lane). kLaneOnes has a 1 in the lowest bit of every lane.
template <typename Unit>
constexpr uint64_t kLaneOnes = ~uint64_t{0} /
                               std::numeric_limits<std::make_unsigned_t<Unit>>::max();
template <typename Unit>
constexpr uint64_t kLaneHighs = kLaneOnes<Unit> << (8 * sizeof(Unit) - 1);
template <typename Unit>
constexpr size_t kLanes = sizeof(uint64_t) / sizeof(Unit);
constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// The high bit of each lane of `word` that equals `kChar`, and perhaps of
// lanes above the lowest such one: a lane equal to it XORs to zero, and the
// classic zero test finds the lowest zero lane exactly.
template <char kChar, typename Unit>
constexpr uint64_t LanesEqual(uint64_t word) {
  const uint64_t diff = word ^ (kLaneOnes<Unit> * static_cast<unsigned char>(kChar));
  return (diff - kLaneOnes<Unit>)&~diff & kLaneHighs<Unit>;
}

// The first offset from `at` on (up to `size`) whose unit is one of the
// ASCII `stops`.
template <char... kStops, typename Unit>
size_t FindStop(const Unit* data, size_t at, size_t size) {
  if constexpr (kLittleEndian) {
    for (; at + kLanes<Unit> <= size; at += kLanes<Unit>) {
      uint64_t word;
      std::memcpy(&word, data + at, sizeof word);
      const uint64_t found = (LanesEqual<kStops, Unit>(word) | ...);
      if (found != 0) return at + static_cast<size_t>(std::countr_zero(found)) / (8 * sizeof(Unit));
    }
  }
  while (at < size && ((data[at] != static_cast<Unit>(kStops)) && ...)) ++at;
  return at;
}

// The number of bits set in `bits`. std::popcount is a library call where
// the processor's instruction is not part of the baseline (x86-64); this is
// the same count in a few inline steps: sums of bit pairs, then of nibbles,
// then of bytes, gathered in the top byte by the multiplication.
constexpr size_t CountBits(uint64_t bits) {
  bits -= (bits >> 1) & 0x5555555555555555u;
  bits = (bits & 0x3333333333333333u) + ((bits >> 2) & 0x3333333333333333u);
  bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<size_t>((bits * 0x0101010101010101u) >> 56);
}
static_assert(CountBits(0) == 0 && CountBits(~uint64_t{0}) == 64 && CountBits(0x8001) == 2);

// Finds the next stop in the normalized text from the masks of the block
// that holds it, each block classified once as the walk moves on. The text
// must be followed by kBlockUnits readable units.
template <typename Unit>
class StopFinder {
 public:
  // The sets of units the walk stops at.
  enum Stops { kGroups, kPhrase, kToken };

  StopFinder(const Unit* text, size_t size) : text_(text), size_(size) { Classify(0); }

  // The first offset from `at` on whose unit is one of `kStops`: "(" and
  // ")", with kPhrase also '"', with kToken also '"' and the space; `size`
  // when there is none.
  template <Stops kStops>
  size_t Next(size_t at) {
    while (at < size_) {
      if (at - start_ >= kBlockUnits) Classify(at);  // also when at < start_
      uint64_t found = masks_.opens | masks_.closes;
      if constexpr (kStops != kGroups) found |= masks_.quotes;
      if constexpr (kStops == kToken) found |= masks_.spaces;
      found >>= at - start_;
      if (found != 0) return at + static_cast<size_t>(std::countr_zero(found));
      at = start_ + kBlockUnits;
    }
    return size_;
  }

 private:
  void Classify(size_t at) {
    start_ = at;
    masks_ = ClassifyBlock(text_ + at);
  }

  const Unit* text_;
  size_t size_;
  size_t start_ = 0;  // the block classified last
  BlockMasks masks_;
};

// Marks a unit of a form to be dropped before the form is handed out: a
// prefix a group turned out not to need, when moving what follows it would
// cost more than marking. The byte 0xFF never occurs in valid UTF-8; the unit
// U+FFFF can occur in UTF-16, and an input holding it is converted step by
// step instead.
template <typename Unit>
constexpr Unit kHole = static_cast<Unit>(~std::make_unsigned_t<Unit>{0});

// A dissolved group's word up to this long is moved over its group's prefix;
// a longer one (it may hold whole nested groups) leaves holes instead, so a
// dissolving group costs at most this many moves however much it holds.
constexpr size_t kMoveLimit = 64;

// The normalized text is followed by this many U+0000 units: copies from it
// may read kCopySlack units past any of its words, and a block of it is
// classified from any unit on.
constexpr size_t kCopySlack = 16;
constexpr size_t kPadding = std::max(kCopySlack, kBlockUnits);

// The spacing repairs of normalization run this many times.
constexpr int kNormalizePasses = 10;
// A run of spaces between two units that are not parentheses loses half its
// spaces, rounded down, per pass: after all passes one space stands for up
// to this many.
constexpr size_t kSpacesPerSpaceLeft = size_t{1} << kNormalizePasses;

constexpr uint32_t kNoOffset = UINT32_MAX;

enum Operator : uint8_t { kNoOperator, kAnd, kOr, kNot };

// Which operator word `word` is, in any letter case. Setting the 0x20 bit
// lower-cases an ASCII capital, and only the capital and the small letter of
// each of these letters turn into the small letter that way.
template <typename Unit>
Operator OperatorWord(const Unit* word, size_t size) {
  constexpr Unit kLower = 0x20;
  auto is = [&](char letter, size_t at) {
    return (word[at] | kLower) == static_cast<Unit>(letter);
  };
  if (size == 2) return is('o', 0) && is('r', 1) ? kOr : kNoOperator;
  if (size != 3) return kNoOperator;
  if (is('a', 0) && is('n', 1) && is('d', 2)) return kAnd;
  return is('n', 0) && is('o', 1) && is('t', 2) ? kNot : kNoOperator;
}

// How many of `spaces` spaces between `left` and `right` are left after the
// spacing passes, in a text without empty pairs. The passes pad every
// parenthesis with a space on its outer side, then each pass removes one
// space after a "(" and one before a ")" and halves every run. Without
// empty pairs no two runs ever merge, so each run is followed on its own.
size_t SpacesLeft(size_t spaces, Kind left, Kind right) {
  const size_t padded = spaces + (left == kClose) + (right == kOpen);
  if (padded == 0) return 0;
  const bool trimmed_side = left == kOpen || right == kClose;
  if (!trimmed_side) return (padded + kSpacesPerSpaceLeft - 1) / kSpacesPerSpaceLeft;
  // One space off the trimmed side, then half the rest rounded up: half the
  // run rounded down.
  size_t run = padded;
  for (int pass = 0; pass < kNormalizePasses && run > 0; ++pass) run /= 2;
  return run;
}

// Appends to a string through a pointer. The string's size runs ahead of
// what is written by at least kSlack units, so that a short copy can move a
// fixed kSlack units at once, and grows in steps, so that the memory of a
// form reserved but never written is never touched. Finish() cuts the string
// to what was written.
template <typename Unit>
class Writer {
 public:
  static constexpr size_t kSlack = kCopySlack;

  // Reserves room for `most` units; what `text` holds is overwritten.
  Writer(std::basic_string<Unit>& text, size_t most) : text_(text) {
    text_.reserve(most + 2 * kSlack);
    Ensure(0);
    data_ = text_.data();
  }
  size_t size() const { return size_; }
  Unit* data() { return data_; }
  Unit& operator[](size_t at) { return data_[at]; }
  Unit back() const { return data_[size_ - 1]; }

  // Where the next unit goes, and how far units may be written from there
  // (kSlack more may be, as a short copy's overrun); Advance() takes the
  // units up to a cursor, MakeRoom() moves the end further on. Cursors are
  // invalid after anything else that writes.
  std::pair<Unit*, Unit*> Cursor() { return {data_ + size_, data_ + text_.size() - kSlack}; }
  void Advance(const Unit* cursor) { size_ = static_cast<size_t>(cursor - data_); }
  void MakeRoom(size_t count) { Ensure(count); }
  // Makes room for `count` more units and returns where they go; the
  // caller fills them.
  Unit* Extend(size_t count) {
    Ensure(count);
    size_ += count;
    return data_ + size_ - count;
  }
  // Units beyond the old size are the caller's to fill.
  void resize(size_t size) {
    if (size > size_) Ensure(size - size_);
    size_ = size;
  }
  void push_back(Unit unit) {
    Ensure(1);
    data_[size_++] = unit;
  }
  void append(const Unit* from, size_t count) {
    Ensure(count);
    std::char_traits<Unit>::copy(data_ + size_, from, count);
    size_ += count;
  }
  // `from` must be followed by kSlack readable units.
  void AppendPadded(const Unit* from, size_t count) {
    Ensure(count);
    if (count <= kSlack) {
      std::char_traits<Unit>::copy(data_ + size_, from, kSlack);
    } else {
      std::char_traits<Unit>::copy(data_ + size_, from, count);
    }
    size_ += count;
  }
  void AppendAscii(std::string_view ascii) {
    Ensure(ascii.size());
    for (const char c : ascii) data_[size_++] = static_cast<Unit>(c);
  }
  void Erase(size_t at, size_t count) {
    std::char_traits<Unit>::move(data_ + at, data_ + at + count, size_ - at - count);
    size_ -= count;
  }
  // The text as written, with every kHole unit dropped.
  void Finish(bool holes) {
    if (holes) {
      const auto kept = std::remove(data_, data_ + size_, kHole<Unit>);
      size_ = static_cast<size_t>(kept - data_);
    }
    text_.resize(size_);
  }

 private:
  void Ensure(size_t more) {
    if (size_ + more + kSlack > text_.size()) Grow(more);
  }
  // A sixteenth more at a time, and at most a huge page's 2 MB: little is
  // touched beyond what is written (the string clears what it grows by).
  // Out of line, so that the writes around it stay small enough to inline.
  [[gnu::noinline]] void Grow(size_t more) {
    constexpr size_t kLeastStep = 256;
    constexpr size_t kMostStep = (size_t{2} << 20) / sizeof(Unit);
    const size_t needed = size_ + more + kSlack;
    const size_t step = std::clamp(text_.size() / 16, kLeastStep, kMostStep);
    text_.resize(std::max(needed, text_.size() + step));
    data_ = text_.data();
  }

  std::basic_string<Unit>& text_;
  Unit* data_ = nullptr;
  size_t size_ = 0;
};

// The text of a dissolved stretch as the step-by-step walk leaves it: every
// parenthesis in it belongs to a dissolved group and has become a space.
// `from` is in the normalized text, whose padding lets its parentheses be
// found a block at a time.
template <typename Unit, typename Text>
void AppendDissolved(Text& text, const Unit* from, const Unit* to) {
  const size_t start = text.size();
  const size_t count = static_cast<size_t>(to - from);
  text.append(from, count);
  for (size_t at = 0; at < count; at += kBlockUnits) {
    const BlockMasks masks = ClassifyBlock(from + at);
    uint64_t parentheses = masks.opens | masks.closes;
    if (count - at < kBlockUnits) parentheses &= (uint64_t{1} << (count - at)) - 1;
    for (; parentheses != 0; parentheses &= parentheses - 1) {
      text[start + at + static_cast<size_t>(std::countr_zero(parentheses))] = Unit(' ');
    }
  }
}

// Replaces every " <word> not " (letter case ignored) by " NOT ", left to
// right without overlapping, as ReplaceAll does, but visiting only the
// places where a word "not" stands (`nots`, ascending). `nots` becomes the
// places of the words "not" in the new text, the inserted "NOT"s included.
template <typename Unit>
void CollapseNot(std::basic_string<Unit>& text, size_t& size, std::vector<size_t>& nots,
                 std::string_view word) {
  Unit* const data = text.data();
  const size_t lead = word.size() + 2;  // " <word> " in front of "not"
  size_t read = 0;                      // the text from here on is not moved yet
  size_t write = 0;
  auto matches = [&](size_t at) {
    if (at < lead || at + 3 >= size || data[at + 3] != Unit(' ')) return false;
    const size_t start = at - lead;
    if (start < read || data[start] != Unit(' ') || data[at - 1] != Unit(' ')) return false;
    for (size_t i = 0; i < word.size(); ++i) {
      if (LowerAscii(data[start + 1 + i]) != static_cast<Unit>(word[i])) return false;
    }
    return true;
  };
  for (size_t& at : nots) {
    if (!matches(at)) {
      at -= read - write;
      continue;
    }
    const size_t start = at - lead;
    std::char_traits<Unit>::move(data + write, data + read, start - read);
    write += start - read;
    for (const char c : std::string_view(" NOT ")) data[write++] = static_cast<Unit>(c);
    at = write - 4;
    read = start + lead + 4;
  }
  std::char_traits<Unit>::move(data + write, data + read, size - read);
  size -= read - write;
}

}  // namespace

// NormalizeBoolean in one pass, for texts without an empty pair "(" spaces
// ")": only those make the spacing passes join runs of spaces or remove
// parentheses. Returns false for them (and for a text holding the hole unit).
template <typename Unit>
bool FastConverter<Unit>::Normalize(View input) {
  normal_size_ = 0;
  spaces_ = 0;
  const size_t first = input.find_first_not_of(Unit(' '));
  if (first == View::npos) {  // blank: the empty text
    normal_.clear();
    return true;
  }
  const View text = input.substr(first, input.find_last_not_of(Unit(' ')) + 1 - first);
  if (text.find(kHole<Unit>) != View::npos) return false;
  if (text.find_first_not_of(Unit(0)) == View::npos) {  // U+0000 only: blank, kept as it is
    normal_.assign(text);
    normal_size_ = normal_.size();
    return true;
  }
  if (NormalizeRegular(text)) return true;
  // The number of "(" to put in front is known only at the end; it is
  // almost always none, so the text is written assuming none and written
  // again in the rare other case.
  const std::optional<size_t> missing_opens = NormalizeTrimmed(text, 0);
  if (!missing_opens) return false;
  if (*missing_opens > 0 && !NormalizeTrimmed(text, *missing_opens)) return false;
  return true;
}

// Most typed text is already spaced as normalization leaves it: single
// spaces, a space or "(" before every "(" and none after it, a space or ")"
// after every ")" and none before it, as many "(" as ")" and no "()". Then
// the spacing passes change nothing and the normalized text is the text in
// parentheses, copied whole. Returns false, having written nothing usable,
// for any other text.
template <typename Unit>
bool FastConverter<Unit>::NormalizeRegular(View text) {
  const Unit* const data = text.data();
  const size_t size = text.size();
  size_t opens = 0;
  size_t closes = 0;
  size_t spaces = 0;
  nots_.clear();
  // The last block may be partial: it is classified from a copy padded with
  // U+0000, which is none of the units looked for.
  std::array<Unit, kBlockUnits> tail;
  auto classify = [&](size_t at) {
    if (at + kBlockUnits <= size) return ClassifyBlock(data + at);
    if (at >= size) return BlockMasks{};
    tail.fill(Unit(0));
    std::char_traits<Unit>::copy(tail.data(), data + at, size - at);
    return ClassifyBlock(tail.data());
  };
  // Each unit is checked against its neighbours as bits: bit k of
  // `followed` says that unit k + 1 is a space or ")", bit k of `preceded`
  // that unit k - 1 is a space or "(". The text is trimmed, so a space
  // always has a unit after it.
  BlockMasks block = classify(0);
  uint64_t preceded_carry = 0;
  for (size_t at = 0; at < size; at += kBlockUnits) {
    const BlockMasks next = classify(at + kBlockUnits);
    const uint64_t followed =
        ((block.spaces | block.closes) >> 1) | ((next.spaces | next.closes) << (kBlockUnits - 1));
    const uint64_t preceded = ((block.spaces | block.opens) << 1) | preceded_carry;
    preceded_carry = (block.spaces | block.opens) >> (kBlockUnits - 1);
    // The text's first unit has nothing before it, its last nothing after.
    const uint64_t first = at == 0 ? 1 : 0;
    const uint64_t last = size - at <= kBlockUnits ? uint64_t{1} << (size - at - 1) : 0;
    const uint64_t irregular = (block.spaces & followed) | (block.opens & followed) |
                               (block.opens & ~preceded & ~first) |
                               (block.closes & ~followed & ~last);
    if (irregular != 0) return false;
    spaces += CountBits(block.spaces);
    // Most blocks hold no parenthesis.
    if ((block.opens | block.closes) != 0) {
      opens += CountBits(block.opens);
      closes += CountBits(block.closes);
    }
    // A word "not" between two spaces may collapse: the normalized text has
    // it one unit further on, after the "(" in front.
    for (uint64_t between = block.spaces & ((block.spaces >> 4) | (next.spaces << 60));
         between != 0; between &= between - 1) {
      const size_t space = at + static_cast<size_t>(std::countr_zero(between));
      if (OperatorWord(data + space + 1, 3) == kNot) nots_.push_back(space + 2);
    }
    block = next;
  }
  if (opens != closes) return false;
  // Written once, not zeroed first: this is the largest copy of a
  // conversion.
  normal_.clear();
  normal_.reserve(size + 2 + kPadding);
  normal_.push_back(Unit('('));
  normal_.append(data, size);
  normal_.push_back(Unit(')'));
  normal_size_ = size + 2;
  spaces_ = spaces;
  groups_ = opens + 1;
  if (!nots_.empty()) {
    CollapseNot(normal_, normal_size_, nots_, "and");
    CollapseNot(normal_, normal_size_, nots_, "or");
  }
  normal_.resize(normal_size_);
  normal_.append(kPadding, Unit(0));
  return true;
}

// Writes the normalized form of trimmed, non-blank `text` with `prepended`
// "(" in front. Returns how many "(" the text lacks, or nothing when it holds
// an empty pair.
template <typename Unit>
std::optional<size_t> FastConverter<Unit>::NormalizeTrimmed(View text, size_t prepended) {
  const Unit* const data = text.data();
  const size_t size = text.size();
  spaces_ = 0;
  // Each parenthesis is padded by at most one space; the wrapping adds two.
  Writer<Unit> out(normal_, 2 * size + prepended + 2);
  out.push_back(Unit('('));
  for (size_t i = 0; i < prepended; ++i) out.push_back(Unit('('));

  // `left` is the kind of the last unit that is not a space; a space run is
  // written only once the unit after it is known.
  Kind left = prepended > 0 ? kOpen : kSpace;  // kSpace: nothing before the text
  size_t opens = 0;                            // in the text
  size_t closes = 0;
  nots_.clear();  // the words "not", any letter case
  for (size_t i = 0; i < size;) {
    size_t spaces = 0;
    if constexpr (kLittleEndian) {  // long runs a word at a time
      constexpr uint64_t kAllSpaces = kLaneOnes<Unit> * ' ';
      for (uint64_t word; i + kLanes<Unit> <= size; i += kLanes<Unit>, spaces += kLanes<Unit>) {
        std::memcpy(&word, data + i, sizeof word);
        if (word != kAllSpaces) break;
      }
    }
    while (data[i] == Unit(' ')) ++spaces, ++i;  // the text ends with a non-space
    const Kind kind = KindOf(data[i]);
    if (left == kOpen && kind == kClose) return std::nullopt;  // an empty pair
    // A parenthesis at the very start is padded in front, and trimmed again:
    // nothing is written before the text.
    const size_t padded = spaces + (left == kClose) + (kind == kOpen);
    if (padded > 0 && left != kSpace) {
      // Runs of one or two spaces, nearly all of them, end as one space, or
      // as none beside a "(" on its inner side or a ")" on its inner side.
      const bool trimmed_side = left == kOpen || kind == kClose;
      const size_t kept = padded > 2 ? SpacesLeft(spaces, left, kind) : trimmed_side ? 0 : 1;
      for (size_t k = 0; k < kept; ++k) out.push_back(Unit(' '));
      spaces_ += kept;
    }
    opens += kind == kOpen;
    closes += kind == kClose;
    if (kind == kOpen || kind == kClose) {
      out.push_back(data[i++]);
      left = kind;
      continue;
    }
    const size_t end = FindStop<' ', '(', ')'>(data, i + 1, size);
    if (end - i == 3 && OperatorWord(data + i, 3) == kNot) nots_.push_back(out.size());
    if (i + Writer<Unit>::kSlack <= size) {
      out.AppendPadded(data + i, end - i);
    } else {
      out.append(data + i, end - i);
    }
    left = kOrdinary;
    i = end;
  }
  // Only the counts are balanced, not their order.
  if (closes > opens && prepended == 0) return closes - opens;  // written again
  const size_t appended = opens > closes ? opens - closes : 0;
  if (appended > 0 && left == kOpen) return std::nullopt;  // "(" then an appended ")"
  for (size_t i = 0; i < appended; ++i) out.push_back(Unit(')'));
  out.push_back(Unit(')'));
  groups_ = 1 + prepended + opens;
  out.Finish(false);
  normal_size_ = normal_.size();
  if (!nots_.empty()) {
    CollapseNot(normal_, normal_size_, nots_, "and");
    CollapseNot(normal_, normal_size_, nots_, "or");
  }
  normal_.resize(normal_size_);
  normal_.append(kPadding, Unit(0));
  return 0;
}

template <typename Unit>
FastResult FastConverter<Unit>::Convert(View input, String& operator_form, String& sign_form,
                                        std::vector<String>& prompts) {
  prompts.clear();
  if (!Normalize(input)) return FastResult::kNeedsReference;
  const View normal = this->normal();
  if (normal.empty() || normal.front() != Unit('(')) {  // blank
    operator_form.assign(normal);
    sign_form.assign(normal);
    return FastResult::kConverted;
  }
  return Walk(operator_form, sign_form, prompts);
}

// The group walk of ExpandGroups, writing both forms as it goes. A group's
// tokens are written as they end, each with the separator the group
// converter would give it; what a token turns out to be (blank, an operator
// word) only ever changes the last few units written. A group that dissolves
// gives its one word to the enclosing group as a token of its own.
template <typename Unit>
FastResult FastConverter<Unit>::Walk(String& operator_form, String& sign_form,
                                     std::vector<String>& prompts) {
  const Unit* const n = normal_.data();
  const size_t size = normal_size_;
  // Bounds on the forms' lengths: a token's separator grows from one space
  // to at most " AND " (or " +" and a sign), and each group's first operand
  // may get a sign. Reserving them keeps every write in place.
  const size_t op_most = size + 4 * spaces_;
  const size_t sg_most = size + spaces_ + size / 2;
  if (std::max(op_most, sg_most) + 2 * Writer<Unit>::kSlack >= kNoOffset) {
    return FastResult::kNeedsReference;  // offsets would not fit a frame
  }
  Writer<Unit> op(operator_form, op_most);
  Writer<Unit> sg(sign_form, sg_most);
  auto at = [](size_t offset) { return static_cast<Offset>(offset); };
  StopFinder<Unit> stops(n, size);
  frames_.clear();
  frames_.reserve(groups_);  // the nesting is never deeper: no frame is ever moved
  bool holes = false;        // some unit of the forms is kHole

  // The lambdas that run for every token or group are inlined into the loop:
  // as calls they cost a good part of the walk.

  // Units of the normalized text that both forms take as they are.
  auto copy = [&](size_t from, size_t to) __attribute__((always_inline)) {
    op.AppendPadded(n + from, to - from);
    sg.AppendPadded(n + from, to - from);
  };

  auto start_token = [&](Frame & group, size_t first) __attribute__((always_inline)) {
    group.in_token = true;
    group.token_filled = false;
    group.token_group = false;
    group.n_token = at(first);
    group.n_token_end = kNoOffset;
    group.op_token = at(op.size());
    group.sg_token = at(sg.size());
    if (group.kept == 0) {
      sg.push_back(Unit('+'));  // the first operand's sign, dropped if "or" follows it
    } else if (group.pending == kOr) {
      op.push_back(Unit(' '));
      sg.push_back(Unit(' '));
    } else if (group.pending == kNot) {
      op.push_back(Unit(' '));
      sg.AppendAscii(" -");
    } else if (group.pending == kAnd) {
      op.push_back(Unit(' '));
      sg.AppendAscii(" +");
    } else {
      op.AppendAscii(" AND ");  // undone if the token is an operator word
      sg.AppendAscii(" +");
    }
  };

  // An "or" in second place leaves `group`'s first operand bare: its sign,
  // right after the group's "(" in the sign form, goes.
  auto drop_first_sign = [&](const Frame& group) {
    if (sg.size() - group.sg_open <= kMoveLimit) {
      sg.Erase(group.sg_open + 1, 1);
    } else {
      sg[group.sg_open + 1] = kHole<Unit>;
      holes = true;
    }
  };

  auto end_token = [&](Frame & group, size_t delimiter) __attribute__((always_inline)) {
    group.in_token = false;
    if (!group.token_filled) {  // blank: dropped with its separator
      op.resize(group.op_token);
      sg.resize(group.sg_token);
      return;
    }
    const size_t end = group.n_token_end != kNoOffset ? group.n_token_end : delimiter;
    if (group.kept > 0 && group.pending == kNoOperator && !group.token_group) {
      const Operator word = OperatorWord(n + group.n_token, end - group.n_token);
      if (word != kNoOperator) {
        // An operator joins the next operand: " op" in the operator form,
        // nothing in the sign form, and an "or" in second place leaves the
        // first operand bare.
        op.resize(group.op_token);
        op.push_back(Unit(' '));
        op.AppendPadded(n + group.n_token, end - group.n_token);
        sg.resize(group.sg_token);
        group.pending = word;
        if (group.kept == 1 && word == kOr) drop_first_sign(group);
        group.kept = 2;
        return;
      }
    }
    if (group.kept == 0) {
      group.n_first = group.n_token;
      group.n_first_end = at(end);
      group.first_group = group.token_group;
    }
    group.pending = kNoOperator;
    if (group.kept < 2) ++group.kept;
  };

  // Starts `group` as a new group whose "(" is at `open`, and writes that "(".
  auto start_group = [&](Frame & group, size_t open) __attribute__((always_inline)) {
    group = Frame{};
    group.n_open = at(open);
    group.op_open = at(op.size());
    group.sg_open = at(sg.size());
    op.push_back(Unit('('));
    sg.push_back(Unit('('));
  };

  auto open_group = [&](size_t open, bool in_outer_phrase) __attribute__((always_inline)) {
    start_group(frames_.emplace_back(), open);
    frames_.back().in_outer_phrase = in_outer_phrase;
  };

  // Makes `group`, which stood for `inner` and the groups around it (see
  // Frame::fresh_outer), the group right around `inner`: its "(" is right
  // before `inner`'s, followed in the sign form by the sign of its first
  // operand, and `inner` is its token in progress. Field by field, as the
  // walk reads them back at once.
  auto become_fresh_outer = [&](Frame& group, const Frame& inner) {
    group.n_open = inner.n_open - 1;
    group.op_open = inner.op_open - 1;
    group.sg_open = inner.sg_open - 2;
    group.fresh_outer = inner.fresh_outer - 1;
    group.op_token = group.op_open + 1;
    group.sg_token = group.sg_open + 1;
    group.n_token = inner.n_open;
    group.n_token_end = kNoOffset;
    group.kept = 0;
    group.pending = kNoOperator;
    group.in_token = true;
    group.in_phrase = false;
    group.token_filled = true;
    group.token_group = true;
    group.in_outer_phrase = false;
    group.holds_converted = false;
  };

  // A group with fewer than two words at the outermost level: its text stays
  // as it stands, its parentheses and those of the groups it dissolved
  // turned to spaces, its one word (which may hold converted groups) as
  // written.
  auto dissolve_outermost = [&](const Frame& group, size_t close) {
    if (group.kept == 0) {
      op.resize(group.op_open);
      sg.resize(group.sg_open);
      AppendDissolved(op, n + group.n_open, n + close + 1);
      AppendDissolved(sg, n + group.n_open, n + close + 1);
      return;
    }
    const size_t before = group.n_first - group.n_open;
    // In the operator form the word follows "(", in the sign form "(+".
    auto rewrite = [&](Writer<Unit>& form, size_t start, size_t word_at) {
      const size_t word_size = form.size() - word_at;
      if (start + before > word_at) form.resize(start + before + word_size);
      std::char_traits<Unit>::move(form.data() + start + before, form.data() + word_at, word_size);
      form.resize(start + before + word_size);
      for (size_t i = 0; i < before; ++i) {
        const Unit unit = n[group.n_open + i];
        form[start + i] = unit == Unit('(') || unit == Unit(')') ? Unit(' ') : unit;
      }
      AppendDissolved(form, n + group.n_first_end, n + close + 1);
    };
    rewrite(op, group.op_open, group.op_open + 1);
    rewrite(sg, group.sg_open, group.sg_open + 2);
  };

  // Closes the innermost group at `close`; false when the step-by-step path
  // must take over.
  auto close_group = [&](size_t close) {
    const Frame group = frames_.back();
    if (group.fresh_outer > 0) {
      become_fresh_outer(frames_.back(), group);
    } else {
      frames_.pop_back();
    }
    Frame* const outer = frames_.empty() ? nullptr : &frames_.back();
    if (group.in_token && group.in_phrase) {
      // An odd number of quotes: the tokenizer warns, quoting the group's
      // text, and the group dissolves. Only an outermost group's text is the
      // normalized text as it stands; one with converted groups inside would
      // show their placeholders.
      if (outer != nullptr || group.holds_converted) return false;
      String& prompt = prompts.emplace_back();
      for (const char c : std::string_view(kTokenizerPrompt)) prompt.push_back(Unit(c));
      AppendDissolved(prompt, n + group.n_open + 1, n + close);
      if (prompt.back() != Unit(' ')) prompt.push_back(Unit(' '));
      Frame whole = group;
      whole.kept = 0;
      dissolve_outermost(whole, close);
      return true;
    }
    if (group.kept >= 2) {
      if (group.pending != kNoOperator) {  // a trailing operator: " op" ends the form
        op.resize(op.size() - (group.pending == kOr ? 3 : 4));
      }
      op.push_back(Unit(')'));
      sg.push_back(Unit(')'));
      if (outer != nullptr) outer->holds_converted = true;
      return true;
    }
    if (outer == nullptr) {
      dissolve_outermost(group, close);
      return true;
    }
    // Inside a phrase the dissolved group's spaces would stay in the phrase.
    if (group.in_outer_phrase) return false;
    outer->holds_converted |= group.holds_converted;
    if (group.kept == 0) {  // the enclosing group sees only blank tokens
      op.resize(outer->op_token);
      sg.resize(outer->sg_token);
      outer->in_token = false;
      return true;
    }
    // The word becomes the enclosing group's token: drop "(" and "(+".
    const size_t word_size = op.size() - group.op_open - 1;
    if (word_size <= kMoveLimit) {
      op.Erase(group.op_open, 1);
      sg.Erase(group.sg_open, 2);
    } else {
      op[group.op_open] = kHole<Unit>;
      sg[group.sg_open] = kHole<Unit>;
      sg[group.sg_open + 1] = kHole<Unit>;
      holes = true;
    }
    outer->token_filled = true;
    outer->token_group = group.first_group;
    outer->n_token = group.n_first;
    outer->n_token_end = group.n_first_end;
    return true;
  };

  // Most of a group's text: words that are neither quoted nor start with
  // U+0000, each followed by a space and another word or by the group's
  // ")". Each is written with the separator its operator (or the implicit
  // AND) gives it, or, if it is an operator word, held as the group's
  // pending operator, exactly as start_token and end_token would; of the
  // frame only `kept`, `pending` and the first word change. Written through
  // cursors held here rather than through the writers, whose fields a store
  // of a byte could alias. Returns where it stopped: a unit that is not a
  // word's (the ")" among them), or a token it leaves to the general path.
  auto plain_words = [&](Frame & group, size_t i) __attribute__((always_inline)) {
    // Separators as units, each written as one fixed-size copy.
    static constexpr Unit kAnd[] = {' ', 'A', 'N', 'D', ' '};
    static constexpr Unit kSpace[] = {' '};
    static constexpr Unit kPlus[] = {' ', '+'};
    static constexpr Unit kMinus[] = {' ', '-'};
    static constexpr Unit kSign[] = {'+'};
    constexpr size_t kMostSeparator = std::size(kAnd);
    auto [op_at, op_end] = op.Cursor();
    auto [sg_at, sg_end] = sg.Cursor();
    uint8_t kept = group.kept;
    uint8_t pending = group.pending;
    auto put =
        []<size_t kSize>(Unit * &cursor, const Unit(&units)[kSize]) __attribute__((always_inline)) {
      std::memcpy(cursor, units, sizeof units);
      cursor += kSize;
    };
    for (;;) {
      if (KindOf(n[i]) != kOrdinary || n[i] == Unit(0)) break;
      const size_t end = stops.template Next<StopFinder<Unit>::kToken>(i);
      const size_t word_size = end - i;
      const Unit after = n[end];
      if (after != Unit(' ') && after != Unit(')')) break;
      Operator word = kNoOperator;
      if (kept > 0 && pending == kNoOperator && (word_size == 2 || word_size == 3)) {
        word = OperatorWord(n + i, word_size);
      }
      if (static_cast<size_t>(op_end - op_at) < word_size + kMostSeparator ||
          static_cast<size_t>(sg_end - sg_at) < word_size + kMostSeparator) {
        op.Advance(op_at);
        sg.Advance(sg_at);
        op.MakeRoom(word_size + kMostSeparator);
        sg.MakeRoom(word_size + kMostSeparator);
        std::tie(op_at, op_end) = op.Cursor();
        std::tie(sg_at, sg_end) = sg.Cursor();
      }
      if (word != kNoOperator) {
        put(op_at, kSpace);
        // "or" in second place takes the first operand's sign away.
        if (word == kOr && kept == 1) {
          sg.Advance(sg_at);
          drop_first_sign(group);
          std::tie(sg_at, sg_end) = sg.Cursor();
        }
      } else if (kept == 0) {
        put(sg_at, kSign);  // the first operand's sign, dropped if "or" follows it
        group.n_first = at(i);
        group.n_first_end = at(end);
        group.first_group = false;
      } else {
        switch (pending) {
          case kNoOperator:
            put(op_at, kAnd);
            put(sg_at, kPlus);
            break;
          case kOr:
            put(op_at, kSpace);
            put(sg_at, kSpace);
            break;
          case kNot:
            put(op_at, kSpace);
            put(sg_at, kMinus);
            break;
          default:
            put(op_at, kSpace);
            put(sg_at, kPlus);
            break;
        }
      }
      // The text and the writers are padded: a short word is copied as a
      // fixed number of units.
      if (word_size <= kCopySlack) {
        std::memcpy(op_at, n + i, kCopySlack * sizeof(Unit));
        std::memcpy(sg_at, n + i, kCopySlack * sizeof(Unit));
      } else {
        std::memcpy(op_at, n + i, word_size * sizeof(Unit));
        std::memcpy(sg_at, n + i, word_size * sizeof(Unit));
      }
      op_at += word_size;
      if (word == kNoOperator) sg_at += word_size;  // an operator word is not in the sign form
      pending = word;
      kept = word != kNoOperator || kept > 0 ? 2 : 1;
      if (after == Unit(')')) {
        i = end;
        break;
      }
      i = end + 1;
    }
    op.Advance(op_at);
    sg.Advance(sg_at);
    group.kept = kept;
    group.pending = pending;
    return i;
  };

  // A ")" that leaves the innermost frame standing for groups around a
  // word they got from a dissolved group (so the word's end is known) may be
  // followed by more: each of those groups holds that word alone and
  // dissolves the same way, dropping its "(" in the operator form and "(+"
  // in the sign form right before the word. Takes as many of those ")" at
  // once as the frame stands for groups, from `i` on.
  auto dissolve_fresh_run = [&](size_t& i) {
    Frame& group = frames_.back();
    if (group.fresh_outer == 0 || !group.in_token || group.in_phrase || group.kept != 0 ||
        !group.token_filled || group.n_token_end == kNoOffset) {
      return;
    }
    size_t run = 1;
    while (run < group.fresh_outer && n[i + run] == Unit(')')) ++run;
    const size_t word_size = op.size() - group.op_open - 1;
    const size_t op_from = group.op_open + 1 - run;
    const size_t sg_from = group.sg_open + 2 - 2 * run;
    if (word_size <= kMoveLimit) {
      op.Erase(op_from, run);
      sg.Erase(sg_from, 2 * run);
    } else {
      std::char_traits<Unit>::assign(op.data() + op_from, run, kHole<Unit>);
      std::char_traits<Unit>::assign(sg.data() + sg_from, 2 * run, kHole<Unit>);
      holes = true;
    }
    group.n_open = at(group.n_open - run);
    group.op_open = at(group.op_open - run);
    group.sg_open = at(group.sg_open - 2 * run);
    group.fresh_outer = at(group.fresh_outer - run);
    group.op_token = group.op_open + 1;
    group.sg_token = group.sg_open + 1;
    i += run;
  };

  for (size_t i = 0; i < size;) {
    if (frames_.empty()) {
      const Kind kind = KindOf(n[i]);
      if (kind == kClose) return FastResult::kUnmatchedClose;
      if (kind == kOpen) {
        open_group(i++, false);
        continue;
      }
      // Text between groups at the outermost level stays as it is.
      const size_t end = stops.template Next<StopFinder<Unit>::kGroups>(i + 1);
      copy(i, end);
      i = end;
      continue;
    }
    Frame& group = frames_.back();
    if (group.in_token && group.in_phrase) {
      // A phrase takes every unit up to its closing quote, spaces included;
      // parentheses still open and close groups.
      const size_t end = stops.template Next<StopFinder<Unit>::kPhrase>(i);
      copy(i, end);
      i = end;
      if (n[i] == Unit('"')) {
        copy(i, i + 1);
        group.in_phrase = false;
        ++i;
      } else if (n[i] == Unit('(')) {
        group.token_group = true;
        open_group(i++, true);
      } else if (!close_group(i++)) {
        return FastResult::kNeedsReference;
      }
      continue;
    }
    switch (KindOf(n[i])) {
      case kSpace:
        if (group.in_token) end_token(group, i);
        ++i;
        break;
      case kOpen:
        // Normalization leaves a space or "(" before every "(".
        if (group.in_token) return FastResult::kNeedsReference;
        // A group opened right after its own "(", with nothing before it yet,
        // shares the frame of the group that opened first.
        if (group.kept == 0 && group.n_open + 1 == i && !group.in_outer_phrase &&
            !group.holds_converted) {
          // So does every "(" of the run it starts: each is the first token
          // of the one before, "(" in the operator form and "+(" in the sign
          // form.
          size_t run = 1;
          while (n[i + run] == Unit('(')) ++run;
          const Offset fresh_outer = at(group.fresh_outer + run);
          std::char_traits<Unit>::assign(op.Extend(run), run, Unit('('));
          Unit* const signs = sg.Extend(2 * run);
          for (size_t k = 0; k < run; ++k) signs[2 * k] = Unit('+'), signs[2 * k + 1] = Unit('(');
          group = Frame{};
          group.n_open = at(i + run - 1);
          group.op_open = at(op.size() - 1);
          group.sg_open = at(sg.size() - 1);
          group.fresh_outer = fresh_outer;
          i += run;
          break;
        }
        start_token(group, i);
        group.token_filled = true;
        group.token_group = true;
        open_group(i++, false);
        break;
      case kClose:
        if (group.in_token) end_token(group, i);
        if (!close_group(i++)) return FastResult::kNeedsReference;
        if (n[i] == Unit(')') && !frames_.empty()) dissolve_fresh_run(i);
        break;
      case kQuote:
      case kOrdinary:
        // Words and the single spaces between them, most of a group, are
        // taken here one after another.
        for (;;) {
          if (!group.in_token) {
            i = plain_words(group, i);
            const Kind kind = KindOf(n[i]);
            if (kind != kOrdinary && kind != kQuote) break;
          }
          if (!group.in_token) start_token(group, i);
          const size_t end = stops.template Next<StopFinder<Unit>::kToken>(i);
          if (!group.token_filled) {
            group.token_filled = std::any_of(n + i, n + end, [](Unit unit) { return unit != 0; });
          }
          copy(i, end);
          i = end;
          if (n[i] == Unit('"')) {
            copy(i, i + 1);
            group.token_filled = true;
            group.in_phrase = true;
            ++i;
            break;
          }
          if (n[i] != Unit(' ')) break;
          end_token(group, i);
          ++i;
          const Kind next = KindOf(n[i]);
          if (next != kOrdinary && next != kQuote) break;
        }
        break;
    }
  }
  if (!frames_.empty()) return FastResult::kNeedsReference;  // cannot happen: counts balance
  op.Finish(holes);
  sg.Finish(holes);
  return FastResult::kConverted;
}

template class FastConverter<char>;
template class FastConverter<char16_t>;

}  // namespace boolconv::fastpath
