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
  // The units that the binding operator joins make parts, each read left
  // to right; the parts are then joined left to right by the other
  // operators. Every pair gets its parentheses but the outermost.
  std::vector<std::u16string> parts;
  std::vector<size_t> part_joins;  // the join before each part after the first
  std::vector<size_t> part_units;  // how many units each part joins
  for (size_t k = 0; k < units.size();) {
    size_t end = k + 1;
    while (end < units.size() && Binds(group.joins[end - 1], convention)) ++end;
    std::u16string part;
    if (end - k > 2) part.append(end - k - 2, u'(');
    for (size_t m = k; m < end; ++m) {
      if (m > k) {
        if (m > k + 1) part += u')';
        part += u' ';
        part += group.join_texts[m - 1];
        part += u' ';
      }
      part += units[m];
    }
    if (k > 0) part_joins.push_back(k - 1);
    parts.push_back(std::move(part));
    part_units.push_back(end - k);
    k = end;
  }
  const bool several = parts.size() > 1;
  if (parts.size() > 2) text.append(parts.size() - 2, u'(');
  for (size_t p = 0; p < parts.size(); ++p) {
    if (p > 0) {
      if (p > 1) text += u')';
      join(part_joins[p - 1]);
    }
    const bool wrap = several && part_units[p] > 1;
    if (wrap) text += u'(';
    text += parts[p];
    if (wrap) text += u')';
  }
  return text;
}

}  // namespace boolconv::diagnostics
