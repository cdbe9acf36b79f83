#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "core/interrupt.h"

namespace tulm {
namespace {

constexpr std::chrono::milliseconds kInterruptPollPeriod{5};

std::atomic<int> threadCountOverride{0};
std::atomic<int (*)()> hostThreadLimit{nullptr};
std::atomic<void (*)()> poolStartHook{nullptr};

// True while the pool runs a loop; workers run a loop's work only then. A loop reached then,
// from the loop's body (nesting) or from another host thread, runs at once on the thread that
// reached it, never waits for the pool and never asks the host for a limit. A flag rather
// than a thread_local: LeakSanitizer's exit scan crashes on the dynamic TLS of threads of a
// plug-in loaded at run time.
std::atomic<bool> loopRunning{false};

// TULM_NUM_THREADS as a count, 0 unless it is a positive integer written in decimal digits.
int environment_thread_count() {
  const char* text = std::getenv("TULM_NUM_THREADS");
  if (text == nullptr || *text == '\0') return 0;
  long count = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
    count = std::min<long>(count * 10 + (*c - '0'), kMaxThreadCount);
  }
  return static_cast<int>(count);
}

// A function and what it works on: what the calling thread and each worker taking part in a
// loop run.
struct Task {
  void (*run)(void* work) = nullptr;
  void* work = nullptr;
};

// Workers started once, on a calling thread, the first time a loop wants them (and more when
// a loop wants more), that sleep between loops. A loop offers one ticket per worker it wants,
// and a worker that wakes takes one and runs the loop's task. Once the calling thread has
// finished its own task it waits for the workers that took a ticket; a loop whose workers'
// task is worth nothing by then (parallel_for, whose pieces are all taken) takes back the
// tickets nobody took, so a worker that wakes late costs it nothing.
//
// Workers and the calling thread sleep on condition variables rather than spin: on this
// toolbox's 2-core test machine under load, waking a sleeping worker took 4-9 us (a new
// std::thread 40-80 us to start, 80-140 us with its join), and a worker spinning 50 us after
// its loop saved 3 us of that but often held the core the calling thread needed, so the
// loop took the whole 50 us; a spin that yields was worse still (bench/parallel).
//
// The object is never destroyed: each plug-in links its own copy of this file, whose code is
// unmapped when the host unloads the plug-in, so its workers must be joined before that, by
// stop(), which the gateway has the host call before unloading (mexAtExit). Joining from a
// static destructor would run under the Windows loader lock, where a thread cannot end, and
// destroying a joinable std::thread at exit would end the process: a pool that was never
// stopped (a test program, a benchmark) is left to the end of the process as it is.
class Pool {
 public:
  // Runs lead on the calling thread and offers workerTask to up to `helpers` workers; returns
  // once lead has returned and every worker that took the task is done with it, and, with
  // everyOffer, once every offer was taken. Neither task may throw. When the pool is busy with
  // another thread's loop, lead runs alone.
  void run(int helpers, Task lead, Task workerTask, bool everyOffer) {
    std::unique_lock<std::mutex> call(callMutex_, std::defer_lock);
    if (loopRunning.load() || !call.try_lock()) {
      lead.run(lead.work);
      return;
    }
    const int offered = start_workers(helpers);
    loopRunning.store(true);
    if (offered > 0) offer(offered, workerTask);
    lead.run(lead.work);
    if (offered > 0) wait_for_workers(everyOffer);
    loopRunning.store(false);
  }

  // Joins every worker; the next loop that wants some starts them again.
  void stop() {
    const std::lock_guard<std::mutex> call(callMutex_);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_.store(true, std::memory_order_relaxed);
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    std::vector<std::thread>().swap(workers_);
    stopping_.store(false, std::memory_order_relaxed);
  }

 private:
  // The offer state packs the loop's generation (high half) with its tickets left (low half),
  // so that a worker takes a ticket of the loop it saw, never one of a later loop.
  static uint32_t generation(uint64_t state) { return static_cast<uint32_t>(state >> 32); }
  static uint32_t tickets(uint64_t state) { return static_cast<uint32_t>(state); }
  static constexpr uint64_t kGenerationMask = ~uint64_t{0xffffffff};

  // Starts workers until there are `wanted`, as far as the system gives threads; returns how
  // many the loop may offer its task to.
  int start_workers(int wanted) {
    if (wanted > static_cast<int>(workers_.size())) {
      if (workers_.empty()) {
        void (*hook)() = poolStartHook.load();
        if (hook != nullptr) hook();
      }
      try {
        workers_.reserve(wanted);
        const uint32_t seen = generation(offer_.load(std::memory_order_relaxed));
        while (static_cast<int>(workers_.size()) < wanted)
          workers_.emplace_back(&Pool::work, this, seen);
      } catch (const std::exception&) {
        // no more threads or memory to be had: the workers there are share the loop
      }
    }
    return std::min(wanted, static_cast<int>(workers_.size()));
  }

  void offer(int count, Task task) {
    task_ = task;
    pending_.store(count, std::memory_order_relaxed);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      const uint64_t next =
          (offer_.load(std::memory_order_relaxed) & kGenerationMask) + (uint64_t{1} << 32);
      offer_.store(next | static_cast<uint32_t>(count), std::memory_order_release);
    }
    wake_.notify_all();
  }

  void wait_for_workers(bool everyOffer) {
    if (!everyOffer) {
      const int untaken =
          static_cast<int>(tickets(offer_.fetch_and(kGenerationMask, std::memory_order_acq_rel)));
      if (pending_.fetch_sub(untaken, std::memory_order_acq_rel) == untaken) return;
    }
    const auto done = [this] { return pending_.load(std::memory_order_acquire) == 0; };
    if (done()) return;
    // The calling thread alone may ask the host whether the user pressed Ctrl-C: while the
    // workers finish their pieces it asks every few milliseconds, so that their polls see
    // the stop flag.
    std::unique_lock<std::mutex> lock(mutex_);
    while (!finished_.wait_for(lock, kInterruptPollPeriod, done)) {
      if (interrupt_requested()) {
        finished_.wait(lock, done);
        return;
      }
    }
  }

  void work(uint32_t seen) {
    for (;;) {
      const auto offered = [&] {
        return generation(offer_.load(std::memory_order_acquire)) != seen ||
               stopping_.load(std::memory_order_relaxed);
      };
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, offered);
      }
      if (stopping_.load(std::memory_order_relaxed)) return;
      uint64_t state = offer_.load(std::memory_order_acquire);
      seen = generation(state);
      bool taken = false;
      while (!taken && tickets(state) > 0 && generation(state) == seen) {
        taken = offer_.compare_exchange_weak(state, state - 1, std::memory_order_acq_rel,
                                             std::memory_order_acquire);
      }
      if (!taken) continue;
      task_.run(task_.work);
      if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        const std::lock_guard<std::mutex> lock(mutex_);
        finished_.notify_one();
      }
    }
  }

  std::mutex callMutex_;  // held by the calling thread of the loop running, and by stop()
  std::vector<std::thread> workers_;
  Task task_;                       // the running loop's worker task
  std::atomic<uint64_t> offer_{0};  // generation and tickets left
  std::atomic<int> pending_{0};  // tickets taken and not yet done, and tickets not yet taken back
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;  // the sleeping side of offer_, pending_ and stopping_
  std::condition_variable wake_;
  std::condition_variable finished_;
};

// In static storage and never destroyed (see Pool): no destructor runs at exit, and nothing of
// it is left on the heap, where LeakSanitizer would count it lost once the plug-in is unloaded.
Pool& pool() {
  alignas(Pool) static unsigned char storage[sizeof(Pool)];
  static Pool* const thePool = new (storage) Pool;
  return *thePool;
}

// What the calling thread and its workers share while they run one parallel_for.
class Pieces {
 public:
  Pieces(int32_t n, int threads, int32_t largestPiece, detail::RangeBody run, void* body)
      : n_(n),
        // About eight pieces per thread: late or slow threads take fewer.
        size_(std::max<int32_t>(
            1, static_cast<int32_t>(std::min<int64_t>(
                   largestPiece, (int64_t{n} + 8 * threads - 1) / (int64_t{8} * threads))))),
        count_(static_cast<int32_t>((int64_t{n} + size_ - 1) / size_)),
        run_(run),
        body_(body) {}

  // Takes pieces in increasing order until none is left or one has thrown.
  void take() {
    while (!failed_.load(std::memory_order_relaxed)) {
      const int32_t piece = next_.fetch_add(1, std::memory_order_relaxed);
      if (piece >= count_) return;
      const int32_t begin = piece * size_;
      const int32_t end = static_cast<int32_t>(std::min<int64_t>(n_, int64_t{begin} + size_));
      try {
        poll_interrupt();
        run_(body_, begin, end);
      } catch (...) {
        keep(piece, std::current_exception());
      }
    }
  }

  static void take_task(void* pieces) { static_cast<Pieces*>(pieces)->take(); }

  // The exception of the lowest piece that threw, null if none did.
  std::exception_ptr first_error() const { return error_; }

 private:
  void keep(int32_t piece, std::exception_ptr error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (piece < errorPiece_) {
      errorPiece_ = piece;
      error_ = error;
    }
    failed_.store(true, std::memory_order_relaxed);
  }

  const int32_t n_;
  const int32_t size_;
  const int32_t count_;
  const detail::RangeBody run_;
  void* const body_;
  std::atomic<int32_t> next_{0};
  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  int32_t errorPiece_ = INT32_MAX;
  std::exception_ptr error_;
};

// What run_beside's lead and helpers share.
struct Beside {
  Beside(detail::LeadBody runLead, void* lead, detail::HelpBody runHelp, void* help)
      : runLead(runLead), lead(lead), runHelp(runHelp), help(help) {}

  const detail::LeadBody runLead;
  void* const lead;
  const detail::HelpBody runHelp;
  void* const help;
  std::atomic<bool> leadEnded{false};
  std::exception_ptr leadError;

  static void lead_task(void* beside) {
    Beside& b = *static_cast<Beside*>(beside);
    try {
      b.runLead(b.lead);
    } catch (...) {
      b.leadError = std::current_exception();
    }
    b.leadEnded.store(true, std::memory_order_release);
  }

  // help must not throw; should it all the same, the call goes on without that helper.
  static void help_task(void* beside) {
    Beside& b = *static_cast<Beside*>(beside);
    try {
      b.runHelp(b.help, b.leadEnded);
    } catch (...) {
    }
  }
};

}  // namespace

int thread_count() {
  if (loopRunning.load()) return 1;
  int count = threadCountOverride.load();
  if (count <= 0) count = environment_thread_count();
  if (count <= 0) {
    int (*limit)() = hostThreadLimit.load();
    if (limit != nullptr) count = std::min(limit(), kMaxThreadCount);
  }
  if (count <= 0)
    count = static_cast<int>(
        std::min(std::thread::hardware_concurrency(), static_cast<unsigned>(kMaxThreadCount)));
  return std::max(count, 1);
}

void set_thread_count(int count) { threadCountOverride.store(std::max(count, 0)); }

void set_host_thread_limit(int (*limit)()) { hostThreadLimit.store(limit); }

void set_pool_start_hook(void (*hook)()) { poolStartHook.store(hook); }

void stop_pool() {
  if (!loopRunning.load()) pool().stop();
}

int threads_for(int32_t n, int32_t grain) {
  const int32_t chunks = n / std::max<int32_t>(grain, 1);
  if (chunks < 2) return 1;
  return std::min(thread_count(), chunks);
}

namespace detail {

void run_in_pieces(int32_t n, int threads, int32_t largestPiece, RangeBody run, void* body) {
  // Asked here, the host hears the loop ask at least once, however fast the workers take its
  // pieces.
  poll_interrupt();
  Pieces pieces(n, threads, largestPiece, run, body);
  const Task task{&Pieces::take_task, &pieces};
  pool().run(threads - 1, task, task, false);
  if (pieces.first_error()) std::rethrow_exception(pieces.first_error());
}

void run_beside(int helpers, LeadBody runLead, void* lead, HelpBody runHelp, void* help) {
  Beside beside(runLead, lead, runHelp, help);
  pool().run(helpers, Task{&Beside::lead_task, &beside}, Task{&Beside::help_task, &beside}, true);
  if (beside.leadError) std::rethrow_exception(beside.leadError);
}

}  // namespace detail
}  // namespace tulm
