// Internal to the engine: finds the units that steer a conversion (space,
// double quote, parentheses) 64 at a time with the widest vector
// instructions the processor runs. Not installed.
//
// Each path gives the same masks; which one runs is chosen once, at start-up
// (x86-64: AVX2 where the processor has it, else SSE2; WebAssembly built
// with SIMD: its 128-bit vectors; elsewhere plain code). Tests and the
// fuzzers run every path the machine has through ScanPaths and UseScanPath.

#ifndef BOOLCONV_CONVERSION_SCAN_H_
#define BOOLCONV_CONVERSION_SCAN_H_

#include <cstddef>
#include <cstdint>
#include <span>

namespace boolconv::fastpath {

// Units classified at once.
inline constexpr size_t kBlockUnits = 64;

// Bit k of each mask is set when unit k of a block is that unit.
struct BlockMasks {
  uint64_t spaces = 0;
  uint64_t opens = 0;   // "("
  uint64_t closes = 0;  // ")"
  uint64_t quotes = 0;  // '"'

  bool operator==(const BlockMasks&) const = default;
};

// Classifies the kBlockUnits units from `block`, all of which must be
// readable. Non-ASCII units are never any of the four.
BlockMasks ClassifyBlock(const char* block);
BlockMasks ClassifyBlock(const char16_t* block);

enum class ScanPath { kScalar, kSse2, kAvx2, kWasmSimd128 };

// The paths this build and processor can run, narrowest first; the last is
// the one chosen at start-up.
std::span<const ScanPath> ScanPaths();
// For tests and fuzzers only: makes `path` the one every conversion uses from
// now on; false (and nothing changed) when it is not one of ScanPaths(). Not
// to be called while another thread converts.
bool UseScanPath(ScanPath path);
ScanPath CurrentScanPath();
const char* ScanPathName(ScanPath path);

}  // namespace boolconv::fastpath

#endif  // BOOLCONV_CONVERSION_SCAN_H_
