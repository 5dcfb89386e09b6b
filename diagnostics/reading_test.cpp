// The reading must see every group as the converter does: the same groups
// converted, in the same order, with the same forms, and the same groups
// dissolved for an unclosed quote. Checked against the converter itself on
// generated expressions (the comparison is in reading_agreement.h, which the
// reading fuzz target shares).

#include "diagnostics/reading.h"

#include <gtest/gtest.h>

#include <random>

#include "conversion/boolfuncs.h"
#include "diagnostics/reading_agreement.h"

namespace boolconv::diagnostics {
namespace {

TEST(ReadingTest, AgreesWithTheConverter) {
  // Digits and "X" among them: typed words that look like the converter's
  // placeholders ("12X").
  const Text pieces[] = {u"a",          u"bb",    u"or",   u"OR",        u"Or",          u"and",
                         u"AND",        u"not",   u"NoT",  u" and not ", u" or not ",    u"\"",
                         u" ",          u" ",     u" ",    u"  ",        u"(",           u"(",
                         u")",          u")",     u"()",   u"\t",        Text(1, u'\0'), u"\u00E9",
                         u"\U0001F600", u"[x y]", u"x\"y", u"\n",        u"12X",         u"7"};
  const Text long_spaces(1100, u' ');
  std::mt19937 random(7);
  BoolFuncs engine;
  size_t converted_groups = 0;
  for (int round = 0; round < 20000; ++round) {
    Text input;
    const int length = static_cast<int>(random() % 30);
    for (int i = 0; i < length; ++i) input += pieces[random() % std::size(pieces)];
    if (round % 97 == 0) input.insert(random() % (input.size() + 1), long_spaces);
    if (round % 89 == 0)
      input.insert(random() % (input.size() + 1), Text(12, u'(') + Text(12, u')'));

    const Agreement agreement = CompareWithConverter(engine, input);
    ASSERT_EQ(ToUtf8(agreement.difference), "") << ToUtf8(input);
    converted_groups += agreement.converted_groups;
  }
  EXPECT_GT(converted_groups, 10000u);  // the generator reaches the converting paths
}

}  // namespace
}  // namespace boolconv::diagnostics
