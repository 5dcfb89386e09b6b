#include "diagnostics/history.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace boolconv {
namespace {

struct HistoryCase {
  Text input;
  Text combined;
  std::vector<std::string> codes;  // of the history's findings, in order
};

void ExpectHistories(const std::vector<HistoryCase>& cases) {
  for (const HistoryCase& c : cases) {
    const History history = ReadHistory(c.input);
    EXPECT_EQ(ToUtf8(history.combined), ToUtf8(c.combined)) << ToUtf8(c.input);
    std::vector<std::string> codes;
    for (const Diagnostic& d : history.findings) codes.push_back(d.code);
    EXPECT_EQ(codes, c.codes) << ToUtf8(c.input);
  }
}

// Ovid: numbers with or without a dot, or/ and and/ ranges, bare numbers on
// a line that only combines, tabs before counts, headers and rules.
TEST(HistoryTest, Ovid) {
  ExpectHistories({
      {u"1 exp Asthma/\n2. wheez*.ti,ab.\n3 or/1-2", u"(exp Asthma/) OR (wheez*.ti,ab.)", {}},
      {u"1 asthma\n2 wheeze\n3 child*\n4 and/1,3\n5 1 and (3 or 4)",
       u"(asthma) and ((child*) or ((asthma) AND (child*)))",
       {"history-unused-line"}},
      {u"Database: Ovid MEDLINE(R) ALL <1946 to May 2024>\nSearch Strategy:\n"
       u"--------------------------------------------------------------------------------\n"
       u"1\texp Asthma/\t123456\tAdvanced\n2\twheez*.ti,ab.\t45678\tAdvanced\n"
       u"3\t1 or 2\t150000\tAdvanced\n\n***************************\n",
       u"(exp Asthma/) or (wheez*.ti,ab.)",
       {"history-counts"}},
      // Ovid's display: the hits in parentheses after each search
      {u"1     exp Asthma/ (142337)\n2     wheez*.ti,ab. (31,544)\n3     1 or 2 (158411)",
       u"(exp Asthma/) or (wheez*.ti,ab.)",
       {"history-counts"}},
      // a long line broken in two continues on the next
      {u"1 (asthma or\n   wheez*).ti,ab.\n2 child*\n3 1 and 2",
       u"((asthma or wheez*).ti,ab.) and (child*)",
       {}},
      // commands with no Boolean meaning convert as the line they name
      {u"1 asthma\n2 limit 1 to english language", u"(asthma)", {"history-command"}},
      {u"1 asthma\n2 remove duplicates from 1", u"(asthma)", {"history-command"}},
  });
}

// PubMed, Cochrane, Embase.com and Web of Science number with "#"; a "#N"
// refers wherever it stands. PubMed's CSV lists the newest search first.
TEST(HistoryTest, HashNumbered) {
  ExpectHistories({
      {u"#1 asthma[mh]\n#2 wheez*[tiab]\n#3 #1 OR #2", u"(asthma[mh]) OR (wheez*[tiab])", {}},
      {u"#1\tMeSH descriptor: [Asthma] explode all trees\t1234\n#2\twheez*:ti,ab,kw\t567\n"
       u"#3\t#1 OR #2\t1500",
       u"(MeSH descriptor: [Asthma] explode all trees) OR (wheez*:ti,ab,kw)",
       {"history-counts"}},
      {u"#1 asthma\n#2 #1 AND child*", u"(asthma) AND child*", {}},
      // the Cochrane Library's ranges in braces
      {u"#1 asthma\n#2 wheez*\n#3 {OR #1-#2}\n#4 child*\n#5 #3 AND #4",
       u"((asthma) OR (wheez*)) AND (child*)",
       {}},
      {u"Search,Query,Items found,Time\n3,\"#1 OR #2\",1500,10:02:11\n"
       u"2,\"\"\"wheeze\"\"[tiab]\",567,10:01:40\n1,asthma[mh],1234,10:01:02",
       u"(asthma[mh]) OR (\"wheeze\"[tiab])",
       {"history-counts"}},
  });
}

// EBSCO numbers with "S", and "S1" refers to line 1.
TEST(HistoryTest, Ebsco) {
  ExpectHistories({
      {u"S1 (MH \"Asthma+\")\nS2 TI wheez* OR AB wheez*\nS3 S1 OR S2",
       u"((MH \"Asthma+\")) OR (TI wheez* OR AB wheez*)",
       {}},
  });
}

// Shapes a searcher's paste takes: long lines wrapped, counts on a wrapped
// line, set numbers among words, notes under the history, old Mac line
// ends, two histories one after the other.
TEST(HistoryTest, PastedShapes) {
  ExpectHistories({
      // a combining line wrapped before a number continues, not a new line 3
      {u"1 asthma.ti.\n2 wheez*.ti.\n3 cough.ti.\n4 dyspn*.ti.\n5 1 or 2 or\n     3 or 4",
       u"(asthma.ti.) or (wheez*.ti.) or (cough.ti.) or (dyspn*.ti.)",
       {}},
      // the hit count of a wrapped display line is left out too
      {u"1     asthma.ti.  (12)\n2     (child* or\n      school*).ti,ab. (2034567)\n3     1 and 2 "
       u"(8)",
       u"(asthma.ti.) and ((child* or school*).ti,ab.)",
       {"history-counts"}},
      // a set number beside an operator is a reference; among words, a term
      {u"1 asthma\n2 exp animals/\n3 1 not 2\n4 3 and type 2 diabetes",
       u"((asthma) not (exp animals/)) and type 2 diabetes",
       {}},
      // a note after a blank line is not part of the last search
      {u"1 asthma\n2 wheeze\n3 1 or 2\n\nSearched 12 May 2024 by the review team",
       u"(asthma) or (wheeze)",
       {}},
      {u"1 a\r2 b\r3 1 or 2", u"(a) or (b)", {}},
      // two histories pasted together: the number of the second is the first's
      {u"#1 a\n#2 #1 OR b\n#1 c", u"(a) OR b", {"history-duplicate-line", "history-unused-line"}},
  });
  // Ranges naming every earlier line, 6,000 lines of them: refused, fast.
  Text ranges = u"1 a\n";
  for (size_t n = 2; n <= 6000; ++n) {
    ranges += FromUtf8(std::to_string(n)) + u" or/1-" + FromUtf8(std::to_string(n - 1)) + u"\n";
  }
  const History refused = ReadHistory(ranges);
  EXPECT_TRUE(refused.combined.empty());
  // A range past the history names its end once, as missing.
  const History past = ReadHistory(u"1 a\n2 b\n3 or/1-999999999");
  size_t missing = 0;
  for (const Diagnostic& d : past.findings) missing += d.code == "history-missing-line" ? 1 : 0;
  EXPECT_EQ(missing, 1u);
}

// Reference mistakes are errors at the reference, and nothing is combined.
TEST(HistoryTest, ReferenceMistakes) {
  const struct {
    Text input;
    std::string code;
    size_t start;  // of the error, in code points
  } cases[] = {
      {u"1 asthma\n2 1 or 7", "history-missing-line", 16},
      {u"1 asthma\n2 1 or 3\n3 wheeze", "history-missing-line", 16},
      {u"#1 asthma OR #2\n#2 #1 AND x", "history-cycle", 13},
      {u"#1 asthma OR #1", "history-cycle", 13},
  };
  for (const auto& c : cases) {
    const History history = ReadHistory(c.input);
    EXPECT_TRUE(history.combined.empty()) << ToUtf8(c.input);
    bool found = false;
    for (const Diagnostic& d : history.findings) {
      if (d.code == c.code) {
        found = true;
        EXPECT_EQ(d.severity, Severity::kError);
        EXPECT_EQ(d.start, c.start) << ToUtf8(c.input) << ": " << d.message;
      }
    }
    EXPECT_TRUE(found) << c.code << " in " << ToUtf8(c.input);
  }
}

// A chosen line, and findings on the combined expression at their place in
// the history; an astral character counts once.
TEST(HistoryTest, ChosenLineAndPositions) {
  const History first = ReadHistory(u"1 asthma\n2 wheeze\n3 1 or 2", 1);
  EXPECT_EQ(ToUtf8(first.combined), "asthma");
  const History missing = ReadHistory(u"1 asthma\n2 wheeze", 9);
  ASSERT_EQ(missing.findings.size(), 3u);
  EXPECT_EQ(missing.findings[0].code, "history-missing-line");
  EXPECT_EQ(missing.converted, missing.lines.size());  // no line is converted

  const Text input = u"#1 \U0001F600 \"heart\n#2 #1 AND x";
  const History history = ReadHistory(input);
  ASSERT_EQ(ToUtf8(history.combined), "(\U0001F600 \"heart) AND x");
  std::vector<Diagnostic> found = Check(history.combined);
  history.MapToInput(found);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found[0].code, "unclosed-quote");
  EXPECT_EQ(found[0].start, 5u);  // "#1 😀 " is five code points
  EXPECT_EQ(found[0].end, 6u);
  // An empty span maps as one code point, inside the input.
  std::vector<Diagnostic> empty = {{"x", Severity::kInfo, "", 0, 0}};
  history.MapToInput(empty);
  EXPECT_EQ(empty[0].start, 15u);  // the "(" added for line 1 stands for the "#1" of line 2
  EXPECT_EQ(empty[0].end, 16u);
}

// Histories generated line by line combine as their expansion by hand.
TEST(HistoryTest, GeneratedHistoriesExpandByHand) {
  for (size_t size = 1; size <= 200; size += 7) {
    Text input;
    std::vector<Text> expanded;
    for (size_t n = 1; n <= size; ++n) {
      Text search;
      Text by_hand;
      if (n % 3 == 0 && n > 2) {
        search =
            u"#" + FromUtf8(std::to_string(n - 1)) + u" OR #" + FromUtf8(std::to_string(n - 2));
        by_hand = u"(" + expanded[n - 2] + u") OR (" + expanded[n - 3] + u")";
      } else {
        search = u"term" + FromUtf8(std::to_string(n));
        by_hand = search;
      }
      input += u"#" + FromUtf8(std::to_string(n)) + u" " + search + u"\n";
      expanded.push_back(by_hand);
    }
    const History history = ReadHistory(input, size);
    EXPECT_EQ(ToUtf8(history.combined), ToUtf8(expanded.back())) << size;
  }
}

// Ten thousand lines, each referring to the one before: no recursion, and
// an expression the size of the history.
TEST(HistoryTest, DeepChain) {
  constexpr size_t kLines = 10000;
  Text input = u"#1 a\n";
  for (size_t n = 2; n <= kLines; ++n) {
    input +=
        u"#" + FromUtf8(std::to_string(n)) + u" #" + FromUtf8(std::to_string(n - 1)) + u" AND b\n";
  }
  const History history = ReadHistory(input);
  EXPECT_EQ(history.lines.size(), kLines);
  EXPECT_EQ(history.combined.size(), 1 + (kLines - 1) * 8);  // "(", ")" and " AND b"
  EXPECT_TRUE(history.findings.empty());
  // Lines that double what they refer to are refused past a bound.
  Text doubling = u"#1 a\n";
  for (size_t n = 2; n <= 40; ++n) {
    doubling += u"#" + FromUtf8(std::to_string(n)) + u" #" + FromUtf8(std::to_string(n - 1)) +
                u" OR #" + FromUtf8(std::to_string(n - 1)) + u"\n";
  }
  const History refused = ReadHistory(doubling);
  EXPECT_TRUE(refused.combined.empty());
  ASSERT_FALSE(refused.findings.empty());
  EXPECT_EQ(refused.findings.back().code, "history-too-large");
}

// What looks like a history, and what does not.
TEST(HistoryTest, LooksLikeHistory) {
  EXPECT_TRUE(LooksLikeHistory(u"1 asthma\n2 wheeze\n3 1 or 2"));
  EXPECT_TRUE(LooksLikeHistory(u"#1 asthma\n#2 #1 AND child*"));
  EXPECT_FALSE(LooksLikeHistory(u"(asthma OR wheez*) AND\n(child* OR adolescen*)"));
  EXPECT_FALSE(LooksLikeHistory(u"2019 studies\n2020 trials"));
  EXPECT_FALSE(LooksLikeHistory(u"asthma"));
}

}  // namespace
}  // namespace boolconv
