#include "conversion/scan.h"

#include <array>
#include <atomic>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define BOOLCONV_SCAN_X86 1
#include <immintrin.h>
#endif
#if defined(__wasm_simd128__)
#define BOOLCONV_SCAN_WASM 1
#include <wasm_simd128.h>
#endif

namespace boolconv::fastpath {
namespace {

// The plain path: one unit at a time. It is also what the vector paths are
// checked against.
template <typename Unit>
BlockMasks ClassifyScalar(const Unit* block) {
  BlockMasks masks;
  for (size_t k = 0; k < kBlockUnits; ++k) {
    const Unit unit = block[k];
    const uint64_t bit = uint64_t{1} << k;
    if (unit == Unit(' ')) masks.spaces |= bit;
    if (unit == Unit('(')) masks.opens |= bit;
    if (unit == Unit(')')) masks.closes |= bit;
    if (unit == Unit('"')) masks.quotes |= bit;
  }
  return masks;
}

#ifdef BOOLCONV_SCAN_X86
// UTF-16 units are narrowed to bytes with signed saturation before they are
// compared: every unit above U+007F becomes 0x7F or 0x80, neither of which
// is a unit looked for, and ASCII units stay as they are.

__attribute__((target("sse2"), always_inline)) inline BlockMasks Classify16Bytes(
    const __m128i* bytes) {
  const __m128i space = _mm_set1_epi8(' ');
  const __m128i open = _mm_set1_epi8('(');
  const __m128i close = _mm_set1_epi8(')');
  const __m128i quote = _mm_set1_epi8('"');
  BlockMasks masks;
  for (int part = 0; part < 4; ++part) {
    const __m128i v = bytes[part];
    const int shift = 16 * part;
    auto bits = [&](__m128i wanted) {
      return static_cast<uint64_t>(
                 static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted))))
             << shift;
    };
    masks.spaces |= bits(space);
    masks.opens |= bits(open);
    masks.closes |= bits(close);
    masks.quotes |= bits(quote);
  }
  return masks;
}

__attribute__((target("sse2"))) BlockMasks ClassifySse2(const char* block) {
  __m128i bytes[4];
  for (int part = 0; part < 4; ++part) {
    bytes[part] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
  }
  return Classify16Bytes(bytes);
}

__attribute__((target("sse2"))) BlockMasks ClassifySse2(const char16_t* block) {
  __m128i bytes[4];
  for (int part = 0; part < 4; ++part) {
    const auto* units = reinterpret_cast<const __m128i*>(block + 16 * part);
    bytes[part] = _mm_packs_epi16(_mm_loadu_si128(units), _mm_loadu_si128(units + 1));
  }
  return Classify16Bytes(bytes);
}

// Bit k set where byte k of the 64 bytes in `halves` is `wanted`.
__attribute__((target("avx2"), always_inline)) inline uint64_t EqualBits(const __m256i* halves,
                                                                         char wanted) {
  const __m256i w = _mm256_set1_epi8(wanted);
  const auto low = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(halves[0], w)));
  const auto high = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(halves[1], w)));
  return uint64_t{low} | uint64_t{high} << 32;
}

__attribute__((target("avx2"), always_inline)) inline BlockMasks Classify32Bytes(
    const __m256i* halves) {
  return {EqualBits(halves, ' '), EqualBits(halves, '('), EqualBits(halves, ')'),
          EqualBits(halves, '"')};
}

__attribute__((target("avx2"))) BlockMasks ClassifyAvx2(const char* block) {
  const auto* bytes = reinterpret_cast<const __m256i*>(block);
  const __m256i halves[2] = {_mm256_loadu_si256(bytes), _mm256_loadu_si256(bytes + 1)};
  return Classify32Bytes(halves);
}

__attribute__((target("avx2"))) BlockMasks ClassifyAvx2(const char16_t* block) {
  const auto* units = reinterpret_cast<const __m256i*>(block);
  // Packing works within each 128-bit half; the permutation puts the
  // quarters back in order.
  constexpr int kQuartersInOrder = 0b11011000;
  const __m256i halves[2] = {
      _mm256_permute4x64_epi64(
          _mm256_packs_epi16(_mm256_loadu_si256(units), _mm256_loadu_si256(units + 1)),
          kQuartersInOrder),
      _mm256_permute4x64_epi64(
          _mm256_packs_epi16(_mm256_loadu_si256(units + 2), _mm256_loadu_si256(units + 3)),
          kQuartersInOrder)};
  return Classify32Bytes(halves);
}
#endif

#ifdef BOOLCONV_SCAN_WASM
BlockMasks Classify16Bytes(const v128_t* bytes) {
  BlockMasks masks;
  for (int part = 0; part < 4; ++part) {
    const v128_t v = bytes[part];
    const int shift = 16 * part;
    auto bits = [&](char wanted) {
      return static_cast<uint64_t>(wasm_i8x16_bitmask(wasm_i8x16_eq(v, wasm_i8x16_splat(wanted))))
             << shift;
    };
    masks.spaces |= bits(' ');
    masks.opens |= bits('(');
    masks.closes |= bits(')');
    masks.quotes |= bits('"');
  }
  return masks;
}

BlockMasks ClassifyWasm(const char* block) {
  v128_t bytes[4];
  for (int part = 0; part < 4; ++part) bytes[part] = wasm_v128_load(block + 16 * part);
  return Classify16Bytes(bytes);
}

BlockMasks ClassifyWasm(const char16_t* block) {
  v128_t bytes[4];
  for (int part = 0; part < 4; ++part) {
    bytes[part] = wasm_i8x16_narrow_i16x8(wasm_v128_load(block + 16 * part),
                                          wasm_v128_load(block + 16 * part + 8));
  }
  return Classify16Bytes(bytes);
}
#endif

struct ScanFunctions {
  ScanPath path;
  BlockMasks (*bytes)(const char*);
  BlockMasks (*units)(const char16_t*);
};

constexpr ScanFunctions kScalar = {ScanPath::kScalar, ClassifyScalar<char>,
                                   ClassifyScalar<char16_t>};
#ifdef BOOLCONV_SCAN_X86
constexpr ScanFunctions kSse2 = {ScanPath::kSse2, ClassifySse2, ClassifySse2};
constexpr ScanFunctions kAvx2 = {ScanPath::kAvx2, ClassifyAvx2, ClassifyAvx2};
#endif
#ifdef BOOLCONV_SCAN_WASM
constexpr ScanFunctions kWasm = {ScanPath::kWasmSimd128, ClassifyWasm, ClassifyWasm};
#endif

// The paths, narrowest first, and how many of them this processor runs.
struct Available {
  std::array<const ScanFunctions*, 3> functions{};
  std::array<ScanPath, 3> paths{};
  size_t count = 0;
};

Available FindAvailable() {
  Available available;
  auto add = [&](const ScanFunctions& functions) {
    available.functions[available.count] = &functions;
    available.paths[available.count++] = functions.path;
  };
  add(kScalar);
#ifdef BOOLCONV_SCAN_X86
  __builtin_cpu_init();  // may run before the runtime's own initialization
  add(kSse2);            // part of every x86-64 processor
  if (__builtin_cpu_supports("avx2")) add(kAvx2);
#endif
#ifdef BOOLCONV_SCAN_WASM
  add(kWasm);
#endif
  return available;
}

const Available& AvailablePaths() {
  static const Available available = FindAvailable();
  return available;
}

std::atomic<const ScanFunctions*> current{nullptr};

const ScanFunctions& Current() {
  const ScanFunctions* functions = current.load(std::memory_order_relaxed);
  if (functions == nullptr) [[unlikely]] {
    const Available& available = AvailablePaths();
    functions = available.functions[available.count - 1];
    current.store(functions, std::memory_order_relaxed);
  }
  return *functions;
}

}  // namespace

BlockMasks ClassifyBlock(const char* block) { return Current().bytes(block); }
BlockMasks ClassifyBlock(const char16_t* block) { return Current().units(block); }

std::span<const ScanPath> ScanPaths() {
  const Available& available = AvailablePaths();
  return {available.paths.data(), available.count};
}

bool UseScanPath(ScanPath path) {
  const Available& available = AvailablePaths();
  for (size_t i = 0; i < available.count; ++i) {
    if (available.paths[i] != path) continue;
    current.store(available.functions[i]);
    return true;
  }
  return false;
}

ScanPath CurrentScanPath() { return Current().path; }

const char* ScanPathName(ScanPath path) {
  switch (path) {
    case ScanPath::kScalar:
      return "scalar";
    case ScanPath::kSse2:
      return "sse2";
    case ScanPath::kAvx2:
      return "avx2";
    case ScanPath::kWasmSimd128:
      return "wasm-simd128";
  }
  return "unknown";
}

}  // namespace boolconv::fastpath
