// Each vector path of the scanner against the scalar one, on blocks built
// from the units a narrowing or a sign could confuse with the ones looked for.

#include "conversion/scan.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "testing/rng.h"

namespace boolconv::fastpath {
namespace {

// Units each path must tell apart: the four it looks for, their neighbours,
// and UTF-16 units whose low or high byte is one of them, or which saturate
// to the ends of the byte range when narrowed.
constexpr std::array<char16_t, 18> kTrickyUnits = {
    u' ',    u'(',    u')',      u'"',      u'!',      u'\'',     u'*',      u'\0',     u'\x7F',
    u'\x80', u'\xA0', u'\u0120', u'\u2028', u'\u2820', u'\u2228', u'\uFF08', u'\uFF20', u'\uFFFF'};

template <typename Unit>
std::vector<Unit> RandomUnits(testing::Rng& rng, size_t count) {
  std::vector<Unit> units(count);
  for (Unit& unit : units) {
    const char16_t tricky = kTrickyUnits[rng.Below(kTrickyUnits.size())];
    // UTF-8 blocks take the bytes of the tricky units, and any byte at all.
    if constexpr (sizeof(Unit) == 1) {
      unit = static_cast<Unit>(rng.Below(4) == 0 ? rng.Below(256) : tricky & 0xFF);
    } else {
      unit = tricky;
    }
  }
  return units;
}

template <typename Unit>
void ExpectSameAsScalar(ScanPath path) {
  testing::Rng rng(7);
  // Blocks at every offset of a buffer, so that no path relies on alignment.
  const std::vector<Unit> units = RandomUnits<Unit>(rng, 64 * kBlockUnits);
  for (size_t at = 0; at + kBlockUnits <= units.size(); ++at) {
    ASSERT_TRUE(UseScanPath(ScanPath::kScalar));
    const BlockMasks expected = ClassifyBlock(units.data() + at);
    ASSERT_TRUE(UseScanPath(path));
    ASSERT_EQ(ClassifyBlock(units.data() + at), expected)
        << ScanPathName(path) << ", " << sizeof(Unit) << "-byte units at offset " << at;
  }
}

TEST(ScanTest, EveryPathGivesTheScalarMasks) {
  for (const ScanPath path : ScanPaths()) {
    ExpectSameAsScalar<char>(path);
    ExpectSameAsScalar<char16_t>(path);
  }
  UseScanPath(ScanPaths().back());
}

// The masks name the units they should, bit k for unit k.
TEST(ScanTest, ScalarMasks) {
  std::u16string block(kBlockUnits, u'x');
  block[0] = u' ';
  block[5] = u'(';
  block[31] = u')';
  block[32] = u'"';
  block[63] = u' ';
  block[7] = u'\uFF08';  // a fullwidth "(" is a word's unit
  ASSERT_TRUE(UseScanPath(ScanPath::kScalar));
  const BlockMasks masks = ClassifyBlock(block.data());
  UseScanPath(ScanPaths().back());
  EXPECT_EQ(masks.spaces, uint64_t{1} | uint64_t{1} << 63);
  EXPECT_EQ(masks.opens, uint64_t{1} << 5);
  EXPECT_EQ(masks.closes, uint64_t{1} << 31);
  EXPECT_EQ(masks.quotes, uint64_t{1} << 32);
}

// The scalar path is always there and the widest path is the one in use;
// a path the machine lacks is refused.
TEST(ScanTest, Paths) {
  ASSERT_FALSE(ScanPaths().empty());
  EXPECT_EQ(ScanPaths().front(), ScanPath::kScalar);
  EXPECT_EQ(CurrentScanPath(), ScanPaths().back());
#if defined(__x86_64__)
  EXPECT_EQ(ScanPaths()[1], ScanPath::kSse2);
  EXPECT_FALSE(UseScanPath(ScanPath::kWasmSimd128));
  EXPECT_EQ(CurrentScanPath(), ScanPaths().back());
#endif
}

}  // namespace
}  // namespace boolconv::fastpath
