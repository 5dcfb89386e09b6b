// boolconv-cli's allocation: blocks of 2 MB and more (the buffers of a long
// line, and of its normalized text and its two forms) are aligned to and
// advised onto transparent huge pages. A 100 MB line touches some 400 MB of
// fresh memory; in 2 MB pages that is a few hundred page faults and TLB
// entries instead of a hundred thousand, which halves its conversion time.
// Smaller blocks come from malloc as usual. Every form of operator new and
// delete (but the over-aligned ones, which keep theirs) is replaced, so that
// each block is released by the free that matches its allocation.

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;
// The largest size that rounds up to whole huge pages without overflowing.
constexpr std::size_t kLargestRoundable =
    std::numeric_limits<std::size_t>::max() / kHugePageBytes * kHugePageBytes;

}  // namespace

void* operator new(std::size_t size) {
  void* block = nullptr;
  if (size >= kHugePageBytes) {
    // Rounding a size this close to the largest one would wrap around to a
    // small block; no such block could be had anyway.
    if (size > kLargestRoundable) throw std::bad_alloc();
    const std::size_t rounded = (size + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    block = std::aligned_alloc(kHugePageBytes, rounded);
    // Only advice: without huge pages the block is ordinary memory.
    if (block != nullptr) madvise(block, rounded, MADV_HUGEPAGE);
  } else {
    block = std::malloc(size == 0 ? 1 : size);
  }
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* operator new[](std::size_t size) { return ::operator new(size); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return ::operator new(size, std::nothrow);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
