#include "conversion/boolfuncs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "conversion/fastpath.h"

namespace boolconv {
namespace {

constexpr char16_t kOpenParen = u'(';
constexpr char16_t kCloseParen = u')';
constexpr char16_t kDoubleQuote = u'"';
constexpr char16_t kPlaceholderFiller = u'X';
constexpr std::u16string_view kWordDelimiter = u" ";
constexpr std::u16string_view kInsertedAnd = u"AND";

// Spacing repairs run at most this many times; deeper nests of empty pairs
// and longer runs of spaces than the passes can undo are kept in part.
constexpr int kNormalizePasses = 10;

// Above this many tokens a group's scratch lists are freed after use rather
// than kept for the next group.
constexpr size_t kLongList = 1 << 16;

using fastpath::Case;
using fastpath::LowerAscii;
using fastpath::ReplaceAll;

bool EqualsIgnoringCase(std::u16string_view text, std::u16string_view lower_word) {
  if (text.size() != lower_word.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (LowerAscii(text[i]) != lower_word[i]) return false;
  }
  return true;
}

// Puts a space on the outer side of every parenthesis: ")" becomes ") " and
// then "(" becomes " (". Neither insertion holds the other parenthesis, so
// one pass does both.
void PadParentheses(Text& text) {
  Text padded;
  padded.reserve(text.size() + text.size() / 4);
  for (const char16_t unit : text) {
    if (unit == kOpenParen) padded += u' ';
    padded += unit;
    if (unit == kCloseParen) padded += u' ';
  }
  text = std::move(padded);
}

// Where a placeholder inside a group went: the kept word holding it, how far
// into that word it starts, and its offsets in the two forms.
struct LinkPlacement {
  size_t word = 0;
  size_t into_word = 0;
  size_t operator_offset = 0;
  size_t sign_offset = 0;
};

// Lists ConvertGroup fills for each group. The walk converts every group of
// an input with one set, so their capacity is allocated once, not per group.
struct GroupScratch {
  TokenList tokens;
  TokenList words;
  std::vector<size_t> link_offsets;        // placeholders in the group text
  std::vector<LinkPlacement> link_places;  // where each of them went
  int32_t token_count = 0;                 // of the first tokenization; 0 after a warning
  size_t kept_count = 0;                   // non-blank tokens of the first tokenization
};

// ConvertGroup. The engine also passes the offsets of the placeholders in the
// group (`scratch.link_offsets`, ascending) and learns where each went in the
// forms (`scratch.link_places`), to splice nested groups back by position.
void ConvertGroupPlaced(Text group, Text& operator_form, Text& sign_form, GroupScratch& scratch) {
  operator_form.clear();
  sign_form.clear();
  const Text delimiter(kWordDelimiter);
  const Text quote(1, kDoubleQuote);
  Text no_closing_quote;
  TokenList& tokens = scratch.tokens;
  const size_t group_size = group.size();
  // Handed on by moving, so a long group is never held twice.
  const int32_t token_count = GetTokens(StripEnclosing(std::move(group), u"(", u")"), delimiter,
                                        tokens, quote, /*pass_on=*/false, no_closing_quote);
  scratch.token_count = token_count;

  // The kept words are the non-blank tokens, trimmed, joined straight into
  // the text of the second tokenization. Tokens are consecutive stretches of
  // the content, one delimiter apart, so each one's offset in the group
  // follows from the lengths before it; the engine's groups start with the
  // one "(" that StripEnclosing removed.
  Text joined;
  joined.reserve(group_size + 2 * delimiter.size());  // room for GetTokens' frame
  scratch.link_places.clear();
  const std::vector<size_t>& link_offsets = scratch.link_offsets;
  size_t next_link = 0;
  size_t kept = 0;
  size_t offset = 1;
  for (int32_t i = 0; i < token_count; ++i) {
    const Text& token = tokens[static_cast<size_t>(i)];
    if (!IsBlank(token)) {
      const size_t first = token.find_first_not_of(u' ');
      const size_t length = token.find_last_not_of(u' ') + 1 - first;
      if (kept > 0) joined += delimiter;
      joined.append(token, first, length);
      for (; next_link < link_offsets.size() && link_offsets[next_link] < offset + first + length;
           ++next_link) {
        scratch.link_places.push_back({kept, link_offsets[next_link] - offset - first});
      }
      ++kept;
    }
    offset += token.size() + delimiter.size();
  }
  scratch.kept_count = kept;
  if (kept <= 1) {
    operator_form = kSkipMarker;
    sign_form = kSkipMarker;
    return;
  }
  // A very long group's lists are released once used rather than kept for
  // the next group, so that no more than one of them is held at a time.
  if (tokens.size() > kLongList) TokenList().swap(tokens);

  TokenList& words = scratch.words;
  const int32_t word_count =
      GetTokens(std::move(joined), delimiter, words, quote, /*pass_on=*/false, no_closing_quote);
  if (word_count < 2) {  // cannot happen: the words are the kept tokens again
    operator_form = kSkipMarker;
    sign_form = kSkipMarker;
    return;
  }

  // Each word after the first is either an operator, which joins the next
  // word to the form whatever that word is, or an operand, which gets "AND"
  // in front of it.
  size_t placed = 0;
  auto append_operand = [&](size_t word) {
    for (; placed < scratch.link_places.size() && scratch.link_places[placed].word == word;
         ++placed) {
      scratch.link_places[placed].operator_offset =
          operator_form.size() + scratch.link_places[placed].into_word;
      scratch.link_places[placed].sign_offset =
          sign_form.size() + scratch.link_places[placed].into_word;
    }
    operator_form += words[word];
    sign_form += words[word];
  };
  auto append_pair = [&](std::u16string_view op, size_t word) {
    operator_form.append(u" ").append(op).append(u" ");
    if (EqualsIgnoringCase(op, u"or")) {
      sign_form += u" ";
    } else if (EqualsIgnoringCase(op, u"not")) {
      sign_form += u" -";
    } else {
      sign_form += u" +";
    }
    append_operand(word);
  };
  // The first operand is bare when the second item is "or".
  const bool or_follows = EqualsIgnoringCase(words[1], u"or");
  operator_form = u"(";
  sign_form = or_follows ? u"(" : u"(+";
  append_operand(0);
  const Text* pending_operator = nullptr;
  for (size_t k = 1; k < static_cast<size_t>(word_count); ++k) {
    if (pending_operator != nullptr) {
      append_pair(*pending_operator, k);
      pending_operator = nullptr;
    } else if (IsOperator(words[k])) {
      pending_operator = &words[k];
    } else {
      append_pair(kInsertedAnd, k);
    }
  }
  // An operator left without an operand at the end goes into neither form.
  operator_form += u")";
  sign_form += u")";
  if (words.size() > kLongList) TokenList().swap(words);
}

// Follows, unit by unit, how ConvertGroup's tokenizer (space delimiter,
// double-quote phrases) splits a group's content: how many non-blank words
// it has ended, up to two, and the word it is in. That settles what becomes
// of the group without tokenizing it: with an open phrase at the end the
// tokenizer warns and the group dissolves; with fewer than two words the
// converter returns the skip marker and it dissolves; otherwise it converts.
//
// A dissolved group's content stays in the enclosing group's, between the
// two spaces its parentheses turned into. The enclosing group takes in the
// dissolved group's reading of that content rather than reading it again,
// so chains and nests of dissolved groups, with or without warnings, cost
// linear time, not the square of their depth. The content reads differently
// when the enclosing group's phrase is open where it starts (the phrase runs
// on into it), so each group is read both ways at once.
class WordCounter {
 public:
  enum class Fate { kConverts, kDissolves, kWarns };

  // A reading from inside an open phrase: the start of a nested group's
  // content when the enclosing group's phrase runs on into it.
  static WordCounter InPhrase() {
    WordCounter counter;
    counter.in_word_ = counter.quote_open_ = true;
    counter.blank_ = false;
    return counter;
  }

  void Add(char16_t unit) {
    if (OpenPhrase()) {  // an open phrase takes every unit
      if (unit == kDoubleQuote) quote_open_ = false;
      return;
    }
    if (unit == u' ') {
      EndWord();
      return;
    }
    if (!in_word_) {
      in_word_ = true;
      blank_ = true;
    }
    if (unit == kDoubleQuote) quote_open_ = true;
    if (unit != u'\0') blank_ = false;
  }
  void Add(std::u16string_view units) {
    for (const char16_t unit : units) Add(unit);
  }

  // Takes in a nested group that dissolved: its parentheses, now spaces,
  // around its content, read as `outside` from outside any word and as
  // `in_phrase` from inside an open phrase.
  void AddDissolved(const WordCounter& outside, const WordCounter& in_phrase) {
    Add(u' ');
    const WordCounter& content = OpenPhrase() ? in_phrase : outside;
    words_ = std::min(kEnough, words_ + content.words_);
    in_word_ = content.in_word_;
    quote_open_ = content.quote_open_;
    blank_ = content.blank_;
    Add(u' ');
  }

  // What becomes of a group whose whole content this reading, from outside
  // any word, has followed.
  Fate Finish() const {
    if (OpenPhrase()) return Fate::kWarns;
    const int words = std::min(kEnough, words_ + (in_word_ && !blank_ ? 1 : 0));
    return words < kEnough ? Fate::kDissolves : Fate::kConverts;
  }

 private:
  static constexpr int kEnough = 2;

  bool OpenPhrase() const { return in_word_ && quote_open_; }

  void EndWord() {
    if (in_word_ && !blank_) words_ = std::min(kEnough, words_ + 1);
    in_word_ = false;
    quote_open_ = false;
  }

  bool in_word_ = false;
  bool quote_open_ = false;  // the current word holds an odd number of quotes
  bool blank_ = true;        // the current word is U+0000 only so far
  int words_ = 0;
};

size_t PlaceholderLength(size_t row) {
  size_t digits = 1;
  for (size_t power = 10; power <= row + 1 && digits < 20; power *= 10) ++digits;
  return digits + 1;
}

// The placeholder of 0-based `row`: its 1-based number and one filler.
Text PlaceholderFor(size_t row) {
  Text placeholder(PlaceholderLength(row), kPlaceholderFiller);
  size_t number = row + 1;
  for (size_t at = placeholder.size() - 1; at-- > 0; number /= 10) {
    placeholder[at] = static_cast<char16_t>(u'0' + number % 10);
  }
  return placeholder;
}

// Keeps warning prompts in a Conversion within the bounds kMostKeptWarnings
// and kMostKeptWarningBytes set, and counts those it leaves out.
class WarningBudget {
 public:
  explicit WarningBudget(Conversion& result) : result_(result) {}

  // True when the next prompt would only be counted, so need not be made.
  bool Full() const {
    return !result_.warnings.empty() &&
           (result_.warnings_dropped > 0 || result_.warnings.size() >= kMostKeptWarnings ||
            kept_bytes_ >= kMostKeptWarningBytes);
  }

  // Counts a warning whose prompt was not made.
  void Drop() { ++result_.warnings_dropped; }

  void Keep(std::string prompt) {
    // The first prompt is kept whatever its size; after one is left out, so
    // are all that follow.
    if (!result_.warnings.empty() &&
        (result_.warnings_dropped > 0 || result_.warnings.size() >= kMostKeptWarnings ||
         prompt.size() > kMostKeptWarningBytes - std::min(kept_bytes_, kMostKeptWarningBytes))) {
      ++result_.warnings_dropped;
      return;
    }
    kept_bytes_ += prompt.size();
    result_.warnings.push_back(std::move(prompt));
  }

 private:
  Conversion& result_;
  size_t kept_bytes_ = 0;
};

}  // namespace

bool IsOperator(const Text& token) {
  return EqualsIgnoringCase(token, u"and") || EqualsIgnoringCase(token, u"or") ||
         EqualsIgnoringCase(token, u"not");
}

Text NormalizeBoolean(Text text) {
  Text normal = Trim(text);
  Text().swap(text);
  if (IsBlank(normal)) return normal;

  // Counted in size_t: a line of more than 2^31 parentheses must still balance.
  const size_t opens = static_cast<size_t>(std::count(normal.begin(), normal.end(), kOpenParen));
  const size_t closes = static_cast<size_t>(std::count(normal.begin(), normal.end(), kCloseParen));
  if (opens < closes) normal.insert(0, closes - opens, kOpenParen);
  if (opens > closes) normal.append(opens - closes, kCloseParen);

  PadParentheses(normal);
  for (int pass = 0; pass < kNormalizePasses; ++pass) {
    bool changed = ReplaceAll(normal, "( ", "(");
    changed |= ReplaceAll(normal, " )", ")");
    changed |= ReplaceAll(normal, "()", "");
    changed |= ReplaceAll(normal, "  ", " ");
    // A pass that changes nothing hands the next pass the same text, so the
    // remaining passes would change nothing either.
    if (!changed) break;
  }
  ReplaceAll<Case::kIgnore>(normal, " and not ", " NOT ");
  ReplaceAll<Case::kIgnore>(normal, " or not ", " NOT ");
  normal = Trim(normal);
  normal.insert(normal.begin(), kOpenParen);
  normal.push_back(kCloseParen);
  return normal;
}

void ConvertGroup(Text group, Text& operator_form, Text& sign_form) {
  GroupScratch scratch;
  ConvertGroupPlaced(std::move(group), operator_form, sign_form, scratch);
}

namespace {

// The prompt the tokenizer shows when a group's `content` ends inside a
// phrase: its text framed by the delimiter, as GetTokens frames it (a text
// that ends in a space needs no closing one).
Text TokenizerPrompt(std::u16string_view content) {
  Text prompt;
  prompt.reserve(std::size(fastpath::kTokenizerPrompt) + content.size() + 1);
  for (const char c : std::string_view(fastpath::kTokenizerPrompt)) prompt.push_back(char16_t(c));
  prompt.append(content);
  if (!content.ends_with(u' ')) prompt.push_back(u' ');
  return prompt;
}

// Builds that check the walk's shortcuts (the fuzzers' and a test's) run
// ConvertGroup itself on every group whose fate the walk foresaw, and end
// the program where the two disagree, in the fate or in the warning.
void VerifyFate([[maybe_unused]] WordCounter::Fate fate,
                [[maybe_unused]] std::u16string_view content) {
#ifdef BOOLCONV_VERIFY_SHORTCUTS
  std::vector<Text> prompts;
  Text operator_form, sign_form;
  {
    const ScopedWarningHandler record(
        [&prompts](const Text&, const Text& prompt, int32_t) { prompts.push_back(prompt); });
    ConvertGroup(u"(" + Text(content) + u")", operator_form, sign_form);
  }
  using Fate = WordCounter::Fate;
  const Fate actual = !prompts.empty()               ? Fate::kWarns
                      : operator_form == kSkipMarker ? Fate::kDissolves
                                                     : Fate::kConverts;
  if (actual != fate ||
      (fate == Fate::kWarns && prompts != std::vector{TokenizerPrompt(content)})) {
    std::fprintf(stderr, "boolconv: the walk foresaw fate %d, ConvertGroup gives %d, for: %s\n",
                 static_cast<int>(fate), static_cast<int>(actual), ToUtf8(Text(content)).c_str());
    std::abort();
  }
#endif
}

// A placeholder in some text: where it stands in the operator form and in
// the sign form of the text, and which group table row (0-based) it stands
// for. Expansion splices by these offsets, so words the user typed that
// merely look like placeholders are never replaced.
struct Link {
  size_t operator_offset;
  size_t sign_offset;
  size_t row;
};

}  // namespace

// The converted groups of the last conversion, packed: every form in one
// text and every link in one list keep the cost of a row to a few words,
// however deep the nesting. Also the converter's reusable lists.
struct BoolFuncs::Store {
  // Rows are appended in order, each one's forms and links after those of
  // the row before, so a row ends where the next one begins.
  struct Row {
    size_t operator_begin;  // in `forms`; the sign form follows it
    size_t sign_begin;
    size_t links_begin;  // in `links`, the placeholders in the row's forms
  };
  Text forms;
  std::vector<Row> rows;
  std::vector<Link> links;
  GroupScratch scratch;

  // Where the group table of the last conversion is: in the rows above
  // (filled by the step-by-step walk), or still to be made from the
  // normalized text a one-pass converter kept, when someone asks for it.
  enum class TableSource { kRows, kUtf16Normal, kUtf8Normal };
  TableSource table_source = TableSource::kRows;
  fastpath::FastConverter<char16_t> utf16;
  fastpath::FastConverter<char> utf8;
  // The one-pass converters' outputs, swapped out to the callers.
  Text operator_text, sign_text;
  std::string operator_bytes, sign_bytes;
  std::vector<Text> prompts;
  std::vector<std::string> prompt_bytes;
  // Where the walk sends the warning it gives itself for an unclosed quote
  // it foresaw: nowhere (`quiet`, for the group table), into a Conversion
  // within its budget, or else to the calling thread's warning handler.
  bool quiet = false;
  WarningBudget* budget = nullptr;

  // Gives the tokenizer's warning for a group whose `content` ends inside a
  // phrase; the prompt is made only where it will be kept.
  void WarnUnclosedQuote(std::u16string_view content) const {
    if (quiet) return;
    if (budget != nullptr && budget->Full()) {
      budget->Drop();
      return;
    }
    const Text prompt = TokenizerPrompt(content);
    if (budget != nullptr) {
      budget->Keep(ToUtf8(prompt));
    } else {
      ShowWarning(kAppName, prompt);
    }
  }

  void Clear() {
    forms.clear();
    rows.clear();
    links.clear();
    table_source = TableSource::kRows;
  }
  std::u16string_view OperatorForm(size_t row) const {
    return std::u16string_view(forms).substr(rows[row].operator_begin,
                                             rows[row].sign_begin - rows[row].operator_begin);
  }
  std::u16string_view SignForm(size_t row) const {
    const size_t end = row + 1 < rows.size() ? rows[row + 1].operator_begin : forms.size();
    return std::u16string_view(forms).substr(rows[row].sign_begin, end - rows[row].sign_begin);
  }
  size_t LinksEnd(size_t row) const {
    return row + 1 < rows.size() ? rows[row + 1].links_begin : links.size();
  }
};

namespace {

// Splices every placeholder of `top` (with `top_links` in it) by its row's
// form, whose own placeholders are spliced in turn, depth first with an
// explicit stack. Every unit is copied once, into an output sized up front.
Text Expand(const BoolFuncs::Store& store, std::u16string_view top,
            const std::vector<Link>& top_links, bool sign) {
  const auto offset_of = [sign](const Link& link) {
    return sign ? link.sign_offset : link.operator_offset;
  };
  const auto form_of = [&](size_t row) {
    return sign ? store.SignForm(row) : store.OperatorForm(row);
  };
  // Rows only hold placeholders of lower rows, so one pass in row order
  // gives each row's expanded length.
  std::vector<size_t> expanded(store.rows.size());
  for (size_t row = 0; row < store.rows.size(); ++row) {
    size_t length = form_of(row).size();
    for (size_t i = store.rows[row].links_begin; i < store.LinksEnd(row); ++i) {
      const size_t nested = store.links[i].row;
      length += expanded[nested];  // a form holds its placeholders: never below 0
      length -= PlaceholderLength(nested);
    }
    expanded[row] = length;
  }
  size_t total = top.size();
  for (const Link& link : top_links) {
    total += expanded[link.row];
    total -= PlaceholderLength(link.row);
  }

  // One frame per form being copied; the bottom one is `top`. A frame holds
  // just two numbers, to stay small when the nesting is a million deep.
  constexpr size_t kTop = static_cast<size_t>(-1);
  struct Frame {
    size_t row;        // kTop for `top`
    size_t next_link;  // index into its links
  };
  std::vector<Frame> stack = {{kTop, 0}};
  Text out;
  out.reserve(total);
  while (!stack.empty()) {
    const Frame frame = stack.back();
    const bool is_top = frame.row == kTop;
    const std::u16string_view text = is_top ? top : form_of(frame.row);
    const Link* const links = is_top ? top_links.data() : store.links.data();
    const size_t links_begin = is_top ? 0 : store.rows[frame.row].links_begin;
    const size_t links_end = is_top ? top_links.size() : store.LinksEnd(frame.row);
    // Units up to the end of the previous placeholder are copied already.
    size_t copied = 0;
    if (frame.next_link > links_begin) {
      const Link& previous = links[frame.next_link - 1];
      copied = offset_of(previous) + PlaceholderLength(previous.row);
    }
    if (frame.next_link == links_end) {
      out.append(text.substr(copied));
      stack.pop_back();
      continue;
    }
    const Link& link = links[frame.next_link];
    ++stack.back().next_link;
    out.append(text.substr(copied, offset_of(link) - copied));
    stack.push_back({link.row, store.rows[link.row].links_begin});
  }
  return out;
}

}  // namespace

BoolFuncs::BoolFuncs() : store_(std::make_unique<Store>()) {}
BoolFuncs::~BoolFuncs() = default;
BoolFuncs::BoolFuncs(BoolFuncs&&) noexcept = default;
BoolFuncs& BoolFuncs::operator=(BoolFuncs&&) noexcept = default;

std::vector<GroupRow> BoolFuncs::GroupTable() const {
  std::vector<GroupRow> table;
  if (!store_) return table;
  if (store_->table_source != Store::TableSource::kRows) {
    // The one-pass conversion records no rows: walk its normalized text step
    // by step now. Any warning was given by the conversion already.
    Text working = store_->table_source == Store::TableSource::kUtf16Normal
                       ? Text(store_->utf16.normal())
                       : FromUtf8(store_->utf8.normal());
    const ScopedWarningHandler quiet([](const Text&, const Text&, int32_t) {});
    BoolFuncs walker;
    walker.store_->quiet = true;
    Text sign;
    walker.ExpandGroups(working, sign);
    return walker.GroupTable();
  }
  table.reserve(store_->rows.size());
  for (size_t row = 0; row < store_->rows.size(); ++row) {
    table.push_back(
        {PlaceholderFor(row), Text(store_->OperatorForm(row)), Text(store_->SignForm(row))});
  }
  return table;
}

void BoolFuncs::ConvertBoolean(Text input, Text& operator_form, Text& sign_form) {
  if (!store_) store_ = std::make_unique<Store>();  // a moved-from engine works again
  Store& store = *store_;
  const fastpath::FastResult result =
      store.utf16.Convert(input, store.operator_text, store.sign_text, store.prompts);
  if (result == fastpath::FastResult::kNeedsReference) {
    ConvertBooleanReference(std::move(input), operator_form, sign_form);
    return;
  }
  store.Clear();
  for (const Text& prompt : store.prompts) ShowWarning(kAppName, prompt);
  if (result == fastpath::FastResult::kUnmatchedClose) {
    throw Error(kUnmatchedCloseError, kAppName, kUnmatchedCloseDescription);
  }
  store.table_source = Store::TableSource::kUtf16Normal;
  operator_form.swap(store.operator_text);
  sign_form.swap(store.sign_text);
}

void BoolFuncs::Convert(std::string_view utf8, Conversion& result) {
  if (!store_) store_ = std::make_unique<Store>();
  Store& store = *store_;
  result.warnings.clear();
  result.warnings_dropped = 0;
  if (const size_t invalid = FindInvalidUtf8(utf8); invalid != std::string_view::npos) {
    store.Clear();
    const std::string byte = std::to_string(invalid + 1);
    throw Error(
        kInvalidUtf8Error, kAppName,
        u"Not valid UTF-8: invalid byte sequence at byte " + Text(byte.begin(), byte.end()) + u".");
  }
  const fastpath::FastResult fast =
      store.utf8.Convert(utf8, store.operator_bytes, store.sign_bytes, store.prompt_bytes);
  if (fast == fastpath::FastResult::kNeedsReference) {
    // Step by step in UTF-16; the bytes of the input are valid UTF-8, so
    // nothing is lost either way.
    WarningBudget budget(result);
    const ScopedWarningHandler collect(
        [&budget](const Text&, const Text& prompt, int32_t) { budget.Keep(ToUtf8(prompt)); });
    // The walk's own warnings skip the handler: past the budget, their
    // prompts are not even made.
    struct BudgetInUse {
      Store& store;
      ~BudgetInUse() { store.budget = nullptr; }
    } in_use{store};
    store.budget = &budget;
    Text operator_text, sign_text;
    ConvertBooleanReference(FromUtf8(utf8), operator_text, sign_text);
    result.operator_form = ToUtf8(operator_text);
    result.sign_form = ToUtf8(sign_text);
    return;
  }
  store.Clear();
  WarningBudget budget(result);
  for (std::string& prompt : store.prompt_bytes) budget.Keep(std::move(prompt));
  store.prompt_bytes.clear();
  if (fast == fastpath::FastResult::kUnmatchedClose) {
    throw Error(kUnmatchedCloseError, kAppName, kUnmatchedCloseDescription);
  }
  store.table_source = Store::TableSource::kUtf8Normal;
  result.operator_form.swap(store.operator_bytes);
  result.sign_form.swap(store.sign_bytes);
}

Conversion BoolFuncs::Convert(std::string_view utf8) {
  Conversion result;
  Convert(utf8, result);
  return result;
}

void BoolFuncs::ConvertBooleanReference(Text input, Text& operator_form, Text& sign_form) {
  Text working = NormalizeBoolean(std::move(input));
  Text sign;
  ExpandGroups(working, sign);
  operator_form = std::move(working);
  sign_form = std::move(sign);
}

void BoolFuncs::ExpandGroups(Text& working_text, Text& sign_form) {
  if (!store_) store_ = std::make_unique<Store>();  // a moved-from engine works again
  Store& store = *store_;
  store.Clear();

  // The walk copies the text unit by unit into `walked`. Each open group is
  // a suffix of it; a converted group is cut off and replaced by its short
  // placeholder, a dissolved one loses its parentheses to spaces. Open groups
  // live on an explicit stack, so any nesting depth is safe.
  struct OpenGroup {
    size_t start;       // offset of its "(" in `walked`
    size_t first_link;  // its first placeholder's index in `links`
    // Its content so far, read from outside any word, as its own tokenizer
    // will, and from inside an open phrase, as the enclosing group's may.
    WordCounter outside;
    WordCounter in_phrase = WordCounter::InPhrase();
  };
  std::vector<OpenGroup> open_groups;
  std::vector<Link> links;  // the placeholders in `walked`, in order
  Text walked;
  walked.reserve(working_text.size());
  Text operator_form;
  Text group_sign_form;
  GroupScratch& scratch = store.scratch;

  for (const char16_t unit : working_text) {
    walked.push_back(unit);
    if (unit == kOpenParen) {
      open_groups.push_back({walked.size() - 1, links.size(), {}});
      continue;
    }
    if (unit != kCloseParen) {
      if (!open_groups.empty()) {
        open_groups.back().outside.Add(unit);
        open_groups.back().in_phrase.Add(unit);
      }
      continue;
    }
    if (open_groups.empty()) {
      store.Clear();  // a failed conversion leaves no rows behind
      throw Error(kUnmatchedCloseError, kAppName, kUnmatchedCloseDescription);
    }
    OpenGroup group = std::move(open_groups.back());
    open_groups.pop_back();
    OpenGroup* const enclosing = open_groups.empty() ? nullptr : &open_groups.back();
    const std::u16string_view content =
        std::u16string_view(walked).substr(group.start + 1, walked.size() - group.start - 2);
    WordCounter::Fate fate = group.outside.Finish();
    VerifyFate(fate, content);
    if (fate == WordCounter::Fate::kWarns) store.WarnUnclosedQuote(content);
    if (fate == WordCounter::Fate::kConverts) {
      scratch.link_offsets.clear();
      for (size_t i = group.first_link; i < links.size(); ++i) {
        scratch.link_offsets.push_back(links[i].operator_offset - group.start);
      }
      ConvertGroupPlaced(walked.substr(group.start), operator_form, group_sign_form, scratch);
      if (operator_form == kSkipMarker) fate = WordCounter::Fate::kDissolves;
    }
    if (fate != WordCounter::Fate::kConverts) {
      walked[group.start] = u' ';
      walked.back() = u' ';
      if (enclosing != nullptr) {
        enclosing->outside.AddDissolved(group.outside, group.in_phrase);
        enclosing->in_phrase.AddDissolved(group.outside, group.in_phrase);
      }
      continue;
    }

    // Every placeholder sits inside one kept word; the converter said where
    // it went in both forms, which go into the table after earlier rows'.
    const size_t row = store.rows.size();
    const size_t operator_begin = store.forms.size();
    const size_t sign_begin = operator_begin + operator_form.size();
    const size_t links_begin = store.links.size();
    for (size_t i = 0; i < scratch.link_places.size(); ++i) {
      const LinkPlacement& place = scratch.link_places[i];
      store.links.push_back(
          {place.operator_offset, place.sign_offset, links[group.first_link + i].row});
    }
    store.forms.append(operator_form).append(group_sign_form);
    store.rows.push_back({operator_begin, sign_begin, links_begin});

    // In `walked` a placeholder's offset is the same for both forms.
    const Text placeholder = PlaceholderFor(row);
    if (enclosing != nullptr) {
      enclosing->outside.Add(placeholder);
      enclosing->in_phrase.Add(placeholder);
    }
    links.resize(group.first_link);
    links.push_back({group.start, group.start, row});
    walked.resize(group.start);
    walked += placeholder;
  }

  // Walked through: free what the walk needed before the outputs grow.
  std::vector<OpenGroup>().swap(open_groups);
  Text().swap(working_text);
  walked.shrink_to_fit();
  sign_form = Expand(store, walked, links, /*sign=*/true);
  working_text = Expand(store, walked, links, /*sign=*/false);
}

}  // namespace boolconv
