#include "core/parallel.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tulm {
namespace {

std::atomic<int> threadCountOverride{0};
std::atomic<int (*)()> hostThreadLimit{nullptr};

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

// What the calling thread and its workers share while they run one parallel_for.
class Pieces {
 public:
  Pieces(int32_t n, int threads, detail::RangeBody run, void* body)
      : n_(n),
        // About eight pieces per thread: late or slow threads take fewer.
        size_(std::max<int32_t>(
            1, static_cast<int32_t>((int64_t{n} + 8 * threads - 1) / (int64_t{8} * threads)))),
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
        run_(body_, begin, end);
      } catch (...) {
        keep(piece, std::current_exception());
      }
    }
  }

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

}  // namespace

int thread_count() {
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

int threads_for(int32_t n, int32_t grain) {
  const int32_t chunks = n / std::max<int32_t>(grain, 1);
  if (chunks < 2) return 1;
  return std::min(thread_count(), chunks);
}

namespace detail {

void run_in_pieces(int32_t n, int threads, RangeBody run, void* body) {
  Pieces pieces(n, threads, run, body);
  std::vector<std::thread> workers;
  workers.reserve(threads - 1);
  for (int t = 1; t < threads; ++t) {
    try {
      workers.emplace_back(&Pieces::take, &pieces);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the ones running take the remaining pieces
    }
  }
  pieces.take();
  for (std::thread& worker : workers) worker.join();
  if (pieces.first_error()) std::rethrow_exception(pieces.first_error());
}

void run_beside(int helpers, LeadBody runLead, void* lead, HelpBody runHelp, void* help) {
  std::atomic<bool> leadEnded{false};
  std::vector<std::thread> workers;
  workers.reserve(helpers > 0 ? helpers : 0);
  for (int t = 0; t < helpers; ++t) {
    try {
      workers.emplace_back(runHelp, help, std::cref(leadEnded));
    } catch (const std::system_error&) {
      break;  // lead does the work alone
    }
  }
  std::exception_ptr error;
  try {
    runLead(lead);
  } catch (...) {
    error = std::current_exception();
  }
  leadEnded.store(true, std::memory_order_release);
  for (std::thread& worker : workers) worker.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace detail
}  // namespace tulm
