// The pool of workers behind parallel_for and run_beside: kept between loops, grown and
// stopped, clean after a loop that threw, safe when a loop is reached from inside another or
// from two threads at once, and joined before a plug-in is unloaded.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/parallel.h"
#include "environment.h"
#include "harness.h"
#include "icosphere.h"

#if defined(__linux__)
#include <dirent.h>
#endif

namespace {

class Pool : public testing::Test {
 protected:
  void SetUp() override { tulm::stop_pool(); }
  void TearDown() override {
    tulm::set_thread_count(0);
    tulm::set_pool_start_hook(nullptr);
    ASSERT_EQ(tulm_test::set_environment("TULM_NUM_THREADS", ""), 0);
  }
};

// The threads of this process, or -1 where the system does not say.
int process_threads() {
#if defined(__linux__)
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
  closedir(tasks);
  return count;
#else
  return -1;
#endif
}

// process_threads once it reads the same three times in a row, 1 ms apart: a thread that has
// been joined can stay listed for a moment while the system finishes it, which a loaded machine
// (or an emulator's own threads) makes long enough to see.
int settled_process_threads() {
  int last = process_threads();
  for (int same = 1, tries = 0; same < 3 && tries < 1000; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int now = process_threads();
    same = now == last ? same + 1 : 1;
    last = now;
  }
  return last;
}

// The sum of 0..n-1 through parallel_for, each range adding its own part.
int64_t parallel_sum(int32_t n) {
  std::atomic<int64_t> sum{0};
  tulm::parallel_for(n, 100, [&](int32_t begin, int32_t end) {
    int64_t part = 0;
    for (int32_t i = begin; i < end; ++i) part += i;
    sum += part;
  });
  return sum.load();
}

int64_t expected_sum(int32_t n) { return int64_t{n} * (n - 1) / 2; }

std::atomic<int> poolStarts{0};
void count_pool_start() { ++poolStarts; }

TEST_F(Pool, WorkersStayBetweenLoopsGrowOnDemandAndStopJoinsThem) {
  poolStarts = 0;
  tulm::set_pool_start_hook(count_pool_start);
  const int before = settled_process_threads();
  // Each count in turn, many loops in a row: the pool holds the most workers asked for.
  const int counts[] = {2, 3, 1, 7, 2};
  int most = 1;
  for (int round = 0; round < 200; ++round) {
    const int threads = counts[round % 5];
    most = std::max(most, threads);
    tulm::set_thread_count(threads);
    const int32_t n = 1000 + round;
    ASSERT_EQ(parallel_sum(n), expected_sum(n)) << "round " << round << ", " << threads;
    if (before >= 0) {
      ASSERT_EQ(process_threads(), before + most - 1) << "round " << round;
    }
  }
  EXPECT_EQ(poolStarts, 1) << "the hook runs when the first worker starts";

  tulm::stop_pool();
  if (before >= 0) {
    EXPECT_EQ(settled_process_threads(), before) << "stop_pool joins every worker";
  }
  tulm::stop_pool();  // a stopped pool stops again

  tulm::set_thread_count(3);
  EXPECT_EQ(parallel_sum(5000), expected_sum(5000)) << "a stopped pool starts again";
  EXPECT_EQ(poolStarts, 2) << "and runs the hook again";
  if (before >= 0) {
    EXPECT_EQ(process_threads(), before + 2);
  }
}

// A body that throws on the workers only, its first piece on the calling thread waiting until
// a worker has begun one, so that a worker's exception ends every other loop.
TEST_F(Pool, ALoopAfterOneWhoseWorkerThrewRunsWhole) {
  for (int threads : {2, 7}) {
    tulm::set_thread_count(threads);
    for (int round = 0; round < 20; ++round) {
      const std::thread::id caller = std::this_thread::get_id();
      std::atomic<bool> workerBegun{false};
      try {
        tulm::parallel_for(1000, 10, [&](int32_t begin, int32_t) {
          if (std::this_thread::get_id() != caller) {
            workerBegun = true;
            throw std::runtime_error("worker");
          }
          const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
          while (begin == 0 && !workerBegun && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
          }
        });
        ADD_FAILURE() << "no worker's exception at " << threads << " threads";
      } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "worker");
      }
      EXPECT_EQ(parallel_sum(100000), expected_sum(100000)) << threads << " threads";
    }
  }
}

// A loop reached from a body or a helper runs whole on the thread that reached it, whatever
// the thread count says; stop_pool there does nothing.
TEST_F(Pool, ALoopInsideALoopRunsOnTheThreadThatReachedIt) {
  tulm::set_thread_count(7);
  std::atomic<int> outerRanges{0}, failures{0};
  const auto inner_loops = [&] {
    const std::thread::id here = std::this_thread::get_id();
    if (tulm::thread_count() != 1 || tulm::threads_for(100000, 10) != 1) ++failures;
    int32_t next = 0;  // in order, as one thread takes the pieces
    std::vector<int> visits(5000);
    tulm::parallel_for(5000, 10, [&](int32_t begin, int32_t end) {
      if (std::this_thread::get_id() != here || begin != next) ++failures;
      next = end;
      for (int32_t i = begin; i < end; ++i) ++visits[i];
    });
    if (next != 5000) ++failures;
    for (int v : visits) failures += v != 1;
    bool led = false;
    tulm::run_beside(
        7, [&] { led = std::this_thread::get_id() == here; },
        [&](const std::atomic<bool>&) { ++failures; });
    if (!led) ++failures;
    tulm::stop_pool();
  };
  tulm::parallel_for(7000, 100, [&](int32_t, int32_t) {
    ++outerRanges;
    inner_loops();
  });
  EXPECT_GT(outerRanges, 1);
  std::atomic<int> helpers{0};
  tulm::run_beside(7, inner_loops, [&](const std::atomic<bool>& leadEnded) {
    ++helpers;
    inner_loops();
    while (!leadEnded) std::this_thread::yield();
  });
  EXPECT_EQ(helpers, 6);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(parallel_sum(100000), expected_sum(100000)) << "the pool works on afterwards";
}

// Not a host's way of calling, but no loop may be lost or corrupted by it.
TEST_F(Pool, TwoThreadsCallingAtOnceEachGetTheirWholeLoop) {
  tulm::set_thread_count(3);
  std::atomic<int> wrong{0};
  const auto calls = [&](int32_t n) {
    for (int round = 0; round < 300; ++round)
      wrong += parallel_sum(n + round) != expected_sum(n + round);
  };
  std::thread other(calls, 20000);
  calls(30000);
  other.join();
  EXPECT_EQ(wrong, 0);
}

// `clear NAME` of a plug-in whose workers run: the host calls what the plug-in gave mexAtExit,
// which joins them before the plug-in is unloaded; the next call loads it and starts them
// again. An unloaded plug-in whose workers ran on would crash the process.
TEST_F(Pool, ClearingAPluginJoinsItsWorkersAndItWorksAgain) {
  const tulm_test::Mesh mesh = tulm_test::icosphere(7);
  const std::vector<mexhost::Array> inputs = {
      mexhost::int32_scalar(mesh.numFaces),
      mexhost::int32_array({3, size_t(mesh.numFaces)}, mesh.faces),
      mexhost::single_array({3, size_t(mesh.numVerts)}, mesh.vertices)};
  const char* plugin = "TULM_computeMeshFaceAreas";
  ASSERT_EQ(tulm_test::set_environment("TULM_NUM_THREADS", "1"), 0);
  const auto single = mexhost::call(plugin, 1, inputs);
  ASSERT_FALSE(single.failed) << single.error;
  const std::vector<float> areas = single.outputs[0].values<float>();
  mexhost::clear_plugin(plugin);

  ASSERT_EQ(tulm_test::set_environment("TULM_NUM_THREADS", "3"), 0);
  for (int round = 0; round < 3; ++round) {
    const int before = settled_process_threads();
    for (int call = 0; call < 3; ++call) {
      const auto result = mexhost::call(plugin, 1, inputs);
      ASSERT_FALSE(result.failed) << result.error;
      EXPECT_EQ(result.outputs[0].values<float>(), areas) << "round " << round;
    }
    if (before >= 0) {
      EXPECT_EQ(process_threads(), before + 2) << "round " << round;
    }
    mexhost::clear_plugin(plugin);
    if (before >= 0) {
      EXPECT_EQ(settled_process_threads(), before) << "round " << round;
    }
  }
}

}  // namespace
