// The one-pass conversion (ConvertBoolean, Convert) against the step-by-step
// procedures (ConvertBooleanReference) on generated inputs that mix every
// construct the converter treats specially: both must give the same forms,
// warnings, errors and group table, byte for byte.

#include "conversion/fastpath.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "conversion/boolfuncs.h"
#include "conversion/scan.h"
#include "testing/rng.h"

namespace boolconv {
namespace {

using Warning = std::tuple<Text, Text, int32_t>;  // title, prompt, style

// What one conversion gave. Forms are "<unset>" when it failed.
struct Outcome {
  int32_t error = 0;
  Text description;
  Text operator_form = u"<unset>";
  Text sign_form = u"<unset>";
  std::vector<Warning> warnings;
  std::vector<Text> table;  // each row's placeholder, operator form and sign form

  bool operator==(const Outcome&) const = default;
};

template <typename Convert>
Outcome Record(BoolFuncs& engine, const Convert& convert) {
  Outcome outcome;
  {
    ScopedWarningHandler record([&](const Text& title, const Text& prompt, int32_t style) {
      outcome.warnings.emplace_back(title, prompt, style);
    });
    try {
      convert(outcome);
    } catch (const Error& error) {
      outcome.error = error.number();
      outcome.description = error.description();
    }
  }
  for (const GroupRow& row : engine.GroupTable()) {
    outcome.table.insert(outcome.table.end(), {row.placeholder, row.operator_form, row.sign_form});
  }
  return outcome;
}

// Through the UTF-8 interface; warnings arrive in the result, not the handler.
Outcome RecordUtf8(BoolFuncs& engine, const Text& input) {
  return Record(engine, [&](Outcome& outcome) {
    Conversion result;
    result.operator_form = "<unset>";
    result.sign_form = "<unset>";
    try {
      engine.Convert(ToUtf8(input), result);
    } catch (const Error&) {
      for (const std::string& prompt : result.warnings) {
        outcome.warnings.emplace_back(kAppName, FromUtf8(prompt), kWarningStyle);
      }
      throw;
    }
    outcome.operator_form = FromUtf8(result.operator_form);
    outcome.sign_form = FromUtf8(result.sign_form);
    for (const std::string& prompt : result.warnings) {
      outcome.warnings.emplace_back(kAppName, FromUtf8(prompt), kWarningStyle);
    }
  });
}

// Unpaired surrogates have no UTF-8 form.
bool IsValidUtf16(const Text& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (text[i] >= 0xD800 && text[i] <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

using testing::Rng;

// Operator words in every letter case the generator can give them.
Text AnyCase(Rng& rng, std::u16string_view word) {
  Text out(word);
  for (char16_t& unit : out) {
    if (rng.Below(2) == 0) unit = static_cast<char16_t>(unit - u'a' + u'A');
  }
  return out;
}

Text Spaces(Rng& rng) {
  // Mostly one space; sometimes runs at and around what the spacing passes
  // undo (1024), and beyond.
  constexpr std::array<size_t, 8> kLongRuns = {2, 3, 5, 513, 1023, 1024, 1025, 2049};
  const size_t pick = rng.Below(40);
  if (pick < 30) return u" ";
  if (pick < 39) return Text(1 + rng.Below(4), u' ');
  return Text(kLongRuns[rng.Below(kLongRuns.size())], u' ');
}

Text Piece(Rng& rng) {
  static const std::array<std::u16string_view, 14> kWords = {
      u"a",     u"cat",  u"Dog",  u"k\u00e4se", u"\u4e2d\u6587", u"\U0001D11E", u"1X",
      u"2XXXX", u"a1Xb", u"x\ty", u"10X",       u"-z",           u"\"\"",       u"w*"};
  static const std::array<std::u16string_view, 5> kOperators = {u"and", u"or", u"not", u"and not",
                                                                u"or not"};
  const size_t pick = rng.Below(40);
  if (pick < 5) return u"(";
  if (pick < 10) return u")";
  if (pick < 12) return u"\"" + Text(kWords[rng.Below(kWords.size())]) + u" (";  // a phrase
  if (pick < 14) return u") " + Text(kWords[rng.Below(kWords.size())]) + u"\"";
  if (pick == 14) return u"\"";  // a quote on its own
  if (pick == 15) return Text(1 + rng.Below(2), u'\0');
  if (pick == 16) {  // a nest of empty pairs, around what the passes remove (10)
    const size_t depth = 1 + rng.Below(13);
    return Text(depth, u'(') + (rng.Below(2) ? u" " : u"") + Text(depth, u')');
  }
  if (pick == 17) return rng.Below(2) ? Text(1, char16_t(0xD800)) : Text(1, char16_t(0xFFFF));
  if (pick == 18) {  // a run of one parenthesis, often across a block of the scan
    return Text(2 + rng.Below(100), rng.Below(2) ? u'(' : u')');
  }
  if (pick < 26) return AnyCase(rng, kOperators[rng.Below(kOperators.size())]);
  return Text(kWords[rng.Below(kWords.size())]);
}

Text Expression(Rng& rng) {
  Text text;
  if (rng.Below(8) == 0) text += Spaces(rng);
  // Mostly short; one in eight long enough to span several scanned blocks.
  const size_t most_pieces = rng.Below(8) == 0 ? 150 : 14;
  for (size_t i = 0, pieces = 1 + rng.Below(most_pieces); i < pieces; ++i) {
    text += Piece(rng);
    // Pieces are glued together a third of the time.
    if (rng.Below(3) != 0) text += Spaces(rng);
  }
  return text;
}

// Each way of scanning text this machine runs, in turn.
class FastPathTest : public ::testing::TestWithParam<fastpath::ScanPath> {
 protected:
  void SetUp() override { ASSERT_TRUE(fastpath::UseScanPath(GetParam())); }
  void TearDown() override { fastpath::UseScanPath(fastpath::ScanPaths().back()); }
};

INSTANTIATE_TEST_SUITE_P(Scan, FastPathTest, ::testing::ValuesIn(fastpath::ScanPaths()),
                         [](const ::testing::TestParamInfo<fastpath::ScanPath>& scan) {
                           return fastpath::ScanPathName(scan.param);
                         });

TEST_P(FastPathTest, SameAsStepByStepOnGeneratedInputs) {
  constexpr int kInputs = 60'000;
  Rng rng(13 + static_cast<uint64_t>(GetParam()));
  BoolFuncs fast;
  BoolFuncs reference;
  fastpath::FastConverter<char16_t> probe;
  Text probe_operator, probe_sign;
  std::vector<Text> probe_prompts;
  int utf8_compared = 0;
  int one_pass = 0;  // inputs the one-pass converter took on itself
  int failures = 0;
  for (int i = 0; i < kInputs && failures < 10; ++i) {
    const Text input = Expression(rng);
    const Outcome expected = Record(reference, [&](Outcome& outcome) {
      reference.ConvertBooleanReference(input, outcome.operator_form, outcome.sign_form);
    });
    const Outcome utf16 = Record(fast, [&](Outcome& outcome) {
      fast.ConvertBoolean(input, outcome.operator_form, outcome.sign_form);
    });
    one_pass += probe.Convert(input, probe_operator, probe_sign, probe_prompts) !=
                fastpath::FastResult::kNeedsReference;
    bool same = utf16 == expected;
    if (IsValidUtf16(input)) {
      ++utf8_compared;
      // Convert keeps the first warnings of a long run of them, and at
      // least one.
      const Outcome utf8 = RecordUtf8(fast, input);
      Outcome kept = expected;
      if (!utf8.warnings.empty() && utf8.warnings.size() < kept.warnings.size()) {
        kept.warnings.resize(utf8.warnings.size());
      }
      same = same && utf8 == kept;
    }
    if (!same) {
      ++failures;
      ADD_FAILURE() << "input " << i << ": \"" << ToUtf8(input) << "\"\nexpected: \""
                    << ToUtf8(expected.operator_form) << "\" / \"" << ToUtf8(expected.sign_form)
                    << "\"\nfast:     \"" << ToUtf8(utf16.operator_form) << "\" / \""
                    << ToUtf8(utf16.sign_form) << "\"";
    }
  }
  // Most inputs are valid UTF-16 and so also go through the UTF-8 interface,
  // and many are converted in one pass, not handed to the reference.
  EXPECT_GT(utf8_compared, kInputs / 2);
  EXPECT_GT(one_pass, kInputs / 4);
  std::printf("%d inputs: %d converted in one pass, %d also through UTF-8\n", kInputs, one_pass,
              utf8_compared);
}

TEST(FastPathUtf8Test, Utf8Interface) {
  BoolFuncs engine;
  const Conversion plain = engine.Convert("a b or c");
  EXPECT_EQ(plain.operator_form, "(a AND b or c)");
  EXPECT_EQ(plain.sign_form, "(+a +b c)");
  EXPECT_TRUE(plain.warnings.empty());

  // Warnings are collected, not shown.
  ScopedWarningHandler fail_if_shown(
      [](const Text&, const Text& prompt, int32_t) { ADD_FAILURE() << ToUtf8(prompt); });
  const Conversion quoted = engine.Convert("k\xC3\xA4se \"b c");
  EXPECT_EQ(quoted.operator_form, " k\xC3\xA4se \"b c ");
  ASSERT_EQ(quoted.warnings.size(), 1u);
  EXPECT_EQ(quoted.warnings[0],
            "(GetTokens) Error: Invalid procedure call or argument\r\nLine:  k\xC3\xA4se \"b c ");

  const struct {
    std::string_view input;
    int32_t error;
    const char* description;
  } failures[] = {
      // the first byte of the first bad sequence, counted from 1
      {"ab \xE2\x82", kInvalidUtf8Error, "Not valid UTF-8: invalid byte sequence at byte 4."},
      {"\xED\xA0\x80", kInvalidUtf8Error, "Not valid UTF-8: invalid byte sequence at byte 1."},
      {"a)) or ((b", kUnmatchedCloseError,
       "A closing parenthesis \")\" has no opening parenthesis \"(\" before it."},
  };
  for (const auto& failure : failures) {
    Conversion result = quoted;
    try {
      engine.Convert(failure.input, result);
      ADD_FAILURE() << "no error for " << failure.input;
    } catch (const Error& error) {
      EXPECT_EQ(error.number(), failure.error);
      EXPECT_STREQ(error.what(), failure.description);
    }
    EXPECT_EQ(result.operator_form, quoted.operator_form);  // left unchanged
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_TRUE(engine.GroupTable().empty());
  }
}

}  // namespace
}  // namespace boolconv
