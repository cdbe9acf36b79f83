// How soon a second thread starts work: a new std::thread (what each loop paid before the
// pool) against a worker of the pool, woken from sleep or caught while it still spins after
// the last loop. Each round times one loop of two pieces, whose first piece waits on the
// calling thread until another thread has begun the second: the start is the time from the
// call to that beginning, the loop the time to the return. Settings alternate round by round.
//
// bench_pool_wake [ROUNDS]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bench_timing.h"
#include "core/parallel.h"

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

struct Times {
  std::vector<double> start, loop;
};

void new_thread(Times& times) {
  Clock::time_point begun;
  const Clock::time_point call = Clock::now();
  std::thread thread([&] { begun = Clock::now(); });
  thread.join();
  const Clock::time_point end = Clock::now();
  times.start.push_back(microseconds(call, begun));
  times.loop.push_back(microseconds(call, end));
}

void pool_loop(Times& times) {
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> second{false};
  Clock::time_point begun{};
  const Clock::time_point call = Clock::now();
  tulm::parallel_for(2, 1, [&](int32_t, int32_t) {
    if (std::this_thread::get_id() != caller) {
      begun = Clock::now();
      second.store(true, std::memory_order_release);
      return;
    }
    const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(50);
    while (!second.load(std::memory_order_acquire) && Clock::now() < giveUp) {
    }
  });
  const Clock::time_point end = Clock::now();
  // A worker that never came: the calling thread took both pieces.
  times.start.push_back(second.load() ? microseconds(call, begun) : 50000.0);
  times.loop.push_back(microseconds(call, end));
}

void idle(std::chrono::microseconds gap) {
  if (gap.count() == 0) return;
  const Clock::time_point end = Clock::now() + gap;
  if (gap >= std::chrono::microseconds(1000)) {
    std::this_thread::sleep_for(gap);
  } else {
    while (Clock::now() < end) {
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
  tulm::set_thread_count(2);
  pool_loop(*new Times);  // the worker started
  struct Setting {
    std::string name;
    std::chrono::microseconds gap;  // idle before the call, after the last one
    bool pool;
  };
  const Setting settings[] = {
      {"new std::thread", std::chrono::microseconds(2000), false},
      {"pool, right after a loop", std::chrono::microseconds(0), true},
      {"pool, 20 us after", std::chrono::microseconds(20), true},
      {"pool, 100 us after", std::chrono::microseconds(100), true},
      {"pool, 2 ms after (asleep)", std::chrono::microseconds(2000), true},
  };
  std::vector<Times> times(std::size(settings));
  for (int r = 0; r < rounds; ++r) {
    for (size_t s = 0; s < std::size(settings); ++s) {
      idle(settings[s].gap);
      if (settings[s].pool)
        pool_loop(times[s]);
      else
        new_thread(times[s]);
    }
  }
  std::printf("%-28s %12s %12s %12s   (us, %d rounds)\n", "second thread", "start med", "start p90",
              "loop med", rounds);
  for (size_t s = 0; s < std::size(settings); ++s) {
    std::vector<double> start = times[s].start;
    std::sort(start.begin(), start.end());
    std::printf("%-28s %12.1f %12.1f %12.1f\n", settings[s].name.c_str(),
                tulm_bench::median(times[s].start), start[start.size() * 9 / 10],
                tulm_bench::median(times[s].loop));
  }
  return 0;
}
