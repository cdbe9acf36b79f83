// The threading helper: the thread count, the ranges of parallel_for and run_beside, and the
// exception that ends a loop. parallel_mesh_test runs every threaded routine at several counts.
#include "core/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "environment.h"

using tulm_test::set_environment;

namespace {

// Leaves the thread settings as every other test expects them.
class Threads : public testing::Test {
 protected:
  void TearDown() override {
    tulm::set_thread_count(0);
    tulm::set_host_thread_limit(nullptr);
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", ""), 0);
  }
};

int processor_count() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

int five() { return 5; }

TEST_F(Threads, CountFollowsTheOverrideThenTheEnvironmentThenTheHost) {
  struct Case {
    const char* environment;
    int (*host)();
    int expected;
  };
  const Case cases[] = {
      {"", nullptr, processor_count()},
      {"", five, 5},
      {"3", five, 3},
      {"1", nullptr, 1},
      {"1000", nullptr, tulm::kMaxThreadCount},
      // Anything but a positive integer is not a count.
      {"0", five, 5},
      {"-2", five, 5},
      {"4x", five, 5},
      {" 4", five, 5},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(set_environment("TULM_NUM_THREADS", c.environment), 0);
    tulm::set_host_thread_limit(c.host);
    EXPECT_EQ(tulm::thread_count(), c.expected) << "TULM_NUM_THREADS=\"" << c.environment << '"';
  }
  tulm::set_thread_count(2);
  EXPECT_EQ(tulm::thread_count(), 2) << "the override wins over the environment";
}

TEST_F(Threads, ParallelForCoversEveryElementOnceInContiguousRanges) {
  for (int threads : {1, 2, 7}) {
    tulm::set_thread_count(threads);
    for (int32_t n : {0, 1, 99, 100, 101, 12345}) {
      std::vector<std::atomic<int>> visits(n);
      std::atomic<int> ranges{0};
      tulm::parallel_for(n, 50, [&](int32_t begin, int32_t end) {
        ASSERT_LT(begin, end);
        ASSERT_LE(end - begin, 50 * tulm::kGrainsPerPoll) << "a range longer than a poll allows";
        for (int32_t i = begin; i < end; ++i) visits[i]++;
        ranges++;
      });
      for (int32_t i = 0; i < n; ++i) ASSERT_EQ(visits[i], 1) << i << " of " << n;
      if (n < 100) {
        EXPECT_EQ(ranges, n > 0 ? 1 : 0) << "one range below two grains";
      }
      if (threads == 1) {
        EXPECT_EQ(ranges, (n + 50 * tulm::kGrainsPerPoll - 1) / (50 * tulm::kGrainsPerPoll))
            << "on one thread, the fewest ranges that a poll allows";
      }
    }
  }
}

TEST_F(Threads, TheExceptionOfTheLowestFailingRangeEndsTheLoop) {
  for (int threads : {1, 2, 7}) {
    tulm::set_thread_count(threads);
    try {
      tulm::parallel_for(100000, 1000, [](int32_t begin, int32_t end) {
        for (int32_t i = begin; i < end; ++i) {
          if (i == 61234 || i == 99999) throw std::runtime_error(std::to_string(i));
        }
      });
      ADD_FAILURE() << "nothing thrown at " << threads << " threads";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "61234") << threads << " threads";
    }
  }
}

TEST_F(Threads, RunBesideLeadsOnTheCallingThreadAndRethrowsOnceTheHelpersHaveEnded) {
  for (int threads : {1, 2, 7}) {
    std::atomic<int> helping{0}, helped{0};
    std::thread::id leadThread;
    const auto help = [&](const std::atomic<bool>& leadEnded) {
      ++helping;
      while (!leadEnded.load()) std::this_thread::yield();
      ++helped;
    };
    tulm::run_beside(
        threads, [&] { leadThread = std::this_thread::get_id(); }, help);
    EXPECT_EQ(leadThread, std::this_thread::get_id());
    EXPECT_EQ(helped.load(), threads - 1) << "every helper ended before the call returned";
    try {
      tulm::run_beside(
          threads,
          [&] {
            while (helping.load() < 2 * (threads - 1)) std::this_thread::yield();
            throw std::runtime_error("lead");
          },
          help);
      ADD_FAILURE() << "nothing thrown at " << threads << " threads";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "lead");
      EXPECT_EQ(helped.load(), 2 * (threads - 1)) << threads << " threads";
    }
  }
}

}  // namespace
