#include "diagnostics/explain.h"

#include <algorithm>
#include <span>
#include <utility>

#include "diagnostics/characters.h"
#include "diagnostics/reading.h"
#include "diagnostics/readings.h"

namespace boolconv {
namespace {

using diagnostics::OperatorKind;
using diagnostics::Role;
using diagnostics::Word;

// Longest word written into a reading or a tree line, in units.
constexpr size_t kLongestShown = 40;

std::string Utf8(std::u16string_view text) { return ToUtf8(Text(text)); }

// Collects the converted groups as the reading reports them, innermost
// first, and ties each nested group word to the group reported for it.
class TreeReader : public diagnostics::Reader {
 public:
  TreeReader(std::u16string_view text, Explanation& out) : text_(text), out_(out) {}

  void ConvertedGroup(std::span<const Word> words, bool whole_expression) override {
    ExplainGroup group;
    group.start = words.front().start;
    group.end = words.back().end;
    // The groups reported since this one began are those inside it, in
    // order; a nested group word takes the one that starts where it does
    // (one inside a phrase belongs to the phrase).
    size_t first_inside = unclaimed_.size();
    while (first_inside > 0 && out_.groups[unclaimed_[first_inside - 1]].start >= group.start) {
      --first_inside;
    }
    size_t next_inside = first_inside;
    // The first operand is bare when "or" comes second, even one that ends
    // the group and is dropped.
    const bool or_second = words.size() > 1 && words[1].role != Role::kOperand &&
                           words[1].operator_word == OperatorKind::kOr;
    const Word* before = nullptr;
    for (size_t i = 0; i < words.size(); ++i) {
      const Word& word = words[i];
      if (word.role != Role::kOperand) {
        before = &word;
        continue;
      }
      ExplainItem item{.kind = ExplainItem::Kind::kWord,
                       .presence = Presence::kRequired,
                       .joined_by = {},
                       .start = word.start,
                       .end = word.end,
                       .group = 0};
      if (i == 0) {
        if (or_second) item.presence = Presence::kOptional;
      } else if (before != nullptr && before->role == Role::kOperator) {
        item.joined_by =
            Utf8(text_.substr(before->start, std::min(before->end - before->start, kLongestShown)));
        item.presence = before->operator_word == OperatorKind::kOr    ? Presence::kOptional
                        : before->operator_word == OperatorKind::kNot ? Presence::kExcluded
                                                                      : Presence::kRequired;
      } else {
        item.joined_by = "AND";
      }
      before = &word;
      if (word.nested_group) {
        while (next_inside < unclaimed_.size() &&
               out_.groups[unclaimed_[next_inside]].start < word.start) {
          ++next_inside;
        }
        if (next_inside < unclaimed_.size() &&
            out_.groups[unclaimed_[next_inside]].start < word.end) {
          item.kind = ExplainItem::Kind::kGroup;
          item.group = unclaimed_[next_inside++];
        }
      } else if (text_[word.start] == u'"') {
        item.kind = ExplainItem::Kind::kPhrase;
      }
      group.items.push_back(std::move(item));
    }
    const diagnostics::GroupUnits units = diagnostics::UnitsOf(text_, words, kLongestShown);
    if (units.explicit_and && units.explicit_or) {
      group.mixed = true;
      if (units.too_long) {
        group.readings_differ = true;
      } else {
        using diagnostics::Convention;
        group.left_to_right = Utf8(ReadAs(units, Convention::kLeftToRight));
        group.and_first = Utf8(ReadAs(units, Convention::kAndFirst));
        group.or_first = Utf8(ReadAs(units, Convention::kOrFirst));
        group.readings_differ =
            group.left_to_right != group.and_first || group.and_first != group.or_first;
      }
    }
    unclaimed_.resize(first_inside);
    if (whole_expression) root_ = out_.groups.size();
    unclaimed_.push_back(out_.groups.size());
    out_.groups.push_back(std::move(group));
  }

  // The group the normalization wraps around the whole expression, if it
  // converts; groups after a ")" that closes it early stand outside it.
  // Without one (the expression is a single group, which the wrapping
  // pair only holds), the one group outside all others.
  size_t root() const {
    if (root_ != kNoGroup) return root_;
    return unclaimed_.size() == 1 && !whole_lost_ ? unclaimed_.front() : kNoGroup;
  }
  // The converted groups inside no other.
  const std::vector<size_t>& tops() const { return unclaimed_; }

  void Unclosed(const diagnostics::UnclosedQuote& quote) override {
    out_.unconverted.push_back({quote.quote, quote.groups_lost, quote.expression_lost});
    whole_lost_ |= quote.expression_lost;
  }

 private:
  std::u16string_view text_;
  Explanation& out_;
  std::vector<size_t> unclaimed_;  // groups not yet inside a reported group, in order
  static constexpr size_t kNoGroup = static_cast<size_t>(-1);
  size_t root_ = kNoGroup;
  bool whole_lost_ = false;
};

// What the tree draws: a line of text, or a node with a title and children.
struct Entry {
  std::string text;                       // a line, or a node's title
  const ExplainGroup* group;              // a group to draw under `text`, or null
  std::vector<const ExplainItem*> items;  // or the items of a part of a group
};

class Drawer {
 public:
  Drawer(const Explanation& explanation, std::u16string_view text,
         const std::vector<size_t>& units_of)
      : explanation_(explanation), text_(text), units_of_(units_of) {}

  std::string Draw() {
    if (explanation_.converted) {
      DrawTree(explanation_.groups[explanation_.root]);
    } else if (explanation_.outside.empty()) {
      out_ += "nothing is converted\n";
    } else {
      out_ += "the expression as a whole is not converted; groups inside it are:\n";
    }
    if (explanation_.converted && !explanation_.outside.empty()) {
      out_ +=
          "after the \")\" that closes the expression early, these groups convert on their own:\n";
    }
    for (const size_t group : explanation_.outside) DrawTree(explanation_.groups[group]);
    for (const UnconvertedGroups& lost : explanation_.unconverted) {
      out_ += "not converted: ";
      out_ += lost.whole_expression && lost.groups == 1 ? std::string("the expression")
              : lost.groups == 1                        ? std::string("the group")
                                                        : std::to_string(lost.groups) + " groups";
      out_ += " around the double quote at character " + std::to_string(lost.quote + 1) +
              ", which never closes\n";
    }
    return std::move(out_);
  }

 private:
  struct Node {
    std::string title;
    std::vector<Entry> children;
  };

  std::string Leaf(const ExplainItem& item) const {
    const size_t start = units_of_[item.start];
    const size_t end = units_of_[item.end];
    std::string shown = diagnostics::Quote(text_.substr(start, end - start));
    return shown.substr(1, shown.size() - 2);  // without the quotes Quote adds
  }

  static std::string_view ClassName(Presence presence) {
    switch (presence) {
      case Presence::kRequired:
        return "all of";
      case Presence::kOptional:
        return "any of";
      case Presence::kExcluded:
        break;
    }
    return "none of";
  }

  // A part of a group's items under `title`: one line when they are all
  // words and phrases, else a node with a child for each.
  Entry Part(std::string title, std::vector<const ExplainItem*> items) const {
    const bool leaves = std::all_of(items.begin(), items.end(), [](const ExplainItem* item) {
      return item->kind != ExplainItem::Kind::kGroup;
    });
    if (leaves) {
      title += ": ";
      for (size_t k = 0; k < items.size(); ++k) {
        if (k > 0) title += ", ";
        title += Leaf(*items[k]);
      }
      return {std::move(title), nullptr, {}};
    }
    return {std::move(title), nullptr, std::move(items)};
  }

  Entry ItemEntry(const ExplainItem& item) const {
    if (item.kind == ExplainItem::Kind::kGroup) {
      return {"", &explanation_.groups[item.group], {}};
    }
    return {Leaf(item), nullptr, {}};
  }

  Node NodeOf(const ExplainGroup& group) const {
    std::vector<const ExplainItem*> classes[3];
    for (const ExplainItem& item : group.items) {
      classes[static_cast<size_t>(item.presence)].push_back(&item);
    }
    const size_t kinds = !classes[0].empty() + !classes[1].empty() + !classes[2].empty();
    Node node;
    const bool leaves = std::all_of(group.items.begin(), group.items.end(), [](const auto& item) {
      return item.kind != ExplainItem::Kind::kGroup;
    });
    if (kinds == 1 && leaves) {
      for (size_t c = 0; c < 3; ++c) {
        if (!classes[c].empty()) {
          node.title = Part(std::string(ClassName(static_cast<Presence>(c))), classes[c]).text;
        }
      }
    } else if (kinds == 1 && !classes[1].empty()) {
      node.title = "any of";
      for (const ExplainItem* item : classes[1]) node.children.push_back(ItemEntry(*item));
    } else {
      node.title = "all of";
      for (const ExplainItem* item : classes[0]) node.children.push_back(ItemEntry(*item));
      // Beside required items the bare ones are optional; with none
      // required, one of them is wanted.
      if (!classes[1].empty()) {
        node.children.push_back(
            Part(classes[0].empty() ? "any of" : "any of — optional in the sign form", classes[1]));
      }
      if (!classes[2].empty()) node.children.push_back(Part("none of", classes[2]));
    }
    if (group.mixed) {
      if (group.left_to_right.empty()) {
        node.children.push_back({"databases read this group differently", nullptr, {}});
      } else if (group.readings_differ) {
        node.children.push_back({"databases read this group differently: left to right (PubMed) " +
                                     group.left_to_right + "; AND before OR (most) " +
                                     group.and_first + "; OR before AND (Scopus) " + group.or_first,
                                 nullptr,
                                 {}});
      } else {
        node.children.push_back(
            {"databases read this group alike: " + group.left_to_right, nullptr, {}});
      }
    }
    return node;
  }

  void DrawTree(const ExplainGroup& group) {
    Node root = NodeOf(group);
    out_ += root.title;
    out_ += '\n';
    DrawChildren(std::move(root));
  }

  // Draws the children of `root` and everything under them, without
  // recursion: a stack of the nodes being drawn.
  void DrawChildren(Node root) {
    struct Frame {
      Node node;
      size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({std::move(root)});
    std::string prefix;                // of the children of the deepest frame
    std::vector<size_t> prefix_sizes;  // before each frame's part of it
    while (!stack.empty()) {
      Frame& frame = stack.back();
      if (frame.next == frame.node.children.size()) {
        stack.pop_back();
        if (!prefix_sizes.empty()) {
          prefix.resize(prefix_sizes.back());
          prefix_sizes.pop_back();
        }
        continue;
      }
      Entry& entry = frame.node.children[frame.next++];
      const bool last = frame.next == frame.node.children.size();
      const size_t depth = stack.size();
      out_ += prefix;
      out_ += last ? "└─ " : "├─ ";
      if (depth > kMostDrawnDepth) out_ += "[depth " + std::to_string(depth) + "] ";
      Node child;
      if (entry.group != nullptr) {
        child = NodeOf(*entry.group);
      } else {
        child.title = std::move(entry.text);
        for (const ExplainItem* item : entry.items) child.children.push_back(ItemEntry(*item));
      }
      out_ += child.title;
      out_ += '\n';
      if (child.children.empty()) continue;
      prefix_sizes.push_back(prefix.size());
      if (depth < kMostDrawnDepth) prefix += last ? "   " : "│  ";
      stack.push_back({std::move(child)});
    }
  }

  const Explanation& explanation_;
  std::u16string_view text_;
  const std::vector<size_t>& units_of_;  // the unit where each code point begins
  std::string out_;
};

}  // namespace

std::string_view PresenceName(Presence presence) {
  switch (presence) {
    case Presence::kRequired:
      return "required";
    case Presence::kOptional:
      return "optional";
    case Presence::kExcluded:
      break;
  }
  return "excluded";
}

Explanation Explain(std::u16string_view expression) {
  Explanation explanation;
  TreeReader reader(expression, explanation);
  const bool read =
      diagnostics::ReadExpression(expression, reader) == diagnostics::Outcome::kConverted;
  explanation.converted = read && reader.root() < explanation.groups.size();
  if (!read) {
    explanation.groups.clear();
  } else {
    if (explanation.converted) explanation.root = reader.root();
    for (const size_t top : reader.tops()) {
      if (!explanation.converted || top != explanation.root) explanation.outside.push_back(top);
    }
  }
  // Positions in code points.
  const std::vector<size_t> before = diagnostics::CodePointsBefore(expression);
  for (ExplainGroup& group : explanation.groups) {
    group.start = before[group.start];
    group.end = before[group.end];
    for (ExplainItem& item : group.items) {
      item.start = before[item.start];
      item.end = before[item.end];
    }
  }
  for (UnconvertedGroups& lost : explanation.unconverted) lost.quote = before[lost.quote];
  return explanation;
}

void MapToInput(Explanation& explanation, const TidyResult* tidied, const History* history) {
  auto map = [&](size_t& start, size_t& end) {
    const bool empty = end <= start;
    std::vector<Diagnostic> span = {{"", Severity::kInfo, "", start, std::max(end, start + 1)}};
    if (tidied != nullptr) tidied->MapToInput(span);
    if (history != nullptr) history->MapToInput(span);
    start = span[0].start;
    end = empty ? start : span[0].end;
  };
  for (ExplainGroup& group : explanation.groups) {
    map(group.start, group.end);
    for (ExplainItem& item : group.items) map(item.start, item.end);
  }
  for (UnconvertedGroups& lost : explanation.unconverted) {
    size_t end = lost.quote + 1;
    map(lost.quote, end);
  }
}

std::string DrawExplanation(const Explanation& explanation, std::u16string_view expression) {
  // The unit where each code point begins, to read items' text back.
  std::vector<size_t> units_of;
  units_of.reserve(expression.size() + 1);
  for (size_t at = 0; at < expression.size();) {
    units_of.push_back(at);
    at += diagnostics::CodePointAt(expression, at).units;
  }
  units_of.push_back(expression.size());
  return Drawer(explanation, expression, units_of).Draw();
}

}  // namespace boolconv
