// The ordered parallel map: outputs in input order however the work is
// spread, a stop that takes effect at once, and errors passed on.

#include "cli/ordered_map.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace boolconv::cli {
namespace {

// Each thread squares what it gets, sleeping longer for some inputs than
// others so that outputs finish out of order.
std::function<int(int&)> SlowSquare() {
  return [](int& n) {
    std::this_thread::sleep_for(std::chrono::microseconds((n * 7919) % 300));
    return n * n;
  };
}

TEST(OrderedParallelMap, KeepsInputOrder) {
  for (const unsigned threads : {1u, 2u, 5u}) {
    SCOPED_TRACE(threads);
    std::vector<int> outputs;
    OrderedParallelMap<int, int> map(threads, SlowSquare, [&outputs](int& output) {
      outputs.push_back(output);
      return true;
    });
    for (int i = 0; i < 500; ++i) ASSERT_TRUE(map.Add(i));
    EXPECT_TRUE(map.Drain());
    ASSERT_EQ(outputs.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(outputs[static_cast<size_t>(i)], i * i);
  }
}

// Once the consumer says stop, no later output reaches it, Add refuses more,
// and the workers let go of what they had not started.
TEST(OrderedParallelMap, StopsAtOnce) {
  std::atomic<int> worked = 0;
  std::vector<int> outputs;
  {
    OrderedParallelMap<int, int> map(
        3,
        [&worked] {
          return [&worked](int& n) {
            ++worked;
            return n;
          };
        },
        [&outputs](int& output) {
          outputs.push_back(output);
          return output < 10;
        });
    int added = 0;
    while (map.Add(added)) ++added;
    // Inputs after the last output consumed were taken only while in flight.
    EXPECT_GE(added, 10);
    EXPECT_LE(added, 10 + 3 + 1);
    EXPECT_FALSE(map.Drain());
  }
  EXPECT_EQ(outputs.size(), 11u);
  EXPECT_EQ(outputs.back(), 10);
  EXPECT_LE(worked.load(), 11 + 4);  // at most the inputs in flight when it stopped
}

// An exception thrown by the work comes out where its output would have.
TEST(OrderedParallelMap, PassesOnErrors) {
  OrderedParallelMap<int, int> map(
      2,
      [] {
        return [](int& n) -> int {
          if (n == 3) throw std::runtime_error("three");
          return n;
        };
      },
      [](int&) { return true; });
  EXPECT_THROW(
      {
        for (int i = 0; i < 10; ++i) map.Add(i);
        map.Drain();
      },
      std::runtime_error);
}

}  // namespace
}  // namespace boolconv::cli
