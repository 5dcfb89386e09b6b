// The huge-page operator new that boolconv-cli links: sizes it cannot serve
// fail with std::bad_alloc (or nullptr from the nothrow forms), and the
// blocks it does serve are whole and usable.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr size_t kMost = std::numeric_limits<size_t>::max();
constexpr size_t kHugePage = size_t{2} << 20;

// Sizes whose rounding up to whole huge pages would overflow, and sizes no
// machine has.
const size_t kImpossibleSizes[] = {kMost, kMost - 1, kMost - kHugePage + 2, kMost / 2 + 1,
                                   kMost / 4 * 3};

TEST(HugePages, ImpossibleSizesThrow) {
  for (const size_t size : kImpossibleSizes) {
    SCOPED_TRACE(size);
    EXPECT_THROW(::operator delete(::operator new(size)), std::bad_alloc);
    EXPECT_THROW(::operator delete[](::operator new[](size)), std::bad_alloc);
    EXPECT_EQ(::operator new(size, std::nothrow), nullptr);
    EXPECT_EQ(::operator new[](size, std::nothrow), nullptr);
  }
}

// An array whose byte count wraps (new int[SIZE_MAX / 4 + 2]) is refused by
// the compiler's own check or by the allocator, never given a small block.
TEST(HugePages, OversizedArrayThrows) {
  volatile size_t count = kMost / sizeof(int) + 2;
  EXPECT_THROW(delete[] new int[count], std::bad_alloc);
}

// Blocks on either side of the huge-page threshold can be written to the end.
TEST(HugePages, BlocksAreWhole) {
  for (const size_t size :
       {size_t{0}, size_t{1}, kHugePage - 1, kHugePage, kHugePage + 1, 3 * kHugePage + 12345}) {
    SCOPED_TRACE(size);
    auto* block = static_cast<unsigned char*>(::operator new(size));
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xA5, size);
    if (size >= kHugePage) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kHugePage, 0u);
    }
    ::operator delete(block);
  }
}

}  // namespace
