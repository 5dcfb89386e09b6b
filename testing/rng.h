// A small deterministic random number generator for generated test and
// benchmark inputs: SplitMix64, tiny, fast and the same on every platform and
// standard library (std:: distributions are not), so generated inputs never
// change.

#ifndef BOOLCONV_TESTING_RNG_H_
#define BOOLCONV_TESTING_RNG_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace boolconv::testing {

class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}

  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
  }

  // A number in [0, bound).
  size_t Below(size_t bound) { return static_cast<size_t>(Next() % bound); }

  template <typename T, size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Below(N)];
  }

 private:
  uint64_t state_;
};

}  // namespace boolconv::testing

#endif  // BOOLCONV_TESTING_RNG_H_
