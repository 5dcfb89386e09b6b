#include "diagnostics/readings.h"

namespace boolconv::diagnostics {
namespace {

// Units beyond which a group's readings are not spelled out: they would be
// too long to show.
constexpr size_t kMostUnits = 8;

bool Binds(OperatorKind join, Convention convention) {
  const bool is_or = join == OperatorKind::kOr;
  return convention == Convention::kAndFirst ? !is_or : is_or;
}

}  // namespace

GroupUnits UnitsOf(std::u16string_view text, std::span<const Word> words, size_t longest) {
  GroupUnits group;
  size_t run_words = 0;
  auto wrap_run = [&] {
    if (run_words > 1 && !group.too_long) {
      group.units.back() = u"(" + group.units.back() + u")";
      if (group.first_run == GroupUnits::kNoRun) group.first_run = group.units.size() - 1;
    }
    run_words = 0;
  };
  for (const Word& word : words) {
    if (word.role == Role::kOperator) {
      group.explicit_and |= word.operator_word != OperatorKind::kOr;
      group.explicit_or |= word.operator_word == OperatorKind::kOr;
      group.joins.push_back(word.operator_word);
      group.join_texts.push_back(text.substr(word.start, std::min(word.end - word.start, longest)));
      wrap_run();
      continue;
    }
    if (word.role != Role::kOperand) continue;
    if (group.units.size() > kMostUnits) group.too_long = true;
    if (group.too_long) continue;
    const std::u16string_view typed =
        text.substr(word.start, std::min(word.end - word.start, longest));
    if (run_words++ == 0) {
      group.units.emplace_back(typed);
    } else {
      group.units.back() += u' ';
      group.units.back() += typed;
      group.runs = true;
    }
  }
  wrap_run();
  return group;
}

std::u16string ReadAs(const GroupUnits& group, Convention convention) {
  const std::vector<std::u16string>& units = group.units;
  std::u16string text;
  auto join = [&](size_t k) {
    text += u' ';
    text += group.join_texts[k];
    text += u' ';
  };
  if (convention == Convention::kAsTyped || convention == Convention::kLeftToRight) {
    const bool nest = convention == Convention::kLeftToRight;
    if (nest && units.size() > 2) text.append(units.size() - 2, u'(');
    for (size_t k = 0; k < units.size(); ++k) {
      if (k > 0) {
        if (nest && k > 1) text += u')';
        join(k - 1);
      }
      text += units[k];
    }
    return text;
  }
  // The units that the binding operator joins go in parentheses together,
  // where the other operator joins such parts.
  bool other = false;
  for (size_t k = 0; k + 1 < units.size(); ++k) other |= !Binds(group.joins[k], convention);
  for (size_t k = 0; k < units.size();) {
    size_t end = k + 1;
    while (end < units.size() && Binds(group.joins[end - 1], convention)) ++end;
    const bool wrap = other && end - k > 1;
    if (k > 0) join(k - 1);
    if (wrap) text += u'(';
    for (size_t m = k; m < end; ++m) {
      if (m > k) join(m - 1);
      text += units[m];
    }
    if (wrap) text += u')';
    k = end;
  }
  return text;
}

}  // namespace boolconv::diagnostics
