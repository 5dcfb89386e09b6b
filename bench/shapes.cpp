#include "bench/shapes.h"

#include <algorithm>
#include <ostream>

#include "testing/rng.h"

namespace boolconv::bench {
namespace {

using testing::Rng;

constexpr uint64_t kStrategySeed = 20240611;
constexpr uint64_t kFillerSeed = 7;
constexpr uint64_t kTypicalSeed = 42;

// Search vocabulary of the kind literature strategies are made of, truncation
// stars and hyphens included.
constexpr std::array<std::string_view, 48> kWords = {
    "randomized",   "controlled", "trial",        "placebo",      "children",     "adolescent*",
    "asthma",       "wheez*",     "inhaler",      "corticoster*", "budesonide",   "fluticasone",
    "exacerbation", "hospital",   "admission",    "emergency",    "cohort",       "prospective",
    "systematic",   "review",     "meta-analys*", "quality",      "life",         "adherence",
    "education",    "school",     "parent*",      "nurse*",       "telemedicine", "mobile",
    "app",          "text",       "message*",     "reminder*",    "outcome*",     "symptom*",
    "score",        "lung",       "function",     "spirometr*",   "allergen*",    "smok*",
    "exposure",     "animal*",    "mice",         "rat",          "editorial",    "comment"};

// Operators in the letter cases people type; "" is a juxtaposition (an
// implicit AND).
constexpr std::array<std::string_view, 3> kOrOps = {"OR", "or", "Or"};
constexpr std::array<std::string_view, 4> kAndOps = {"AND", "and", "And", ""};
constexpr std::array<std::string_view, 3> kAndNotOps = {"and not", "AND NOT", "And Not"};

void AppendJoin(std::string& text, std::string_view op) {
  text += ' ';
  if (op.empty()) return;
  text += op;
  text += ' ';
}

std::string Phrase(Rng& rng) {
  std::string phrase = "\"";
  phrase += rng.Pick(kWords);
  for (size_t i = 0, extra = 1 + rng.Below(2); i < extra; ++i) {
    phrase += ' ';
    phrase += rng.Pick(kWords);
  }
  return phrase + "\"";
}

// A word three times in four, otherwise a quoted phrase.
std::string Term(Rng& rng) {
  return rng.Below(4) == 0 ? Phrase(rng) : std::string(rng.Pick(kWords));
}

// (term AND (term OR term)): two levels of nesting.
std::string Subgroup(Rng& rng) {
  std::string group = "(";
  group += Term(rng);
  AppendJoin(group, rng.Pick(kAndOps));
  group += '(';
  group += Term(rng);
  AppendJoin(group, rng.Pick(kOrOps));
  group += Term(rng);
  group += "))";
  return group;
}

// A concept block: synonyms joined by OR, every so often a subgroup.
std::string Concept(Rng& rng, size_t alternatives, size_t subgroups) {
  const size_t every = subgroups == 0 ? alternatives + 1 : alternatives / subgroups;
  std::string concept_text = "(";
  for (size_t i = 0; i < alternatives; ++i) {
    if (i > 0) AppendJoin(concept_text, rng.Pick(kOrOps));
    concept_text += (i + 1) % every == 0 ? Subgroup(rng) : Term(rng);
  }
  return concept_text + ")";
}

// Appends words separated by spaces while the text, plus `reserve` more
// characters, stays within `units`. Always appends at least one word.
void AppendWords(std::string& text, size_t units, size_t reserve, Rng& rng) {
  for (bool first = true;; first = false) {
    const std::string_view word = rng.Pick(kWords);
    const size_t needed = text.size() + (first ? 0 : 1) + word.size() + reserve;
    if (!first && needed > units) return;
    if (!first) text += ' ';
    text += word;
  }
}

// Single-letter words for the nested shape, so that depth grows fastest.
char Letter(size_t i) { return static_cast<char>('a' + i % 26); }

std::string SideBySide(size_t units, Rng& rng) {
  std::string text;
  for (;;) {
    std::string group = "(";
    group += rng.Pick(kWords);
    group += ' ';
    group += rng.Pick(kWords);
    group += ')';
    const size_t needed = text.size() + (text.empty() ? 0 : 1) + group.size();
    if (!text.empty() && needed > units) return text;
    if (!text.empty()) text += ' ';
    text += group;
  }
}

std::string NestedConverted(size_t units) {
  // "(" x depth, "a b)", then " c)" per further level: 4 * depth + 1 in all.
  const size_t depth = units > 5 ? (units - 1) / 4 : 1;
  std::string text(depth, '(');
  text += "a b)";
  for (size_t level = 2; level <= depth; ++level) {
    text += ' ';
    text += Letter(level);
    text += ')';
  }
  return text;
}

std::string SpaceAndNotRuns(size_t units) {
  // "a", a run of spaces, "b", a run of " and not", " c": half the room for
  // each run, so both grow with the size.
  constexpr size_t kFixed = 4;
  constexpr size_t kAndNotSize = 8;  // " and not"
  const size_t room = units > kFixed + kAndNotSize + 1 ? units - kFixed : kAndNotSize + 1;
  const size_t spaces = room / 2;
  const size_t and_nots = (room - spaces) / kAndNotSize;
  std::string text = "a";
  text.append(spaces, ' ');
  text += 'b';
  for (size_t i = 0; i < and_nots; ++i) {
    text += ' ';
    text += kAndNotOps[i % kAndNotOps.size()];
  }
  return text + " c";
}

// A one-line strategy as people type them: two to four groups of two to five
// synonyms joined by OR (one in four a quoted phrase of two words), the groups
// joined by AND, "and not" or nothing, in mixed letter case. About 150
// characters.
std::string TypicalStrategy(Rng& rng) {
  std::string text;
  for (size_t group = 0, groups = 2 + rng.Below(3); group < groups; ++group) {
    if (group > 0) {
      const size_t join = rng.Below(6);
      AppendJoin(text, join < 3 ? rng.Pick(kAndOps) : join < 5 ? "" : rng.Pick(kAndNotOps));
    }
    text += '(';
    for (size_t term = 0, terms = 2 + rng.Below(4); term < terms; ++term) {
      if (term > 0) AppendJoin(text, rng.Pick(kOrOps));
      if (rng.Below(4) == 0) {
        text += '"';
        text += rng.Pick(kWords);
        text += ' ';
        text += rng.Pick(kWords);
        text += '"';
      } else {
        text += rng.Pick(kWords);
      }
    }
    text += ')';
  }
  return text;
}

// A one-line strategy as pasted from a word processor, with something for
// the diagnostics to report every twenty characters or so: phrases in
// typographic quotes, field tags with a space, a tab or a line break where
// a space belongs, a lower-case "or" among capitals, AND and OR mixed
// without parentheses, an operator at the start of a group. UTF-8.
std::string PastedStrategy(Rng& rng) {
  std::string text;
  for (size_t group = 0, groups = 2 + rng.Below(3); group < groups; ++group) {
    if (group > 0) text += rng.Below(2) == 0 ? " AND\n" : " AND ";
    text += '(';
    if (rng.Below(4) == 0) text += "NOT ";
    for (size_t term = 0, terms = 2 + rng.Below(4); term < terms; ++term) {
      if (term > 0) {
        constexpr std::array<std::string_view, 8> kJoins = {" or ", " AND ", "\tOR ", " OR ",
                                                            " OR ", " OR ",  " OR ",  " OR "};
        text += rng.Pick(kJoins);
      }
      switch (rng.Below(4)) {
        case 0:
          text += "\u201C";
          text += rng.Pick(kWords);
          text += ' ';
          text += rng.Pick(kWords);
          text += "\u201D";
          break;
        case 1:
          text += rng.Pick(kWords);
          text += "[MeSH Terms]";
          break;
        default:
          text += rng.Pick(kWords);
      }
    }
    text += ')';
  }
  return text;
}

// A one-line strategy written in a database's own syntax, with something
// for the diagnostics to report every twenty-five characters or so:
// proximity operators, field codes before groups and after them, spaced
// field tags, single-quoted phrases, sign prefixes, "or not" and date
// ranges, beside ordinary terms. UTF-8.
std::string DatabaseStrategy(Rng& rng) {
  constexpr std::array<std::string_view, 4> kFieldCodes = {"TS=", "TITLE-ABS-KEY", "AB ", "MH "};
  constexpr std::array<std::string_view, 5> kProximity = {" adj3 ", " NEAR/3 ", " N5 ", " W/5 ",
                                                          " PRE/2 "};
  std::string text;
  for (size_t group = 0, groups = 2 + rng.Below(3); group < groups; ++group) {
    if (group > 0) text += rng.Below(4) == 0 ? " AND NOT " : " AND ";
    const bool prefix = rng.Below(2) == 0;
    if (prefix) text += rng.Pick(kFieldCodes);
    text += '(';
    for (size_t term = 0, terms = 2 + rng.Below(4); term < terms; ++term) {
      if (term > 0) text += rng.Below(8) == 0 ? " or not " : " OR ";
      switch (rng.Below(6)) {
        case 0:
          text += rng.Pick(kWords);
          text += rng.Pick(kProximity);
          text += rng.Pick(kWords);
          break;
        case 1:
          text += '\'';
          text += rng.Pick(kWords);
          text += ' ';
          text += rng.Pick(kWords);
          text += '\'';
          break;
        case 2:
          text += rng.Pick(kWords);
          text += " [tiab]";
          break;
        case 3:
          text += rng.Pick(kWords);
          text += " -";
          text += rng.Pick(kWords);
          break;
        default:
          text += rng.Pick(kWords);
      }
    }
    text += ')';
    if (!prefix && rng.Below(2) == 0) text += ".ti,ab.";
  }
  if (rng.Below(4) == 0) text += " AND \"2000/01/01\"[dp] : \"2024/12/31\"[dp]";
  return text;
}

// `piece` `count` times, then `tail` `count` times.
Text Repeated(std::u16string_view piece, size_t count, std::u16string_view tail = {}) {
  Text text;
  text.reserve((piece.size() + tail.size()) * count);
  for (size_t i = 0; i < count; ++i) text += piece;
  for (size_t i = 0; i < count; ++i) text += tail;
  return text;
}

// Strategies from `next` side by side, separated by spaces, while they fit
// in `units` (always at least one).
template <typename Next>
Text SideBySideStrategies(size_t units, Next next) {
  Text text;
  for (;;) {
    const Text strategy = next();
    const size_t needed = text.size() + (text.empty() ? 0 : 1) + strategy.size();
    if (!text.empty() && needed > units) return text;
    if (!text.empty()) text += u' ';
    text += strategy;
  }
}

}  // namespace

Text MakeDiagnosticShape(DiagnosticShape shape, size_t units) {
  Rng rng(kTypicalSeed);
  switch (shape) {
    case DiagnosticShape::kTypographicQuotes:
      return Repeated(u"\u201Cx", std::max<size_t>(units / 2, 1));
    case DiagnosticShape::kNestedMixedAndOr:
      return Repeated(u"(a or b c ", std::max<size_t>(units / 11, 1), u")");
    case DiagnosticShape::kUnclosedOpens:
      return Repeated(u"(", std::max<size_t>(units, 1));
    case DiagnosticShape::kTabs:
      return Repeated(u"a\tb ", std::max<size_t>(units / 4, 1));
    case DiagnosticShape::kTypicalLine:
      return SideBySideStrategies(units, [&] { return ToText(TypicalStrategy(rng)); });
    case DiagnosticShape::kPastedStrategies:
      return SideBySideStrategies(units, [&] { return FromUtf8(PastedStrategy(rng)); });
    case DiagnosticShape::kNestedPhrases:
      return Repeated(u"(b \"a ", std::max<size_t>(units / 12, 1), u" d\" e)");
    case DiagnosticShape::kDatabaseSyntax:
      return SideBySideStrategies(units, [&] { return FromUtf8(DatabaseStrategy(rng)); });
    case DiagnosticShape::kDissolvingPhrases:
      return Repeated(u"\" orx(", std::max<size_t>(units / 12, 1), u"\" and)");
  }
  return {};
}

std::string RealisticStrategy() {
  // Three concept blocks of 56 synonyms with 4 subgroups each, joined by AND
  // inside one group, then "and not" and an exclusion block holding one
  // small group: 1 + 3 * (1 + 4 * 2) + 1 + 1 = 30 pairs of parentheses.
  constexpr size_t kConcepts = 3;
  constexpr size_t kAlternatives = 56;
  constexpr size_t kSubgroups = 4;
  Rng rng(kStrategySeed);
  std::string text = "(";
  for (size_t c = 0; c < kConcepts; ++c) {
    if (c > 0) AppendJoin(text, rng.Pick(kAndOps));
    text += Concept(rng, kAlternatives, kSubgroups);
  }
  text += ") ";
  text += rng.Pick(kAndNotOps);
  text += " (";
  text += rng.Pick(kWords);
  AppendJoin(text, rng.Pick(kOrOps));
  text += rng.Pick(kWords);
  AppendJoin(text, rng.Pick(kOrOps));
  text += "(";
  text += rng.Pick(kWords);
  AppendJoin(text, rng.Pick(kAndOps));
  text += rng.Pick(kWords);
  text += "))";
  return text;
}

std::string DissolvedChain(size_t depth) {
  std::string text(depth, '(');
  text += 'a';
  text.append(depth, ')');
  return text;
}

std::string MakeShape(Shape shape, size_t units) {
  Rng rng(kFillerSeed);
  switch (shape) {
    case Shape::kRealistic: {
      const std::string strategy = RealisticStrategy();
      std::string text = strategy;
      while (text.size() + 1 + strategy.size() <= units) {
        text += ' ';
        text += strategy;
      }
      return text;
    }
    case Shape::kFlatGroup: {
      std::string text = "(";
      AppendWords(text, units, 1, rng);
      return text + ")";
    }
    case Shape::kSideBySide:
      return SideBySide(units, rng);
    case Shape::kNestedConverted:
      return NestedConverted(units);
    case Shape::kDissolvedChain:
      return DissolvedChain(units > 3 ? (units - 1) / 2 : 1);
    case Shape::kLongPhrase: {
      std::string text = "\"";
      AppendWords(text, units, 1, rng);
      return text + "\"";
    }
    case Shape::kUnclosedQuote: {
      std::string text = "\"";
      AppendWords(text, units, 0, rng);
      return text;
    }
    case Shape::kSpaceAndNotRuns:
      return SpaceAndNotRuns(units);
  }
  return {};
}

void WriteTypicalLines(std::ostream& out, size_t count) {
  Rng rng(kTypicalSeed);
  for (size_t i = 0; i < count; ++i) out << TypicalStrategy(rng) << '\n';
}

void WriteTypicalLine(std::ostream& out, size_t units) {
  Rng rng(kTypicalSeed);
  size_t written = 0;
  for (bool first = true; written < units; first = false) {
    const std::string strategy = TypicalStrategy(rng);
    if (!first) out << ' ';
    out << strategy;
    written += strategy.size() + (first ? 0 : 1);
  }
  out << '\n';
}

Text ToText(std::string_view ascii) {
  Text text;
  text.reserve(ascii.size());
  for (const char c : ascii) text.push_back(static_cast<unsigned char>(c));
  return text;
}

}  // namespace boolconv::bench
