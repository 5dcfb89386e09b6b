#include "conversion/fastpath.h"

#include <algorithm>
#include <array>

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

// Marks a unit of a form to be dropped before the form is handed out: a
// prefix a group turned out not to need, when moving what follows it would
// cost more than marking. The byte 0xFF never occurs in valid UTF-8; the unit
// U+FFFF can occur in UTF-16, and an input holding it is converted step by
// step instead.
template <typename Unit>
constexpr Unit kHole = static_cast<Unit>(~std::make_unsigned_t<Unit>{0});

// A dissolved group's word up to this long is moved over its group's prefix;
// a longer one (it may hold whole nested groups) leaves holes instead, so no
// unit is moved more than a fixed number of times.
constexpr size_t kMoveLimit = 64;

// The spacing repairs of normalization run this many times.
constexpr int kNormalizePasses = 10;
// A run of spaces between two units that are not parentheses loses half its
// spaces, rounded down, per pass: after all passes one space stands for up
// to this many.
constexpr size_t kSpacesPerSpaceLeft = size_t{1} << kNormalizePasses;

constexpr size_t kNone = static_cast<size_t>(-1);

enum Operator : uint8_t { kNoOperator, kAnd, kOr, kNot };

template <typename Unit>
Operator OperatorWord(const Unit* word, size_t size) {
  auto is = [&](std::string_view lower) {
    for (size_t i = 0; i < size; ++i) {
      if (LowerAscii(word[i]) != static_cast<Unit>(lower[i])) return false;
    }
    return true;
  };
  if (size == 2) return is("or") ? kOr : kNoOperator;
  if (size != 3) return kNoOperator;
  if (is("and")) return kAnd;
  return is("not") ? kNot : kNoOperator;
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

template <typename Unit>
void AppendAscii(std::basic_string<Unit>& text, std::string_view ascii) {
  for (const char c : ascii) text.push_back(static_cast<Unit>(c));
}

// The text of a dissolved stretch as the step-by-step walk leaves it: every
// parenthesis in it belongs to a dissolved group and has become a space.
template <typename Unit>
void AppendDissolved(std::basic_string<Unit>& text, const Unit* from, const Unit* to) {
  const size_t start = text.size();
  text.append(from, to);
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] == Unit('(') || text[i] == Unit(')')) text[i] = Unit(' ');
  }
}

template <typename Unit>
void RemoveHoles(std::basic_string<Unit>& text) {
  const auto end = std::remove(text.begin(), text.end(), kHole<Unit>);
  text.erase(end, text.end());
}

}  // namespace

template <typename Unit>
void FastConverter<Unit>::Release() {
  String().swap(normal_);
  std::vector<Frame>().swap(frames_);
}

// NormalizeBoolean in one pass, for texts without an empty pair "(" spaces
// ")": only those make the spacing passes join runs of spaces or remove
// parentheses. Returns false for them (and for a text holding the hole unit).
template <typename Unit>
bool FastConverter<Unit>::Normalize(View input) {
  normal_.clear();
  const size_t first = input.find_first_not_of(Unit(' '));
  if (first == View::npos) return true;  // blank: the empty text
  const View text = input.substr(first, input.find_last_not_of(Unit(' ')) + 1 - first);

  size_t opens = 0;
  size_t closes = 0;
  bool filled = false;  // some unit is not U+0000
  for (const Unit unit : text) {
    opens += unit == Unit('(');
    closes += unit == Unit(')');
    filled |= unit != Unit(0);
    if (unit == kHole<Unit>) return false;
  }
  if (!filled) {  // U+0000 only: blank, returned as it is
    normal_.assign(text);
    return true;
  }
  const size_t prepended = closes > opens ? closes - opens : 0;
  const size_t appended = opens > closes ? opens - closes : 0;
  normal_.reserve(text.size() + 2 * (opens + closes) + prepended + appended + 2);
  normal_.push_back(Unit('('));
  normal_.append(prepended, Unit('('));

  // `left` is the kind of the last unit that is not a space; a space run is
  // written only once the unit after it is known.
  Kind left = prepended > 0 ? kOpen : kSpace;  // kSpace: nothing before the text
  bool maybe_not = false;                      // a word "not" in any letter case
  const Unit* const data = text.data();
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    size_t spaces = 0;
    while (data[i] == Unit(' ')) ++spaces, ++i;  // the text ends with a non-space
    const Kind kind = KindOf(data[i]);
    if (left == kOpen && kind == kClose) return false;  // an empty pair
    // A parenthesis at the very start is padded in front, and trimmed again.
    if (left != kSpace) normal_.append(SpacesLeft(spaces, left, kind), Unit(' '));
    if (kind == kOpen || kind == kClose) {
      normal_.push_back(data[i++]);
      left = kind;
      continue;
    }
    size_t end = i + 1;
    while (end < size && data[end] != Unit(' ') && data[end] != Unit('(') &&
           data[end] != Unit(')')) {
      ++end;
    }
    if (end - i == 3 && OperatorWord(data + i, 3) == kNot) maybe_not = true;
    normal_.append(data + i, end - i);
    left = kOrdinary;
    i = end;
  }
  if (appended > 0 && left == kOpen) return false;  // "(" then an appended ")"
  normal_.append(appended, Unit(')'));
  if (maybe_not) {
    ReplaceAll<Case::kIgnore>(normal_, " and not ", " NOT ");
    ReplaceAll<Case::kIgnore>(normal_, " or not ", " NOT ");
  }
  normal_.push_back(Unit(')'));
  return true;
}

template <typename Unit>
FastResult FastConverter<Unit>::Convert(View input, String& operator_form, String& sign_form,
                                        std::vector<String>& prompts) {
  prompts.clear();
  if (!Normalize(input)) return FastResult::kNeedsReference;
  if (normal_.empty() || normal_.front() != Unit('(')) {  // blank
    operator_form = normal_;
    sign_form = normal_;
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
FastResult FastConverter<Unit>::Walk(String& op, String& sg, std::vector<String>& prompts) {
  const Unit* const n = normal_.data();
  const size_t size = normal_.size();
  // Bounds on the forms' lengths: a token's separator grows from one space
  // to at most " AND " (or " +" and a sign), a group adds a sign. Reserving
  // them keeps every write in place; pages never written cost no memory.
  const size_t spaces = static_cast<size_t>(std::count(n, n + size, Unit(' ')));
  op.clear();
  sg.clear();
  op.reserve(size + 4 * spaces + size / 2 + 8);
  sg.reserve(size + spaces + size / 2 + 8);
  frames_.clear();
  size_t rows = 0;     // groups converted so far
  bool holes = false;  // some unit of the forms is kHole

  // Units of the normalized text that both forms take as they are.
  auto copy = [&](size_t from, size_t to) {
    op.append(n + from, to - from);
    sg.append(n + from, to - from);
  };

  auto start_token = [&](Frame& group, size_t at) {
    group.in_token = true;
    group.token_filled = false;
    group.token_group = false;
    group.n_token = at;
    group.n_token_end = kNone;
    group.op_token = op.size();
    group.sg_token = sg.size();
    if (group.kept == 0) {
      sg.push_back(Unit('+'));  // the first operand's sign, dropped if "or" follows it
    } else if (group.pending == kOr) {
      op.push_back(Unit(' '));
      sg.push_back(Unit(' '));
    } else if (group.pending == kNot) {
      op.push_back(Unit(' '));
      AppendAscii(sg, " -");
    } else if (group.pending == kAnd) {
      op.push_back(Unit(' '));
      AppendAscii(sg, " +");
    } else {
      AppendAscii(op, " AND ");  // undone if the token is an operator word
      AppendAscii(sg, " +");
    }
  };

  auto end_token = [&](Frame& group, size_t at) {
    group.in_token = false;
    if (!group.token_filled) {  // blank: dropped with its separator
      op.resize(group.op_token);
      sg.resize(group.sg_token);
      return;
    }
    const size_t end = group.n_token_end != kNone ? group.n_token_end : at;
    if (group.kept > 0 && group.pending == kNoOperator && !group.token_group) {
      const Operator word = OperatorWord(n + group.n_token, end - group.n_token);
      if (word != kNoOperator) {
        // An operator joins the next operand: " op" in the operator form,
        // nothing in the sign form, and an "or" in second place leaves the
        // first operand bare.
        op.resize(group.op_token);
        op.push_back(Unit(' '));
        op.append(n + group.n_token, end - group.n_token);
        sg.resize(group.sg_token);
        group.op_pending = group.op_token;
        group.pending = word;
        if (group.kept == 1 && word == kOr) {
          sg[group.sg_open + 1] = kHole<Unit>;
          holes = true;
        }
        group.kept = 2;
        return;
      }
    }
    if (group.kept == 0) {
      group.n_first = group.n_token;
      group.n_first_end = end;
      group.first_group = group.token_group;
    }
    group.pending = kNoOperator;
    if (group.kept < 2) ++group.kept;
  };

  auto open_group = [&](size_t at, bool in_outer_phrase) {
    Frame group{};
    group.n_open = at;
    group.op_open = op.size();
    group.sg_open = sg.size();
    group.rows_at_open = rows;
    group.in_outer_phrase = in_outer_phrase;
    op.push_back(Unit('('));
    sg.push_back(Unit('('));
    frames_.push_back(group);
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
    auto rewrite = [&](String& form, size_t start, size_t word_at) {
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
    frames_.pop_back();
    Frame* const outer = frames_.empty() ? nullptr : &frames_.back();
    if (group.in_token && group.in_phrase) {
      // An odd number of quotes: the tokenizer warns, quoting the group's
      // text, and the group dissolves. Only an outermost group's text is the
      // normalized text as it stands; one with converted groups inside would
      // show their placeholders.
      if (outer != nullptr || rows != group.rows_at_open) return false;
      String& prompt = prompts.emplace_back();
      AppendAscii(prompt, "(GetTokens) Error: Invalid procedure call or argument\r\nLine:  ");
      AppendDissolved(prompt, n + group.n_open + 1, n + close);
      if (prompt.back() != Unit(' ')) prompt.push_back(Unit(' '));
      Frame whole = group;
      whole.kept = 0;
      dissolve_outermost(whole, close);
      return true;
    }
    if (group.kept >= 2) {
      if (group.pending != kNoOperator) op.resize(group.op_pending);  // a trailing operator
      op.push_back(Unit(')'));
      sg.push_back(Unit(')'));
      ++rows;
      return true;
    }
    if (outer == nullptr) {
      dissolve_outermost(group, close);
      return true;
    }
    // Inside a phrase the dissolved group's spaces would stay in the phrase.
    if (group.in_outer_phrase) return false;
    if (group.kept == 0) {  // the enclosing group sees only blank tokens
      op.resize(outer->op_token);
      sg.resize(outer->sg_token);
      outer->in_token = false;
      return true;
    }
    // The word becomes the enclosing group's token: drop "(" and "(+".
    const size_t word_size = op.size() - group.op_open - 1;
    if (word_size <= kMoveLimit) {
      op.erase(group.op_open, 1);
      sg.erase(group.sg_open, 2);
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

  for (size_t i = 0; i < size;) {
    if (frames_.empty()) {
      const Kind kind = KindOf(n[i]);
      if (kind == kClose) return FastResult::kUnmatchedClose;
      if (kind == kOpen) {
        open_group(i++, false);
        continue;
      }
      // Text between groups at the outermost level stays as it is.
      size_t end = i + 1;
      while (end < size && n[end] != Unit('(') && n[end] != Unit(')')) ++end;
      copy(i, end);
      i = end;
      continue;
    }
    Frame& group = frames_.back();
    if (group.in_token && group.in_phrase) {
      // A phrase takes every unit up to its closing quote, spaces included;
      // parentheses still open and close groups.
      size_t end = i;
      while (end < size && n[end] != Unit('"') && n[end] != Unit('(') && n[end] != Unit(')')) {
        ++end;
      }
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
        start_token(group, i);
        group.token_filled = true;
        group.token_group = true;
        open_group(i++, false);
        break;
      case kClose:
        if (group.in_token) end_token(group, i);
        if (!close_group(i++)) return FastResult::kNeedsReference;
        break;
      case kQuote:
      case kOrdinary: {
        if (!group.in_token) start_token(group, i);
        size_t end = i;
        while (end < size && KindOf(n[end]) == kOrdinary) ++end;
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
        }
        break;
      }
    }
  }
  if (!frames_.empty()) return FastResult::kNeedsReference;  // cannot happen: counts balance
  if (holes) {
    RemoveHoles(op);
    RemoveHoles(sg);
  }
  return FastResult::kConverted;
}

template class FastConverter<char>;
template class FastConverter<char16_t>;

}  // namespace boolconv::fastpath
